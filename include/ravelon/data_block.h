// A growable byte buffer: the receive buffer a stream is parsed from and the
// data of a frame. Bytes are appended at the end and consumed from the front.
// The content is one std::string, so Text() hands it out without a copy and
// Assign() takes a whole frame's bytes over without a copy.
//
// Owned by its user (a parser, a MediaFrame); used on the engine's thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ravelon/memory_chunk.h"

namespace ravelon {

class DataBlock {
 public:
  DataBlock() = default;

  // Address of the first byte; valid until the content changes.
  char* Data() { return bytes_.data(); }
  const char* Data() const { return bytes_.data(); }

  int32_t Size() const { return static_cast<int32_t>(bytes_.size()); }

  // The whole content, as a reference (no copy) or as a copy.
  const std::string& Text() const { return bytes_; }
  std::string GetText() const { return bytes_; }
  MemoryChunk GetChunk() const { return MemoryChunk(bytes_); }

  void Clear() { bytes_.clear(); }

  // Removes the first `n` bytes: nothing for n <= 0, everything for n >= Size().
  void DropFront(int32_t n);

  // Append at the end; the size grows by exactly the bytes given. A negative
  // count (or a null source with a positive count) appends nothing and
  // returns false. The source may lie inside this block.
  bool Append(const void* source, int32_t n);
  bool AppendChunk(const MemoryChunk& chunk);
  bool AppendText(std::string_view text);

  // Replaces the content with `bytes`, taken over without a copy.
  void Assign(std::string bytes) { bytes_ = std::move(bytes); }

 private:
  std::string bytes_;
};

}  // namespace ravelon
