// Timer rules: late ticks on a fake alarm, exact virtual times on the simulated loop.
#include "platform/periodic_timer.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "ravelon/testing/simulated_loop.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

struct FakeAlarm final : Alarm {
  void ArmAt(MonoTime deadline) override { armed = deadline; }
  void Disarm() override { armed.reset(); }
  std::optional<MonoTime> armed;
  std::function<void()> fire;
};

// A tick that comes late (the loop was busy) is one tick, and the next one is
// a full interval later instead of a burst of catch-up ticks; a tick that is
// only a little late keeps the cadence.
TEST(PeriodicTimerTest, LateTickDoesNotBurst) {
  SimulatedLoop loop;  // for its clock only: the alarm is fake
  auto at = [](int ms) { return MonoTime(milliseconds(ms)); };
  FakeAlarm* alarm = nullptr;
  int ticks = 0;
  auto make_alarm = [&](std::function<void()> on_fire) {
    auto made = std::make_unique<FakeAlarm>();
    made->fire = std::move(on_fire);
    alarm = made.get();
    return made;
  };
  PeriodicTimer timer(loop.GetClock(), make_alarm, [&] { ++ticks; });
  timer.SetInterval(10);
  EXPECT_FALSE(alarm->armed);
  timer.SetEnabled(true);
  EXPECT_EQ(alarm->armed, at(10));

  loop.AdvanceBy(milliseconds(12));
  alarm->fire();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(alarm->armed, at(20));
  loop.AdvanceBy(milliseconds(35));
  alarm->fire();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(alarm->armed, at(57));

  timer.SetEnabled(false);
  EXPECT_FALSE(alarm->armed);
  alarm->fire();  // a wake-up that races with disabling does not tick
  EXPECT_EQ(ticks, 2);
}

TEST(PeriodicTimerTest, TicksAtExactVirtualTimes) {
  SimulatedLoop loop;
  loop.Run();  // nothing scheduled: returns at once
  EXPECT_EQ(loop.Now().time_since_epoch(), Duration::zero());
  std::vector<milliseconds> ticks;
  auto timer = loop.NewTimer([&] {
    ticks.push_back(std::chrono::duration_cast<milliseconds>(loop.Now().time_since_epoch()));
    if (ticks.size() == 6) loop.Stop();
  });
  timer->SetInterval(50'000);
  timer->SetEnabled(true);
  loop.AdvanceBy(seconds(80));
  timer->SetInterval(50'000);  // re-armed: the tick due at 100 s moves to 130 s
  loop.AdvanceBy(seconds(20));
  timer->SetEnabled(true);  // already enabled: no restart
  loop.AdvanceBy(seconds(40));
  timer->SetEnabled(false);  // at 140 s
  loop.AdvanceBy(seconds(10));
  timer->SetEnabled(true);  // at 150 s: a full interval from then
  loop.Run();               // jumps from tick to tick until Stop
  EXPECT_EQ(ticks, (std::vector<milliseconds>{seconds(50), seconds(130), seconds(200), seconds(250),
                                              seconds(300), seconds(350)}));
  EXPECT_EQ(loop.Now().time_since_epoch(), seconds(350));
  EXPECT_EQ(loop.ScheduledCount(), 1u);  // the next tick, and nothing else
}

}  // namespace
}  // namespace ravelon
