// Saving speed of the frame store on the real file system, next to the
// sequential write speed of the same folder measured the same way: each
// iteration is one ForcedSave of a full queue of 50 KB images (what a host
// calling ForcedSave once a second drains), written to a temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "support/korvid_test_peer.h"

namespace {

constexpr size_t kFrameBytes = 50 * 1024;
constexpr int kFramesPerSave = 300;  // a full save queue

std::string TempFolder() {
  char pattern[] = "/tmp/ravelon-save-bench-XXXXXX";
  return mkdtemp(pattern);
}

std::string Image(std::mt19937& random) {
  std::string bytes(kFrameBytes, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  bytes[0] = '\xff', bytes[1] = '\xd8';
  return bytes;
}

void BM_ForcedSave(benchmark::State& state) {
  const std::string folder = TempFolder();
  {
    auto platform = ravelon::NewRealPlatform(folder + "/registry.db");
    ravelon::Korvid engine(platform);
    engine.DBPath(folder + "/");
    engine.DoSave(true);
    engine.SetSaveIterval(10);  // every frame is saved
    engine.SetFileSizeLimit(999);
    engine.SetPreAllocationSize(16);
    engine.PrepareEngine();
    ravelon::KorvidTestPeer peer(engine);
    std::mt19937 random(7);
    const std::string image = Image(random);
    int64_t saved = 0;
    for (auto _ : state) {
      state.PauseTiming();
      for (int i = 0; i < kFramesPerSave; ++i) {
        auto frame = std::make_shared<ravelon::MediaFrame>();
        frame->SetData(ravelon::kJpeg, image);
        peer.HandleNewFrame(frame);
      }
      state.ResumeTiming();
      saved += engine.ForcedSave();
    }
    state.SetBytesProcessed(saved * static_cast<int64_t>(kFrameBytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(saved), benchmark::Counter::kIsRate);
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ForcedSave)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// The same bytes per iteration written with plain sequential pwrite calls of
// 1 MiB into one file, as the baseline of what the disk takes.
void BM_SequentialWrite(benchmark::State& state) {
  const std::string folder = TempFolder();
  const int fd = open((folder + "/baseline").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  const std::string chunk(1 << 20, 'w');
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
  }
  state.SetBytesProcessed(state.iterations() * per_iteration);
  close(fd);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SequentialWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
