#include "common/schedule.h"

#include <gtest/gtest.h>

#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "ravelon/clock.h"

namespace ravelon {
namespace {

std::string DayBlock(const std::vector<ScheduleEntry>& entries) {
  std::string bytes = LongToBytes(static_cast<int32_t>(entries.size()));
  for (const auto& e : entries) bytes += DoubleToBytes(e.time) + static_cast<char>(e.action);
  return bytes;
}

bool IsDefault(const WeeklySchedule& schedule) {
  for (const auto& day : schedule) {
    if (day.size() != 1 || day[0].time != 0 || day[0].action != 1) return false;
  }
  return true;
}

TEST(ScheduleTest, ParsesSevenDaysOrFallsBackWhole) {
  // The example block: normal from midnight, disconnected from 08:00.
  EXPECT_EQ(StringToHex(DayBlock({{0, 1}, {28800, 3}})),
            "02000000000000000000000001000000000020DC4003");
  std::string week, single, longest;
  for (int day = 1; day <= 7; ++day) {
    week += DayBlock({{0, 1}, {3600.0 * day, 2}});
    single += DayBlock({{60.0 * day, 3}});
    longest += DayBlock(std::vector<ScheduleEntry>(1000, {0, 2}));
  }
  WeeklySchedule schedule;
  ParseSchedule(single, schedule);
  EXPECT_EQ(schedule[6][0].action, 3);  // one entry a day is enough
  ParseSchedule(longest, schedule);
  EXPECT_EQ(schedule[6].size(), 1000u);  // and 1000 the most
  ParseSchedule(week + "trailing", schedule);
  EXPECT_EQ(schedule[6][1].time, 7 * 3600);
  EXPECT_EQ(schedule[6][1].action, 2);

  std::string zero_third_day = DayBlock({{0, 1}}) + DayBlock({{0, 2}}) + LongToBytes(0);
  for (const std::string& broken :
       {std::string(), week.substr(0, week.size() - 1), zero_third_day,
        LongToBytes(1001) + std::string(9 * 1001, '\0'), LongToBytes(-1)}) {
    WeeklySchedule s = schedule;
    ParseSchedule(broken, s);
    EXPECT_TRUE(IsDefault(s));
  }
}

TEST(ScheduleTest, ActionInForceAndDisconnectDays) {
  WeeklySchedule schedule;
  schedule[0] = {{0, 1}, {28800, 3}, {64800, 1}};
  schedule[1] = {{36000, 2}};
  EXPECT_EQ(ScheduleActionAt(schedule, 1, 28799.999), 1);
  EXPECT_EQ(ScheduleActionAt(schedule, 1, 28800), 3);  // an entry is in force at its time
  EXPECT_EQ(ScheduleActionAt(schedule, 1, 64800), 1);
  EXPECT_EQ(ScheduleActionAt(schedule, 2, 0), 2);  // the first entry holds from midnight
  EXPECT_EQ(ScheduleActionAt(schedule, 3, 0), 1);  // no entries: normal
  EXPECT_EQ(ScheduleActionAt(schedule, 8, 0), 1);
  EXPECT_TRUE(DayHasDisconnect(schedule, 1));
  EXPECT_FALSE(DayHasDisconnect(schedule, 2));
  EXPECT_FALSE(DayHasDisconnect(schedule, 0));

  EXPECT_EQ(WeekdayOf(DaysSince18991230(2026, 1, 5)), 1);  // a Monday
  EXPECT_EQ(WeekdayOf(DaysSince18991230(2026, 1, 11)), 7);
  EXPECT_EQ(WeekdayOf(0), 6);  // 1899-12-30 was a Saturday
}

}  // namespace
}  // namespace ravelon
