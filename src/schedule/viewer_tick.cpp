#include "schedule/viewer_tick.h"

#include "common/engine_limits.h"

namespace ravelon {

ViewerTick::ViewerTick(EventLoop& loop, const Clock& clock, ViewerTickOwner& owner)
    : m_clock(clock), m_owner(owner), m_viewer(loop.NewTimer([this] { Tick(); })) {
  m_viewer->SetInterval(kDefaultViewIntervalMs);
}

void ViewerTick::SetSchedule(const WeeklySchedule& schedule) {
  m_schedule = schedule;
  m_scheduleDay = -1;
  m_scheduledDisconnect = false;
}

void ViewerTick::Tick() {
  const int16_t weekday = WeekdayOf(m_clock.Today());

  const uint8_t action = ScheduleActionAt(m_schedule, weekday, m_clock.SecondsSinceMidnight());
  const bool action_changed = action != m_scheduleAction;
  m_scheduleAction = action;
  if (action_changed) m_owner.OnScheduleActionChanged();

  if (weekday != m_scheduleDay) {
    m_scheduleDay = weekday;
    m_dayHasDisconnect = DayHasDisconnect(m_schedule, weekday);
  }
  const bool disconnect = m_dayHasDisconnect &&
                          ScheduleActionAt(m_schedule, m_scheduleDay,
                                           m_clock.SecondsSinceMidnight()) == kScheduleDisconnected;
  if (disconnect != m_scheduledDisconnect) {
    m_scheduledDisconnect = disconnect;
    m_owner.OnScheduledDisconnect(disconnect);
  }
  m_owner.OnViewTick();
}

}  // namespace ravelon
