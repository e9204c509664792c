#include "store/store_listing.h"

#include <cstdio>

#include "cli/json_text.h"
#include "store/stamp_text.h"

namespace ravelon::cli {
namespace {

std::string Plural(int64_t n, const std::string& word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string Note(const SetListing& set) {
  std::string note = set.info.note;
  if (!set.segments_error.empty()) note += (note.empty() ? "" : "; ") + set.segments_error;
  return note;
}

}  // namespace

int64_t SegmentFrames(const SegmentInfo& s) {
  return s.end_frame >= s.start_frame ? int64_t{s.end_frame} - s.start_frame + 1 : 0;
}

std::vector<SetListing> ReadListing(FileSystem& files, const StoreFolder& store) {
  std::vector<SetListing> listing;
  StoreReader reader(files, store.prefix);
  for (FileSetInfo& info : ListStoreSets(files, store)) {
    SetListing set{.info = std::move(info), .segments = {}, .segments_error = {}};
    // A missing .id2 is in the note already.
    if (set.info.id2_bytes >= 0)
      reader.ReadSegments(set.info.name, set.segments, set.segments_error);
    listing.push_back(std::move(set));
  }
  return listing;
}

std::string FormatBytes(int64_t bytes) {
  if (bytes < 0) return "missing";
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  for (; value >= 1024 && unit < 3; ++unit) value /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatListing(const StoreFolder& store, const std::vector<SetListing>& sets) {
  int64_t frames = 0, damaged = 0;
  for (const SetListing& set : sets) {
    frames += set.info.frames;
    damaged += Note(set).empty() ? 0 : 1;
  }
  std::string out = "Store " + store.prefix + ": " + Plural(std::ssize(sets), "file set") + ", " +
                    Plural(frames, "frame");
  if (damaged > 0) out += ", " + std::to_string(damaged) + " with notes";
  out += "\n";
  for (const SetListing& set : sets) {
    const FileSetInfo& i = set.info;
    out += "\n" + i.name + "  " + Plural(i.frames, "frame") + " in " +
           Plural(i.segments, "segment") + "  (.bin " + FormatBytes(i.bin_bytes) + ", .idx " +
           FormatBytes(i.idx_bytes) + ", .id2 " + FormatBytes(i.id2_bytes) + ")\n";
    for (size_t k = 0; k < set.segments.size(); ++k) {
      const SegmentInfo& s = set.segments[k];
      out += "  segment " + std::to_string(k) + "  " + FormatStamp(s.start_date, s.start_time) +
             " to " + FormatStamp(s.end_date, s.end_time) + "  frames " +
             std::to_string(s.start_frame) + "-" + std::to_string(s.end_frame) + " (" +
             std::to_string(SegmentFrames(s)) + ")\n";
    }
    const std::string note = Note(set);
    if (!note.empty()) out += "  note: " + note + "\n";
  }
  return out;
}

std::string FormatListingJson(const StoreFolder& store, const std::vector<SetListing>& sets) {
  std::string out = "{\"store\": " + JsonString(store.prefix) + ", \"sets\": [";
  for (size_t n = 0; n < sets.size(); ++n) {
    const FileSetInfo& i = sets[n].info;
    out += std::string(n ? "," : "") + "\n  {\"name\": " + JsonString(i.name) +
           ", \"frames\": " + std::to_string(i.frames) +
           ", \"bin_bytes\": " + std::to_string(i.bin_bytes) +
           ", \"idx_bytes\": " + std::to_string(i.idx_bytes) +
           ", \"id2_bytes\": " + std::to_string(i.id2_bytes) +
           ", \"note\": " + JsonString(Note(sets[n])) + ", \"segments\": [";
    for (size_t k = 0; k < sets[n].segments.size(); ++k) {
      const SegmentInfo& s = sets[n].segments[k];
      out += std::string(k ? "," : "") +
             "\n    {\"start\": " + JsonString(FormatStamp(s.start_date, s.start_time)) +
             ", \"end\": " + JsonString(FormatStamp(s.end_date, s.end_time)) +
             ", \"start_frame\": " + std::to_string(s.start_frame) +
             ", \"end_frame\": " + std::to_string(s.end_frame) +
             ", \"frames\": " + std::to_string(SegmentFrames(s)) +
             ", \"save_interval_ms\": " + std::to_string(s.save_interval) + "}";
    }
    out += "]}";
  }
  return out + "\n]}\n";
}

}  // namespace ravelon::cli
