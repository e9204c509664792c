// What a full save queue keeps: it never refuses, and never loses text.
#include "pipeline/save_queue.h"

#include <gtest/gtest.h>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

std::shared_ptr<MediaFrame> Frame(uint8_t type, const std::string& data, int32_t id) {
  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(type, data);
  frame->setFrameId(id);
  return frame;
}

TEST(SaveQueueTest, AFullQueueKeepsTheMoreValuableOfItsNewestAndTheNewFrame) {
  struct Case {
    uint8_t queued_type;
    uint8_t new_type;
    int32_t kept_id;  // 1: the queued frame, 2: the new one, 3: both texts joined
    int32_t lost;
  };
  for (const Case& c :
       {Case{kJpeg, kJpeg, 2, 1}, Case{kEventList, kJpeg, 1, 1}, Case{kJpeg, kEventList, 2, 1},
        Case{kText, kJpeg, 1, 1}, Case{kJpeg, kText, 2, 1}, Case{kEventList, kEventList, 2, 1},
        Case{kText, kText, 3, 0}}) {
    SCOPED_TRACE(std::to_string(c.queued_type) + " then " + std::to_string(c.new_type));
    SaveQueue queue;
    for (int i = 1; i < kSaveQueueCapacity; ++i) queue.Offer(Frame(kJpeg, "old", -i));
    auto queued = Frame(c.queued_type, "abc", 1);
    queue.Offer(queued);
    EXPECT_EQ(queue.FramesLost(), 0);
    queue.Offer(Frame(c.new_type, "def", 2));
    EXPECT_EQ(queue.Count(), kSaveQueueCapacity);
    EXPECT_EQ(queue.FramesLost(), c.lost);
    for (int i = 1; i < kSaveQueueCapacity; ++i) queue.RemoveFront();
    const std::shared_ptr<MediaFrame> kept = queue.Front();
    if (c.kept_id == 3) {
      EXPECT_EQ(kept->getDataBlock().Text(), "abcdef");
      EXPECT_EQ(kept->getFrameId(), 2);                 // numbered like the newer text
      EXPECT_EQ(queued->getDataBlock().Text(), "abc");  // the queued frame itself is unchanged
    } else {
      EXPECT_EQ(kept->getFrameId(), c.kept_id);
    }
  }
}

}  // namespace
}  // namespace ravelon
