// The date and time rules, which the free functions of date_time.h and
// DateTimeStamp each implement: both are run through the same cases.
#include "common/date_time.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>
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
  // time on day 100, days and seconds added; date and time after
  const double cases[][5] = {
      {86400 - 400, 0, 1000, 101, 600},     {100, 0, -200, 99, 86300},
      {0, 0, -3 * 86400.0, 97, 0},          {0, 0, 86400, 101, 0},
      {0, 2, 3 * 86400.0 + 5, 105, 5},      {5, -1, -3 * 86400.0 - 10, 95, 86395},
      {100, 0, 86400 * 1e9, 100 + 1e9, 100}};
  for (const auto& [start, days, seconds, want_date, want_time] : cases) {
    double date = 100, time = start;
    AddToStamp(date, time, days, seconds);
    DateTimeStamp stamp = Stamp(100, start);
    stamp.Add(days, seconds);
    EXPECT_EQ(std::tuple(date, time, stamp.GetDate(), stamp.GetTime()),
              std::tuple(want_date, want_time, want_date, want_time))
        << start << " + " << seconds;
  }
  // Too small a step back to survive the carry: AddToStamp lands where the
  // one-day steps round it, the stamp keeps a valid time of day.
  double date = 100, time = 0;
  AddToStamp(date, time, 0, -1e-13);
  EXPECT_EQ(std::pair(date, time), std::pair(99.0, 86400.0));
  DateTimeStamp tiny = Stamp(100, 0);
  tiny.Add(0, -1e-13);
  EXPECT_TRUE(tiny.GetTime() >= 0 && tiny.GetTime() < 86400) << tiny.GetTime();
  AddToStamp(date, time, 1, std::numeric_limits<double>::infinity());
  EXPECT_EQ(date, 100);
}

// The date decides first; one period key per hour of a 1365-day cycle.
TEST(DateTimeTest, CompareTruncateAndPeriodKey) {
  const std::tuple<double, double, double, double, uint8_t> cases[] = {
      {45001, 10, 45000, 86399.5, kStampLater},
      {45000, 10, 45000, 10.001, kStampEarlier},
      {45000, 10, 45000, 10, kStampEqual},
      {45000, 10, 45001, 1, kStampEarlier}};
  for (const auto& [date1, time1, date2, time2, want] : cases) {
    EXPECT_EQ(CompareStamps(date1, time1, date2, time2), want) << date1 << " " << time1;
    EXPECT_EQ(Stamp(date1, time1).Compare(Stamp(date2, time2)), want) << date1 << " " << time1;
  }
  EXPECT_EQ(std::pair(TruncateToMilliseconds(86399.9999), TruncateToMilliseconds(-0.0001)),
            std::pair(86399.999, -0.001));
  const std::tuple<double, double, int16_t> keys[] = {{45000, 7199.999, 1320 * 24 + 1},
                                                      {45000, 7200, 1320 * 24 + 2},
                                                      {1365, 3600, 1},
                                                      {1364, 86399.999, 32759},
                                                      {-1, 0, 1364 * 24}};
  for (const auto& [date, time, key] : keys) EXPECT_EQ(Stamp(date, time).GetPeriodKey(), key);
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

// A date read before midnight with a time read after it: both are read again.
// The stamp takes whole milliseconds, and never rounds up to midnight.
TEST(DateTimeTest, ReadingTheClockNeverPairsYesterdayWithEarlyToday) {
  // dates read, times read; the date and time, and the stamp's time
  const std::tuple<std::vector<double>, std::vector<double>, double, double, double> cases[] = {
      {{45000, 45001, 45001}, {0.25, 0.5}, 45001, 0.5, 0.5},
      {{45000, 45000}, {100.0004}, 45000, 100.0004, 100},
      {{45000, 45000}, {86399.9999}, 45000, 86399.9999, 86399.999}};
  for (const auto& [dates, times, want_date, want_time, want_stamp_time] : cases) {
    double date = 0, time = 0;
    GetNowDateTime(ScriptedClock(dates, times), date, time);
    DateTimeStamp stamp;
    stamp.SetToNow(ScriptedClock(dates, times));
    EXPECT_EQ(std::tuple(date, time, stamp.GetDate()), std::tuple(want_date, want_time, want_date));
    EXPECT_DOUBLE_EQ(stamp.GetTime(), want_stamp_time);
  }
}

}  // namespace
}  // namespace ravelon
