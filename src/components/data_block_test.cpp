// The engine's byte blocks and frames.
#include "ravelon/data_block.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

using namespace std::string_literals;

TEST(DataBlockTest, AppendDropAndCopyBoundaries) {
  DataBlock block;
  EXPECT_TRUE(block.Append("ab\0c", 4) && block.AppendText(std::string_view("\0d", 2)) &&
              block.AppendChunk(MemoryChunk("ef"s)) && block.Append(nullptr, 0));
  EXPECT_FALSE(block.Append("zz", -1) || block.Append(nullptr, 2));
  // Doubling from its own bytes forces the storage to move under the source.
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(block.Append(block.Data(), block.Size()));
  EXPECT_EQ(block.Text().substr(504), "ab\0c\0def"s);
  block.DropFront(-3);
  block.DropFront(509);
  EXPECT_EQ(block.Text(), "def");
  block.DropFront(1000);
  EXPECT_EQ(block.Size(), 0);

  // A chunk copies from its own bytes too; missing bytes are zeros.
  MemoryChunk chunk(std::string(1000, 'f'));
  chunk.CopyFrom(chunk.Data() + 996, 4);
  chunk.SetSize(6);
  EXPECT_EQ(chunk.Bytes(), "ffff\0\0"s);
  chunk.CopyFrom(nullptr, 2);
  EXPECT_EQ(chunk.Bytes(), "\0\0"s);
  chunk.CopyFrom("x", -1);
  chunk.SetSize(-1);
  EXPECT_EQ(chunk.GetSize(), 0);
}

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
    return std::tuple(f.getDataBlock().Text(), f.getDataType(), f.getFrameId(), f.getDate(),
                      f.getTime(), f.getFlags(), f.hasMark(1), f.hasMark(2), f.getMotionPercent(),
                      f.getFixedStamp());
  };
  EXPECT_EQ(fields(clone), fields(original));
  EXPECT_EQ(clone.getMotionPercent(), 100);
  // New data from the stream drops the marks and motion of the old data.
  original.SetData(kText, "next");
  original.commitData();
  EXPECT_EQ(fields(original), std::tuple("next"s, kText, 7, 45000.0, 120.5, kComplete | kQueued,
                                         false, false, uint8_t{0}, true));
}

}  // namespace
}  // namespace ravelon
