#include "ravelon/testing/simulated_clock.h"

#include <cmath>

namespace ravelon {
namespace {

constexpr int64_t kNanosPerSecond = 1'000'000'000;
constexpr int64_t kNanosPerDay = 86'400 * kNanosPerSecond;

}  // namespace

SimulatedClock::SimulatedClock() { SetLocalDateTime(DaysSince18991230(2026, 1, 5), 10 * 3600); }

int64_t SimulatedClock::LocalNanoseconds() const {
  return local_at_zero_ns_ + std::chrono::duration_cast<Duration>(now_.time_since_epoch()).count();
}

double SimulatedClock::Today() const {
  const int64_t ns = LocalNanoseconds();
  int64_t days = ns / kNanosPerDay;
  if (ns % kNanosPerDay < 0) --days;
  return static_cast<double>(days);
}

double SimulatedClock::SecondsSinceMidnight() const {
  int64_t in_day = LocalNanoseconds() % kNanosPerDay;
  if (in_day < 0) in_day += kNanosPerDay;
  return static_cast<double>(in_day) / kNanosPerSecond;
}

void SimulatedClock::SetLocalDateTime(double date, double seconds_since_midnight) {
  const int64_t local_ns = static_cast<int64_t>(std::floor(date)) * kNanosPerDay +
                           std::llround(seconds_since_midnight * kNanosPerSecond);
  local_at_zero_ns_ =
      local_ns - std::chrono::duration_cast<Duration>(now_.time_since_epoch()).count();
}

}  // namespace ravelon
