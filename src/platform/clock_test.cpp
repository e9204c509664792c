#include <gtest/gtest.h>

#include "ravelon/testing/simulated_loop.h"

namespace ravelon {
namespace {

using std::chrono::seconds;

TEST(ClockTest, DaysSince18991230) {
  EXPECT_EQ(DaysSince18991230(1899, 12, 29), -1);
  EXPECT_EQ(DaysSince18991230(1900, 3, 1), 61);  // 1900 is not a leap year
  EXPECT_EQ(DaysSince18991230(2000, 3, 1) - DaysSince18991230(2000, 2, 28), 2);  // 2000 is
  EXPECT_EQ(DaysSince18991230(2023, 3, 15), 45000);
}

TEST(SimulatedClockTest, MidnightAndSettingTheClock) {
  SimulatedLoop loop;
  SimulatedClock& clock = loop.GetClock();
  loop.AdvanceBy(std::chrono::milliseconds(1500));  // from Monday 2026-01-05 10:00
  EXPECT_EQ(clock.Today(), DaysSince18991230(2026, 1, 5));
  EXPECT_DOUBLE_EQ(clock.SecondsSinceMidnight(), 36001.5);

  const double day = DaysSince18991230(2026, 2, 28);
  clock.SetLocalDateTime(day, 86399.25);
  loop.AdvanceBy(seconds(1));
  EXPECT_EQ(clock.Today(), day + 1);
  EXPECT_DOUBLE_EQ(clock.SecondsSinceMidnight(), 0.25);

  // Set back by a day: the date follows, monotonic time does not.
  const MonoTime before = clock.Monotonic();
  clock.SetLocalDateTime(day, 3600);
  EXPECT_EQ(clock.Monotonic(), before);
  EXPECT_EQ(clock.Today(), day);
  loop.AdvanceBy(seconds(10));
  EXPECT_EQ(clock.Monotonic() - before, seconds(10));
  EXPECT_EQ(clock.SecondsSinceMidnight(), 3610);

  // Before 1899-12-30 the day still starts at midnight.
  clock.SetLocalDateTime(-2, 60);
  EXPECT_EQ(clock.Today(), -2);
  EXPECT_EQ(clock.SecondsSinceMidnight(), 60);
}

}  // namespace
}  // namespace ravelon
