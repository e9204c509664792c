#include "ravelon/data_block.h"

#include <utility>

namespace ravelon {

char* DataBlock::Data() {
  Own();
  return bytes_.data();
}

void DataBlock::Clear() {
  owner_.reset();
  shared_ = {};
  bytes_.clear();
}

void DataBlock::DropFront(int32_t n) {
  if (n <= 0) return;
  if (static_cast<size_t>(n) >= View().size()) return Clear();
  if (owner_) {
    shared_.remove_prefix(static_cast<size_t>(n));  // still the same bytes: no copy
    return;
  }
  bytes_.erase(0, static_cast<size_t>(n));
}

bool DataBlock::Append(const void* source, int32_t n) {
  if (n < 0) return false;
  if (n == 0) return true;
  if (source == nullptr) return false;
  return AppendText(std::string_view(static_cast<const char*>(source), static_cast<size_t>(n)));
}

bool DataBlock::AppendChunk(const MemoryChunk& chunk) { return AppendText(chunk.Bytes()); }

bool DataBlock::AppendText(std::string_view text) {
  if (text.empty()) return true;
  if (owner_) {
    // The source may be the shared bytes themselves: keep them alive until
    // they are copied.
    const std::shared_ptr<const void> keep = owner_;
    Own(text.size());
    bytes_.append(text);
    return true;
  }
  // append() copes with a source inside bytes_: on growth it copies the
  // source before it frees the old storage.
  bytes_.append(text);
  return true;
}

void DataBlock::Assign(std::string bytes) {
  owner_.reset();
  shared_ = {};
  bytes_ = std::move(bytes);
}

void DataBlock::Share(std::shared_ptr<const void> owner, std::string_view bytes) {
  if (!owner) return Assign(std::string(bytes));  // bytes nobody keeps alive are copied
  bytes_ = std::string();
  owner_ = std::move(owner);
  shared_ = bytes;
}

void DataBlock::Own(size_t extra) {
  if (!owner_) return;
  std::string own;
  own.reserve(shared_.size() + extra);
  own.assign(shared_);
  bytes_ = std::move(own);
  owner_.reset();
  shared_ = {};
}

}  // namespace ravelon
