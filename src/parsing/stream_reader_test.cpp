#include "parsing/stream_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/engine_limits.h"
#include "parsing/byte_search.h"
#include "parsing/parameter_list.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

using Parts = std::vector<std::string>;

constexpr char kHeader[] =
    "HTTP/1.0 200 OK\r\nServer: cam\r\n"
    "Content-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n";

std::string Frame(uint8_t type, const std::string& body) {
  return std::to_string(type) + ":" + body;
}

// A frame as Frame() writes it, or "none" for a part without frame.
std::string Describe(const std::shared_ptr<MediaFrame>& frame) {
  return frame ? Frame(frame->getDataType(), frame->getDataBlock().GetText()) : "none";
}

std::string Part(const std::string& type, const std::string& body, const std::string& eol = "\r\n",
                 const std::string& boundary = "--myboundary") {
  return boundary + eol + "Content-Type: " + type + eol + "Content-Length: 9" + eol + eol + body +
         eol;
}

// Feeds each arrival and takes what is complete, as the connection does: the
// response header until it is accepted, then every complete part. A part is
// written as Describe() does, or "keepalive"; a break as "broken: " and its reason.
Parts Feed(const std::vector<std::string>& arrivals, StreamReader* reader = nullptr,
           bool discover = false) {
  StreamReader own;
  if (reader == nullptr) reader = &own;
  Parts parts;
  bool streaming = false;
  for (const std::string& arrival : arrivals) {
    reader->Append(arrival);
    if (!streaming) streaming = reader->TakeResponseHeader(discover);
    std::shared_ptr<MediaFrame> frame;
    auto kind = StreamReader::kNoPart;
    while (streaming && (kind = reader->TakePart(frame)) != StreamReader::kNoPart &&
           kind != StreamReader::kBroken) {
      parts.push_back(kind == StreamReader::kKeepAlive ? "keepalive" : Describe(frame));
    }
    if (!reader->BrokenReason().empty()) {
      parts.push_back("broken: " + reader->BrokenReason());
      break;
    }
  }
  return parts;
}

// The stream whole, and cut in two at every `step`th offset, gives `expected`.
void ExpectAtEveryCut(const std::string& stream, const Parts& expected, size_t step = 1,
                      bool discover = false) {
  for (size_t cut = 0; cut <= stream.size(); cut += step) {
    StreamReader reader;
    ASSERT_EQ(Feed({stream.substr(0, cut), stream.substr(cut)}, &reader, discover), expected)
        << stream.substr(0, 80) << " cut at " << cut;
    if (!expected.empty() && expected.back().starts_with("broken")) {
      reader.Clear();
      EXPECT_EQ(reader.BrokenReason(), "");
    }
  }
}

TEST(StreamReaderTest, ResponseHeaderYieldsTheBoundaryAndIsConsumedUpToIt) {
  // A response header line and the boundary it yields ("" = not accepted).
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=myboundary\r\n",
       "--myboundary"},
      {"content-type: Multipart/Mixed; BOUNDARY=\"--Frame\"\n", "--Frame"},
      {"Content-Type: multipart/x; boundary=  \"ab\"  \r\n", "--ab"},
      {"Content-Type: multipart/x; boundary=ab; charset=x\r\n", "--ab; charset=x"},
      {"Content-Type: multipart/x; boundary=x\r\n", ""},
      {"Content-Type: multipart/x; boundary=\"x\"\r\n", ""},
      {"Content-Type: multipart/x; boundary=\"\"\r\n", ""},
      {"Content-Type: multipart/x; boundary=abc", ""},  // the line has not ended
      {"Content-Type: image/jpeg; boundary=abc\r\n", ""},
      {"Content-Type: multipart/x; boundary abc\r\n", ""},
  };
  for (const auto& [line, boundary] : cases) {
    StreamReader reader;
    reader.Append(line + "rest");
    EXPECT_EQ(reader.TakeResponseHeader(), !boundary.empty()) << line;
    EXPECT_EQ(reader.Boundary(), boundary) << line;
    EXPECT_EQ(reader.Data(), boundary.empty() ? line + "rest" : "rest") << line;
  }
  // A stream that never shows its boundary keeps only what could begin one.
  StreamReader junk;
  Feed({kHeader + std::string(50'000, 'j')}, &junk);
  EXPECT_EQ(junk.Data(), std::string(12, 'j'));
}

// With discovery, the boundary is the first body line that begins with "--" when the header
// names none or there is no header; without it, only the header's boundary is accepted.
TEST(StreamReaderTest, DiscoveryTakesTheBoundaryFromTheFirstBodyLine) {
  const std::string parts = Part("image/jpeg", "J1") + Part("text/plain", "T") + "--myboundary";
  const Parts frames = {Frame(kJpeg, "J1"), Frame(kText, "T")}, text = {Frame(kText, "T")};
  // A stream, and the parts it gives with discovery (without it, only kHeader's stream gives any).
  const std::pair<std::string, Parts> cases[] = {
      {parts, frames},
      {"\r\n\r\n" + parts, frames},
      {"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + parts, frames},
      {"HTTP/1.0 200 OK\nServer: x\n\npreamble\n-\n\n" + parts, frames},
      {"HTTP/1.0 200 OK\n\n" + parts, frames},
      {"HTTP/1.0 200 OK\r\n--not-a-boundary: x\r\n\r\n" + parts, frames},
      {"HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\n\r\n" + parts, frames},
      {kHeader + parts, frames},
      // Trailing blanks are no part of the boundary; "--" alone is no boundary.
      {"--myboundary  \r\nContent-Type: text/plain\r\n\r\nT\r\n--myboundary", text},
      {"--\r\n--m\r\n--mm\r\nContent-Type: text/plain\r\n\r\nT\r\n--mm", text},
      {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nno boundary line\r\n", {}},
  };
  for (const auto& [stream, with] : cases) {
    ExpectAtEveryCut(stream, with, 1, true);
    ExpectAtEveryCut(stream, stream.starts_with(kHeader) ? with : Parts{});
  }
}

TEST(StreamReaderTest, PartsEndAtTheFirstKindOfEndFound) {
  const std::string lf_header = "Content-type: Multipart/Mixed; BOUNDARY=\"--Frame\"\n\n";
  const std::pair<std::string, Parts> cases[] = {
      // LF line ends; the boundary matches in any case.
      {lf_header + "preamble\n" + Part("image/jpeg", "a\r\nb", "\n", "--FRAME") +
           Part("image/jpeg", "c", "\n", "--frame") + "--Frame--\n",
       {Frame(kJpeg, "a\r\nb"), Frame(kJpeg, "c")}},
      // The body ends at the boundary in capitals; "tail" is a part without a
      // content type; a body followed directly by the boundary keeps every byte.
      {kHeader + Part("image/jpeg", "x\r\n--MYBOUNDARY\r\n\r\ntail") +
           "--myboundary\r\nContent-Type: image/jpeg\r\n\r\nno-line-end--myboundary\r\n",
       {Frame(kJpeg, "x"), "none", Frame(kJpeg, "no-line-end")}},
      // A CR LF end anywhere after the part wins over an earlier LF end...
      {kHeader + std::string("--myboundary\r\nContent-Type: text/plain\r\n\r\nA\n--myboundary"
                             "\r\n\r\nB\r\n--myboundary\n"),
       {Frame(kText, "A\n--myboundary\r\n\r\nB")}},
      // ...and an LF end over an earlier bare boundary.
      {kHeader + std::string("--myboundary\nContent-Type: text/plain\n\nA--myboundary\nB\n"
                             "--myboundary"),
       {Frame(kText, "A--myboundary\nB")}},
      // A blank line that runs into the next boundary gives an empty body.
      {kHeader + std::string("--myboundary\r\nContent-Type: image/jpeg\r\n\r\n--myboundary"),
       {Frame(kJpeg, "")}},
  };
  for (const auto& [stream, expected] : cases) EXPECT_EQ(Feed({stream}), expected) << stream;
}

// Every kind of part in one stream: content types mapped exactly and without regard to case, then
// CR LF ends, LF ends and bare ones. No end competes with a kind tried before it, so where the
// arrivals are cut cannot matter.
TEST(StreamReaderTest, ContentTypesMapExactlyAndArrivalsCutAnywhereGiveTheSameParts) {
  // Header fields of a part and what the part becomes.
  const std::pair<std::string, std::string> types[] = {
      {"Content-Type: image/jpeg", Frame(kJpeg, "body")},
      {"content-type:   IMAGE/JPEG  ", Frame(kJpeg, "body")},
      {"Content-Type: text/plain", Frame(kText, "body")},
      {"Content-Type: text/plaintext", Frame(kText, "body")},
      {"Content-Type: text/x-vesper-event", Frame(kEvent, "body")},
      {"Content-Type: Text/X-Vesper-Event-List", Frame(kEventList, "body")},
      {"Content-Type: text/plain\r\ncontent-type: image/jpeg", Frame(kText, "body")},
      {"Content-Type: Text/KeepAlive", "keepalive"},
      {"Content-Type: image/jpeg; q=1", "none"},
      {"Content-Type:\timage/jpeg", "none"}};  // only spaces are trimmed
  std::string stream = kHeader + std::string("junk line\r\n");
  Parts expected;
  for (const auto& [fields, part] : types) {
    stream += "--myboundary\r\n" + fields + "\r\n\r\nbody\r\n";
    expected.push_back(part);
  }
  const std::string body("\xff\xd8\r\n--myboundar\n--myboundar\xff\xd9", 30);
  const std::string bare = "--myboundary\r\nContent-Type: text/plain\r\n\r\nbare";
  stream += Part("image/jpeg", body) + Part("text/plain", "") + Part("text/plain", "lf", "\n") +
            Part("image/jpeg", "", "\n") + bare + "1" + bare + "2--myboundary";
  expected.insert(expected.end(), {Frame(kJpeg, body), Frame(kText, ""), Frame(kText, "lf"),
                                   Frame(kJpeg, ""), Frame(kText, "bare1"), Frame(kText, "bare2")});
  std::vector<std::string> bytes;
  for (char c : stream) bytes.emplace_back(1, c);
  EXPECT_EQ(Feed(bytes), expected);
  ExpectAtEveryCut(stream, expected);
}

// A boundary, a content-type line or a part's head past its limit breaks the stream, at the same
// part however the stream is cut into arrivals (and Clear forgets the break); at the limit it is
// read as usual. A small head without its blank line holds the stream where it is.
TEST(StreamReaderTest, HeadsPastTheirLimitsBreakTheStream) {
  // A text part whose head holds `lines` lines of `length` bytes after its content type.
  const auto part = [](int lines, size_t length, const std::string& body = "T") {
    std::string head = "--myboundary\r\nContent-Type: text/plain";
    for (int i = 0; i < lines; ++i) head += "\r\nX: " + std::string(length - 3, 'v');
    return head + "\r\n\r\n" + body + "\r\n";
  };
  const std::string at_limit(kMaxBoundaryLength, 'b'), past_limit = at_limit + "b";
  // The stream's header and a first part, a JPEG image.
  const std::string first = kHeader + Part("image/jpeg", "J1"), end = "--myboundary";
  const std::string text = Frame(kText, "T"), jpeg = Frame(kJpeg, "J1");
  const std::string long_line =
      "HTTP/1.0 200 OK\r\nContent-Type: " + std::string(kMaxHeaderLineBytes, 'x');
  const std::string big(2 * kMaxPartHeaderBytes, 'j');
  const std::tuple<std::string, bool, Parts> cases[] = {
      {"Content-Type: multipart/x;boundary=" + at_limit + "\r\n\r\n--" + at_limit +
           "\r\n\r\nx\r\n--" + at_limit,
       false,
       {"none"}},
      {"Content-Type: multipart/x;boundary=" + past_limit + "\r\n\r\n--" + past_limit,
       false,
       {"broken: boundary over 256 characters"}},
      {"--" + past_limit + "\r\n\r\n", true, {"broken: boundary over 256 characters"}},
      {long_line, false, {"broken: response header line over 8192 bytes"}},
      {long_line + "\r\n\r\n", true, {"broken: response header line over 8192 bytes"}},
      {first + part(98, 10) + end, false, {jpeg, text}},
      // A body far larger than a head's limit, in arrivals, is no head.
      {first + part(1, 10, big) + end, false, {jpeg, Frame(kText, big)}},
      {first + part(99, 10) + end, false, {jpeg, "broken: part header over 100 lines"}},
      {first + part(1, kMaxHeaderLineBytes) + end, false, {jpeg, text}},
      {first + part(1, kMaxHeaderLineBytes + 1) + end,
       false,
       {jpeg, "broken: part header line over 8192 bytes"}},
      {first + part(3, 6'000) + end, false, {jpeg, "broken: part header over 16384 bytes"}},
      // No blank line: a small head waits, a large one breaks before its part has ended.
      {first + "--myboundary\r\nContent-Type: text/plain\r\nT\r\n" + Part("image/jpeg", "J1") + end,
       false,
       {jpeg}},
      {first + "--myboundary\r\n" + std::string(kMaxPartHeaderBytes + 300, 'h'),
       false,
       {jpeg, "broken: part header over 16384 bytes"}},
  };
  for (const auto& [stream, discover, parts] : cases)
    ExpectAtEveryCut(stream, parts, 997, discover);
}

TEST(StreamReaderTest, SingleResponseIsTheBodyLessTwoBytes) {
  // A whole response and what it gives: a frame, "none", or "wait".
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nIMAGE\r\n", Frame(kJpeg, "IMAGE")},
      {"Content-type: x\n\nIMG\r\n", Frame(kJpeg, "IMG")},
      {"Content-Type: x\r\n\r\nabc", Frame(kJpeg, "a")},
      {"Content-Type: x\r\n\r\nab", "none"},
      {"Content-Type: image/jpeg\r\nIMAGE\r\n", "wait"},
      {"HTTP/1.0 200 OK\r\n\r\nIMAGE\r\n", "wait"},
  };
  for (const auto& [response, expected] : cases) {
    StreamReader reader;
    reader.Append(response);
    std::shared_ptr<MediaFrame> frame;
    const bool taken = reader.TakeSingleResponse(frame);
    EXPECT_EQ(taken ? Describe(frame) : "wait", expected);
    EXPECT_EQ(reader.Length(), taken ? 0 : static_cast<int32_t>(response.size())) << response;
  }
}

TEST(StreamReaderTest, InputGrowsByHalfAgainUpToTheLimitAndClearsBeyondIt) {
  const int32_t initial = kInitialInputCapacity, limit = kInputBufferLimit;
  // An arrival's size, the outcome, and the length and capacity after it.
  using enum StreamReader::AppendOutcome;
  const std::tuple<int32_t, StreamReader::AppendOutcome, int32_t, int32_t> steps[] = {
      {0, kAppended, 0, initial},
      {initial - 1'000, kAppended, initial - 1'000, initial},
      {2'000, kGrown, initial + 1'000, (initial + 1'000) * 3 / 2},
      {limit * 7 / 10 - (initial + 1'000), kGrown, limit * 7 / 10, limit},
      {limit / 5, kAppended, limit * 9 / 10, limit},
      {limit / 10 - 1'000, kAppended, limit - 1'000, limit},
      {2'000, kCleared, 2'000, limit},
      {limit + 1, kCleared, 0, limit},
      {limit, kAppended, limit, limit},
  };
  StreamReader reader;
  for (const auto& [arrival, outcome, length, capacity] : steps) {
    EXPECT_EQ(reader.Append(std::string(arrival, 'b')), outcome) << arrival;
    EXPECT_EQ(std::pair(reader.Length(), reader.Capacity()), std::pair(length, capacity))
        << arrival;
  }
}

TEST(StreamReaderTest, CapacityIsCutByAQuarterAfterQuietPartsNeverBelowTheInitialSize) {
  StreamReader reader;
  reader.Append(std::string(28'096, 'b'));  // capacity 42,144: its cuts reach 10,000 exactly
  reader.Clear();
  std::string quiet_parts = kHeader;
  for (int i = 0; i < kIdlePartsBeforeReduction; ++i) quiet_parts += "--myboundary\r\n\r\n\r\n";
  quiet_parts += "--myboundary";
  // Each quiet spell cuts a quarter, until a cut would go below the initial size.
  for (int32_t expected :
       {31'608, 23'706, 17'779, 13'334, kInitialInputCapacity, kInitialInputCapacity}) {
    ASSERT_EQ(Feed({quiet_parts}, &reader).size(), static_cast<size_t>(kIdlePartsBeforeReduction));
    EXPECT_EQ(reader.Append("x"), StreamReader::kReduced);
    EXPECT_EQ(reader.Capacity(), expected);
    EXPECT_EQ(reader.Data(), "\r\n--myboundaryx");  // the data survives the cut
    reader.Clear();
  }
  // An arrival that leaves the buffer more than 70% full is not quiet.
  Feed({quiet_parts}, &reader);
  EXPECT_EQ(reader.Append(std::string(reader.Capacity() * 3 / 4, 'b')), StreamReader::kAppended);
  EXPECT_EQ(reader.Append("x"), StreamReader::kAppended);
}

// Frames share the block they were cut from: whatever the reader does next
// (arrivals written in place through PrepareAppend, moves to the front,
// growth, a clear, cuts back), a frame kept by its holder keeps its bytes.
// Parts of every size, so both shared and copied frames are kept.
TEST(StreamReaderTest, KeptFramesKeepTheirBytesWhateverTheBufferDoes) {
  std::mt19937 random(5);
  StreamReader reader;
  ASSERT_EQ(Feed({kHeader}, &reader), Parts{});
  std::vector<std::pair<std::shared_ptr<MediaFrame>, std::string>> kept;
  std::string pending;
  for (int part = 0; part < 1'200; ++part) {
    std::string body(std::uniform_int_distribution<size_t>(1, 40'000)(random), '\0');
    for (char& c : body) c = static_cast<char>(random());
    pending += Part("image/jpeg", body);
    if (part % 200 == 150) {
      reader.Clear();  // later writes start at the front of a block frames hold
      pending = Part("image/jpeg", body);
    }
    while (pending.size() > 2'000 || (part == 1'199 && !pending.empty())) {
      const size_t n = std::min(pending.size(), size_t{1} + random() % 70'000);
      char* destination = nullptr;
      const auto prepared = reader.PrepareAppend(static_cast<int32_t>(n), destination);
      ASSERT_NE(destination, nullptr);
      std::memcpy(destination, pending.data(), n);
      reader.CommitAppend(static_cast<int32_t>(n), prepared);
      pending.erase(0, n);
      std::shared_ptr<MediaFrame> frame;
      while (reader.TakePart(frame) == StreamReader::kFramePart) {
        // A third of the frames are kept to the end; the others are let go at once.
        if (random() % 3 == 0) kept.emplace_back(frame, frame->getDataBlock().GetText());
      }
    }
  }
  ASSERT_GT(kept.size(), 300u);
  for (const auto& [frame, bytes] : kept) ASSERT_TRUE(frame->getDataBlock().View() == bytes);
}

// The part-head list finds a name in any letter case, the first entry included: adding a name that
// is there in another case changes nothing; setting it replaces the value, the name as it was.
TEST(ParameterListTest, NamesMatchInAnyCaseFromTheFirstEntryOn) {
  ParameterList list;
  EXPECT_FALSE(list.parameterExists("a"));
  EXPECT_TRUE(list.AddParameter("A", "1"));
  EXPECT_TRUE(list.AddParameter("B", "2"));
  EXPECT_FALSE(list.AddParameter("a", "3"));
  EXPECT_FALSE(list.AddParameter("b", "3"));
  list.SetParameter("a", "4");
  EXPECT_EQ(list.getParameterCount(), 2);
  EXPECT_EQ(list.ParameterToString(1, "=") + " " + list.ParameterToString(2, "="), "A=4 B=2");
}

// The text in lower case, or in upper case.
std::string Cased(std::string text, bool upper = false) {
  for (char& c : text)
    c = static_cast<char>(upper ? std::toupper(c & 0xFF) : std::tolower(c & 0xFF));
  return text;
}

// Each vector scan this processor has, their tails of fewer starts than a block and the linear
// fallback agree with a plain search at every position, exact and ignoring case: A and Z included,
// the bytes that differ from a letter only in the case bit ('@' and '`', '[' and '{') and bytes
// above 0x7F have no case.
TEST(ByteSearchTest, AgreesWithAPlainSearchEverywhere) {
  constexpr std::string_view kAlphabet = "-\r\nazAZ@`[{\xc4\xe4";
  for (int width = 0; width <= static_cast<int>(WidestScan()); ++width) {
    SCOPED_TRACE(width);
    // The search in both modes, against a plain search of the text and of its lower case.
    const auto agrees = [width](std::string_view text, const std::string& needle) {
      const auto find = [&](bool ignore_case) {
        return FindBytesWith(text, needle, ignore_case, static_cast<ScanWidth>(width));
      };
      EXPECT_EQ(find(false), text.find(needle)) << text.substr(0, 300) << " / " << needle;
      EXPECT_EQ(find(true), Cased(std::string(text)).find(Cased(needle)))
          << text.substr(0, 300) << " / " << needle;
    };
    std::mt19937 random(11);
    for (const std::string needle :
         {"-", "\r\n--MyBoundary", "--z", "aZ", "Content-Type", "@a`", "[\xc4{", "z-\xe4-Z"}) {
      for (size_t length = 0; length < 300; ++length) {
        for (int trial = 0; trial < 20; ++trial) {
          std::string text(length, '\0');
          for (auto& c : text) c = kAlphabet[random() % (trial < 10 ? 7 : kAlphabet.size())];
          if (length >= needle.size() && trial % 2 == 0)
            text.replace(random() % (length - needle.size() + 1), needle.size(), needle);
          agrees(text, needle);
        }
      }
    }
    // A needle that runs one byte past the haystack's end is not in it, even
    // where the bytes after the end would complete it.
    for (size_t length = 0; length < 300; ++length) {
      const std::string bytes = std::string(length, 'x') + "--myboundary";
      agrees(std::string_view(bytes).substr(0, bytes.size() - 1), "--myboundary");
    }
    // Where the needle's first and last byte pass at almost every start, the
    // search changes method midway; it must go on from where it was and still
    // find the first match, also one in other letter case.
    for (const std::string& needle : {std::string(150, '-') + "x" + std::string(150, '-'),
                                      "--" + std::string(40, 'a') + "--"}) {
      std::vector<size_t> places(64);
      std::iota(places.begin(), places.end(), 0);
      places.insert(places.end(), {5'000, 19'000, std::string::npos});
      for (const size_t at : places) {
        for (const bool upper : {false, true}) {
          std::string text(20'000, needle[0]);
          for (size_t i = 3; i < text.size(); i += 7) text[i] = needle[needle.size() / 2];
          if (at != std::string::npos) text.replace(at, needle.size(), Cased(needle, upper));
          agrees(text, needle);
        }
      }
    }
    agrees("abc", "");
    agrees("\xc4\xe4", "\xe4");
  }
}

}  // namespace
}  // namespace ravelon
