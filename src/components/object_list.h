// An ordered list of shared objects: the engine's frame queues. Items are
// appended at the back and read and removed at the front, in arrival order.
//
// Owned by the engine (one list per queue); used on the engine's thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

namespace ravelon {

template <typename T>
class ObjectList {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  void Clear() { items_.clear(); }

  void Append(std::shared_ptr<T> item) { items_.push_back(std::move(item)); }

  // Takes out the item appended last and returns it (nullptr when empty). It
  // is the back, not the front, so that a full queue can swap its newest item
  // for a newer one and still hold its items in arrival order.
  std::shared_ptr<T> TakeLast() {
    if (items_.empty()) return nullptr;
    std::shared_ptr<T> item = std::move(items_.back());
    items_.pop_back();
    return item;
  }

  // Positions at the front. Reading always starts at the front, so this does
  // nothing; it stays for callers that position before they read.
  void MoveFirst() {}

  // The first item (nullptr when empty); it stays in the list.
  std::shared_ptr<T> Front() const { return items_.empty() ? nullptr : items_.front(); }

  // Drops the first item; nothing when empty.
  void RemoveFront() {
    if (!items_.empty()) items_.pop_front();
  }

 private:
  std::deque<std::shared_ptr<T>> items_;
};

}  // namespace ravelon
