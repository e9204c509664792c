// The frame pipeline alone: numbering, stamps, events merged into lists until
// a printer cut or a new hour, event lists re-timed, the filter chain's
// verdicts, what reaches the save queue; and what a full save queue keeps.
#include "pipeline/frame_pipeline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "common/engine_limits.h"
#include "events/vesper_event_list.h"
#include "ravelon/testing/simulated_clock.h"
#include "schedule/rate_statistics.h"
#include "support/recording_filter_chain.h"

namespace ravelon {
namespace {

constexpr double kDay = 46'000;

std::shared_ptr<MediaFrame> Frame(uint8_t type, const std::string& data, int32_t id) {
  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(type, data);
  frame->setFrameId(id);
  return frame;
}

class FramePipelineTest : public ::testing::Test, public FramePipelineOwner {
 protected:
  FramePipelineTest() { clock_.SetLocalDateTime(kDay, 12 * 3600); }

  bool SavingAllowed() const override { return saving_; }
  void Debug(uint8_t level, const std::string& text) override {
    log_.push_back(std::to_string(level) + " " + text);
  }

  std::shared_ptr<MediaFrame> Handle(uint8_t type, const std::string& data, bool expect = true) {
    auto frame = Frame(type, data, 0);
    EXPECT_EQ(pipeline_.HandleNewFrame(frame), expect);
    return frame;
  }
  // Whether the current frame is open, the events of its list (-1 when it is none), and the
  // frames queued.
  std::tuple<bool, int32_t, int32_t> State() const {
    const auto& frame = pipeline_.CurrentFrame();
    VesperEventList list;
    const bool is_list = list.fromString(frame->getDataBlock().GetText());
    return {!frame->hasFlag(kComplete), is_list ? list.GetEventCount() : -1, queue_.Count()};
  }

  SimulatedClock clock_;
  SaveQueue queue_;
  RateStatistics rates_{clock_};
  bool saving_ = true;
  std::vector<std::string> log_;
  FramePipeline pipeline_{clock_, queue_, rates_, *this};
};

TEST_F(FramePipelineTest, NumbersAndStampsStayStrictlyIncreasing) {
  pipeline_.StartConnection();  // the placeholder: announced, and the next frame is number 1
  EXPECT_TRUE(pipeline_.TakeNewFrameNotice());
  EXPECT_FALSE(pipeline_.TakeNewFrameNotice());
  auto a = Handle(kJpeg, "a");
  auto b = Handle(kJpeg, "b");  // same millisecond
  EXPECT_EQ(a->getFrameId(), 1);
  EXPECT_DOUBLE_EQ(a->getTime(), 12 * 3600);
  EXPECT_DOUBLE_EQ(b->getTime(), 12 * 3600 + kStampStepSeconds);
  clock_.SetLocalDateTime(kDay, 11 * 3600);  // set back an hour
  EXPECT_DOUBLE_EQ(Handle(kText, "c")->getTime(), 12 * 3600 + 2 * kStampStepSeconds);
  clock_.SetLocalDateTime(kDay, 86'400 - kStampStepSeconds);  // one step makes midnight
  Handle(kJpeg, "d");
  clock_.SetLocalDateTime(kDay, 86'000);
  auto e = Handle(kJpeg, "e");
  EXPECT_EQ(e->getDate(), kDay + 1);
  EXPECT_NEAR(e->getTime(), 0, 1e-6);
  EXPECT_TRUE(e->hasFlag(kComplete) && e->hasFlag(kQueued));
  EXPECT_EQ(queue_.Count(), 5);  // the placeholder is never queued
}

TEST_F(FramePipelineTest, EventsJoinOneListUntilAPrinterCutOrAnotherHour) {
  pipeline_.HandleEventText("COFFEE 2.50\n");
  EXPECT_EQ(pipeline_.CurrentFrame()->getDataType(), kEventList);
  clock_.SetLocalDateTime(kDay, 12 * 3600 + 20);
  pipeline_.HandleEventText("CAKE 3.00\n");
  EXPECT_EQ(State(), std::tuple(true, 2, 0));
  pipeline_.HandleEventText(std::string("TOTAL 5.50\n\x1d\x56\x00", 14));
  EXPECT_EQ(State(), std::tuple(false, 3, 1));

  // ESC "i" cuts too; an arrival in another hour closes an open list.
  pipeline_.HandleEventText("next");
  Handle(kEvent, "\x1bi");
  EXPECT_EQ(State(), std::tuple(false, 2, 2));
  pipeline_.HandleEventText("no cut");
  clock_.SetLocalDateTime(kDay, 13 * 3600 + 1);
  pipeline_.HandleEventText("an hour later");
  EXPECT_EQ(State(), std::tuple(false, 2, 3));
}

// A feed that never cuts: the open list is closed and queued before it passes its limit, the
// event that did not fit begins the next one, and a stream that brought it is taken as broken.
TEST_F(FramePipelineTest, AnOpenListIsClosedAtItsLimit) {
  const std::string quarter(kMaxEventListBytes / 4, 'e');
  for (int i = 0; i < 3; ++i) Handle(kEvent, quarter);
  EXPECT_EQ(State(), std::tuple(true, 3, 0));
  Handle(kEvent, quarter, /*expect=*/false);
  EXPECT_EQ(log_.back(),
            "10 Event list over 4194304 bytes. It is closed; the next event begins a new one.");
  EXPECT_EQ(State(), std::tuple(true, 1, 1));
  pipeline_.HandleEventText(quarter);  // text from another process joins the new list
  EXPECT_EQ(State(), std::tuple(true, 2, 1));
}

// A list moves as a whole so that its last event falls on the clock; each event is rounded to the
// millisecond and kept 2 ms after the one before; the frame takes the first event's stamp. An open
// receipt is finished by a frame of another kind, and dropped by an unreadable list, which is
// rejected and becomes current.
TEST_F(FramePipelineTest, EventListsMoveOntoTheClockAndUnreadableOnesAreRejected) {
  pipeline_.HandleEventText("finished receipt");
  const auto receipt = pipeline_.CurrentFrame();
  Handle(kJpeg, "j");
  EXPECT_TRUE(receipt->hasFlag(kComplete) && receipt->hasFlag(kQueued));
  pipeline_.HandleEventText("open receipt");
  auto rejected = Handle(kEventList, "", /*expect=*/false);
  EXPECT_EQ(rejected->getDataType(), kRejected);
  EXPECT_EQ(pipeline_.CurrentFrame(), rejected);
  EXPECT_EQ(queue_.Count(), 2);
  const auto stamp = [](double date, double time) {
    char text[40];
    std::snprintf(text, sizeof text, "%+g %.4f;", date - kDay, time);
    return std::string(text);
  };
  const std::tuple<double, std::vector<std::pair<double, double>>, std::string> cases[] = {
      {1.5, {{kDay - 9, 100}, {kDay - 9, 103}}, "-1 86398.5000;+0 1.5000;"},  // across midnight
      {1.5, {{kDay, 50}, {kDay, 40}}, "+0 11.5000;+0 11.5020;"},              // out of order
      {86'399.9996, {{kDay - 2, 9}}, "+1 0.0000;"}};  // rounded up to the next day
  for (const auto& [now, sent, moved] : cases) {
    clock_.SetLocalDateTime(kDay, now);
    VesperEventList list;
    for (const auto& [date, time] : sent) {
      VesperEvent event;
      event.SetData(date, time, "e");
      list.AddEventObject(event);
    }
    const auto frame = Handle(kEventList, list.toString());
    EXPECT_TRUE(frame->getFixedStamp() && frame->hasFlag(kComplete));
    ASSERT_TRUE(list.fromString(frame->getDataBlock().GetText()));
    std::string got;
    for (int32_t i = 1; i <= list.GetEventCount(); ++i)
      got += stamp(list.GetEvent(i)->getDate(), list.GetEvent(i)->getTime());
    EXPECT_EQ(got, moved);
    EXPECT_EQ(stamp(frame->getDate(), frame->getTime()), moved.substr(0, moved.find(';') + 1));
  }
}

TEST_F(FramePipelineTest, FilterVerdictsAndWhatReachesTheQueue) {
  auto chain = std::make_shared<testing::RecordingFilterChain>();
  chain->result_code = 7;
  pipeline_.SetFilterChain(chain);
  Handle(kJpeg, "raw");
  EXPECT_EQ(log_, std::vector<std::string>{"10 Filter chain returned an error: 7"});
  EXPECT_EQ(pipeline_.CurrentFrame()->getDataBlock().GetText(), "raw");

  chain->result_code = 0;
  chain->on_process = [](MediaFrame& frame) { frame.setMark(1); };  // not to be stored
  Handle(kJpeg, "marked");
  chain->on_process = [](MediaFrame& frame) { frame.setMark(1), frame.setMark(2); };
  Handle(kJpeg, "stored anyway");
  saving_ = false;  // saving off, or the schedule holds storing
  Handle(kJpeg, "not saving");
  ASSERT_EQ(queue_.Count(), 2);
  queue_.RemoveFront();
  EXPECT_EQ(queue_.Front()->getDataBlock().GetText(), "stored anyway");

  pipeline_.StartConnection();  // the chain starts afresh with every connection
  EXPECT_EQ(chain->resets, 1);
  EXPECT_EQ(queue_.Count(), 0);
}

// Texts that keep meeting a full queue join into one frame, copied once from the text that the
// current frame may still show, up to their own limit; a text past it is lost.
TEST(SaveQueueTest, JoinedTextsGrowUpToTheirLimit) {
  SaveQueue queue;
  queue.SetByteLimit(int64_t{2} * kMaxTextJoinBytes);
  for (int i = 1; i < kSaveQueueCapacity; ++i) queue.Offer(Frame(kJpeg, "old", -i));
  const auto shown = Frame(kText, "abc", 1);
  queue.Offer(shown);
  const std::string piece(kMaxTextJoinBytes / 4, 't');
  for (int id = 2; id <= 5; ++id) queue.Offer(Frame(kText, piece, id));
  EXPECT_EQ(queue.FramesLost(), 1);
  EXPECT_EQ(shown->getDataBlock().GetText(), "abc");
  const int64_t joined = 3 + 3 * static_cast<int64_t>(piece.size());
  EXPECT_EQ(queue.Bytes(), (kSaveQueueCapacity - 1) * 3 + joined);
  for (int i = 1; i < kSaveQueueCapacity; ++i) queue.RemoveFront();
  EXPECT_EQ(queue.Front()->getDataLength(), joined);
  EXPECT_EQ(queue.Front()->getFrameId(), 4);
}

// A queue bounded to 10 bytes: a frame that does not fit takes the newest frame's place when it
// wins and fits there, else the newest frame stays; an empty queue takes any frame. Of the newest
// frame and the new one, an event list wins over any other type, text over any type but an event
// list, the new one over one of its own type; two texts are joined.
TEST(SaveQueueTest, TheByteLimitBoundsTheQueueAndTheMoreValuableFrameStays) {
  using Offer = std::pair<uint8_t, std::string>;
  // offers; the frames queued, frames lost and bytes afterwards
  const std::tuple<std::vector<Offer>, std::string, int32_t, int64_t> cases[] = {
      {{{kJpeg, "abcdef"}, {kJpeg, "ghijk"}}, "ghijk ", 1, 5},
      {{{kEventList, "abcdef"}, {kJpeg, "ghijk"}}, "abcdef ", 1, 6},
      {{{kJpeg, "abcdef"}, {kEventList, "ghijk"}}, "ghijk ", 1, 5},
      {{{kText, "abcdef"}, {kJpeg, "ghijk"}}, "abcdef ", 1, 6},
      {{{kJpeg, "abcdef"}, {kText, "ghijk"}}, "ghijk ", 1, 5},
      {{{kEventList, "abcdef"}, {kEventList, "ghijk"}}, "ghijk ", 1, 5},
      {{{kText, "abcdef"}, {kEventList, "ghijk"}}, "ghijk ", 1, 5},
      {{{kText, "abcdef"}, {kText, "ghijk"}}, "abcdefghijk ", 0, 11},
      {{{kJpeg, "aa"}, {kJpeg, "bb"}, {kJpeg, "cccccccc"}}, "aa cccccccc ", 1, 10},
      {{{kJpeg, "aa"}, {kJpeg, "bb"}, {kJpeg, "ccccccccc"}}, "aa bb ", 1, 4},
      {{{kJpeg, "aa"}, {kText, "bb"}, {kText, "cccccc"}}, "aa bb cccccc ", 0, 10},
      {{{kJpeg, "aa"}, {kText, "bb"}, {kText, "ccccccc"}}, "aa bb ", 1, 4},
      {{{kJpeg, "aa"}, {kText, "bb"}, {kText, "cccccc"}, {kText, "d"}}, "aa bb cccccc ", 1, 10},
      {{{kEventList, "a very long list"}}, "a very long list ", 0, 16},
  };
  for (const auto& [offers, queued, lost, bytes] : cases) {
    SaveQueue queue;
    queue.SetByteLimit(10);
    for (const auto& [type, data] : offers) queue.Offer(Frame(type, data, 1));
    EXPECT_EQ(std::tuple(queue.FramesLost(), queue.Bytes()), std::tuple(lost, bytes)) << queued;
    std::string frames;
    for (; !queue.IsEmpty(); queue.RemoveFront())
      frames += queue.Front()->getDataBlock().GetText() + " ";
    EXPECT_EQ(frames, queued);
    EXPECT_EQ(queue.Bytes(), 0);
  }
}

}  // namespace
}  // namespace ravelon
