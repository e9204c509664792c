// The periodic tick: the weekly schedule, DataReady and the rate report.
#include <gtest/gtest.h>

#include <algorithm>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/korvid_test_peer.h"
#include "support/recording_host.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;
using testing::LoggedEvent;
using testing::RecordingHost;

const double kMonday = DaysSince18991230(2026, 1, 5);

class ViewerTickTest : public ::testing::Test {
 protected:
  ViewerTickTest()
      : platform_(std::make_shared<SimulatedPlatform>()),
        camera_(platform_->network().Listen("cam", 80)),
        engine_(platform_),
        peer_(engine_) {
    engine_.SetEventSink(&host_);
    engine_.SetAddress("cam");
    engine_.SetPort(80);
    engine_.SetUrl("");  // nothing sent, so no response timeout restarts the connection
    engine_.SetStreaming(true);
  }

  void StartAt(double date, double seconds_since_midnight) {
    platform_->clock().SetLocalDateTime(date, seconds_since_midnight);
    engine_.PrepareEngine();
    engine_.Connect();
    platform_->AdvanceBy(Duration::zero());
  }

  int Count(const LoggedEvent& event) const {
    return static_cast<int>(std::count(host_.events.begin(), host_.events.end(), event));
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  ScriptedServer& camera_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

const LoggedEvent kDisconnect{6, "Scheduled disconnect."};
const LoggedEvent kReconnect{6, "Scheduled reconnect."};

TEST_F(ViewerTickTest, DisconnectsOnceAtEightAndReconnectsOnceAtSix) {
  WeeklySchedule schedule;
  schedule[0] = {{0, 1}, {28800, 3}, {64800, 1}};
  peer_.SetSchedule(schedule);
  StartAt(kMonday, 28800 - 1.2);
  platform_->AdvanceBy(seconds(1));
  EXPECT_EQ(Count(kDisconnect), 0);
  platform_->AdvanceBy(milliseconds(500));  // the first tick at or after 08:00
  EXPECT_EQ(Count(kDisconnect), 1);
  EXPECT_EQ(peer_.ConnectionState(), kIdle);
  EXPECT_TRUE(camera_.LastConnection()->ClosedByClient());

  platform_->AdvanceBy(std::chrono::hours(10) - seconds(1));
  EXPECT_EQ(Count(kDisconnect), 1);
  EXPECT_EQ(camera_.ConnectAttempts(), 1);  // no attempt while disconnected
  platform_->AdvanceBy(seconds(2));
  EXPECT_EQ(Count(kReconnect), 1);
  EXPECT_EQ(camera_.ConnectAttempts(), 2);
  EXPECT_EQ(peer_.ConnectionState(), kAwaitingResponse);
}

TEST_F(ViewerTickTest, ANewWeekdayIsEvaluatedAtMidnight) {
  WeeklySchedule schedule;
  schedule[0] = {{0, 1}};
  schedule[1] = {{36000, 3}, {64800, 1}};  // Tuesday: off from midnight, first entry applies
  peer_.SetSchedule(schedule);
  StartAt(kMonday, 86400 - 1);
  platform_->AdvanceBy(milliseconds(500));
  EXPECT_EQ(Count(kDisconnect), 0);
  platform_->AdvanceBy(seconds(1));
  EXPECT_EQ(Count(kDisconnect), 1);
  EXPECT_EQ(peer_.ConnectionState(), kIdle);
}

TEST_F(ViewerTickTest, NoStoringStartsASegmentButKeepsTheConnection) {
  WeeklySchedule schedule;
  schedule[0] = {{0, 1}, {43200, 2}};
  peer_.SetSchedule(schedule);
  StartAt(kMonday, 43200 - 1);
  platform_->AdvanceBy(milliseconds(500));
  peer_.ClearSegmentPending();
  platform_->AdvanceBy(seconds(1));
  EXPECT_EQ(peer_.ScheduleAction(), kScheduleNoStoring);
  EXPECT_TRUE(peer_.SegmentPending());
  EXPECT_EQ(peer_.ConnectionState(), kAwaitingResponse);
  EXPECT_EQ(camera_.ConnectAttempts(), 1);
  EXPECT_EQ(Count(kDisconnect), 0);
}

TEST_F(ViewerTickTest, DataReadyOncePerTickWithNewFramesAndRatesEveryTenMinutes) {
  StartAt(kMonday, 36000);
  platform_->AdvanceBy(milliseconds(500));
  EXPECT_EQ(host_.data_ready, 1);  // the placeholder of the new connection
  platform_->AdvanceBy(seconds(5));
  EXPECT_EQ(host_.data_ready, 1);  // nothing new

  const auto frame_arrives = [&] {
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(kJpeg, "j");
    peer_.HandleNewFrame(frame);
  };
  frame_arrives();
  frame_arrives();
  platform_->AdvanceBy(milliseconds(500));
  EXPECT_EQ(host_.data_ready, 2);  // two frames, one announcement

  const auto rate_lines = [&] {
    return std::count_if(host_.events.begin(), host_.events.end(),
                         [](const LoggedEvent& e) { return e.text.rfind("PacketFPS = ", 0) == 0; });
  };
  EXPECT_EQ(rate_lines(), 0);
  platform_->AdvanceBy(minutes(11));
  EXPECT_EQ(rate_lines(), 0);  // no frames, no report
  frame_arrives();
  platform_->AdvanceBy(milliseconds(500));
  ASSERT_EQ(rate_lines(), 1);
  EXPECT_EQ(host_.events.back().level, 3);
  EXPECT_NE(host_.events.back().text.find("; SaveFPS = "), std::string::npos);
  frame_arrives();
  platform_->AdvanceBy(milliseconds(500));
  EXPECT_EQ(rate_lines(), 1);  // the next one after another ten minutes
}

}  // namespace
}  // namespace ravelon
