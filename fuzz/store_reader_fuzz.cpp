// The store reader on damaged files: a small sound file set (five frames in
// two segments) in a memory file system, its .bin, .idx and .id2 overwritten,
// cut or removed where the input says, then listed, walked and read frame by
// frame. Whatever the damage: no crash; no single allocation larger than twice
// the largest file (plus a little), so no length read from a file is trusted
// before it is checked against the files; the walk visits frames in order,
// each once, with bytes from .bin; the listing counts the frames the walk
// meets; and reading one frame gives what the walk gave for it, or fails
// exactly when the walk skipped it.
//
// Input: edits until the input ends, each an operation byte (the file is
// op % 3; (op / 3) % 4 picks: write bytes at an offset, cut to an offset,
// replace the whole content, remove the file), then the offset (two bytes,
// modulo the file's size plus one) and the bytes (a length byte first).
#include <map>

#include "harness.h"
#include "ravelon/store_reader.h"
#include "ravelon/testing/memory_file_system.h"
#include "store/record_formats.h"

using namespace ravelon;
using ravelon::fuzz::Require;

namespace {

const std::string kFolder = "/store/";
const std::string kSet = "261204134507";
const std::string kExtensions[] = {".bin", ".idx", ".id2"};

// Frame n is n + 1 bytes 'a' + n; segments 0-2 and 3-4.
void PutSoundSet(MemoryFileSystem& files) {
  std::string bin, idx;
  for (int32_t n = 0; n < 5; ++n) {
    idx += IndexRecord{static_cast<int32_t>(bin.size()) + 1,
                       n + 1,
                       134500000 + n * 1000,
                       20261204,
                       static_cast<uint8_t>(n),
                       1}
               .Encode();
    bin += std::string(n + 1, static_cast<char>('a' + n));
  }
  const std::string id2 = ID2Record{500, 0, 134500000, 20261204, 2, 134502000, 20261204}.Encode() +
                          ID2Record{500, 3, 134503000, 20261204, 4, 134504000, 20261204}.Encode();
  files.Apply(FileMutation::CreateDirectory(kFolder));
  for (const auto& [ext, bytes] : {std::pair{".bin", bin}, {".idx", idx}, {".id2", id2}}) {
    files.Apply(FileMutation::Write(kFolder + kSet + ext, 0, bytes));
  }
}

void ApplyEdits(fuzz::FuzzInput& input, MemoryFileSystem& files) {
  while (!input.empty()) {
    const uint8_t op = input.Byte();
    const std::string path = kFolder + kSet + kExtensions[op % 3];
    const size_t offset = input.Short() % (files.Contents(path).size() + 1);
    const std::string bytes(input.Sized());
    if (!files.FileExists(path)) continue;
    switch (op / 3 % 4) {
      case 0:
        files.Apply(FileMutation::Write(path, static_cast<int64_t>(offset), bytes));
        break;
      case 1:
        files.Apply(FileMutation::SetSize(path, static_cast<int64_t>(offset)));
        break;
      case 2:
        files.Apply(FileMutation::SetSize(path, 0));
        files.Apply(FileMutation::Write(path, 0, bytes));
        break;
      default:
        files.Apply(FileMutation::Remove(path));
    }
  }
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  MemoryFileSystem files;
  PutSoundSet(files);
  ApplyEdits(input, files);
  size_t largest_file = 0, file_count = 0;
  for (const std::string& ext : kExtensions) {
    largest_file = std::max(largest_file, files.Contents(kFolder + kSet + ext).size());
    file_count += files.FileExists(kFolder + kSet + ext);
  }
  const int64_t bin_bytes = static_cast<int64_t>(files.Contents(kFolder + kSet + ".bin").size());
  const int64_t idx_records =
      static_cast<int64_t>(files.Contents(kFolder + kSet + ".idx").size()) / kIndexRecordBytes;

  StoreReader reader(files, kFolder);
  std::string error;
  std::map<int32_t, StoredFrame> walked;
  FrameWalkCounts counts;
  std::vector<FileSetInfo> sets;
  bool walk_read = false;
  {
    const LargestAllocation allocation;
    Require(reader.ListFileSets(sets, error) && sets.size() == std::min<size_t>(file_count, 1),
            "the set is listed while it has a file");
    std::vector<SegmentInfo> segments;
    reader.ReadSegments(kSet, segments, error);
    walk_read = reader.ForEachFrame(
        kSet,
        [&](const StoredFrame& frame) {
          Require(walked.empty() || frame.index > walked.rbegin()->first, "frames come in order");
          Require(frame.index < idx_records && static_cast<int64_t>(frame.data.size()) <= bin_bytes,
                  "a frame has its record and its bytes");
          walked.emplace(frame.index, frame);
          return true;
        },
        counts, error);
    Require(allocation.Bytes() <= 2 * largest_file + 1024, "allocations stay within the files");
  }
  Require(!walk_read || (counts.frames == static_cast<int64_t>(walked.size()) &&
                         sets[0].frames == counts.frames + counts.bad_records),
          "the listing counts the frames the walk meets");
  // Frames read one by one: as walked, and only those (the first few, for speed).
  for (int32_t index = 0; walk_read && index < std::min<int64_t>(idx_records, 16); ++index) {
    StoredFrame frame;
    const bool read = reader.ReadFrame(kSet, index, frame, error);
    const auto it = walked.find(index);
    Require(read == (it != walked.end()), "a frame reads alone when the walk met it");
    Require(!read || (frame.data == it->second.data && frame.segment == it->second.segment &&
                      frame.time == it->second.time),
            "a frame reads alone as the walk met it");
  }
}
