// The message loop that drives an engine. Every event of an engine (socket,
// timers, inter-process data) is a handler run by this loop on one thread;
// host calls come from that thread too, so nothing in an engine needs a lock.
//
// Owned by the Platform. Not thread-safe except Post on the real loop.
#pragma once

#include <functional>
#include <memory>

#include "ravelon/timer.h"

namespace ravelon {

class EventLoop {
 public:
  using Task = std::function<void()>;

  virtual ~EventLoop() = default;

  // Queues `task` behind the events already queued.
  virtual void Post(Task task) = 0;

  // Runs every event that is ready now, and those that they make ready, then
  // returns without waiting. May be called from inside a handler this loop is
  // running: the engine lets the loop run this way at its waiting points.
  virtual void ProcessPendingEventsOnce() = 0;

  // Runs events, waiting for them, until Stop is called.
  virtual void Run() = 0;
  virtual void Stop() = 0;

  // A new timer, disabled, with the default interval of 1000 ms.
  virtual std::unique_ptr<Timer> NewTimer(Task on_tick) = 0;
};

}  // namespace ravelon
