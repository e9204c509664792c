// DigestSession: the client side of HTTP Digest access authentication
// (RFC 7616; RFC 2617 and RFC 2069 sources too) for one source. It keeps the
// credentials, the source's latest challenge and the count of requests sent
// with its nonce; from them it writes the value of each request's
// "Authorization" line, and it tells a stale nonce (retry at once with the
// fresh one: the credentials were right) from a refusal of the credentials.
//
// Owned by the connection of one engine, which hands it the "WWW-Authenticate"
// lines of every 401 response and asks it for the line of every request; it
// knows nothing of sockets. Single-threaded; the owner's thread.
//
//   no challenge --401--> challenge, nc 0 --Authorize--> nc 1, 2, ... (one per request)
//                              ^                              |
//                              +--- 401: kRetry (stale, or ---+
//                                   none answered yet) or
//                                   kRejected (credentials refused)
//
// Hashes come from OpenSSL's EVP interface. Not covered: qop "auth-int" (the
// engine's requests have no body), the "username*" form for user names
// outside quoted-string text (a UTF-8 name is sent as its bytes), and the
// next nonce a source may announce in "Authentication-Info" (the engine
// waits for the stale answer instead). The "-sess" key is made afresh for
// each request from that request's client nonce.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connection/digest_challenge.h"

namespace ravelon {

class DigestSession {
 public:
  // Gives the client nonce of one request: fresh, unpredictable text without
  // quotes, backslashes or control characters. The engine passes
  // RandomClientNonce; tests pass a fixed sequence.
  using ClientNonceSource = std::function<std::string()>;

  // What the owner does after a 401 response.
  enum ChallengeOutcome {
    kRetry,     // send the request again now, with the new challenge
    kRejected,  // the source refused the credentials (or stays stale): report it
    kUnusable,  // no Digest challenge the engine can answer: report the reason
  };

  DigestSession(std::string userName, std::string password, ClientNonceSource clientNonces);

  // Takes the "WWW-Authenticate" lines of a 401 response. A challenge that
  // can be answered replaces the present one (nonce count back to 0), even
  // when the outcome is kRejected, so the next attempt answers it. The
  // outcome is kRetry when no request answered the previous challenge, or
  // when the source calls the nonce stale fewer than kMaxStaleRetries + 1
  // times in a row; kRejected otherwise, and when Authorize could not answer
  // the previous challenge (it would fail again at once); kUnusable (the
  // challenge dropped) when ParseDigestChallengeLines finds none. `error`
  // gives the reason of kRejected and kUnusable.
  ChallengeOutcome OnChallenge(const std::vector<std::string>& values, std::string& error);

  bool HasChallenge() const { return m_challenge.has_value(); }
  // The nonce count of the last Authorization value made for this challenge.
  uint32_t NonceCount() const { return m_nonceCount; }

  // The value of the "Authorization" line ("Digest username=...") of a
  // request with `method` for `uri` (the request target exactly as the
  // request line has it), counting one more request on the nonce. False with
  // the reason, and nothing counted, when there is no challenge, the user
  // name or URI holds a control character, the client nonce is unusable, the
  // hash function is not available, or the nonce has served 2^32 - 1
  // requests (a new challenge is needed).
  bool Authorize(std::string_view method, std::string_view uri, std::string& value,
                 std::string& error);

 private:
  std::string m_userName;
  std::string m_password;
  ClientNonceSource m_clientNonces;
  std::optional<DigestChallenge> m_challenge;
  uint32_t m_nonceCount = 0;
  // Stale answers since a nonce last served more than one request.
  int32_t m_staleInARow = 0;
  // Authorize failed on the present challenge.
  bool m_answerFailed = false;
};

// 16 bytes from OpenSSL's random generator as 32 lower-case hex digits; empty
// when the generator fails (Authorize then refuses to answer).
std::string RandomClientNonce();

}  // namespace ravelon
