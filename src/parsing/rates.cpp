// The engine's two rate calculators, made on first use.
#include "parsing/frequency_calculator.h"
#include "ravelon/korvid.h"

namespace ravelon {

FrequencyCalculator& Korvid::PacketRate() {
  if (!m_packetRate) m_packetRate = std::make_shared<FrequencyCalculator>(m_platform->GetClock());
  return *m_packetRate;
}

FrequencyCalculator& Korvid::SaveRate() {
  if (!m_saveRate) m_saveRate = std::make_shared<FrequencyCalculator>(m_platform->GetClock());
  return *m_saveRate;
}

}  // namespace ravelon
