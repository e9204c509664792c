#include "components/media_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace ravelon {
namespace {

TEST(MediaFrameTest, CloneIsDeepAndIndependent) {
  MediaFrame original;
  original.SetData(kJpeg, std::string(50000, 'p'));
  original.setFrameId(7);
  original.getStamp().Set(45000, 120.5);
  original.addFlags(kComplete | kQueued);
  original.setMark(1);
  original.setMotionPercent(42);
  original.setFixedStamp(true);

  MediaFrame clone;
  clone.setMark(2);
  clone.cloneFrom(original);
  EXPECT_EQ(clone.getDataBlock().Text(), original.getDataBlock().Text());
  EXPECT_EQ(clone.getDataType(), kJpeg);
  EXPECT_EQ(clone.getFrameId(), 7);
  EXPECT_EQ(clone.getStamp().Compare(original.getStamp()), kStampEqual);
  EXPECT_EQ(clone.getFlags(), kComplete | kQueued);
  EXPECT_TRUE(clone.hasMark(1) && !clone.hasMark(2));
  EXPECT_EQ(clone.getMotionPercent(), 42);
  EXPECT_TRUE(clone.getFixedStamp());

  clone.getDataBlock().Data()[0] = 'X';
  clone.setTime(9);
  clone.setMark(2);
  EXPECT_EQ(original.getDataBlock().Data()[0], 'p');
  EXPECT_EQ(original.getTime(), 120.5);
  EXPECT_FALSE(original.hasMark(2));

  original.cloneFrom(original);
  EXPECT_EQ(original.getDataLength(), 50000);
  EXPECT_TRUE(original.hasMark(1));
}

TEST(MediaFrameTest, FlagsOnlyGrowAndNewDataDropsOldAnalysis) {
  MediaFrame frame;
  frame.addFlags(kQueued);
  frame.addFlags(kComplete);
  frame.addFlags(0);
  EXPECT_EQ(frame.getFlags(), kQueued | kComplete);
  EXPECT_FALSE(frame.hasFlag(kOpen));
  EXPECT_FALSE(frame.hasFlag(kOpen | kComplete));

  frame.SetData(kJpeg, "first");
  frame.setMark(1);
  frame.setMotionPercent(250);
  EXPECT_EQ(frame.getMotionPercent(), 100);
  std::string next(100000, 'n');
  const char* storage = next.data();
  frame.SetData(kText, std::move(next));
  frame.commitData();
  EXPECT_EQ(frame.getDataBlock().Data(), storage);
  EXPECT_EQ(frame.getDataType(), kText);
  EXPECT_FALSE(frame.hasMark(1));
  EXPECT_EQ(frame.getMotionPercent(), 0);
  EXPECT_TRUE(frame.hasFlag(kComplete));
}

}  // namespace
}  // namespace ravelon
