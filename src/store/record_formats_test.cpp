#include "store/record_formats.h"

#include <gtest/gtest.h>

#include "common/hex_encoding.h"

namespace ravelon {
namespace {

// Both records: little-endian fields in a fixed order, decoded back field for
// field, and only from exactly one record's bytes.
TEST(RecordFormatsTest, RecordsAreLittleEndianAndDecodeOnlyWholeRecords) {
  const IndexRecord record{1, 5000, 134507123, 20261204, 12, 1};
  EXPECT_EQ(StringToHex(record.Encode()), "0100000088130000736A0408542935010C01");
  const ID2Record segment{500, 3, 1, 2, 9, 4, 5};
  EXPECT_EQ(segment.Encode().substr(kID2EndFieldsOffset), segment.EncodeEnd());
  IndexRecord record_back;
  ID2Record segment_back;
  EXPECT_FALSE(record_back.Decode(record.Encode() + "x") ||
               segment_back.Decode(segment.EncodeEnd()));
  ASSERT_TRUE(record_back.Decode(record.Encode()) && segment_back.Decode(segment.Encode()));
  EXPECT_EQ(record_back.Encode() + segment_back.Encode(), record.Encode() + segment.Encode());
}

TEST(RecordFormatsTest, PackedDatesAndTimes) {
  // 0.123 s is held as 0.12299...; 86,400 s and more, or below 0, pack as 0.
  const std::pair<double, int32_t> times[] = {
      {49507.123, 134507123}, {86400, 0}, {-1, 0}, {86399.9996, 235959999}, {0.123, 123}};
  for (const auto& [seconds, packed] : times) EXPECT_EQ(TimeToLong(seconds), packed) << seconds;
  const double leap_day = DaysSince18991230(2000, 2, 29);
  const std::pair<double, int32_t> dates[] = {
      {leap_day, 20000229}, {leap_day + 0.75, 20000229}, {0, 18991230}};
  for (const auto& [date, packed] : dates) EXPECT_EQ(DateToLong(date), packed) << date;
}

}  // namespace
}  // namespace ravelon
