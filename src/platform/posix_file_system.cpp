// The real file system: POSIX calls on Linux. Every failure is reported as
// its errno value with the path and the system's text for it. Interrupted
// calls (EINTR) are retried; short reads and writes are continued. Long
// writes skip the page cache (see page_cache_bypass.h).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "common/engine_limits.h"
#include "platform/page_cache_bypass.h"
#include "ravelon/file_system.h"

namespace ravelon {
namespace {

constexpr mode_t kFileMode = 0644;
constexpr mode_t kDirectoryMode = 0755;

int32_t Failure(int32_t number, const std::string& path, std::string& error) {
  error = path + ": " + std::generic_category().message(number);
  return number;
}

class PosixFile final : public RandomAccessFile {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { close(fd_); }

  int32_t Size(int64_t& size, std::string& error) override {
    struct stat info;
    if (fstat(fd_, &info) != 0) return Failure(errno, path_, error);
    size = info.st_size;
    return 0;
  }

  int32_t ReadAt(int64_t offset, size_t n, std::string& data, std::string& error) override {
    data.clear();
    if (offset < 0) return Failure(EINVAL, path_, error);
    // The buffer is sized by what the file holds, not by what was asked.
    int64_t size = 0;
    if (const int32_t status = Size(size, error); status != 0) return status;
    n = static_cast<size_t>(std::min<uint64_t>(n, size > offset ? size - offset : 0));
    data.resize(n);
    size_t done = 0;
    while (done < n) {
      const ssize_t got = pread(fd_, data.data() + done, n - done, offset + done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        data.clear();
        return Failure(errno, path_, error);
      }
      if (got == 0) break;  // end of file
      done += static_cast<size_t>(got);
    }
    data.resize(done);
    return 0;
  }

  int32_t WriteAt(int64_t offset, std::string_view data, std::string& error) override {
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t put = pwrite(fd_, data.data() + done, data.size() - done, offset + done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return Failure(errno, path_, error);
      done += static_cast<size_t>(put);
    }
    return 0;
  }

  // With write-through on, a long write (a save run's frames) skips the page
  // cache for its whole aligned blocks; the rest, and every write of a file
  // that refuses that, goes through the cache in one vectored call.
  int32_t WriteVectorAt(int64_t offset, std::span<const std::string_view> pieces,
                        std::string& error) override {
    PieceCursor cursor(pieces);
    int32_t status = 0;
    if (write_through_ && direct_usable_ &&
        static_cast<int64_t>(cursor.Remaining()) >= kMinDirectWriteBytes) {
      const int64_t end = offset + static_cast<int64_t>(cursor.Remaining());
      const int64_t direct_begin = AlignUp(offset);
      status = WriteBuffered(cursor, direct_begin - offset, offset);
      int64_t written = 0;
      if (status == 0) {
        status = WriteDirect(fd_, cursor, direct_begin, AlignDown(end) - direct_begin, written,
                             direct_usable_);
      }
      offset = direct_begin + written;
    }
    if (status == 0) status = WriteBuffered(cursor, cursor.Remaining(), offset);
    return status == 0 ? 0 : Failure(status, path_, error);
  }

  int32_t SetSize(int64_t size, std::string& error) override {
    while (ftruncate(fd_, size) != 0) {
      if (errno != EINTR) return Failure(errno, path_, error);
    }
    return 0;
  }

  // fallocate with mode 0 reserves the blocks and extends the length, but
  // never cuts; a longer file is cut afterwards so that `size` is the length.
  // File systems without it answer EOPNOTSUPP, which goes to the caller.
  int32_t Allocate(int64_t size, std::string& error) override {
    if (size < 0) return Failure(EINVAL, path_, error);
    if (size > 0) {
      while (fallocate(fd_, 0, 0, size) != 0) {
        if (errno != EINTR) return Failure(errno, path_, error);
      }
    }
    int64_t length = 0;
    if (const int32_t status = Size(length, error); status != 0) return status;
    return length == size ? 0 : SetSize(size, error);
  }

  int32_t Sync(std::string& error) override {
    while (fdatasync(fd_) != 0) {
      if (errno != EINTR) return Failure(errno, path_, error);
    }
    return 0;
  }

  void StartSync() override { sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE); }

  void SetWriteThrough(bool on) override { write_through_ = on; }

  int32_t IsLinked(bool& linked, std::string& error) override {
    struct stat info;
    if (fstat(fd_, &info) != 0) return Failure(errno, path_, error);
    linked = info.st_nlink > 0;
    return 0;
  }

 private:
  static int64_t AlignDown(int64_t at) {
    return at / kDirectWriteAlignment * kDirectWriteAlignment;
  }
  static int64_t AlignUp(int64_t at) { return AlignDown(at + kDirectWriteAlignment - 1); }

  // The next `n` bytes of `cursor` at `offset`, through the cache.
  int32_t WriteBuffered(PieceCursor& cursor, int64_t n, int64_t offset) {
    iovecs_.clear();
    cursor.Take(static_cast<size_t>(n), iovecs_);
    return WriteAllAt(fd_, iovecs_, offset);
  }

  const int fd_;
  const std::string path_;
  std::vector<iovec> iovecs_;  // kept between writes so a save run allocates nothing
  bool write_through_ = false;
  bool direct_usable_ = true;  // until the file refuses a direct write
};

// 1 = a folder, 0 = something else, -1 = nothing there (or not reachable).
int Kind(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return S_ISDIR(info.st_mode) ? 1 : 0;
}

class PosixFileSystem final : public FileSystem {
 public:
  int32_t Open(const std::string& path, OpenMode mode, std::unique_ptr<RandomAccessFile>& file,
               std::string& error) override {
    int flags = O_RDWR | O_CREAT | O_CLOEXEC;
    if (mode == OpenMode::kCreateTruncate) flags |= O_TRUNC;
    int fd;
    do {
      fd = open(path.c_str(), flags, kFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Failure(errno, path, error);
    file = std::make_unique<PosixFile>(fd, path);
    return 0;
  }

  bool FileExists(const std::string& path) override { return Kind(path) == 0; }
  bool DirectoryExists(const std::string& path) override { return Kind(path) == 1; }

  int32_t Remove(const std::string& path, std::string& error) override {
    return unlink(path.c_str()) == 0 ? 0 : Failure(errno, path, error);
  }

  int32_t Rename(const std::string& from, const std::string& to, std::string& error) override {
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : Failure(errno, from, error);
  }

  int32_t CreateDirectory(const std::string& path, std::string& error) override {
    return mkdir(path.c_str(), kDirectoryMode) == 0 ? 0 : Failure(errno, path, error);
  }

  int32_t List(const std::string& path, std::vector<DirectoryEntry>& entries,
               std::string& error) override {
    entries.clear();
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return Failure(errno, path, error);
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
      DirectoryEntry found{entry->d_name, entry->d_type == DT_DIR};
      // Some file systems leave the type open, and a link may name a folder.
      if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
        found.is_directory = Kind(path + "/" + found.name) == 1;
      }
      entries.push_back(std::move(found));
      errno = 0;
    }
    const int32_t status = errno == 0 ? 0 : Failure(errno, path, error);
    closedir(dir);
    return status;
  }

  // An empty path is the working folder, as for the store's base names.
  int32_t SyncDirectory(const std::string& path, std::string& error) override {
    const std::string folder = path.empty() ? "." : path;
    int fd;
    do {
      fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Failure(errno, folder, error);
    int32_t status = 0;
    while (fsync(fd) != 0) {
      if (errno != EINTR) {
        status = Failure(errno, folder, error);
        break;
      }
    }
    close(fd);
    return status;
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewPosixFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace ravelon
