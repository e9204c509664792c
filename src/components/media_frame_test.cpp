#include "ravelon/media_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace ravelon {
namespace {

TEST(MediaFrameTest, CloneCopiesEveryFieldAndCommitDataDropsOldAnalysis) {
  MediaFrame original, clone;
  original.SetData(kJpeg, std::string(1000, 'p'));
  original.setFrameId(7);
  original.getStamp().Set(45000, 120.5);
  original.addFlags(kComplete | kQueued);
  original.setMark(1);
  original.setMotionPercent(142);  // kept to 100
  original.setFixedStamp(true);
  clone.setMark(2);
  clone.cloneFrom(original);
  const auto fields = [](const MediaFrame& f) {
    return std::make_tuple(f.getDataBlock().Text(), f.getDataType(), f.getFrameId(), f.getDate(),
                           f.getTime(), f.getFlags(), f.hasMark(1), f.hasMark(2),
                           f.getMotionPercent(), f.getFixedStamp());
  };
  EXPECT_EQ(fields(clone), fields(original));
  EXPECT_EQ(clone.getMotionPercent(), 100);

  // New data from the stream drops the marks and motion of the old data.
  original.SetData(kText, "next");
  original.commitData();
  EXPECT_EQ(original.getDataType(), kText);
  EXPECT_FALSE(original.hasMark(1));
  EXPECT_EQ(original.getMotionPercent(), 0);
  EXPECT_EQ(original.getFlags(), kComplete | kQueued);
}

}  // namespace
}  // namespace ravelon
