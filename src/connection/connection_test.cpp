// The connection on the simulated network, with a real stream reader and a
// recording owner: the request, each stall or break, and frames to the owner;
// the request of each style, and the Base64 encoding of its Basic line.
#include "connection/connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

#include "common/engine_limits.h"
#include "connection/codec_base64.h"
#include "connection/http_request.h"
#include "parsing/stream_reader.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"
#include "schedule/rate_statistics.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

const std::string kHeader =
    "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=bnd\r\n\r\n";

const std::string kJpegPart = "\r\nContent-Type: image/jpeg\r\n\r\n";  // then the image

// The connection on the simulated network, and its owner: it records every call, and its hooks
// let a test act inside a call, as an engine does.
struct Rig final : ConnectionOwner {
  Rig() { connection.Settings() = {"cam", 80, "video.cgi", true, "", ""}; }
  void Connect() {
    connection.ConnectToSource();
    Advance(0);
  }
  void Advance(int64_t ms) { platform.AdvanceBy(milliseconds(ms)); }
  int Attempts() const { return camera.ConnectAttempts(); }
  int64_t Count(const std::string& line) const { return std::ranges::count(log, line); }

  void OnConnectionStarting() override {}
  void OnSessionStarted() override { on_session(); }
  bool OnNewFrame(std::shared_ptr<MediaFrame>& frame) override {
    frames.push_back(frame ? frame->getDataBlock().GetText() : "(none)");
    max_depth = std::max(max_depth, ++depth);
    on_frame();
    --depth;
    return static_cast<int>(frames.size()) != refused_frame;
  }
  void OnConnectionLost() override { ++losses; }
  bool ScheduledDisconnect() const override { return disconnect; }
  void Debug(uint8_t level, const std::string& text) override {
    log.push_back(std::to_string(level) + " " + text);
  }

  int losses = 0, depth = 0, max_depth = 0, refused_frame = 0;
  bool disconnect = false;
  Lines frames, log;
  std::function<void()> on_session = [] {}, on_frame = [] {};
  SimulatedPlatform platform;
  ScriptedServer& camera = platform.network().Listen("cam", 80);
  StreamReader reader;
  RateStatistics rates{platform.GetClock()};
  Connection connection{platform.loop(), platform.NewTcpSocket(), reader, rates, *this};
};

// The request, and the path as the setting keeps it; the response timeout runs only when a path
// was requested, and only streaming says it sends one.
TEST(ConnectionTest, RequestIsABareGetWithAnOptionalBasicLine) {
  const std::tuple<std::string, std::string, std::string, bool, std::string, std::string> cases[] =
      {{"x.jpg", "", "", true, "GET /x.jpg\r\n\r\n", "/x.jpg"},
       {"/", "", "", true, "GET /\r\n\r\n", "/"},
       {"a b", "", "", false, "GET /a b\r\n\r\n", "/a b"},
       {"v", "user", "", false, "GET /v\r\nAuthorization: Basic dXNlcjo=\r\n\r\n", "/v"},
       {"v", "", "pass", true, "GET /v\r\nAuthorization: Basic OnBhc3M=\r\n\r\n", "/v"},
       {"", "user", "pass", true, "", ""}};
  for (const auto& [url, user, password, streaming, request, url_after] : cases) {
    Rig rig;
    rig.connection.Settings() = {"cam", 80, url, streaming, user, password};
    rig.Connect();
    EXPECT_EQ(rig.camera.LastConnection()->Received(), request);
    EXPECT_EQ(rig.connection.Settings().url, url_after);
    EXPECT_EQ(rig.connection.Watchdog().Enabled(), !url.empty()) << url;
    EXPECT_EQ(rig.Count("2 Connected. Sending URL..."), streaming ? 1 : 0) << url;
  }
}

// Each stall, break or refusal: its message, whether what came is flushed, the wait before the
// next full connect, and over an hour no tight loop and no giving up, the message once an attempt.
TEST(ConnectionTest, EachStallBreakOrRefusalHasItsMessageFlushAndWaitForEver) {
  using enum ConnectAnswer;
  constexpr int64_t kHourMs = 3'600'000;
  const auto sends = [](const std::string& text) {
    return [text](ScriptedConnection& c) { c.Send(text); };
  };
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n" +
                              kHeader.substr(17) + "3\r\n--b\r\nzz\r\n";
  const std::string broken_chunk =
      "10 Broken chunked response: A chunk-size line does not start with a hexadecimal size. "
      "Reconnecting.";
  // The message, the answer to the connect, the time from the connect to the stall or break, the
  // losses reported, the wait from then to the next attempt, what the source does, and the mode.
  const struct {
    std::string line;
    ConnectAnswer answer;
    int64_t at_ms;
    int losses;
    int64_t wait_ms;
    std::function<void(ScriptedConnection&)> on_accept = nullptr;
    bool streaming = true;
  } cases[] = {
      {"5 Connect timeout.", kNeverAnswer, kConnectTimeoutMs, 0, kReconnectAfterFailedConnectMs},
      {"5 Connect timeout: name lookup of cam did not finish.", kLookupHangs, kConnectTimeoutMs, 0,
       kReconnectAfterFailedConnectMs},
      {"10 WinSock.Error: Number=10061, Description=Connection refused", kRefuse, 0, 0,
       kReconnectAfterFailedConnectMs},
      {"5 URL timeout.", kAccept, kResponseTimeoutMs, 0, 0},
      {"5 Process header timeout.", kAccept, 1'000 + kHeaderTimeoutMs, 0, 0,
       [](ScriptedConnection& c) { c.Send("HTTP/1.0 200 OK\r\n", milliseconds(1'000)); }},
      // The header arms the part timeout; a keep-alive part and a frame part each restart it.
      {"5 Process part timeout.", kAccept, kPartTimeoutMs, 1, 0, sends(kHeader)},
      {"5 Process part timeout.", kAccept, 20'000 + kPartTimeoutMs, 1, 0,
       [](ScriptedConnection& c) {
         c.Send(kHeader + "--bnd");
         c.Send("\r\nContent-Type: text/keepalive\r\n\r\n\r\n--bnd", milliseconds(10'000));
         c.Send(kJpegPart + "J\r\n--bnd", milliseconds(20'000));
       }},
      {"5 WinSock.Close", kAccept, 2, 1, kReconnectAfterBreakMs,
       [](ScriptedConnection& c) { c.Close(milliseconds(2)); }},
      {"10 WinSock.Error: Number=10054, Description=reset", kAccept, 2, 1, kReconnectAfterBreakMs,
       [](ScriptedConnection& c) {
         c.Fail(kSocketErrorConnectionReset, "reset", milliseconds(2));
       }},
      // A status outside 2xx, and a broken chunked body, in both modes.
      {"10 Source answered 404 Not Found", kAccept, 0, 1, kReconnectAfterBreakMs,
       sends("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<h1>")},
      {"10 Source answered 401 Unauthorized", kAccept, 0, 1, kReconnectAfterBreakMs,
       sends("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"c\"\r\n\r\n"), false},
      {broken_chunk, kAccept, 0, 1, kReconnectAfterBreakMs, sends(chunked)},
      {broken_chunk, kAccept, 0, 1, kReconnectAfterBreakMs, sends(chunked), false},
      // A stream past one of the reader's limits.
      {"10 Stream broken: boundary over 256 characters. Reconnecting", kAccept, 0, 1,
       kReconnectAfterBreakMs,
       sends("HTTP/1.0 200 OK\r\nContent-Type: multipart/x;boundary=" + std::string(257, 'b') +
             "\r\n\r\n")},
      {"10 Stream broken: part header line over 8192 bytes. Reconnecting", kAccept, 0, 1,
       kReconnectAfterBreakMs,
       sends(kHeader + "--bnd\r\nX: " + std::string(kMaxHeaderLineBytes, 'v') +
             "\r\n\r\n\r\n--bnd")},
  };
  for (const auto& [line, answer, at_ms, losses, wait_ms, on_accept, streaming] : cases) {
    SCOPED_TRACE(line);
    Rig rig;
    rig.connection.Settings().streaming = streaming;
    rig.camera.Answer(answer);
    rig.camera.OnAccept(on_accept);
    rig.connection.ConnectToSource();
    rig.Advance(std::max<int64_t>(at_ms - 1, 0));
    EXPECT_EQ(rig.Count(line), at_ms > 0 ? 0 : 1) << "too early";
    rig.Advance(at_ms > 0 ? 1 : 0);
    EXPECT_EQ(rig.Count(line), 1);
    EXPECT_EQ(rig.losses, losses);
    if (wait_ms > 0) {
      rig.Advance(wait_ms - 1);
      EXPECT_EQ(rig.Attempts(), 1) << "attempted too early";
      rig.Advance(1);
    }
    EXPECT_EQ(rig.Attempts(), 2);
    EXPECT_EQ(rig.Count("2 Connecting to the source."), 2);  // a full connect
    const int64_t round = at_ms + wait_ms;
    rig.Advance(kHourMs - round);
    EXPECT_EQ(rig.Attempts(), 1 + kHourMs / round);
    if (at_ms == 0) {
      EXPECT_EQ(rig.Count(line), rig.Attempts());  // said once an attempt
    }
  }
}

// Virtual mode and a scheduled disconnect end the open connection and then
// stay, without socket or watchdog, for ever; only virtual mode says so.
TEST(ConnectionTest, VirtualModeAndScheduledDisconnectOpenNoSocket) {
  const Lines virtual_log = {"2 Connecting to the source.",
                             "9 Address not supplied. Source will work in virtual mode."};
  for (const bool virtual_mode : {true, false}) {
    Rig rig;
    rig.Connect();
    rig.log.clear();
    rig.connection.Settings().address = virtual_mode ? "" : "cam";
    rig.disconnect = !virtual_mode;
    rig.Connect();
    rig.Advance(3'600'000);
    EXPECT_EQ(rig.connection.State(), virtual_mode ? kReadingParts : kIdle);
    EXPECT_FALSE(rig.connection.Watchdog().Enabled());
    EXPECT_TRUE(rig.camera.Connections()[0]->ClosedByClient());
    EXPECT_EQ(rig.Attempts(), 1);
    EXPECT_EQ(rig.log, virtual_mode ? virtual_log : Lines{});
  }
}

// Frames reach the owner once each, in order. The owner lets the loop run while
// it handles a frame, so the next arrival comes in inside that call: it only
// appends, and the running parse takes its parts. A refused frame ends the
// connection at once; the parts after it are dropped.
TEST(ConnectionTest, FramesReachTheOwnerOnceInOrderEvenWhenArrivalsNest) {
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "refused" : "accepted");
    Rig rig;
    rig.refused_frame = refuse ? 2 : 0;
    rig.on_frame = [&] { rig.platform.loop().ProcessPendingEventsOnce(); };
    rig.Connect();
    ScriptedConnection& source = *rig.camera.LastConnection();
    source.Send(kHeader.substr(0, 20));  // the header in two arrivals
    source.Send(kHeader.substr(20) + "--bnd" + kJpegPart + "1\r\n--bnd");
    source.Send(kJpegPart + "2\r\n--bnd" + kJpegPart + "3\r\n--bnd");
    rig.Advance(0);
    EXPECT_EQ(rig.frames, (refuse ? Lines{"1", "2"} : Lines{"1", "2", "3"}));
    EXPECT_EQ(rig.max_depth, 1);
    EXPECT_EQ(rig.Count("10 Handling of a new frame failed... Reconnecting"), refuse ? 1 : 0);
    EXPECT_EQ(rig.Attempts(), refuse ? 2 : 1);
    EXPECT_TRUE(rig.connection.Watchdog().Enabled());
    EXPECT_EQ(refuse ? rig.reader.Length() : 0, 0);  // nothing is left of the refused arrival
  }
}

// A chunked stream that has piled up in the socket, more of it than the input limit, is taken in
// arrivals of bounded size as a plain one is: no frame is lost to the limit.
TEST(ConnectionTest, APiledUpChunkedStreamIsTakenInBoundedArrivals) {
  Rig rig;
  rig.Connect();
  std::string parts = "--bnd";
  size_t images = 0;
  for (; parts.size() <= kInputBufferLimit; ++images)
    parts += kJpegPart + std::string(100'000, 'J') + "\r\n--bnd";
  char size[20];
  std::snprintf(size, sizeof size, "%zx\r\n", parts.size());
  rig.camera.LastConnection()->Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n" +
                                    kHeader.substr(17) + size + parts + "\r\n");
  rig.Advance(0);
  EXPECT_EQ(rig.frames.size(), images);
}

// Handlers that the connect event's loop run runs: the source closing at once (already queued
// when the loop runs) decides what follows, and a full connect made there goes on alone, its
// request sent when it connects.
TEST(ConnectionTest, WhatHandlersRunByTheConnectEventDoStands) {
  for (const bool close : {true, false}) {
    Rig rig;
    rig.on_session = [&rig, close, again = true]() mutable {
      if (close) rig.camera.LastConnection()->Close();
      if (!close && std::exchange(again, false))
        rig.platform.Loop().Post([&] { rig.connection.ConnectToSource(); });
    };
    rig.Connect();
    rig.Advance(1);
    EXPECT_EQ(rig.Count("5 WinSock.Close"), close ? 1 : 0);
    EXPECT_EQ(rig.connection.State(), close ? kReconnectWait : kAwaitingResponse);
    rig.Advance(kReconnectAfterBreakMs - 1);
    EXPECT_EQ(rig.Attempts(), 2);
    EXPECT_EQ(rig.camera.LastConnection()->Received(), close ? "" : "GET /video.cgi\r\n\r\n");
  }
  // A source that answers before it is asked: the start of its head, held by the gate while the
  // connect event runs the loop, is not lost.
  Rig eager;
  eager.on_session = [&eager] {
    eager.camera.LastConnection()->Send(kHeader.substr(0, kHeader.size() - 2));
    eager.camera.LastConnection()->Send("\r\n--bnd\r\nContent-Type: text/plain\r\n\r\nJ\r\n--bnd",
                                        milliseconds(1));
  };
  eager.Connect();
  eager.Advance(2);
  EXPECT_EQ(eager.frames, Lines{"J"});
  // A session starts the rate period (no path: nothing is requested, and no timeout restarts the
  // session before the period has run).
  Rig quiet;
  quiet.connection.Settings().url = "";
  quiet.Connect();
  quiet.Advance(kStatsPeriodMs - 1'000);
  EXPECT_EQ(quiet.rates.TakeReportIfDue(), "");
  quiet.Advance(2'000);
  EXPECT_NE(quiet.rates.TakeReportIfDue(), "");
}

// Credentials go as Basic until the source asks for Digest; the answer goes at once, on a new
// connection of the same session; a refusal of it is said and waits the normal delay.
TEST(ConnectionTest, ADigestChallengeIsAnsweredAtOnceAndARefusalWaits) {
  Rig rig;
  rig.connection.Settings() = {"cam", 80, "v", true, "u", "p"};
  rig.camera.OnAccept([](ScriptedConnection& c) {
    c.Send(
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\", "
        "qop=\"auth\"\r\n\r\n");
  });
  int sessions = 0;
  rig.on_session = [&] { ++sessions; };
  rig.Connect();
  const std::string refused =
      "10 Source answered 401 Unauthorized (the source refused the credentials)";
  ASSERT_EQ(rig.Attempts(), 2);
  EXPECT_EQ(rig.camera.Connections()[0]->Received(), "GET /v\r\nAuthorization: Basic dTpw\r\n\r\n");
  const std::string digest =
      "GET /v\r\nAuthorization: Digest username=\"u\", realm=\"r\", uri=\"/v\", nonce=\"n\"";
  EXPECT_EQ(rig.camera.Connections()[1]->Received().substr(0, digest.size()), digest);
  EXPECT_NE(rig.camera.Connections()[1]->Received().find("nc=00000001"), std::string::npos);
  EXPECT_EQ(std::pair(rig.Count(refused), sessions), std::pair(int64_t{1}, 1));
  rig.Advance(kReconnectAfterBreakMs);
  EXPECT_EQ(rig.Attempts(), 3);
  EXPECT_EQ(rig.camera.Connections()[2]->Received().substr(0, digest.size()), digest);
  EXPECT_EQ(rig.Count(refused), 2);
  // A challenge the engine cannot answer (a control character in the user name) waits like a
  // refusal: a source that challenges every request does not get it again at once for ever.
  Rig unanswerable;
  unanswerable.connection.Settings() = {"cam", 80, "v", true, "u\x01", "p"};
  int challenges = 0;
  unanswerable.camera.OnAccept([&challenges](ScriptedConnection& c) {
    if (++challenges <= 50)
      c.Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=r, nonce=n\r\n\r\n");
  });
  unanswerable.Connect();
  EXPECT_EQ(unanswerable.Attempts(), 2);
  unanswerable.Advance(kReconnectAfterBreakMs);
  EXPECT_EQ(unanswerable.Attempts(), 3);
}

TEST(HttpRequestTest, EachStyleWritesItsRequest) {
  const std::string agent = "User-Agent: Ravelon/" RAVELON_VERSION "\r\n";
  const std::string basic = "Authorization: Basic dTpw\r\n";
  using enum RequestStyle;
  const std::tuple<RequestTarget, std::string> cases[] = {
      {{kHttp10, "/v?a=1", "cam", 80, true, ""},
       "GET /v?a=1 HTTP/1.0\r\nHost: cam\r\n" + agent + "Connection: close\r\n\r\n"},
      {{kHttp11, "/v", "10.0.0.1", 8080, false, basic},
       "GET /v HTTP/1.1\r\nHost: 10.0.0.1:8080\r\n" + agent + basic + "\r\n"},
      {{kHttp11, "/", "::1", 81, false, ""},
       "GET / HTTP/1.1\r\nHost: [::1]:81\r\n" + agent + "\r\n"},
      {{kHttp10, "/", "[fe80::1]", 80, false, ""},
       "GET / HTTP/1.0\r\nHost: [fe80::1]\r\n" + agent + "\r\n"},
  };
  for (const auto& [target, request] : cases) EXPECT_EQ(BuildRequest(target), request);
}

// The Basic line's encoding: short groups padded, every byte value, a line break after every 76
// characters but none at the end; decoding gives the bytes back, or nothing for bad input.
TEST(Base64Test, EncodePadsShortGroupsAndBreaksLinesEvery76Characters) {
  std::string all, line;  // every byte value; 76 characters of "x"
  for (int i = 0; i < 256 * 3 + 2; ++i) all += static_cast<char>(i * 7);
  for (int i = 0; i < 19; ++i) line += "eHh4";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"a", "YQ=="},
      {std::string("\xff\x00\x80", 3), "/wCA"},
      {std::string(57, 'x'), line},
      {std::string(58, 'x'), line + "\r\neA=="},
      {std::string(114, 'x'), line + "\r\n" + line}};
  std::string encoded = "stale", decoded;
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(std::pair(Codec_Base64().Encode(bytes, encoded), encoded), std::pair(0, text));
    EXPECT_EQ(std::pair(Codec_Base64().Decode(encoded, decoded), decoded), std::pair(0, bytes));
  }
  Codec_Base64().Encode(all, encoded);
  EXPECT_EQ(std::pair(Codec_Base64().Decode(encoded, decoded), decoded), std::pair(0, all));
  // An error in a later group discards the earlier ones.
  EXPECT_EQ(std::pair(Codec_Base64().Decode("YWJj\r\nYW J", decoded), decoded), std::pair(1, ""s));
}

}  // namespace
}  // namespace ravelon
