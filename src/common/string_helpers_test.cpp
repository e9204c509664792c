#include "common/string_helpers.h"

#include <gtest/gtest.h>

namespace ravelon {
namespace {

TEST(StringHelpersTest, SplitStringPiecesStartAtIndexOne) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(SplitString("", "\r\n"), Pieces({""}));
  EXPECT_EQ(SplitString("a\r\n", "\r\n"), Pieces({"", "a"}));
  EXPECT_EQ(SplitString("\r\na\r\n\r\nb\r\n\r\n", "\r\n"), Pieces({"", "", "a", "", "b", ""}));
  // A lone CR or LF is not the delimiter; the match is case-sensitive.
  EXPECT_EQ(SplitString("a\rb\nc", "\r\n"), Pieces({"", "a\rb\nc"}));
  EXPECT_EQ(SplitString("aXbxc", "x"), Pieces({"", "aXb", "c"}));
  EXPECT_EQ(SplitString("ab", ""), Pieces({"", "ab"}));
}

}  // namespace
}  // namespace ravelon
