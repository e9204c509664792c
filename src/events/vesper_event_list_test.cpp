#include "events/vesper_event_list.h"

#include <gtest/gtest.h>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

std::string Record(double time, const std::string& text) {
  VesperEvent event;
  event.SetData(45000, time, text);
  return LongToBytes(static_cast<int32_t>(16 + text.size())) + event.toString();
}

TEST(VesperEventListTest, TextFormRoundTripsByteForByteAndBadRecordsLeaveAnEmptyList) {
  VesperEventList list;
  const std::string data =
      Record(1, "abc") + Record(2, "") + Record(3, std::string("\x1D\x56\0", 3));
  ASSERT_TRUE(list.fromString(data));
  ASSERT_EQ(list.GetEventCount(), 3);
  EXPECT_EQ(list.GetEvent(1)->getText(), "abc");
  EXPECT_EQ(list.GetEvent(3)->getTime(), 3);
  EXPECT_EQ(list.toString(), data);
  EXPECT_EQ(list.GetEvent(0), nullptr);
  EXPECT_EQ(list.GetEvent(4), nullptr);
  // One to three stray bytes after the last record are ignored.
  ASSERT_TRUE(list.fromString(Record(7, "z") + "\x05\0\0"));
  EXPECT_EQ(list.GetEventCount(), 1);

  const std::string good = Record(1, "ok");
  for (const std::string& bad : {
           LongToBytes(15) + std::string(15, 'x'),          // shorter than the stamp
           LongToBytes(-1) + std::string(32, 'x'),          // negative length
           LongToBytes(0x7FFFFFFF) + std::string(32, 'x'),  // hostile length
           LongToBytes(20) + std::string(19, 'x'),          // one byte missing
       }) {
    ASSERT_TRUE(list.fromString(good));
    EXPECT_FALSE(list.fromString(good + bad + good));
    EXPECT_EQ(list.GetEventCount(), 0);
  }
  EXPECT_TRUE(list.fromString(""));
  EXPECT_EQ(list.toString(), "");
}

TEST(VesperEventListTest, EventsAreCopiedInAndCountedBeforeAStamp) {
  VesperEventList list;
  VesperEvent event;
  for (double time : {10, 20, 30}) {
    event.SetData(45000, time, "e");
    list.AddEventObject(event);
  }
  event.setText("changed");
  EXPECT_EQ(list.GetEvent(3)->getText(), "e");

  // How many events come before a stamp: an event at the stamp itself does not.
  EXPECT_EQ(list.GetEventIndexByDateTime(45000, 20), 2);
  EXPECT_EQ(list.GetEventIndexByDateTime(45000, 5), 0);
  EXPECT_EQ(list.GetEventIndexByDateTime(45000, 40), 3);
  list.Reset();
  EXPECT_EQ(list.GetEventIndexByDateTime(45000, 40), -1);
}

}  // namespace
}  // namespace ravelon
