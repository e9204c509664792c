// One event: a piece of text, such as a receipt printer's output, with the
// date and time at which it happened. Event lists hold these, and the event
// text form below is the element format of the event-list text form that
// event-list parts carry and the frame store keeps.
//
// Owned by its event list or by the code that made it; used on the engine's
// thread.
//
// Event text form (no separators, no escaping, no terminator):
//   offset 0, 8 bytes: date, IEEE 754 binary64, little-endian
//   offset 8, 8 bytes: time, IEEE 754 binary64, little-endian
//   offset 16, n >= 0 bytes: the text, to the end of the form
// Its length is known only from its container.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "ravelon/date_time_stamp.h"

namespace ravelon {

class VesperEvent {
 public:
  // Bytes of the form before the text: the date and the time.
  static constexpr size_t kStampBytes = 16;

  // A new event has empty text and the stamp of a new DateTimeStamp.
  VesperEvent();
  // Copies own their stamp: changing one never changes the other.
  VesperEvent(const VesperEvent& other);
  VesperEvent& operator=(const VesperEvent& other);

  // Takes over the text and a copy of the stamp of `EventObject`.
  void CloneFrom(const VesperEvent& EventObject);
  // Copies the values of `DateTime` into the event's own stamp.
  void setDateTime(const DateTimeStamp& DateTime);

  void SetData(double DateValue, double TimeValue, const std::string& TextValue);
  void GetData(double& DateValue, double& TimeValue, std::string& TextValue) const;

  // The event's own stamp, not a copy: changing it changes the event. Valid as
  // long as the event lives.
  DateTimeStamp& getDateTime();

  // Parses an event text form. A form shorter than 16 bytes is refused with
  // false and leaves the event unchanged; otherwise date, time and text are
  // replaced (no plausibility check on the numbers) and true is returned.
  bool fromString(std::string_view stringData);
  // The event text form of the event. The text must be shorter than
  // 2^31 - 16 bytes for the form to fit the event-list length prefix.
  std::string toString() const;
  // Appends the event text form to `out`, without building it separately.
  void AppendTo(std::string& out) const;

  // True when the event's stamp is strictly later than (DateValue, TimeValue).
  bool IsAfter(double DateValue, double TimeValue) const;

  const std::string& getText() const { return m_text; }
  double getDate() const { return m_dateTime->GetDate(); }
  double getTime() const { return m_dateTime->GetTime(); }
  void setText(const std::string& value) { m_text = value; }
  void setDate(double value) { m_dateTime->SetDate(value); }
  void setTime(double value) { m_dateTime->SetTime(value); }

 private:
  // Never null, and never replaced, so references from getDateTime stay valid.
  std::shared_ptr<DateTimeStamp> m_dateTime;
  std::string m_text;  // any bytes, control bytes such as ESC and GS included
};

}  // namespace ravelon
