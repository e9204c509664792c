#include "components/memory_chunk.h"

#include <gtest/gtest.h>

#include <string>

namespace ravelon {
namespace {

TEST(MemoryChunkTest, SizeAndCopyBoundaries) {
  MemoryChunk chunk(std::string("0123456789"));
  chunk.CopyFrom(chunk.Data() + 6, 4);  // the source is the chunk's own tail
  EXPECT_EQ(chunk.Bytes(), "6789");
  chunk.SetSize(6);
  EXPECT_EQ(chunk.Bytes(), std::string("6789\0\0", 6));
  chunk.SetSize(-7);
  EXPECT_EQ(chunk.GetSize(), 0);
  chunk.CopyFrom(nullptr, 3);
  EXPECT_EQ(chunk.Bytes(), std::string(3, '\0'));
  chunk.CopyFrom("xyz", -1);
  EXPECT_EQ(chunk.GetSize(), 0);

  std::string big(100000, '\xff');
  big[10] = '\0';
  const char* storage = big.data();
  const MemoryChunk taken(std::move(big));
  EXPECT_EQ(taken.Data(), storage);
  std::string text = "old";
  EXPECT_TRUE(taken.ToText(text));
  EXPECT_EQ(text, taken.Bytes());
}

}  // namespace
}  // namespace ravelon
