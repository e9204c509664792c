// Re-timing of event lists onto the engine's clock. A source stamps its events
// with its own clock, which may be wrong by minutes or days; the list is moved
// as a whole so that its last event falls on the moment of arrival, keeping
// the distances between events.
#include <cmath>

#include "common/date_time.h"
#include "events/vesper_event_list.h"
#include "pipeline/frame_pipeline.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

// The shifted time rounded to the nearest millisecond (a shift computed in
// floating point must not move an event a millisecond early), carrying into
// the date when it rounds up to midnight.
void RoundToMillisecond(double& date, double& time) {
  time = std::round(time * 1000) / 1000;
  if (time >= kSecondsPerDay) {
    time -= kSecondsPerDay;
    date += 1;
  }
}

}  // namespace

// Each event, after the shift, is rounded to the millisecond; from the second
// event on, a stamp that is not later than the previous event's becomes that
// stamp plus 2 ms, so the list stays in strictly increasing order even when
// rounding or the source's own stamps would tie or reverse two events.
bool FramePipeline::CorrectEventList(std::shared_ptr<MediaFrame>& newFrame) const {
  if (!newFrame || newFrame->getDataType() != kEventList) return false;
  VesperEventList list;
  if (!list.fromString(newFrame->getDataBlock().View())) return false;
  const int32_t count = list.GetEventCount();
  if (count == 0) return false;

  double now_date = 0, now_time = 0;
  GetNowDateTime(m_clock, now_date, now_time);
  const std::shared_ptr<VesperEvent> last = list.GetEvent(count);
  const double delta_date = now_date - last->getDate();
  const double delta_time = now_time - last->getTime();

  double previous_date = 0, previous_time = 0;
  for (int32_t i = 1; i <= count; ++i) {
    const std::shared_ptr<VesperEvent> event = list.GetEvent(i);
    double date = event->getDate();
    double time = event->getTime();
    AddToStamp(date, time, delta_date, delta_time);
    RoundToMillisecond(date, time);
    if (i > 1) AdvanceStamp(date, time, previous_date, previous_time);
    event->setDate(date);
    event->setTime(time);
    previous_date = date;
    previous_time = time;
  }
  newFrame->setDate(list.GetEvent(1)->getDate());
  newFrame->setTime(list.GetEvent(1)->getTime());
  newFrame->getDataBlock().Clear();
  newFrame->getDataBlock().AppendText(list.toString());
  return true;
}

}  // namespace ravelon
