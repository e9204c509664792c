// New-frame handling: numbering, stamps, events merged into lists until a
// printer cut, event lists re-timed, the filter chain's verdicts.
#include <gtest/gtest.h>

#include "events/vesper_event_list.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/korvid_test_peer.h"
#include "support/recording_filter_chain.h"
#include "support/recording_host.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using testing::LoggedEvent;
using testing::RecordingFilterChain;
using testing::RecordingHost;

constexpr double kDay = 46'000;

class NewFrameTest : public ::testing::Test {
 protected:
  NewFrameTest()
      : platform_(std::make_shared<SimulatedPlatform>()), engine_(platform_), peer_(engine_) {
    engine_.SetEventSink(&host_);
    platform_->clock().SetLocalDateTime(kDay, 12 * 3600);
  }

  std::shared_ptr<MediaFrame> Handle(uint8_t type, const std::string& data, bool expect = true) {
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(type, data);
    EXPECT_EQ(peer_.HandleNewFrame(frame), expect);
    return frame;
  }

  static std::string EventList(const std::vector<std::tuple<double, double, std::string>>& events) {
    VesperEventList list;
    for (const auto& [date, time, text] : events) {
      VesperEvent event;
      event.SetData(date, time, text);
      list.AddEventObject(event);
    }
    return list.toString();
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

TEST_F(NewFrameTest, NumbersWrapAndStampsStayStrictlyIncreasing) {
  peer_.SetFrameCounter(999'999'998);
  auto a = Handle(kJpeg, "a");
  auto b = Handle(kJpeg, "b");  // same millisecond
  EXPECT_EQ(a->getFrameId(), 999'999'999);
  EXPECT_EQ(b->getFrameId(), 1);
  EXPECT_EQ(a->getDate(), kDay);
  EXPECT_DOUBLE_EQ(a->getTime(), 12 * 3600);
  EXPECT_DOUBLE_EQ(b->getTime(), 12 * 3600 + 0.002);

  platform_->clock().SetLocalDateTime(kDay, 11 * 3600);  // set back an hour
  auto c = Handle(kText, "c");
  EXPECT_EQ(c->getDate(), kDay);
  EXPECT_DOUBLE_EQ(c->getTime(), 12 * 3600 + 0.004);

  platform_->clock().SetLocalDateTime(kDay, 86'399.999);
  Handle(kJpeg, "d");
  platform_->clock().SetLocalDateTime(kDay, 86'000);
  auto e = Handle(kJpeg, "e");
  EXPECT_EQ(e->getDate(), kDay + 1);
  EXPECT_NEAR(e->getTime(), 0.001, 1e-6);
  EXPECT_TRUE(e->hasFlag(kComplete));
  EXPECT_FALSE(e->getFixedStamp());
}

TEST_F(NewFrameTest, EventsJoinOneListUntilAPrinterCut) {
  engine_.DoSave(true);
  Handle(kEvent, "line 1\n");
  uint8_t type = 0;
  std::string data;
  double date = 0, time = 0;
  ASSERT_TRUE(engine_.GetPartialFrame(type, data, date, time));
  EXPECT_EQ(type, kEventList);
  EXPECT_EQ(data.size(), 4u + 16 + 7);  // one record: length, date, time, text
  platform_->AdvanceBy(milliseconds(5));
  Handle(kEvent, "line 2\n");
  platform_->AdvanceBy(milliseconds(5));
  auto third = Handle(kEvent, "total\x1dV");
  EXPECT_FALSE(engine_.GetPartialFrame(type, data, date, time));

  EXPECT_EQ(engine_.GetData(type, data), third->getFrameId());
  VesperEventList list;
  ASSERT_TRUE(list.fromString(data));
  ASSERT_EQ(list.GetEventCount(), 3);
  EXPECT_EQ(list.GetEvent(3)->getText(), "total\x1dV");
  EXPECT_LT(list.GetEvent(1)->getTime(), list.GetEvent(3)->getTime());
  EXPECT_EQ(engine_.FramesBuffered(), 1);

  // ESC "i" cuts too, and a new receipt starts a new list.
  Handle(kEvent, "next");
  EXPECT_TRUE(engine_.GetPartialFrame(type, data, date, time));
  Handle(kEvent, "\x1bi");
  EXPECT_FALSE(engine_.GetPartialFrame(type, data, date, time));
  EXPECT_EQ(engine_.FramesBuffered(), 2);
}

TEST_F(NewFrameTest, EventAfterAConnectJoinsThePlaceholder) {
  engine_.Connect();  // virtual mode: the current frame is the placeholder
  auto event = Handle(kEvent, "till open");
  uint8_t type = 0;
  std::string data;
  EXPECT_EQ(engine_.GetData(type, data), event->getFrameId());
  EXPECT_EQ(type, kPlaceholder);
  EXPECT_EQ(data.size(), 4u + 16 + 9);
}

TEST_F(NewFrameTest, EventListsMoveOntoTheEngineClockAcrossMidnight) {
  platform_->clock().SetLocalDateTime(kDay, 1.5);
  // The source's clock is days off; its two events lie 3 s apart.
  auto frame = Handle(kEventList, EventList({{kDay - 9, 100, "a"}, {kDay - 9, 103, "b"}}));
  EXPECT_TRUE(frame->getFixedStamp());
  EXPECT_TRUE(frame->hasFlag(kComplete));
  VesperEventList list;
  ASSERT_TRUE(list.fromString(frame->getDataBlock().Text()));
  ASSERT_EQ(list.GetEventCount(), 2);
  EXPECT_EQ(list.GetEvent(2)->getDate(), kDay);
  EXPECT_DOUBLE_EQ(list.GetEvent(2)->getTime(), 1.5);
  EXPECT_EQ(list.GetEvent(1)->getDate(), kDay - 1);
  EXPECT_DOUBLE_EQ(list.GetEvent(1)->getTime(), 86'398.5);
  EXPECT_EQ(frame->getDate(), kDay - 1);  // the frame starts with its first event
  EXPECT_DOUBLE_EQ(frame->getTime(), 86'398.5);

  // Events the source stamped out of order leave in order, 2 ms apart.
  auto swapped = Handle(kEventList, EventList({{kDay, 50, "late"}, {kDay, 40, "early"}}));
  ASSERT_TRUE(list.fromString(swapped->getDataBlock().Text()));
  EXPECT_NEAR(list.GetEvent(2)->getTime() - list.GetEvent(1)->getTime(), 0.002, 1e-9);
}

TEST_F(NewFrameTest, UnreadableEventListIsRejectedAndBecomesCurrent) {
  engine_.DoSave(true);
  auto previous = Handle(kEvent, "open receipt");
  auto frame = Handle(kEventList, "", /*expect=*/false);
  EXPECT_EQ(frame->getDataType(), kRejected);
  uint8_t type = 0;
  std::string data = "x";
  EXPECT_EQ(engine_.GetData(type, data), frame->getFrameId());
  EXPECT_EQ(type, kRejected);
  EXPECT_EQ(data, "");
  EXPECT_EQ(engine_.FramesBuffered(), 0);  // the open receipt was dropped unfinished
}

TEST_F(NewFrameTest, FilterChainErrorsAreReportedAndOutputsReplaceTheFrame) {
  auto chain = std::make_shared<RecordingFilterChain>();
  chain->result_code = 7;
  engine_.setFilterChain(chain);
  Handle(kJpeg, "raw");
  EXPECT_EQ(host_.events, (std::vector<LoggedEvent>{{10, "Filter chain returned an error: 7"}}));
  uint8_t type = 0;
  std::string data;
  engine_.GetData(type, data);
  EXPECT_EQ(data, "raw");

  class Replacing final : public FrameFilterChain {
   public:
    void release() override {}
    void reset() override {}
    std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
      auto out = std::make_shared<MediaFrame>();
      out->cloneFrom(*frame);
      out->getDataBlock().Assign("filtered");
      out->setMotionPercent(42);
      return std::make_shared<SimpleFilterResult>(0, out);
    }
  };
  engine_.setFilterChain(std::make_shared<Replacing>());
  Handle(kJpeg, "raw");
  engine_.GetData(type, data);
  EXPECT_EQ(data, "filtered");
  EXPECT_EQ(engine_.GetMotionPerc(), 42);
}

}  // namespace
}  // namespace ravelon
