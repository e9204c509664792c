#include "web/recorded_spans.h"

#include <algorithm>
#include <cstdio>

#include "cli/json_text.h"
#include "ravelon/store_reader.h"
#include "store/store_listing.h"

namespace ravelon::cli {
namespace {

constexpr StampKey kLastTimeOfDay = 235959999;

// A set's name begins with the two-digit year, month and day it began.
std::string DayPrefix(int32_t date) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", date / 10000 % 100, date / 100 % 100,
                date % 100);
  return text;
}

}  // namespace

bool RecordedSpansOfDay(FileSystem& files, const std::string& prefix, int32_t date,
                        std::vector<RecordedSpan>& spans, std::string& error) {
  spans.clear();
  StoreReader reader(files, prefix);
  std::vector<FileSetInfo> sets;
  if (!reader.ListFileSets(sets, error)) return false;
  const std::string day = DayPrefix(date);
  // The sets begun that day, and the last one before it, which may run on
  // into the day.
  const auto first_of_day = std::lower_bound(sets.begin(), sets.end(), day,
                                             [](const FileSetInfo& s, const std::string& d) {
                                               return s.name.compare(0, d.size(), d) < 0;
                                             });
  auto first = first_of_day == sets.begin() ? first_of_day : first_of_day - 1;
  const StampRange range{ToStampKey(date, 0), ToStampKey(date, 0) + kLastTimeOfDay};
  for (auto set = first; set != sets.end() && set->name.compare(0, day.size(), day) <= 0; ++set) {
    std::vector<SegmentInfo> segments;
    std::string unreadable;
    if (!reader.ReadSegments(set->name, segments, unreadable)) continue;
    for (const SegmentInfo& s : segments) {
      const StampKey start = ToStampKey(s.start_date, s.start_time);
      const StampKey end = std::max(start, ToStampKey(s.end_date, s.end_time));
      if (!range.Overlaps(start, end)) continue;
      spans.push_back(
          {std::max(start, range.from), std::min(end, range.to), set->name, SegmentFrames(s)});
    }
  }
  return true;
}

std::string FormatSpansJson(int32_t date, const std::vector<RecordedSpan>& spans) {
  char day[16];
  std::snprintf(day, sizeof day, "%04d-%02d-%02d", date / 10000, date / 100 % 100, date % 100);
  std::string out = std::string("{\"day\": \"") + day + "\", \"spans\": [";
  for (size_t i = 0; i < spans.size(); ++i) {
    const RecordedSpan& s = spans[i];
    out += std::string(i ? ", " : "") + "{\"from\": " + JsonString(FormatStampKey(s.from)) +
           ", \"to\": " + JsonString(FormatStampKey(s.to)) + ", \"set\": " + JsonString(s.set) +
           ", \"frames\": " + std::to_string(s.frames) + "}";
  }
  return out + "]}\n";
}

}  // namespace ravelon::cli
