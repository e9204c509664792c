// A growable byte buffer: the data of a frame. Bytes are appended at the end
// and consumed from the front. A frame cut from a stream shares the bytes of
// the receive buffer it came from (Share) instead of copying them; the block
// makes them its own, with one copy, only when it is changed.
//
// Owned by its user (a MediaFrame, an event list writer); used on the
// engine's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ravelon/memory_chunk.h"

namespace ravelon {

class DataBlock {
 public:
  DataBlock() = default;

  // Address of the first byte; valid until the content changes. The
  // writable form first makes shared bytes the block's own.
  char* Data();
  const char* Data() const { return View().data(); }

  int32_t Size() const { return static_cast<int32_t>(View().size()); }

  // The whole content, without a copy (valid until the content changes) or
  // as a copy.
  std::string_view View() const { return owner_ ? shared_ : std::string_view(bytes_); }
  std::string GetText() const { return std::string(View()); }
  MemoryChunk GetChunk() const { return MemoryChunk(GetText()); }

  void Clear();

  // Removes the first `n` bytes: nothing for n <= 0, everything for n >= Size().
  void DropFront(int32_t n);

  // Append at the end; the size grows by exactly the bytes given. A negative
  // count (or a null source with a positive count) appends nothing and
  // returns false. The source may lie inside this block.
  bool Append(const void* source, int32_t n);
  bool AppendChunk(const MemoryChunk& chunk);
  bool AppendText(std::string_view text);

  // Replaces the content with `bytes`, taken over without a copy.
  void Assign(std::string bytes);

  // Replaces the content with `bytes`, which `owner` keeps alive and nobody
  // changes while the block holds them, without a copy.
  void Share(std::shared_ptr<const void> owner, std::string_view bytes);

 private:
  // Makes shared bytes the block's own; `extra` bytes of room come with them.
  void Own(size_t extra = 0);

  std::string bytes_;                  // the content, unless it is shared
  std::shared_ptr<const void> owner_;  // set while the content is shared
  std::string_view shared_;
};

}  // namespace ravelon
