// The reconnect policy on the simulated platform: every failure of a
// connection leads to the fixed message, flush and delay before the next
// attempt, and the engine never gives up.
#include <gtest/gtest.h>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/korvid_test_peer.h"
#include "support/recording_host.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::LoggedEvent;
using testing::RecordingHost;

const LoggedEvent kConnectingLine{2, "Connecting to the source."};
const LoggedEvent kSendingUrlLine{2, "Connected. Sending URL..."};

class ConnectionTest : public ::testing::Test {
 protected:
  ConnectionTest()
      : platform_(std::make_shared<SimulatedPlatform>()),
        camera_(platform_->network().Listen("cam", 80)),
        engine_(platform_),
        peer_(engine_) {
    engine_.SetEventSink(&host_);
    engine_.SetAddress("cam");
    engine_.SetPort(80);
    engine_.SetUrl("video.cgi");
    engine_.SetStreaming(true);
  }

  void Advance(Duration d) { platform_->AdvanceBy(d); }

  // Puts an unfinished frame in place, with saving on, so a test can tell
  // whether the engine flushed it (a flushed frame is complete and queued).
  std::shared_ptr<MediaFrame> OpenFrame() {
    engine_.DoSave(true);
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(kText, "partial");
    frame->addFlags(kOpen);
    peer_.CurrentFrame() = frame;
    return frame;
  }

  static bool Flushed(const MediaFrame& frame) {
    return frame.hasFlag(kComplete) && frame.hasFlag(kQueued);
  }

  // Connects and lets the camera accept; leaves the engine awaiting a response.
  void ConnectAndAccept() {
    engine_.Connect();
    Advance(Duration::zero());
    ASSERT_EQ(peer_.ConnectionState(), kAwaitingResponse);
    host_.events.clear();
  }

  // Expects no new attempt until `delay` has passed, then exactly one.
  void ExpectNextAttemptAfter(Duration delay) {
    const int attempts = camera_.ConnectAttempts();
    Advance(delay - milliseconds(1));
    EXPECT_EQ(camera_.ConnectAttempts(), attempts) << "attempted too early";
    const size_t logged = host_.events.size();
    Advance(milliseconds(1));
    EXPECT_EQ(camera_.ConnectAttempts(), attempts + 1) << "no attempt when due";
    ASSERT_GT(host_.events.size(), logged);
    EXPECT_EQ(host_.events[logged], kConnectingLine);
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  ScriptedServer& camera_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

TEST_F(ConnectionTest, ConnectTimeoutWaitsFiftySecondsThenRetriesForEver) {
  camera_.Answer(ConnectAnswer::kNeverAnswer);
  engine_.Connect();
  EXPECT_EQ(host_.events, std::vector<LoggedEvent>{kConnectingLine});
  EXPECT_EQ(peer_.ConnectionState(), kConnecting);
  auto frame = OpenFrame();

  Advance(milliseconds(4999));
  EXPECT_EQ(host_.events.size(), 1u);
  Advance(milliseconds(1));
  EXPECT_EQ(host_.events.back(), (LoggedEvent{5, "Connect timeout."}));
  EXPECT_EQ(peer_.ConnectionState(), kReconnectWait);
  EXPECT_EQ(peer_.Socket().State(), TcpSocket::kClosed);
  EXPECT_FALSE(Flushed(*frame));
  ExpectNextAttemptAfter(seconds(50));

  // And again, without a growing back-off.
  Advance(seconds(5));
  EXPECT_EQ(host_.events.back(), (LoggedEvent{5, "Connect timeout."}));
  ExpectNextAttemptAfter(seconds(50));
}

TEST_F(ConnectionTest, RefusedConnectWaitsFiftySecondsWithoutFlush) {
  camera_.Answer(ConnectAnswer::kRefuse, milliseconds(3));
  engine_.Connect();
  auto frame = OpenFrame();
  Advance(milliseconds(3));
  EXPECT_EQ(host_.events.back(),
            (LoggedEvent{10, "WinSock.Error: Number=10061, Description=Connection refused"}));
  EXPECT_EQ(peer_.ConnectionState(), kReconnectWait);
  EXPECT_FALSE(Flushed(*frame));
  EXPECT_TRUE(peer_.TimeoutTimer().Enabled());
  EXPECT_EQ(peer_.TimeoutTimer().Interval(), 50'000);
  ExpectNextAttemptAfter(seconds(50));
}

TEST_F(ConnectionTest, ErrorOnAnOpenConnectionFlushesAndRetriesAfterFiveSeconds) {
  ConnectAndAccept();
  auto frame = OpenFrame();
  camera_.LastConnection()->Fail(kSocketErrorConnectionReset, "Connection reset by peer");
  Advance(milliseconds(0));
  EXPECT_EQ(host_.events,
            (std::vector<LoggedEvent>{
                {10, "WinSock.Error: Number=10054, Description=Connection reset by peer"}}));
  EXPECT_TRUE(Flushed(*frame));
  EXPECT_EQ(peer_.ConnectionState(), kReconnectWait);
  ExpectNextAttemptAfter(seconds(5));
}

TEST_F(ConnectionTest, SourceClosingTheStreamFlushesAndRetriesAfterFiveSecondsForEver) {
  camera_.OnAccept([](ScriptedConnection& c) { c.Close(milliseconds(2)); });
  engine_.Connect();
  auto frame = OpenFrame();
  Advance(milliseconds(2));
  EXPECT_EQ(host_.events,
            (std::vector<LoggedEvent>{kConnectingLine, kSendingUrlLine, {5, "WinSock.Close"}}));
  EXPECT_TRUE(Flushed(*frame));
  EXPECT_EQ(peer_.ConnectionState(), kReconnectWait);
  for (int round = 0; round < 3; ++round) {
    ExpectNextAttemptAfter(seconds(5));
    Advance(milliseconds(2));
    EXPECT_EQ(host_.events.back(), (LoggedEvent{5, "WinSock.Close"}));
  }
}

TEST_F(ConnectionTest, SilentSourceGivesUrlTimeoutAndAnImmediateFullConnect) {
  ConnectAndAccept();
  auto frame = OpenFrame();
  Advance(milliseconds(9999));
  EXPECT_TRUE(host_.events.empty());
  Advance(milliseconds(1));
  EXPECT_EQ(host_.events[0], (LoggedEvent{5, "URL timeout."}));
  EXPECT_EQ(host_.events[1], kConnectingLine);
  EXPECT_FALSE(Flushed(*frame));
  EXPECT_EQ(camera_.ConnectAttempts(), 2);
  EXPECT_TRUE(camera_.Connections()[0]->ClosedByClient());
  EXPECT_EQ(peer_.FrameCounter(), -2);  // a full connect starts the frames afresh
}

TEST_F(ConnectionTest, StalledHeaderAndStalledPartsRestartAtOnce) {
  ConnectAndAccept();
  peer_.SetConnectionState(kReadingHeader);
  peer_.ArmTimeoutTimer(10'000);
  auto frame = OpenFrame();
  Advance(seconds(10));
  EXPECT_EQ(host_.events[0], (LoggedEvent{5, "Process header timeout."}));
  EXPECT_EQ(host_.events[1], kConnectingLine);
  EXPECT_FALSE(Flushed(*frame));

  Advance(milliseconds(1));
  peer_.SetConnectionState(kReadingParts);
  peer_.ArmTimeoutTimer(15'000);
  frame = OpenFrame();
  host_.events.clear();
  Advance(seconds(15));
  EXPECT_EQ(host_.events[0], (LoggedEvent{5, "Process part timeout."}));
  EXPECT_EQ(host_.events[1], kConnectingLine);
  EXPECT_TRUE(Flushed(*frame));
}

TEST_F(ConnectionTest, StaleExpiryOfASwitchedOffTimerDoesNothing) {
  ConnectAndAccept();
  // A tick of a timer that is already off belongs to an arming that was
  // cancelled: the handler must ignore it.
  peer_.TimeoutTimer().SetEnabled(false);
  Advance(seconds(60));
  EXPECT_TRUE(host_.events.empty());
  EXPECT_EQ(peer_.ConnectionState(), kAwaitingResponse);
}

TEST_F(ConnectionTest, PollWaitReconnectsForTheNextRequestKeepingFramesAndQueue) {
  ConnectAndAccept();
  engine_.DoSave(true);
  auto queued = std::make_shared<MediaFrame>();
  queued->SetData(kJpeg, "jpeg");
  peer_.QueueFrameForSaving(queued);
  auto current = peer_.CurrentFrame();
  camera_.Answer(ConnectAnswer::kAccept, milliseconds(1));
  peer_.SetConnectionState(kPollWait);
  peer_.ArmTimeoutTimer(500);

  Advance(milliseconds(500));
  EXPECT_EQ(peer_.ConnectionState(), kConnecting);
  EXPECT_TRUE(host_.events.empty());  // no "Connecting to the source."
  EXPECT_EQ(peer_.CurrentFrame(), current);
  EXPECT_EQ(peer_.FrameCounter(), -2);
  EXPECT_EQ(engine_.FramesBuffered(), 1);
  EXPECT_EQ(camera_.ConnectAttempts(), 2);

  // The next request goes out on the new connection.
  Advance(milliseconds(1));
  EXPECT_EQ(camera_.LastConnection()->Received(), "GET /video.cgi\r\n\r\n");
  EXPECT_EQ(peer_.ConnectionState(), kAwaitingResponse);
}

TEST_F(ConnectionTest, VirtualModeNeedsNoSocketAndNeverTimesOut) {
  engine_.SetAddress("");
  engine_.Connect();
  EXPECT_EQ(host_.events,
            (std::vector<LoggedEvent>{
                kConnectingLine, {9, "Address not supplied. Source will work in virtual mode."}}));
  EXPECT_EQ(peer_.ConnectionState(), kReadingParts);
  EXPECT_FALSE(peer_.TimeoutTimer().Enabled());
  Advance(std::chrono::hours(1));
  EXPECT_EQ(host_.events.size(), 2u);
  EXPECT_EQ(peer_.Socket().State(), TcpSocket::kClosed);
  EXPECT_EQ(camera_.ConnectAttempts(), 0);
}

TEST_F(ConnectionTest, ScheduledDisconnectKeepsTheSourceIdleAndSilent) {
  ConnectAndAccept();
  peer_.SetScheduledDisconnect(true);
  engine_.Connect();
  EXPECT_TRUE(host_.events.empty());
  EXPECT_EQ(peer_.ConnectionState(), kIdle);
  EXPECT_EQ(peer_.Socket().State(), TcpSocket::kClosed);
  EXPECT_TRUE(camera_.LastConnection()->ClosedByClient());
  Advance(std::chrono::minutes(10));
  EXPECT_EQ(camera_.ConnectAttempts(), 1);
}

TEST_F(ConnectionTest, RepeatedConnectsStartAfreshAndShortDelaysBecomeFiveSeconds) {
  engine_.Connect();
  engine_.Connect();
  EXPECT_EQ(peer_.FrameCounter(), -2);
  EXPECT_EQ(peer_.ReportedFrame(), -1);
  uint8_t type = 0;
  std::string data = "x";
  EXPECT_EQ(engine_.GetData(type, data), -2);
  EXPECT_EQ(type, kPlaceholder);
  EXPECT_EQ(data, "");
  Advance(milliseconds(1));
  EXPECT_EQ(camera_.Connections().size(), 1u);  // the first attempt was dropped

  for (int32_t delay : {0, -7}) {
    peer_.ScheduleReconnect(delay);
    EXPECT_EQ(peer_.TimeoutTimer().Interval(), 5000);
    EXPECT_TRUE(peer_.TimeoutTimer().Enabled());
  }
}

// The request's exact bytes: a bare GET with the path, an optional Basic
// authorization line and a blank line.
class RequestTest : public ConnectionTest {
 protected:
  std::string RequestFor(const std::string& path, const std::string& user = "",
                         const std::string& password = "") {
    engine_.SetUrl(path);
    peer_.SetCredentials(user, password);
    engine_.Connect();
    Advance(milliseconds(1));
    return camera_.LastConnection()->Received();
  }
};

TEST_F(RequestTest, PathGetsItsSlashAndIsSentUnescaped) {
  EXPECT_EQ(RequestFor("x.jpg"), "GET /x.jpg\r\n\r\n");
  EXPECT_EQ(engine_.GetUrl(), "/x.jpg");
  EXPECT_EQ(RequestFor("/"), "GET /\r\n\r\n");
  EXPECT_EQ(RequestFor("a b"), "GET /a b\r\n\r\n");
  EXPECT_EQ(peer_.TimeoutTimer().Interval(), 10'000);
  EXPECT_TRUE(peer_.TimeoutTimer().Enabled());
}

TEST_F(RequestTest, CredentialsBecomeOneBasicLineEvenWhenHalfEmpty) {
  EXPECT_EQ(RequestFor("v", "user", "pass"), "GET /v\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n");
  EXPECT_EQ(RequestFor("v", "user", ""), "GET /v\r\nAuthorization: Basic dXNlcjo=\r\n\r\n");
  EXPECT_EQ(RequestFor("v", "", "pass"), "GET /v\r\nAuthorization: Basic OnBhc3M=\r\n\r\n");
  // Credentials longer than 57 bytes wrap, and are sent as they are.
  const std::string user(40, 'u'), password(30, 'p');
  const std::string request = RequestFor("v", user, password);
  const std::string line = "Authorization: Basic ";
  ASSERT_EQ(request.rfind("GET /v\r\n" + line, 0), 0u);
  const size_t body = std::string("GET /v\r\n").size() + line.size();
  EXPECT_EQ(request.substr(body + 76, 2), "\r\n");
  EXPECT_EQ(request.substr(request.size() - 4), "\r\n\r\n");
}

TEST_F(RequestTest, EmptyPathSendsNothingAndArmsNoTimeout) {
  EXPECT_EQ(RequestFor(""), "");
  EXPECT_EQ(peer_.ConnectionState(), kAwaitingResponse);
  EXPECT_FALSE(peer_.TimeoutTimer().Enabled());
  Advance(std::chrono::hours(1));
  EXPECT_EQ(camera_.ConnectAttempts(), 1);
}

TEST_F(RequestTest, SingleResponseModeDoesNotAnnounceTheRequest) {
  engine_.SetStreaming(false);
  EXPECT_EQ(RequestFor("snap.jpg"), "GET /snap.jpg\r\n\r\n");
  EXPECT_EQ(host_.events, std::vector<LoggedEvent>{kConnectingLine});
}

}  // namespace
}  // namespace ravelon
