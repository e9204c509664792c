// The engine's byte blocks and frames.
#include "ravelon/data_block.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <utility>

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
  EXPECT_EQ(block.View().substr(504), "ab\0c\0def"s);
  block.DropFront(-3);
  block.DropFront(509);
  EXPECT_EQ(block.View(), "def");
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

// A block sharing another's bytes reads them in place and makes them its own
// on its first change, which never reaches the bytes it shared; dropping from
// the front is no change of the bytes. Bytes nobody keeps alive are copied.
TEST(DataBlockTest, SharedBytesAreCopiedOnTheFirstChangeOnly) {
  const auto source = std::make_shared<std::string>("abcdef");
  const std::string_view bytes = std::string_view(*source).substr(1, 4);  // "bcde"
  const std::pair<std::function<void(DataBlock&)>, std::string> changes[] = {
      {[](DataBlock& b) { b.Data()[0] = 'X'; }, "Xde"},
      {[](DataBlock& b) { b.AppendText("X"); }, "cdeX"},
      {[](DataBlock& b) { b.Append(b.View().data(), 2); }, "cdecd"},  // from its shared bytes
      {[](DataBlock& b) { b.Assign("X"); }, "X"},
      {[](DataBlock& b) { b.Clear(); }, ""},
  };
  for (const auto& [change, after] : changes) {
    DataBlock block;
    block.Share(source, bytes);
    block.DropFront(1);
    EXPECT_EQ(block.View().data(), source->data() + 2);  // still in place
    change(block);
    EXPECT_EQ(*source, "abcdef");
    EXPECT_EQ(block.View(), after);
    EXPECT_NE(block.View().data(), source->data() + 2);
  }
  DataBlock block;
  std::string unkept = "xyz";
  block.Share(nullptr, unkept);
  unkept[0] = 'Q';
  EXPECT_EQ(block.View(), "xyz");
}

// A clone takes every field; new data from the stream drops the marks and motion of the old.
TEST(MediaFrameTest, CloneCopiesEveryFieldAndCommitDataDropsOldAnalysis) {
  MediaFrame original, clone;
  original.SetData(kJpeg, "p");
  original.setFrameId(7);
  original.getStamp().Set(45000, 120.5);
  original.addFlags(kComplete);
  original.setMark(1);
  original.setMotionPercent(142);  // kept to 100
  original.setFixedStamp(true);
  clone.cloneFrom(original);
  EXPECT_EQ(std::tuple(clone.getDataBlock().GetText(), clone.getDataType(), clone.getFrameId(),
                       clone.getDate(), clone.getTime(), clone.getFlags(), clone.hasMark(1),
                       clone.getMotionPercent(), clone.getFixedStamp()),
            std::tuple("p"s, kJpeg, 7, 45000.0, 120.5, kComplete, true, uint8_t{100}, true));
  original.commitData();
  EXPECT_FALSE(original.hasMark(1) || original.getMotionPercent() > 0);
}

}  // namespace
}  // namespace ravelon
