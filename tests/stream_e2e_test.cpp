// Real JPEG images from a TCP server on the loopback interface through the
// engine's real platform: a multipart stream, and single responses polled one
// connection at a time. Every frame must reach the filter chain byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ravelon/korvid.h"
#include "support/jpeg_maker.h"
#include "support/loopback_server.h"
#include "support/real_loop.h"
#include "support/recording_filter_chain.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using testing::LoopbackServer;
using testing::MakeJpeg;
using testing::RecordingFilterChain;
using testing::RecordingHost;
using testing::RunUntil;

// `count` images cycling through four sizes and four noise levels.
std::vector<std::string> MakeJpegs(int count) {
  constexpr int kSizes[][2] = {{160, 120}, {320, 240}, {640, 480}, {800, 600}};
  constexpr int kNoise[] = {0, 6, 24, 96};
  std::vector<std::string> jpegs;
  for (int i = 0; i < count; ++i) {
    jpegs.push_back(MakeJpeg(kSizes[i % 4][0], kSizes[i % 4][1], kNoise[i / 4 % 4], i));
  }
  return jpegs;
}

class StreamE2eTest : public ::testing::Test {
 protected:
  testing::TempFolder folder_;  // made first: the platform keeps its registry there
  StreamE2eTest()
      : platform_(NewRealPlatform(folder_.path() + "/registry.db")),
        chain_(std::make_shared<RecordingFilterChain>()),
        engine_(platform_) {
    engine_.SetEventSink(&host_);
    engine_.SetAddress("127.0.0.1");
    engine_.SetPort(server_.port());
    engine_.SetUrl("video.mjpg");
    engine_.setFilterChain(chain_);
  }
  ~StreamE2eTest() override { engine_.ReleaseNGN(); }

  bool RunWhilePolling(const std::function<bool()>& done, std::chrono::seconds limit) {
    return RunUntil(*platform_, done, limit, [&] { server_.Poll(); });
  }

  // The frames the chain saw are `jpegs`, in order, numbered from 1, and the
  // newest is what GetData gives.
  void ExpectFrames(const std::vector<std::string>& jpegs) {
    ASSERT_EQ(chain_->seen.size(), jpegs.size());
    for (size_t i = 0; i < jpegs.size(); ++i) {
      EXPECT_EQ(chain_->seen[i].id, static_cast<int32_t>(i + 1));
      EXPECT_EQ(chain_->seen[i].type, kJpeg);
      EXPECT_TRUE(chain_->seen[i].data == jpegs[i]) << "frame " << i + 1 << " differs";
    }
    uint8_t type = 0;
    std::string data;
    EXPECT_EQ(engine_.GetData(type, data), static_cast<int32_t>(jpegs.size()));
    EXPECT_EQ(type, kJpeg);
    EXPECT_TRUE(data == jpegs.back());
  }

  LoopbackServer server_;
  std::shared_ptr<Platform> platform_;
  std::shared_ptr<RecordingFilterChain> chain_;
  RecordingHost host_;
  Korvid engine_;
};

TEST_F(StreamE2eTest, EveryJpegOfAMultipartStreamArrivesIntactAndNumbered) {
  const std::vector<std::string> jpegs = MakeJpegs(208);
  const auto [smallest, largest] = std::minmax_element(
      jpegs.begin(), jpegs.end(), [](auto& a, auto& b) { return a.size() < b.size(); });
  ASSERT_LT(smallest->size(), 5'000u);
  ASSERT_GT(largest->size(), 300'000u);

  std::string stream =
      "HTTP/1.0 200 OK\r\nServer: cam\r\n"
      "Content-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n";
  for (const std::string& jpeg : jpegs) {
    stream += "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
              std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg + "\r\n";
  }
  stream += "--myboundary\r\n";  // the last part ends where the next begins

  engine_.SetStreaming(true);
  engine_.Connect();
  ASSERT_TRUE(
      RunWhilePolling([&] { return server_.received().find("\r\n\r\n") != std::string::npos; },
                      std::chrono::seconds(5)));
  EXPECT_EQ(server_.received().rfind("GET /video.mjpg\r\n", 0), 0u) << server_.received();
  server_.Queue(stream);
  ASSERT_TRUE(RunWhilePolling([&] { return chain_->seen.size() >= jpegs.size(); },
                              std::chrono::seconds(60)))
      << chain_->seen.size() << " frames, " << server_.unsent() << " bytes unsent";
  ExpectFrames(jpegs);
  EXPECT_EQ(server_.accepted(), 1);
}

TEST_F(StreamE2eTest, SingleResponsesArePolledAndNumberedOnAcrossConnections) {
  const std::vector<std::string> jpegs = {MakeJpeg(640, 480, 24, 1), MakeJpeg(160, 120, 0, 2),
                                          MakeJpeg(800, 600, 96, 3)};
  server_.set_responder([&](int n) {
    return "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\n" + jpegs[n % 3] + "\r\n";
  });
  engine_.SetStreaming(false);
  engine_.SetViewIterval(50);
  engine_.PrepareEngine();
  engine_.Connect();
  ASSERT_TRUE(RunWhilePolling([&] { return chain_->seen.size() >= 3; }, std::chrono::seconds(10)))
      << chain_->seen.size() << " frames after " << server_.accepted() << " connections";
  ASSERT_EQ(chain_->seen.size(), 3u);
  ExpectFrames(jpegs);
  EXPECT_EQ(server_.accepted(), 3);
}

}  // namespace
}  // namespace ravelon
