// Ports that carry blocks of bytes between processes (event text from other
// programs on the host machine), and the observer through which the engine
// hears what arrives. One send is one block: blocks arrive whole, in send
// order, never merged or split.
//
// A port is made by the Platform and owned (shared) by the engine that
// connects it; the engine makes its IpcPortObserver and adds it to the port.
// Everything runs on the engine's thread: a port delivers blocks as events
// of its owner's loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "ravelon/memory_chunk.h"

namespace ravelon {

// Receives the blocks of the ports it is added to and hands them to its
// onData handler.
class IpcPortObserver {
 public:
  using DataHandler = std::function<void(MemoryChunk& dataPtr)>;

  // Sets the onData handler; an empty handler removes it.
  void SetOnData(DataHandler handler) {
    handler_ = handler ? std::make_shared<const DataHandler>(std::move(handler)) : nullptr;
  }

  // Called by a port for every block received; calls the handler, if any.
  // The handler may replace or remove itself while it runs.
  void NotifyData(MemoryChunk& dataPtr) {
    const std::shared_ptr<const DataHandler> handler = handler_;
    if (handler) (*handler)(dataPtr);
  }

 private:
  std::shared_ptr<const DataHandler> handler_;
};

// Results of IpcPort::connect, passed to the host unchanged.
inline constexpr int32_t kIpcConnected = 0;
// This port or the other one is closed.
inline constexpr int32_t kIpcPortClosed = 1;
// The other port is nullptr, this port itself, or of a kind this port
// cannot link with.
inline constexpr int32_t kIpcIncompatiblePort = 2;
// This port or the other one is already connected to a third port.
inline constexpr int32_t kIpcPortBusy = 3;

class IpcPort {
 public:
  virtual ~IpcPort() = default;

  // Unlinks the port from its peer, drops the blocks not yet delivered and
  // makes later connect and send fail. Closing twice does nothing more.
  virtual void close() = 0;

  // Links this port and `other`, so either may send to the other. Returns
  // one of the kIpc* codes above; connecting two ports already linked to
  // each other returns kIpcConnected again.
  virtual int32_t connect(std::shared_ptr<IpcPort>& other) = 0;

  // Observers may be added and removed at any time, also from inside a
  // handler. A block reaches the observers present when it is delivered.
  virtual void addObserver(std::shared_ptr<IpcPortObserver> observer) = 0;
  virtual void removeObserver(const std::shared_ptr<IpcPortObserver>& observer) = 0;

  // Sends `data` as one block to the peer. False when the port is closed or
  // not connected.
  virtual bool send(const MemoryChunk& data) = 0;
};

}  // namespace ravelon
