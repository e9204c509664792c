#include "platform/periodic_timer.h"

#include <gtest/gtest.h>

#include <optional>

namespace ravelon {
namespace {

using std::chrono::milliseconds;

class FakeClock final : public Clock {
 public:
  double Today() const override { return 0; }
  double SecondsSinceMidnight() const override { return 0; }
  MonoTime Monotonic() const override { return now; }
  MonoTime now{};
};

class FakeAlarm final : public Alarm {
 public:
  void ArmAt(MonoTime deadline) override { armed = deadline; }
  void Disarm() override { armed.reset(); }
  std::optional<MonoTime> armed;
  std::function<void()> fire;
};

// A tick that comes late (the loop was busy) is one tick, and the next one is
// a full interval later instead of a burst of catch-up ticks; a tick that is
// only a little late keeps the cadence.
TEST(PeriodicTimerTest, LateTickDoesNotBurst) {
  FakeClock clock;
  FakeAlarm* alarm = nullptr;
  int ticks = 0;
  PeriodicTimer timer(
      clock,
      [&](std::function<void()> on_fire) {
        auto made = std::make_unique<FakeAlarm>();
        made->fire = std::move(on_fire);
        alarm = made.get();
        return made;
      },
      [&] { ++ticks; });
  const MonoTime t0 = clock.now;
  timer.SetInterval(10);
  EXPECT_FALSE(alarm->armed);
  timer.SetEnabled(true);
  EXPECT_EQ(alarm->armed, t0 + milliseconds(10));

  clock.now = t0 + milliseconds(12);
  alarm->fire();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(alarm->armed, t0 + milliseconds(20));

  clock.now = t0 + milliseconds(47);
  alarm->fire();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(alarm->armed, t0 + milliseconds(57));

  // A wake-up that races with disabling does not tick.
  timer.SetEnabled(false);
  EXPECT_FALSE(alarm->armed);
  alarm->fire();
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace ravelon
