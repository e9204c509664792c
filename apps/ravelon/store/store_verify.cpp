#include "store/store_verify.h"

#include <algorithm>
#include <cstdio>

#include "ravelon/media_frame.h"
#include "store/stamp_text.h"

namespace ravelon::cli {
namespace {

// Record sizes of .idx and .id2, as the store reader's header gives them.
constexpr int64_t kIndexRecordBytes = 18;
constexpr int64_t kSegmentRecordBytes = 28;

std::string Frames(int64_t from, int64_t to) {
  return from == to ? "frame " + std::to_string(from)
                    : "frames " + std::to_string(from) + "-" + std::to_string(to);
}

bool BeginsLikeJpeg(const std::string& data) {
  return data.size() >= 2 && static_cast<uint8_t>(data[0]) == 0xFF &&
         static_cast<uint8_t>(data[1]) == 0xD8;
}

std::string FirstBytes(const std::string& data) {
  std::string text;
  for (size_t i = 0; i < std::min<size_t>(data.size(), 2); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%s%02X", i ? " " : "", static_cast<uint8_t>(data[i]));
    text += hex;
  }
  return text.empty() ? "nothing" : text;
}

// Checks one set: its files, then its segments, then every frame they name
// in one walk. A walk skips the frames it cannot read; the checker finds
// them as gaps in the frame numbers and asks the reader why.
class SetChecker {
 public:
  SetChecker(FileSystem& files, const StoreFolder& store, const FileSetInfo& set)
      : reader_(files, store.prefix), set_(set) {
    verdict_.set = set.name;
    idx_records_ = std::max<int64_t>(set.idx_bytes, 0) / kIndexRecordBytes;
  }

  SetVerdict Check() {
    if (CheckFiles() && CheckSegments()) CheckFrames();
    return std::move(verdict_);
  }

 private:
  // The frames [from, to] of `segment` that the walk should meet.
  struct Run {
    int32_t segment;
    int64_t from, to;
  };

  void Add(int64_t segment, int64_t frame, std::string text) {
    if (verdict_.problems.size() < SetVerdict::kMaxListed) {
      verdict_.problems.push_back(
          {static_cast<int32_t>(segment), static_cast<int32_t>(frame), std::move(text)});
    }
    ++verdict_.problem_count;
  }

  // A frame is saved once a segment record names it: a set whose .id2 is
  // missing or holds no whole record names no frame (the engine stopped while
  // making it or handing its files to a new set), so the other files are not
  // needed.
  bool CheckFiles() {
    if (set_.id2_bytes > 0 && set_.id2_bytes % kSegmentRecordBytes != 0) {
      Add(-1, -1,
          ".id2 ends with a partial segment record of " +
              std::to_string(set_.id2_bytes % kSegmentRecordBytes) + " bytes");
    }
    if (set_.id2_bytes < kSegmentRecordBytes) return false;
    bool all = true;
    for (const auto& [extension, bytes] :
         {std::pair{".bin", set_.bin_bytes}, {".idx", set_.idx_bytes}}) {
      if (bytes < 0) Add(-1, -1, std::string(extension) + " is missing");
      all = all && bytes >= 0;
    }
    return all;
  }

  bool CheckSegments() {
    std::string error;
    if (!reader_.ReadSegments(set_.name, segments_, error)) {
      Add(-1, -1, error);
      return false;
    }
    verdict_.segments = std::ssize(segments_);
    int64_t next = 0;  // the first frame no earlier segment named
    for (size_t k = 0; k < segments_.size(); ++k) {
      const SegmentInfo& s = segments_[k];
      const int64_t start = s.start_frame, end = s.end_frame;
      if (start < 0) {
        Add(k, -1, "starts at frame " + std::to_string(start) + ", before frame 0");
        continue;
      }
      if (start > end + 1) {
        Add(k, -1,
            "ends at frame " + std::to_string(end) + ", before it starts at frame " +
                std::to_string(start));
        continue;
      }
      CheckSegmentStamps(k, s);
      if (start < next) {
        Add(k, -1,
            "names " + Frames(start, std::min(end, next - 1)) + " again, after an earlier segment");
      }
      const int64_t from = std::max(start, next);
      if (from <= end) {
        runs_.push_back({static_cast<int32_t>(k), from, end});
        if (end >= idx_records_) {
          Add(k, -1,
              Frames(std::max(from, idx_records_), end) + " have no index record (.idx holds " +
                  std::to_string(idx_records_) + ")");
        }
      }
      next = std::max(next, end + 1);
    }
    return true;
  }

  void CheckSegmentStamps(size_t k, const SegmentInfo& s) {
    const bool start_valid = IsValidStamp(s.start_date, s.start_time);
    const bool end_valid = IsValidStamp(s.end_date, s.end_time);
    if (!start_valid) Add(k, -1, "has no valid start " + FormatStamp(s.start_date, s.start_time));
    if (!end_valid) Add(k, -1, "has no valid end " + FormatStamp(s.end_date, s.end_time));
    if (start_valid && end_valid &&
        ToStampKey(s.end_date, s.end_time) < ToStampKey(s.start_date, s.start_time)) {
      Add(k, -1,
          "ends at " + FormatStamp(s.end_date, s.end_time) + ", before it starts at " +
              FormatStamp(s.start_date, s.start_time));
    }
  }

  // An engine writing the set may begin a segment after the segments were
  // read; the walk ends at the first frame of one, which has nothing to be
  // checked against.
  void CheckFrames() {
    if (!runs_.empty()) expected_ = runs_[0].from;
    FrameWalkCounts counts;
    std::string error;
    const auto check = [this](const StoredFrame& frame) {
      if (frame.segment >= std::ssize(segments_)) return false;
      CheckFrame(frame);
      return true;
    };
    if (!reader_.ForEachFrame(set_.name, check, counts, error)) {
      Add(-1, -1, error);
      return;
    }
    SkipTo(static_cast<int64_t>(INT32_MAX) + 1);
  }

  // Reports the frames of the runs before `index` that the walk did not
  // meet, and moves on to `index`.
  void SkipTo(int64_t index) {
    for (; run_ < runs_.size(); ++run_) {
      const Run& run = runs_[run_];
      if (index <= run.to) {
        if (index > expected_) ReportSkipped(run.segment, expected_, index - 1);
        expected_ = index + 1;
        return;
      }
      ReportSkipped(run.segment, expected_, run.to);
      if (run_ + 1 < runs_.size()) expected_ = runs_[run_ + 1].from;
    }
  }

  // Frames [from, to] of `segment` that the walk skipped; those without an
  // index record were reported with the segment.
  void ReportSkipped(int32_t segment, int64_t from, int64_t to) {
    to = std::min(to, idx_records_ - 1);
    if (from > to) return;
    StoredFrame frame;
    std::string reason;
    if (reader_.ReadFrame(set_.name, static_cast<int32_t>(from), frame, reason)) {
      reason = "was skipped by the walk over the set, but reads now";  // written meanwhile
    }
    Add(segment, from,
        from == to ? reason
                   : Frames(from, to) + " cannot be read (" + std::to_string(to - from + 1) +
                         " frames); the first: " + reason);
  }

  void CheckFrame(const StoredFrame& frame) {
    SkipTo(frame.index);
    ++verdict_.frames;
    const SegmentInfo& s = segments_[frame.segment];
    if (frame.data_type == kJpeg && !BeginsLikeJpeg(frame.data)) {
      Add(frame.segment, frame.index,
          "is a JPEG frame that does not begin with the JPEG start marker FF D8 (but " +
              FirstBytes(frame.data) + ")");
    }
    const std::string stamp = FormatStamp(frame.date, frame.time);
    if (!IsValidStamp(frame.date, frame.time)) {
      Add(frame.segment, frame.index, "has no valid stamp " + stamp);
      return;
    }
    const StampKey key = ToStampKey(frame.date, frame.time);
    if (previous_frame_ >= 0 && key < previous_stamp_) {
      Add(frame.segment, frame.index,
          "stamp " + stamp + " is earlier than frame " + std::to_string(previous_frame_) + "'s " +
              FormatStampKey(previous_stamp_));
    }
    previous_stamp_ = key;
    previous_frame_ = frame.index;
    if (frame.index == s.start_frame && IsValidStamp(s.start_date, s.start_time) &&
        key != ToStampKey(s.start_date, s.start_time)) {
      Add(frame.segment, frame.index,
          "the segment starts at " + FormatStamp(s.start_date, s.start_time) +
              ", but its first frame's stamp is " + stamp);
    }
  }

  StoreReader reader_;
  const FileSetInfo& set_;
  SetVerdict verdict_;
  int64_t idx_records_ = 0;
  std::vector<SegmentInfo> segments_;
  std::vector<Run> runs_;
  size_t run_ = 0;        // the run the walk is in
  int64_t expected_ = 0;  // the frame the walk should meet next
  StampKey previous_stamp_ = 0;
  int64_t previous_frame_ = -1;
};

}  // namespace

SetVerdict VerifyFileSet(FileSystem& files, const StoreFolder& store, const FileSetInfo& set) {
  return SetChecker(files, store, set).Check();
}

std::string FormatProblem(const std::string& set, const StoreProblem& problem) {
  std::string where = "set " + set;
  if (problem.segment >= 0) where += ", segment " + std::to_string(problem.segment);
  if (problem.frame >= 0) where += ", frame " + std::to_string(problem.frame);
  return where + ": " + problem.text;
}

}  // namespace ravelon::cli
