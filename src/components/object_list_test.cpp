// The engine's lists: frame queues, and the pairs that enumerations fill.
#include "components/object_list.h"

#include <gtest/gtest.h>

#include <memory>

#include "components/string_pair_list.h"

namespace ravelon {
namespace {

TEST(ObjectListTest, ArrivalOrderAndTakeLast) {
  ObjectList<int> list;
  EXPECT_EQ(list.Front(), nullptr);
  EXPECT_EQ(list.TakeLast(), nullptr);
  list.RemoveFront();
  for (int value : {1, 2, 3}) list.Append(std::make_shared<int>(value));
  // A full queue swaps its newest item: arrival order is kept.
  EXPECT_EQ(*list.TakeLast(), 3);
  list.Append(std::make_shared<int>(4));
  for (int value : {1, 2, 4}) {
    ASSERT_NE(list.Front(), nullptr);
    EXPECT_EQ(*list.Front(), value);
    list.RemoveFront();
  }
  EXPECT_TRUE(list.IsEmpty());
}

TEST(StringPairListTest, ItemsOutsideTheListAreEmpty) {
  StringPairList list;
  list.Add({"a", "1"});
  for (int32_t i : {-1, 1}) EXPECT_EQ(list.Item(i).name + list.Item(i).value, "") << i;
  EXPECT_EQ(list.Item(0).value, "1");
}

}  // namespace
}  // namespace ravelon
