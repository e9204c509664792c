// The engine's view of time: the local calendar date and time of day, as the
// stamps of frames and the weekly schedule use them, and a monotonic reading
// for waits that must not be disturbed by a clock that is set back.
//
// Owned by the Platform; read on the engine's thread.
#pragma once

#include <chrono>

namespace ravelon {

// Monotonic time: steady wall time for the real platform, virtual time for
// the simulated one.
using MonoClock = std::chrono::steady_clock;
using MonoTime = MonoClock::time_point;
using Duration = std::chrono::nanoseconds;

class Clock {
 public:
  virtual ~Clock() = default;

  // The present local date in whole days since 1899-12-30 (so 2023-03-15 is 45000).
  virtual double Today() const = 0;

  // Seconds since local midnight, 0 <= result < 86400, with fractions.
  virtual double SecondsSinceMidnight() const = 0;

  // A reading that only moves forward; for measuring waits.
  virtual MonoTime Monotonic() const = 0;
};

// Day number of a civil date counted from 1899-12-30 (day 0). Used by both
// clocks and by tests that build dates.
constexpr int DaysSince18991230(int year, unsigned month, unsigned day) {
  // Howard Hinnant's days_from_civil, shifted from 1970-01-01 to 1899-12-30.
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  constexpr int kUnixEpochFrom18991230 = 25569;
  return era * 146097 + static_cast<int>(doe) - 719468 + kUnixEpochFrom18991230;
}

}  // namespace ravelon
