#include "ravelon/testing/simulated_loop.h"

#include <optional>

#include "platform/periodic_timer.h"

namespace ravelon {

class SimulatedLoop::SimAlarm final : public Alarm {
 public:
  SimAlarm(SimulatedLoop& loop, Task on_fire) : loop_(loop), on_fire_(std::move(on_fire)) {}
  ~SimAlarm() override { Disarm(); }

  void ArmAt(MonoTime deadline) override {
    Disarm();
    key_ = loop_.Schedule(deadline, [this] {
      key_.reset();
      on_fire_();
    });
  }

  void Disarm() override {
    if (key_) loop_.Cancel(*key_);
    key_.reset();
  }

 private:
  SimulatedLoop& loop_;
  Task on_fire_;
  std::optional<AlarmKey> key_;
};

SimulatedLoop::SimulatedLoop() = default;
SimulatedLoop::~SimulatedLoop() = default;

void SimulatedLoop::Post(Task task) { ready_.push_back(std::move(task)); }

SimulatedLoop::AlarmKey SimulatedLoop::Schedule(MonoTime deadline, Task task) {
  AlarmKey key{deadline, next_sequence_++};
  alarms_.emplace(key, std::move(task));
  return key;
}

void SimulatedLoop::PostAfter(Duration delay, Task task) {
  Schedule(Now() + delay, std::move(task));
}

std::unique_ptr<Alarm> SimulatedLoop::NewAlarm(Task on_fire) {
  return std::make_unique<SimAlarm>(*this, std::move(on_fire));
}

std::unique_ptr<Timer> SimulatedLoop::NewTimer(Task on_tick) {
  return std::make_unique<PeriodicTimer>(
      clock_, [this](Task on_fire) { return NewAlarm(std::move(on_fire)); }, std::move(on_tick));
}

bool SimulatedLoop::RunOneReady() {
  if (!ready_.empty()) {
    Task task = std::move(ready_.front());
    ready_.pop_front();
    task();
    return true;
  }
  auto due = alarms_.begin();
  if (due != alarms_.end() && due->first.first <= Now()) {
    // Taken out before it runs: the task may arm, cancel or destroy alarms.
    Task task = std::move(due->second);
    alarms_.erase(due);
    task();
    return true;
  }
  return false;
}

void SimulatedLoop::ProcessPendingEventsOnce() {
  while (RunOneReady()) {
  }
}

void SimulatedLoop::AdvanceBy(Duration duration) {
  const MonoTime target = Now() + duration;
  ProcessPendingEventsOnce();
  while (!alarms_.empty() && alarms_.begin()->first.first <= target) {
    if (alarms_.begin()->first.first > Now()) clock_.AdvanceTo(alarms_.begin()->first.first);
    ProcessPendingEventsOnce();
  }
  clock_.AdvanceTo(target);
}

void SimulatedLoop::Run() {
  stopped_ = false;
  while (!stopped_) {
    if (RunOneReady()) continue;
    if (alarms_.empty()) break;
    clock_.AdvanceTo(alarms_.begin()->first.first);
  }
}

}  // namespace ravelon
