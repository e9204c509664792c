// A reader of the frame store for tools that run without an engine: lists
// the file sets of a store folder, reads a set's segments and its frames
// with their data type, motion, date, time and bytes.
//
// A file set is three files with one base name, the folder followed by
// twelve digits YYMMDDHHMMSS (the moment the set began):
//   .bin  the frames' bytes back to back;
//   .idx  18-byte records, one per frame: 1-based position in .bin (0 =
//         never written), length, time HHMMSSmmm, date YYYYMMDD, motion
//         (1 byte), data type (1 byte);
//   .id2  28-byte records, one per segment (an unbroken run of frames):
//         save interval, StartFrame, start time, start date, EndFrame, end
//         time, end date.
// Integers are 32-bit signed little-endian. Only the frames that a segment
// names belong to the set: the .bin and .idx files run on past them
// (preallocated space, or old content of a recycled set).
//
// The caller owns the reader and the FileSystem, which must outlive it. One
// reader is used on one thread at a time; it keeps nothing between calls.
//
// The reader only reads and never repairs: a damaged set is reported as it
// is. It works while an engine writes the same folder and sees what has been
// written: the engine writes a save run's bytes to .bin, then its records to
// .idx, then the segment's end to .id2, so every frame that a segment names
// already has its record and its bytes. The FileSystem has no read-only
// open, so the reader opens only files it has just seen exist; a file
// removed in that instant comes back empty.
//
// Bad input is never fatal: a record that was never written, points past
// the end of .bin or has a length out of bounds is skipped and counted; a
// partial record at the end of .idx or .id2 is not read; a segment that
// runs backwards is skipped and counted. Failures come back as false with a
// sentence in `error`; nothing throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ravelon/file_system.h"

namespace ravelon {

// One file set of a folder, as ListFileSets finds it.
struct FileSetInfo {
  std::string name;        // YYMMDDHHMMSS, without folder or extension
  int64_t bin_bytes = -1;  // file sizes; -1 when the file is missing
  int64_t idx_bytes = -1;
  int64_t id2_bytes = -1;
  int64_t segments = 0;  // whole records in .id2
  // Frames that the segments name and .idx holds a record for, each counted
  // once (ForEachFrame may still skip some of them as bad).
  int64_t frames = 0;
  // Empty for a sound set; otherwise what is wrong, e.g. a missing file.
  std::string note;
};

// One record of .id2. Dates are YYYYMMDD, times HHMMSSmmm.
struct SegmentInfo {
  int32_t save_interval = 0;  // milliseconds
  int32_t start_frame = 0;
  int32_t start_date = 0;
  int32_t start_time = 0;
  int32_t end_frame = 0;
  int32_t end_date = 0;
  int32_t end_time = 0;
};

struct StoredFrame {
  int32_t index = 0;    // the frame's number within its set (its .idx record)
  int32_t segment = 0;  // the number of the segment that names it
  uint8_t data_type = 0;
  uint8_t motion = 0;  // percent
  int32_t date = 0;    // YYYYMMDD
  int32_t time = 0;    // HHMMSSmmm
  std::string data;
};

// What a walk over a set's frames met.
struct FrameWalkCounts {
  int64_t frames = 0;  // handed to the visitor
  // Index records never written, or whose bytes lie outside .bin.
  int64_t bad_records = 0;
  // Frames named by a segment that .idx holds no record for.
  int64_t missing_records = 0;
  // Segments with a negative StartFrame, an EndFrame before StartFrame, or
  // that reach back over frames an earlier segment named (the frames after
  // those are still visited).
  int64_t bad_segments = 0;
  bool stopped = false;  // the visitor asked to stop
};

class StoreReader {
 public:
  // ReadSegments holds every segment in memory; a segment begins when the
  // engine reconnects or starts, so even a set of months has far fewer.
  static constexpr int64_t kMaxSegments = 1'000'000;
  // The engine takes each frame whole out of its input buffer, which never
  // grows past 10,000,000 bytes; a longer record is damage, and refusing it
  // keeps one corrupt length from asking for up to a whole 2,000 MB .bin.
  static constexpr int32_t kMaxFrameBytes = 64 * 1'048'576;

  // `folder` is the engine's DBPath: file set base names are `folder`
  // followed directly by the twelve digits, so it normally ends with "/";
  // empty means the working folder.
  StoreReader(FileSystem& files, std::string folder);

  // The file sets of the folder, oldest first (by name). A set lacking one
  // of its files is listed with a note; names that are not a file set's
  // (other lengths, other characters, other extensions, folders) are
  // ignored. False only when the folder cannot be listed.
  bool ListFileSets(std::vector<FileSetInfo>& sets, std::string& error);

  // Every whole record of the set's .id2, in file order. False when the
  // name is not twelve digits, .id2 is missing or unreadable, or it holds
  // more than kMaxSegments records.
  bool ReadSegments(const std::string& name, std::vector<SegmentInfo>& segments,
                    std::string& error);

  // Frame `index` of the set. False, with the reason, when a segment does
  // not name it, its record is missing or was never written, or its bytes
  // lie outside .bin.
  bool ReadFrame(const std::string& name, int32_t index, StoredFrame& frame, std::string& error);

  // Every frame of every segment, in order, each at most once, handed to
  // `visit` one at a time (a large set is never held in memory); `visit`
  // returns false to stop. Bad records and segments are skipped and counted
  // in `counts`. False when the set cannot be read at all (a bad name, a
  // missing file, a failing read).
  using FrameVisitor = std::function<bool(const StoredFrame&)>;
  bool ForEachFrame(const std::string& name, const FrameVisitor& visit, FrameWalkCounts& counts,
                    std::string& error);

 private:
  FileSystem& files_;
  std::string folder_;
};

}  // namespace ravelon
