#include "common/schedule.h"

#include <cmath>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

constexpr int32_t kMaxEntriesPerDay = 1000;
constexpr size_t kEntryBytes = 9;

const std::vector<ScheduleEntry>* DayList(const WeeklySchedule& schedule, int16_t day) {
  if (day < 1 || day > 7) return nullptr;
  return &schedule[day - 1];
}

}  // namespace

void SetDefaultSchedule(WeeklySchedule& schedule) {
  for (auto& day : schedule) day.assign(1, ScheduleEntry{0, kScheduleNormal});
}

void ParseSchedule(std::string_view bytes, WeeklySchedule& schedule) {
  WeeklySchedule parsed;
  size_t pos = 0;
  for (auto& day : parsed) {
    const int32_t count = bytes.size() - pos >= 4 ? BytesToLong(bytes.substr(pos, 4)) : 0;
    pos += 4;
    // The count is checked before anything is allocated, and against the
    // bytes that are really there.
    if (count < 1 || count > kMaxEntriesPerDay || pos + kEntryBytes * count > bytes.size()) {
      SetDefaultSchedule(schedule);
      return;
    }
    day.resize(count);
    for (auto& entry : day) {
      entry.time = BytesToDouble(bytes.substr(pos, 8));
      entry.action = static_cast<uint8_t>(bytes[pos + 8]);
      pos += kEntryBytes;
    }
  }
  schedule = std::move(parsed);
}

uint8_t ScheduleActionAt(const WeeklySchedule& schedule, int16_t day, double time) {
  const auto* entries = DayList(schedule, day);
  if (entries == nullptr || entries->empty()) return kScheduleNormal;
  for (size_t i = 1; i < entries->size(); ++i) {
    if ((*entries)[i].time > time) return (*entries)[i - 1].action;
  }
  return entries->back().action;
}

bool DayHasDisconnect(const WeeklySchedule& schedule, int16_t day) {
  const auto* entries = DayList(schedule, day);
  if (entries == nullptr) return false;
  for (const auto& entry : *entries) {
    if (entry.action == kScheduleDisconnected) return true;
  }
  return false;
}

int16_t WeekdayOf(double date) {
  const int64_t day = static_cast<int64_t>(std::floor(date));
  return static_cast<int16_t>(((day + 5) % 7 + 7) % 7 + 1);
}

}  // namespace ravelon
