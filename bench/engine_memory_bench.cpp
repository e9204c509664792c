// The memory an idle engine holds: N engines on the real platform, made
// from a registry file and prepared (the state of an engine waiting to
// connect), and what the heap (glibc's mallinfo2) and the resident set grew
// by, divided by N. Counters:
//   heap_per_engine  bytes allocated and still held, per engine
//   rss_per_engine   resident bytes, per engine
// Variants: all engines on one platform (as `ravelon record` runs a loop's
// sources), and a platform per engine (a host that gives each engine its
// own loop and registry connection).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ravelon/korvid.h"
#include "ravelon/platform.h"
#include "ravelon/registry_store.h"

namespace {

constexpr const char* kRoot = "Software\\RavelonBench\\";

int64_t HeapInUse() { return static_cast<int64_t>(mallinfo2().uordblks); }

int64_t ResidentBytes() {
  long pages_total = 0, pages_resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
  std::fclose(statm);
  return static_cast<int64_t>(pages_resident) * sysconf(_SC_PAGESIZE);
}

// A registry file with `count` saving sources named cam0, cam1, ... in a
// fresh temporary folder that goes with the object.
class BenchRegistry {
 public:
  explicit BenchRegistry(int count) {
    char pattern[] = "/tmp/ravelon-memory-bench-XXXXXX";
    folder_ = mkdtemp(pattern);
    std::string error;
    auto store = ravelon::NewSqliteRegistryStore(File(), error);
    if (!store) std::abort();
    for (int i = 0; i < count; ++i) {
      ravelon::RegistryKey key = 0;
      store->CreateKey(ravelon::kHkeyLocalMachine, std::string(kRoot) + "Src\\" + Name(i), key);
      const std::pair<const char*, std::string> values[] = {
          {"Address", "127.0.0.1"},
          {"Port", "8080"},
          {"Url", "/video"},
          {"DoSave", "1"},
          {"DBPath", folder_ + "/store" + std::to_string(i) + "/"},
          {"SaveInterval", "100"},
          {"ViewInterval", "100"}};
      for (const auto& [name, text] : values)
        store->SetValue(key, name, ravelon::kRegSz, text + '\0');
      store->CloseKey(key);
    }
  }
  ~BenchRegistry() { std::filesystem::remove_all(folder_); }

  std::string File() const { return folder_ + "/registry.db"; }
  static std::string Name(int i) { return "cam" + std::to_string(i); }

 private:
  std::string folder_;
};

void IdleEngines(benchmark::State& state, bool platform_each) {
  const int count = static_cast<int>(state.range(0));
  BenchRegistry registry(count);
  auto shared = ravelon::NewRealPlatform(registry.File());
  shared->Registry();  // the shared connection is not the engines' cost
  double heap = 0, rss = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<ravelon::Korvid>> engines;
    engines.reserve(count);
    malloc_trim(0);
    const int64_t heap_before = HeapInUse(), rss_before = ResidentBytes();
    for (int i = 0; i < count; ++i) {
      auto platform = platform_each ? ravelon::NewRealPlatform(registry.File()) : shared;
      engines.push_back(std::make_unique<ravelon::Korvid>(platform));
      engines.back()->InitEngineFromReg(BenchRegistry::Name(i), kRoot);
      engines.back()->PrepareEngine();
    }
    heap = static_cast<double>(HeapInUse() - heap_before) / count;
    rss = static_cast<double>(ResidentBytes() - rss_before) / count;
    state.PauseTiming();
    for (auto& engine : engines) engine->ReleaseNGN();
    engines.clear();
    state.ResumeTiming();
  }
  state.counters["heap_per_engine"] = heap;
  state.counters["rss_per_engine"] = rss;
}

void BM_IdleEnginesSharedPlatform(benchmark::State& state) { IdleEngines(state, false); }
BENCHMARK(BM_IdleEnginesSharedPlatform)
    ->Arg(200)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_IdleEnginesOwnPlatform(benchmark::State& state) { IdleEngines(state, true); }
BENCHMARK(BM_IdleEnginesOwnPlatform)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
