#include "common/hex_encoding.h"

#include <gtest/gtest.h>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

TEST(HexEncodingTest, DecodesPairsAndRejectsOddOrForeignDigits) {
  EXPECT_EQ(HexToString("FF"), "\xff");
  EXPECT_EQ(HexToString("ff00"), std::string("\xff\x00", 2));
  EXPECT_EQ(HexToString("G1"), std::string(1, '\0'));
  EXPECT_EQ(HexToString("F"), "");
  EXPECT_EQ(HexToString(""), "");
  EXPECT_EQ(HexToLong("1a"), 26);
  EXPECT_EQ(HexToLong("1x"), 0);
  EXPECT_EQ(HexDigitValue('g'), -1);
}

TEST(HexEncodingTest, FileTimeRoundTripsAsEightBytes) {
  // 2023-03-15 12:00 is the day number 45000.5.
  EXPECT_EQ(StringToHex(DoubleToBytes(45000.5)), "0000000010F9E540");
  EXPECT_EQ(BytesToDouble(HexToString("0000000010F9E540")), 45000.5);
  // Only exactly eight bytes make a time: 7 or 9 bytes, or odd text, give 0.
  EXPECT_EQ(BytesToDouble(HexToString("00000010F9E540")), 0);
  EXPECT_EQ(BytesToDouble(HexToString("0000000010F9E54000")), 0);
  EXPECT_EQ(BytesToDouble(HexToString("0000000010F9E5400")), 0);
}

}  // namespace
}  // namespace ravelon
