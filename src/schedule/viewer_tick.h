// ViewerTick: the engine's periodic tick (the Viewer timer, at the view
// interval while the engine is prepared). Each tick applies the weekly
// schedule, then lets the owner announce new frames.
//
//   action changed            -> owner.OnScheduleActionChanged()
//   disconnect window entered -> owner.OnScheduledDisconnect(true)
//   disconnect window left    -> owner.OnScheduledDisconnect(false)
//   every tick, last          -> owner.OnViewTick()
//
// Owned by the engine; the tick runs on the engine's loop.
#pragma once

#include <cstdint>
#include <memory>

#include "common/schedule.h"
#include "ravelon/clock.h"
#include "ravelon/event_loop.h"

namespace ravelon {

class ViewerTickOwner {
 public:
  virtual ~ViewerTickOwner() = default;
  // The action in force changed: what follows is a new recording segment.
  virtual void OnScheduleActionChanged() = 0;
  // The schedule now holds the source disconnected, or lets it connect again.
  virtual void OnScheduledDisconnect(bool disconnect) = 0;
  virtual void OnViewTick() = 0;
};

class ViewerTick {
 public:
  ViewerTick(EventLoop& loop, const Clock& clock, ViewerTickOwner& owner);

  // A new schedule, evaluated from scratch at the next tick.
  void SetSchedule(const WeeklySchedule& schedule);

  int32_t Interval() const { return m_viewer->Interval(); }
  void SetInterval(int32_t milliseconds) { m_viewer->SetInterval(milliseconds); }
  void Start() { m_viewer->SetEnabled(true); }
  void Stop() { m_viewer->SetEnabled(false); }

  // The action of the last tick (0 before the first).
  uint8_t Action() const { return m_scheduleAction; }
  // True while the schedule holds the source disconnected.
  bool ScheduledDisconnect() const { return m_scheduledDisconnect; }

  // One tick, as the timer runs it.
  void Tick();

 private:
  const Clock& m_clock;
  ViewerTickOwner& m_owner;
  std::unique_ptr<Timer> m_viewer;
  WeeklySchedule m_schedule;
  uint8_t m_scheduleAction = 0;
  bool m_dayHasDisconnect = false;
  int16_t m_scheduleDay = -1;
  bool m_scheduledDisconnect = false;
};

}  // namespace ravelon
