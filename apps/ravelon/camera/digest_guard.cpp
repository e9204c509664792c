#include "camera/digest_guard.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <utility>

#include "cli/text.h"

namespace ravelon::cli {
namespace {

// Nonces remembered; an answer to an older one is stale. Far more than the
// clients a test keeps at once, yet a bound on a camera that runs for days.
constexpr size_t kRememberedNonces = 256;

std::string LowerHex(const unsigned char* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads `Digest name=value, name="quoted", ...` into lower-case names and
// unescaped values. False when the scheme is another, the syntax breaks, or
// a name comes twice.
bool ParseAnswer(std::string_view text, std::map<std::string, std::string, std::less<>>& params) {
  constexpr std::string_view kScheme = "digest";
  if (text.size() <= kScheme.size() || !StartsWithNoCase(text, kScheme) ||
      !IsBlank(text[kScheme.size()])) {
    return false;
  }
  size_t at = kScheme.size();
  const auto skip = [&](std::string_view chars) {
    while (at < text.size() && chars.find(text[at]) != std::string_view::npos) ++at;
  };
  for (skip(" \t,"); at < text.size(); skip(" \t,")) {
    const size_t name_start = at;
    while (at < text.size() && text[at] != '=' && !IsBlank(text[at]) && text[at] != ',') ++at;
    std::string name(text.substr(name_start, at - name_start));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    skip(" \t");
    if (name.empty() || at >= text.size() || text[at] != '=') return false;
    ++at;
    skip(" \t");
    std::string value;
    if (at < text.size() && text[at] == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        value += text[at];
      }
      if (at >= text.size()) return false;  // no closing quote
      ++at;
    } else {
      while (at < text.size() && text[at] != ',' && !IsBlank(text[at])) value += text[at++];
    }
    if (!params.emplace(std::move(name), std::move(value)).second) return false;
  }
  return true;
}

// The nonce count: exactly 8 hex digits.
bool ParseCount(std::string_view text, uint64_t& count) {
  if (text.size() != 8) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count, 16);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

DigestGuard::DigestGuard(DigestSettings settings, NonceSource nonces)
    : m_settings(std::move(settings)), m_nonces(std::move(nonces)) {}

std::string DigestGuard::Hash(std::string_view text) const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const EVP_MD* function = m_settings.sha256 ? EVP_sha256() : EVP_md5();
  if (EVP_Digest(text.data(), text.size(), digest, &length, function, nullptr) != 1) return "";
  return LowerHex(digest, length);
}

std::string DigestGuard::Challenge(bool stale) {
  std::string nonce = m_nonces();
  if (m_issued.size() >= kRememberedNonces) {
    m_uses.erase(m_issued.front());
    m_issued.pop_front();
  }
  m_uses[nonce] = NonceUse{};
  m_issued.push_back(nonce);
  std::string value = "Digest realm=\"" + m_settings.realm + "\", qop=\"auth\", algorithm=";
  value += m_settings.sha256 ? "SHA-256" : "MD5";
  value += ", nonce=\"" + nonce + "\", opaque=\"" + m_settings.opaque + "\"";
  if (stale) value += ", stale=true";
  return value;
}

DigestGuard::Verdict DigestGuard::Check(std::string_view method, std::string_view target,
                                        std::string_view authorization) {
  std::map<std::string, std::string, std::less<>> p;
  if (!ParseAnswer(authorization, p)) return Verdict::kRefused;
  const auto has = [&p](std::string_view name) { return p.count(name) > 0; };
  const std::string algorithm = has("algorithm") ? p["algorithm"] : "MD5";
  uint64_t count = 0;
  const bool well_formed =
      p["username"] == m_settings.user && p["realm"] == m_settings.realm && p["uri"] == target &&
      p["opaque"] == m_settings.opaque && EqualsNoCase(p["qop"], "auth") &&
      EqualsNoCase(algorithm, m_settings.sha256 ? "SHA-256" : "MD5") && !p["nonce"].empty() &&
      !p["cnonce"].empty() && ParseCount(p["nc"], count);
  if (!well_formed) return Verdict::kRefused;
  const std::string key =
      Hash(m_settings.user + ":" + m_settings.realm + ":" + m_settings.password);
  const std::string request = Hash(std::string(method) + ":" + std::string(target));
  const std::string expected =
      Hash(key + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + request);
  if (expected.empty() || !EqualsNoCase(p["response"], expected)) return Verdict::kRefused;

  const auto use = m_uses.find(p["nonce"]);
  if (use == m_uses.end()) return Verdict::kStale;
  if (count <= use->second.last_count) return Verdict::kRefused;  // a replay
  if (m_settings.nonce_uses > 0 && use->second.requests >= m_settings.nonce_uses) {
    return Verdict::kStale;
  }
  ++use->second.requests;
  use->second.last_count = count;
  return Verdict::kAccepted;
}

std::string RandomNonce() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) == 1) return LowerHex(bytes, sizeof bytes);
  static std::atomic<uint64_t> fallback{0};
  return "fallback" + std::to_string(++fallback);
}

}  // namespace ravelon::cli
