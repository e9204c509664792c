#include "web/live_frames.h"

namespace ravelon::cli {

bool LiveFrames::Due(Clock::time_point now) const {
  return watchers_ > 0 ||
         now - Clock::time_point(Clock::duration(published_at_)) >= kUnwatchedInterval;
}

void LiveFrames::Publish(std::string_view jpeg, Clock::time_point now) {
  published_at_ = now.time_since_epoch().count();
  // The copy is made before the lock, so readers wait only for the swap.
  auto bytes = std::make_shared<const std::string>(jpeg);
  {
    std::lock_guard lock(mutex_);
    newest_.jpeg = std::move(bytes);
    ++newest_.number;
  }
  changed_.notify_all();
}

LiveFrame LiveFrames::Newest() const {
  std::lock_guard lock(mutex_);
  return newest_;
}

LiveFrame LiveFrames::WaitNewer(int64_t after, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, timeout, [&] { return closed_ || newest_.number > after; }))
    return {};
  return closed_ ? LiveFrame{} : newest_;
}

void LiveFrames::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace ravelon::cli
