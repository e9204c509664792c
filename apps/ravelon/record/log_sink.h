// LogSink: where the engines' DebugEvent lines go in `ravelon record`. Each
// line gets the wall-clock time, the source's name and the level; lines below
// the minimum level are dropped. Lines are printed at once, or, while a live
// status table owns the terminal, kept in a short ring shown under the table.
//
// Shared by every loop thread of the recorder: the one mutex here is the
// host's, never inside an engine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace ravelon::cli {

// "2026-12-06 22:50:01.250" in local time, for `unix_ms` milliseconds since
// the epoch.
std::string FormatLocalTime(int64_t unix_ms);

// One log line: "2026-12-06 22:50:01.250 [cam1] 10 Source answered ...".
std::string FormatLogLine(int64_t unix_ms, const std::string& source, uint8_t level,
                          const std::string& text);

class LogSink {
 public:
  // Lines shown under the live table: enough to see what just happened.
  static constexpr size_t kRecentLines = 12;

  LogSink(std::FILE* out, uint8_t min_level) : out_(out), min_level_(min_level) {}

  void Write(const std::string& source, uint8_t level, const std::string& text);
  // While on, lines go to the ring instead of `out`.
  void KeepForTable(bool on);
  std::vector<std::string> Recent() const;

 private:
  std::FILE* const out_;
  const uint8_t min_level_;
  mutable std::mutex mutex_;
  bool keep_ = false;
  std::deque<std::string> recent_;
};

}  // namespace ravelon::cli
