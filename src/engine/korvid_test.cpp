// The facade: each member reaches its part, the lifecycle as a host sees it,
// and what an engine leaves in the registry store.
#include "ravelon/korvid.h"

#include <gtest/gtest.h>

#include <functional>

#include "common/engine_limits.h"
#include "components/in_process_ipc_port.h"
#include "engine/reg_utils.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/store_reader.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/recording_host.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

using testing::LoggedEvent;

class KorvidTest : public ::testing::Test {
 protected:
  KorvidTest() { engine_.SetEventSink(&host_); }

  // A virtual source (no address) recording what its port brings.
  void StartRecording() {
    engine_.DBPath("store/");
    engine_.DoSave(true);
    engine_.SetFileSizeLimit(10);
    engine_.PrepareEngine();
    engine_.Connect();
    std::shared_ptr<IpcPort> port = till_;
    ASSERT_EQ(engine_.ipcConnect(port), 0);
  }
  void Send(const std::string& text) {
    ASSERT_TRUE(till_->send(MemoryChunk(text)));
    platform_->AdvanceBy(Duration::zero());
  }

  std::shared_ptr<SimulatedPlatform> platform_ = std::make_shared<SimulatedPlatform>();
  std::shared_ptr<InProcessIpcPort> till_ = std::make_shared<InProcessIpcPort>(platform_->Loop());
  testing::RecordingHost host_;
  Korvid engine_{platform_};
};

TEST_F(KorvidTest, SettersKeepTheirBounds) {
  struct Case {
    std::function<void(Korvid&, int)> set;
    std::function<int(Korvid&)> get;
    int initial, low, high;  // the accepted range; one beyond either end is ignored
  };
  const Case cases[] = {
      {[](Korvid& k, int v) { k.SetViewIterval(v); }, [](Korvid& k) { return k.GetViewInterval(); },
       kDefaultViewIntervalMs, kMinIntervalMs, kMaxIntervalMs},
      {[](Korvid& k, int v) { k.SetSaveIterval(v); }, [](Korvid& k) { return k.GetSaveInterval(); },
       0, kMinIntervalMs, kMaxIntervalMs},
      {[](Korvid& k, int v) { k.SetFileSizeLimit(static_cast<int16_t>(v)); },
       [](Korvid& k) { return static_cast<int>(k.GetFileSizeLimit()); }, 0, 1, kMaxLimitSetting},
      {[](Korvid& k, int v) { k.SetPreAllocationSize(static_cast<int16_t>(v)); },
       [](Korvid& k) { return static_cast<int>(k.GetPreAllocationSize()); }, 0, 0,
       kMaxLimitSetting},
      {[](Korvid& k, int v) { k.SetFileLimitType(static_cast<uint8_t>(v)); },
       [](Korvid& k) { return static_cast<int>(k.GetFileLimitType()); }, 0, 0, 1},
  };
  for (const Case& c : cases) {
    Korvid engine(platform_);
    EXPECT_EQ(c.get(engine), c.initial);
    for (const int v : {c.low, c.high}) {
      c.set(engine, v);
      EXPECT_EQ(c.get(engine), v);
    }
    c.set(engine, c.low - 1);
    c.set(engine, c.high + 1);
    EXPECT_EQ(c.get(engine), c.high);
  }
  // Unbounded setters take anything.
  engine_.SetPort(-5);
  engine_.SetSrcID(-32768);
  engine_.SetStreaming(true);
  engine_.SetUrl("video");
  engine_.SetRecycleFile("old");
  EXPECT_EQ(engine_.GetPort(), -5);
  EXPECT_EQ(engine_.GetSrcID(), -32768);
  EXPECT_EQ(engine_.GetStreaming(), "True");
  EXPECT_EQ(engine_.GetUrl(), "video");
  EXPECT_EQ(engine_.GetRecycleFile(), "old");
  EXPECT_EQ(engine_.ForcedSave(), -1);  // saving is off
  EXPECT_TRUE(host_.events.empty());
}

TEST_F(KorvidTest, ReleaseSavesTheOpenReceiptAndStopsEverything) {
  StartRecording();
  EXPECT_FALSE(engine_.IsFree());
  // The first text joins the connection's placeholder, which has no stamp of
  // this hour: it is complete at once, and so is the next one.
  Send("till opened");
  platform_->AdvanceBy(std::chrono::milliseconds(600));
  EXPECT_EQ(host_.data_ready, 1);
  Send("COFFEE 2.50\n");
  Send("CAKE 3.00\n");  // no cut yet: this receipt stays open
  uint8_t type = 0;
  std::string data;
  double date = 0, time = 0;
  EXPECT_TRUE(engine_.GetPartialFrame(type, data, date, time));
  EXPECT_EQ(type, kEventList);
  EXPECT_EQ(engine_.FramesBuffered(), 2);
  bool free_when_pending_ran = true;
  platform_->Loop().Post([&] { free_when_pending_ran = engine_.IsFree(); });
  host_.events.clear();

  engine_.ReleaseNGN();

  EXPECT_EQ(host_.events.back(), (LoggedEvent{kDebugLifecycle, "Released."}));
  EXPECT_TRUE(engine_.IsFree());
  EXPECT_FALSE(free_when_pending_ran);  // queued events ran inside the release
  EXPECT_EQ(engine_.GetData(type, data), 0);
  EXPECT_EQ(type, kDataTypeNone);
  const auto saved = testing::ReadFileSet(platform_->files(), "store/" + engine_.FileName());
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_EQ(saved[2].data_type, kEventList);
  EXPECT_NE(saved[2].data.find("CAKE"), std::string::npos);
  // A released engine ticks no more, however long the host waits.
  const size_t logged = host_.events.size();
  platform_->AdvanceBy(std::chrono::minutes(5));
  EXPECT_EQ(host_.events.size(), logged);
  EXPECT_EQ(host_.data_ready, 1);
}

TEST_F(KorvidTest, EachConnectionBeginsASegmentAndAReleaseEndsTheRatePeriod) {
  ScriptedServer& camera = platform_->network().Listen("cam", 80);
  engine_.SetAddress("cam");
  engine_.SetPort(80);
  engine_.SetStreaming(true);
  engine_.SetUrl("v");
  engine_.SetCredentials("u", "p");
  engine_.Connect();  // the socket comes up: the ten-minute rate period starts
  platform_->AdvanceBy(std::chrono::seconds(1));
  ASSERT_NE(camera.LastConnection(), nullptr);
  EXPECT_EQ(camera.LastConnection()->Received(), "GET /v\r\nAuthorization: Basic dTpw\r\n\r\n");
  engine_.ReleaseNGN();
  platform_->AdvanceBy(std::chrono::seconds(11));  // past the response timeout
  engine_.SetAddress("");
  StartRecording();
  for (const char* text : {"one", "two"}) {
    Send(text);  // complete at once: the placeholder holds no stamp of this hour
    EXPECT_EQ(engine_.ForcedSave(), 1);
    engine_.Connect();
  }
  std::vector<SegmentInfo> segments;
  std::string error;
  ASSERT_TRUE(
      StoreReader(platform_->files(), "store/").ReadSegments(engine_.FileName(), segments, error));
  EXPECT_EQ(segments.size(), 2u);
  platform_->AdvanceBy(std::chrono::minutes(11));
  Send("three");  // a frame after the period would have run out
  platform_->AdvanceBy(std::chrono::seconds(1));
  for (const LoggedEvent& e : host_.events) EXPECT_EQ(e.text.find("PacketFPS"), std::string::npos);
  EXPECT_EQ(camera.ConnectAttempts(), 1);  // the released connection stayed down
}

TEST_F(KorvidTest, OnlyAnEngineConfiguredFromItsKeyWritesTheFileSetBack) {
  RegUtils registry(platform_->Registry());
  StartRecording();  // configured through setters only
  std::vector<std::string> keys;
  registry.RegEnumerateKey("", keys);
  EXPECT_EQ(keys, std::vector<std::string>{""}) << "the registry store was written";

  Korvid configured(platform_);
  configured.InitEngineFromReg("cam", "Software\\");
  configured.PrepareEngine();
  EXPECT_EQ(registry.Registry_Get("Software\\Src\\cam\\", "File", ""), configured.FileName());
  EXPECT_EQ(registry.Registry_Get("Software\\Src\\cam\\", "FileTime", "").size(), 16u);
}

TEST_F(KorvidTest, DestructionReleasesTheFilterChainAndClosesThePort) {
  auto chain = std::make_shared<PassThroughFilterChain>();
  {
    Korvid engine(platform_);
    engine.setFilterChain(chain);
    std::shared_ptr<IpcPort> port = till_;
    EXPECT_EQ(engine.ipcConnect(port), 0);
  }
  EXPECT_EQ(chain->ReleaseCount(), 1);
  EXPECT_FALSE(till_->send(MemoryChunk(std::string("late"))));  // the engine's end is gone
}

}  // namespace
}  // namespace ravelon
