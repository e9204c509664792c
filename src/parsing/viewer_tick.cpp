// The periodic tick of the Viewer timer, while the engine is prepared: it
// applies the weekly schedule, writes the rate report at most every ten
// minutes, and announces new frames with DataReady.
#include <cstdio>

#include "common/schedule.h"
#include "connection/timeout_checker.h"
#include "parsing/frequency_calculator.h"
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr int32_t kRateReportPeriodMs = 600'000;

std::string Rate(double per_second) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", per_second);
  return text;
}

}  // namespace

void Korvid::Viewer_Timer() {
  const Clock& clock = m_platform->GetClock();
  const int16_t weekday = WeekdayOf(clock.Today());

  // A change of action begins a new recording segment.
  const uint8_t action = ScheduleActionAt(m_schedule, weekday, clock.SecondsSinceMidnight());
  if (action != m_scheduleAction) m_segmentPending = true;
  m_scheduleAction = action;

  if (weekday != m_scheduleDay) {
    m_scheduleDay = weekday;
    m_dayHasDisconnect = DayHasDisconnect(m_schedule, weekday);
  }
  const bool disconnect =
      m_dayHasDisconnect && ScheduleActionAt(m_schedule, m_scheduleDay,
                                             clock.SecondsSinceMidnight()) == kScheduleDisconnected;
  if (disconnect != m_scheduledDisconnect) {
    m_scheduledDisconnect = disconnect;
    RaiseDebugEvent(kDebugSchedule, disconnect ? "Scheduled disconnect." : "Scheduled reconnect.");
    ConnectToSource();  // stays idle while the schedule holds the source disconnected
  }

  if (m_frameCounter != m_reportedFrame) {
    if (StatsPeriod().HasTimeout()) {
      StatsPeriod().InitTimeout(kRateReportPeriodMs);
      RaiseDebugEvent(kDebugLifecycle, "PacketFPS = " + Rate(PacketRate().getFrequency()) +
                                           "; SaveFPS = " + Rate(SaveRate().getFrequency()));
    }
    m_reportedFrame = m_frameCounter;
    RaiseDataReady();
  }
}

}  // namespace ravelon
