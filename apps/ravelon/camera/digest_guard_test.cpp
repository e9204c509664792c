// The Digest guard alone: the examples of RFC 7616, and what a client must
// get right (nonce counts that grow, the request's own URI, the guard's
// algorithm), with stale nonces told from refused answers.
#include "camera/digest_guard.h"

#include <gtest/gtest.h>

#include <string>

namespace ravelon::cli {
namespace {

using Verdict = DigestGuard::Verdict;

constexpr char kNonce[] = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
constexpr char kClientNonce[] = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
constexpr char kOpaque[] = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";
constexpr char kUri[] = "/dir/index.html";

// The guard of RFC 7616's examples, its first challenge already made.
DigestGuard ExampleGuard(bool sha256, int nonce_uses = 0) {
  int made = 0;
  DigestGuard guard(
      {.sha256 = sha256,
       .realm = "http-auth@example.org",
       .user = "Mufasa",
       .password = "Circle of Life",
       .opaque = kOpaque,
       .nonce_uses = nonce_uses},
      [made]() mutable { return ++made == 1 ? kNonce : "nonce-" + std::to_string(made); });
  guard.Challenge(false);
  return guard;
}

// An answer to the example challenge for `uri`, hashed with `password`.
std::string Answer(const DigestGuard& guard, const std::string& nc, const std::string& password,
                   const std::string& uri = kUri, const std::string& nonce = kNonce,
                   const std::string& algorithm = ", algorithm=MD5") {
  const std::string key = guard.Hash("Mufasa:http-auth@example.org:" + password);
  const std::string response = guard.Hash(key + ":" + nonce + ":" + nc + ":" + kClientNonce +
                                          ":auth:" + guard.Hash("GET:" + uri));
  return "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", uri=\"" + uri + "\"" +
         algorithm + ", nonce=\"" + nonce + "\", nc=" + nc + ", cnonce=\"" + kClientNonce +
         "\", qop=auth, response=\"" + response + "\", opaque=\"" + kOpaque + "\"";
}

TEST(DigestGuardTest, AcceptsTheRfcExamples) {
  // The answers hashed as the examples are (a response the guard computes
  // as RFC 7616 does), and the guard's challenge.
  for (const auto& [sha256, response] :
       {std::pair{false, "8ca523f5e9506fed4657c9700eebdbec"},
        {true, "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"}}) {
    DigestGuard guard = ExampleGuard(sha256);
    const std::string answer = Answer(guard, "00000001", "Circle of Life", kUri, kNonce,
                                      sha256 ? ", algorithm=SHA-256" : ", algorithm=MD5");
    EXPECT_NE(answer.find(response), std::string::npos) << answer;
    EXPECT_EQ(guard.Check("GET", kUri, answer), Verdict::kAccepted) << answer;
  }
  EXPECT_EQ(ExampleGuard(true).Challenge(true),
            "Digest realm=\"http-auth@example.org\", qop=\"auth\", algorithm=SHA-256, "
            "nonce=\"nonce-2\", opaque=\"" +
                std::string(kOpaque) + "\", stale=true");
}

TEST(DigestGuardTest, RefusesWrongAnswersAndCallsUsedNoncesStale) {
  // Steps on one MD5 guard whose nonce serves two requests.
  DigestGuard guard = ExampleGuard(false, 2);
  const std::tuple<const char*, std::string, Verdict> steps[] = {
      // what, Authorization, verdict
      {"wrong password", Answer(guard, "00000001", "circle of life"), Verdict::kRefused},
      {"another URI than the request's", Answer(guard, "00000001", "Circle of Life", "/dir/"),
       Verdict::kRefused},
      {"no algorithm named means MD5",
       Answer(guard, "00000001", "Circle of Life", kUri, kNonce, ""), Verdict::kAccepted},
      {"the same count again", Answer(guard, "00000001", "Circle of Life"), Verdict::kRefused},
      {"a count that jumps", Answer(guard, "00000005", "Circle of Life"), Verdict::kAccepted},
      {"a third request on the nonce", Answer(guard, "00000006", "Circle of Life"),
       Verdict::kStale},
      {"a nonce never issued", Answer(guard, "00000001", "Circle of Life", kUri, "forged"),
       Verdict::kStale},
      {"SHA-256 to an MD5 guard",
       Answer(guard, "00000007", "Circle of Life", kUri, kNonce, ", algorithm=SHA-256"),
       Verdict::kRefused},
      {"a count that is not 8 hex digits", Answer(guard, "0000007", "Circle of Life"),
       Verdict::kRefused},
      {"Basic credentials", "Basic TXVmYXNhOkNpcmNsZSBvZiBMaWZl", Verdict::kRefused},
      {"the scheme alone", "Digest", Verdict::kRefused},
      {"a name without a value", "Digest username", Verdict::kRefused},
      {"no credentials", "", Verdict::kRefused},
  };
  for (const auto& [what, authorization, verdict] : steps)
    EXPECT_EQ(guard.Check("GET", kUri, authorization), verdict) << what;
}

TEST(DigestGuardTest, ForgetsTheOldestNonces) {
  DigestGuard guard = ExampleGuard(false);
  for (int i = 0; i < 600; ++i) guard.Challenge(false);  // nonce-2 to nonce-601
  for (const auto& [nonce, verdict] : {std::pair{kNonce, Verdict::kStale},
                                       {"nonce-2", Verdict::kStale},
                                       {"nonce-601", Verdict::kAccepted}})
    EXPECT_EQ(guard.Check("GET", kUri, Answer(guard, "00000001", "Circle of Life", kUri, nonce)),
              verdict)
        << nonce;
}

TEST(DigestGuardTest, ReadsQuotedValuesAndNamesInAnyCase) {
  DigestGuard guard = ExampleGuard(false);
  std::string answer = Answer(guard, "00000001", "Circle of Life");
  // Escaped characters in a quoted value, upper-case names, no blank after commas.
  answer.replace(answer.find("username=\"Mufasa\""), 17, "USERNAME=\"Mu\\fasa\"");
  for (size_t at = answer.find(", "); at != std::string::npos; at = answer.find(", ", at)) {
    answer.erase(at + 1, 1);
  }
  EXPECT_EQ(guard.Check("GET", kUri, answer), Verdict::kAccepted) << answer;
  EXPECT_EQ(guard.Check("GET", kUri, answer.substr(0, answer.size() - 1)), Verdict::kRefused)
      << "an unclosed quote";
}

}  // namespace
}  // namespace ravelon::cli
