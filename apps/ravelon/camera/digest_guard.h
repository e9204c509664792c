// DigestGuard: the test camera's side of HTTP Digest access authentication
// (RFC 7616) with qop "auth" and one algorithm, MD5 or SHA-256. It makes the
// challenges, each with a fresh nonce, checks the Authorization values that
// answer them, and calls a nonce stale once it has served its number of
// requests, so that a client must take the new nonce and carry on.
//
// An answer passes when its username, realm and opaque are the guard's, its
// uri is the request line's target exactly, its algorithm (when named; MD5
// when not) is the guard's, qop is "auth", nc is 8 hex digits higher than
// any before on that nonce, cnonce is not empty, and the response is the
// hash of all that with the password. A right answer with a nonce the guard
// no longer knows, or one that has served its requests, is stale.
//
// Owned by the camera's request gate; the camera's thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace ravelon::cli {

struct DigestSettings {
  bool sha256 = false;  // SHA-256, or MD5
  std::string realm;
  std::string user;
  std::string password;
  std::string opaque;  // echoed by every answer
  int nonce_uses = 0;  // requests a nonce serves before it is stale; 0: no limit
};

class DigestGuard {
 public:
  enum class Verdict { kAccepted, kStale, kRefused };
  // Gives each challenge's nonce: fresh text without quotes or backslashes.
  using NonceSource = std::function<std::string()>;

  DigestGuard(DigestSettings settings, NonceSource nonces);

  // The value of a "WWW-Authenticate" line with a new nonce, and
  // "stale=true" when `stale`.
  std::string Challenge(bool stale);

  // Checks the "Authorization" value of a request with `method` for `target`.
  Verdict Check(std::string_view method, std::string_view target, std::string_view authorization);

  // The hash of `text` in lower-case hex, with the guard's algorithm.
  std::string Hash(std::string_view text) const;

 private:
  struct NonceUse {
    int requests = 0;
    uint64_t last_count = 0;
  };

  DigestSettings m_settings;
  NonceSource m_nonces;
  std::map<std::string, NonceUse, std::less<>> m_uses;
  std::deque<std::string> m_issued;  // oldest first; the oldest are forgotten
};

// 16 random bytes from OpenSSL as 32 hex digits; a counter's digits should
// the generator fail (a test camera needs fresh nonces, not secret ones).
std::string RandomNonce();

}  // namespace ravelon::cli
