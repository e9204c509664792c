// LiveFrames: the newest picture of one source, handed from the source's
// engine thread to the web server's threads. The engine thread publishes
// each JPEG frame (a copy, so the engine's own frames are never shared with
// another thread); readers take the newest one or wait for one newer than
// the last they sent. A reader that falls behind skips frames: it only ever
// holds the one frame it is sending, so a slow browser cannot make memory
// grow.
//
// Publishing copies the picture; while no live stream watches, a picture a
// second is enough (for latest.jpg and the page's thumbnails), so a recorder
// of many sources that nobody looks at copies little.
//
// Shared (std::shared_ptr) by the source's runner and the web server; every
// member is safe on any thread. Publish holds the lock only to swap a
// pointer, so an engine never waits on a client.
#pragma once

#include <atomic>
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
  using Clock = std::chrono::steady_clock;
  // How stale the newest picture may grow while no stream watches.
  static constexpr std::chrono::seconds kUnwatchedInterval{1};

  // Whether a picture arriving `now` is to be published: always while a
  // stream watches, else once per kUnwatchedInterval.
  bool Due(Clock::time_point now) const;
  void Publish(std::string_view jpeg, Clock::time_point now = Clock::now());
  LiveFrame Newest() const;
  // Waits up to `timeout` for a frame numbered above `after`; returns the
  // newest frame then, or an empty one on timeout or once closed.
  LiveFrame WaitNewer(int64_t after, std::chrono::milliseconds timeout) const;
  // A live stream starts or ends watching.
  void AddWatcher() { ++watchers_; }
  void RemoveWatcher() { --watchers_; }

  // Wakes every waiter for good: the server is stopping.
  void Close();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  LiveFrame newest_;
  bool closed_ = false;
  std::atomic<int> watchers_{0};
  // When the newest picture was published; the clock's epoch (the machine's
  // start) before the first.
  std::atomic<Clock::rep> published_at_{0};
};

}  // namespace ravelon::cli
