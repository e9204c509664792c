#include "common/number_encoding.h"

#include <gtest/gtest.h>

#include <limits>

namespace ravelon {
namespace {

TEST(NumberEncodingTest, LittleEndianBytesBothWays) {
  EXPECT_EQ(LongToBytes(0x01020304), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(LongToBytes(-2), std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(DoubleToBytes(-1.0), std::string("\0\0\0\0\0\0\xF0\xBF", 8));
  // Bytes of 0x80 and above must not sign-extend into the higher bytes.
  EXPECT_EQ(BytesToLong(std::string("\x80\x80\x80\x00", 4)), 0x808080);
  EXPECT_EQ(BytesToLong(LongToBytes(std::numeric_limits<int32_t>::min())),
            std::numeric_limits<int32_t>::min());
  EXPECT_EQ(BytesToDouble(std::string("\x00\x00\x00\x00\x80\xF9\xE5\x40", 8)), 45004.0);
  EXPECT_EQ(BytesToDouble(DoubleToBytes(86399.999)), 86399.999);
  EXPECT_EQ(BytesToLong("abc"), 0);
  EXPECT_EQ(BytesToLong("abcde"), 0);
  EXPECT_EQ(BytesToDouble(std::string(7, '\x40')), 0);
}

}  // namespace
}  // namespace ravelon
