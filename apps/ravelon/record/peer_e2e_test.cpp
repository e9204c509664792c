// `ravelon record` against MJPEG servers people run, started here on loopback, both recorded by
// one `ravelon record` with the request style and boundary discovery those servers need; the
// stores are read back through the public reader. What the peers send (FFmpeg 5.1, GStreamer
// 1.22):
// - FFmpeg (`-f mpjpeg -listen 1`) serves one client, then ends. A request line without an HTTP
//   version gets "HTTP/1.1 400 Bad Request". Any HTTP request gets "HTTP/1.1 200 OK",
//   "Content-Type: application/octet-stream" and "Transfer-Encoding: chunked"; the body is
//   "--ffmpeg" CRLF, then per frame "Content-type: image/jpeg" CRLF "Content-length: N" CRLF
//   CRLF, the file's bytes, CRLF "--ffmpeg" CRLF, and the last chunk when the input ends.
// - GStreamer's tcpserversink sends no HTTP head at all and reads nothing: a client gets
//   "--ThisRandomString" CRLF "Content-Type: image/jpeg" CRLF "Content-Length: N" CRLF CRLF, the
//   JPEG, CRLF, and so on, from the next part on; any number of clients, until it is stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "camera/frame_maker.h"
#include "ravelon/file_system.h"
#include "ravelon/media_frame.h"
#include "support/loopback_server.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;

// A peer server, killed when the test ends: `tool` with `args` split at blanks, "PORT" among
// them standing for a loopback port that was free a moment ago.
class PeerServer {
 public:
  PeerServer(const char* tool, std::string args) {
    args.replace(args.find("PORT"), 4, std::to_string(port));
    process.emplace(testing::Words(args), "", tool);
  }

  // Waits up to 10 s until the server listens, as /proc/net/tcp tells: a connection to find out
  // would use up FFmpeg's one client.
  bool Listening() {
    char listening[40];  // local address, no remote address, state 0A: LISTEN
    std::snprintf(listening, sizeof listening, "0100007F:%04X 00000000:0000 0A", port);
    const auto listed = [&] {
      std::stringstream table;
      table << std::ifstream("/proc/net/tcp").rdbuf();
      return table.str().find(listening) != std::string::npos;
    };
    return process->Started() && testing::PollUntil(listed, 10s, 20ms);
  }

  const int port = ravelon::testing::LoopbackServer().port;
  std::optional<testing::CommandProcess> process;
};

TEST(PeerE2eTest, FfmpegAndGstreamerServingFilesAreRecordedByteForByte) {
  constexpr int kFiles = 30;  // three seconds at 10 fps
  const ravelon::testing::TempFolder folder;
  FrameMaker maker(64, 48);
  std::vector<std::string> files;
  for (int i = 1; i <= kFiles; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d.jpg", i);
    files.emplace_back(maker.Make(static_cast<uint64_t>(i), name));
    folder.Write(name, files.back());
  }
  const std::string pictures = folder.Path("%04d.jpg");
  PeerServer ffmpeg("ffmpeg", "-nostdin -loglevel error -re -f image2 -framerate 10 -i " +
                                  pictures +
                                  " -c copy -f mpjpeg -listen 1 http://127.0.0.1:PORT/stream.mjpg");
  // The files carry no timestamps: a pause after each makes the pace.
  PeerServer gstreamer("gst-launch-1.0", "-q multifilesrc location=" + pictures +
                                             " index=1 loop=true caps=image/jpeg,framerate=10/1 ! "
                                             "identity sleep-time=100000 ! multipartmux ! "
                                             "tcpserversink host=127.0.0.1 port=PORT");
  if (!ffmpeg.process->Started() || !gstreamer.process->Started())
    GTEST_SKIP() << "skipped: ffmpeg or gst-launch-1.0 not installed";
  ASSERT_TRUE(ffmpeg.Listening()) << ffmpeg.process->Wait(5s).err;
  ASSERT_TRUE(gstreamer.Listening()) << gstreamer.process->Wait(5s).err;
  const std::string registry = folder.Path("registry.db");
  for (const auto& [name, port, url] :
       {std::tuple{"ffmpeg", ffmpeg.port, "/stream.mjpg"}, {"gst", gstreamer.port, "/"}}) {
    ASSERT_EQ(testing::AddSource(registry, name, port, url, folder.Path(name),
                                 {"--request-style", "1", "--find-boundary"}),
              "");
  }
  const auto recorded =
      testing::RunCommand({"record", "--registry", registry, "--for", "10", "--status", "lines"});
  ASSERT_EQ(recorded.status, 0) << recorded.out << recorded.err;
  // FFmpeg serves one client the whole sequence, and the last part is complete only when the
  // stream ends; GStreamer loops.
  for (const auto& [name, least] : {std::pair{"ffmpeg", kFiles - 1}, {"gst", 20}}) {
    SCOPED_TRACE(name);
    const std::unique_ptr<FileSystem> disk = NewPosixFileSystem();
    std::vector<std::string> jpegs;
    for (const StoredFrame& frame : testing::ReadAllFrames(*disk, folder.Path(name) + "/")) {
      EXPECT_EQ(frame.data_type, kJpeg);
      jpegs.push_back(frame.data);
    }
    ASSERT_GE(std::ssize(jpegs), least) << recorded.out;
    // Byte for byte the files, in their order (a looping server starts again from the first).
    const auto first = std::find(files.begin(), files.end(), jpegs[0]) - files.begin();
    for (size_t i = 0; i < jpegs.size(); ++i) {
      EXPECT_TRUE(jpegs[i] == files[(first + i) % files.size()]) << "frame " << i;
    }
  }
}

}  // namespace
}  // namespace ravelon::cli
