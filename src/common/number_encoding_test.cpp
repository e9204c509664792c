// Numbers and text in their stored forms: little-endian bytes, hex pairs,
// bounded decimals from settings, and pieces split at a delimiter.
#include "common/number_encoding.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/bounded_number.h"
#include "common/hex_encoding.h"
#include "common/string_helpers.h"

namespace ravelon {
namespace {

TEST(NumberEncodingTest, LittleEndianBytesAndHexPairs) {
  EXPECT_EQ(LongToBytes(0x01020304) + LongToBytes(-2) + DoubleToBytes(-1.0),
            std::string("\x04\x03\x02\x01\xFE\xFF\xFF\xFF\0\0\0\0\0\0\xF0\xBF", 16));
  // Bytes of 0x80 and above must not sign-extend into the higher bytes.
  EXPECT_EQ(BytesToLong(std::string("\x80\x80\x80\x00", 4)), 0x808080);
  EXPECT_EQ(BytesToLong(LongToBytes(INT32_MIN)), INT32_MIN);
  EXPECT_EQ(BytesToDouble(HexToString("0000000010F9E540")), 45000.5);
  EXPECT_EQ(BytesToLong("abc") + BytesToLong("abcde") + BytesToDouble(std::string(9, '@')), 0);
  EXPECT_EQ(HexToLong("09AFaf") + HexToLong("1x"), 0x09AFAF);  // the ends of each range of digits
  // A foreign digit spoils its pair; odd text gives nothing.
  EXPECT_EQ(HexToString("fF00G1") + HexToString("F"), std::string("\xff\0\0", 3));
}

TEST(NumberEncodingTest, BoundedDecimalsElseTheFallback) {
  // text, min, max; the value, or the fallback 42. Halves go to the even
  // neighbour. (Values out of range are in the source settings' cases.)
  const std::tuple<const char*, int32_t, int32_t, int32_t> rows[] = {
      {"  -3 ", -5, 5, -3}, {"+7", 0, 10, 7}, {"2.5", 0, 10, 2},
      {"3.5", 0, 10, 4},    {".6", 0, 10, 1}, {"99999999999999999999999", 0, 10, 42}};
  for (const auto& [text, min, max, value] : rows)
    EXPECT_EQ(ParseBoundedLong(text, min, max, 42), value) << text;
  for (const char* broken : {"", " ", "abc", "1e3", "1,000", "--1", "1.2.3", ".", "+", "0x10"})
    EXPECT_EQ(ParseBoundedLong(broken, 0, 100000, 42), 42) << broken;
}

// Piece 0 is always there and empty; a lone CR or LF is not "\r\n".
TEST(NumberEncodingTest, SplitStringPiecesStartAtIndexOne) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(SplitString("", "\r\n"), Pieces({""}));
  EXPECT_EQ(SplitString("\r\na\r\n\r\nb\r\n\r\n", "\r\n"), Pieces({"", "", "a", "", "b", ""}));
  EXPECT_EQ(SplitString("a\rb\nc", "\r\n"), Pieces({"", "a\rb\nc"}));
  EXPECT_EQ(SplitString("aXbxc", "x"), Pieces({"", "aXb", "c"}));
  EXPECT_EQ(SplitString("ab", ""), Pieces({"", "ab"}));
}

}  // namespace
}  // namespace ravelon
