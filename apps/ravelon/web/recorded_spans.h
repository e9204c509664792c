// What a store holds on one day: the spans of its segments (unbroken runs
// of saved frames) clipped to that day, oldest first. The gaps between them
// are the times nothing was recorded. Reads through the public StoreReader;
// the caller's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "store/stamp_text.h"

namespace ravelon::cli {

struct RecordedSpan {
  StampKey from = 0;
  StampKey to = 0;
  std::string set;     // the file set that holds it
  int64_t frames = 0;  // in the whole segment, also outside the day
};

// The spans of the store at `prefix` (an engine's DBPath) that meet the day
// `date` (YYYYMMDD). File sets are named by the moment they began and are
// written one after another, so only the sets begun that day and the last
// one begun before it are read. Damage is skipped: a set that cannot be read
// is left out, a segment whose end lies before its start counts as its start
// alone. False, with the reason, only when the folder cannot be listed.
bool RecordedSpansOfDay(FileSystem& files, const std::string& prefix, int32_t date,
                        std::vector<RecordedSpan>& spans, std::string& error);

// {"day": "2026-12-07", "spans": [{"from": "2026-12-07 10:00:00.000", ...}]}
std::string FormatSpansJson(int32_t date, const std::vector<RecordedSpan>& spans);

}  // namespace ravelon::cli
