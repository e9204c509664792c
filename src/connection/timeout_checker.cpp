#include "connection/timeout_checker.h"

namespace ravelon {

TimeoutChecker::TimeoutChecker(const Clock& clock)
    : clock_(clock),
      m_deadline(std::make_shared<DateTimeStamp>()),
      m_lastCheck(std::make_shared<DateTimeStamp>()) {
  StopTimeout();
}

void TimeoutChecker::StopTimeout() { InitTimeout(-1); }

void TimeoutChecker::InitTimeout(int32_t milliseconds) {
  if (milliseconds < 0) {
    m_deadline->SetDate(-1);
    return;
  }
  m_deadline->SetToNow(clock_);
  m_lastCheck->CopyFrom(*m_deadline);
  m_deadline->Add(0, milliseconds / 1000.0);
}

bool TimeoutChecker::HasTimeout() {
  if (m_deadline->GetDate() < 0) return false;
  DateTimeStamp now;
  now.SetToNow(clock_);
  if (now.Compare(*m_lastCheck) == kStampEarlier) return true;
  m_lastCheck->CopyFrom(now);
  return now.Compare(*m_deadline) != kStampEarlier;
}

}  // namespace ravelon
