// The close and error events of the engine's socket. (The connect event
// sends the request; data arrival feeds the stream reader.)
#include "common/engine_limits.h"
#include "connection/connection.h"
#include "ravelon/debug_levels.h"

namespace ravelon {

void Connection::OnClose() {
  // In single-response mode the source ends its response by closing: take it.
  if (m_connectionState == kAwaitingResponse && !m_settings.streaming) {
    CloseSocket();
    TakeSingleResponse();
    return;
  }
  m_owner.OnConnectionLost();
  m_owner.Debug(kDebugHousekeeping, "WinSock.Close");
  ScheduleReconnect(kReconnectAfterBreakMs);
}

void Connection::OnError(int16_t number, const std::string& description) {
  m_owner.Debug(kDebugError,
                "WinSock.Error: Number=" + std::to_string(number) + ", Description=" + description);
  if (m_connectionState == kConnecting) {
    // The connect itself failed: the source is down or unreachable.
    ScheduleReconnect(kReconnectAfterFailedConnectMs);
    return;
  }
  m_owner.OnConnectionLost();
  ScheduleReconnect(kReconnectAfterBreakMs);
}

}  // namespace ravelon
