// The socket's connect event: the new session's bookkeeping, and the request
// (see http_request.h for its bytes). Credentials go as Basic until the source
// answers with a Digest challenge; from then on each request answers it.
#include "common/engine_limits.h"
#include "connection/codec_base64.h"
#include "connection/connection.h"
#include "connection/http_request.h"
#include "ravelon/debug_levels.h"
#include "schedule/rate_statistics.h"

namespace ravelon {
namespace {

constexpr char kLineEnd[] = "\r\n";

}  // namespace

void Connection::OnConnect() {
  // A further request of the same session (the next polled image, an answer
  // to a Digest challenge) keeps what the session has queued and counted.
  const bool continuing = m_continuing;
  m_continuing = false;
  if (!continuing) {
    m_rates.StartPeriod();
    m_owner.OnSessionStarted();
  }
  m_timeoutTimer->SetEnabled(false);
  if (m_settings.streaming) m_owner.Debug(kDebugConnection, "Connected. Sending URL...");
  // A source may answer before it is asked: what arrives while the loop runs
  // below already goes through a fresh gate, so a head it holds is kept.
  m_gate.Reset();
  m_bodyBroken = false;
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
    request = BuildRequest({.style = m_settings.requestStyle,
                            .path = m_settings.url,
                            .address = m_settings.address,
                            .port = m_settings.port,
                            .singleResponse = !m_settings.streaming,
                            .authorizationLine = BuildAuthorizationHeader()});
    ArmTimeoutTimer(kResponseTimeoutMs);
  }
  // With an empty path the engine waits, without a timeout, for whatever the
  // source sends by itself.
  if (m_socket->State() == TcpSocket::kConnected) m_socket->SendData(request);
}

DigestSession& Connection::Digest() {
  const std::string credentials = m_settings.userName + '\0' + m_settings.password;
  if (!m_digest || credentials != m_digestCredentials) {
    m_digest = std::make_unique<DigestSession>(m_settings.userName, m_settings.password,
                                               RandomClientNonce);
    m_digestCredentials = credentials;
  }
  return *m_digest;
}

std::string Connection::BuildAuthorizationHeader() {
  if (m_settings.userName.empty() && m_settings.password.empty()) return std::string();
  if (Digest().HasChallenge()) {
    std::string value, error;
    if (m_digest->Authorize("GET", m_settings.url, value, error)) {
      return "Authorization: " + value + kLineEnd;
    }
    m_owner.Debug(kDebugError, "Cannot answer the source's Digest challenge: " + error + ".");
  }
  std::string credentials;
  if (Codec_Base64().Encode(m_settings.userName + ":" + m_settings.password, credentials) !=
      Codec_Base64::kDone) {
    return std::string();
  }
  // The encoder breaks its lines after 76 characters; a header value must
  // stay on one line. The bare request keeps the bytes it always had.
  if (m_settings.requestStyle != RequestStyle::kBare) {
    std::erase(credentials, '\r');
    std::erase(credentials, '\n');
  }
  return "Authorization: Basic " + credentials + kLineEnd;
}

}  // namespace ravelon
