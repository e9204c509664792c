// Events and event lists: their text forms, and copies that own their parts.
#include "events/vesper_event_list.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/hex_encoding.h"
#include "common/number_encoding.h"

namespace ravelon {
namespace {

using namespace std::string_literals;

std::string Record(double time, const std::string& text) {
  VesperEvent event;
  event.SetData(45000, time, text);
  return LongToBytes(static_cast<int32_t>(16 + text.size())) + event.toString();
}

// A record is its length, the event's date and time as doubles, then its
// text, control and high bytes too.
TEST(VesperEventListTest, TextFormRoundTripsByteForByteAndBadRecordsLeaveAnEmptyList) {
  VesperEventList list;
  const std::string data =
      Record(1, "abc") + Record(2, "") + Record(3, std::string("\x1D\x56\0\xFF", 4));
  EXPECT_EQ(StringToHex(data.substr(0, 23)), "130000000000000000F9E540000000000000F03F616263");
  ASSERT_TRUE(list.fromString(data));
  ASSERT_EQ(list.GetEventCount(), 3);
  EXPECT_EQ(list.GetEvent(1)->getText() + list.GetEvent(3)->getText(), "abc\x1D\x56\0\xFF"s);
  EXPECT_EQ(list.toString(), data);
  EXPECT_TRUE(list.GetEvent(0) == nullptr && list.GetEvent(4) == nullptr);
  // One to three stray bytes after the last record are ignored.
  ASSERT_TRUE(list.fromString(Record(7, "z") + "\x05\0\0"s));
  EXPECT_EQ(list.GetEventCount(), 1);
  // Shorter than the stamp, negative, hostile, one byte missing.
  const std::string good = Record(1, "ok");
  for (const std::string& bad :
       {LongToBytes(15) + std::string(15, 'x'), LongToBytes(-1) + std::string(32, 'x'),
        LongToBytes(0x7FFFFFFF) + std::string(32, 'x'), LongToBytes(20) + std::string(19, 'x')}) {
    ASSERT_TRUE(list.fromString(good));
    EXPECT_FALSE(list.fromString(good + bad + good));
    EXPECT_EQ(list.GetEventCount(), 0);
  }
  EXPECT_TRUE(list.fromString("") && list.toString().empty());
}

// Copies own their stamps; getDateTime is the event's own stamp.
TEST(VesperEventListTest, EventsAreCopiedAndCountedUpToAStamp) {
  VesperEventList list;
  VesperEvent event;
  for (double time : {10, 20, 30}) {
    event.SetData(45000, time, "e");
    list.AddEventObject(event);
  }
  DateTimeStamp& stamp = event.getDateTime();
  DateTimeStamp other;
  other.Set(45001, 50);
  event.setDateTime(other);  // copies into the same stamp object
  VesperEvent copy = event, assigned;
  assigned = event;
  copy.setDate(1);
  assigned.setTime(60);
  EXPECT_EQ(std::tuple(stamp.GetDate(), event.getTime(), list.GetEvent(3)->getTime()),
            std::tuple(45001.0, 50.0, 30.0));
  // The events at or before a stamp.
  for (const auto& [time, index] : {std::pair(20.0, 2), std::pair(5.0, 0), std::pair(40.0, 3)})
    EXPECT_EQ(list.GetEventIndexByDateTime(45000, time), index) << time;
  list.Reset();
  EXPECT_EQ(list.GetEventIndexByDateTime(45000, 40), -1);
}

}  // namespace
}  // namespace ravelon
