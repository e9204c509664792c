#include "components/object_list.h"

#include <gtest/gtest.h>

#include <memory>

namespace ravelon {
namespace {

TEST(ObjectListTest, ArrivalOrderAndOwnership) {
  ObjectList<int> list;
  EXPECT_EQ(list.Front(), nullptr);
  EXPECT_EQ(list.TakeLast(), nullptr);
  list.RemoveFront();

  auto first = std::make_shared<int>(1);
  list.Append(first);
  list.Append(std::make_shared<int>(2));
  list.Append(std::make_shared<int>(3));
  // A full queue swaps its newest item: arrival order is kept.
  EXPECT_EQ(*list.TakeLast(), 3);
  list.Append(std::make_shared<int>(4));
  EXPECT_EQ(first.use_count(), 2);

  for (int value : {1, 2, 4}) {
    ASSERT_NE(list.Front(), nullptr);
    EXPECT_EQ(*list.Front(), value);
    list.RemoveFront();
  }
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(first.use_count(), 1);
}

}  // namespace
}  // namespace ravelon
