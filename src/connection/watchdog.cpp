// The watchdog: TimeoutTimer is armed by every stage of a connection with the
// time that stage may take; its expiry says, by the connection state, what
// has stalled and restarts it. The same timer times the wait before a
// reconnect and the pause between single requests.
#include "common/engine_limits.h"
#include "connection/connection.h"
#include "ravelon/debug_levels.h"

namespace ravelon {
void Connection::ArmTimeoutTimer(int32_t milliseconds) {
  m_timeoutTimer->SetEnabled(false);
  m_timeoutTimer->SetInterval(milliseconds);
  m_timeoutTimer->SetEnabled(true);
}

void Connection::TimeoutTimer_Timer() {
  // An expiry that was already queued when the timer was switched off is dropped.
  if (!m_timeoutTimer->Enabled()) return;
  // One-shot: each arming yields at most one expiry.
  m_timeoutTimer->SetEnabled(false);
  switch (m_connectionState) {
    case kReadingParts:
      m_owner.Debug(kDebugHousekeeping, "Process part timeout.");
      m_owner.OnConnectionLost();
      ConnectToSource();
      break;
    case kPollWait:
      ReconnectForNextRequest();
      break;
    case kReadingHeader:
      m_owner.Debug(kDebugHousekeeping, "Process header timeout.");
      ConnectToSource();
      break;
    case kConnecting:
      if (m_socket->State() == TcpSocket::kResolving) {
        m_owner.Debug(kDebugHousekeeping,
                      "Connect timeout: name lookup of " + m_settings.address + " did not finish.");
      } else {
        m_owner.Debug(kDebugHousekeeping, "Connect timeout.");
      }
      ScheduleReconnect(kReconnectAfterFailedConnectMs);
      break;
    case kReconnectWait:
      ConnectToSource();
      break;
    case kAwaitingResponse:
      m_owner.Debug(kDebugHousekeeping, "URL timeout.");
      ConnectToSource();
      break;
    default:
      break;
  }
}

}  // namespace ravelon
