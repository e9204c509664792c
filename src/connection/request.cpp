// The socket's connect event: the new session's bookkeeping, and the request.
// The request is a bare GET line with the configured path, an optional Basic
// authorization line, and a blank line: nothing else, since the sources this
// engine reads answer exactly that.
#include "common/engine_limits.h"
#include "connection/codec_base64.h"
#include "connection/connection.h"
#include "ravelon/debug_levels.h"
#include "schedule/rate_statistics.h"

namespace ravelon {
namespace {

constexpr char kLineEnd[] = "\r\n";

}  // namespace

void Connection::OnConnect() {
  m_rates.StartPeriod();
  m_owner.OnSessionStarted();
  m_timeoutTimer->SetEnabled(false);
  if (m_settings.streaming) m_owner.Debug(kDebugConnection, "Connected. Sending URL...");
  const uint64_t attempt = m_attempt;
  m_loop.ProcessPendingEventsOnce();
  // A handler that ran meanwhile may have ended this attempt (the source
  // closed at once, an error, a release, the schedule, a new connect): every
  // one of them closes the socket, and its outcome stands.
  if (attempt != m_attempt) return;
  m_connectionState = kAwaitingResponse;

  std::string request;
  if (!m_settings.url.empty()) {
    // The setting itself keeps the "/", so the host sees the path as sent.
    if (m_settings.url.front() != '/') m_settings.url.insert(0, 1, '/');
    request = "GET " + m_settings.url + kLineEnd + BuildAuthorizationHeader() + kLineEnd;
    ArmTimeoutTimer(kResponseTimeoutMs);
  }
  // With an empty path the engine waits, without a timeout, for whatever the
  // source sends by itself.
  if (m_socket->State() == TcpSocket::kConnected) m_socket->SendData(request);
}

std::string Connection::BuildAuthorizationHeader() const {
  if (m_settings.userName.empty() && m_settings.password.empty()) return std::string();
  std::string credentials;
  if (Codec_Base64().Encode(m_settings.userName + ":" + m_settings.password, credentials) !=
      Codec_Base64::kDone) {
    return std::string();
  }
  return "Authorization: Basic " + credentials + kLineEnd;
}

}  // namespace ravelon
