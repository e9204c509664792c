// LiveFrames: the newest picture of one source, handed from the source's
// engine thread to the web server's threads. The engine thread publishes
// each JPEG frame (a copy, so the engine's own frames are never shared with
// another thread); readers take the newest one or wait for one newer than
// the last they sent. A reader that falls behind skips frames: it only ever
// holds the one frame it is sending, so a slow browser cannot make memory
// grow.
//
// Shared (std::shared_ptr) by the source's runner and the web server; every
// member is safe on any thread. Publish holds the lock only to swap a
// pointer, so an engine never waits on a client.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ravelon::cli {

struct LiveFrame {
  std::shared_ptr<const std::string> jpeg;  // null until the first frame
  int64_t number = 0;                       // 1 for the first frame published, and so on
};

class LiveFrames {
 public:
  void Publish(std::string_view jpeg);
  LiveFrame Newest() const;
  // Waits up to `timeout` for a frame numbered above `after`; returns the
  // newest frame then, or an empty one on timeout or once closed.
  LiveFrame WaitNewer(int64_t after, std::chrono::milliseconds timeout) const;
  // Wakes every waiter for good: the server is stopping.
  void Close();
  bool Closed() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  LiveFrame newest_;
  bool closed_ = false;
};

}  // namespace ravelon::cli
