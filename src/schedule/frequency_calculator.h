// Turns a stream of ticks into events per second, averaged over the last 100
// to 199 ticks so that the rate follows changes without jumping with each
// tick. The engine keeps two: the packet rate (frames handled) and the save
// rate (frames taken from the save queue).
//
// Owned by one engine; used on its thread.
#pragma once

#include <cstdint>

#include "ravelon/clock.h"

namespace ravelon {

class FrequencyCalculator {
 public:
  // A new calculator is reset.
  explicit FrequencyCalculator(const Clock& clock);

  void Reset();
  void Tick();
  // Events per second over the current window; 0 when the clock has not moved
  // on since the window began (or has gone back past midnight).
  double getFrequency() const;

 private:
  static constexpr int32_t kBlockTicks = 100;

  void StartNewWindow();
  // Seconds since local midnight.
  double Now() const;

  const Clock& clock_;
  int32_t m_windowCount = 0;
  int32_t m_currentCount = 0;
  double m_windowStart = 0;
  double m_currentStart = 0;
};

}  // namespace ravelon
