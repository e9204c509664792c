// A small host: makes one engine on the real platform, configures it through
// its setters, prepares and connects it, prints every DebugEvent with its
// level for a while, then releases the engine.
//
//   ravelon_example_host [address [port [path [seconds]]]]
//
// An empty address runs the source in virtual mode.
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
    std::printf("Engine made: free=%s, streaming=%s, view interval=%d ms\n",
                engine.IsFree() ? "yes" : "no", engine.GetStreaming().c_str(),
                engine.GetViewInterval());

    engine.PrepareEngine();
    engine.Connect();

    auto stop = platform->Loop().NewTimer([&] { platform->Loop().Stop(); });
    stop->SetInterval(seconds * 1000);
    stop->SetEnabled(true);
    platform->Loop().Run();

    engine.ReleaseNGN();
    std::printf("Engine released: free=%s, DataReady events: %d\n", engine.IsFree() ? "yes" : "no",
                host.data_ready());
  }
  return 0;
}
