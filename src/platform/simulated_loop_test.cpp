#include "platform/simulated_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(SimulatedLoopTest, AlarmsFireInDeadlineOrderWithArmingOrderOnTies) {
  SimulatedLoop loop;
  std::vector<std::string> order;
  loop.PostAfter(milliseconds(20), [&] { order.push_back("b20"); });
  loop.PostAfter(milliseconds(10), [&] { order.push_back("a10"); });
  loop.PostAfter(milliseconds(20), [&] { order.push_back("c20"); });
  loop.Post([&] { order.push_back("ready"); });

  loop.AdvanceBy(milliseconds(15));
  EXPECT_EQ(order, (std::vector<std::string>{"ready", "a10"}));
  loop.AdvanceBy(milliseconds(5));
  EXPECT_EQ(order, (std::vector<std::string>{"ready", "a10", "b20", "c20"}));
  EXPECT_EQ(loop.Now().time_since_epoch(), milliseconds(20));
}

TEST(SimulatedLoopTest, NestedProcessPendingRunsReadyWorkWithoutMovingTime) {
  SimulatedLoop loop;
  std::vector<std::string> order;
  loop.PostAfter(seconds(1), [&] {
    order.push_back("outer");
    loop.Post([&] { order.push_back("posted-by-outer"); });
    loop.PostAfter(seconds(1), [&] { order.push_back("later"); });
    loop.ProcessPendingEventsOnce();
    order.push_back("outer-done");
  });
  loop.PostAfter(seconds(1), [&] { order.push_back("same-deadline"); });

  loop.AdvanceBy(seconds(1));
  // The nested pump ran what was due at the same instant, not what lies ahead.
  EXPECT_EQ(order,
            (std::vector<std::string>{"outer", "posted-by-outer", "same-deadline", "outer-done"}));
  loop.AdvanceBy(seconds(1));
  EXPECT_EQ(order.back(), "later");
}

TEST(SimulatedLoopTest, TimerTicksAtExactVirtualTimes) {
  SimulatedLoop loop;
  std::vector<milliseconds> ticks;
  auto timer = loop.NewTimer([&] {
    ticks.push_back(std::chrono::duration_cast<milliseconds>(loop.Now().time_since_epoch()));
  });
  timer->SetInterval(50'000);
  timer->SetEnabled(true);
  loop.AdvanceBy(milliseconds(49'999));
  EXPECT_TRUE(ticks.empty());
  loop.AdvanceBy(milliseconds(1));
  EXPECT_EQ(ticks, (std::vector<milliseconds>{seconds(50)}));

  // Re-armed at 80 s: the countdown restarts, so the tick due at 100 s moves to 130 s.
  loop.AdvanceBy(seconds(30));
  timer->SetInterval(50'000);
  loop.AdvanceBy(seconds(20));
  timer->SetEnabled(true);  // already enabled: no restart
  loop.AdvanceBy(seconds(30));
  EXPECT_EQ(ticks, (std::vector<milliseconds>{seconds(50), seconds(130)}));

  // Disabled at 140 s and enabled at 150 s: a full interval from then.
  loop.AdvanceBy(seconds(10));
  timer->SetEnabled(false);
  loop.AdvanceBy(seconds(10));
  timer->SetEnabled(true);
  loop.AdvanceBy(seconds(100));
  EXPECT_EQ(ticks,
            (std::vector<milliseconds>{seconds(50), seconds(130), seconds(200), seconds(250)}));
}

TEST(SimulatedLoopTest, RunJumpsFromAlarmToAlarmUntilStop) {
  SimulatedLoop loop;
  loop.Run();  // nothing scheduled: returns at once
  EXPECT_EQ(loop.Now().time_since_epoch(), Duration::zero());

  int ticks = 0;
  auto timer = loop.NewTimer([&] {
    if (++ticks == 3) loop.Stop();
  });
  timer->SetInterval(20'000);
  timer->SetEnabled(true);
  loop.Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(loop.Now().time_since_epoch(), seconds(60));
  EXPECT_EQ(loop.ScheduledCount(), 1u);  // the next tick, and nothing else
}

}  // namespace
}  // namespace ravelon
