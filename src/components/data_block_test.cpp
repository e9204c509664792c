#include "components/data_block.h"

#include <gtest/gtest.h>

#include <string>

namespace ravelon {
namespace {

TEST(DataBlockTest, AppendsGrowByExactlyTheBytesGivenEvenFromItself) {
  DataBlock block;
  EXPECT_TRUE(block.Append("ab\0c", 4));
  EXPECT_TRUE(block.AppendText(std::string_view("\0d", 2)));
  EXPECT_TRUE(block.AppendChunk(MemoryChunk(std::string("ef"))));
  EXPECT_EQ(block.Text(), std::string("ab\0c\0def", 8));
  EXPECT_FALSE(block.Append("zz", -1));
  EXPECT_FALSE(block.Append(nullptr, 2));
  EXPECT_TRUE(block.Append(nullptr, 0));
  EXPECT_EQ(block.Size(), 8);

  // Doubling from its own bytes forces the storage to move under the source.
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(block.Append(block.Data(), block.Size()));
  EXPECT_EQ(block.Size(), 512);
  EXPECT_EQ(block.Text().substr(504), std::string("ab\0c\0def", 8));
}

TEST(DataBlockTest, DropFrontAndAssign) {
  DataBlock block;
  block.AppendText("abcdef");
  block.DropFront(0);
  block.DropFront(-3);
  EXPECT_EQ(block.Text(), "abcdef");
  block.DropFront(5);
  EXPECT_EQ(block.Text(), "f");
  block.DropFront(1000);
  EXPECT_EQ(block.Size(), 0);

  std::string frame(200000, 'f');
  const char* storage = frame.data();
  block.Assign(std::move(frame));
  EXPECT_EQ(block.Text().data(), storage);
  MemoryChunk chunk = block.GetChunk();
  block.Data()[0] = 'X';
  EXPECT_EQ(chunk.Data()[0], 'f');
  block.Clear();
  EXPECT_EQ(chunk.GetSize(), 200000);
}

}  // namespace
}  // namespace ravelon
