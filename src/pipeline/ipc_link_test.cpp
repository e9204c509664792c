// Event text arriving through the engine's inter-process port.
#include <gtest/gtest.h>

#include "components/in_process_ipc_port.h"
#include "events/vesper_event_list.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"

namespace ravelon {
namespace {

class IpcLinkTest : public ::testing::Test {
 protected:
  IpcLinkTest()
      : platform_(std::make_shared<SimulatedPlatform>()),
        till_(std::make_shared<InProcessIpcPort>(platform_->Loop())),
        engine_(platform_) {
    platform_->clock().SetLocalDateTime(46000, 10 * 3600);
    engine_.DoSave(true);
    std::shared_ptr<IpcPort> port = till_;
    EXPECT_EQ(engine_.ipcConnect(port), 0);
  }

  void Send(const std::string& text) {
    ASSERT_TRUE(till_->send(MemoryChunk(text)));
    platform_->AdvanceBy(Duration::zero());
  }

  int EventsInCurrentFrame() {
    uint8_t type = 0;
    std::string data;
    engine_.GetData(type, data);
    VesperEventList list;
    return list.fromString(data) ? list.GetEventCount() : -1;
  }

  bool Open() {
    uint8_t type = 0;
    std::string data;
    double date = 0, time = 0;
    return engine_.GetPartialFrame(type, data, date, time);
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  std::shared_ptr<InProcessIpcPort> till_;
  Korvid engine_;
};

TEST_F(IpcLinkTest, ArrivalsOfOneReceiptJoinUntilTheCut) {
  Send("COFFEE 2.50\n");  // no current frame yet: it becomes the current one
  EXPECT_TRUE(Open());
  platform_->AdvanceBy(std::chrono::seconds(20));
  Send("CAKE 3.00\n");  // same hour: appended, still open
  EXPECT_TRUE(Open());
  EXPECT_EQ(EventsInCurrentFrame(), 2);
  EXPECT_EQ(engine_.FramesBuffered(), 0);
  Send(std::string("TOTAL 5.50\n\x1d\x56\x00", 14));
  EXPECT_FALSE(Open());
  EXPECT_EQ(EventsInCurrentFrame(), 3);
  EXPECT_EQ(engine_.FramesBuffered(), 1);  // queued at once
}

TEST_F(IpcLinkTest, AnArrivalInAnotherHourClosesTheOpenList) {
  Send("first receipt, no cut");
  platform_->AdvanceBy(std::chrono::hours(1));
  Send("an hour later");
  EXPECT_FALSE(Open());
  EXPECT_EQ(EventsInCurrentFrame(), 2);
  EXPECT_EQ(engine_.FramesBuffered(), 1);
}

}  // namespace
}  // namespace ravelon
