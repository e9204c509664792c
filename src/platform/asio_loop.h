// The real message loop: one Asio io_context run on one thread. A nested poll
// from inside a handler runs what is ready, including what the outer handler
// has just posted; nested run is never used. The context keeps the default
// concurrency hint: with hint 1 Asio keeps the outer handler's posts on a
// thread-private queue whose work count a nested poll gets wrong, so the poll
// stops the context early, leaving events unrun and ending a Run around it.
// Internal to the platform: only the real platform and the Asio socket see
// this header.
#pragma once

#include <asio/io_context.hpp>

#include "platform/periodic_timer.h"
#include "ravelon/event_loop.h"

namespace ravelon {

class AsioLoop final : public EventLoop {
 public:
  explicit AsioLoop(const Clock& clock);

  void Post(Task task) override;
  void ProcessPendingEventsOnce() override;
  void Run() override;
  void Stop() override;
  std::unique_ptr<Timer> NewTimer(Task on_tick) override;

  std::unique_ptr<Alarm> NewAlarm(Task on_fire);
  asio::io_context& Context() { return context_; }
  const Clock& GetClock() const { return clock_; }

 private:
  const Clock& clock_;
  asio::io_context context_;
  bool running_ = false;
};

}  // namespace ravelon
