// The weekly connection schedule: for each weekday a list of entries, each
// saying from which time of day which action is in force. Read from the
// source's configuration and evaluated by the engine's periodic tick.
#pragma once

#include <array>
#include <cstdint>
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

}  // namespace ravelon
