// The date and time rules, which the free functions of date_time.h and
// DateTimeStamp each implement: both are run through the same cases.
#include "common/date_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "ravelon/date_time_stamp.h"

namespace ravelon {
namespace {

DateTimeStamp Stamp(double date, double time) {
  DateTimeStamp stamp;
  stamp.Set(date, time);
  return stamp;
}

TEST(DateTimeTest, AddCarriesWholeDaysBothWays) {
  struct {
    double time, add_days, add_seconds, want_date, want_time;
  } cases[] = {
      {86400 - 400, 0, 1000, 101, 600},
      {100, 0, -200, 99, 86300},
      {100, 0, 3 * 86400.0, 103, 100},
      {0, 0, -3 * 86400.0, 97, 0},
      {0, 0, 86400, 101, 0},
      {0, 2, 3 * 86400.0 + 5, 105, 5},
      {5, -1, -3 * 86400.0 - 10, 95, 86395},
      {100, 0, 86400 * 1e9, 100 + 1e9, 100},
  };
  for (const auto& c : cases) {
    double date = 100, time = c.time;
    AddToStamp(date, time, c.add_days, c.add_seconds);
    EXPECT_EQ(date, c.want_date) << c.time << " + " << c.add_seconds;
    EXPECT_EQ(time, c.want_time) << c.time << " + " << c.add_seconds;
    DateTimeStamp stamp = Stamp(100, c.time);
    stamp.Add(c.add_days, c.add_seconds);
    EXPECT_EQ(stamp.GetDate(), c.want_date) << c.time << " + " << c.add_seconds;
    EXPECT_EQ(stamp.GetTime(), c.want_time) << c.time << " + " << c.add_seconds;
  }
  // Too small a step back to survive the carry: AddToStamp lands where the
  // one-day steps round it, the stamp keeps a valid time of day.
  double date = 100, time = 0;
  AddToStamp(date, time, 0, -1e-13);
  EXPECT_EQ(date, 99);
  EXPECT_EQ(time, 86400);
  DateTimeStamp tiny = Stamp(100, 0);
  tiny.Add(0, -1e-13);
  EXPECT_TRUE(tiny.GetTime() >= 0 && tiny.GetTime() < 86400) << tiny.GetTime();
  time = 0;
  AddToStamp(date, time, 1, std::numeric_limits<double>::infinity());
  EXPECT_EQ(date, 100);

  // Random shifts land bit for bit where stepping a day at a time lands.
  std::mt19937_64 random(20240615);
  std::uniform_real_distribution<double> time_of_day(0, 86400), shift(-4e7, 4e7),
      small(-1e-9, 1e-9);
  for (int i = 0; i < 3000; ++i) {
    const double start = time_of_day(random);
    const double add = i % 3 == 0   ? small(random)
                       : i % 3 == 1 ? small(random) - start
                                    : shift(random);
    double want_date = 45000, want_time = start + add;
    while (want_time >= 86400) want_date += 1, want_time -= 86400;
    while (want_time < 0) want_date -= 1, want_time += 86400;
    date = 45000, time = start;
    AddToStamp(date, time, 0, add);
    ASSERT_EQ(date, want_date) << start << " + " << add;
    ASSERT_EQ(std::memcmp(&time, &want_time, sizeof time), 0) << start << " + " << add;
  }
}

TEST(DateTimeTest, CompareTruncateAndPeriodKey) {
  struct {
    double date1, time1, date2, time2;
    uint8_t want;
  } cases[] = {
      {45001, 10, 45000, 86399.5, kStampLater},  // the date decides first
      {45000, 10, 45000, 10.001, kStampEarlier},
      {45000, 10, 45000, 10, kStampEqual},
      {45000, 10, 45001, 1, kStampEarlier},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareStamps(c.date1, c.time1, c.date2, c.time2), c.want)
        << c.date1 << " " << c.time1;
    EXPECT_EQ(Stamp(c.date1, c.time1).Compare(Stamp(c.date2, c.time2)), c.want) << c.date1;
  }
  EXPECT_EQ(TruncateToMilliseconds(86399.9999), 86399.999);
  EXPECT_EQ(TruncateToMilliseconds(-0.0001), -0.001);

  // One key per hour of a 1365-day cycle.
  auto key = [](double date, double time) { return Stamp(date, time).GetPeriodKey(); };
  EXPECT_EQ(key(45000, 7199.999), 1320 * 24 + 1);  // 45000 mod 1365 = 1320
  EXPECT_EQ(key(45000, 7200), 1320 * 24 + 2);
  EXPECT_EQ(key(1365, 3600), 1);
  EXPECT_EQ(key(1364, 86399.999), 32759);
  EXPECT_EQ(key(-1, 0), 1364 * 24);
}

// Plays back scripted readings: the dates and the times of day, each in order.
// A reader that reads once too often runs out and throws.
struct ScriptedClock : Clock {
  ScriptedClock(std::vector<double> d, std::vector<double> t) : dates(d), times(t) {}
  double Today() const override { return dates.at(next_date++); }
  double SecondsSinceMidnight() const override { return times.at(next_time++); }
  MonoTime Monotonic() const override { return {}; }
  std::vector<double> dates, times;
  mutable size_t next_date = 0, next_time = 0;
};

TEST(DateTimeTest, ReadingTheClockNeverPairsYesterdayWithEarlyToday) {
  struct {
    std::vector<double> dates, times;
    double want_date, want_time, want_stamp_time;
  } cases[] = {
      // The date is read before midnight, the time after it: both are read again.
      {{45000, 45001, 45001}, {0.25, 0.5}, 45001, 0.5, 0.5},
      // The stamp takes whole milliseconds, and never rounds up to midnight.
      {{45000, 45000}, {100.0004}, 45000, 100.0004, 100},
      {{45000, 45000}, {86399.9999}, 45000, 86399.9999, 86399.999},
  };
  for (const auto& c : cases) {
    double date = 0, time = 0;
    GetNowDateTime(ScriptedClock(c.dates, c.times), date, time);
    EXPECT_EQ(date, c.want_date);
    EXPECT_EQ(time, c.want_time);
    DateTimeStamp stamp;
    stamp.SetToNow(ScriptedClock(c.dates, c.times));
    EXPECT_EQ(stamp.GetDate(), c.want_date);
    EXPECT_DOUBLE_EQ(stamp.GetTime(), c.want_stamp_time);
  }
}

}  // namespace
}  // namespace ravelon
