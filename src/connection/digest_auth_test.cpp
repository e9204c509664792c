// The digest session: its Authorization values against the RFC examples and
// values computed apart (Python's hashlib), and its bookkeeping over a run of
// 401 answers: nonce counts, fresh client nonces, stale nonces and refusals.
#include "connection/digest_auth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

using namespace std::string_literals;

TEST(DigestSessionTest, AnswersKnownChallenges) {
  const std::string cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
  const std::string mufasa = "Mufasa:Circle of Life";
  const std::string rfc7616 =
      "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
      "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
      "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\", algorithm=";
  const std::string rfc7616Md5 =
      "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", uri=\"/dir/index.html\", "
      "algorithm=MD5, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", nc=00000001, "
      "cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", qop=auth, "
      "response=\"8ca523f5e9506fed4657c9700eebdbec\", "
      "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
  const std::string rfc7616Sha256 =
      "response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\"";
  const std::string rfc2617 =
      "Digest realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
      "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
  const std::string userhash =
      "username=\"a947aad205e80e429958a387394944c6b496301e79f89d35a4cc23b6ee12b5b6\"";
  const struct {
    std::string challenge, credentials, cnonce;  // credentials: "user:password"
    std::string expected;  // parts of the answer, split by "|"; "" when it must be refused
  } kRows[] = {
      // RFC 7616 3.9.1: all of the MD5 answer, and the SHA-256 response.
      {rfc7616 + "MD5", mufasa, cnonce, rfc7616Md5},
      {rfc7616 + "SHA-256", mufasa, cnonce, rfc7616Sha256},
      // RFC 2617 3.5's challenge without qop (RFC 2069's form).
      {rfc2617, "Mufasa:CircleOfLife", "-", "0c093\", response=\"1949323746fe6a43ef61f9606e7febea"},
      // The user name is hashed in its field only: the response stays the RFC's.
      {rfc7616 + "SHA-256, userhash=true", mufasa, cnonce,
       userhash + "|" + rfc7616Sha256 + "|userhash=true"},
      // A session key; quotes and backslashes escaped in the answer, hashed as they are.
      {"Digest realm=r, nonce=n, qop=auth, algorithm=MD5-sess", "a \"b\\c:p", "c1",
       "username=\"a \\\"b\\\\c\"|18fe1a302c4e6867c0a88d9c97993549"},
      // A line break in the user name would forge header lines.
      {rfc2617, "Mufasa\r\nX-Forged: 1:p", "c1", ""},
      {rfc7616 + "MD5", "Mufasa:p", "c\"1", ""},
  };
  for (const auto& row : kRows) {
    const size_t colon = row.credentials.rfind(':');
    DigestSession session(row.credentials.substr(0, colon), row.credentials.substr(colon + 1),
                          [&row] { return row.cnonce; });
    std::string error, value;
    ASSERT_EQ(session.OnChallenge({row.challenge}, error), DigestSession::kRetry) << error;
    EXPECT_EQ(session.Authorize("GET", "/dir/index.html", value, error), !row.expected.empty())
        << value;
    for (size_t start = 0; start < row.expected.size();) {
      const size_t end = std::min(row.expected.find('|', start), row.expected.size());
      const std::string part = row.expected.substr(start, end - start);
      EXPECT_NE(value.find(part), std::string::npos) << value << "\nlacks " << part;
      start = end + 1;
    }
    EXPECT_EQ(session.NonceCount(), row.expected.empty() ? 0u : 1u);
    // Nor may the URI hold a line break.
    EXPECT_FALSE(session.Authorize("GET", "/x\r\nX-Forged: 1", value, error));
  }
  // The engine's own client nonces: 128 random bits each.
  const std::string mine = RandomClientNonce();
  EXPECT_EQ(mine.find_first_not_of("0123456789abcdef"), std::string::npos) << mine;
  EXPECT_EQ(mine.size(), 32u);
  EXPECT_NE(RandomClientNonce(), mine);
}

// A run of challenges and requests. A challenge is its nonce ("-": an empty one), "~" when it
// says stale, and the outcome it must give: R retry, X rejected, U unusable. A request is "#" and
// the nc it must send with the latest nonce and a fresh client nonce (#0: refused).
TEST(DigestSessionTest, CountsPerNonceAndTellsStaleFromRefusal) {
  int cnonces = 0;
  DigestSession session("u", "p", [&cnonces] { return "c" + std::to_string(++cnonces); });
  // Nothing to answer at first; a nonce answered and not stale is refused, and answered next time.
  std::vector<std::string> steps = {"#0", "A R", "#1", "#2", "B~ R", "#1", "C X", "#1"};
  // Fresh nonces called stale on their first use: retried up to the limit.
  for (int i = 0; i <= kMaxStaleRetries; ++i)
    steps.insert(steps.end(),
                 {"S" + std::to_string(i) + (i < kMaxStaleRetries ? "~ R" : "~ X"), "#1"});
  // After the refusal, and after a nonce served a second request, the run starts anew.
  steps.insert(steps.end(), {"T~ R", "#1", "#2"});
  for (int i = 0; i < kMaxStaleRetries; ++i)
    steps.insert(steps.end(), {"U" + std::to_string(i) + "~ R", "#1"});
  // Neither W nor X was answered, so neither is a refusal.
  steps.insert(steps.end(), {"- U", "#0", "W R", "X R", "#1"});
  std::string nonce;
  int requests = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string& step = steps[i];
    std::string error, value;
    if (step[0] != '#') {
      nonce = step.substr(0, step.find_first_of("~ "));
      if (nonce == "-") nonce.clear();
      const std::string challenge = "Digest realm=r, qop=auth, stale=" +
                                    (step.find('~') != std::string::npos ? "TRUE"s : "false"s) +
                                    ", nonce=\"" + nonce + "\"";
      const auto outcome = static_cast<size_t>(session.OnChallenge({challenge}, error));
      EXPECT_EQ(outcome, std::string("RXU").find(step.back())) << "step " << i;
    } else if (!session.Authorize("GET", "/video.cgi", value, error)) {
      EXPECT_EQ(step, "#0") << "step " << i << ": " << error;
    } else {
      char part[96];
      std::snprintf(part, sizeof part, "nonce=\"%s\", nc=%08x, cnonce=\"c%d\"", nonce.c_str(),
                    step[1] - '0', ++requests);
      EXPECT_NE(value.find(part), std::string::npos) << "step " << i << ": " << value;
    }
  }
}

}  // namespace
}  // namespace ravelon
