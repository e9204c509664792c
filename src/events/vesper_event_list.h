// A list of events (VesperEvent) and its binary text form: the payload of
// "text/x-vesper-event-list" parts, of event-list frames, and of an event
// frame once it is wrapped into a list. The engine parses a list to re-time
// it onto its own clock and writes it back with toString.
//
// Owned by the code that made it; used on the engine's thread.
//
// Event-list text form: records one after another, nothing before, between
// or after them, no count. A record is
//   4 bytes: L, the length of the event text form that follows,
//            32-bit signed little-endian (L >= 16)
//   L bytes: the event text form (see vesper_event.h)
// The empty list is the empty string.
//
// Events are numbered 1 ... count at this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "events/vesper_event.h"

namespace ravelon {

class VesperEventList {
 public:
  // A new list is empty.
  VesperEventList() = default;

  // Empties the list.
  void Reset();
  int32_t GetEventCount() const;

  // Appends a copy of `EventObject` (made with CloneFrom); the caller's event
  // stays its own.
  void AddEventObject(const VesperEvent& EventObject);

  // The stored event itself (changing it changes the list) for 1 <= index <=
  // count; nullptr otherwise.
  std::shared_ptr<VesperEvent> GetEvent(int32_t index) const;

  // Index of the first event after (DateValue, TimeValue), minus 1; the count
  // when no event is after it; -1 for an empty list. For a list in time order
  // this is the number of events at or before the given stamp.
  int32_t GetEventIndexByDateTime(double DateValue, double TimeValue) const;

  // The event-list text form, built with one allocation.
  std::string toString() const;

  // Replaces the list by the one parsed from `EventData`. A record whose
  // length is negative, runs past the end of the data or is shorter than an
  // event's 16 stamp bytes makes the whole parse fail: the list is then
  // empty and false is returned. One to three bytes left over after the last
  // record are ignored. Lengths are checked against the bytes present before
  // anything is copied, so a hostile length costs nothing.
  bool fromString(std::string_view EventData);

 private:
  // m_events[i - 1] is event i.
  std::vector<std::shared_ptr<VesperEvent>> m_events;
};

}  // namespace ravelon
