// Long writes that skip the page cache. A save run of frames written through
// the cache costs the saving thread a copy into the cache and the kernel's
// write-back on top; written with O_DIRECT from an aligned staging buffer it
// costs one copy into that buffer. The partial blocks at either end of a write
// share a block with the bytes of other writes, so they stay buffered.
//
// Used by the POSIX file system on whichever thread writes the file (an
// engine's thread); the staging buffer is one per thread, made at that
// thread's first direct write.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ravelon {

// The bytes of a list of pieces, taken from the front in order.
class PieceCursor {
 public:
  explicit PieceCursor(std::span<const std::string_view> pieces);

  size_t Remaining() const { return remaining_; }
  // Appends the next `n` bytes (at most Remaining()) to `out` as iovecs,
  // without empty ones, and moves past them.
  void Take(size_t n, std::vector<iovec>& out);
  // Copies the next `n` bytes (at most Remaining()) to `dest` and moves past them.
  void CopyTo(char* dest, size_t n);

 private:
  // The next `n` bytes' first piece, as far as it reaches, moved past.
  std::string_view Next(size_t n);

  std::span<const std::string_view> pieces_;
  size_t piece_ = 0;  // the piece the next byte is in
  size_t used_ = 0;   // bytes of that piece already taken
  size_t remaining_ = 0;
};

// Writes all of `vecs` at `offset` of `fd`, going on after short writes and
// interruptions; 0 or an errno. Changes `vecs` as it goes.
int32_t WriteAllAt(int fd, std::span<iovec> vecs, int64_t offset);

// Writes the next `n` bytes of `cursor` at `offset` of `fd` (both multiples of
// kDirectWriteAlignment) with O_DIRECT, a staging buffer at a time; 0 or an
// errno. `written` tells how many bytes are done; the caller writes the rest
// through the cache. A file that refuses direct writes (a file system without
// them, a device with larger blocks) clears `usable`, so that its later writes
// do not try again.
int32_t WriteDirect(int fd, PieceCursor& cursor, int64_t offset, int64_t n, int64_t& written,
                    bool& usable);

}  // namespace ravelon
