// The timer semantics shared by the real and the simulated loop: interval,
// enabled flag, one tick per interval, restart on re-arm. Each loop supplies
// only a one-shot Alarm and a monotonic clock; the rules live here once.
//
// Owned by whoever asked the loop for a timer; runs on the loop's thread.
#pragma once

#include <functional>
#include <memory>

#include "ravelon/clock.h"
#include "ravelon/timer.h"

namespace ravelon {

// A one-shot wake-up: runs its callback once at or after the armed time.
class Alarm {
 public:
  virtual ~Alarm() = default;
  // Replaces any earlier arming.
  virtual void ArmAt(MonoTime deadline) = 0;
  virtual void Disarm() = 0;
};

class PeriodicTimer final : public Timer {
 public:
  using AlarmFactory = std::function<std::unique_ptr<Alarm>(std::function<void()> on_fire)>;

  PeriodicTimer(const Clock& clock, const AlarmFactory& make_alarm, std::function<void()> on_tick);

  int32_t Interval() const override { return interval_ms_; }
  void SetInterval(int32_t milliseconds) override;
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override;

 private:
  void Restart();
  void Arm(MonoTime at);
  void Fire();

  const Clock& clock_;
  // Shared with a running tick, so that a handler which destroys the timer
  // keeps its own closure (and captures) alive until it returns.
  std::shared_ptr<const std::function<void()>> on_tick_;
  std::unique_ptr<Alarm> alarm_;
  int32_t interval_ms_ = kDefaultIntervalMs;
  bool enabled_ = false;
  MonoTime deadline_{};  // of the next tick, while enabled
  // Whether the alarm is set, and for when: never later than deadline_ while
  // enabled; a disabled timer may leave it set (its wake-up then does nothing).
  bool armed_ = false;
  MonoTime armed_at_{};
};

}  // namespace ravelon
