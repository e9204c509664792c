#include "ravelon/data_block.h"

namespace ravelon {

void DataBlock::DropFront(int32_t n) {
  if (n <= 0) return;
  if (static_cast<size_t>(n) >= bytes_.size()) {
    bytes_.clear();
    return;
  }
  bytes_.erase(0, static_cast<size_t>(n));
}

bool DataBlock::Append(const void* source, int32_t n) {
  if (n < 0) return false;
  if (n == 0) return true;
  if (source == nullptr) return false;
  // append() copes with a source inside bytes_: on growth it copies the
  // source before it frees the old storage.
  bytes_.append(static_cast<const char*>(source), static_cast<size_t>(n));
  return true;
}

bool DataBlock::AppendChunk(const MemoryChunk& chunk) {
  bytes_.append(chunk.Bytes());
  return true;
}

bool DataBlock::AppendText(std::string_view text) {
  bytes_.append(text);
  return true;
}

}  // namespace ravelon
