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

void PeriodicTimer::Restart() {
  if (!enabled_ || interval_ms_ < 1) {
    alarm_->Disarm();
    return;
  }
  deadline_ = clock_.Monotonic() + std::chrono::milliseconds(interval_ms_);
  alarm_->ArmAt(deadline_);
}

void PeriodicTimer::Fire() {
  if (!enabled_ || interval_ms_ < 1) return;
  // The next tick keeps the cadence of the previous deadline; a late tick does
  // not cause a burst of catch-up ticks.
  const auto interval = std::chrono::milliseconds(interval_ms_);
  const MonoTime now = clock_.Monotonic();
  deadline_ += interval;
  if (deadline_ <= now) deadline_ = now + interval;
  alarm_->ArmAt(deadline_);
  // Last: the handler may disable, re-arm or even destroy this timer.
  const auto tick = on_tick_;
  (*tick)();
}

}  // namespace ravelon
