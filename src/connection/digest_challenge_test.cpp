// The parser of "WWW-Authenticate" values: the RFC examples as printed
// (folded), quoting and escapes, case, other schemes around the Digest one,
// and the challenges the engine must refuse.
#include "connection/digest_challenge.h"

#include <gtest/gtest.h>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

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
    if (row.expected.starts_with("error: ")) {
      EXPECT_TRUE(!read && got.find(row.expected.substr(7)) != std::string::npos)
          << row.lines[0] << " -> " << got;
    } else {
      EXPECT_EQ(got, row.expected) << row.lines[0];
    }
    // A single line reads the same through either entry.
    DigestChallenge alone;
    if (row.lines.size() == 1) {
      const bool readAlone = ParseDigestChallenge(row.lines[0], alone, aloneError);
      EXPECT_EQ(readAlone ? Describe(alone) : "error: " + aloneError, got) << row.lines[0];
    }
  }
}

}  // namespace
}  // namespace ravelon
