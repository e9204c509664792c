// The web view's login check on any Authorization header and any stored
// hash text: it never crashes, and it admits only the one right header.
#include "harness.h"
#include "web/web_login.h"

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  // "open:sesame" with 1,000 iterations: cheap enough to hash on a match.
  static const std::string kStored =
      "pbkdf2-sha256$1000$000102030405060708090a0b0c0d0e0f$"
      "dc8155d842a2922cc4ca2316b79c305976de868c327eb4f543f583d450f440fa";
  const std::string header(input.Sized());
  const bool allowed = ravelon::cli::AuthorizationAllows({"admin", kStored}, header);
  // The only credentials are admin:open:sesame; any header that passes must
  // carry them.
  Require(!allowed || header.find("YWRtaW46b3BlbjpzZXNhbW") != std::string::npos,
          "only the right credentials pass");
  // A stored text from the input: malformed ones match nothing, and none
  // may ask for so many iterations that a request takes seconds.
  ravelon::cli::PasswordMatches("open:sesame", input.Rest());
}
