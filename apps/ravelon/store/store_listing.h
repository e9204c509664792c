// `store ls`: the file sets of a store with their segments, sizes and notes
// on damage, as text for people or as JSON for scripts. Reads through the
// public StoreReader only; the caller's thread.
#pragma once

#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/store_reader.h"
#include "store/store_folder.h"

namespace ravelon::cli {

// One file set as `store ls` shows it.
struct SetListing {
  FileSetInfo info;
  std::vector<SegmentInfo> segments;
  std::string segments_error;  // why .id2 could not be read; "" when it could
};

// Every set of the store with its segments; throws CommandError as
// ListStoreSets does.
std::vector<SetListing> ReadListing(FileSystem& files, const StoreFolder& store);

std::string FormatListing(const StoreFolder& store, const std::vector<SetListing>& sets);
std::string FormatListingJson(const StoreFolder& store, const std::vector<SetListing>& sets);

// The frames a segment names; 0 for one that runs backwards.
int64_t SegmentFrames(const SegmentInfo& segment);

// "532 B", "4.2 KB", "12.3 MB" (1 KB = 1,024 bytes, as the engine counts its
// size limit in MB of 1,048,576 bytes); "missing" for -1.
std::string FormatBytes(int64_t bytes);

}  // namespace ravelon::cli
