#include "record/source_runner.h"

#include <algorithm>
#include <string>

namespace ravelon::cli {

SourceRunner::SourceRunner(std::shared_ptr<Platform> platform, SourcePlan plan, LogSink& log,
                           int32_t save_every_ms)
    : platform_(std::move(platform)),
      plan_(std::move(plan)),
      log_(log),
      save_every_ms_(save_every_ms),
      engine_(platform_),
      tap_(std::make_shared<FrameTap>(plan_.live)) {
  status_.name = plan_.name;
  save_timer_ = platform_->Loop().NewTimer([this] {
    // After the first save the cadence is the steady one.
    if (save_timer_->Interval() != save_every_ms_) save_timer_->SetInterval(save_every_ms_);
    Save();
  });
}

SourceRunner::~SourceRunner() {
  save_timer_.reset();
  engine_.SetEventSink(nullptr);
}

void SourceRunner::Start(int32_t first_save_ms) {
  engine_.SetEventSink(this);
  plan_.configure(engine_);
  engine_.setFilterChain(tap_);
  status_.store_folder = engine_.DBPath();
  if (!engine_.DoSave()) {
    log_.Write(status_.name, 9, "Saving is off for this source: nothing will be recorded.");
  }
  engine_.PrepareEngine();
  engine_.Connect();
  save_timer_->SetInterval(first_save_ms);
  save_timer_->SetEnabled(true);
}

void SourceRunner::Release() {
  if (released_) return;
  released_ = true;
  save_timer_->SetEnabled(false);
  Save();
  engine_.ReleaseNGN();
  status_.queued = engine_.FramesBuffered();
}

void SourceRunner::Save() {
  const int32_t saved = engine_.ForcedSave();
  if (saved > 0) saved_since_sample_ += saved;
}

void SourceRunner::Sample(double seconds) {
  const int64_t received = tap_->Frames() - counted_;
  counted_ += received;
  if (!released_ && received > 0) status_.state = "receiving";
  if (!released_ && received == 0 && status_.state == "receiving") status_.state = "no frames";
  status_.frames += received;
  status_.bytes = tap_->Bytes();
  status_.saved += saved_since_sample_;
  // The samples at release come moments apart; rates over so short a time
  // would say nothing.
  if (seconds >= 0.5) {
    status_.packets_per_second = static_cast<double>(received) / seconds;
    status_.saves_per_second = static_cast<double>(saved_since_sample_) / seconds;
  }
  saved_since_sample_ = 0;
  status_.queued = engine_.FramesBuffered();
  const std::string file = engine_.FileName();
  // The set's name is the last twelve characters of its base name.
  status_.file_set = file.size() > 12 ? file.substr(file.size() - 12) : file;
}

void SourceRunner::DebugEvent(uint8_t DebugLevel, const std::string& Text) {
  log_.Write(status_.name, DebugLevel, Text);
  ++status_.log_lines[std::min<size_t>(DebugLevel, status_.log_lines.size() - 1)];
  if (DebugLevel >= 10) status_.last_error = Text;
  const std::string state = StateAfterLogLine(Text);
  if (state == "reconnecting") ++status_.reconnects;
  if (!state.empty()) status_.state = state;
}

}  // namespace ravelon::cli
