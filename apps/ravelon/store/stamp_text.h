// Stamps of the frame store as people read and type them. The store keeps a
// frame's local date as YYYYMMDD and its time of day as HHMMSSmmm; the
// `store` subcommands print them as "2026-12-06 22:50:01.250" and take
// --from/--to in that form. Plain functions; any thread.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace ravelon::cli {

// A stored stamp as one number that orders like the moment it stands for:
// date * 10^9 + time.
using StampKey = int64_t;

inline StampKey ToStampKey(int32_t date, int32_t time) {
  return int64_t{date} * 1'000'000'000 + time;
}

// True when the date is a real day (years 1 to 9999) and the time a real
// time of day.
bool IsValidStamp(int32_t date, int32_t time);

// "2026-12-06 22:50:01.250"; a stamp that is not valid prints as its raw
// numbers, "(date 20261399, time 250001250)", so damage stays visible.
std::string FormatStamp(int32_t date, int32_t time);
std::string FormatStampKey(StampKey key);

// Parses a --from or --to value: "YYYY-MM-DD", "YYYY-MM-DD HH:MM",
// "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD HH:MM:SS.mmm" (one to three fraction
// digits), with "T" allowed in place of the space. What is left out is filled
// in as the start of the named day, minute or second, or, with
// `end_of_range`, as its last millisecond, so "--to 2026-12-06" includes that
// whole day. Throws CommandError naming `option` when the text is not such a
// moment.
StampKey ParseStampArgument(const std::string& text, bool end_of_range, const std::string& option);

// The frames between two stamps, both included.
struct StampRange {
  StampKey from = std::numeric_limits<StampKey>::min();
  StampKey to = std::numeric_limits<StampKey>::max();

  bool Contains(StampKey stamp) const { return from <= stamp && stamp <= to; }
  // True when [first, last] and the range share a moment.
  bool Overlaps(StampKey first, StampKey last) const { return first <= to && from <= last; }
  // "between A and B", "from A on", "up to B" or "" for everything.
  std::string Describe() const;
};

}  // namespace ravelon::cli
