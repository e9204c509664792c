// The real clock: local date and time of day from the system's wall clock
// (in the local time zone), monotonic time from std::chrono::steady_clock.
#pragma once

#include "ravelon/clock.h"

namespace ravelon {

class SystemClock final : public Clock {
 public:
  double Today() const override;
  double SecondsSinceMidnight() const override;
  MonoTime Monotonic() const override { return MonoClock::now(); }
};

}  // namespace ravelon
