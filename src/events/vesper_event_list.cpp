#include "events/vesper_event_list.h"

#include <utility>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

constexpr size_t kLengthBytes = 4;

}  // namespace

void VesperEventList::Reset() { m_events.clear(); }

int32_t VesperEventList::GetEventCount() const { return static_cast<int32_t>(m_events.size()); }

void VesperEventList::AddEventObject(const VesperEvent& EventObject) {
  auto event = std::make_shared<VesperEvent>();
  event->CloneFrom(EventObject);
  m_events.push_back(std::move(event));
}

std::shared_ptr<VesperEvent> VesperEventList::GetEvent(int32_t index) const {
  if (index < 1 || index > GetEventCount()) return nullptr;
  return m_events[static_cast<size_t>(index) - 1];
}

int32_t VesperEventList::GetEventIndexByDateTime(double DateValue, double TimeValue) const {
  if (m_events.empty()) return -1;
  for (size_t i = 0; i < m_events.size(); ++i) {
    // Event i + 1 is the first one after the stamp: i events precede it.
    if (m_events[i]->IsAfter(DateValue, TimeValue)) return static_cast<int32_t>(i);
  }
  return GetEventCount();
}

std::string VesperEventList::toString() const {
  size_t total = 0;
  for (const auto& event : m_events) {
    total += kLengthBytes + VesperEvent::kStampBytes + event->getText().size();
  }
  std::string data;
  data.reserve(total);
  for (const auto& event : m_events) {
    data += LongToBytes(static_cast<int32_t>(VesperEvent::kStampBytes + event->getText().size()));
    event->AppendTo(data);
  }
  return data;
}

bool VesperEventList::fromString(std::string_view EventData) {
  // Parse into a list of our own and take it over only when all of it is
  // good, so a failure never leaves a part of the data behind.
  std::vector<std::shared_ptr<VesperEvent>> events;
  std::string_view rest = EventData;
  while (rest.size() >= kLengthBytes) {
    const int32_t length = BytesToLong(rest.substr(0, kLengthBytes));
    rest.remove_prefix(kLengthBytes);
    if (length < 0 || static_cast<size_t>(length) > rest.size()) {
      Reset();
      return false;
    }
    auto event = std::make_shared<VesperEvent>();
    if (!event->fromString(rest.substr(0, static_cast<size_t>(length)))) {
      Reset();
      return false;
    }
    events.push_back(std::move(event));
    rest.remove_prefix(static_cast<size_t>(length));
  }
  m_events = std::move(events);
  return true;
}

}  // namespace ravelon
