// `store sheet`: one JPEG contact sheet of evenly spaced JPEG frames of a
// range, each thumbnail decoded at a reduced scale and labelled with its
// stamp. A frame that cannot be read or decoded becomes a grey tile with its
// stamp; it never fails the sheet. Reads through the public StoreReader; the
// caller's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/store_reader.h"
#include "store/frame_range.h"
#include "store/stamp_text.h"
#include "store/store_folder.h"

namespace ravelon::cli {

struct SheetOptions {
  // Bounds on the options: a sheet stays a picture one can open and look at.
  static constexpr int kMaxColumns = 64;
  static constexpr int kMaxCount = 1024;
  static constexpr int kMinWidth = 16;  // narrower thumbnails show nothing
  static constexpr int kMaxWidth = 1024;
  // The whole sheet is held as RGB before it is encoded: 50 megapixels are
  // 150 MB.
  static constexpr int64_t kMaxSheetPixels = 50'000'000;

  int columns = 4;
  int count = 16;   // thumbnails at most; fewer when the range has fewer pictures
  int width = 160;  // of each thumbnail, in pixels
};

// Throws CommandError naming the option that is out of bounds.
void CheckSheetOptions(const SheetOptions& options);

struct SheetResult {
  std::string jpeg;
  int width = 0;
  int height = 0;
  int tiles = 0;
  // One line per grey tile: which frame, and why it could not be shown.
  std::vector<std::string> grey_tiles;
  RangeWalkCounts walk;
};

// Throws CommandError when the range holds no JPEG frame that could be
// read, the sheet would exceed kMaxSheetPixels, or encoding fails.
SheetResult MakeContactSheet(FileSystem& files, const StoreFolder& store,
                             const std::vector<FileSetInfo>& sets, const StampRange& range,
                             const SheetOptions& options);

}  // namespace ravelon::cli
