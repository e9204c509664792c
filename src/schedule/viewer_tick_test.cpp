// The view tick and its schedule; the rates of a source and the period that paces their report
// (its deadline kept by the timeout checker).
#include "schedule/viewer_tick.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "common/engine_limits.h"
#include "ravelon/testing/simulated_loop.h"
#include "schedule/frequency_calculator.h"
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

// The rate covers the last finished block of 200 ticks and the running one; a window that began
// before midnight reads zero after it.
TEST(FrequencyCalculatorTest, AveragesOverTheLastOneToTwoHundredTicks) {
  SimulatedLoop loop;
  FrequencyCalculator rate(loop.GetClock());
  const auto rate_after = [&](int ticks, int every_ms) {
    for (int i = 0; i < ticks; ++i)
      loop.AdvanceBy(std::chrono::milliseconds(every_ms)), rate.Tick();
    return rate.getFrequency();
  };
  EXPECT_EQ(rate.getFrequency(), 0);  // no time has passed
  EXPECT_NEAR(rate_after(50, 200), 5.0, 1e-3);
  rate.Reset();
  EXPECT_NEAR(rate_after(200, 100), 10.0, 1e-3);  // 20 s at 10 per second
  EXPECT_NEAR(rate_after(200, 50), 20.0, 1e-3);   // then 10 s at 20 per second
  rate.Reset();
  rate_after(100, 100);
  EXPECT_NEAR(rate_after(100, 1000), 1.0, 1e-3);  // each block is exactly 100 ticks

  loop.GetClock().SetLocalDateTime(46000, 86400 - 5);
  rate.Reset();
  EXPECT_EQ(rate_after(10, 1000), 0);
}

// The report is due once per period from its start, across midnight too, and at once when the
// clock is set back (the next period then runs in full); a stopped period is never due.
TEST(RateStatisticsTest, ReportIsDueOncePerPeriodHoweverTheClockMoves) {
  SimulatedLoop loop;
  SimulatedClock& clock = loop.GetClock();
  RateStatistics rates(clock);
  const auto report_after = [&](int64_t ms) {
    loop.AdvanceBy(std::chrono::milliseconds(ms));
    return rates.TakeReportIfDue();
  };
  rates.StartPeriod();
  for (int i = 0; i < 120; ++i) rates.PacketArrived();
  EXPECT_EQ(report_after(kStatsPeriodMs - 1), "");
  EXPECT_EQ(report_after(1), "PacketFPS = 0.20; SaveFPS = 0.00");
  EXPECT_EQ(report_after(kStatsPeriodMs - 1), "");  // the next period has begun
  rates.StopPeriod();
  EXPECT_EQ(report_after(48 * 3'600'000), "");

  clock.SetLocalDateTime(46000, 86400 - 30);  // 23:59:30
  rates.StartPeriod();
  EXPECT_EQ(report_after(kStatsPeriodMs - 1), "");  // 00:09:29.999 of the next day
  EXPECT_NE(report_after(1), "");

  clock.SetLocalDateTime(46000, 12 * 3600);
  rates.StartPeriod();
  EXPECT_EQ(report_after(10'000), "");
  clock.SetLocalDateTime(46000, 11 * 3600);
  EXPECT_NE(report_after(0), "");
  EXPECT_EQ(report_after(kStatsPeriodMs - 1), "");
  EXPECT_NE(report_after(1), "");
}

}  // namespace
}  // namespace ravelon
