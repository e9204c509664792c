#include "camera/request_gate.h"

namespace ravelon::cli {
namespace {

constexpr char kRealm[] = "ravelon test camera";
constexpr char kOpaque[] = "5ccc069c403ebaf9f0171e9517f40e41";

Refusal BasicChallenge() {
  return {
      401, "Unauthorized", {{"WWW-Authenticate", std::string("Basic realm=\"") + kRealm + "\""}}};
}

}  // namespace

RequestGate::RequestGate(const CameraOptions& options) : m_options(options) {
  const bool demanded = !options.user.empty() || !options.password.empty();
  if (demanded && options.auth != AuthScheme::kBasic) {
    m_digest.emplace(DigestSettings{.sha256 = options.auth == AuthScheme::kDigestSha256,
                                    .realm = kRealm,
                                    .user = options.user,
                                    .password = options.password,
                                    .opaque = kOpaque,
                                    .nonce_uses = options.nonce_uses},
                     RandomNonce);
  }
}

std::optional<Refusal> RequestGate::Screen(const RequestHead& request) {
  if (m_options.http_only && request.version.empty()) return Refusal{400, "Bad Request", {}};
  if (m_options.reply_status == 401) return BasicChallenge();
  if (m_options.reply_status == 404) return Refusal{404, "Not Found", {}};
  if (request.method != "GET") return Refusal{405, "Method Not Allowed", {{"Allow", "GET"}}};
  return CheckCredentials(request);
}

std::optional<Refusal> RequestGate::CheckCredentials(const RequestHead& request) {
  if (!m_digest) {
    if (Authorized(request.authorization, m_options.user, m_options.password)) return std::nullopt;
    return BasicChallenge();
  }
  const DigestGuard::Verdict verdict =
      m_digest->Check(request.method, request.path, request.authorization);
  if (verdict == DigestGuard::Verdict::kAccepted) return std::nullopt;
  const bool stale = verdict == DigestGuard::Verdict::kStale;
  return Refusal{401, "Unauthorized", {{"WWW-Authenticate", m_digest->Challenge(stale)}}, stale};
}

}  // namespace ravelon::cli
