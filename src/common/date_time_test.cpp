#include "common/date_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace ravelon {
namespace {

// Plays back scripted readings, logging their order: D a date, T a time.
struct ScriptedClock : Clock {
  std::vector<double> dates, times;
  mutable size_t next_date = 0, next_time = 0;
  mutable std::string log;
  double Today() const override {
    log += 'D';
    return dates.at(next_date++);
  }
  double SecondsSinceMidnight() const override {
    log += 'T';
    return times.at(next_time++);
  }
  MonoTime Monotonic() const override { return MonoTime(); }
};

TEST(DateTimeTest, AddToStampCarriesDaysBothWays) {
  struct Case {
    double time, add_time, want_date, want_time;
  } cases[] = {
      {86400 - 400, 1000, 101, 600},      {100, -200, 99, 86400 - 100},
      {100, 3 * 86400.0, 103, 100},       {0, -86400 * 3.0, 97, 0},
      {100, 86400 * 1e9, 100 + 1e9, 100}, {0, -1e-13, 99, 86400},  // as the one-day steps round it
  };
  for (const Case& c : cases) {
    double date = 100, time = c.time;
    AddToStamp(date, time, 0, c.add_time);
    EXPECT_EQ(date, c.want_date) << c.time << " + " << c.add_time;
    EXPECT_EQ(time, c.want_time) << c.time << " + " << c.add_time;
  }
  double date = 100, time = 0;
  AddToStamp(date, time, 1, std::numeric_limits<double>::infinity());
  EXPECT_EQ(date, 101);
}

TEST(DateTimeTest, AddToStampMatchesDayStepsBitForBit) {
  std::mt19937_64 random(20240615);
  std::uniform_real_distribution<double> time_of_day(0, 86400), shift(-4e7, 4e7), tiny(-1e-9, 1e-9);
  for (int i = 0; i < 3000; ++i) {
    const double time = time_of_day(random);
    const double add = i % 3 == 0 ? tiny(random) : i % 3 == 1 ? tiny(random) - time : shift(random);
    double want_date = 45000, want_time = time + add;
    while (want_time >= 86400) want_date += 1, want_time -= 86400;
    while (want_time < 0) want_date -= 1, want_time += 86400;
    double date = 45000, got_time = time;
    AddToStamp(date, got_time, 0, add);
    ASSERT_EQ(date, want_date) << time << " + " << add;
    ASSERT_EQ(std::memcmp(&got_time, &want_time, sizeof got_time), 0) << time << " + " << add;
  }
}

TEST(DateTimeTest, CompareAndTruncate) {
  EXPECT_EQ(CompareStamps(45001, 10, 45000, 86399.5), kStampLater);
  EXPECT_EQ(CompareStamps(45000, 10, 45000, 10.001), kStampEarlier);
  EXPECT_EQ(CompareStamps(45000, 10, 45000, 10), kStampEqual);
  EXPECT_EQ(TruncateToMilliseconds(86399.9999), 86399.999);
  EXPECT_EQ(TruncateToMilliseconds(-0.0001), -0.001);
}

TEST(DateTimeTest, GetNowDateTimeRereadsWhenMidnightPasses) {
  double date = 0, time = 0;
  ScriptedClock across;  // date read before midnight, time after it
  across.dates = {45000, 45001, 45001};
  across.times = {0.25, 0.5};
  GetNowDateTime(across, date, time);
  EXPECT_EQ(across.log, "DTDTD");
  EXPECT_EQ(date, 45001);
  EXPECT_EQ(time, 0.5);

  // The last millisecond of the day keeps its precision.
  ScriptedClock late;
  late.dates = {45000, 45000};
  late.times = {86399.999};
  GetNowDateTime(late, date, time);
  EXPECT_EQ(late.log, "DTD");
  EXPECT_EQ(time, 86399.999);
}

}  // namespace
}  // namespace ravelon
