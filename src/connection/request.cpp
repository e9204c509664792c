// The socket's connect event: the new connection's bookkeeping, and the
// request. The request is a bare GET line with the configured path, an
// optional Basic authorization line, and a blank line: nothing else, since
// the sources this engine reads answer exactly that.
#include "components/object_list.h"
#include "connection/codec_base64.h"
#include "connection/timeout_checker.h"
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr int32_t kStatsPeriodMs = 600'000;
constexpr int32_t kResponseTimeoutMs = 10'000;
constexpr char kLineEnd[] = "\r\n";

}  // namespace

void Korvid::OnConnect() {
  StatsPeriod().InitTimeout(kStatsPeriodMs);
  m_framesLost = 0;
  ClearSaveQueue();
  ResetRates();
  TimeoutTimer->SetEnabled(false);
  if (m_streaming) RaiseDebugEvent(kDebugConnection, "Connected. Sending URL...");
  m_platform->Loop().ProcessPendingEventsOnce();
  m_connectionState = kAwaitingResponse;

  std::string request;
  if (!m_url.empty()) {
    // The member itself keeps the "/", so GetUrl shows the path as sent.
    if (m_url.front() != '/') m_url.insert(0, 1, '/');
    request = "GET " + m_url + kLineEnd + BuildAuthorizationHeader() + kLineEnd;
    ArmTimeoutTimer(kResponseTimeoutMs);
  }
  // With an empty path the engine waits, without a timeout, for whatever the
  // source sends by itself. A socket that went away meanwhile gets nothing;
  // the response timeout then restarts the connection.
  if (Winsock1->State() == TcpSocket::kConnected) Winsock1->SendData(request);
}

std::string Korvid::BuildAuthorizationHeader() const {
  if (m_userName.empty() && m_password.empty()) return std::string();
  std::string credentials;
  if (Codec_Base64().Encode(m_userName + ":" + m_password, credentials) != Codec_Base64::kDone) {
    return std::string();
  }
  return "Authorization: Basic " + credentials + kLineEnd;
}

}  // namespace ravelon
