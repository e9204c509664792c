// A message loop on virtual time, for tests. Nothing happens until the test
// asks: AdvanceBy moves virtual time forward and runs, in deadline order (ties
// in the order they were armed), every alarm and timer tick that falls due on
// the way, with the tasks they post. A wait of 50 seconds takes microseconds.
//
// Nested ProcessPendingEventsOnce behaves as on the real loop: it runs what is
// ready at the current virtual time and returns; it never moves time.
//
// Single-threaded; owned by the SimulatedPlatform.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <utility>

#include "ravelon/event_loop.h"
#include "ravelon/testing/simulated_clock.h"

namespace ravelon {

class Alarm;  // a one-shot wake-up of the engine's timers

class SimulatedLoop final : public EventLoop {
 public:
  SimulatedLoop();
  ~SimulatedLoop() override;

  void Post(Task task) override;
  void ProcessPendingEventsOnce() override;
  // Advances from one due alarm to the next until Stop is called or nothing
  // is scheduled. With an enabled periodic timer only Stop ends it.
  void Run() override;
  void Stop() override { stopped_ = true; }
  std::unique_ptr<Timer> NewTimer(Task on_tick) override;

  // Moves virtual time forward by `duration`, running everything that falls due.
  void AdvanceBy(Duration duration);

  // Runs `task` once, `delay` from now; for simulated peers and scripts.
  void PostAfter(Duration delay, Task task);

  std::unique_ptr<Alarm> NewAlarm(Task on_fire);

  MonoTime Now() const { return clock_.Monotonic(); }
  SimulatedClock& GetClock() { return clock_; }
  const SimulatedClock& GetClock() const { return clock_; }

  // Number of alarms armed (timer ticks, scheduled deliveries) and tasks ready.
  size_t ScheduledCount() const { return alarms_.size(); }
  size_t ReadyCount() const { return ready_.size(); }

 private:
  class SimAlarm;
  using AlarmKey = std::pair<MonoTime, uint64_t>;

  AlarmKey Schedule(MonoTime deadline, Task task);
  void Cancel(const AlarmKey& key) { alarms_.erase(key); }
  bool RunOneReady();

  SimulatedClock clock_;
  std::deque<Task> ready_;
  std::map<AlarmKey, Task> alarms_;
  uint64_t next_sequence_ = 0;
  bool stopped_ = false;
};

}  // namespace ravelon
