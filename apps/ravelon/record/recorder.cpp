#include "record/recorder.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "ravelon/platform.h"

namespace ravelon::cli {

// The sources of a loop start within moments of each other; saving each on
// the same cadence from its start would save them all in one burst, during
// which no frame is read and frames queue up in the sockets. Their first
// saves are spread evenly over one cadence instead, the i-th of n after
// (i + 1) / n of it, so each save run meets the loop alone.
int32_t FirstSaveAfterMs(size_t index, size_t count, int32_t save_every_ms) {
  const int64_t spread = int64_t{save_every_ms} * static_cast<int64_t>(index + 1) /
                         static_cast<int64_t>(std::max<size_t>(count, 1));
  return static_cast<int32_t>(std::max<int64_t>(spread, 1));
}

// One thread, one platform, some sources.
class Recorder::Loop {
 public:
  Loop(const RecorderSettings& settings, LogSink& log)
      : platform_(NewRealPlatform(settings.registry_file)),
        log_(log),
        save_every_ms_(settings.save_every_ms) {}

  void Add(SourcePlan plan) {
    plans_.push_back(std::move(plan));
    SourceStatus status;
    status.name = plans_.back().name;
    snapshot_.push_back(status);
  }

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }

  // Queued behind the events already waiting. A source's start lets the loop
  // run what is queued, so a stop that comes while the sources are still
  // starting would run inside a start, and its Stop would be undone by the
  // Run that follows: it is only noted then, and carried out once Run runs.
  void RequestStop() {
    platform_->Loop().Post([this] {
      if (running_) return StopNow();
      stop_pending_ = true;
    });
  }

  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  std::vector<SourceStatus> Snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
  }

 private:
  void Run() {
    for (size_t i = 0; i < plans_.size(); ++i) {
      runners_.push_back(
          std::make_unique<SourceRunner>(platform_, std::move(plans_[i]), log_, save_every_ms_));
      runners_.back()->Start(FirstSaveAfterMs(i, plans_.size(), save_every_ms_));
    }
    last_sample_ = std::chrono::steady_clock::now();
    Publish();  // the store folders, known once the sources are configured
    auto sampler = platform_->Loop().NewTimer([this] { Publish(); });
    sampler->SetInterval(1000);
    sampler->SetEnabled(true);
    running_ = true;
    if (stop_pending_) platform_->Loop().Post([this] { StopNow(); });
    platform_->Loop().Run();
    sampler.reset();
    runners_.clear();  // the engines end on their own thread
  }

  void StopNow() {
    Publish();  // counts the frames received since the last tick: release forgets them
    for (auto& runner : runners_) runner->Release();
    Publish();  // and what the release saved
    platform_->Loop().Stop();
  }

  void Publish() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last_sample_).count();
    last_sample_ = now;
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < runners_.size(); ++i) {
      runners_[i]->Sample(seconds);
      snapshot_[i] = runners_[i]->Status();
    }
  }

  std::shared_ptr<Platform> platform_;
  LogSink& log_;
  const int32_t save_every_ms_;
  std::vector<SourcePlan> plans_;
  std::vector<std::unique_ptr<SourceRunner>> runners_;  // loop thread only
  bool running_ = false;                                // loop thread only: Run has begun
  bool stop_pending_ = false;                           // loop thread only: asked before Run
  std::chrono::steady_clock::time_point last_sample_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<SourceStatus> snapshot_;
};

Recorder::Recorder(RecorderSettings settings, LogSink& log)
    : settings_(std::move(settings)), log_(log) {}

Recorder::~Recorder() { Stop(); }

void Recorder::Start(std::vector<SourcePlan> plans) {
  int loops =
      settings_.loops > 0 ? settings_.loops : static_cast<int>(std::thread::hardware_concurrency());
  loops = std::max(1, std::min(loops, static_cast<int>(plans.size())));
  for (int i = 0; i < loops; ++i) loops_.push_back(std::make_unique<Loop>(settings_, log_));
  for (size_t i = 0; i < plans.size(); ++i) {
    const size_t loop = i % loops_.size();
    order_.emplace_back(loop, i / loops_.size());
    loops_[loop]->Add(std::move(plans[i]));
  }
  for (auto& loop : loops_) loop->Start();
}

void Recorder::Stop() {
  for (auto& loop : loops_) loop->RequestStop();
  for (auto& loop : loops_) loop->Join();
}

std::vector<SourceStatus> Recorder::Statuses() const {
  std::vector<std::vector<SourceStatus>> per_loop;
  for (const auto& loop : loops_) per_loop.push_back(loop->Snapshot());
  std::vector<SourceStatus> all;
  for (const auto& [loop, index] : order_) all.push_back(per_loop[loop][index]);
  return all;
}

}  // namespace ravelon::cli
