// A fixed run of bytes handed around as one unit: a frame's data taken out
// whole, a block received on an inter-process port. The bytes live in a
// std::string, one char per byte, so they can be moved in and out without
// copying.
//
// Value type, owned by whoever holds it; used on the engine's thread.
#pragma once

#include <cstdint>
#include <string>

namespace ravelon {

class MemoryChunk {
 public:
  MemoryChunk() = default;
  explicit MemoryChunk(std::string bytes) : bytes_(std::move(bytes)) {}

  int32_t GetSize() const { return static_cast<int32_t>(bytes_.size()); }

  // Makes the chunk `size` bytes long. Bytes kept from before stay as they
  // were; bytes added are zero. A negative size empties the chunk.
  void SetSize(int32_t size);

  // Address of the first byte; valid until the size changes.
  char* Data() { return bytes_.data(); }
  const char* Data() const { return bytes_.data(); }

  // Makes the chunk a copy of `size` bytes at `source` (which may lie inside
  // this chunk). A negative size empties it; a null source gives zero bytes.
  void CopyFrom(const void* source, int32_t size);

  // Puts the bytes into `text`, one char per byte. Always succeeds today; the
  // result stays so that a chunk that cannot be read as text can say so.
  bool ToText(std::string& text) const;

  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace ravelon
