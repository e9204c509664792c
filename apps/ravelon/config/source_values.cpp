#include "config/source_values.h"

#include <cctype>
#include <filesystem>

#include "cli/command.h"
#include "cli/text.h"
#include "config/schedule_check.h"
#include "ravelon/registry_store.h"

namespace ravelon::cli {
namespace {

using enum SourceValueKind;

// The longest number text read: ten digits hold every limit below without
// overflowing an int64_t on the way.
constexpr size_t kMaxNumberDigits = 10;

constexpr SourceValueInfo kSourceValues[] = {
    {"Url", "url", kText, 0, 0, true, "", "the path asked of the source, e.g. /video.mjpg"},
    {"Streaming", "streaming", kSwitch, 0, 0, true, "1",
     "one endless multipart stream (on) or one JPEG per request (off)"},
    {"DBPath", "store", kFolder, 0, 0, false, "", "the store folder the engine records into"},
    {"File", "", kEngineState, 0, 0, false, "", "the file set the engine has open (its own)"},
    {"FileTime", "", kEngineState, 0, 0, false, "", "when that file set began (the engine's own)"},
    {"SaveInterval", "save-interval", kNumber, 10, 60'000, true, "500",
     "milliseconds between frames saved"},
    {"ViewInterval", "view-interval", kNumber, 10, 60'000, true, "500",
     "milliseconds between frames shown"},
    {"PreAllocationBlock", "prealloc", kNumber, 0, 999, true, "1",
     "megabytes a data file grows by at a time"},
    {"FileLimitValue", "file-limit", kNumber, 1, 1'999, true, "10",
     "when a file set ends: its size in megabytes or its length in hours"},
    {"FileLimitType", "file-limit-type", kNumber, 0, 1, true, "0",
     "0: the file limit is megabytes, 1: hours"},
    {"DoSave", "save", kSwitch, 0, 0, true, "0", "record the frames into the store"},
    {"SrcID", "src-id", kNumber, 0, 30'000, false, "", "the number stored with every frame"},
    {"Address", "address", kText, 0, 0, false, "", "the source's host name or IP address"},
    {"Port", "port", kNumber, 0, 65'535, true, "80", "the source's TCP port"},
    {"UserName", "user", kText, 0, 0, false, "", "the user name the source asks for"},
    {"Password", "password", kText, 0, 0, false, "", "the password the source asks for"},
    {"Schedule", "schedule", kSchedule, 0, 0, false, "",
     "the weekly schedule, hex text of its binary form"},
    {"RequestStyle", "request-style", kNumber, 0, 2, false, "",
     "the request: 0 a bare GET line (default), 1 HTTP/1.0, 2 HTTP/1.1, both with Host and "
     "User-Agent lines"},
    {"BoundaryDiscovery", "find-boundary", kSwitch, 0, 0, false, "",
     "take the boundary from the stream's first \"--\" line when the response names none"},
    {"SyncWrites", "sync", kSwitch, 0, 0, false, "",
     "make each save run durable (fdatasync) before it counts as saved (on unless turned off)"},
    {"SaveQueueMB", "save-queue-mb", kNumber, 1, 1'024, false, "",
     "megabytes of frames that may wait for saving (64 unless set)"},
};

std::string CheckNumber(const SourceValueInfo& info, const std::string& text,
                        const std::string& label) {
  const std::string wanted = label + " must be a whole number from " + std::to_string(info.min) +
                             " to " + std::to_string(info.max) + ", not '" + text + "'";
  if (text.empty() || text.size() > kMaxNumberDigits) throw CommandError(wanted);
  int64_t value = 0;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) throw CommandError(wanted);
    value = value * 10 + (c - '0');
  }
  if (value < info.min || value > info.max) throw CommandError(wanted);
  return std::to_string(value);
}

std::string CheckFolder(const std::string& text, const std::string& label) {
  if (text.empty()) throw CommandError(label + " needs a folder");
  // The engine runs from a folder of its own: a relative path would land
  // somewhere else. It joins file names straight onto the folder, hence "/".
  std::error_code error;
  std::string folder = std::filesystem::absolute(text, error).lexically_normal().string();
  if (error) throw CommandError(label + ": cannot make " + text + " absolute: " + error.message());
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::span<const SourceValueInfo> SourceValues() { return kSourceValues; }

const SourceValueInfo* FindSourceValue(std::string_view name) {
  for (const SourceValueInfo& info : kSourceValues) {
    if (EqualsNoCase(info.name, name)) return &info;
  }
  return nullptr;
}

std::string SourceValueNames() {
  std::string names;
  for (const SourceValueInfo& info : kSourceValues) {
    names.append(names.empty() ? "" : ", ").append(info.name);
  }
  return names;
}

std::string CheckSourceValue(const SourceValueInfo& info, const std::string& text,
                             const std::string& label) {
  switch (info.kind) {
    case kSwitch:
      if (text != "0" && text != "1") throw CommandError(label + " must be 1 (on) or 0 (off)");
      return text;
    case kNumber:
      return CheckNumber(info, text, label);
    case kFolder:
      return CheckFolder(text, label);
    case kSchedule: {
      std::string hex;
      const std::string problem = CheckScheduleHex(text, hex);
      if (!problem.empty()) throw CommandError(label + ": " + problem);
      return hex;
    }
    case kText:
    case kEngineState:
      break;
  }
  return text;
}

void CheckSourceName(const std::string& name) {
  if (name.empty() || name.size() > kMaxKeyNameLength)
    throw CommandError("a source name has 1 to " + std::to_string(kMaxKeyNameLength) + " bytes");
  for (const char c : name) {
    if (c == '\\' || static_cast<unsigned char>(c) < 0x20)
      throw CommandError("a source name cannot hold '\\' or control characters: " + name);
  }
}

}  // namespace ravelon::cli
