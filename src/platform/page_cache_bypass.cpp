#include "platform/page_cache_bypass.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

struct FreeAligned {
  void operator()(char* p) const { std::free(p); }
};

// Null when the memory cannot be had; the write then goes through the cache.
char* StagingBuffer() {
  thread_local const std::unique_ptr<char, FreeAligned> buffer(
      static_cast<char*>(std::aligned_alloc(kDirectWriteAlignment, kDirectStagingBytes)));
  return buffer.get();
}

// Sets or clears O_DIRECT on the open file; false when the file refuses it.
bool SetDirect(int fd, bool on) {
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

}  // namespace

PieceCursor::PieceCursor(std::span<const std::string_view> pieces) : pieces_(pieces) {
  for (const std::string_view piece : pieces) remaining_ += piece.size();
}

std::string_view PieceCursor::Next(size_t n) {
  while (used_ == pieces_[piece_].size()) {
    ++piece_;
    used_ = 0;
  }
  const std::string_view next = pieces_[piece_].substr(used_, n);
  used_ += next.size();
  remaining_ -= next.size();
  return next;
}

void PieceCursor::Take(size_t n, std::vector<iovec>& out) {
  while (n > 0) {
    const std::string_view next = Next(n);
    out.push_back({const_cast<char*>(next.data()), next.size()});
    n -= next.size();
  }
}

void PieceCursor::CopyTo(char* dest, size_t n) {
  while (n > 0) {
    const std::string_view next = Next(n);
    std::memcpy(dest, next.data(), next.size());
    dest += next.size();
    n -= next.size();
  }
}

// pwritev, IOV_MAX pieces at a time; a short write goes on from the first
// byte that did not land.
int32_t WriteAllAt(int fd, std::span<iovec> vecs, int64_t offset) {
  for (size_t first = 0; first < vecs.size();) {
    const int count = static_cast<int>(std::min<size_t>(vecs.size() - first, IOV_MAX));
    ssize_t put = pwritev(fd, &vecs[first], count, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;  // no progress: never loop on it
    offset += put;
    for (; first < vecs.size() && static_cast<size_t>(put) >= vecs[first].iov_len; ++first)
      put -= static_cast<ssize_t>(vecs[first].iov_len);
    if (put > 0) {
      vecs[first].iov_base = static_cast<char*>(vecs[first].iov_base) + put;
      vecs[first].iov_len -= static_cast<size_t>(put);
    }
  }
  return 0;
}

int32_t WriteDirect(int fd, PieceCursor& cursor, int64_t offset, int64_t n, int64_t& written,
                    bool& usable) {
  written = 0;
  char* const staging = StagingBuffer();
  if (staging == nullptr || !SetDirect(fd, true)) {
    usable = false;
    return 0;
  }
  int32_t status = 0;
  while (written < n) {
    const size_t chunk = static_cast<size_t>(std::min(n - written, kDirectStagingBytes));
    cursor.CopyTo(staging, chunk);
    ssize_t put;
    do {
      put = pwrite(fd, staging, chunk, offset + written);
    } while (put < 0 && errno == EINTR);
    if (put < 0 && errno != EINVAL) {
      status = errno;
      break;
    }
    if (static_cast<size_t>(put) != chunk) {
      // Refused, or short (a full disk takes what fits): the rest of the chunk
      // goes through the cache, which says why it cannot go on, if it cannot.
      if (put < 0) usable = false;
      SetDirect(fd, false);
      const size_t landed = put < 0 ? 0 : static_cast<size_t>(put);
      iovec rest{staging + landed, chunk - landed};
      status = WriteAllAt(fd, {&rest, 1}, offset + written + static_cast<int64_t>(landed));
      if (status == 0) written += static_cast<int64_t>(chunk);
      return status;
    }
    written += static_cast<int64_t>(chunk);
  }
  SetDirect(fd, false);
  return status;
}

}  // namespace ravelon
