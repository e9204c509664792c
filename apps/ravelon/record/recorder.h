// Recorder: runs the engines of `ravelon record` (and of `ravelon demo`). The
// sources are spread over one loop per core, each loop a thread with its own
// real platform; an engine lives and dies on its loop's thread, so engines
// need no locks. The thread that made the recorder reads a status snapshot
// of every source, which each loop refreshes once a second.
//
// Stop releases every engine on its own thread (ReleaseNGN saves the queued
// frames), then ends the loops and joins them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "record/log_sink.h"
#include "record/source_runner.h"
#include "record/source_status.h"

namespace ravelon::cli {

struct RecorderSettings {
  // The registry store's file for every loop's platform; engines configured
  // through setters never open it.
  std::string registry_file;
  int loops = 0;  // 0: one per core, never more than there are sources
  int32_t save_every_ms = 1000;
};

// When the index-th of a loop's `count` sources saves first: spread evenly
// over one cadence, never before 1 ms.
int32_t FirstSaveAfterMs(size_t index, size_t count, int32_t save_every_ms);

class Recorder {
 public:
  Recorder(RecorderSettings settings, LogSink& log);
  ~Recorder();  // stops if still running

  // Starts a loop thread per share of `plans`; returns at once.
  void Start(std::vector<SourcePlan> plans);
  void Stop();
  // The sources in the order they were given.
  std::vector<SourceStatus> Statuses() const;
  int LoopCount() const { return static_cast<int>(loops_.size()); }

 private:
  class Loop;
  RecorderSettings settings_;
  LogSink& log_;
  std::vector<std::unique_ptr<Loop>> loops_;
  std::vector<std::pair<size_t, size_t>> order_;  // (loop, index in loop) per source
};

}  // namespace ravelon::cli
