// Any "WWW-Authenticate" value: the parser never fails hard, and the answer to
// a challenge it takes holds no line break and reads back (it has the
// same parameter syntax) with the same realm, nonce and opaque. An answer
// adds the user, the path and the response to what it echoes, so one to a
// challenge near the longest taken can be longer than the parser reads: its
// read-back is not asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/engine_limits.h"
#include "connection/digest_auth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  ravelon::DigestSession session("user \"x\\", "password", [] { return std::string("c"); });
  std::string error, value;
  if (session.OnChallenge({input}, error) == ravelon::DigestSession::kUnusable) return 0;
  ravelon::DigestChallenge sent, echoed;
  if (!ravelon::ParseDigestChallenge(input, sent, error) ||
      !session.Authorize("GET", "/a\"b", value, error) ||
      value.find_first_of("\r\n", 0) != std::string::npos) {
    std::abort();
  }
  if (value.size() > static_cast<size_t>(ravelon::kMaxChallengeValueLength)) return 0;
  if (!ravelon::ParseDigestChallenge(value, echoed, error) || echoed.realm != sent.realm ||
      echoed.nonce != sent.nonce || echoed.opaque != sent.opaque) {
    std::abort();
  }
  return 0;
}
