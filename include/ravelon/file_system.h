// Files as the frame store needs them: open-or-create, read and write at byte
// offsets, size changes with and without writing, rename over an existing
// name, remove, folders and listings. Every operation returns 0 on success or
// a failure number (an errno value for the real file system) with its
// description in `error`; nothing throws.
//
// Real implementation: POSIX (NewPosixFileSystem). Simulated: in memory, with
// a log of every change for crash tests (MemoryFileSystem), and a
// fault-injecting wrapper (FaultInjectingFileSystem). Used on the engine's
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ravelon {

class RandomAccessFile {
 public:
  virtual ~RandomAccessFile() = default;

  virtual int32_t Size(int64_t& size, std::string& error) = 0;
  // Reads up to `n` bytes at `offset` (0-based) into `data`; fewer at the end.
  virtual int32_t ReadAt(int64_t offset, size_t n, std::string& data, std::string& error) = 0;
  // Writes all of `data` at `offset`, extending the file as needed (a gap
  // reads as zero bytes).
  virtual int32_t WriteAt(int64_t offset, std::string_view data, std::string& error) = 0;
  // Writes `pieces` back to back from `offset`, as WriteAt of their
  // concatenation would, in one vectored call where the file system has one
  // (so a run of frames costs one system call and no copy into one buffer).
  // On failure any prefix of the bytes may have landed.
  virtual int32_t WriteVectorAt(int64_t offset, std::span<const std::string_view> pieces,
                                std::string& error) {
    for (const std::string_view piece : pieces) {
      if (const int32_t status = WriteAt(offset, piece, error); status != 0) return status;
      offset += static_cast<int64_t>(piece.size());
    }
    return 0;
  }
  // Sets the length, cutting or extending (extension reads as zero bytes).
  virtual int32_t SetSize(int64_t size, std::string& error) = 0;
  // Reserves space up to `size` and makes that the length, without writing
  // the bytes, where the file system can; otherwise fails (callers fall back
  // to SetSize).
  virtual int32_t Allocate(int64_t size, std::string& error) = 0;
  // Makes every write so far durable (the data and the length; not the
  // file's name: see FileSystem::SyncDirectory).
  virtual int32_t Sync(std::string& error) = 0;
  // Starts writing the file's data to the disk without waiting, so that the
  // Syncs of several files that follow wait for writes already under way
  // together rather than one after the other. A hint: it promises nothing.
  virtual void StartSync() {}
  // Lets long writes go straight to the disk, skipping the system's cache,
  // for a writer that waits for its writes anyway (it syncs after each): the
  // copy into the cache and its write-back are saved, and the cache keeps
  // room for others. A hint, off when the file is opened.
  virtual void SetWriteThrough(bool /*on*/) {}
  // Whether the file still has a name: false once it was removed, or
  // replaced by a rename onto its name (its folder removed included).
  virtual int32_t IsLinked(bool& linked, std::string& error) = 0;
};

struct DirectoryEntry {
  std::string name;
  bool is_directory = false;
};

class FileSystem {
 public:
  enum class OpenMode { kOpenOrCreate, kCreateTruncate };

  virtual ~FileSystem() = default;

  // Opens `path` for reading and writing; kOpenOrCreate creates a missing
  // file, kCreateTruncate also empties an existing one.
  virtual int32_t Open(const std::string& path, OpenMode mode,
                       std::unique_ptr<RandomAccessFile>& file, std::string& error) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  virtual int32_t Remove(const std::string& path, std::string& error) = 0;
  // Moves `from` to `to`, replacing a file named `to`.
  virtual int32_t Rename(const std::string& from, const std::string& to, std::string& error) = 0;
  virtual int32_t CreateDirectory(const std::string& path, std::string& error) = 0;
  // The entries of folder `path`, "." and ".." included, in the file
  // system's order.
  virtual int32_t List(const std::string& path, std::vector<DirectoryEntry>& entries,
                       std::string& error) = 0;
  // Makes the folder's entries durable: files created in, renamed into or
  // removed from `path` keep that state after a power loss.
  virtual int32_t SyncDirectory(const std::string& path, std::string& error) = 0;
};

std::unique_ptr<FileSystem> NewPosixFileSystem();

}  // namespace ravelon
