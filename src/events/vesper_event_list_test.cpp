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

// An event is its date and time as doubles, then its text; a form shorter
// than the stamp leaves the event as it was.
TEST(VesperEventTest, TextFormIsTwoDoublesAndTheText) {
  VesperEvent event, parsed;
  event.SetData(2, 0.5, "abc");
  const std::string form = event.toString();
  EXPECT_EQ(StringToHex(form), "0000000000000040000000000000E03F616263");
  parsed.SetData(7, 8, "old");
  EXPECT_FALSE(parsed.fromString(form.substr(0, 15)));
  EXPECT_EQ(std::pair(parsed.getTime(), parsed.getText()), std::pair(8.0, "old"s));
  ASSERT_TRUE(parsed.fromString(form.substr(0, 16)));
  EXPECT_EQ(parsed.getText(), "");
  const std::string text("\x1B\x69\0\xFF", 4);  // control and high bytes pass through
  ASSERT_TRUE(parsed.fromString(form.substr(0, 16) + text));
  EXPECT_EQ(std::tuple(parsed.getDate(), parsed.getTime(), parsed.getText()),
            std::tuple(2.0, 0.5, text));
}

TEST(VesperEventListTest, TextFormRoundTripsByteForByteAndBadRecordsLeaveAnEmptyList) {
  VesperEventList list;
  const std::string data =
      Record(1, "abc") + Record(2, "") + Record(3, std::string("\x1D\x56\0", 3));
  ASSERT_TRUE(list.fromString(data));
  ASSERT_EQ(list.GetEventCount(), 3);
  EXPECT_EQ(list.GetEvent(1)->getText() + list.GetEvent(3)->getText(), "abc\x1D\x56\0"s);
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
