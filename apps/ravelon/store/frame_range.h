// The frames of a store between two stamps, set after set, for `store export`
// and `store sheet`. Reads through the public StoreReader only; damage is
// skipped and counted, never fatal. The caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/store_reader.h"
#include "store/stamp_text.h"
#include "store/store_folder.h"

namespace ravelon::cli {

// What a walk over a range met.
struct RangeWalkCounts {
  int64_t frames = 0;  // in the range, handed to the visitor
  // Summed over the sets the walk read: index records skipped as never
  // written or pointing outside .bin, frames named by a segment but without
  // a record, and segments that run backwards or overlap. The reader cannot
  // say which of them fell inside the range.
  int64_t bad_records = 0;
  int64_t missing_records = 0;
  int64_t bad_segments = 0;
  // Sets that could not be read at all, with the reason for each.
  std::vector<std::string> unreadable_sets;

  bool Damaged() const {
    return bad_records + missing_records + bad_segments > 0 || !unreadable_sets.empty();
  }
  // One sentence on what was skipped; "" when nothing was.
  std::string DescribeDamage() const;
};

// Calls `visit` with the set's position in `sets` and each frame whose stamp lies in
// `range`, oldest set first, each set's frames in stored order, until
// `visit` returns false. A set is read only when one of its segments'
// start-to-end times meets the range (or its segment times are damaged), and
// its walk ends after the last segment that meets it.
using RangeVisitor = std::function<bool(int32_t set, const StoredFrame& frame)>;
RangeWalkCounts ForEachFrameInRange(FileSystem& files, const StoreFolder& store,
                                    const std::vector<FileSetInfo>& sets, const StampRange& range,
                                    const RangeVisitor& visit);

}  // namespace ravelon::cli
