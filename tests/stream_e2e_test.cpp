// Real JPEG images from a TCP server on the loopback interface through the
// engine's real platform as a multipart stream: every frame must reach the
// filter chain byte for byte, in order and numbered from 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
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

TEST(StreamE2eTest, EveryJpegOfAMultipartStreamArrivesIntactAndNumbered) {
  // 208 images cycling through four sizes and four noise levels.
  constexpr int kSizes[][2] = {{160, 120}, {320, 240}, {640, 480}, {800, 600}};
  constexpr int kNoise[] = {0, 6, 24, 96};
  std::vector<std::string> jpegs;
  for (int i = 0; i < 208; ++i) {
    jpegs.push_back(testing::MakeJpeg(kSizes[i % 4][0], kSizes[i % 4][1], kNoise[i / 4 % 4], i));
  }
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

  testing::TempFolder folder;  // the platform keeps its registry there
  testing::LoopbackServer server;
  const std::shared_ptr<Platform> platform = NewRealPlatform(folder.path() + "/registry.db");
  const auto chain = std::make_shared<testing::RecordingFilterChain>();
  testing::RecordingHost host;
  Korvid engine(platform);
  engine.SetEventSink(&host);
  engine.SetAddress("127.0.0.1");
  engine.SetPort(server.port());
  engine.SetUrl("video.mjpg");
  engine.setFilterChain(chain);
  engine.SetStreaming(true);
  const auto run = [&](const std::function<bool()>& done, std::chrono::seconds limit) {
    return testing::RunUntil(*platform, done, limit, [&] { server.Poll(); });
  };
  engine.Connect();
  ASSERT_TRUE(run([&] { return server.received().find("\r\n\r\n") != std::string::npos; },
                  std::chrono::seconds(5)));
  EXPECT_EQ(server.received().rfind("GET /video.mjpg\r\n", 0), 0u) << server.received();
  server.Queue(stream);
  ASSERT_TRUE(run([&] { return chain->seen.size() >= jpegs.size(); }, std::chrono::seconds(60)))
      << chain->seen.size() << " frames, " << server.unsent() << " bytes unsent";

  ASSERT_EQ(chain->seen.size(), jpegs.size());
  for (size_t i = 0; i < jpegs.size(); ++i) {
    EXPECT_EQ(chain->seen[i].id, static_cast<int32_t>(i + 1));
    EXPECT_EQ(chain->seen[i].type, kJpeg);
    EXPECT_TRUE(chain->seen[i].data == jpegs[i]) << "frame " << i + 1 << " differs";
  }
  uint8_t type = 0;
  std::string data;
  EXPECT_EQ(engine.GetData(type, data), static_cast<int32_t>(jpegs.size()));
  EXPECT_EQ(type, kJpeg);
  EXPECT_TRUE(data == jpegs.back());
  EXPECT_EQ(server.accepted(), 1);
  engine.ReleaseNGN();
}

}  // namespace
}  // namespace ravelon
