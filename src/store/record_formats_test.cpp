#include "store/record_formats.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace ravelon {
namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[4];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02X ", c);
    out += digits;
  }
  return out;
}

TEST(RecordFormatsTest, IndexRecordIsEighteenBytesExactly) {
  const double date = DaysSince18991230(2026, 12, 4);
  IndexRecord record{1, 5000, TimeToLong(13 * 3600 + 45 * 60 + 7.123), DateToLong(date), 12, 1};
  EXPECT_EQ(Hex(record.Encode()), "01 00 00 00 88 13 00 00 73 6A 04 08 54 29 35 01 0C 01 ");
  IndexRecord back;
  ASSERT_TRUE(back.Decode(record.Encode()));
  EXPECT_EQ(back.time, 134507123);
  EXPECT_EQ(back.date, 20261204);
  EXPECT_FALSE(back.Decode(record.Encode() + "x"));

  ID2Record segment{500, 3, 1, 2, 9, 4, 5};
  EXPECT_EQ(segment.Encode().size(), 28u);
  EXPECT_EQ(segment.Encode().substr(kID2EndFieldsOffset), segment.EncodeEnd());
  ID2Record segment_back;
  ASSERT_TRUE(segment_back.Decode(segment.Encode()));
  EXPECT_EQ(segment_back.endFrame, 9);
  EXPECT_EQ(segment_back.endDate, 5);
}

TEST(RecordFormatsTest, PackedDatesAndTimes) {
  EXPECT_EQ(TimeToLong(86400), 0);
  EXPECT_EQ(TimeToLong(86399.9996), 235959999);
  EXPECT_EQ(TimeToLong(0.123), 123);  // held as 0.12299...
  EXPECT_EQ(DateToLong(46360.75), DateToLong(46360));
  EXPECT_EQ(DateToLong(DaysSince18991230(2000, 2, 29)), 20000229);
  EXPECT_EQ(DateToLong(0), 18991230);
}

}  // namespace
}  // namespace ravelon
