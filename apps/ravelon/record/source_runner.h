// SourceRunner: one engine of `ravelon record` and what watches it. It makes
// the engine, lets the plan configure it, prepares and connects it, saves
// its queued frames at a steady cadence with ForcedSave (the first save after
// a delay the recorder picks, so that the saves of a loop's sources spread
// over the cadence rather than come in one burst), turns its log lines
// into log output and state, and releases it (saving what is queued).
//
// Owned by a RecordLoop; every member runs on that loop's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ravelon/korvid.h"
#include "record/frame_tap.h"
#include "record/log_sink.h"
#include "record/source_status.h"
#include "web/live_frames.h"

namespace ravelon::cli {

// A source to record: its name (for logs and the status) and how to set up
// its engine before PrepareEngine and Connect.
struct SourcePlan {
  std::string name;
  std::function<void(Korvid&)> configure;
  // Where the source's pictures go for the web view; null when it is off.
  std::shared_ptr<LiveFrames> live;
};

class SourceRunner final : public KorvidEvents {
 public:
  SourceRunner(std::shared_ptr<Platform> platform, SourcePlan plan, LogSink& log,
               int32_t save_every_ms);
  ~SourceRunner() override;

  // The first save comes `first_save_ms` after the start, then one every
  // `save_every_ms`.
  void Start(int32_t first_save_ms);
  // Saves the queue and stops the engine; the runner stays readable.
  void Release();
  // Updates the rates from what happened in the last `seconds`.
  void Sample(double seconds);
  const SourceStatus& Status() const { return status_; }

  void DebugEvent(uint8_t DebugLevel, const std::string& Text) override;
  void DataReady() override {}

 private:
  void Save();

  std::shared_ptr<Platform> platform_;
  SourcePlan plan_;
  LogSink& log_;
  const int32_t save_every_ms_;
  Korvid engine_;
  std::unique_ptr<Timer> save_timer_;
  // Sees every frame the engine takes in: the counts of frames and bytes
  // received, and the pictures of the web view.
  std::shared_ptr<FrameTap> tap_;
  SourceStatus status_;
  int64_t counted_ = 0;  // tap_'s frame count at the last sample
  int64_t saved_since_sample_ = 0;
  bool released_ = false;
};

}  // namespace ravelon::cli
