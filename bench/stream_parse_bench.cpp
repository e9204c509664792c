// Throughput of the stream parser: a multipart stream of JPEG-like parts goes
// through the engine's real data-arrival path (socket event, input buffer,
// part search, dispatch, new-frame handling, filter chain) on the simulated
// platform, one arrival per Send. Arrivals of one TCP segment (1,460 bytes)
// and of a large socket read (64 KiB), parts of about 50 KB and 300 KB.
//
// Arguments: arrival size, part size, copy. With copy = 1 each arrival is
// copied from the prepared chunks inside the timed loop, as a socket copies
// what it receives; with copy = 0 the copies are made with the timer paused.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"

namespace {

using ravelon::Duration;

constexpr char kResponseHeader[] =
    "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n";
constexpr int kPartsPerCycle = 64;

// Counts frames and their bytes; the engine's work ends here.
class CountingChain final : public ravelon::FrameFilterChain {
 public:
  void release() override {}
  void reset() override {}
  std::shared_ptr<ravelon::FilterResult> process(
      std::shared_ptr<ravelon::MediaFrame>& frame) override {
    ++frames;
    bytes += frame->getDataLength();
    return nullptr;
  }
  int64_t frames = 0;
  int64_t bytes = 0;
};

// 64 parts of JPEG-like bodies (random bytes from a fixed seed between the
// SOI and EOI markers), sizes within 10% of `part_size`.
std::string MakeCycle(int part_size, int64_t& body_bytes) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> size_of(part_size * 9 / 10, part_size * 11 / 10);
  std::string cycle;
  body_bytes = 0;
  for (int i = 0; i < kPartsPerCycle; ++i) {
    std::string body(size_of(random), '\0');
    for (char& c : body) c = static_cast<char>(random());
    body[0] = '\xFF';
    body[1] = '\xD8';
    body[body.size() - 2] = '\xFF';
    body[body.size() - 1] = '\xD9';
    body_bytes += static_cast<int64_t>(body.size());
    cycle += "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n";
  }
  return cycle;
}

void BM_StreamParse(benchmark::State& state) {
  const auto arrival_size = static_cast<size_t>(state.range(0));
  const int part_size = static_cast<int>(state.range(1));
  const bool copy_in_loop = state.range(2) != 0;

  int64_t body_bytes = 0;
  const std::string cycle = MakeCycle(part_size, body_bytes);
  std::vector<std::string> chunks;
  for (size_t at = 0; at < cycle.size(); at += arrival_size) {
    chunks.push_back(cycle.substr(at, arrival_size));
  }

  auto platform = std::make_shared<ravelon::SimulatedPlatform>();
  auto& camera = platform->network().Listen("cam", 80);
  auto chain = std::make_shared<CountingChain>();
  ravelon::Korvid engine(platform);
  engine.SetAddress("cam");
  engine.SetPort(80);
  engine.SetUrl("/video");
  engine.SetStreaming(true);
  engine.setFilterChain(chain);
  engine.Connect();
  platform->AdvanceBy(Duration::zero());
  auto connection = camera.LastConnection();
  if (!connection) {
    state.SkipWithError("the engine did not connect");
    return;
  }
  connection->Send(kResponseHeader);
  platform->AdvanceBy(Duration::zero());
  // One cycle first: the input buffer reaches its working size.
  for (const std::string& chunk : chunks) {
    connection->Send(chunk);
    platform->AdvanceBy(Duration::zero());
  }

  const int64_t frames_before = chain->frames;
  std::vector<std::string> copies;
  for (auto _ : state) {
    if (copy_in_loop) {
      for (const std::string& chunk : chunks) {
        connection->Send(chunk);
        platform->AdvanceBy(Duration::zero());
      }
    } else {
      state.PauseTiming();
      copies = chunks;
      state.ResumeTiming();
      for (std::string& chunk : copies) {
        connection->Send(std::move(chunk));
        platform->AdvanceBy(Duration::zero());
      }
    }
  }
  const int64_t frames = chain->frames - frames_before;
  if (frames != state.iterations() * kPartsPerCycle) {
    state.SkipWithError("frames were lost");
    return;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(cycle.size()));
  state.counters["parts"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["arrivals"] = benchmark::Counter(
      static_cast<double>(state.iterations() * static_cast<int64_t>(chunks.size())),
      benchmark::Counter::kIsRate);
}

BENCHMARK(BM_StreamParse)
    ->ArgNames({"arrival", "part", "copy"})
    ->Args({65536, 300'000, 1})
    ->Args({1460, 50'000, 1})
    ->Args({65536, 50'000, 1})
    ->Args({1460, 300'000, 1})
    ->Args({65536, 300'000, 0})
    ->Args({1460, 50'000, 0})
    ->Args({65536, 50'000, 0})
    ->Args({1460, 300'000, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
