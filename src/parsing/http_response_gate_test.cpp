#include "parsing/http_response_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/engine_limits.h"
#include "parsing/chunked_decoder.h"

namespace ravelon {
namespace {

// Status, data out, error, and the bytes consumed over all arrivals (0 when
// broken: where a fault is seen may vary).
using Result = std::tuple<ChunkedDecoder::Status, std::string, std::string, size_t>;

// Feeds the arrivals in order, then checks that a finished decoder reads
// nothing more and that Reset starts a new body.
Result Decode(const std::vector<std::string_view>& arrivals) {
  using enum ChunkedDecoder::Status;
  ChunkedDecoder decoder;
  Result result{kMore, "", "", 0};
  auto& [status, out, error, consumed] = result;
  for (std::string_view arrival : arrivals) {
    status = decoder.Decode(arrival, out);
    consumed += decoder.Consumed();
  }
  error = decoder.Error();
  if (status == kBroken) consumed = 0;
  std::string more = out, fresh;
  if (status != kMore) {
    EXPECT_EQ(decoder.Decode("1\r\nz\r\n0\r\n\r\n", more), status);
    EXPECT_EQ(std::pair(decoder.Consumed(), more), std::pair(size_t{0}, out));
  }
  decoder.Reset();
  EXPECT_EQ(decoder.Decode("1\r\nz\r\n0\r\n\r\n", fresh), kDone);
  EXPECT_EQ(std::pair(fresh, decoder.Error()), std::pair(std::string("z"), std::string()));
  return result;
}

// The stream cut once at every offset (the ends give it whole), and one byte per
// arrival, must all give `expected`.
void ExpectAtEveryCut(std::string_view stream, const Result& expected) {
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    ASSERT_EQ(Decode({stream.substr(0, cut), stream.substr(cut)}), expected)
        << stream.substr(0, 80) << " cut at " << cut;
  }
  std::vector<std::string_view> bytes;
  for (size_t i = 0; i < stream.size(); ++i) bytes.push_back(stream.substr(i, 1));
  ASSERT_EQ(Decode(bytes), expected) << stream.substr(0, 80) << " byte by byte";
}

TEST(ChunkedDecoderTest, StreamsGiveTheirStatusDataAndError) {
  using enum ChunkedDecoder::Status;
  const std::string size_line_at_limit = "1;" + std::string(kChunkSizeLineLimit - 2, 'e');
  const std::string trailer_at_limit = "X:" + std::string(kChunkTrailerLineLimit - 2, 'v');
  const std::string kNoLineEnd = "Chunk data is not followed by a line end.";
  const std::string kJunk = "A chunk size is followed by something other than an extension.";
  const std::string kBadTrailer = "A trailer line is not a field name, a colon and a value.";
  const std::string kLongSizeLine =
      "A chunk-size line runs past " + std::to_string(kChunkSizeLineLimit) + " bytes.";
  const std::string kTooBig = "A chunk size is over " + std::to_string(kChunkSizeLimit) + " bytes.";
  // A stream, its status, the data out and the error. Every byte of a stream
  // that is not broken is consumed; kDone streams are followed by "NEXT".
  const std::tuple<std::string, ChunkedDecoder::Status, std::string, std::string> cases[] = {
      // Extensions, spaces before them, hex in either case, leading zeros.
      {"5;a=1;b=\"x\\\"y\"\r\nhello\r\n00A \t;c\r\n0123456789\r\n0;z\r\n\r\n", kDone,
       "hello0123456789", ""},
      {"3\t\r\nabc\r\n0\r\nAZaz09!#$%&'*+-.^_`|~: 1\r\nx-b:\r\n\r\n", kDone, "abc", ""},
      {"3\r\nabc\n0\nT: v\r\n\n", kDone, "abc", ""},
      {"4\r\n\r\n\n\r\r\n0\r\n\r\n", kDone, "\r\n\n\r", ""},  // line ends in the data
      {"3\r\nab", kMore, "ab", ""},
      {"3\r\nabc\r", kMore, "abc", ""},
      {"0\r\nT: v\r\n", kMore, "", ""},
      // Malformed size lines.
      {"\r\n", kBroken, "", "A chunk-size line is empty."},
      {"2\r\nab\r\n\n", kBroken, "ab", "A chunk-size line is empty."},
      {" 5\r\nhello\r\n", kBroken, "", "A chunk-size line does not start with a hexadecimal size."},
      {"0x5\r\n", kBroken, "", kJunk},
      {"5 x\r\n", kBroken, "", kJunk},
      {"5\r\r\nhello", kBroken, "", kJunk},
      // Data not followed by a line end.
      {"3\r\nabcd\r\n", kBroken, "abc", kNoLineEnd},
      {"3\r\nabc\rd", kBroken, "abc", kNoLineEnd},
      {"3\r\nabc\r\r\n", kBroken, "abc", kNoLineEnd},
      // Trailer lines that are not fields.
      {"0\r\nno colon\r\n\r\n", kBroken, "", kBadTrailer},
      {"0\r\n: v\r\n\r\n", kBroken, "", kBadTrailer},
      {"0\r\nX : v\r\n\r\n", kBroken, "", kBadTrailer},
      {"0\r\n folded\r\n\r\n", kBroken, "", kBadTrailer},
      // Limits at the bound and one past; a CR just past a line's limit may
      // still be its line end's.
      {size_line_at_limit + "\r\nz\r\n0\r\n\r\n", kDone, "z", ""},
      {size_line_at_limit + "\nz\n0\n\n", kDone, "z", ""},
      {size_line_at_limit + "\r", kMore, "", ""},
      {size_line_at_limit + "ee", kBroken, "", kLongSizeLine},  // broken before its end
      {size_line_at_limit + "\r\r\n", kBroken, "", kLongSizeLine},
      {"0\r\n" + trailer_at_limit + "\r\n\r\n", kDone, "", ""},
      {"0\r\n" + trailer_at_limit + "v\r\n\r\n", kBroken, "",
       "A trailer line runs past " + std::to_string(kChunkTrailerLineLimit) + " bytes."},
      {"10000000000\r\nabc", kMore, "abc", ""},  // kChunkSizeLimit, 1 << 40
      {"10000000001\r\nabc", kBroken, "", kTooBig},
      {"ffffffffffffffffffff\r\n", kBroken, "", kTooBig},
  };
  for (const auto& [stream, status, out, error] : cases) {
    ExpectAtEveryCut(status == kDone ? stream + "NEXT" : stream,
                     Result{status, out, error, status == kBroken ? 0 : stream.size()});
  }
}

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
