#include "ravelon/data_block.h"

#include <gtest/gtest.h>

#include <string>

namespace ravelon {
namespace {

TEST(DataBlockTest, AppendDropAndChunkBoundaries) {
  const std::string bytes("ab\0c\0def", 8);
  DataBlock block;
  EXPECT_TRUE(block.Append("ab\0c", 4) && block.AppendText(std::string_view("\0d", 2)) &&
              block.AppendChunk(MemoryChunk(std::string("ef"))) && block.Append(nullptr, 0));
  EXPECT_FALSE(block.Append("zz", -1));
  EXPECT_FALSE(block.Append(nullptr, 2));
  EXPECT_EQ(block.Text(), bytes);
  // Doubling from its own bytes forces the storage to move under the source.
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(block.Append(block.Data(), block.Size()));
  EXPECT_EQ(block.Text().substr(504), bytes);

  block.DropFront(-3);
  EXPECT_EQ(block.Size(), 512);
  block.DropFront(511);
  EXPECT_EQ(block.Text(), "f");
  block.DropFront(1000);
  EXPECT_EQ(block.Size(), 0);

  // A chunk copies from its own bytes too; missing bytes are zeros.
  MemoryChunk chunk(std::string(1000, 'f'));
  chunk.CopyFrom(chunk.Data() + 996, 4);
  chunk.SetSize(6);
  EXPECT_EQ(chunk.Bytes(), std::string("ffff\0\0", 6));
  chunk.CopyFrom(nullptr, 2);
  EXPECT_EQ(chunk.Bytes(), std::string(2, '\0'));
  chunk.CopyFrom("x", 0);
  EXPECT_EQ(chunk.GetSize(), 0);
  chunk.SetSize(-1);
  EXPECT_EQ(chunk.GetSize(), 0);
}

}  // namespace
}  // namespace ravelon
