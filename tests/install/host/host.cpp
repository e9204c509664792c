// A host program that sees only what an installed Ravelon offers: the public
// headers and the libraries. It checks that both platforms work from outside
// the project: a task and a timer on the simulated loop under virtual time,
// a task and the SQLite registry store on the real platform, and an engine
// that records a receipt handed to it through its port.
//
//   ravelon_host REGISTRY_FILE     exit status 0 when everything works
#include <chrono>
#include <cstdio>
#include <memory>

#include "ravelon/ipc_port.h"
#include "ravelon/korvid.h"
#include "ravelon/memory_chunk.h"
#include "ravelon/platform.h"
#include "ravelon/testing/simulated_platform.h"

namespace {

int failures = 0;

void Expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s REGISTRY_FILE\n", argv[0]);
    return 2;
  }
  using std::chrono::milliseconds;

  ravelon::SimulatedPlatform simulated;
  int tasks = 0;
  int ticks = 0;
  simulated.Loop().Post([&] { ++tasks; });
  auto timer = simulated.Loop().NewTimer([&] { ++ticks; });
  timer->SetInterval(50);
  timer->SetEnabled(true);
  simulated.AdvanceBy(milliseconds(120));
  Expect(tasks == 1, "the simulated loop runs a posted task");
  Expect(ticks == 2, "a 50 ms timer ticks twice in 120 ms of virtual time");

  std::shared_ptr<ravelon::Platform> real = ravelon::NewRealPlatform(argv[1]);
  real->Loop().Post([&] { ++tasks; });
  real->Loop().ProcessPendingEventsOnce();
  Expect(tasks == 2, "the real loop runs a posted task");
  Expect(real->RegistryError().empty(), "the real platform opens its registry file");

  // An engine in virtual mode (no address) records what its port brings.
  auto platform = std::make_shared<ravelon::SimulatedPlatform>();
  ravelon::Korvid engine(platform);
  engine.DBPath("store/");
  engine.DoSave(true);
  engine.PrepareEngine();
  engine.Connect();
  std::shared_ptr<ravelon::IpcPort> till = platform->NewIpcPort();
  Expect(engine.ipcConnect(till) == 0, "the engine's port links with the till's");
  Expect(till->send(ravelon::MemoryChunk(std::string("TOTAL 9.99\x1b\x69"))), "the till sends");
  platform->AdvanceBy(milliseconds(600));
  Expect(engine.ForcedSave() == 1, "the receipt is saved");
  engine.ReleaseNGN();
  Expect(engine.IsFree(), "a released engine is free");

  if (failures == 0) std::puts("ravelon host: ok");
  return failures == 0 ? 0 : 1;
}
