#include "ravelon/korvid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "components/in_process_ipc_port.h"
#include "components/object_list.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/korvid_test_peer.h"
#include "support/recording_host.h"

namespace ravelon {
namespace {

using testing::LoggedEvent;
using testing::RecordingHost;

class KorvidTest : public ::testing::Test {
 protected:
  KorvidTest()
      : platform_(std::make_shared<SimulatedPlatform>()), engine_(platform_), peer_(engine_) {
    engine_.SetEventSink(&host_);
  }

  std::shared_ptr<MediaFrame> Frame(uint8_t type, const std::string& data, int32_t id) {
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(type, data);
    frame->setFrameId(id);
    return frame;
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

TEST_F(KorvidTest, NewEngineStartsFreeIdleAndEmpty) {
  EXPECT_TRUE(engine_.IsFree());
  EXPECT_EQ(engine_.GetStreaming(), "False");
  EXPECT_EQ(engine_.GetViewInterval(), 500);
  EXPECT_EQ(peer_.TimeoutTimer().Interval(), 1000);
  EXPECT_EQ(peer_.ConnectionState(), kIdle);
  EXPECT_EQ(peer_.Socket().State(), TcpSocket::kClosed);
  EXPECT_EQ(peer_.InputBuffer(), std::string(10'000, ' '));
  EXPECT_EQ(peer_.InputLength(), 0);
  EXPECT_EQ(peer_.BinHandle(), -1);
  EXPECT_EQ(peer_.IdxHandle(), -1);
  EXPECT_EQ(peer_.Id2Handle(), -1);

  // The consumer members give empty answers while there is no frame.
  uint8_t type = 99;
  std::string data = "stale";
  EXPECT_EQ(engine_.GetData(type, data), 0);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(data, "");
  double date = 1, time = 2;
  EXPECT_FALSE(engine_.GetPartialFrame(type, data, date, time));
  EXPECT_EQ(engine_.GetMotionPerc(), 0);
  EXPECT_EQ(engine_.FramesBuffered(), 0);
  EXPECT_EQ(engine_.GetBufferedFrameCount(), 0);
  EXPECT_EQ(engine_.ForcedSave(), -1);  // saving is off

  int32_t start_date = 1, start_time = 1, start_frame = 1, end_date = 1, end_time = 1,
          end_frame = 1, size = 1;
  std::string name = "x";
  engine_.GetCurrentID2Data(start_date, start_time, start_frame, end_date, end_time, end_frame,
                            name, size);
  EXPECT_EQ(std::vector<int32_t>(
                {start_date, start_time, start_frame, end_date, end_time, end_frame, size}),
            std::vector<int32_t>(7, 0));
  EXPECT_EQ(name, "");
  EXPECT_TRUE(host_.events.empty());
}

TEST_F(KorvidTest, RangeSettersIgnoreValuesOutOfBoundsAndKeepTheOldOne) {
  engine_.SetViewIterval(9);
  engine_.SetViewIterval(60001);
  EXPECT_EQ(engine_.GetViewInterval(), 500);
  engine_.SetViewIterval(10);
  EXPECT_EQ(engine_.GetViewInterval(), 10);
  EXPECT_EQ(peer_.Viewer().Interval(), 10);
  engine_.SetViewIterval(60000);
  EXPECT_EQ(engine_.GetViewInterval(), 60000);

  engine_.SetSaveIterval(10);
  engine_.SetSaveIterval(60001);
  engine_.SetSaveIterval(9);
  EXPECT_EQ(engine_.GetSaveInterval(), 10);
  engine_.SetSaveIterval(60000);
  EXPECT_EQ(engine_.GetSaveInterval(), 60000);

  engine_.SetFileSizeLimit(1);
  engine_.SetFileSizeLimit(0);
  engine_.SetFileSizeLimit(1000);
  EXPECT_EQ(engine_.GetFileSizeLimit(), 1);
  engine_.SetFileSizeLimit(999);
  EXPECT_EQ(engine_.GetFileSizeLimit(), 999);

  engine_.SetPreAllocationSize(5);
  engine_.SetPreAllocationSize(-1);
  engine_.SetPreAllocationSize(1000);
  EXPECT_EQ(engine_.GetPreAllocationSize(), 5);
  engine_.SetPreAllocationSize(0);
  EXPECT_EQ(engine_.GetPreAllocationSize(), 0);

  engine_.SetFileLimitType(1);
  engine_.SetFileLimitType(2);
  EXPECT_EQ(engine_.GetFileLimitType(), 1);
  engine_.SetFileLimitType(0);
  EXPECT_EQ(engine_.GetFileLimitType(), 0);

  // Setters without bounds take anything and change nothing else.
  engine_.SetPort(-5);
  engine_.SetSrcID(-32768);
  engine_.SetAddress("");
  engine_.SetUrl("");
  engine_.SetStreaming(true);
  engine_.DBPath("/var/lib/ravelon/");
  engine_.SourceName("till 3");
  engine_.SetRecycleFile("old");
  EXPECT_EQ(engine_.GetPort(), -5);
  EXPECT_EQ(engine_.GetSrcID(), -32768);
  EXPECT_EQ(engine_.GetAddress(), "");
  EXPECT_EQ(engine_.GetUrl(), "");
  EXPECT_EQ(engine_.GetStreaming(), "True");
  EXPECT_EQ(engine_.DBPath(), "/var/lib/ravelon/");
  EXPECT_EQ(engine_.SourceName(), "till 3");
  EXPECT_EQ(engine_.GetRecycleFile(), "old");
  EXPECT_FALSE(peer_.Viewer().Enabled());
  EXPECT_EQ(peer_.ConnectionState(), kIdle);
  EXPECT_TRUE(host_.events.empty());
}

TEST_F(KorvidTest, PrepareThenReleaseTogglesFreeAndStopsEverything) {
  engine_.SetViewIterval(200);
  engine_.PrepareEngine();
  EXPECT_FALSE(engine_.IsFree());
  EXPECT_TRUE(peer_.Viewer().Enabled());
  EXPECT_EQ(peer_.PollInterval(), 200);
  EXPECT_EQ(peer_.FrameCounter(), -1);

  peer_.TimeoutTimer().SetInterval(5000);
  peer_.TimeoutTimer().SetEnabled(true);
  bool free_when_pending_ran = true;
  platform_->Loop().Post([&] { free_when_pending_ran = engine_.IsFree(); });

  host_.events.clear();
  engine_.ReleaseNGN();

  EXPECT_EQ(host_.events, (std::vector<LoggedEvent>{{3, "Released."}}));
  EXPECT_TRUE(engine_.IsFree());
  EXPECT_FALSE(peer_.TimeoutTimer().Enabled());
  EXPECT_FALSE(peer_.Viewer().Enabled());
  EXPECT_EQ(peer_.Socket().State(), TcpSocket::kClosed);
  EXPECT_EQ(peer_.ConnectionState(), kIdle);
  // Queued events got their one chance inside the release, while the engine
  // was not yet free.
  EXPECT_EQ(platform_->loop().ReadyCount(), 0u);
  EXPECT_FALSE(free_when_pending_ran);

  // Released engines tick no more, however long the host waits.
  platform_->AdvanceBy(std::chrono::minutes(5));
  EXPECT_EQ(host_.events.size(), 1u);
}

TEST_F(KorvidTest, ReleaseOfANeverConnectedEngineStillReportsAndCloses) {
  engine_.ReleaseNGN();
  EXPECT_EQ(host_.events, (std::vector<LoggedEvent>{{3, "Released."}}));
  EXPECT_TRUE(engine_.IsFree());
  EXPECT_FALSE(peer_.TimeoutTimer().Enabled());
  EXPECT_FALSE(peer_.Viewer().Enabled());
  EXPECT_EQ(peer_.Socket().State(), TcpSocket::kClosed);
}

TEST_F(KorvidTest, ReleaseFinishesAndQueuesTheCurrentFrameWhenSaving) {
  engine_.DoSave(true);
  auto frame = Frame(kText, "till open", 7);
  frame->addFlags(kOpen);
  peer_.CurrentFrame() = frame;

  engine_.ReleaseNGN();

  EXPECT_TRUE(frame->hasFlag(kComplete));
  EXPECT_TRUE(frame->hasFlag(kQueued));
  EXPECT_EQ(peer_.CurrentFrame(), nullptr);
}

TEST_F(KorvidTest, PollIntervalFollowsSaveIntervalOnlyWhenSaving) {
  engine_.SetSaveIterval(100);
  engine_.PrepareEngine();
  EXPECT_EQ(peer_.PollInterval(), 500);

  engine_.DoSave(true);
  engine_.PrepareEngine();
  EXPECT_EQ(peer_.PollInterval(), 100);
}

TEST_F(KorvidTest, QueueKeepsAtMostThreeHundredFramesAndChoosesByType) {
  engine_.DoSave(true);
  for (int i = 1; i <= 300; ++i) peer_.QueueFrameForSaving(Frame(kJpeg, "img", i));
  EXPECT_EQ(engine_.FramesBuffered(), 300);

  // Newest image against a new image: the new one replaces it.
  peer_.QueueFrameForSaving(Frame(kJpeg, "img", 301));
  EXPECT_EQ(engine_.FramesBuffered(), 300);
  EXPECT_EQ(peer_.SaveQueue().TakeLast()->getFrameId(), 301);

  // An event list is never pushed out by an image.
  peer_.QueueFrameForSaving(Frame(kEventList, "events", 302));
  auto image = Frame(kJpeg, "img", 303);
  peer_.QueueFrameForSaving(image);
  EXPECT_TRUE(image->hasFlag(kQueued));  // offered, though dropped
  EXPECT_EQ(peer_.SaveQueue().TakeLast()->getFrameId(), 302);

  // Two texts are joined into a new frame numbered like the newer one.
  auto first_text = Frame(kText, "abc", 304);
  peer_.QueueFrameForSaving(first_text);
  peer_.QueueFrameForSaving(Frame(kText, "def", 305));
  auto joined = peer_.SaveQueue().TakeLast();
  EXPECT_EQ(joined->getDataBlock().Text(), "abcdef");
  EXPECT_EQ(joined->getFrameId(), 305);
  EXPECT_EQ(first_text->getDataBlock().Text(), "abc");

  // Text beats an image; a text beats a queued image the other way round too.
  peer_.QueueFrameForSaving(Frame(kText, "t", 306));
  peer_.QueueFrameForSaving(Frame(kJpeg, "img", 307));
  EXPECT_EQ(peer_.SaveQueue().TakeLast()->getFrameId(), 306);
  peer_.QueueFrameForSaving(Frame(kJpeg, "img", 308));
  peer_.QueueFrameForSaving(Frame(kText, "t", 309));
  EXPECT_EQ(peer_.SaveQueue().TakeLast()->getFrameId(), 309);
}

TEST_F(KorvidTest, QueueRefusesWhenSavingIsOffSuspendedOrMarkedNotToStore) {
  auto off = Frame(kJpeg, "img", 1);
  peer_.QueueFrameForSaving(off);
  EXPECT_FALSE(off->hasFlag(kQueued));

  engine_.DoSave(true);
  for (uint8_t action : {kScheduleNoStoring, kScheduleDisconnected}) {
    peer_.SetScheduleAction(action);
    peer_.QueueFrameForSaving(Frame(kJpeg, "img", 2));
  }
  peer_.SetScheduleAction(kScheduleNormal);
  auto marked = Frame(kJpeg, "img", 3);
  marked->setMark(1);
  peer_.QueueFrameForSaving(marked);
  EXPECT_EQ(engine_.FramesBuffered(), 0);

  marked->setMark(2);  // mark 2 overrides mark 1
  peer_.QueueFrameForSaving(marked);
  EXPECT_EQ(engine_.FramesBuffered(), 1);
}

TEST(KorvidLifetimeTest, DestructionReleasesTheFilterChainAndClosesThePort) {
  auto platform = std::make_shared<SimulatedPlatform>();
  auto chain = std::make_shared<PassThroughFilterChain>();
  auto other = std::make_shared<InProcessIpcPort>(platform->Loop());
  std::shared_ptr<IpcPort> other_port = other;
  {
    Korvid engine(platform);
    engine.setFilterChain(chain);
    EXPECT_EQ(engine.ipcConnect(other_port), 0);
  }
  EXPECT_EQ(chain->ReleaseCount(), 1);
  // The engine's end of the link is gone: nothing can be sent to it.
  EXPECT_FALSE(other->send(MemoryChunk(std::string("late"))));
}

}  // namespace
}  // namespace ravelon
