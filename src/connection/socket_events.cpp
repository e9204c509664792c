// The close and error events of the engine's socket. (The connect event
// sends the request; data arrival feeds the input buffer.)
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr int32_t kReconnectAfterBreakMs = 5'000;
constexpr int32_t kReconnectAfterFailedConnectMs = 50'000;

}  // namespace

void Korvid::OnClose() {
  // In single-response mode the source ends its response by closing: take it.
  if (m_connectionState == kAwaitingResponse && !m_streaming) {
    Winsock1->Close();
    ProcessResponseHeader();
    return;
  }
  FlushToStore();
  RaiseDebugEvent(kDebugHousekeeping, "WinSock.Close");
  ScheduleReconnect(kReconnectAfterBreakMs);
}

void Korvid::OnError(int16_t number, const std::string& description) {
  RaiseDebugEvent(kDebugError, "WinSock.Error: Number=" + std::to_string(number) +
                                   ", Description=" + description);
  if (m_connectionState == kConnecting) {
    // The connect itself failed: the source is down or unreachable.
    ScheduleReconnect(kReconnectAfterFailedConnectMs);
    return;
  }
  FlushToStore();
  ScheduleReconnect(kReconnectAfterBreakMs);
}

}  // namespace ravelon
