// The frame store reader: every read goes through a SetFile (opened only when
// it exists, never created), segments and index records are read in chunks,
// and frame bytes one frame at a time, so memory stays bounded by a chunk and
// the largest frame allowed.
#include "ravelon/store_reader.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "store/record_formats.h"

namespace ravelon {
namespace {

constexpr size_t kNameDigits = 12;  // YYMMDDHHMMSS
// Records read at once: few reads per walk, at most 4,096 × 28 bytes held.
constexpr int64_t kRecordsPerRead = 4'096;
constexpr std::string_view kExtensions[] = {".bin", ".idx", ".id2"};

bool IsSetName(std::string_view name) {
  return name.size() == kNameDigits &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool CheckName(const std::string& name, std::string& error) {
  if (IsSetName(name)) return true;
  error = "\"" + name + "\" is not a file set name (twelve digits YYMMDDHHMMSS)";
  return false;
}

// One file of a set. The FileSystem opens files for reading and writing and
// creates a missing one, so a file is opened only after it was seen to exist.
class SetFile {
 public:
  SetFile(FileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  int64_t size() const { return size_; }

  // False with the reason when the file is missing or cannot be opened.
  bool Open(std::string& error) {
    if (!files_.FileExists(path_)) {
      error = path_ + " does not exist";
      return false;
    }
    std::string reason;
    if (files_.Open(path_, FileSystem::OpenMode::kOpenOrCreate, file_, reason) != 0) {
      error = "cannot open " + path_ + ": " + reason;
      return false;
    }
    return RefreshSize(error);
  }

  // Takes the size again: an engine may have written on since.
  bool RefreshSize(std::string& error) {
    std::string reason;
    if (file_->Size(size_, reason) != 0) {
      error = "cannot read the size of " + path_ + ": " + reason;
      return false;
    }
    return true;
  }

  // Up to `n` bytes at `offset`; fewer at the end of the file.
  bool Read(int64_t offset, int64_t n, std::string& data, std::string& error) {
    std::string reason;
    if (file_->ReadAt(offset, static_cast<size_t>(n), data, reason) != 0) {
      error = "cannot read " + path_ + ": " + reason;
      return false;
    }
    return true;
  }

 private:
  FileSystem& files_;
  std::string path_;
  std::unique_ptr<RandomAccessFile> file_;
  int64_t size_ = 0;
};

SegmentInfo ToSegmentInfo(const ID2Record& record) {
  return {.save_interval = record.saveInterval,
          .start_frame = record.startFrame,
          .start_date = record.startDate,
          .start_time = record.startTime,
          .end_frame = record.endFrame,
          .end_date = record.endDate,
          .end_time = record.endTime};
}

// Hands each whole record of .id2 to `visit` with its number, in file order,
// until `visit` returns false. A partial record at the end is not read.
// False only for a failing read.
template <typename Visit>
bool ForEachSegment(SetFile& id2, Visit&& visit, std::string& error) {
  std::string bytes;
  for (int64_t first = 0;; first += kRecordsPerRead) {
    if (!id2.Read(first * kID2RecordBytes, kRecordsPerRead * kID2RecordBytes, bytes, error)) {
      return false;
    }
    const int64_t whole = static_cast<int64_t>(bytes.size()) / kID2RecordBytes;
    for (int64_t k = 0; k < whole; ++k) {
      ID2Record record;
      record.Decode(std::string_view(bytes).substr(k * kID2RecordBytes, kID2RecordBytes));
      if (!visit(static_cast<int32_t>(first + k), ToSegmentInfo(record))) return true;
    }
    if (whole < kRecordsPerRead) return true;
  }
}

// Turns segments into runs of frames that come in order and each once: a
// segment that reaches back over frames already named keeps only the frames
// after them.
class FrameRuns {
 public:
  // The frames [from, to] of `segment` not named before; false when none are
  // left. Counts a segment that starts below 0, ends before it starts or
  // reaches back.
  bool Next(const SegmentInfo& segment, int64_t& from, int64_t& to, int64_t& bad_segments) {
    if (segment.start_frame < 0 || segment.end_frame < segment.start_frame) {
      ++bad_segments;
      return false;
    }
    from = segment.start_frame;
    to = segment.end_frame;
    if (from < next_) {
      ++bad_segments;
      from = next_;
    }
    if (from > to) return false;
    next_ = to + 1;
    return true;
  }

 private:
  int64_t next_ = 0;
};

enum class RecordCheck { kGood, kUnwritten, kOutside };

// Reads the frame that `record` describes from .bin, or says why it is bad:
// never written, a length out of bounds, or bytes past the end of .bin (the
// size is taken again first: .bin may have grown since it was opened). False
// only for a failing read.
bool LoadFrame(const IndexRecord& record, SetFile& bin, StoredFrame& frame, RecordCheck& check,
               std::string& error) {
  check = RecordCheck::kUnwritten;
  if (record.position < 1) return true;
  check = RecordCheck::kOutside;
  if (record.length < 0 || record.length > StoreReader::kMaxFrameBytes) return true;
  const int64_t offset = int64_t{record.position} - 1;
  if (offset + record.length > bin.size()) {
    if (!bin.RefreshSize(error)) return false;
    if (offset + record.length > bin.size()) return true;
  }
  if (!bin.Read(offset, record.length, frame.data, error)) return false;
  if (static_cast<int64_t>(frame.data.size()) != record.length) return true;  // cut meanwhile
  check = RecordCheck::kGood;
  frame.data_type = record.dataType;
  frame.motion = record.motion;
  frame.date = record.date;
  frame.time = record.time;
  return true;
}

std::string Plural(int64_t n, const std::string& word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Adds `text` to a set's note; false, so that it can follow a failed open.
bool Noted(std::string& note, const std::string& text) {
  if (!note.empty()) note += "; ";
  note += text;
  return false;
}

// Counts a set's segments and the frames a walk would meet, from .id2 and the
// number of whole .idx records, and notes what a walk would skip.
void CountFrames(SetFile& id2, int64_t idx_records, FileSetInfo& set) {
  FrameRuns runs;
  int64_t bad_segments = 0, missing = 0;
  std::string error;
  const auto count = [&](int32_t, const SegmentInfo& segment) {
    ++set.segments;
    int64_t from = 0, to = 0;
    if (runs.Next(segment, from, to, bad_segments)) {
      const int64_t held = std::max<int64_t>(std::min(to, idx_records - 1) - from + 1, 0);
      set.frames += held;
      missing += to - from + 1 - held;
    }
    return true;
  };
  if (!ForEachSegment(id2, count, error)) Noted(set.note, error);
  if (bad_segments > 0) Noted(set.note, Plural(bad_segments, "bad segment"));
  if (missing > 0 && set.idx_bytes >= 0) {
    Noted(set.note, Plural(missing, "frame") + " named by segments past the end of .idx");
  }
}

}  // namespace

StoreReader::StoreReader(FileSystem& files, std::string folder)
    : files_(files), folder_(std::move(folder)) {}

bool StoreReader::ListFileSets(std::vector<FileSetInfo>& sets, std::string& error) {
  sets.clear();
  // The folder may end in a name prefix ("/store/cam1_"): base names are the
  // folder text followed directly by the digits.
  const size_t slash = folder_.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : folder_.substr(0, slash + 1);
  const std::string prefix = folder_.substr(directory.size());
  std::vector<DirectoryEntry> entries;
  std::string reason;
  if (files_.List(directory.empty() ? "." : directory, entries, reason) != 0) {
    error = "cannot list " + (directory.empty() ? std::string(".") : directory) + ": " + reason;
    return false;
  }
  std::map<std::string, FileSetInfo> found;  // by name, so oldest first
  for (const DirectoryEntry& entry : entries) {
    const std::string_view name = entry.name;
    if (entry.is_directory || name.size() != prefix.size() + kNameDigits + 4 ||
        name.substr(0, prefix.size()) != prefix) {
      continue;
    }
    const std::string_view digits = name.substr(prefix.size(), kNameDigits);
    const std::string_view extension = name.substr(prefix.size() + kNameDigits);
    if (IsSetName(digits) && std::find(std::begin(kExtensions), std::end(kExtensions), extension) !=
                                 std::end(kExtensions)) {
      found[std::string(digits)].name = digits;
    }
  }

  for (auto& [name, set] : found) {
    const std::string base = folder_ + name;
    SetFile bin(files_, base + ".bin"), idx(files_, base + ".idx"), id2(files_, base + ".id2");
    const bool opened[] = {bin.Open(reason) || Noted(set.note, reason),
                           idx.Open(reason) || Noted(set.note, reason),
                           id2.Open(reason) || Noted(set.note, reason)};
    if (opened[0]) set.bin_bytes = bin.size();
    if (opened[1]) set.idx_bytes = idx.size();
    if (!opened[2]) continue;
    set.id2_bytes = id2.size();
    if (set.id2_bytes % kID2RecordBytes != 0) {
      Noted(set.note, ".id2 ends with a partial record of " +
                          Plural(set.id2_bytes % kID2RecordBytes, "byte"));
    }
    CountFrames(id2, std::max<int64_t>(set.idx_bytes, 0) / kIndexRecordBytes, set);
  }
  for (auto& [name, set] : found) sets.push_back(std::move(set));
  return true;
}

bool StoreReader::ReadSegments(const std::string& name, std::vector<SegmentInfo>& segments,
                               std::string& error) {
  segments.clear();
  if (!CheckName(name, error)) return false;
  SetFile id2(files_, folder_ + name + ".id2");
  if (!id2.Open(error)) return false;
  if (id2.size() / kID2RecordBytes > kMaxSegments) {
    error = id2.path() + " holds " + std::to_string(id2.size() / kID2RecordBytes) +
            " segments, more than the " + std::to_string(kMaxSegments) + " a reader lists";
    return false;
  }
  // The file may have grown since its size was taken.
  return ForEachSegment(
      id2,
      [&](int32_t, const SegmentInfo& segment) {
        segments.push_back(segment);
        return static_cast<int64_t>(segments.size()) < kMaxSegments;
      },
      error);
}

bool StoreReader::ReadFrame(const std::string& name, int32_t index, StoredFrame& frame,
                            std::string& error) {
  frame = StoredFrame{};
  if (!CheckName(name, error)) return false;
  const std::string base = folder_ + name;
  const std::string what = "frame " + std::to_string(index) + " of " + base;
  SetFile id2(files_, base + ".id2"), idx(files_, base + ".idx"), bin(files_, base + ".bin");
  if (!id2.Open(error) || !idx.Open(error) || !bin.Open(error)) return false;

  // The frame belongs to the set only when a segment names it, as in a walk.
  FrameRuns runs;
  int64_t bad_segments = 0;
  int32_t segment_number = -1;
  const bool read = ForEachSegment(
      id2,
      [&](int32_t number, const SegmentInfo& segment) {
        int64_t from = 0, to = 0;
        if (runs.Next(segment, from, to, bad_segments) && from <= index && index <= to) {
          segment_number = number;
        }
        return segment_number < 0;
      },
      error);
  if (!read) return false;
  if (segment_number < 0) {
    error = what + " is not named by any segment";
    return false;
  }

  std::string bytes;
  if (!idx.Read(int64_t{index} * kIndexRecordBytes, kIndexRecordBytes, bytes, error)) return false;
  IndexRecord record;
  if (!record.Decode(bytes)) {
    error = what + " has no record in .idx (" + std::to_string(idx.size()) + " bytes)";
    return false;
  }
  RecordCheck check = RecordCheck::kGood;
  if (!LoadFrame(record, bin, frame, check, error)) return false;
  if (check != RecordCheck::kGood) {
    frame = StoredFrame{};
    error = check == RecordCheck::kUnwritten
                ? what + " was never written (its index record has position " +
                      std::to_string(record.position) + ")"
                : what + " lies outside .bin (position " + std::to_string(record.position) +
                      ", length " + std::to_string(record.length) + ", .bin has " +
                      std::to_string(bin.size()) + " bytes)";
    return false;
  }
  frame.index = index;
  frame.segment = segment_number;
  return true;
}

bool StoreReader::ForEachFrame(const std::string& name, const FrameVisitor& visit,
                               FrameWalkCounts& counts, std::string& error) {
  counts = FrameWalkCounts{};
  if (!CheckName(name, error)) return false;
  const std::string base = folder_ + name;
  SetFile id2(files_, base + ".id2"), idx(files_, base + ".idx"), bin(files_, base + ".bin");
  if (!id2.Open(error) || !idx.Open(error) || !bin.Open(error)) return false;

  FrameRuns runs;
  bool failed = false;
  std::string bytes;
  StoredFrame frame;
  // Visits frames [from, to] of segment `number`; false to end the walk.
  const auto walk_run = [&](int32_t number, int64_t from, int64_t to) {
    while (from <= to) {
      const int64_t wanted = std::min(to - from + 1, kRecordsPerRead);
      if (!idx.Read(from * kIndexRecordBytes, wanted * kIndexRecordBytes, bytes, error)) {
        return !(failed = true);
      }
      const int64_t held = static_cast<int64_t>(bytes.size()) / kIndexRecordBytes;
      for (int64_t k = 0; k < held; ++k) {
        IndexRecord record;
        record.Decode(std::string_view(bytes).substr(k * kIndexRecordBytes, kIndexRecordBytes));
        RecordCheck check = RecordCheck::kGood;
        if (!LoadFrame(record, bin, frame, check, error)) return !(failed = true);
        if (check != RecordCheck::kGood) {
          ++counts.bad_records;
          continue;
        }
        frame.index = static_cast<int32_t>(from + k);
        frame.segment = number;
        ++counts.frames;
        if (!visit(frame)) {
          counts.stopped = true;
          return false;
        }
      }
      if (held < wanted) {  // .idx ends inside the run
        counts.missing_records += to - (from + held) + 1;
        return true;
      }
      from += wanted;
    }
    return true;
  };
  const bool read = ForEachSegment(
      id2,
      [&](int32_t number, const SegmentInfo& segment) {
        int64_t from = 0, to = 0;
        return !runs.Next(segment, from, to, counts.bad_segments) || walk_run(number, from, to);
      },
      error);
  return read && !failed;
}

}  // namespace ravelon
