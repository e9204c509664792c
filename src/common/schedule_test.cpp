#include "common/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

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

// A week parses whole or falls back whole (a week a byte short is among the
// source settings' cases); then which action is in force when.
TEST(ScheduleTest, ParsesSevenDaysOrFallsBackWholeAndSaysWhatIsInForce) {
  // Normal from midnight, disconnected from 08:00.
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
  EXPECT_EQ(std::pair(schedule[6][1].time, schedule[6][1].action),
            std::pair(7 * 3600.0, uint8_t{2}));
  const std::string zero_third_day = DayBlock({{0, 1}}) + DayBlock({{0, 2}}) + LongToBytes(0);
  for (const std::string& broken :
       {std::string(), zero_third_day, LongToBytes(1001) + std::string(9 * 1001, '\0'),
        LongToBytes(-1)}) {
    WeeklySchedule s = schedule;
    ParseSchedule(broken, s);
    EXPECT_TRUE(std::ranges::all_of(s, [](const std::vector<ScheduleEntry>& day) {
      return day.size() == 1 && day[0].time == 0 && day[0].action == 1;
    }));
  }

  schedule = {};
  schedule[0] = {{0, 1}, {28800, 3}, {64800, 1}};
  schedule[1] = {{36000, 2}};
  // An entry is in force from its time; the first from midnight; no entries: normal.
  const std::tuple<int16_t, double, uint8_t> rows[] = {
      {1, 28799.999, 1}, {1, 28800, 3}, {1, 64800, 1}, {2, 0, 2}, {3, 0, 1}, {8, 0, 1}};
  for (const auto& [day, time, action] : rows)
    EXPECT_EQ(ScheduleActionAt(schedule, day, time), action) << day << " " << time;
  EXPECT_EQ(std::tuple(DayHasDisconnect(schedule, 1), DayHasDisconnect(schedule, 2),
                       DayHasDisconnect(schedule, 0)),
            std::tuple(true, false, false));
  // 2026-01-05 was a Monday, 1899-12-30 a Saturday; 1900 was no leap year, 2000 was.
  EXPECT_EQ(std::tuple(WeekdayOf(DaysSince18991230(2026, 1, 5)),
                       WeekdayOf(DaysSince18991230(2026, 1, 11)), WeekdayOf(0),
                       DaysSince18991230(1899, 12, 29), DaysSince18991230(1900, 3, 1),
                       DaysSince18991230(2000, 3, 1) - DaysSince18991230(2000, 2, 28)),
            std::tuple(1, 7, 6, -1, 61, 2));
}

}  // namespace
}  // namespace ravelon
