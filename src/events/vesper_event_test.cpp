#include "events/vesper_event.h"

#include <gtest/gtest.h>

namespace ravelon {
namespace {

TEST(VesperEventTest, TextFormIsTwoDoublesAndTheText) {
  VesperEvent event;
  event.SetData(2, 0.5, "abc");
  const std::string form = event.toString();
  EXPECT_EQ(form, std::string("\0\0\0\0\0\0\0\x40\0\0\0\0\0\0\xE0\x3F"
                              "abc",
                              19));

  VesperEvent parsed;
  parsed.SetData(7, 8, "old");
  EXPECT_FALSE(parsed.fromString(form.substr(0, 15)));
  EXPECT_EQ(parsed.getTime(), 8);
  EXPECT_EQ(parsed.getText(), "old");
  ASSERT_TRUE(parsed.fromString(form.substr(0, 16)));
  EXPECT_EQ(parsed.getText(), "");
  EXPECT_EQ(parsed.getTime(), 0.5);
  const std::string text("\x1B\x69\0\xFF", 4);  // control and high bytes pass through
  ASSERT_TRUE(parsed.fromString(form.substr(0, 16) + text));
  EXPECT_EQ(parsed.getText(), text);
}

TEST(VesperEventTest, CopiesHaveStampsOfTheirOwnAndGetDateTimeIsTheEventsOwn) {
  VesperEvent event;
  event.SetData(100, 10, "x");
  DateTimeStamp& stamp = event.getDateTime();
  stamp.SetTime(20);
  EXPECT_EQ(event.getTime(), 20);
  DateTimeStamp other;
  other.Set(101, 30);
  event.setDateTime(other);  // copies into the same stamp object
  EXPECT_EQ(stamp.GetDate(), 101);

  VesperEvent copy = event, assigned;
  assigned = event;
  copy.setTime(40);
  assigned.setTime(50);
  EXPECT_EQ(event.getTime(), 30);
  EXPECT_EQ(assigned.getText(), "x");
}

}  // namespace
}  // namespace ravelon
