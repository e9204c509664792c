#include "parsing/parameter_list.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ravelon {
namespace {

TEST(ParameterListTest, HeaderLinesAreTrimmedAndFoundWithoutRegardToCase) {
  ParameterList list;
  EXPECT_TRUE(list.AddParameterFromString("Content-Type: image/jpeg", ":"));
  EXPECT_FALSE(list.AddParameterFromString("--myboundary", ":"));
  EXPECT_TRUE(list.AddParameterFromString(" X : ", ":"));
  EXPECT_TRUE(list.AddParameterFromString("\tUrl : http://h:80/ ", ":"));
  ASSERT_EQ(list.getParameterCount(), 3);

  std::string name, value = "untouched";
  EXPECT_FALSE(list.getParameterByName("content-length", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_TRUE(list.getParameterByName("CONTENT-type", value));
  EXPECT_EQ(value, "image/jpeg");
  EXPECT_EQ(list.ParameterToString(1, ":"), "Content-Type:image/jpeg");
  list.getParameter(2, name, value);
  EXPECT_EQ(name + "|" + value, "X|");
  // Only spaces are trimmed, and only the first splitter splits.
  EXPECT_EQ(list.getParameterIndex("\turl"), 3);
  EXPECT_EQ(list.getParameterValueByIndex(3), "http://h:80/");
  EXPECT_THROW(list.getParameterValueByIndex(4), std::out_of_range);
  EXPECT_THROW(list.getParameter(-1, name, value), std::out_of_range);
  list.getParameter(0, name, value);
  EXPECT_EQ(name + value, "");
}

TEST(ParameterListTest, DuplicatesResolveToTheFirstEntryAndOnlyAsciiLettersFold) {
  ParameterList list;
  list.AddParameterFromString("A:1", ":");
  list.AddParameterFromString("a:2", ":");
  EXPECT_FALSE(list.AddParameter("a", "3"));
  list.SetParameter("a", "4");
  list.SetParameter("B", "5");
  EXPECT_EQ(list.ParameterToString(1, "="), "A=4");
  EXPECT_EQ(list.getParameterValueByIndex(2), "2");
  EXPECT_EQ(list.getParameterIndex("b"), 3);

  list.Clear();
  EXPECT_EQ(list.getParameterIndex("a"), -1);
  list.AddParameter("\xC3\x89t\xC3\xA9", "v");  // "Été" in UTF-8
  list.AddParameter("@[", "w");                 // neighbours of A and Z
  EXPECT_EQ(list.getParameterIndex("\xC3\x89T\xC3\xA9"), 1);
  EXPECT_EQ(list.getParameterIndex("\xC3\xA9t\xC3\xA9"), -1);
  EXPECT_EQ(list.getParameterIndex("`{"), -1);
}

}  // namespace
}  // namespace ravelon
