#include "store/frame_range.h"

namespace ravelon::cli {
namespace {

// The number of the last segment whose times meet `range`, or -1 when none
// does. A segment whose times are not valid or run backwards is taken to meet
// it: its frames decide.
int32_t LastSegmentInRange(const std::vector<SegmentInfo>& segments, const StampRange& range) {
  int32_t last = -1;
  for (size_t k = 0; k < segments.size(); ++k) {
    const SegmentInfo& s = segments[k];
    const StampKey start = ToStampKey(s.start_date, s.start_time);
    const StampKey end = ToStampKey(s.end_date, s.end_time);
    const bool trusted = IsValidStamp(s.start_date, s.start_time) &&
                         IsValidStamp(s.end_date, s.end_time) && start <= end;
    if (!trusted || range.Overlaps(start, end)) last = static_cast<int32_t>(k);
  }
  return last;
}

}  // namespace

std::string RangeWalkCounts::DescribeDamage() const {
  std::string text;
  const auto add = [&text](int64_t n, const std::string& what) {
    if (n > 0) text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
  };
  add(bad_records, bad_records == 1 ? "damaged index record" : "damaged index records");
  add(missing_records,
      missing_records == 1 ? "frame without an index record" : "frames without an index record");
  add(bad_segments, bad_segments == 1 ? "bad segment" : "bad segments");
  if (!text.empty()) text = "skipped " + text + " in the file sets read";
  for (const std::string& reason : unreadable_sets) {
    text += (text.empty() ? "" : "; ") + std::string("skipped a file set: ") + reason;
  }
  return text;
}

RangeWalkCounts ForEachFrameInRange(FileSystem& files, const StoreFolder& store,
                                    const std::vector<FileSetInfo>& sets, const StampRange& range,
                                    const RangeVisitor& visit) {
  RangeWalkCounts counts;
  StoreReader reader(files, store.prefix);
  for (size_t number = 0; number < sets.size(); ++number) {
    const FileSetInfo& set = sets[number];
    std::vector<SegmentInfo> segments;
    std::string error;
    if (!reader.ReadSegments(set.name, segments, error)) {
      counts.unreadable_sets.push_back(error);
      continue;
    }
    const int32_t last_segment = LastSegmentInRange(segments, range);
    if (last_segment < 0) continue;
    bool stopped = false;
    FrameWalkCounts walk;
    const bool read = reader.ForEachFrame(
        set.name,
        [&](const StoredFrame& frame) {
          if (frame.segment > last_segment) return false;
          if (!range.Contains(ToStampKey(frame.date, frame.time))) return true;
          ++counts.frames;
          stopped = !visit(static_cast<int32_t>(number), frame);
          return !stopped;
        },
        walk, error);
    counts.bad_records += walk.bad_records;
    counts.missing_records += walk.missing_records;
    counts.bad_segments += walk.bad_segments;
    if (!read) counts.unreadable_sets.push_back(error);
    if (stopped) break;
  }
  return counts;
}

}  // namespace ravelon::cli
