// `store verify`: checks the file sets of a store and says what is wrong and
// where. A set is sound when
//   - .id2 holds whole records; when it holds any, .bin and .idx exist (a set
//     without .id2 names no frame: the engine stopped while making it or
//     while handing its files to a new set);
//   - each segment starts at frame 0 or later, ends no earlier than the
//     frame before its start (an empty segment is allowed), and names no
//     frame an earlier segment named;
//   - .idx holds a record for every frame a segment names, and each such
//     record was written (position not 0) and lies inside .bin;
//   - stamps are real dates and times and never decrease from frame to frame;
//   - each segment's start equals its first frame's stamp and is not after
//     its end (frames may be stamped after the end: a burst of frames gets
//     stamps a millisecond apart, which can run past the moment of saving);
//   - JPEG frames begin with the JPEG start marker (bytes lost in a crash
//     read back as zeros).
// Frames no segment names are not checked: they are preallocated space or
// old content of a recycled set. Reads through the public StoreReader; the
// caller's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/store_reader.h"
#include "store/store_folder.h"

namespace ravelon::cli {

// One thing wrong with a set; segment and frame are -1 where they do not
// apply.
struct StoreProblem {
  int32_t segment = -1;
  int32_t frame = -1;
  std::string text;
};

struct SetVerdict {
  std::string set;
  int64_t segments = 0;
  int64_t frames = 0;  // frames read whole
  // A set with thousands of damaged frames lists only the first problems;
  // `problem_count` counts them all.
  static constexpr size_t kMaxListed = 50;
  std::vector<StoreProblem> problems;
  int64_t problem_count = 0;

  bool Sound() const { return problem_count == 0; }
};

SetVerdict VerifyFileSet(FileSystem& files, const StoreFolder& store, const FileSetInfo& set);

// "set 261206225001, segment 1, frame 12: ...".
std::string FormatProblem(const std::string& set, const StoreProblem& problem);

}  // namespace ravelon::cli
