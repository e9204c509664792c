// A periodic timer with the behaviour of a form timer control: an interval in
// milliseconds, an enabled flag and one tick per interval while enabled.
//
// Made by EventLoop::NewTimer; the tick runs on the loop's thread. Destroying
// the timer cancels it: no tick follows.
#pragma once

#include <cstdint>

namespace ravelon {

class Timer {
 public:
  static constexpr int32_t kDefaultIntervalMs = 1000;

  virtual ~Timer() = default;

  virtual int32_t Interval() const = 0;

  // Sets the interval; while enabled the countdown restarts from now. An
  // interval below 1 ms never ticks.
  virtual void SetInterval(int32_t milliseconds) = 0;

  virtual bool Enabled() const = 0;

  // Enabling a disabled timer starts a full interval; disabling stops it, and
  // no tick runs while it is disabled. Enabling an enabled timer changes nothing.
  virtual void SetEnabled(bool enabled) = 0;
};

}  // namespace ravelon
