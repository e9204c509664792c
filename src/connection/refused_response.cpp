// Responses the gate stopped. A status outside 2xx is said at the error level,
// once per attempt, and the connection is retried after the normal delay, as
// after a break: a source that refuses is never asked again in a tight loop,
// nor left to the watchdog in silence. A Digest challenge that the engine can
// answer is the exception: the request goes again at once with the answer (the
// Digest session bounds how often in a row).
#include "common/engine_limits.h"
#include "connection/connection.h"
#include "ravelon/debug_levels.h"

namespace ravelon {
namespace {

constexpr int32_t kUnauthorized = 401;

}  // namespace

void Connection::OnRefused() {
  std::string reason;
  const bool credentials = !m_settings.userName.empty() || !m_settings.password.empty();
  if (m_gate.StatusCode() == kUnauthorized && credentials) {
    switch (Digest().OnChallenge(m_gate.Challenges(), reason)) {
      case DigestSession::kRetry:
        m_owner.Debug(kDebugConnection, "Source asked for Digest credentials. Sending them.");
        ReconnectForNextRequest();
        return;
      case DigestSession::kRejected:
      case DigestSession::kUnusable:
        break;
    }
  }
  m_owner.Debug(kDebugError, "Source answered " + m_gate.StatusLine() +
                                 (reason.empty() ? std::string() : " (" + reason + ")"));
  m_owner.OnConnectionLost();
  ScheduleReconnect(kReconnectAfterBreakMs);
}

void Connection::OnBrokenBody() {
  m_owner.Debug(kDebugError, "Broken chunked response: " + m_gate.Error() + " Reconnecting.");
  m_owner.OnConnectionLost();
  ScheduleReconnect(kReconnectAfterBreakMs);
}

}  // namespace ravelon
