// The optional user and password that guard the web view of `ravelon record
// --http`: HTTP Basic authentication checked on every request, against a
// salted PBKDF2-HMAC-SHA256 hash kept in the registry store as the values
// User and PasswordHash of the key ROOT\Web. The password itself is never
// stored.
//
// The hash's text: "pbkdf2-sha256$ITERATIONS$SALTHEX$HASHHEX" (a 16-byte salt,
// a 32-byte hash, lower-case hex). Reading and writing it: web_login_store.h.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ravelon::cli {

// The longest user name and the longest password a login may have; both fit,
// base64-encoded, in the longest Authorization header that is read.
inline constexpr size_t kMaxWebLoginBytes = 256;

struct WebLogin {
  std::string user;
  std::string password_hash;  // both empty: no login asked

  bool Required() const { return !user.empty() || !password_hash.empty(); }
};

// A new hash of `password` with a random salt, so two calls differ. Throws
// std::runtime_error when the system gives no random bytes.
std::string HashPassword(std::string_view password);

// True when `stored_hash` is the hash of `password`. A malformed text, or one
// asking for an absurd number of iterations, matches no password.
bool PasswordMatches(std::string_view password, std::string_view stored_hash);

// The bytes of base64 `text` with its padding, as clients send Basic
// credentials; nullopt for any other character, a misplaced '=' or a length
// that is not a multiple of four.
std::optional<std::string> DecodeBase64(std::string_view text);

// The value of an "Authorization" request header: true when it is "Basic
// <base64 of user:password>" (scheme case-insensitive) with the login's user
// and password. A login without a user admits no one, so the server asks
// Required() first. Bad base64, no colon, an empty or oversized header: false.
// With the right user it costs one hash, about 18 ms of a core.
bool AuthorizationAllows(const WebLogin& login, std::string_view authorization_header);

// The "WWW-Authenticate" value sent with a 401 answer.
std::string AuthenticateChallenge();

}  // namespace ravelon::cli
