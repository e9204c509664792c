// The system's page cache as tests of writes that skip it see it: how much of
// a file it holds, and whether a folder's file system lets writes skip it.
#pragma once

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ravelon::testing {

// The pages of the file at `path` that the page cache holds; -1 when that
// cannot be told (no such file, an empty one).
inline int CachedPages(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const off_t length = fd < 0 ? 0 : lseek(fd, 0, SEEK_END);
  void* map = length > 0 ? mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_SHARED, fd, 0)
                         : MAP_FAILED;
  if (fd >= 0) close(fd);
  if (map == MAP_FAILED) return -1;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((static_cast<size_t>(length) + page - 1) / page);
  const bool told = mincore(map, static_cast<size_t>(length), resident.data()) == 0;
  munmap(map, static_cast<size_t>(length));
  if (!told) return -1;
  return static_cast<int>(
      std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }));
}

// Whether writes can skip the page cache in `folder`: tmpfs, for one, is the
// cache itself.
inline bool WritesCanSkipTheCache(const std::string& folder) {
  const std::string probe = folder + "/direct-probe";
  const int fd = open(probe.c_str(), O_CREAT | O_WRONLY | O_DIRECT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  struct statfs kind {};
  return statfs(folder.c_str(), &kind) == 0 && kind.f_type != TMPFS_MAGIC;
}

}  // namespace ravelon::testing
