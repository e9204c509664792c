// Digest challenges: what a source that wants HTTP Digest access
// authentication (RFC 7616, and the older RFC 2617 and RFC 2069 forms) says
// in the "WWW-Authenticate" lines of its 401 response, read into the fields
// the engine needs to answer it. The digest session (digest_auth.h) reads the
// challenges with these functions; a test or a fuzz target can call them on
// plain text.
//
// Free functions without state; called on the engine's thread.
//
// A value is a comma-separated list of challenges, each a scheme name followed
// by either a token68 (as Basic credentials or Negotiate data) or a list of
// name=value parameters, where a value is a token or a quoted string with
// backslash escapes. Scheme and parameter names, and the words of algorithm,
// qop, stale and userhash, compare case-insensitively. Space, tab, CR and LF
// all count as white space between the elements, so a folded line reads as
// it was meant.
//
// The engine answers the algorithms MD5 and SHA-256 and their "-sess" forms,
// with qop "auth" or without qop; "auth-int" (a hash of the request body) is
// not offered, since the engine's requests have no body to protect. Among
// several Digest challenges, the first one the engine can answer is taken,
// as RFC 7616 asks of clients (a source lists them in its order of
// preference).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ravelon {

enum class DigestAlgorithm : uint8_t { kMd5, kMd5Sess, kSha256, kSha256Sess };

struct DigestChallenge {
  std::string realm;  // unescaped
  std::string nonce;  // unescaped; never empty
  std::string opaque;
  bool hasOpaque = false;  // the answer repeats `opaque` only when the source sent one
  DigestAlgorithm algorithm = DigestAlgorithm::kMd5;
  bool algorithmNamed = false;  // the answer names the algorithm only when the source did
  bool qopAuth = false;         // false: the RFC 2069 form, without qop, nc and cnonce
  bool stale = false;           // the previous nonce expired; the credentials were right
  bool userhash = false;        // the answer sends a hash of the user name instead
};

// Reads one "WWW-Authenticate" value and returns true with `challenge` set to
// the first Digest challenge in it that the engine can answer. Returns false
// with a one-line reason in `error` when there is none: the value is longer
// than kMaxChallengeValueLength, it holds no Digest challenge, or every Digest
// challenge lacks a realm or a nonce, names a parameter twice, asks for an
// algorithm or qop the engine does not answer, or the text breaks the syntax
// before one was found. Work is linear in the length of the value.
bool ParseDigestChallenge(std::string_view value, DigestChallenge& challenge, std::string& error);

// The same over several "WWW-Authenticate" lines of one response, in their
// order: each line is read alone, so a line the parser refuses does not hide
// a Digest challenge on another. The reason given is that of the first line
// that failed for more than holding no Digest challenge. For both, `error` is
// set only when they return false.
bool ParseDigestChallengeLines(const std::vector<std::string>& values, DigestChallenge& challenge,
                               std::string& error);

}  // namespace ravelon
