// A small host: makes one engine on the real platform, configures it through
// its setters to record into a store folder, prepares and connects it, saves
// the queued frames once a second, prints every DebugEvent with its level for
// a while, then releases the engine (which saves what is still queued).
//
//   ravelon_example_host [address [port [path [seconds [store folder]]]]]
//
// An empty address runs the source in virtual mode. The store folder defaults
// to ./ravelon-store/.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ravelon/korvid.h"

namespace {

class PrintingHost final : public ravelon::KorvidEvents {
 public:
  void DebugEvent(uint8_t DebugLevel, const std::string& Text) override {
    std::printf("[%2u] %s\n", static_cast<unsigned>(DebugLevel), Text.c_str());
    std::fflush(stdout);
  }
  void DataReady() override { ++data_ready_; }
  int data_ready() const { return data_ready_; }

 private:
  int data_ready_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string address = argc > 1 ? argv[1] : "";
  const int32_t port = argc > 2 ? std::atoi(argv[2]) : 80;
  const std::string path = argc > 3 ? argv[3] : "/video.cgi";
  const int seconds = argc > 4 ? std::atoi(argv[4]) : 2;
  std::string store = argc > 5 ? argv[5] : "ravelon-store/";
  if (store.back() != '/') store += '/';

  auto platform = ravelon::NewRealPlatform();
  PrintingHost host;
  {
    ravelon::Korvid engine(platform);
    engine.SetEventSink(&host);
    engine.SetAddress(address);
    engine.SetPort(port);
    engine.SetUrl(path);
    engine.SetStreaming(true);
    engine.SetViewIterval(200);
    // What a host must set to record: the store folder, saving on, a limit
    // per file set (10 MB here), and a cadence of ForcedSave calls below.
    engine.DBPath(store);
    engine.DoSave(true);
    engine.SetSaveIterval(100);
    engine.SetFileSizeLimit(10);
    engine.SetPreAllocationSize(1);
    std::printf("Engine made: free=%s, streaming=%s, view interval=%d ms\n",
                engine.IsFree() ? "yes" : "no", engine.GetStreaming().c_str(),
                engine.GetViewInterval());

    engine.PrepareEngine();
    engine.Connect();

    int32_t saved = 0;
    auto save = platform->Loop().NewTimer([&] { saved += std::max(engine.ForcedSave(), 0); });
    save->SetInterval(1000);
    save->SetEnabled(true);

    auto stop = platform->Loop().NewTimer([&] { platform->Loop().Stop(); });
    stop->SetInterval(seconds * 1000);
    stop->SetEnabled(true);
    platform->Loop().Run();

    save->SetEnabled(false);
    engine.ReleaseNGN();
    std::printf("Engine released: free=%s, DataReady events: %d, frames saved on the way: %d, last set: %s%s\n",
                engine.IsFree() ? "yes" : "no", host.data_ready(), saved, store.c_str(),
                engine.FileName().c_str());
  }
  return 0;
}
