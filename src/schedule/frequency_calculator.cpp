#include "schedule/frequency_calculator.h"

namespace ravelon {

FrequencyCalculator::FrequencyCalculator(const Clock& clock) : clock_(clock) { Reset(); }

double FrequencyCalculator::Now() const { return clock_.SecondsSinceMidnight(); }

void FrequencyCalculator::Reset() {
  m_windowStart = m_currentStart = Now();
  m_windowCount = m_currentCount = 0;
}

void FrequencyCalculator::Tick() {
  ++m_windowCount;
  if (++m_currentCount >= kBlockTicks) StartNewWindow();
}

// The finished block becomes the window, so the rate always covers the
// finished block plus the ticks of the running one.
void FrequencyCalculator::StartNewWindow() {
  m_windowStart = m_currentStart;
  m_windowCount = m_currentCount;
  m_currentCount = 0;
  m_currentStart = Now();
}

double FrequencyCalculator::getFrequency() const {
  const double elapsed = Now() - m_windowStart;
  if (elapsed <= 0) return 0;
  return m_windowCount / elapsed;
}

}  // namespace ravelon
