// Throughput of stream parsing: a multipart stream of JPEG-like parts, held
// in memory, is appended to a StreamReader in arrivals of one TCP segment
// (1,460 bytes), of a typical socket read (16 KiB) or of a large one (64 KiB),
// and every complete part is taken after each arrival, as the connection
// does. Parts of about 50 KB and 280 KB.
//
// Arguments: arrival size, part size, pipeline. With pipeline = 1 every frame
// also goes through the frame pipeline (number, stamp from the real clock,
// rate count, current frame, save queue), and the queue is emptied once per
// cycle as a save run would.
//
// BM_HostileStream: the cost of a stream made to slow the boundary search.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/engine_limits.h"
#include "parsing/byte_search.h"
#include "parsing/stream_reader.h"
#include "pipeline/frame_pipeline.h"
#include "pipeline/save_queue.h"
#include "platform/system_clock.h"
#include "ravelon/media_frame.h"
#include "schedule/rate_statistics.h"

namespace {

constexpr char kResponseHeader[] =
    "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n";
constexpr int kPartsPerCycle = 64;

class SavingOwner final : public ravelon::FramePipelineOwner {
 public:
  bool SavingAllowed() const override { return true; }
  void Debug(uint8_t, const std::string&) override {}
};

// 64 parts of JPEG-like bodies (random bytes from a fixed seed between the
// SOI and EOI markers), sizes within 10% of `part_size`.
std::string MakeCycle(int part_size) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> size_of(part_size * 9 / 10, part_size * 11 / 10);
  std::string cycle;
  for (int i = 0; i < kPartsPerCycle; ++i) {
    std::string body(size_of(random), '\0');
    for (char& c : body) c = static_cast<char>(random());
    body[0] = '\xFF';
    body[1] = '\xD8';
    body[body.size() - 2] = '\xFF';
    body[body.size() - 1] = '\xD9';
    cycle += "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n";
  }
  return cycle;
}

void BM_StreamParse(benchmark::State& state) {
  const auto arrival_size = static_cast<size_t>(state.range(0));
  const std::string cycle = MakeCycle(static_cast<int>(state.range(1)));
  std::vector<std::string_view> arrivals;
  for (size_t at = 0; at < cycle.size(); at += arrival_size) {
    arrivals.push_back(std::string_view(cycle).substr(at, arrival_size));
  }

  ravelon::SystemClock clock;
  ravelon::SaveQueue queue;
  ravelon::RateStatistics rates(clock);
  SavingOwner owner;
  ravelon::FramePipeline pipeline(clock, queue, rates, owner);
  pipeline.StartConnection();
  const bool use_pipeline = state.range(2) != 0;

  ravelon::StreamReader reader;
  reader.Append(kResponseHeader);
  if (!reader.TakeResponseHeader()) {
    state.SkipWithError("the response header was not accepted");
    return;
  }
  int64_t parts = 0;
  const auto run_cycle = [&] {
    std::shared_ptr<ravelon::MediaFrame> frame;
    for (std::string_view arrival : arrivals) {
      reader.Append(arrival);
      while (reader.TakePart(frame) != ravelon::StreamReader::kNoPart) {
        ++parts;
        if (use_pipeline) pipeline.HandleNewFrame(frame);
      }
    }
    queue.Clear();
  };
  run_cycle();  // the input buffer reaches its working size
  const int64_t parts_before = parts;
  for (auto _ : state) run_cycle();

  if (parts - parts_before != state.iterations() * kPartsPerCycle) {
    state.SkipWithError("parts were lost");
    return;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(cycle.size()));
  state.counters["parts"] =
      benchmark::Counter(static_cast<double>(parts - parts_before), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_StreamParse)
    ->ArgNames({"arrival", "part", "pipeline"})
    ->ArgsProduct({{65536, 16384, 1460}, {50'000, 280'000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// A hostile source: the longest boundary accepted, made of dashes but for one
// byte in its middle, and a body of dashes, so that every byte is a place
// where the boundary could begin and end. The reader must cross it in linear time; the input
// limit clears the buffer every 10 MB.
void BM_HostileStream(benchmark::State& state) {
  std::string boundary(ravelon::kMaxBoundaryLength, '-');
  boundary[boundary.size() / 2] = 'X';
  const std::string arrival(65'536, '-');
  ravelon::StreamReader reader;
  reader.Append("Content-Type: multipart/x; boundary=" + boundary + "\r\n");
  if (!reader.TakeResponseHeader()) {
    state.SkipWithError("the response header was not accepted");
    return;
  }
  reader.Append("--" + boundary + "\r\n\r\n");
  std::shared_ptr<ravelon::MediaFrame> frame;
  for (auto _ : state) {
    reader.Append(arrival);
    benchmark::DoNotOptimize(reader.TakePart(frame));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(arrival.size()));
}

BENCHMARK(BM_HostileStream);

// The boundary search alone over image-like bytes held in the cache (32 KiB)
// or not (8 MiB), with each vector scan this processor has (1 SSE2, 2 AVX2,
// 3 AVX-512): the parser's floor.
void BM_BoundarySearch(benchmark::State& state) {
  const auto width = static_cast<ravelon::ScanWidth>(state.range(1));
  if (width > ravelon::WidestScan()) return state.SkipWithError("not on this processor");
  std::mt19937 random(7);
  std::string haystack(static_cast<size_t>(state.range(0)), '\0');
  for (char& c : haystack) c = static_cast<char>(random());
  for (auto _ : state) {
    benchmark::DoNotOptimize(ravelon::FindBytesWith(haystack, "--myboundary", true, width));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_BoundarySearch)->ArgsProduct({{32 << 10, 8 << 20}, {1, 2, 3}});

}  // namespace

BENCHMARK_MAIN();
