// The engine's connection against real TCP servers on the loopback interface.
#include <gtest/gtest.h>

#include <algorithm>

#include "ravelon/korvid.h"
#include "support/korvid_test_peer.h"
#include "support/loopback_server.h"
#include "support/real_loop.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using testing::LoggedEvent;
using testing::LoopbackServer;
using testing::RecordingHost;
using testing::RunUntil;

class ConnectionE2eTest : public ::testing::Test {
 protected:
  testing::TempFolder folder_;  // made first: the platform keeps its registry there
  ConnectionE2eTest()
      : platform_(NewRealPlatform(folder_.path() + "/registry.db")),
        engine_(platform_),
        peer_(engine_) {
    engine_.SetEventSink(&host_);
    engine_.SetAddress("127.0.0.1");
    engine_.SetPort(server_.port());
    engine_.SetUrl("stream.mjpg");
    engine_.SetStreaming(true);
  }

  bool Logged(const LoggedEvent& event) const {
    return std::find(host_.events.begin(), host_.events.end(), event) != host_.events.end();
  }

  LoopbackServer server_;
  std::shared_ptr<Platform> platform_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

TEST_F(ConnectionE2eTest, ServerReceivesExactlyTheRequest) {
  peer_.SetCredentials("admin", "secret");
  engine_.Connect();
  const std::string expected = "GET /stream.mjpg\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n\r\n";
  EXPECT_TRUE(RunUntil(
      *platform_, [&] { return server_.received().size() >= expected.size(); },
      std::chrono::seconds(5), [&] { server_.Poll(); }));
  EXPECT_EQ(server_.received(), expected);
  EXPECT_EQ(peer_.ConnectionState(), kAwaitingResponse);
  EXPECT_EQ(peer_.TimeoutTimer().Interval(), 10'000);
  engine_.ReleaseNGN();
}

TEST_F(ConnectionE2eTest, RefusedPortIsAnErrorFollowedByAFiftySecondWait) {
  server_.StopListening();
  engine_.Connect();
  EXPECT_TRUE(RunUntil(*platform_, [&] { return peer_.ConnectionState() == kReconnectWait; }));
  ASSERT_FALSE(host_.events.empty());
  EXPECT_EQ(host_.events.back().level, 10);
  EXPECT_EQ(host_.events.back().text.rfind("WinSock.Error: Number=10061, Description=", 0), 0u)
      << host_.events.back().text;
  EXPECT_TRUE(peer_.TimeoutTimer().Enabled());
  EXPECT_EQ(peer_.TimeoutTimer().Interval(), 50'000);
}

TEST_F(ConnectionE2eTest, ServerClosingAtOnceLeadsToANewAttemptFiveSecondsLater) {
  server_.set_close_on_accept(true);
  engine_.Connect();
  EXPECT_TRUE(RunUntil(
      *platform_,
      [&] {
        return Logged({5, "WinSock.Close"});
      },
      std::chrono::seconds(5), [&] { server_.Poll(); }));
  EXPECT_EQ(peer_.ConnectionState(), kReconnectWait);
  EXPECT_TRUE(peer_.TimeoutTimer().Enabled());
  EXPECT_EQ(peer_.TimeoutTimer().Interval(), 5'000);
  EXPECT_EQ(peer_.Socket().State(), TcpSocket::kClosed);
}

}  // namespace
}  // namespace ravelon
