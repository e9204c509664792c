// A clock on virtual time. Monotonic time starts at zero and moves only when
// the SimulatedLoop that owns this clock advances it; the local date and time
// of day move with it from a settable starting point, and can be set back or
// forward as a user changing the system clock would.
#pragma once

#include <cstdint>

#include "ravelon/clock.h"

namespace ravelon {

class SimulatedClock final : public Clock {
 public:
  // Starts on Monday 2026-01-05 at 10:00:00 local time.
  SimulatedClock();

  double Today() const override;
  double SecondsSinceMidnight() const override;
  MonoTime Monotonic() const override { return now_; }

  // Sets the local date and time of day that reads from now on; monotonic
  // time is not affected.
  void SetLocalDateTime(double date, double seconds_since_midnight);

 private:
  friend class SimulatedLoop;
  void AdvanceTo(MonoTime time) { now_ = time; }

  int64_t LocalNanoseconds() const;

  MonoTime now_{};
  // Local time, in ns since 1899-12-30 00:00, at monotonic time zero.
  int64_t local_at_zero_ns_ = 0;
};

}  // namespace ravelon
