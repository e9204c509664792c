// Running a Recorder in the foreground, as `ravelon record` and `ravelon
// demo` do: until SIGINT or SIGTERM (or a given time), showing a live status
// table on a terminal and a status line per source every so often elsewhere,
// then releasing every engine so that what is queued is saved.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ravelon/debug_levels.h"
#include "record/recorder.h"

namespace ravelon::cli {

enum class StatusDisplay { kAuto, kTable, kLines };

struct RunOptions {
  double save_every_seconds = 1;
  int loops = 0;                     // 0: one per core
  double status_every_seconds = 60;  // the status lines when there is no table
  double for_seconds = 0;            // 0: until a signal
  StatusDisplay display = StatusDisplay::kAuto;
  uint8_t min_level = kDebugLifecycle;
  // The web view's address ("" when off) and who may see it (null: anyone).
  std::string http;
  std::function<bool(const std::string& authorization)> http_allow;
};

// Adds --save-every, --loops, --status-every, --for and --status to `command`.
void AddRunOptions(CLI::App& command, RunOptions& options);

// Records `plans` until a signal or the time is up; returns the exit status.
// The last status of every source is printed when it ends.
int RunRecorder(std::vector<SourcePlan> plans, RecorderSettings settings,
                const RunOptions& options);

}  // namespace ravelon::cli
