#include "record/source_status.h"

#include <cstdio>
#include <utility>

namespace ravelon::cli {

std::string StateAfterLogLine(const std::string& text) {
  static const std::pair<const char*, const char*> kStates[] = {
      {"Connecting to the source.", "connecting"},
      {"Connected. Sending URL...", "connected"},
      {"WinSock.Close", "reconnecting"},
      {"Connect timeout.", "reconnecting"},
      {"URL timeout.", "reconnecting"},
      {"Process header timeout.", "reconnecting"},
      {"Process part timeout.", "reconnecting"},
      {"Scheduled disconnect.", "scheduled off"},
      {"Scheduled reconnect.", "connecting"},
      {"Address not supplied. Source will work in virtual mode.", "virtual"},
      {"Released.", "released"},
  };
  for (const auto& [line, state] : kStates)
    if (text == line) return state;
  // The one line that names something: the host whose lookup did not finish.
  if (text.starts_with("Connect timeout: name lookup of ")) return "reconnecting";
  return "";
}

namespace {

// Long names and errors are cut so that a row fits a terminal line.
std::string Cut(const std::string& text, size_t width) {
  return text.size() <= width ? text : text.substr(0, width - 1) + "~";
}

}  // namespace

std::string FormatStatusTable(const std::vector<SourceStatus>& sources) {
  char row[512];
  std::snprintf(row, sizeof row, "%-16s %-13s %9s %8s %7s %-14s %s\n", "SOURCE", "STATE",
                "PACKETS/S", "SAVES/S", "QUEUED", "FILE SET", "LAST ERROR");
  std::string table = row;
  for (const SourceStatus& s : sources) {
    std::snprintf(row, sizeof row, "%-16s %-13s %9.1f %8.1f %7d %-14s %s\n",
                  Cut(s.name, 16).c_str(), s.state.c_str(), s.packets_per_second,
                  s.saves_per_second, s.queued, Cut(s.file_set, 14).c_str(),
                  Cut(s.last_error, 60).c_str());
    table += row;
  }
  return table;
}

std::string FormatStatusLine(const SourceStatus& s) {
  char line[256];
  std::snprintf(line, sizeof line,
                "%s, %.1f packets/s, %.1f saves/s, %d queued, %lld received, %lld saved",
                s.state.c_str(), s.packets_per_second, s.saves_per_second, s.queued,
                static_cast<long long>(s.frames), static_cast<long long>(s.saved));
  std::string text = line;
  if (!s.file_set.empty()) text += ", file set " + s.file_set;
  if (!s.last_error.empty()) text += ", last error: " + s.last_error;
  return text;
}

}  // namespace ravelon::cli
