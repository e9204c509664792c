#include "common/hex_encoding.h"

#include <gtest/gtest.h>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

TEST(HexEncodingTest, PairsOfDigitsAndEightByteFileTimes) {
  EXPECT_EQ(HexToLong("09AFaf"), 0x09AFAF);  // the ends of each range of digits
  EXPECT_EQ(HexToLong("1x"), 0);
  EXPECT_EQ(HexToString("fF00"), std::string("\xff\x00", 2));
  EXPECT_EQ(HexToString("G1"), std::string(1, '\0'));  // a foreign digit spoils its pair
  EXPECT_EQ(HexToString("F"), "");
  EXPECT_EQ(HexToString(""), "");
  // 2023-03-15 12:00 is the day number 45000.5. Only exactly eight bytes make
  // a time: 7 or 9 bytes, or odd text, give 0.
  EXPECT_EQ(StringToHex(DoubleToBytes(45000.5)), "0000000010F9E540");
  EXPECT_EQ(BytesToDouble(HexToString("0000000010F9E540")), 45000.5);
  for (const char* text : {"00000010F9E540", "0000000010F9E54000", "0000000010F9E5400"})
    EXPECT_EQ(BytesToDouble(HexToString(text)), 0) << text;
}

}  // namespace
}  // namespace ravelon
