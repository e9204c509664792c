// The rates of one source: packets (frames received) and saves per second,
// and the ten-minute rate period that paces their report. The connection
// starts and stops the period, the frame pipeline and the store count, the
// view tick reports.
//
// Owned by the engine; used on its thread.
#pragma once

#include <string>

#include "common/engine_limits.h"
#include "connection/timeout_checker.h"
#include "schedule/frequency_calculator.h"

namespace ravelon {

class RateStatistics {
 public:
  explicit RateStatistics(const Clock& clock)
      : m_packetRate(clock), m_saveRate(clock), m_statsPeriod(clock) {}

  void StartPeriod() { m_statsPeriod.InitTimeout(kStatsPeriodMs); }
  void StopPeriod() { m_statsPeriod.StopTimeout(); }
  // Both rates start afresh: a new connection.
  void Reset() {
    m_saveRate.Reset();
    m_packetRate.Reset();
  }
  void PacketArrived() { m_packetRate.Tick(); }
  void FrameSaved() { m_saveRate.Tick(); }

  // "PacketFPS = x.xx; SaveFPS = y.yy" once the period has run out, which
  // starts the next one; "" before that.
  std::string TakeReportIfDue();

 private:
  FrequencyCalculator m_packetRate;
  FrequencyCalculator m_saveRate;
  TimeoutChecker m_statsPeriod;
};

}  // namespace ravelon
