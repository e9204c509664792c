// An IpcPort whose peer lives in the same process: a pair of these stands in
// for the link to another program in tests and in the simulated platform.
// A block sent is copied and posted as a task on the receiving port's loop,
// never delivered inside send, so onData runs between the receiver's other
// events just as it would for data from outside. Tasks of one loop run in
// the order posted, so blocks arrive in send order.
//
// Made with std::make_shared (connect needs shared_from_this); owned by the
// engine that uses it. Both ports of a pair are used on one thread; the peer
// is held weakly, so either port may be destroyed first.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ravelon/event_loop.h"
#include "ravelon/ipc_port.h"
#include "ravelon/memory_chunk.h"

namespace ravelon {

class InProcessIpcPort : public IpcPort, public std::enable_shared_from_this<InProcessIpcPort> {
 public:
  // `loop` is the loop of the port's owner; blocks for this port are
  // delivered on it. It must outlive the port.
  explicit InProcessIpcPort(EventLoop& loop) : loop_(loop) {}
  ~InProcessIpcPort() override;

  InProcessIpcPort(const InProcessIpcPort&) = delete;
  InProcessIpcPort& operator=(const InProcessIpcPort&) = delete;

  void close() override;
  int32_t connect(std::shared_ptr<IpcPort>& other) override;
  void addObserver(std::shared_ptr<IpcPortObserver> observer) override;
  void removeObserver(const std::shared_ptr<IpcPortObserver>& observer) override;
  bool send(const MemoryChunk& data) override;

  // As send, but takes the block over instead of copying it.
  bool SendOwned(MemoryChunk data);

  bool IsClosed() const { return closed_; }
  bool IsConnected() const { return LivePeer() != nullptr; }

 private:
  // The peer while the link to it stands, else nullptr.
  std::shared_ptr<InProcessIpcPort> LivePeer() const;
  void Unlink();
  // Runs on this port's loop: hands a block to the observers, unless the
  // link it was sent on is gone.
  void Deliver(uint64_t link_id, MemoryChunk& block);

  EventLoop& loop_;
  std::weak_ptr<InProcessIpcPort> peer_;
  // Names the present link (0: none). A block carries the id of the link it
  // was sent on, so blocks still queued when a link ends are dropped even if
  // the port links again.
  uint64_t link_id_ = 0;
  bool closed_ = false;
  std::vector<std::shared_ptr<IpcPortObserver>> observers_;
};

}  // namespace ravelon
