// The peer servers at the wire, with a plain socket and no engine: what
// FFmpeg and GStreamer really send, so that the engine's end-to-end tests
// against them start from known bytes. Each case records the first bytes it
// got (escaped) in the test's output.
#include "tests/peer_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/loopback_client.h"
#include "tests/multipart_reading.h"

namespace ravelon::cli::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kFiles = 5;

std::string Opening(const std::string& bytes) { return Escaped(bytes.substr(0, 300)); }

TEST(PeerServerTest, FfmpegRefusesABareRequestAndServesTheFilesAsTheyAre) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  struct Case {
    const char* request;
    std::string content_type;  // asked of FFmpeg; "" leaves its own
    std::string head;          // the response head, exactly
  };
  const Case cases[] = {
      {"GET /stream.mjpg\r\n\r\n", "",
       "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 17\r\n\r\n"},
      {"GET /stream.mjpg HTTP/1.0\r\n\r\n", "",
       "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
       "Transfer-Encoding: chunked\r\n\r\n"},
      {"GET /stream.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       "multipart/x-mixed-replace;boundary=ffmpeg",
       "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=ffmpeg\r\n"
       "Transfer-Encoding: chunked\r\n\r\n"},
  };
  const TempFolder folder;
  const std::vector<std::string> files = WriteJpegSequence(folder, kFiles);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    const int port = FreeLoopbackPort();
    PeerServer ffmpeg("ffmpeg", FfmpegArgs(folder.Path(), port, 25, c.content_type), port);
    ASSERT_TRUE(ffmpeg.WaitListening()) << ffmpeg.Stop().err;
    const Received got = Exchange(port, c.request, SIZE_MAX, 20s);
    std::printf("ffmpeg, %s: %s\n", Escaped(c.request).c_str(), Opening(got.bytes).c_str());
    EXPECT_TRUE(got.closed);
    ASSERT_EQ(Escaped(got.bytes.substr(0, c.head.size())), Escaped(c.head));
    if (c.head.find(" 200 ") == std::string::npos) continue;
    const Dechunked body = Dechunk(got.bytes.substr(c.head.size()));
    EXPECT_TRUE(body.ok && body.ended);
    const std::vector<Part> parts = SplitParts(body.content, "ffmpeg");
    ASSERT_EQ(parts.size(), files.size()) << Opening(body.content);
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].head,
                "Content-type: image/jpeg\r\nContent-length: " + std::to_string(files[i].size()));
      EXPECT_TRUE(parts[i].body == files[i]) << "part " << i << " differs from its file";
    }
  }
}

TEST(PeerServerTest, GstreamerSendsBareMultipartParts) {
  SKIP_WITHOUT_TOOL("gst-launch-1.0");
  const TempFolder folder;
  const std::vector<std::string> files = WriteJpegSequence(folder, kFiles);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool known_files;  // the parts are the files, in their order
  };
  const int pattern_port = FreeLoopbackPort(), files_port = FreeLoopbackPort();
  const Case cases[] = {
      {"test pattern", GstTestPatternArgs(pattern_port, 25), false},
      {"files", GstFileArgs(folder.Path(), files_port, 25), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int port = c.known_files ? files_port : pattern_port;
    PeerServer gst("gst-launch-1.0", c.args, port);
    ASSERT_TRUE(gst.WaitListening()) << gst.Stop().err;
    const Received got = Exchange(port, "", 40000, 20s);
    std::printf("gstreamer, %s: %s\n", c.name, Opening(got.bytes).c_str());
    ASSERT_TRUE(got.bytes.starts_with("--ThisRandomString\r\nContent-Type: image/jpeg\r\n"))
        << Opening(got.bytes);
    const std::vector<Part> parts = SplitParts(got.bytes, "ThisRandomString");
    ASSERT_GE(parts.size(), 3u);
    size_t previous = files.size();
    for (const Part& part : parts) {
      EXPECT_EQ(part.head,
                "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(part.body.size()));
      EXPECT_TRUE(IsJpeg(part.body));
      if (!c.known_files) continue;
      size_t file = 0;
      while (file < files.size() && files[file] != part.body) ++file;
      ASSERT_LT(file, files.size()) << "a part that is none of the files";
      EXPECT_TRUE(previous == files.size() || file == (previous + 1) % files.size())
          << "file " << file << " after file " << previous;
      previous = file;
    }
  }
}

}  // namespace
}  // namespace ravelon::cli::testing
