#include "connection/digest_auth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <utility>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

// 128 bits: a client nonce a source can neither guess nor see repeat.
constexpr int kClientNonceBytes = 16;

std::string LowerHex(const unsigned char* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<uint8_t>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7F;
  });
}

const EVP_MD* HashFunction(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kMd5:
    case DigestAlgorithm::kMd5Sess:
      return EVP_md5();
    case DigestAlgorithm::kSha256:
    case DigestAlgorithm::kSha256Sess:
      return EVP_sha256();
  }
  return nullptr;
}

const char* AlgorithmName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kMd5:
      return "MD5";
    case DigestAlgorithm::kMd5Sess:
      return "MD5-sess";
    case DigestAlgorithm::kSha256:
      return "SHA-256";
    case DigestAlgorithm::kSha256Sess:
      return "SHA-256-sess";
  }
  return "";
}

// The hash of the pieces joined with ":", as lower-case hex; empty when the
// hash function is not available (MD5 where only FIPS algorithms are allowed).
std::string HashOf(DigestAlgorithm algorithm, std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (const std::string_view& piece : pieces) {
    if (&piece != pieces.begin()) text += ':';
    text += piece;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const EVP_MD* function = HashFunction(algorithm);
  if (function == nullptr ||
      EVP_Digest(text.data(), text.size(), digest, &length, function, nullptr) != 1) {
    return std::string();
  }
  return LowerHex(digest, length);
}

// The "response" of a request: the hash of the key (user, realm, password;
// with the nonces for a "-sess" algorithm), the nonce, the count and client
// nonce with qop, and the request's method and URI. Empty when the hash
// function is not available.
std::string ResponseHash(const DigestChallenge& challenge, std::string_view user,
                         std::string_view password, std::string_view method, std::string_view uri,
                         std::string_view count, std::string_view clientNonce) {
  const DigestAlgorithm algorithm = challenge.algorithm;
  std::string key = HashOf(algorithm, {user, challenge.realm, password});
  if (key.empty()) return key;
  if (algorithm == DigestAlgorithm::kMd5Sess || algorithm == DigestAlgorithm::kSha256Sess)
    key = HashOf(algorithm, {key, challenge.nonce, clientNonce});
  const std::string request = HashOf(algorithm, {method, uri});
  if (!challenge.qopAuth) return HashOf(algorithm, {key, challenge.nonce, request});
  return HashOf(algorithm, {key, challenge.nonce, count, clientNonce, "auth", request});
}

// `name="text"`, with quotes and backslashes in the text escaped.
void AppendQuoted(std::string& out, std::string_view name, std::string_view text) {
  out += name;
  out += "=\"";
  for (size_t start = 0;;) {
    const size_t special = text.find_first_of("\"\\", start);
    out.append(text, start, std::min(special, text.size()) - start);
    if (special == std::string_view::npos) break;
    out += '\\';
    out += text[special];
    start = special + 1;
  }
  out += '"';
}

}  // namespace

DigestSession::DigestSession(std::string userName, std::string password,
                             ClientNonceSource clientNonces)
    : m_userName(std::move(userName)),
      m_password(std::move(password)),
      m_clientNonces(std::move(clientNonces)) {}

DigestSession::ChallengeOutcome DigestSession::OnChallenge(const std::vector<std::string>& values,
                                                           std::string& error) {
  DigestChallenge next;
  if (!ParseDigestChallengeLines(values, next, error)) {
    m_challenge.reset();
    m_nonceCount = 0;
    return kUnusable;
  }
  // A 401 to a request that carried no answer to the present challenge says
  // nothing about the credentials.
  ChallengeOutcome outcome = kRetry;
  if (m_challenge.has_value() && m_answerFailed) {
    // The request carried no answer because none could be made: retried at
    // once it would fail the same way, and the source would be asked again
    // without pause.
    outcome = kRejected;
    error = "the engine could not answer the previous challenge";
  } else if (m_challenge.has_value() && m_nonceCount > 0) {
    if (!next.stale) {
      outcome = kRejected;
      error = "the source refused the credentials";
    } else if (++m_staleInARow > kMaxStaleRetries) {
      outcome = kRejected;
      error = "the source called " + std::to_string(m_staleInARow) + " nonces stale in a row";
    }
  }
  // After a refusal the owner waits for its reconnect: the next attempt may
  // again retry stale nonces.
  if (outcome == kRejected) m_staleInARow = 0;
  m_challenge = std::move(next);
  m_nonceCount = 0;
  m_answerFailed = false;
  return outcome;
}

bool DigestSession::Authorize(std::string_view method, std::string_view uri, std::string& value,
                              std::string& error) {
  if (!m_challenge.has_value()) {
    error = "no Digest challenge to answer";
    return false;
  }
  m_answerFailed = true;  // until the answer below is made
  if (m_nonceCount == std::numeric_limits<uint32_t>::max()) {
    error = "the nonce count is used up";
    return false;
  }
  if (HasControl(m_userName) || HasControl(uri) || HasControl(method)) {
    error = "a control character in the user name, method or URI";
    return false;
  }
  const DigestChallenge& challenge = *m_challenge;
  const DigestAlgorithm algorithm = challenge.algorithm;
  const uint32_t count = m_nonceCount + 1;
  char countText[9] = "";
  std::string clientNonce;
  if (challenge.qopAuth) {
    std::snprintf(countText, sizeof countText, "%08x", static_cast<unsigned>(count));
    if (m_clientNonces) clientNonce = m_clientNonces();
    if (clientNonce.empty() || HasControl(clientNonce) ||
        clientNonce.find_first_of("\"\\") != std::string::npos) {
      error = "no usable client nonce";
      return false;
    }
  }

  const std::string response =
      ResponseHash(challenge, m_userName, m_password, method, uri, countText, clientNonce);
  if (response.empty()) {
    error = std::string("the hash function of ") + AlgorithmName(algorithm) + " is not available";
    return false;
  }

  value = "Digest ";
  AppendQuoted(value, "username",
               challenge.userhash ? HashOf(algorithm, {m_userName, challenge.realm}) : m_userName);
  const auto add = [&value](std::string_view name, std::string_view text, bool quoted = true) {
    value += ", ";
    if (quoted) return AppendQuoted(value, name, text);
    value.append(name).append("=").append(text);
  };
  add("realm", challenge.realm);
  add("uri", uri);
  if (challenge.algorithmNamed) add("algorithm", AlgorithmName(algorithm), false);
  add("nonce", challenge.nonce);
  if (challenge.qopAuth) {
    add("nc", countText, false);
    add("cnonce", clientNonce);
    add("qop", "auth", false);
  }
  add("response", response);
  if (challenge.hasOpaque) add("opaque", challenge.opaque);
  if (challenge.userhash) add("userhash", "true", false);

  m_nonceCount = count;
  m_answerFailed = false;
  if (count > 1) m_staleInARow = 0;
  return true;
}

std::string RandomClientNonce() {
  unsigned char bytes[kClientNonceBytes];
  if (RAND_bytes(bytes, kClientNonceBytes) != 1) return std::string();
  return LowerHex(bytes, kClientNonceBytes);
}

}  // namespace ravelon
