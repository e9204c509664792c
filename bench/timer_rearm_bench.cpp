// The engine re-arms its watchdog after every part of the stream (disable,
// then enable), so at tens of thousands of parts per second the cost of a
// re-arm is part of the parsing path. This measures it on both loops.
#include <benchmark/benchmark.h>

#include "ravelon/platform.h"
#include "ravelon/testing/simulated_platform.h"

namespace {

void RearmLoop(benchmark::State& state, ravelon::Platform& platform) {
  auto timer = platform.Loop().NewTimer([] {});
  timer->SetInterval(15'000);
  for (auto _ : state) {
    timer->SetEnabled(false);
    timer->SetEnabled(true);
  }
  timer->SetEnabled(false);
  platform.Loop().ProcessPendingEventsOnce();
  state.SetItemsProcessed(state.iterations());
}

void BM_WatchdogRearmReal(benchmark::State& state) {
  auto platform = ravelon::NewRealPlatform();
  RearmLoop(state, *platform);
}
BENCHMARK(BM_WatchdogRearmReal);

void BM_WatchdogRearmSimulated(benchmark::State& state) {
  ravelon::SimulatedPlatform platform;
  RearmLoop(state, platform);
}
BENCHMARK(BM_WatchdogRearmSimulated);

}  // namespace

BENCHMARK_MAIN();
