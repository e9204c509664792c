#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/simulated_loop.h"
#include "platform/system_clock.h"

namespace ravelon {
namespace {

using std::chrono::seconds;

TEST(ClockTest, DaysSince18991230) {
  EXPECT_EQ(DaysSince18991230(1899, 12, 30), 0);
  EXPECT_EQ(DaysSince18991230(1899, 12, 31), 1);
  EXPECT_EQ(DaysSince18991230(1900, 3, 1), 61);  // 1900 is not a leap year
  EXPECT_EQ(DaysSince18991230(1970, 1, 1), 25569);
  EXPECT_EQ(DaysSince18991230(2000, 3, 1) - DaysSince18991230(2000, 2, 28), 2);  // 2000 is
  EXPECT_EQ(DaysSince18991230(2023, 3, 15), 45000);
  EXPECT_EQ(DaysSince18991230(1899, 12, 29), -1);
}

TEST(SimulatedClockTest, StartsMonday20260105At10AndMovesWithTheLoop) {
  SimulatedLoop loop;
  const SimulatedClock& clock = loop.GetClock();
  const int monday = DaysSince18991230(2026, 1, 5);
  EXPECT_EQ(clock.Today(), monday);
  EXPECT_EQ(monday % 7, 2);  // day 0, 1899-12-30, was a Saturday
  EXPECT_EQ(clock.SecondsSinceMidnight(), 36000);

  loop.AdvanceBy(std::chrono::milliseconds(1500));
  EXPECT_DOUBLE_EQ(clock.SecondsSinceMidnight(), 36001.5);
  EXPECT_EQ(clock.Today(), monday);
}

TEST(SimulatedClockTest, MidnightAndSettingTheClock) {
  SimulatedLoop loop;
  SimulatedClock& clock = loop.GetClock();
  const double day = DaysSince18991230(2026, 2, 28);
  clock.SetLocalDateTime(day, 86399.25);
  EXPECT_EQ(clock.Today(), day);
  EXPECT_DOUBLE_EQ(clock.SecondsSinceMidnight(), 86399.25);

  loop.AdvanceBy(seconds(1));
  EXPECT_EQ(clock.Today(), day + 1);
  EXPECT_DOUBLE_EQ(clock.SecondsSinceMidnight(), 0.25);

  // Set back by a day: the date follows, monotonic time does not.
  const MonoTime before = clock.Monotonic();
  clock.SetLocalDateTime(day, 3600);
  EXPECT_EQ(clock.Monotonic(), before);
  EXPECT_EQ(clock.Today(), day);
  EXPECT_EQ(clock.SecondsSinceMidnight(), 3600);
  loop.AdvanceBy(seconds(10));
  EXPECT_EQ(clock.Monotonic() - before, seconds(10));
  EXPECT_EQ(clock.SecondsSinceMidnight(), 3610);

  // Before 1899-12-30 the day still starts at midnight.
  clock.SetLocalDateTime(-2, 60);
  EXPECT_EQ(clock.Today(), -2);
  EXPECT_EQ(clock.SecondsSinceMidnight(), 60);
}

int LocalDay(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return DaysSince18991230(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                           static_cast<unsigned>(tm.tm_mday));
}

TEST(SystemClockTest, AgreesWithLocaltime) {
  SystemClock clock;
  const std::time_t now = std::time(nullptr);
  const double today = clock.Today();
  const double seconds_of_day = clock.SecondsSinceMidnight();
  // Either reading may fall a moment after midnight.
  EXPECT_TRUE(today == LocalDay(now) || today == LocalDay(now + 2)) << today;

  std::tm tm{};
  localtime_r(&now, &tm);
  const double expected = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  EXPECT_GE(seconds_of_day, 0);
  EXPECT_LT(seconds_of_day, 86400);
  const double apart = std::abs(seconds_of_day - expected);
  EXPECT_LE(std::min(apart, 86400 - apart), 2.0) << seconds_of_day << " vs " << expected;
}

}  // namespace
}  // namespace ravelon
