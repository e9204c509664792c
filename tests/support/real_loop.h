// Runs a real platform's loop until a condition holds or a time limit
// passes, checking the condition (and polling test servers) every
// millisecond. Bounded, so a failing end-to-end test cannot hang the suite.
#pragma once

#include <chrono>
#include <functional>

#include "ravelon/platform.h"

namespace ravelon::testing {

inline bool RunUntil(
    Platform& platform, const std::function<bool()>& done,
    std::chrono::milliseconds limit = std::chrono::seconds(5),
    const std::function<void()>& each_tick = [] {}) {
  const MonoTime give_up = platform.GetClock().Monotonic() + limit;
  bool reached = false;
  auto poll = platform.Loop().NewTimer([&] {
    each_tick();
    if ((reached = done()) || platform.GetClock().Monotonic() >= give_up) platform.Loop().Stop();
  });
  poll->SetInterval(1);
  poll->SetEnabled(true);
  platform.Loop().Run();
  return reached;
}

}  // namespace ravelon::testing
