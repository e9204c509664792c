#include "ravelon/memory_chunk.h"

namespace ravelon {

void MemoryChunk::SetSize(int32_t size) {
  bytes_.resize(size > 0 ? static_cast<size_t>(size) : 0, '\0');
}

void MemoryChunk::CopyFrom(const void* source, int32_t size) {
  if (size <= 0) {
    bytes_.clear();
    return;
  }
  if (source == nullptr) {
    bytes_.assign(static_cast<size_t>(size), '\0');
    return;
  }
  // assign() copes with a source inside bytes_ itself.
  bytes_.assign(static_cast<const char*>(source), static_cast<size_t>(size));
}

bool MemoryChunk::ToText(std::string& text) const {
  text = bytes_;
  return true;
}

}  // namespace ravelon
