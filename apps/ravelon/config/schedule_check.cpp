#include "config/schedule_check.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace ravelon::cli {
namespace {

// The engine reads at most this many entries a day; more makes it fall back
// to the default schedule.
constexpr uint32_t kMaxEntriesPerDay = 1000;
constexpr size_t kEntryBytes = 9;  // a double and an action byte
constexpr double kSecondsPerDay = 86'400;
constexpr const char* kDayNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                     "Friday", "Saturday", "Sunday"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint64_t LittleEndian(std::string_view bytes) {
  uint64_t value = 0;
  for (size_t i = bytes.size(); i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[i]);
  return value;
}

}  // namespace

std::string CheckScheduleHex(const std::string& text, std::string& hex) {
  hex.clear();
  if (text.size() % 2 != 0) return "a schedule is hex text with two digits per byte";
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return "a schedule is hex text (0-9, A-F) with two digits per byte";
    bytes += static_cast<char>(high << 4 | low);
  }
  const std::string_view all = bytes;
  size_t pos = 0;
  for (int day = 0; !bytes.empty() && day < 7; ++day) {
    const std::string where = std::string(" on ") + kDayNames[day];
    if (all.size() - pos < 4) return "the schedule ends before the count of entries" + where;
    const uint64_t count = LittleEndian(all.substr(pos, 4));
    pos += 4;
    if (count < 1 || count > kMaxEntriesPerDay)
      return "a day has 1 to " + std::to_string(kMaxEntriesPerDay) + " entries, not " +
             std::to_string(count) + where;
    if ((all.size() - pos) / kEntryBytes < count)
      return "the schedule ends inside the entries" + where;
    for (uint64_t entry = 0; entry < count; ++entry, pos += kEntryBytes) {
      const double time = std::bit_cast<double>(LittleEndian(all.substr(pos, 8)));
      const uint8_t action = static_cast<uint8_t>(all[pos + 8]);
      if (!(time >= 0 && time <= kSecondsPerDay))
        return "an entry's time is not 0 to 86400 seconds after midnight" + where;
      if (action < 1 || action > 3)
        return "an entry's action is 1 (normal), 2 (no storing) or 3 (disconnected), not " +
               std::to_string(action) + where;
    }
  }
  if (pos != all.size()) return "the schedule has bytes after Sunday's entries";
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    hex += kDigits[static_cast<uint8_t>(c) >> 4];
    hex += kDigits[static_cast<uint8_t>(c) & 15];
  }
  return "";
}

}  // namespace ravelon::cli
