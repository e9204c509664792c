#include "record/log_sink.h"

#include <chrono>
#include <ctime>

namespace ravelon::cli {

std::string FormatLocalTime(int64_t unix_ms) {
  const std::time_t seconds = static_cast<std::time_t>(unix_ms / 1000);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(unix_ms % 1000));
  return text;
}

std::string FormatLogLine(int64_t unix_ms, const std::string& source, uint8_t level,
                          const std::string& text) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "] %2u ", static_cast<unsigned>(level));
  return FormatLocalTime(unix_ms) + " [" + source + prefix + text;
}

void LogSink::Write(const std::string& source, uint8_t level, const std::string& text) {
  if (level < min_level_) return;
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  std::string line = FormatLogLine(now, source, level, text);
  std::lock_guard lock(mutex_);
  if (keep_) {
    recent_.push_back(std::move(line));
    if (recent_.size() > kRecentLines) recent_.pop_front();
    return;
  }
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void LogSink::KeepForTable(bool on) {
  std::lock_guard lock(mutex_);
  keep_ = on;
  if (on) return;
  for (const std::string& line : recent_) std::fprintf(out_, "%s\n", line.c_str());
  recent_.clear();
  std::fflush(out_);
}

std::vector<std::string> LogSink::Recent() const {
  std::lock_guard lock(mutex_);
  return {recent_.begin(), recent_.end()};
}

}  // namespace ravelon::cli
