#include "ravelon/media_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace ravelon {
namespace {

TEST(MediaFrameTest, CloneIsDeepAndIndependentAndCommitDataDropsOldAnalysis) {
  MediaFrame original;
  original.SetData(kJpeg, std::string(1000, 'p'));
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

  // New data from the stream drops the marks and motion of the old data.
  original.SetData(kText, "next");
  original.commitData();
  EXPECT_EQ(original.getDataType(), kText);
  EXPECT_FALSE(original.hasMark(1));
  EXPECT_EQ(original.getMotionPercent(), 0);
  EXPECT_TRUE(original.hasFlag(kComplete | kQueued));
}

}  // namespace
}  // namespace ravelon
