// The stream parser on the simulated platform: bytes from a scripted camera
// through the data-arrival path into frames seen by the host's filter chain.
#include <gtest/gtest.h>

#include <algorithm>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/korvid_test_peer.h"
#include "support/recording_filter_chain.h"
#include "support/recording_host.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::LoggedEvent;
using testing::RecordingFilterChain;
using testing::RecordingHost;

constexpr char kHeader[] =
    "HTTP/1.0 200 OK\r\nServer: cam\r\n"
    "Content-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n";

std::string Part(const std::string& type, const std::string& body, const std::string& eol = "\r\n",
                 const std::string& boundary = "--myboundary") {
  return boundary + eol + "Content-Type: " + type + eol + "Content-Length: 999" + eol + eol + body +
         eol;
}

class StreamTest : public ::testing::Test {
 protected:
  StreamTest()
      : platform_(std::make_shared<SimulatedPlatform>()),
        camera_(platform_->network().Listen("cam", 80)),
        chain_(std::make_shared<RecordingFilterChain>()),
        engine_(platform_),
        peer_(engine_) {
    engine_.SetEventSink(&host_);
    engine_.SetAddress("cam");
    engine_.SetPort(80);
    engine_.SetUrl("/video");
    engine_.SetStreaming(true);
    engine_.setFilterChain(chain_);
  }

  // Connects and delivers each chunk as one arrival, all at once.
  void Stream(const std::vector<std::string>& chunks) {
    engine_.Connect();
    platform_->AdvanceBy(Duration::zero());
    for (const auto& chunk : chunks) camera_.LastConnection()->Send(chunk);
    platform_->AdvanceBy(Duration::zero());
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  ScriptedServer& camera_;
  std::shared_ptr<RecordingFilterChain> chain_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

TEST_F(StreamTest, CrLfStreamBecomesNumberedFrames) {
  Stream({kHeader + Part("image/jpeg", "JPEG1") + Part("text/plain", "hello") +
          Part("image/jpeg", "JPEG2") + "--myboundary\r\n"});
  EXPECT_EQ(chain_->Bodies(), (std::vector<std::string>{"JPEG1", "hello", "JPEG2"}));
  ASSERT_EQ(chain_->seen.size(), 3u);
  EXPECT_EQ(chain_->seen[0].id, 1);
  EXPECT_EQ(chain_->seen[2].id, 3);
  EXPECT_EQ(chain_->seen[1].type, kText);
  uint8_t type = 0;
  std::string data;
  EXPECT_EQ(engine_.GetData(type, data), 3);
  EXPECT_EQ(data, "JPEG2");
  EXPECT_EQ(peer_.Boundary(), "--myboundary");
}

TEST_F(StreamTest, LfStreamsQuotedBoundariesAndLetterCaseParseAlike) {
  const std::string lf_header =
      "HTTP/1.0 200 OK\nContent-type: Multipart/Mixed; BOUNDARY=\"--Frame\"\n\n";
  Stream({lf_header + "preamble\n" + Part("IMAGE/JPEG", "a\r\nb", "\n", "--FRAME") +
          Part("image/jpeg", "c", "\n", "--frame") + "--Frame--\n"});
  EXPECT_EQ(peer_.Boundary(), "--Frame");
  EXPECT_EQ(chain_->Bodies(), (std::vector<std::string>{"a\r\nb", "c"}));
  EXPECT_EQ(chain_->seen[0].type, kJpeg);
}

TEST_F(StreamTest, PartsSplitAtAnyByteGiveTheSameFrames) {
  const std::string stream =
      kHeader + std::string("junk line\r\n") +
      Part("image/jpeg", std::string("\xff\xd8\r\n--myboundar\xff\xd9", 17)) +
      Part("text/plain", "") + Part("image/jpeg", "z") + "--myboundary";
  const std::vector<std::string> expected = {std::string("\xff\xd8\r\n--myboundar\xff\xd9", 17), "",
                                             "z"};
  for (size_t split = 0; split <= stream.size(); ++split) {
    auto platform = std::make_shared<SimulatedPlatform>();
    ScriptedServer& camera = platform->network().Listen("cam", 80);
    auto chain = std::make_shared<RecordingFilterChain>();
    Korvid engine(platform);
    engine.SetAddress("cam");
    engine.SetPort(80);
    engine.SetUrl("v");
    engine.SetStreaming(true);
    engine.setFilterChain(chain);
    engine.Connect();
    platform->AdvanceBy(Duration::zero());
    camera.LastConnection()->Send(stream.substr(0, split));
    camera.LastConnection()->Send(stream.substr(split));
    platform->AdvanceBy(Duration::zero());
    ASSERT_EQ(chain->Bodies(), expected) << "split at " << split;
  }
}

TEST_F(StreamTest, BodyEndsAtTheBoundaryInAnyCaseAndKeepsBytesWithoutLineEnd) {
  Stream({kHeader + Part("image/jpeg", "x\r\n--MYBOUNDARY\r\n\r\ntail") +
          "--myboundary\r\nContent-Type: image/jpeg\r\n\r\nno-line-end--myboundary\r\n"});
  // The first body ends at the boundary in capitals; its "tail" becomes a part
  // without a content type, which makes no frame.
  EXPECT_EQ(chain_->Bodies(), (std::vector<std::string>{"x", "no-line-end"}));
}

TEST_F(StreamTest, EndKindsAreTriedInOrderOverTheWholeBuffer) {
  // A CR LF end anywhere after the part wins over an earlier LF end.
  Stream({kHeader + std::string("--myboundary\r\nContent-Type: text/plain\r\n\r\nA\n--myboundary"
                                "\r\n\r\nB\r\n--myboundary\n")});
  EXPECT_EQ(chain_->Bodies(), std::vector<std::string>{"A\n--myboundary\r\n\r\nB"});
}

TEST_F(StreamTest, StreamsWithoutCrLfBeforeBoundariesFindEveryPartOnce) {
  // Many parts per arrival, none ended by CR LF: every part is found once,
  // whatever the remembered stretches let the search skip.
  std::string lf_parts, bare_parts;
  for (int i = 0; i < 300; ++i) {
    lf_parts += "--myboundary\ncontent-type: text/plain\n\n" + std::to_string(i) + "\n";
    bare_parts += "--myboundary\r\ncontent-type: text/plain\r\n\r\n" + std::to_string(i);
  }
  Stream({kHeader + lf_parts + bare_parts + "--myboundary"});
  ASSERT_EQ(chain_->seen.size(), 600u);
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(chain_->seen[i].data, std::to_string(i));
    EXPECT_EQ(chain_->seen[300 + i].data, std::to_string(i));
  }
}

TEST_F(StreamTest, HeaderFieldsUseTheFirstContentTypeTakenWhole) {
  Stream({kHeader +
          std::string("--myboundary\r\nContent-Type: text/plain\r\ncontent-type: image/jpeg\r\n\r\n"
                      "first\r\n") +
          Part("image/jpeg; q=1", "ignored") + Part("audio/basic", "ignored") +
          Part("text/plaintext", "t") + Part("text/x-vesper-event", "ev") + "--myboundary"});
  ASSERT_EQ(chain_->seen.size(), 3u);
  EXPECT_EQ(chain_->seen[0].type, kText);
  EXPECT_EQ(chain_->seen[1].type, kText);
  EXPECT_EQ(chain_->seen[2].type, kEvent);
  EXPECT_EQ(chain_->seen[2].id, 3);  // parts without a frame use no number
}

TEST_F(StreamTest, KeepAlivePartsHoldOffThePartTimeoutAStallTriggersIt) {
  engine_.DoSave(true);
  engine_.SetFileSizeLimit(10);
  engine_.PrepareEngine();
  Stream({kHeader});
  auto& connection = *camera_.LastConnection();
  for (int i = 0; i < 12; ++i) {
    connection.Send(Part("text/keepalive", ""));
    platform_->AdvanceBy(seconds(10));
  }
  EXPECT_TRUE(chain_->seen.empty());
  EXPECT_EQ(camera_.ConnectAttempts(), 1);

  connection.Send(Part("image/jpeg", "last") + "--myboundary\r\n");
  platform_->AdvanceBy(milliseconds(14'999));
  EXPECT_EQ(camera_.ConnectAttempts(), 1);
  host_.events.clear();
  platform_->AdvanceBy(milliseconds(1));
  ASSERT_GE(host_.events.size(), 2u);
  EXPECT_EQ(host_.events.front(), (LoggedEvent{5, "Process part timeout."}));
  EXPECT_NE(std::find(host_.events.begin(), host_.events.end(),
                      LoggedEvent{2, "Connecting to the source."}),
            host_.events.end());
  // The frame of the stalled stream was flushed to the store first.
  const auto saved = testing::ReadFileSet(platform_->files(), engine_.FileName());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].data, "last");
  EXPECT_EQ(camera_.ConnectAttempts(), 2);
}

TEST_F(StreamTest, UnusableBoundaryEndsInHeaderTimeout) {
  Stream({"HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=x\r\n\r\n" +
          Part("image/jpeg", "a", "\r\n", "--x")});
  EXPECT_EQ(peer_.ConnectionState(), kReadingHeader);
  platform_->AdvanceBy(seconds(10));
  EXPECT_EQ(host_.events[host_.events.size() - 3], (LoggedEvent{5, "Process header timeout."}));
  EXPECT_TRUE(chain_->seen.empty());
}

TEST_F(StreamTest, FrameThatCannotBeHandledReconnectsAndDropsTheRestOfTheArrival) {
  Stream({kHeader + Part("image/jpeg", "one") + Part("text/x-vesper-event-list", "bad list") +
          Part("image/jpeg", "two") + Part("image/jpeg", "three") + "--myboundary"});
  EXPECT_EQ(chain_->Bodies(), std::vector<std::string>{"one"});
  int failures = 0;
  for (const auto& e : host_.events) {
    failures += e == LoggedEvent{10, "Handling of a new frame failed... Reconnecting"};
  }
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(camera_.ConnectAttempts(), 2);
  EXPECT_EQ(peer_.InputLength(), 0);
}

TEST_F(StreamTest, ArrivalDuringAHostEventOnlyAppendsAndTheOuterParseFinishes) {
  Stream({kHeader + Part("image/jpeg", "1")});
  auto& connection = *camera_.LastConnection();
  std::vector<uint8_t> flags_seen;
  chain_->on_process = [&](MediaFrame&) {
    // The host lets its loop run while it handles the frame: the next bytes
    // arrive inside this call.
    platform_->loop().ProcessPendingEventsOnce();
    flags_seen.push_back(peer_.InDataArrival());
  };
  connection.Send(Part("image/jpeg", "2"));
  connection.Send(Part("image/jpeg", "3") + "--myboundary");
  platform_->AdvanceBy(Duration::zero());
  EXPECT_EQ(chain_->Bodies(), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(flags_seen.front(), 3);  // the nested arrival asked for one more round
  EXPECT_EQ(peer_.InDataArrival(), 0);
}

TEST_F(StreamTest, SingleResponseIsTakenAtCloseAndPolledAgain) {
  engine_.SetStreaming(false);
  engine_.SetViewIterval(500);
  engine_.PrepareEngine();
  camera_.OnAccept([](ScriptedConnection& c) {
    c.Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
    c.Send("IMAGE\r\n", milliseconds(1));
    c.Close(milliseconds(2));
  });
  engine_.Connect();
  platform_->AdvanceBy(milliseconds(2));
  EXPECT_EQ(chain_->Bodies(), std::vector<std::string>{"IMAGE"});
  EXPECT_EQ(peer_.ConnectionState(), kPollWait);
  platform_->AdvanceBy(milliseconds(499));
  EXPECT_EQ(camera_.ConnectAttempts(), 1);
  platform_->AdvanceBy(milliseconds(1 + 2));
  EXPECT_EQ(camera_.ConnectAttempts(), 2);
  ASSERT_EQ(chain_->seen.size(), 2u);
  EXPECT_EQ(chain_->seen[1].id, 2);  // numbers go on across requests
  EXPECT_EQ(camera_.LastConnection()->Received(), "GET /video\r\n\r\n");
}

// The input buffer's growth, reduction and hard limit, seen through arrivals
// that only accumulate (a single response is parsed only at the close).
class InputBufferTest : public StreamTest {
 protected:
  InputBufferTest() {
    engine_.SetStreaming(false);
    engine_.Connect();
    platform_->AdvanceBy(Duration::zero());
    host_.events.clear();
  }
  void Arrive(size_t bytes) {
    camera_.LastConnection()->Send(std::string(bytes, 'b'));
    platform_->AdvanceBy(Duration::zero());
  }
  int32_t Capacity() const { return static_cast<int32_t>(peer_.InputBuffer().size()); }
};

TEST_F(InputBufferTest, GrowsByHalfAgainUpToTheLimitAndClearsBeyondIt) {
  Arrive(9'000);
  EXPECT_TRUE(host_.events.empty());
  Arrive(2'000);
  EXPECT_EQ(host_.events.back(), (LoggedEvent{5, "Preallocating input buffer: 16500 bytes."}));
  EXPECT_EQ(peer_.InputLength(), 11'000);

  Arrive(7'000'000 - 11'000);
  Arrive(2'000'000);
  EXPECT_EQ(Capacity(), 10'000'000);
  Arrive(999'000);
  EXPECT_EQ(peer_.InputLength(), 9'999'000);
  Arrive(2'000);
  EXPECT_EQ(host_.events.back(), (LoggedEvent{10, "Input buffer exceeds limit. Buffer cleared."}));
  EXPECT_EQ(peer_.InputLength(), 2'000);
  Arrive(10'000'001);
  EXPECT_EQ(peer_.InputLength(), 0);
}

TEST_F(InputBufferTest, ReducesByAQuarterAfterFiveHundredQuietPartsNeverBelowTenThousand) {
  Arrive(26'000);     // capacity 39,000
  engine_.Connect();  // empties the data, keeps the capacity
  platform_->AdvanceBy(Duration::zero());
  EXPECT_EQ(Capacity(), 39'000);
  peer_.SetIdleParts(500);
  Arrive(100);
  EXPECT_EQ(host_.events.back(), (LoggedEvent{5, "Reducing input buffer: 29250 bytes."}));
  EXPECT_EQ(peer_.IdleParts(), 0);
  EXPECT_EQ(peer_.InputLength(), 100);  // the data survives the cut

  // An arrival that leaves the buffer more than 70% full is not quiet.
  peer_.SetIdleParts(500);
  Arrive(25'000);
  EXPECT_EQ(peer_.IdleParts(), 0);
  EXPECT_EQ(Capacity(), 29'250);

  // Each quiet spell cuts a quarter, until the next cut would go below 10,000.
  for (int32_t expected : {21'937, 16'452, 12'339, 12'339}) {
    engine_.Connect();
    platform_->AdvanceBy(Duration::zero());
    peer_.SetIdleParts(500);
    Arrive(1);
    EXPECT_EQ(Capacity(), expected);
    EXPECT_EQ(host_.events.back().text,
              "Reducing input buffer: " + std::to_string(expected) + " bytes.");
  }
}

}  // namespace
}  // namespace ravelon
