// The weekly connection schedule: for each weekday a list of entries, each
// saying from which time of day which action is in force. Read from the
// source's configuration and evaluated by the engine's periodic tick.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ravelon {

enum ScheduleAction : uint8_t {
  kScheduleNormal = 1,        // connected, frames stored
  kScheduleNoStoring = 2,     // connected, frames not put into the save queue
  kScheduleDisconnected = 3,  // the source is disconnected
};

struct ScheduleEntry {
  double time = 0;  // seconds since midnight at which the entry takes effect
  uint8_t action = kScheduleNormal;
};

// Index weekday - 1, Monday = 1 ... Sunday = 7. A day without entries is
// normal all day.
using WeeklySchedule = std::array<std::vector<ScheduleEntry>, 7>;

// Every day: one entry, normal from midnight.
void SetDefaultSchedule(WeeklySchedule& schedule);

// Reads the binary form: for each day from Monday to Sunday, a 32-bit
// little-endian count (1 to 1000), then per entry an 8-byte double time and a
// one-byte action. Bytes after Sunday are ignored. No bytes, or any fault,
// gives the default schedule for all seven days.
void ParseSchedule(std::string_view bytes, WeeklySchedule& schedule);

// The action in force on `day` (1..7) at `time`: the first entry's action
// holds from midnight until the second entry's time, and so on. 1 for a day
// out of range or without entries.
uint8_t ScheduleActionAt(const WeeklySchedule& schedule, int16_t day, double time);

// True when `day` has any entry that disconnects the source.
bool DayHasDisconnect(const WeeklySchedule& schedule, int16_t day);

// The weekday (Monday = 1 ... Sunday = 7) of a day number counted from
// 1899-12-30, which was a Saturday.
int16_t WeekdayOf(double date);

}  // namespace ravelon
