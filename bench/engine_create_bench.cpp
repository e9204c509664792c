// What it costs to make an engine and let it go, on the real platform:
//   Setters: the engine configured through its setters; the registry store
//     is never opened.
//   FromRegistry: InitEngineFromReg from a registry file in a temporary
//     folder (the platform, and with it the file, opened once beforehand).
//   FromRegistryPrepared: the same, then PrepareEngine (which begins a new
//     file set and writes its name back to the registry store) and
//     ReleaseNGN.
//   OwnPlatform: a platform of its own per engine, so the registry file is
//     opened with each engine, then as FromRegistryPrepared.
// Every iteration is one whole life; the time per iteration is the figure.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "ravelon/korvid.h"
#include "ravelon/platform.h"
#include "ravelon/registry_store.h"

namespace {

constexpr const char* kRoot = "Software\\RavelonBench\\";
constexpr const char* kSource = "cam";

// A registry file with one saving source, in a fresh temporary folder that
// goes with the object.
class BenchRegistry {
 public:
  BenchRegistry() {
    char pattern[] = "/tmp/ravelon-create-bench-XXXXXX";
    folder_ = mkdtemp(pattern);
    std::string error;
    auto store = ravelon::NewSqliteRegistryStore(File(), error);
    if (!store) std::abort();
    ravelon::RegistryKey key = 0;
    store->CreateKey(ravelon::kHkeyLocalMachine, std::string(kRoot) + "Src\\" + kSource, key);
    const std::pair<const char*, std::string> values[] = {
        {"Address", "127.0.0.1"}, {"Port", "8080"},        {"Url", "/video"},
        {"DoSave", "1"},          {"DBPath", Store()},     {"SaveInterval", "100"},
        {"ViewInterval", "100"},  {"FileLimitValue", "10"}};
    for (const auto& [name, text] : values)
      store->SetValue(key, name, ravelon::kRegSz, text + '\0');
    store->CloseKey(key);
  }
  ~BenchRegistry() { std::filesystem::remove_all(folder_); }

  std::string File() const { return folder_ + "/registry.db"; }
  std::string Store() const { return folder_ + "/store/"; }

 private:
  std::string folder_;
};

void BM_CreateEngineSetters(benchmark::State& state) {
  BenchRegistry registry;
  auto platform = ravelon::NewRealPlatform(registry.File());
  for (auto _ : state) {
    ravelon::Korvid engine(platform);
    engine.SetAddress("127.0.0.1");
    engine.SetPort(8080);
    engine.SetUrl("/video");
    engine.DBPath(registry.Store());
    engine.DoSave(true);
    engine.SetSaveIterval(100);
    engine.SetViewIterval(100);
    benchmark::DoNotOptimize(engine.GetPort());
  }
}
BENCHMARK(BM_CreateEngineSetters)->Unit(benchmark::kMicrosecond);

void BM_CreateEngineFromRegistry(benchmark::State& state) {
  BenchRegistry registry;
  auto platform = ravelon::NewRealPlatform(registry.File());
  platform->Registry();  // opened before the first iteration
  for (auto _ : state) {
    ravelon::Korvid engine(platform);
    engine.InitEngineFromReg(kSource, kRoot);
    benchmark::DoNotOptimize(engine.GetPort());
  }
}
BENCHMARK(BM_CreateEngineFromRegistry)->Unit(benchmark::kMicrosecond);

void BM_CreateEngineFromRegistryPrepared(benchmark::State& state) {
  BenchRegistry registry;
  auto platform = ravelon::NewRealPlatform(registry.File());
  platform->Registry();
  for (auto _ : state) {
    ravelon::Korvid engine(platform);
    engine.InitEngineFromReg(kSource, kRoot);
    engine.PrepareEngine();
    engine.ReleaseNGN();
  }
}
BENCHMARK(BM_CreateEngineFromRegistryPrepared)->Unit(benchmark::kMicrosecond);

void BM_CreateEngineOwnPlatform(benchmark::State& state) {
  BenchRegistry registry;
  auto others = ravelon::NewRealPlatform(registry.File());
  others->Registry();
  for (auto _ : state) {
    ravelon::Korvid engine(ravelon::NewRealPlatform(registry.File()));
    engine.InitEngineFromReg(kSource, kRoot);
    engine.PrepareEngine();
    engine.ReleaseNGN();
  }
}
BENCHMARK(BM_CreateEngineOwnPlatform)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
