#include "schedule/rate_statistics.h"

#include <cstdio>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

std::string Rate(double per_second) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", per_second);
  return text;
}

}  // namespace

std::string RateStatistics::TakeReportIfDue() {
  if (!m_statsPeriod.HasTimeout()) return "";
  m_statsPeriod.InitTimeout(kStatsPeriodMs);
  return "PacketFPS = " + Rate(m_packetRate.getFrequency()) +
         "; SaveFPS = " + Rate(m_saveRate.getFrequency());
}

}  // namespace ravelon
