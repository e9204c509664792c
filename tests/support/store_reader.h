// The frame store as tests read it: a set's frames through the public StoreReader, and the
// little-endian numbers of its files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/store_reader.h"

namespace ravelon::testing {

inline int32_t LittleEndianAt(const std::string& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return static_cast<int32_t>(v);
}

// Every frame of the set `base` (folder and name), in order, as the store's public reader walks
// it. Sets `ok` false when the set cannot be read or a record or segment is damaged.
inline std::vector<StoredFrame> ReadFileSet(FileSystem& files, const std::string& base,
                                            bool* ok = nullptr) {
  const size_t cut = base.size() >= 12 ? base.size() - 12 : 0;  // names are YYMMDDHHMMSS
  std::vector<StoredFrame> frames;
  FrameWalkCounts counts;
  std::string error;
  const auto keep = [&](const StoredFrame& frame) { return frames.push_back(frame), true; };
  const bool read =
      StoreReader(files, base.substr(0, cut)).ForEachFrame(base.substr(cut), keep, counts, error);
  if (ok) *ok = read && counts.bad_records + counts.missing_records + counts.bad_segments == 0;
  return frames;
}

}  // namespace ravelon::testing
