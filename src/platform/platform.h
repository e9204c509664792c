// Everything an engine needs of the world, bundled in one object the host
// hands to each engine: the message loop with its timers, the clock and TCP
// sockets. The real platform (NewRealPlatform) uses Asio and the system
// clock; the simulated one (SimulatedPlatform) runs on virtual time with
// scripted network peers, so tests of long timeouts take microseconds.
//
// Several engines may share one platform; it must outlive them.
#pragma once

#include <memory>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_socket.h"

namespace ravelon {

class IpcPort;

class Platform {
 public:
  virtual ~Platform() = default;

  virtual EventLoop& Loop() = 0;
  virtual const Clock& GetClock() const = 0;
  virtual std::unique_ptr<TcpSocket> NewTcpSocket() = 0;

  // A port for event text from other processes, delivering on Loop().
  virtual std::shared_ptr<IpcPort> NewIpcPort() = 0;
};

// The platform of a real host: one Asio io_context run on the calling thread.
std::shared_ptr<Platform> NewRealPlatform();

}  // namespace ravelon
