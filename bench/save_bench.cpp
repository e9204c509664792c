// Saving speed of the frame store on the real file system, next to the
// sequential write speed of the same folder measured the same way: each
// iteration is one ForcedSave of a full save queue of 50 KB images (what a
// host calling ForcedSave once a second drains), written to a temporary folder.
// Both run with syncing off (sync:0) and on (sync:1: the store's durable save
// runs; the baseline's fdatasync after each iteration's bytes).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "common/date_time.h"
#include "common/engine_limits.h"
#include "pipeline/save_queue.h"
#include "ravelon/platform.h"
#include "schedule/rate_statistics.h"
#include "store/store_writer.h"

namespace {

constexpr size_t kFrameBytes = 50 * 1024;
constexpr int kFramesPerSave = ravelon::kSaveQueueCapacity;

std::string TempFolder() {
  char pattern[] = "/tmp/ravelon-save-bench-XXXXXX";
  return mkdtemp(pattern);
}

class QuietOwner final : public ravelon::StoreWriterOwner {
 public:
  void OnNewFileSet(const std::string&, double) override {}
  void OnSegmentRestart() override {}
  void Debug(uint8_t, const std::string&) override {}
};

void BM_ForcedSave(benchmark::State& state) {
  const std::string folder = TempFolder();
  {
    // The registry file is opened only on first use, which never comes here.
    auto platform = ravelon::NewRealPlatform(folder + "/registry.db");
    const ravelon::Clock& clock = platform->GetClock();
    ravelon::RateStatistics rates(clock);
    QuietOwner owner;
    ravelon::StoreWriter writer(platform->Files(), clock, rates, owner);
    ravelon::StoreSettings& settings = writer.Settings();
    settings.dbPath = folder + "/";
    settings.doSave = true;
    settings.saveInterval = ravelon::kMinIntervalMs;  // every frame is saved
    settings.fileSizeLimit = ravelon::kMaxLimitSetting;
    settings.preAllocationSize = 16;
    settings.syncWrites = state.range(0) != 0;
    writer.Prepare();

    std::mt19937 random(7);
    std::string image(kFrameBytes, '\0');
    for (auto& b : image) b = static_cast<char>(random());
    image[0] = '\xff', image[1] = '\xd8';
    ravelon::SaveQueue queue;
    int64_t saved = 0;
    for (auto _ : state) {
      state.PauseTiming();
      for (int i = 0; i < kFramesPerSave; ++i) {
        auto frame = std::make_shared<ravelon::MediaFrame>();
        frame->SetData(ravelon::kJpeg, image);
        double date = 0, time = 0;
        ravelon::GetNowDateTime(clock, date, time);
        frame->setDate(date);
        frame->setTime(time);
        queue.Offer(frame);
      }
      state.ResumeTiming();
      saved += writer.ForcedSave(queue, true);
    }
    if (saved != state.iterations() * kFramesPerSave) state.SkipWithError("frames were not saved");
    state.SetBytesProcessed(saved * static_cast<int64_t>(kFrameBytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(saved), benchmark::Counter::kIsRate);
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ForcedSave)
    ->ArgName("sync")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

// The same bytes per iteration written with plain sequential pwrite calls of
// 1 MiB into one file, then (sync:1) one fdatasync, as the baseline of what
// the disk takes.
void BM_SequentialWrite(benchmark::State& state) {
  const std::string folder = TempFolder();
  const int fd = open((folder + "/baseline").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  const std::string chunk(ravelon::kMegabyte, 'w');
  const int64_t per_iteration = int64_t{kFramesPerSave} * kFrameBytes;
  int64_t offset = 0;
  for (auto _ : state) {
    for (int64_t done = 0; done < per_iteration;) {
      const auto n = static_cast<size_t>(std::min<int64_t>(chunk.size(), per_iteration - done));
      if (pwrite(fd, chunk.data(), n, offset) != static_cast<ssize_t>(n)) {
        state.SkipWithError("write failed");
        break;
      }
      done += static_cast<int64_t>(n);
      offset += static_cast<int64_t>(n);
    }
    if (state.range(0) != 0 && fdatasync(fd) != 0) state.SkipWithError("fdatasync failed");
  }
  state.SetBytesProcessed(state.iterations() * per_iteration);
  close(fd);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SequentialWrite)
    ->ArgName("sync")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
