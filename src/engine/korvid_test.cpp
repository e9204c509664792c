// The facade: each member reaches its part, the lifecycle as a host sees it,
// and what an engine leaves in the registry store.
#include "ravelon/korvid.h"

#include <gtest/gtest.h>

#include "common/engine_limits.h"
#include "components/in_process_ipc_port.h"
#include "engine/reg_utils.h"
#include "engine/source_settings.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/store_reader.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/recording_host.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;

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
  uint8_t type_ = 0;  // what GetData and GetPartialFrame give
  std::string data_;
};

// Each bounded setter takes the ends of its range and ignores a value beyond either end.
TEST_F(KorvidTest, SettersKeepTheirBounds) {
  // View and save interval, file size limit, preallocation size, file limit type.
  const auto set = [&](int view, int save, int16_t limit, int16_t prealloc, uint8_t type) {
    engine_.SetViewIterval(view);
    engine_.SetSaveIterval(save);
    engine_.SetFileSizeLimit(limit);
    engine_.SetPreAllocationSize(prealloc);
    engine_.SetFileLimitType(type);
    return std::vector<int>{engine_.GetViewInterval(), engine_.GetSaveInterval(),
                            engine_.GetFileSizeLimit(), engine_.GetPreAllocationSize(),
                            engine_.GetFileLimitType()};
  };
  const std::vector lowest{10, 10, 1, 0, 0}, highest{60'000, 60'000, 999, 999, 1};
  EXPECT_EQ(set(10, 10, 1, 0, 0), lowest);
  EXPECT_EQ(set(9, 9, 0, -1, 255), lowest);
  EXPECT_EQ(set(60'000, 60'000, 999, 999, 1), highest);
  EXPECT_EQ(set(60'001, 60'001, 1'000, 1'000, 2), highest);
  EXPECT_EQ(engine_.ForcedSave(), -1);  // saving is off
}

// Single responses are polled at the view interval, or at the save interval when saving wants
// frames more often; each is read afresh, and no full connect comes between (numbers go on).
TEST_F(KorvidTest, SingleResponsesArePolledAtTheShorterOfViewAndSaveInterval) {
  ScriptedServer& camera = platform_->network().Listen("cam", 80);
  camera.OnAccept([&camera](ScriptedConnection& c) {
    c.Send("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\nIMAGE" +
               std::to_string(camera.ConnectAttempts()) + "\r\n",
           milliseconds(1));
    c.Close(milliseconds(2));
  });
  for (const auto& [save, poll_ms] : {std::pair{false, 500}, std::pair{true, 100}}) {
    Korvid engine(platform_);
    engine.SetAddress("cam");
    engine.SetPort(80);
    engine.SetUrl("v");
    engine.DoSave(save);
    engine.SetSaveIterval(100);
    engine.PrepareEngine();
    const int before = camera.ConnectAttempts();
    engine.Connect();
    platform_->AdvanceBy(milliseconds(2 + poll_ms - 1));  // the first response ends at 2 ms
    EXPECT_EQ(camera.ConnectAttempts(), before + 1);
    platform_->AdvanceBy(milliseconds(3));
    EXPECT_EQ(engine.GetData(type_, data_), 2);
    EXPECT_EQ(data_, "IMAGE" + std::to_string(before + 2));
  }
}

TEST_F(KorvidTest, ReleaseSavesTheOpenReceiptAndStopsEverything) {
  engine_.UseFastPreallocation(true);
  StartRecording();
  // The first text joins the connection's placeholder, which has no stamp of
  // this hour: it is complete at once, and so is the next one.
  Send("till opened");
  platform_->AdvanceBy(milliseconds(600));
  EXPECT_EQ(host_.data_ready, 1);
  Send("COFFEE 2.50\n");
  Send("CAKE 3.00\n");  // no cut yet: this receipt stays open
  double date = 0, time = 0;
  EXPECT_TRUE(engine_.GetPartialFrame(type_, data_, date, time));
  EXPECT_EQ(engine_.FramesBuffered(), 2);
  bool free_when_pending_ran = true;
  platform_->Loop().Post([&] { free_when_pending_ran = engine_.IsFree(); });
  EXPECT_FALSE(engine_.IsFree());

  engine_.ReleaseNGN();

  EXPECT_EQ(host_.events.back().text, "Released.");
  EXPECT_TRUE(engine_.IsFree());
  EXPECT_FALSE(free_when_pending_ran);  // queued events ran inside the release
  EXPECT_EQ(engine_.GetData(type_, data_), 0);
  EXPECT_EQ(type_, kDataTypeNone);
  const auto saved = testing::ReadFileSet(platform_->files(), "store/" + engine_.FileName());
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_NE(saved[2].data.find("CAKE"), std::string::npos);
  // The first text went into the unstamped placeholder; it is stored at the
  // moment it came, 600 ms before the next, never at the zero date.
  const auto ms = [](int32_t t) {
    return t / 10'000'000 * 3'600'000 + t / 100'000 % 100 * 60'000 + t % 100'000;
  };
  EXPECT_EQ(saved[0].date, saved[1].date);
  EXPECT_EQ(ms(saved[1].time) - ms(saved[0].time), 600);
  // Fast preallocation gave the new data file its whole 10 MB at once.
  EXPECT_EQ(platform_->files().Contents("store/" + engine_.FileName() + ".bin").size(),
            10 * kMegabyte);
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
  engine_.Connect();  // the socket comes up: the ten-minute rate period starts
  platform_->AdvanceBy(std::chrono::seconds(1));
  engine_.ReleaseNGN();
  platform_->AdvanceBy(std::chrono::seconds(11));  // past the response timeout
  engine_.SetAddress("");
  StartRecording();  // configured through setters only: nothing goes to the registry store
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
  for (const auto& e : host_.events) EXPECT_EQ(e.text.find("PacketFPS"), std::string::npos);
  EXPECT_EQ(camera.ConnectAttempts(), 1);  // the released connection stayed down
  std::vector<std::string> keys;
  RegUtils(platform_->Registry()).RegEnumerateKey("", keys);
  EXPECT_EQ(keys, std::vector<std::string>{""}) << "the registry store was written";
}

// A source kept in the registry store: InitEngineFromReg hands each part its settings. The save
// queue holds 1 MB, so of four 400 KB frames that come before a save two wait and two are lost.
TEST_F(KorvidTest, RegistrySettingsReachEachPart) {
  ScriptedServer& camera = platform_->network().Listen("cam", 8080);
  camera.OnAccept([](ScriptedConnection& c) {
    std::string stream =
        "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=bnd\r\n\r\n";
    for (int i = 0; i < 4; ++i)
      stream += "--bnd\r\nContent-Type: image/jpeg\r\n\r\n" + std::string(400'000, 'J') + "\r\n";
    c.Send(stream + "--bnd", milliseconds(1));
  });
  const std::string root = "Software\\Test\\";
  RegUtils registry(platform_->Registry());
  const std::pair<const char*, const char*> settings[] = {
      {"Address", "cam"},        {"Port", "8080"},         {"Url", "v"},
      {"DBPath", "store/"},      {"DoSave", "1"},          {"SaveInterval", "60000"},
      {"ViewInterval", "60000"}, {"FileLimitValue", "20"}, {"SyncWrites", "0"},
      {"SaveQueueMB", "1"}};
  for (const auto& [name, value] : settings)
    ASSERT_EQ(registry.Registry_Set(SourceKey(root, "cam"), name, value), 0);
  engine_.InitEngineFromReg("cam", root);
  EXPECT_EQ(std::tuple(engine_.GetSaveInterval(), engine_.GetViewInterval(),
                       engine_.GetFileSizeLimit(), engine_.GetSyncWrites()),
            std::tuple(60'000, 60'000, int16_t{20}, false));
  engine_.PrepareEngine();
  engine_.Connect();
  platform_->AdvanceBy(milliseconds(10));
  EXPECT_EQ(engine_.ForcedSave(), 2);
  EXPECT_EQ(host_.events.back().text, "2 frames lost.");
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
