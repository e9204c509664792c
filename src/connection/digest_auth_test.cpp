// The parser of "WWW-Authenticate" values: the RFC examples as printed
// (folded), quoting and escapes, case, other schemes around the Digest one,
// and the challenges the engine must refuse. The digest session: its
// Authorization values against the RFC examples and values computed apart
// (Python's hashlib), and its bookkeeping over a run of 401 answers: nonce
// counts, fresh client nonces, stale nonces and refusals.
#include "connection/digest_auth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/engine_limits.h"
#include "connection/digest_challenge.h"

namespace ravelon {
namespace {

using namespace std::string_literals;

// The fields of a parsed challenge on one line; the algorithm only when the
// source named it.
std::string Describe(const DigestChallenge& c) {
  static const char* const kNames[] = {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"};
  std::string text = "realm=" + c.realm + " nonce=" + c.nonce;
  if (c.hasOpaque) text += " opaque=" + c.opaque;
  if (c.algorithmNamed) text += std::string(" ") + kNames[static_cast<int>(c.algorithm)];
  if (c.qopAuth) text += " auth";
  if (c.stale) text += " stale";
  if (c.userhash) text += " userhash";
  return text;
}

// A Digest challenge exactly `length` bytes long.
std::string ChallengeOfLength(size_t length) {
  std::string text = "Digest realm=\"r\", nonce=\"\"";
  text.insert(text.size() - 1, length - text.size(), 'n');
  return text;
}

TEST(DigestChallengeTest, ReadsOrRefuses) {
  const std::string nonce7616 = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
  const std::string opaque7616 = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";
  const std::string rfc7616 =
      "Digest\r\n    realm=\"http-auth@example.org\",\r\n"
      "    qop=\"auth, auth-int\",\r\n    algorithm=ALG,\r\n"
      "    nonce=\"" +
      nonce7616 + "\",\r\n    opaque=\"" + opaque7616 + "\"";
  auto with = [&](const char* algorithm) {
    return std::string(rfc7616).replace(rfc7616.find("ALG"), 3, algorithm);
  };
  const struct {
    std::vector<std::string> lines;
    std::string expected;  // Describe() of the result, or "error: " and a part of the reason
  } kRows[] = {
      // RFC 7616 3.9.1: two lines, the preferred SHA-256 first.
      {{with("SHA-256"), with("MD5")},
       "realm=http-auth@example.org nonce=" + nonce7616 + " opaque=" + opaque7616 +
           " SHA-256 auth"},
      // Commas and equal signs inside quotes; backslash escapes; a token value.
      {{R"(Digest realm="a, \"b\"=c \\ \q", nonce=n0, opaque="")"},
       R"(realm=a, "b"=c \ q nonce=n0 opaque=)"},
      {{"dIgEsT REALM = \"r\" , Nonce=Z9,ALGORITHM=\"sha-256-SESS\",QoP=\"AUTH-INT,Auth\","
        "Stale=TRUE,userHash=True,, domain=\"/a /b\""},
       "realm=r nonce=Z9 SHA-256-sess auth stale userhash"},
      {{"Digest realm=r, nonce=n, stale=false, algorithm=md5, qop=\" auth \""},
       "realm=r nonce=n MD5 auth"},
      // Other schemes before: a token68, a scheme alone.
      {{"Negotiate a/b+c==, Basic YWJj==, Basic dXNlcjpwYXNz=, Basic, Digest realm=\"r\", nonce=n"},
       "realm=r nonce=n"},
      // A token68 that ends the value with its padding; a name with no value at the end.
      {{"Digest realm=r, nonce=n, Basic YWJj="}, "realm=r nonce=n"},
      {{"Digest realm=r, nonce=n, opaque="}, "realm=r nonce=n"},
      // The first Digest challenge the engine can answer is taken.
      {{"Digest realm=\"r\", nonce=\"n1\", algorithm=SHA-512-256, Digest realm=\"r\", "
        "nonce=\"n2\""},
       "realm=r nonce=n2"},
      {{ChallengeOfLength(kMaxChallengeValueLength)},
       "realm=r nonce=" + std::string(kMaxChallengeValueLength - 26, 'n')},
      // Refused.
      {{ChallengeOfLength(kMaxChallengeValueLength + 1)}, "error: bytes long"},
      {{"Digest realm=\"r\", opaque=\"o\""}, "error: no nonce"},
      {{"Digest nonce=\"n\""}, "error: no realm"},
      {{"Digest realm=\"r\", nonce=\"a\", NONCE=\"b\""}, "error: names \"nonce\" twice"},
      {{"Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\""}, "error: not \"auth\""},
      {{"Digest realm=\"r\", nonce=\"n\", algorithm=MD5-sess"}, "error: without a qop"},
      {{"Digest realm=\"r\", nonce=\"n\\"}, "error: unterminated"},
      {{"Digest realm=\"a\r\nX: y\", nonce=\"n\""}, "error: control character"},
      {{"Digest realm=\"a\\\x01\", nonce=\"n\""}, "error: control character"},
      {{"Bearer \"x\""}, "error: expected parameters or a token68"},
      {{"Basic realm=\"x\"", ""}, "error: no Digest challenge"},
  };
  // Reasons are kept across rows: a reason left over from the row before must not show.
  std::string error, aloneError;
  for (const auto& row : kRows) {
    DigestChallenge challenge;
    const bool read = ParseDigestChallengeLines(row.lines, challenge, error);
    const std::string got = read ? Describe(challenge) : "error: " + error;
    // A refusal's row names a part of its reason; any other, all the fields.
    EXPECT_TRUE(row.expected.starts_with("error: ")
                    ? !read && got.find(row.expected.substr(7)) != std::string::npos
                    : got == row.expected)
        << row.lines[0] << " -> " << got;
    // A single line reads the same through either entry.
    if (row.lines.size() == 1) {
      DigestChallenge alone;
      const bool readAlone = ParseDigestChallenge(row.lines[0], alone, aloneError);
      EXPECT_EQ(readAlone ? Describe(alone) : "error: " + aloneError, got) << row.lines[0];
    }
  }
}

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
