#include "parsing/http_response_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

using enum HttpResponseGate::Outcome;

struct Seen {
  HttpResponseGate::Outcome outcome = kPassing;
  std::string out{}, status{};
  std::vector<std::string> challenges{};
  bool operator==(const Seen&) const = default;
};

Seen Feed(std::string_view response, size_t cut) {
  HttpResponseGate gate;
  Seen seen;
  for (std::string_view part : {response.substr(0, cut), response.substr(cut)}) {
    if (seen.outcome != kPassing) break;
    seen.outcome = gate.Feed(part, seen.out);
  }
  seen.status = gate.StatusLine();
  seen.challenges = gate.Challenges();
  // A refusal holds until Reset, which starts a new response.
  std::string out;
  if (seen.outcome == kRefused) {
    EXPECT_EQ(gate.Feed("more", out), kRefused);
  }
  gate.Reset();
  EXPECT_EQ(gate.Feed("--b\r\n", out), kPassing);
  EXPECT_EQ(std::tuple(gate.PassingThrough(), out, gate.StatusLine(), gate.Challenges().size()),
            std::tuple(true, "--b\r\n", "", size_t{0}));
  return seen;
}

// Every response, cut in two at every offset, gives the same outcome and
// lets through exactly what the stream reader should see.
TEST(HttpResponseGateTest, LetsThroughWhatTheReaderShouldSee) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=b\r\n";
  const std::string chunked_head = head + "transfer-encoding:  gzip, Chunked \r\n\r\n";
  const std::string parts = "--b\r\nContent-Type: image/jpeg\r\n\r\nJPEG\r\n--b";
  const std::string long_head = "HTTP/1.0 200 OK\r\nX: " + std::string(kResponseHeadLimit, 'x');
  const std::tuple<std::string, Seen> cases[] = {
      // Sources that send no status line pass untouched.
      {"Content-Type: multipart/x-mixed-replace;boundary=b\r\n\r\n" + parts,
       {kPassing, "Content-Type: multipart/x-mixed-replace;boundary=b\r\n\r\n" + parts}},
      {parts, {kPassing, parts}},
      {"HTTP", {kPassing, ""}},  // it may still become a status line
      {"HTTX/1.0 200 OK\r\n\r\nabc", {kPassing, "HTTX/1.0 200 OK\r\n\r\nabc"}},
      // A 2xx head passes whole once complete, lines ending in CR LF or LF.
      {head + "\r\n" + parts, {kPassing, head + "\r\n" + parts, "200 OK"}},
      {head, {kPassing, ""}},
      {"HTTP/1.0 204\n\n--b", {kPassing, "HTTP/1.0 204\n\n--b", "204"}},
      // A chunked body is de-chunked; what follows its last chunk is dropped.
      {chunked_head + "5;x=1\r\n--b\r\n\r\n3\r\nCon\r\n0\r\n\r\nHTTP/1.1 200 OK",
       {kPassing, chunked_head + "--b\r\nCon", "200 OK"}},
      {head + "Transfer-Encoding: chunked, gzip\r\n\r\n5\r\n",
       {kPassing, head + "Transfer-Encoding: chunked, gzip\r\n\r\n5\r\n", "200 OK"}},
      {chunked_head + "2\r\n--\r\nzz\r\n", {kBroken, chunked_head + "--", "200 OK"}},
      // Other statuses stop it, with the status line and every challenge.
      {"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>",
       {kRefused, "", "404 Not Found"}},
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\"\r\n"
       "www-authenticate:Basic realm=\"r\"  \r\n\r\n",
       {kRefused, "", "401 Unauthorized", {"Digest realm=\"r\"", "Basic realm=\"r\""}}},
      {"HTTP/1.0 199 Early\n\n", {kRefused, "", "199 Early"}},
      {"HTTP/1.0 300 Multiple Choices\n\n", {kRefused, "", "300 Multiple Choices"}},
      // No status code, or no blank line within the limit: left to the reader.
      {"HTTP/1.0 OK\r\n\r\n--b", {kPassing, "HTTP/1.0 OK\r\n\r\n--b"}},
      {"HTTP/1.0 2000 OK\r\n\r\n", {kPassing, "HTTP/1.0 2000 OK\r\n\r\n"}},
      {long_head, {kPassing, long_head}},
  };
  for (const auto& [response, expected] : cases) {
    for (size_t cut = 0; cut <= response.size(); cut += cut < 200 ? 1 : 997) {
      ASSERT_EQ(Feed(response, cut), expected) << response.substr(0, 60) << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace ravelon
