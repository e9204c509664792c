#include "common/bounded_number.h"

#include <gtest/gtest.h>

namespace ravelon {
namespace {

TEST(BoundedNumberTest, PlainDecimalsWithinBoundsElseTheFallback) {
  EXPECT_EQ(ParseBoundedLong("8080", 0, 65535, 80), 8080);
  EXPECT_EQ(ParseBoundedLong("  -3 ", -5, 5, 0), -3);
  EXPECT_EQ(ParseBoundedLong("+7", 0, 10, 0), 7);
  EXPECT_EQ(ParseBoundedLong("2.5", 0, 10, 0), 2);  // halves to even
  EXPECT_EQ(ParseBoundedLong("3.5", 0, 10, 0), 4);
  EXPECT_EQ(ParseBoundedLong(".6", 0, 10, 9), 1);
  EXPECT_EQ(ParseBoundedLong("70000", 0, 65535, 80), 80);
  EXPECT_EQ(ParseBoundedLong("5", 10, 60000, 500), 500);  // below the range: not the bound
  EXPECT_EQ(ParseBoundedLong("99999999999999999999999", 0, 10, 4), 4);
  for (const char* broken : {"", " ", "abc", "1e3", "1,000", "--1", "1.2.3", ".", "+", "0x10"}) {
    EXPECT_EQ(ParseBoundedLong(broken, 0, 100000, 42), 42) << broken;
  }
}

}  // namespace
}  // namespace ravelon
