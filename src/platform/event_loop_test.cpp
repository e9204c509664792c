// The message loop and timer contract, run against both loops: the simulated
// one on virtual time and the Asio one on real time with tiny intervals. Timer
// cases compare orders of events (a tick against a marker timer) rather than
// wall-clock readings, so they hold on a loaded machine too.
#include <gtest/gtest.h>

#include <asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/asio_loop.h"
#include "platform/platform.h"
#include "platform/simulated_loop.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using Log = std::vector<std::string>;

class SimulatedHarness {
 public:
  EventLoop& loop() { return loop_; }
  MonoTime Now() const { return loop_.Now(); }
  // Runs the loop until Stop, or until `limit` has passed.
  void RunFor(milliseconds limit) {
    auto live = std::make_shared<bool>(true);
    loop_.PostAfter(limit, [this, live] {
      if (*live) loop_.Stop();
    });
    loop_.Run();
    *live = false;
  }

 private:
  SimulatedLoop loop_;
};

// The loop of the real platform, as engines get it.
class AsioHarness {
 public:
  EventLoop& loop() { return loop_; }
  MonoTime Now() const { return platform_->GetClock().Monotonic(); }
  // The deadline is a bare Asio timer, so a broken PeriodicTimer cannot hang.
  void RunFor(milliseconds limit) {
    asio::steady_timer guard(loop_.Context(), limit);
    guard.async_wait([this](std::error_code ec) {
      if (!ec) loop_.Stop();
    });
    loop_.Run();
  }

 private:
  std::shared_ptr<Platform> platform_ = NewRealPlatform();
  AsioLoop& loop_ = dynamic_cast<AsioLoop&>(platform_->Loop());
};

struct HarnessNames {
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, SimulatedHarness> ? "Simulated" : "Asio";
  }
};

// Runs `action` once, `ms` after it is made, through a timer of `loop`.
class OneShot {
 public:
  OneShot(EventLoop& loop, int ms, std::function<void()> action) {
    timer_ = loop.NewTimer([this, action = std::move(action)] {
      timer_->SetEnabled(false);
      action();
    });
    timer_->SetInterval(ms);
    timer_->SetEnabled(true);
  }

 private:
  std::unique_ptr<Timer> timer_;
};

template <typename H>
class LoopContractTest : public testing::Test {
 protected:
  H h_;
  EventLoop& loop_ = h_.loop();
};

template <typename H>
class TimerContractTest : public LoopContractTest<H> {};

using Harnesses = testing::Types<SimulatedHarness, AsioHarness>;
TYPED_TEST_SUITE(LoopContractTest, Harnesses, HarnessNames);
TYPED_TEST_SUITE(TimerContractTest, Harnesses, HarnessNames);

TYPED_TEST(LoopContractTest, PumpRunsReadyWorkInOrderWithoutWaiting) {
  EventLoop& loop = this->loop_;
  Log log;
  loop.Post([&] {
    log.push_back("a");
    loop.Post([&] { log.push_back("c"); });
  });
  loop.Post([&] { log.push_back("b"); });
  auto timer = loop.NewTimer([&] { log.push_back("tick"); });
  timer->SetInterval(200);
  timer->SetEnabled(true);

  const MonoTime start = this->h_.Now();
  loop.ProcessPendingEventsOnce();
  loop.ProcessPendingEventsOnce();  // nothing left: returns at once
  EXPECT_EQ(log, (Log{"a", "b", "c"}));
  EXPECT_LT(this->h_.Now() - start, milliseconds(200));

  // Run runs until Stop, not until the deadline of the harness.
  loop.Post([&] {
    log.push_back("stop");
    loop.Stop();
  });
  this->h_.RunFor(milliseconds(5000));
  EXPECT_EQ(log.back(), "stop");
  EXPECT_LT(this->h_.Now() - start, milliseconds(1000));
}

TYPED_TEST(LoopContractTest, NestedPumpInsideAndOutsideRun) {
  EventLoop& loop = this->loop_;
  Log log;
  std::unique_ptr<OneShot> later;
  // A handler that posts work and then pumps the loop from inside itself.
  auto outer = [&] {
    log.push_back("outer");
    loop.Post([&] {
      log.push_back("b");
      loop.Post([&] { log.push_back("b2"); });
    });
    for (int i = 0; i < 4; ++i) loop.Post([&] { log.push_back("c"); });
    loop.ProcessPendingEventsOnce();
    log.push_back("outer-done");
  };

  loop.Post(outer);
  loop.Post([&] { log.push_back("queued"); });
  loop.ProcessPendingEventsOnce();
  EXPECT_EQ(log, (Log{"outer", "queued", "b", "c", "c", "c", "c", "b2", "outer-done"}));

  // Inside Run: the nested pump must neither lose events nor end Run.
  log.clear();
  loop.Post([&] {
    outer();
    later = std::make_unique<OneShot>(loop, 10, [&] {
      log.push_back("later");
      loop.Stop();
    });
  });
  this->h_.RunFor(milliseconds(3000));
  EXPECT_EQ(log, (Log{"outer", "b", "c", "c", "c", "c", "b2", "outer-done", "later"}));

  // Pumping after Run still works.
  loop.Post([&] { log.push_back("after"); });
  loop.ProcessPendingEventsOnce();
  EXPECT_EQ(log.back(), "after");
}

TYPED_TEST(TimerContractTest, TicksOncePerIntervalOnlyWhileEnabled) {
  EventLoop& loop = this->loop_;
  int idle_ticks = 0;
  auto idle = loop.NewTimer([&] { ++idle_ticks; });
  EXPECT_EQ(idle->Interval(), 1000);
  EXPECT_FALSE(idle->Enabled());
  idle->SetInterval(5);  // but never enabled
  auto zero = loop.NewTimer([&] { ++idle_ticks; });
  zero->SetInterval(0);  // below 1 ms: never ticks
  zero->SetEnabled(true);

  std::vector<MonoTime> ticks;
  auto timer = loop.NewTimer([&] {
    ticks.push_back(this->h_.Now());
    if (ticks.size() == 3) loop.Stop();
  });
  timer->SetInterval(10);
  const MonoTime start = this->h_.Now();
  timer->SetEnabled(true);
  this->h_.RunFor(milliseconds(3000));

  ASSERT_EQ(ticks.size(), 3u);
  for (size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_GE(ticks[i] - start, milliseconds(10 * (i + 1))) << i;  // never early
  }
  EXPECT_EQ(idle_ticks, 0);
}

// A timer of 30 ms is touched at 20 ms; a marker runs at 40 ms. A restarted
// countdown ticks at 50 ms, after the marker; an untouched one at 30 ms.
TYPED_TEST(TimerContractTest, RearmRestartsCountdownButEnableAgainDoesNot) {
  struct Case {
    const char* name;
    std::function<void(Timer&)> touch;
    bool restarts;
  };
  const Case cases[] = {
      {"set-interval", [](Timer& t) { t.SetInterval(30); }, true},
      {"disable-enable",
       [](Timer& t) {
         t.SetEnabled(false);
         t.SetEnabled(true);
       },
       true},
      {"enable-again", [](Timer& t) { t.SetEnabled(true); }, false},
  };
  for (const Case& c : cases) {
    EventLoop& loop = this->loop_;
    Log log;
    auto timer = loop.NewTimer([&] {
      log.push_back("tick");
      loop.Stop();
    });
    timer->SetInterval(30);
    timer->SetEnabled(true);
    const MonoTime start = this->h_.Now();
    MonoTime touched{};
    OneShot touch(loop, 20, [&] {
      touched = this->h_.Now();
      c.touch(*timer);
    });
    OneShot marker(loop, 40, [&] { log.push_back("marker"); });
    this->h_.RunFor(milliseconds(3000));

    if (c.restarts) {
      EXPECT_EQ(log, (Log{"marker", "tick"})) << c.name;
      EXPECT_GE(this->h_.Now() - touched, milliseconds(30)) << c.name;
    } else {
      EXPECT_EQ(log, (Log{"tick"})) << c.name;
      EXPECT_GE(this->h_.Now() - start, milliseconds(30)) << c.name;
    }
  }
}

TYPED_TEST(TimerContractTest, HandlerMayDisableRearmOrDestroyItsTimer) {
  EventLoop& loop = this->loop_;
  int disabling = 0, destroying = 0;
  std::vector<MonoTime> rearming;

  std::unique_ptr<Timer> disabler = loop.NewTimer([&] {
    ++disabling;
    disabler->SetEnabled(false);
  });
  std::unique_ptr<Timer> destroyer;
  destroyer = loop.NewTimer([&] {
    destroyer.reset();
    ++destroying;  // the handler outlives its timer
  });
  std::unique_ptr<Timer> rearmer = loop.NewTimer([&] {
    rearming.push_back(this->h_.Now());
    rearmer->SetInterval(25);
    if (rearming.size() == 2) loop.Stop();
  });
  for (Timer* t : {disabler.get(), destroyer.get(), rearmer.get()}) {
    t->SetInterval(10);
    t->SetEnabled(true);
  }
  this->h_.RunFor(milliseconds(3000));

  EXPECT_EQ(disabling, 1);
  EXPECT_FALSE(disabler->Enabled());
  EXPECT_EQ(destroying, 1);
  EXPECT_EQ(destroyer, nullptr);
  ASSERT_EQ(rearming.size(), 2u);
  EXPECT_GE(rearming[1] - rearming[0], milliseconds(25));
}

// Another handler, due at the same instant, stops or re-arms timers whose
// ticks may already be on their way: those ticks must not run.
TYPED_TEST(TimerContractTest, StoppedOrRearmedTimerDropsTickOnItsWay) {
  EventLoop& loop = this->loop_;
  int ticks = 0;
  std::vector<MonoTime> restarted_ticks;
  MonoTime killed_at{};
  std::unique_ptr<Timer> doomed = loop.NewTimer([&] { ++ticks; });
  std::unique_ptr<Timer> paused = loop.NewTimer([&] { ++ticks; });
  std::unique_ptr<Timer> cancelled = loop.NewTimer([&] { ++ticks; });
  std::unique_ptr<Timer> restarted =
      loop.NewTimer([&] { restarted_ticks.push_back(this->h_.Now()); });
  std::unique_ptr<Timer> killer = loop.NewTimer([&] {
    killed_at = this->h_.Now();
    doomed.reset();
    paused->SetEnabled(false);
    restarted->SetInterval(30);
    killer->SetEnabled(false);
  });
  for (Timer* t : {killer.get(), doomed.get(), paused.get(), cancelled.get(), restarted.get()}) {
    t->SetInterval(10);
    t->SetEnabled(true);
  }
  cancelled.reset();  // destroyed while armed

  OneShot end(loop, 50, [&] { loop.Stop(); });
  this->h_.RunFor(milliseconds(3000));
  EXPECT_EQ(ticks, 0);
  for (MonoTime t : restarted_ticks) EXPECT_GE(t - killed_at, milliseconds(30));
}

}  // namespace
}  // namespace ravelon
