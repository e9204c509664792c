#include "components/in_process_ipc_port.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace ravelon {
namespace {

// Shared by every engine of the process, whatever its thread.
std::atomic<uint64_t> next_link_id{1};

}  // namespace

InProcessIpcPort::~InProcessIpcPort() {
  if (std::shared_ptr<InProcessIpcPort> peer = LivePeer()) peer->Unlink();
}

std::shared_ptr<InProcessIpcPort> InProcessIpcPort::LivePeer() const {
  if (link_id_ == 0) return nullptr;
  std::shared_ptr<InProcessIpcPort> peer = peer_.lock();
  if (peer == nullptr || peer->link_id_ != link_id_) return nullptr;
  return peer;
}

void InProcessIpcPort::Unlink() {
  peer_.reset();
  link_id_ = 0;
}

void InProcessIpcPort::close() {
  if (std::shared_ptr<InProcessIpcPort> peer = LivePeer()) peer->Unlink();
  Unlink();
  closed_ = true;
}

int32_t InProcessIpcPort::connect(std::shared_ptr<IpcPort>& other) {
  if (closed_) return kIpcPortClosed;
  std::shared_ptr<InProcessIpcPort> peer = std::dynamic_pointer_cast<InProcessIpcPort>(other);
  std::shared_ptr<InProcessIpcPort> self = weak_from_this().lock();
  // Without a shared owner this port cannot be held by its peer.
  if (peer == nullptr || peer.get() == this || self == nullptr) return kIpcIncompatiblePort;
  if (peer->closed_) return kIpcPortClosed;
  if (LivePeer() == peer) return kIpcConnected;
  if (LivePeer() != nullptr || peer->LivePeer() != nullptr) return kIpcPortBusy;

  const uint64_t link_id = next_link_id.fetch_add(1, std::memory_order_relaxed);
  peer_ = peer;
  link_id_ = link_id;
  peer->peer_ = self;
  peer->link_id_ = link_id;
  return kIpcConnected;
}

void InProcessIpcPort::addObserver(std::shared_ptr<IpcPortObserver> observer) {
  if (observer == nullptr) return;
  if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) return;
  observers_.push_back(std::move(observer));
}

void InProcessIpcPort::removeObserver(const std::shared_ptr<IpcPortObserver>& observer) {
  std::erase(observers_, observer);
}

bool InProcessIpcPort::send(const MemoryChunk& data) { return SendOwned(data); }

bool InProcessIpcPort::SendOwned(MemoryChunk data) {
  if (closed_) return false;
  std::shared_ptr<InProcessIpcPort> peer = LivePeer();
  if (peer == nullptr) return false;
  // Held by a shared_ptr so that a loop copying its tasks does not copy the
  // block.
  auto block = std::make_shared<MemoryChunk>(std::move(data));
  std::weak_ptr<InProcessIpcPort> receiver = peer;
  peer->loop_.Post([receiver = std::move(receiver), link_id = link_id_, block = std::move(block)] {
    if (std::shared_ptr<InProcessIpcPort> port = receiver.lock()) port->Deliver(link_id, *block);
  });
  return true;
}

void InProcessIpcPort::Deliver(uint64_t link_id, MemoryChunk& block) {
  // A handler may add or remove observers, or close the port: walk a copy
  // of the list, skip observers removed meanwhile and stop once the link is
  // gone.
  const std::vector<std::shared_ptr<IpcPortObserver>> observers = observers_;
  for (size_t i = 0; i < observers.size(); ++i) {
    if (closed_ || link_id != link_id_) return;
    const std::shared_ptr<IpcPortObserver>& observer = observers[i];
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) continue;
    if (i + 1 == observers.size()) {
      observer->NotifyData(block);
    } else {
      // Each observer gets a block of its own, as a handler may change it.
      MemoryChunk copy = block;
      observer->NotifyData(copy);
    }
  }
}

}  // namespace ravelon
