// Arbitrary bytes, cut into arbitrary arrivals, through the engine's
// data-arrival path on the simulated platform. After every arrival the input
// buffer must be sound and the parse must have returned; the sanitizers
// catch the rest.
//
// Input: one byte of flags, then arrivals, each a length byte and its bytes:
//   0x00-0xEF  that many bytes (fewer if the input ends first)
//   0xF0-0xFE  (n - 0xEF) KiB: up to 256 bytes that follow, repeated to that length
//   0xFF       no bytes: virtual time moves on by the next byte x 100 ms
// Flags: 1 single-response mode, 2 a valid response header goes first,
// 4 with LF line ends, 8 the source closes at the end, 16 the filter chain
// delivers the next arrival from inside its call (a nested arrival).
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

#include "parsing/input_buffer.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"
#include "ravelon/testing/simulated_platform.h"

namespace ravelon {

// The engine's friend: the input buffer's state.
class KorvidTestPeer {
 public:
  explicit KorvidTestPeer(Korvid& engine) : k_(engine) {}

  void CheckInputBuffer() const {
    const int64_t capacity = static_cast<int64_t>(k_.m_inputBuffer.size());
    const bool sound = k_.m_inputLength >= 0 && k_.m_inputLength <= capacity &&
                       capacity <= kInputBufferLimit && capacity >= kInitialInputCapacity &&
                       k_.m_inputHead >= 0 && k_.m_inputHead + k_.m_inputLength <= capacity &&
                       k_.m_inDataArrival == 0;
    if (!sound) std::abort();
  }

 private:
  Korvid& k_;
};

namespace {

enum Flags : uint8_t {
  kSingleResponse = 1,
  kWithHeader = 2,
  kLfLineEnds = 4,
  kCloseAtEnd = 8,
  kNestedArrival = 16,
};

struct Arrival {
  std::string bytes;
  int advance_ms = -1;  // >= 0: no bytes, time moves on instead
};

std::deque<Arrival> ReadArrivals(const uint8_t* data, size_t size) {
  std::deque<Arrival> arrivals;
  size_t at = 0;
  while (at < size) {
    const uint8_t code = data[at++];
    const size_t left = size - at;
    if (code == 0xFF) {
      arrivals.push_back({"", at < size ? data[at++] * 100 : 0});
    } else if (code >= 0xF0) {
      const size_t n = std::min<size_t>(left, 256);
      const size_t total = (code - 0xEFu) * 1024;
      std::string bytes;
      bytes.reserve(total);
      while (n > 0 && bytes.size() < total) {
        bytes.append(reinterpret_cast<const char*>(data + at), std::min(n, total - bytes.size()));
      }
      at += n;
      arrivals.push_back({std::move(bytes)});
    } else {
      const size_t n = std::min<size_t>(left, code);
      arrivals.push_back({std::string(reinterpret_cast<const char*>(data + at), n)});
      at += n;
    }
  }
  return arrivals;
}

// Checks each frame's number; with kNestedArrival it lets one more arrival in while the
// engine is parsing, as a host that runs its loop inside the chain would.
class FuzzChain final : public FrameFilterChain {
 public:
  FuzzChain(SimulatedPlatform& platform, ScriptedServer& camera, std::deque<Arrival>& arrivals,
            bool nested)
      : platform_(platform), camera_(camera), arrivals_(arrivals), nested_(nested) {}

  void release() override {}
  void reset() override {}
  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
    if (!frame || frame->getFrameId() < 1) std::abort();
    if (nested_ && !arrivals_.empty() && !arrivals_.front().bytes.empty()) {
      if (auto connection = camera_.LastConnection()) connection->Send(arrivals_.front().bytes);
      arrivals_.pop_front();
      platform_.Loop().ProcessPendingEventsOnce();
    }
    return nullptr;
  }

 private:
  SimulatedPlatform& platform_;
  ScriptedServer& camera_;
  std::deque<Arrival>& arrivals_;
  bool nested_;
};

}  // namespace
}  // namespace ravelon

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ravelon::Duration;
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  std::deque<ravelon::Arrival> arrivals = ravelon::ReadArrivals(data + 1, size - 1);
  if (flags & ravelon::kWithHeader) {
    const std::string eol = flags & ravelon::kLfLineEnds ? "\n" : "\r\n";
    const std::string type = flags & ravelon::kSingleResponse
                                 ? "image/jpeg"
                                 : "multipart/x-mixed-replace; boundary=myboundary";
    arrivals.push_front({"HTTP/1.0 200 OK" + eol + "Content-Type: " + type + eol + eol});
  }

  auto platform = std::make_shared<ravelon::SimulatedPlatform>();
  ravelon::ScriptedServer& camera = platform->network().Listen("cam", 80);
  ravelon::Korvid engine(platform);
  ravelon::KorvidTestPeer peer(engine);
  engine.SetAddress("cam");
  engine.SetPort(80);
  engine.SetUrl("/video");
  engine.SetStreaming((flags & ravelon::kSingleResponse) == 0);
  engine.setFilterChain(std::make_shared<ravelon::FuzzChain>(
      *platform, camera, arrivals, (flags & ravelon::kNestedArrival) != 0));
  engine.PrepareEngine();
  engine.Connect();
  platform->AdvanceBy(Duration::zero());
  peer.CheckInputBuffer();

  while (!arrivals.empty()) {
    ravelon::Arrival arrival = std::move(arrivals.front());
    arrivals.pop_front();
    if (arrival.advance_ms >= 0) {
      platform->AdvanceBy(std::chrono::milliseconds(arrival.advance_ms));
    } else if (auto connection = camera.LastConnection()) {
      connection->Send(std::move(arrival.bytes));
      platform->AdvanceBy(Duration::zero());
    }
    peer.CheckInputBuffer();
  }
  if (flags & ravelon::kCloseAtEnd) {
    if (auto connection = camera.LastConnection()) connection->Close();
    platform->AdvanceBy(Duration::zero());
    peer.CheckInputBuffer();
  }
  engine.ReleaseNGN();
  peer.CheckInputBuffer();
  return 0;
}
