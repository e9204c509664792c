// `ravelon record` against MJPEG servers people run, started here on
// loopback: FFmpeg's HTTP server, which refuses the bare request line and
// sends a chunked octet-stream, and GStreamer's tcpserversink, which sends
// multipart parts with no HTTP head at all. Sources are added with the
// request style and boundary discovery those servers need; the stores are
// read back through the public reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/media_frame.h"
#include "store/jpeg_codec.h"
#include "store/rgb_image.h"
#include "tests/command_process.h"
#include "tests/peer_server.h"
#include "tests/store_recording.h"
#include "support/temp_folder.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;
using testing::PeerServer;
using testing::RunCommand;

constexpr int kFiles = 30;  // three seconds at 10 fps

class PeerE2eTest : public ::testing::Test {
 protected:
  // Adds the source, records it for `seconds` and returns its stored JPEGs.
  std::vector<std::string> Record(const std::string& name, int port, const std::string& url,
                                  int seconds) {
    const auto added = RunCommand(
        {"config", "add-source", name, "--registry", Registry(), "--address", "127.0.0.1", "--port",
         std::to_string(port), "--url", url, "--store", folder_.Path(name), "--save",
         "--save-interval", "10", "--request-style", "1", "--find-boundary"});
    EXPECT_EQ(added.status, 0) << added.err;
    const auto recorded = RunCommand({"record", name, "--registry", Registry(), "--for",
                                      std::to_string(seconds), "--status", "lines"},
                                     std::chrono::seconds(seconds + 30));
    EXPECT_EQ(recorded.status, 0) << recorded.out << recorded.err;
    std::vector<std::string> jpegs;
    for (const StoredFrame& frame : testing::ReadAllFrames(*files_, folder_.Path(name) + "/")) {
      EXPECT_EQ(frame.data_type, kJpeg);
      jpegs.push_back(frame.data);
    }
    if (jpegs.empty()) ADD_FAILURE() << "nothing recorded:\n" << recorded.out << recorded.err;
    return jpegs;
  }

  std::string Registry() const { return folder_.Path("registry.db"); }

  // True when every JPEG is byte for byte one of `files`, in their order
  // (a looping server starts again from the first).
  static bool AllSentInOrder(const std::vector<std::string>& jpegs,
                             const std::vector<std::string>& files) {
    size_t previous = files.size();
    for (const std::string& jpeg : jpegs) {
      const auto found = std::find(files.begin(), files.end(), jpeg);
      if (found == files.end()) return false;
      const size_t at = static_cast<size_t>(found - files.begin());
      if (previous != files.size() && at != (previous + 1) % files.size()) return false;
      previous = at;
    }
    return true;
  }

  ravelon::testing::TempFolder folder_;
  std::unique_ptr<FileSystem> files_ = NewPosixFileSystem();
};

TEST_F(PeerE2eTest, FfmpegServingFilesRecordsThemByteForByte) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  ravelon::testing::TempFolder pictures;
  const std::vector<std::string> files = testing::WriteJpegSequence(pictures, kFiles);
  const int port = testing::FreeLoopbackPort();
  PeerServer ffmpeg("ffmpeg", testing::FfmpegArgs(pictures.Path(), port), port);
  ASSERT_TRUE(ffmpeg.WaitListening()) << ffmpeg.Stop().err;
  const std::vector<std::string> jpegs = Record("ffmpeg", ffmpeg.Port(), "/stream.mjpg", 6);
  EXPECT_TRUE(AllSentInOrder(jpegs, files));
  // FFmpeg serves one client the whole sequence, and the last part is
  // complete only when the stream ends.
  EXPECT_GE(jpegs.size(), size_t{kFiles - 1});
}

// GStreamer, both serving files as they are and encoding its test pattern.
TEST_F(PeerE2eTest, GstreamerWithoutAnyHeaderRecordsWithDiscovery) {
  SKIP_WITHOUT_TOOL("gst-launch-1.0");
  ravelon::testing::TempFolder pictures;
  const std::vector<std::string> files = testing::WriteJpegSequence(pictures, kFiles);
  const int file_port = testing::FreeLoopbackPort();
  PeerServer from_files("gst-launch-1.0", testing::GstFileArgs(pictures.Path(), file_port),
                        file_port);
  ASSERT_TRUE(from_files.WaitListening()) << from_files.Stop().err;
  const std::vector<std::string> copied = Record("gst-files", file_port, "/", 3);
  EXPECT_TRUE(AllSentInOrder(copied, files));
  EXPECT_GE(copied.size(), size_t{10});

  const int pattern_port = testing::FreeLoopbackPort();
  PeerServer pattern("gst-launch-1.0", testing::GstTestPatternArgs(pattern_port), pattern_port);
  ASSERT_TRUE(pattern.WaitListening()) << pattern.Stop().err;
  const std::vector<std::string> encoded = Record("gst-pattern", pattern_port, "/", 3);
  EXPECT_GE(encoded.size(), size_t{10});
  JpegCodec codec;
  for (const std::string& jpeg : encoded) {
    RgbImage picture;
    std::string error;
    EXPECT_TRUE(codec.DecodeScaled(jpeg, 64, 48, picture, error)) << error;
    EXPECT_EQ(std::pair(picture.width, picture.height), std::pair(64, 48));
  }
}

}  // namespace
}  // namespace ravelon::cli
