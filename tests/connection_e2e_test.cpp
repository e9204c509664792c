// The engine's connection against a real loopback TCP server, through the public API.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "ravelon/korvid.h"
#include "support/loopback_server.h"
#include "support/real_loop.h"
#include "support/recording_host.h"

namespace ravelon {
namespace {

class ConnectionE2eTest : public ::testing::Test {
 protected:
  // Configured through setters only, so the platform never opens its registry file.
  ConnectionE2eTest() {
    engine_.SetEventSink(&host_);
    engine_.SetAddress("127.0.0.1");
    engine_.SetPort(server_.port());
    engine_.SetUrl("stream.mjpg");
    engine_.SetStreaming(true);
  }
  bool Run(const auto& done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return testing::RunUntil(*platform_, done, limit, [&] { server_.Poll(); });
  }
  int64_t Count(const std::string& text) const {
    return std::ranges::count(host_.events, text, &testing::LoggedEvent::text);
  }

  testing::LoopbackServer server_;
  std::shared_ptr<Platform> platform_ = NewRealPlatform();
  testing::RecordingHost host_;
  Korvid engine_{platform_};
};

TEST_F(ConnectionE2eTest, ServerReceivesExactlyTheRequest) {
  engine_.SetCredentials("admin", "secret");
  engine_.Connect();
  EXPECT_TRUE(Run([&] { return server_.received().ends_with("\r\n\r\n"); }));
  EXPECT_EQ(server_.received(),
            "GET /stream.mjpg\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n\r\n");
}

TEST_F(ConnectionE2eTest, RefusedPortIsAnErrorWithoutAQuickRetry) {
  server_.StopListening();
  engine_.Connect();
  ASSERT_TRUE(Run([&] { return host_.events.back().level == 10; }));
  EXPECT_TRUE(host_.events.back().text.starts_with("WinSock.Error: Number=10061, Description="));
  EXPECT_FALSE(
      Run([&] { return Count("Connecting to the source.") > 1; }, std::chrono::seconds(1)));
}

// After a close at once (often queued by the time the connect event lets the loop run under load),
// the next attempt follows the break delay, not the response timeout.
TEST_F(ConnectionE2eTest, ServerClosingAtOnceLeadsToANewAttemptFiveSecondsLater) {
  server_.set_close_on_accept(true);
  engine_.Connect();
  ASSERT_TRUE(Run([&] { return Count("WinSock.Close") > 0; }));
  const MonoTime closed = platform_->GetClock().Monotonic();
  ASSERT_TRUE(Run([&] { return Count("Connecting to the source.") > 1; }, std::chrono::seconds(8)));
  EXPECT_GE(platform_->GetClock().Monotonic() - closed, std::chrono::milliseconds(4'900));
}

}  // namespace
}  // namespace ravelon
