// Any "WWW-Authenticate" value: the parser never fails hard, and the answer to
// a challenge it takes holds no line break and reads back (it has the
// same parameter syntax) with the same realm, nonce and opaque. An answer
// adds the user, the path and the response to what it echoes, so one to a
// challenge near the longest taken can be longer than the parser reads: its
// read-back is not asked for.
#include "common/engine_limits.h"
#include "connection/digest_auth.h"
#include "harness.h"

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const std::string text(input.Rest());
  DigestSession session("user \"x\\", "password", [] { return std::string("c"); });
  std::string error, value;
  if (session.OnChallenge({text}, error) == DigestSession::kUnusable) return;
  DigestChallenge sent, echoed;
  Require(
      ParseDigestChallenge(text, sent, error) && session.Authorize("GET", "/a\"b", value, error),
      "a challenge taken is answered");
  Require(value.find_first_of("\r\n", 0) == std::string::npos, "an answer holds no line break");
  if (value.size() > static_cast<size_t>(kMaxChallengeValueLength)) return;
  Require(ParseDigestChallenge(value, echoed, error) && echoed.realm == sent.realm &&
              echoed.nonce == sent.nonce && echoed.opaque == sent.opaque,
          "an answer reads back with what it echoes");
}
