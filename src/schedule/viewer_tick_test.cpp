#include "schedule/viewer_tick.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/engine_limits.h"
#include "ravelon/testing/simulated_loop.h"
#include "schedule/rate_statistics.h"

namespace ravelon {
namespace {

using Calls = std::vector<std::string>;

struct Recorder final : ViewerTickOwner {
  void OnScheduleActionChanged() override { calls.push_back("action"); }
  void OnScheduledDisconnect(bool on) override { calls.push_back(on ? "disconnect" : "reconnect"); }
  void OnViewTick() override { calls.push_back("tick"); }
  Calls calls;
};

// Each tick reports only what changed, then the view tick; a new schedule is evaluated afresh.
TEST(ViewerTickTest, TicksReportOnlyChangesAndANewScheduleStartsAfresh) {
  constexpr uint8_t kOn = kScheduleNormal, kOff = kScheduleDisconnected;
  const double kMonday = DaysSince18991230(2026, 1, 5);
  WeeklySchedule busy, off;  // days without entries are normal all day
  busy[0] = {{0, kOn}, {28800, kOff}, {43200, kScheduleNoStoring}, {82800, kOff}};
  off[1] = {{0, kOff}};
  const std::tuple<const WeeklySchedule*, double, double, Calls> cases[] = {
      {&off, kMonday, 86399, {"action", "tick"}},
      {nullptr, kMonday + 1, 1, {"action", "disconnect", "tick"}},  // a new day, a new flag
      {&busy, kMonday, 28799, {"action", "tick"}},  // the disconnect is forgotten, not undone
      {nullptr, kMonday, 28800, {"action", "disconnect", "tick"}},
      {nullptr, kMonday, 39600, {"tick"}},
      {nullptr, kMonday, 43200, {"action", "reconnect", "tick"}},
      {nullptr, kMonday, 82800, {"action", "disconnect", "tick"}},
      {nullptr, kMonday + 1, 1, {"action", "reconnect", "tick"}},
      {&off, kMonday + 1, 3600, {"action", "disconnect", "tick"}},  // the same day, a new flag
  };
  SimulatedLoop loop;
  Recorder owner;
  ViewerTick tick(loop, loop.GetClock(), owner);
  tick.Start();
  for (const auto& [schedule, date, seconds, calls] : cases) {
    SCOPED_TRACE(::testing::Message() << "day " << date - kMonday << " at " << seconds);
    if (schedule != nullptr) tick.SetSchedule(*schedule);
    loop.GetClock().SetLocalDateTime(date, seconds - kDefaultViewIntervalMs / 1000.0);
    owner.calls.clear();
    loop.AdvanceBy(std::chrono::milliseconds(kDefaultViewIntervalMs));
    EXPECT_EQ(owner.calls, calls);
  }
}

TEST(ViewerTickTest, RateReportIsDueOncePerPeriodFromTheStart) {
  SimulatedLoop loop;
  RateStatistics rates(loop.GetClock());
  rates.StartPeriod();
  for (int i = 0; i < 120; ++i) rates.PacketArrived();
  loop.AdvanceBy(std::chrono::milliseconds(kStatsPeriodMs - 1));
  EXPECT_EQ(rates.TakeReportIfDue(), "");
  loop.AdvanceBy(std::chrono::milliseconds(1));
  EXPECT_EQ(rates.TakeReportIfDue(), "PacketFPS = 0.20; SaveFPS = 0.00");
  EXPECT_EQ(rates.TakeReportIfDue(), "");  // the next period has begun
}

}  // namespace
}  // namespace ravelon
