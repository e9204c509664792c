#include "events/vesper_event.h"

#include "common/date_time.h"
#include "common/number_encoding.h"

namespace ravelon {

VesperEvent::VesperEvent() : m_dateTime(std::make_shared<DateTimeStamp>()) {}

VesperEvent::VesperEvent(const VesperEvent& other)
    : m_dateTime(std::make_shared<DateTimeStamp>(*other.m_dateTime)), m_text(other.m_text) {}

VesperEvent& VesperEvent::operator=(const VesperEvent& other) {
  CloneFrom(other);
  return *this;
}

void VesperEvent::CloneFrom(const VesperEvent& EventObject) {
  m_text = EventObject.m_text;
  m_dateTime->CopyFrom(*EventObject.m_dateTime);
}

void VesperEvent::setDateTime(const DateTimeStamp& DateTime) { m_dateTime->CopyFrom(DateTime); }

void VesperEvent::SetData(double DateValue, double TimeValue, const std::string& TextValue) {
  m_dateTime->Set(DateValue, TimeValue);
  m_text = TextValue;
}

void VesperEvent::GetData(double& DateValue, double& TimeValue, std::string& TextValue) const {
  DateValue = m_dateTime->GetDate();
  TimeValue = m_dateTime->GetTime();
  TextValue = m_text;
}

DateTimeStamp& VesperEvent::getDateTime() { return *m_dateTime; }

bool VesperEvent::fromString(std::string_view stringData) {
  if (stringData.size() < kStampBytes) return false;
  m_dateTime->Set(BytesToDouble(stringData.substr(0, 8)), BytesToDouble(stringData.substr(8, 8)));
  m_text.assign(stringData.substr(kStampBytes));
  return true;
}

std::string VesperEvent::toString() const {
  std::string form;
  form.reserve(kStampBytes + m_text.size());
  AppendTo(form);
  return form;
}

void VesperEvent::AppendTo(std::string& out) const {
  out += DoubleToBytes(m_dateTime->GetDate());
  out += DoubleToBytes(m_dateTime->GetTime());
  out += m_text;
}

bool VesperEvent::IsAfter(double DateValue, double TimeValue) const {
  return CompareStamps(m_dateTime->GetDate(), m_dateTime->GetTime(), DateValue, TimeValue) ==
         kStampLater;
}

}  // namespace ravelon
