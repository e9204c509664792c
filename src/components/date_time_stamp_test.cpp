#include "ravelon/date_time_stamp.h"

#include <gtest/gtest.h>

#include <vector>

namespace ravelon {
namespace {

// Plays back scripted readings, one per call, in the order they are asked for.
struct ScriptedClock : Clock {
  explicit ScriptedClock(std::vector<double> script) : readings(std::move(script)) {}
  double Today() const override { return readings.at(next++); }
  double SecondsSinceMidnight() const override { return readings.at(next++); }
  MonoTime Monotonic() const override { return {}; }
  std::vector<double> readings;
  mutable size_t next = 0;
};

DateTimeStamp Stamp(double date, double time) {
  DateTimeStamp stamp;
  stamp.Set(date, time);
  return stamp;
}

TEST(DateTimeStampTest, SetToNowNeverPairsYesterdayWithEarlyToday) {
  DateTimeStamp stamp;
  // The date is read just before midnight, the time just after it.
  stamp.SetToNow(ScriptedClock({45000, 0.002, 45001, 45001, 0.004}));
  EXPECT_EQ(stamp.GetDate(), 45001);
  EXPECT_EQ(stamp.GetTime(), 0.004);
  // Rounding to the millisecond must not reach midnight.
  stamp.SetToNow(ScriptedClock({45000, 86399.9999, 45000}));
  EXPECT_EQ(stamp.GetDate(), 45000);
  EXPECT_DOUBLE_EQ(stamp.GetTime(), 86399.999);
}

TEST(DateTimeStampTest, AddCompareAndPeriodKey) {
  struct {
    double date, time, add_days, add_seconds, want_date, want_time;
  } cases[] = {
      {100, 86399.5, 0, 1, 101, 0.5},       {100, 10, 0, -20, 99, 86390},
      {100, 0, 2, 3 * 86400.0 + 5, 105, 5}, {100, 5, -1, -3 * 86400.0 - 10, 95, 86395},
      {100, 0, 0, 86400, 101, 0},
  };
  for (const auto& c : cases) {
    DateTimeStamp stamp = Stamp(c.date, c.time);
    stamp.Add(c.add_days, c.add_seconds);
    EXPECT_EQ(stamp.GetDate(), c.want_date) << c.time << " + " << c.add_seconds;
    EXPECT_DOUBLE_EQ(stamp.GetTime(), c.want_time) << c.time << " + " << c.add_seconds;
  }
  DateTimeStamp tiny = Stamp(100, 0);
  tiny.Add(0, -1e-13);  // too small to survive the carry: the time stays valid
  EXPECT_TRUE(tiny.GetTime() >= 0 && tiny.GetTime() < 86400) << tiny.GetTime();

  EXPECT_EQ(Stamp(100, 500).Compare(Stamp(100, 500)), kStampEqual);
  EXPECT_EQ(Stamp(100, 500).Compare(Stamp(100, 400)), kStampLater);
  // The date decides first, the time of day only on the same date.
  EXPECT_EQ(Stamp(100, 500).Compare(Stamp(101, 1)), kStampEarlier);

  auto key = [](double date, double time) { return Stamp(date, time).GetPeriodKey(); };
  EXPECT_EQ(key(45000, 3600), key(45000, 7199.999));
  EXPECT_NE(key(45000, 7199.999), key(45000, 7200));
  EXPECT_NE(key(45000, 3600), key(45001, 3600));
  EXPECT_EQ(key(45000, 13 * 3600 + 300), 1320 * 24 + 13);  // 45000 mod 1365 = 1320
  EXPECT_EQ(key(1364, 86399.999), 32759);
  EXPECT_EQ(key(-1, 0), 1364 * 24);
  EXPECT_EQ(key(45000, 60), key(45000 + 1365, 60));
}

}  // namespace
}  // namespace ravelon
