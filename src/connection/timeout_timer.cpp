// The watchdog: TimeoutTimer is armed by every stage of a connection with the
// time that stage may take; its expiry says, by the connection state, what
// has stalled and restarts it. The same timer times the wait before a
// reconnect and the pause between single requests.
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr int32_t kReconnectAfterConnectTimeoutMs = 50'000;

}  // namespace

void Korvid::ArmTimeoutTimer(int32_t milliseconds) {
  TimeoutTimer->SetEnabled(false);
  TimeoutTimer->SetInterval(milliseconds);
  TimeoutTimer->SetEnabled(true);
}

void Korvid::TimeoutTimer_Timer() {
  // An expiry that was already queued when the timer was switched off is dropped.
  if (!TimeoutTimer->Enabled()) return;
  // One-shot: each arming yields at most one expiry.
  TimeoutTimer->SetEnabled(false);
  switch (m_connectionState) {
    case kReadingParts:
      RaiseDebugEvent(kDebugHousekeeping, "Process part timeout.");
      FlushToStore();
      ConnectToSource();
      break;
    case kPollWait:
      ReconnectForNextRequest();
      break;
    case kReadingHeader:
      RaiseDebugEvent(kDebugHousekeeping, "Process header timeout.");
      ConnectToSource();
      break;
    case kConnecting:
      RaiseDebugEvent(kDebugHousekeeping, "Connect timeout.");
      ScheduleReconnect(kReconnectAfterConnectTimeoutMs);
      break;
    case kReconnectWait:
      ConnectToSource();
      break;
    case kAwaitingResponse:
      RaiseDebugEvent(kDebugHousekeeping, "URL timeout.");
      ConnectToSource();
      break;
    default:
      break;
  }
}

}  // namespace ravelon
