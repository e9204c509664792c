#include "platform/periodic_timer.h"

#include <chrono>
#include <utility>

namespace ravelon {

PeriodicTimer::PeriodicTimer(const Clock& clock, const AlarmFactory& make_alarm,
                             std::function<void()> on_tick)
    : clock_(clock),
      on_tick_(std::make_shared<const std::function<void()>>(std::move(on_tick))),
      alarm_(make_alarm([this] { Fire(); })) {}

void PeriodicTimer::SetInterval(int32_t milliseconds) {
  interval_ms_ = milliseconds;
  Restart();
}

void PeriodicTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Restart();
}

// Stopping and restarting a countdown leaves the alarm where it is when it is
// due no later than the new deadline: the connection's watchdog is stopped
// and restarted around every part of a stream, and moving the alarm each time
// would cost a cancel and a new wait in the loop, per part. An alarm that
// comes before the deadline only moves itself on.
void PeriodicTimer::Restart() {
  if (!enabled_ || interval_ms_ < 1) return;  // a pending wake-up finds nothing due
  deadline_ = clock_.Monotonic() + std::chrono::milliseconds(interval_ms_);
  if (!armed_ || deadline_ < armed_at_) Arm(deadline_);
}

void PeriodicTimer::Arm(MonoTime at) {
  armed_ = true;
  armed_at_ = at;
  alarm_->ArmAt(at);
}

void PeriodicTimer::Fire() {
  armed_ = false;
  if (!enabled_ || interval_ms_ < 1) return;
  const MonoTime now = clock_.Monotonic();
  if (now < deadline_) return Arm(deadline_);  // armed for an earlier countdown
  // The next tick keeps the cadence of the previous deadline; a late tick does
  // not cause a burst of catch-up ticks.
  const auto interval = std::chrono::milliseconds(interval_ms_);
  deadline_ += interval;
  if (deadline_ <= now) deadline_ = now + interval;
  Arm(deadline_);
  // Last: the handler may disable, re-arm or even destroy this timer.
  const auto tick = on_tick_;
  (*tick)();
}

}  // namespace ravelon
