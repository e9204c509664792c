// The frame pipeline alone: numbering, stamps, events merged into lists until
// a printer cut or a new hour, event lists re-timed, the filter chain's
// verdicts, what reaches the save queue.
#include "pipeline/frame_pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "events/vesper_event_list.h"
#include "ravelon/testing/simulated_clock.h"
#include "schedule/rate_statistics.h"
#include "support/recording_filter_chain.h"

namespace ravelon {
namespace {

constexpr double kDay = 46'000;

class FramePipelineTest : public ::testing::Test, public FramePipelineOwner {
 protected:
  FramePipelineTest() { clock_.SetLocalDateTime(kDay, 12 * 3600); }

  bool SavingAllowed() const override { return saving_; }
  void Debug(uint8_t level, const std::string& text) override {
    log_.push_back(std::to_string(level) + " " + text);
  }

  std::shared_ptr<MediaFrame> Handle(uint8_t type, const std::string& data, bool expect = true) {
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(type, data);
    EXPECT_EQ(pipeline_.HandleNewFrame(frame), expect);
    return frame;
  }
  int EventsInCurrentFrame() const {
    VesperEventList list;
    return list.fromString(pipeline_.CurrentFrame()->getDataBlock().Text()) ? list.GetEventCount()
                                                                            : -1;
  }
  bool Open() const { return !pipeline_.CurrentFrame()->hasFlag(kComplete); }
  static std::string EventList(const std::vector<std::tuple<double, double, std::string>>& events) {
    VesperEventList list;
    for (const auto& [date, time, text] : events) {
      VesperEvent event;
      event.SetData(date, time, text);
      list.AddEventObject(event);
    }
    return list.toString();
  }

  SimulatedClock clock_;
  SaveQueue queue_;
  RateStatistics rates_{clock_};
  bool saving_ = true;
  std::vector<std::string> log_;
  FramePipeline pipeline_{clock_, queue_, rates_, *this};
};

TEST_F(FramePipelineTest, NumbersWrapAndStampsStayStrictlyIncreasing) {
  pipeline_.StartConnection();  // the placeholder: announced, and the next frame is number 1
  EXPECT_TRUE(pipeline_.TakeNewFrameNotice());
  EXPECT_FALSE(pipeline_.TakeNewFrameNotice());
  auto a = Handle(kJpeg, "a");
  auto b = Handle(kJpeg, "b");  // same millisecond
  EXPECT_EQ(a->getFrameId(), 1);
  EXPECT_DOUBLE_EQ(a->getTime(), 12 * 3600);
  EXPECT_DOUBLE_EQ(b->getTime(), 12 * 3600 + kStampStepSeconds);
  clock_.SetLocalDateTime(kDay, 11 * 3600);  // set back an hour
  auto c = Handle(kText, "c");
  EXPECT_DOUBLE_EQ(c->getTime(), 12 * 3600 + 2 * kStampStepSeconds);
  clock_.SetLocalDateTime(kDay, 86'399.999);
  Handle(kJpeg, "d");
  clock_.SetLocalDateTime(kDay, 86'000);
  auto e = Handle(kJpeg, "e");
  EXPECT_EQ(e->getDate(), kDay + 1);
  EXPECT_NEAR(e->getTime(), 0.001, 1e-6);
  EXPECT_TRUE(e->hasFlag(kComplete) && e->hasFlag(kQueued));
  EXPECT_EQ(queue_.Count(), 5);  // the placeholder is never queued
}

TEST_F(FramePipelineTest, EventsJoinOneListUntilAPrinterCutOrAnotherHour) {
  pipeline_.HandleEventText("COFFEE 2.50\n");
  EXPECT_TRUE(Open());
  EXPECT_EQ(pipeline_.CurrentFrame()->getDataType(), kEventList);
  clock_.SetLocalDateTime(kDay, 12 * 3600 + 20);
  pipeline_.HandleEventText("CAKE 3.00\n");
  EXPECT_TRUE(Open());
  EXPECT_EQ(EventsInCurrentFrame(), 2);
  EXPECT_EQ(queue_.Count(), 0);
  pipeline_.HandleEventText(std::string("TOTAL 5.50\n\x1d\x56\x00", 14));
  EXPECT_FALSE(Open());
  EXPECT_EQ(EventsInCurrentFrame(), 3);
  EXPECT_EQ(queue_.Count(), 1);

  // ESC "i" cuts too; an arrival in another hour closes an open list.
  pipeline_.HandleEventText("next");
  Handle(kEvent, "\x1bi");
  EXPECT_FALSE(Open());
  pipeline_.HandleEventText("no cut");
  clock_.SetLocalDateTime(kDay, 13 * 3600 + 1);
  pipeline_.HandleEventText("an hour later");
  EXPECT_FALSE(Open());
  EXPECT_EQ(EventsInCurrentFrame(), 2);
  EXPECT_EQ(queue_.Count(), 3);
}

TEST_F(FramePipelineTest, EventListsMoveOntoTheClockAcrossMidnight) {
  clock_.SetLocalDateTime(kDay, 1.5);
  // The source's clock is days off; its two events lie 3 s apart.
  auto frame = Handle(kEventList, EventList({{kDay - 9, 100, "a"}, {kDay - 9, 103, "b"}}));
  EXPECT_TRUE(frame->getFixedStamp() && frame->hasFlag(kComplete));
  VesperEventList list;
  ASSERT_TRUE(list.fromString(frame->getDataBlock().Text()));
  ASSERT_EQ(list.GetEventCount(), 2);
  EXPECT_EQ(list.GetEvent(2)->getDate(), kDay);
  EXPECT_DOUBLE_EQ(list.GetEvent(2)->getTime(), 1.5);
  EXPECT_EQ(list.GetEvent(1)->getDate(), kDay - 1);
  EXPECT_DOUBLE_EQ(list.GetEvent(1)->getTime(), 86'398.5);
  EXPECT_DOUBLE_EQ(frame->getTime(), 86'398.5);  // the frame starts with its first event

  // Events the source stamped out of order leave in order, 2 ms apart.
  auto swapped = Handle(kEventList, EventList({{kDay, 50, "late"}, {kDay, 40, "early"}}));
  ASSERT_TRUE(list.fromString(swapped->getDataBlock().Text()));
  EXPECT_NEAR(list.GetEvent(2)->getTime() - list.GetEvent(1)->getTime(), 0.002, 1e-9);

  // An unreadable list is rejected, becomes current, and the open receipt is dropped.
  pipeline_.HandleEventText("open receipt");
  auto rejected = Handle(kEventList, "", /*expect=*/false);
  EXPECT_EQ(rejected->getDataType(), kRejected);
  EXPECT_EQ(pipeline_.CurrentFrame(), rejected);
  EXPECT_EQ(queue_.Count(), 2);
}

TEST_F(FramePipelineTest, FilterVerdictsAndWhatReachesTheQueue) {
  auto chain = std::make_shared<testing::RecordingFilterChain>();
  chain->result_code = 7;
  pipeline_.SetFilterChain(chain);
  Handle(kJpeg, "raw");
  EXPECT_EQ(log_, std::vector<std::string>{"10 Filter chain returned an error: 7"});
  EXPECT_EQ(pipeline_.CurrentFrame()->getDataBlock().Text(), "raw");

  chain->result_code = 0;
  chain->on_process = [](MediaFrame& frame) { frame.setMark(1); };  // not to be stored
  Handle(kJpeg, "marked");
  chain->on_process = [](MediaFrame& frame) { frame.setMark(1), frame.setMark(2); };
  Handle(kJpeg, "stored anyway");
  saving_ = false;  // saving off, or the schedule holds storing
  Handle(kJpeg, "not saving");
  ASSERT_EQ(queue_.Count(), 2);
  queue_.RemoveFront();
  EXPECT_EQ(queue_.Front()->getDataBlock().Text(), "stored anyway");

  pipeline_.StartConnection();  // the chain starts afresh with every connection
  EXPECT_EQ(chain->resets, 1);
  EXPECT_EQ(queue_.Count(), 0);
}

}  // namespace
}  // namespace ravelon
