// What `ravelon record` shows of one source: its state as the engine's log
// lines and frame numbers reveal it, its rates, its queue and its file set;
// and the table and lines that show them. Plain values, copied between the
// loop threads and the thread that prints.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ravelon::cli {

struct SourceStatus {
  std::string name;
  std::string state = "starting";
  double packets_per_second = 0;
  double saves_per_second = 0;
  int32_t queued = 0;  // frames waiting to be saved
  std::string file_set;
  std::string last_error;
  int64_t frames = 0;  // received since the start
  // Saved since the start by the recorder's saves and the release. The
  // engine also saves its queue by itself when a connection ends, which
  // this does not count: the store may hold more.
  int64_t saved = 0;
  int64_t bytes = 0;       // of the frames received
  int64_t reconnects = 0;  // connections lost or timed out, each followed by a new attempt
  // The engine's log lines since the start, by level (0 to 10).
  std::array<int64_t, 11> log_lines{};
  std::string store_folder;  // the engine's DBPath: where its file sets go
};

// The state a log line of the engine moves a source into, or "" when the
// line says nothing about the state.
std::string StateAfterLogLine(const std::string& text);

// A fixed-width table with one row per source and a header row.
std::string FormatStatusTable(const std::vector<SourceStatus>& sources);
// One line for a log: "cam1: receiving, 25.0 packets/s, ...".
std::string FormatStatusLine(const SourceStatus& source);

}  // namespace ravelon::cli
