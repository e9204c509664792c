// A file system in memory for tests, with POSIX meanings: "/" separates
// folders, a file's folder must exist, listings hold "." and "..", an open
// file follows its file through renames and stays usable after a remove.
// Failures carry the errno value POSIX would give.
//
// Crash tests: every change is reported as a FileMutation to an optional
// observer, in order, and can be re-applied to another instance with Apply.
// Clone() takes a snapshot, so a test can replay any prefix of the changes
// (or a torn part of one write) onto the state before them (a process that
// died, its writes all reached the disk):
//
//   auto before = fs.Clone();
//   fs.SetObserver([&](const FileMutation& m) { log.push_back(m); });
//   ... run the store ...
//   for (k ...) { auto crashed = before->Clone(); replay log[0..k) ... }
//
// Power loss: the file system keeps what was synced apart from what was only
// written. A file's bytes and length last synced with Sync, and a folder's
// entries last synced with SyncDirectory (a new file or folder, a rename, a
// remove), are what AfterPowerLoss() gives; everything else is gone. A
// snapshot (Clone) starts fully synced.
//
// Paths are taken as absolute ("a/b" is "/a/b"); "." and ".." components and
// repeated or trailing "/" are resolved by their text. Single-threaded; the
// file system must outlive the files it opened.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ravelon/file_system.h"

namespace ravelon {

// One change of a MemoryFileSystem.
struct FileMutation {
  enum class Kind {
    kWrite,            // `data` written at byte `offset` of file `path`
    kSetSize,          // file `path` gets length `size` (created when missing)
    kRename,           // `path` moves to `to`, replacing a file there
    kRemove,           // file `path` is removed
    kCreateDirectory,  // folder `path` is created
    kSync,             // file `path` is made durable
    kSyncDirectory,    // the entries of folder `path` are made durable
  };
  Kind kind = Kind::kWrite;
  std::string path;
  std::string to;
  int64_t offset = 0;
  std::string data;
  int64_t size = 0;

  static FileMutation Write(std::string path, int64_t offset, std::string data) {
    FileMutation m = Of(Kind::kWrite, std::move(path));
    m.offset = offset;
    m.data = std::move(data);
    return m;
  }
  static FileMutation SetSize(std::string path, int64_t size) {
    FileMutation m = Of(Kind::kSetSize, std::move(path));
    m.size = size;
    return m;
  }
  static FileMutation Rename(std::string from, std::string to) {
    FileMutation m = Of(Kind::kRename, std::move(from));
    m.to = std::move(to);
    return m;
  }
  static FileMutation Remove(std::string path) { return Of(Kind::kRemove, std::move(path)); }
  static FileMutation CreateDirectory(std::string path) {
    return Of(Kind::kCreateDirectory, std::move(path));
  }
  static FileMutation Sync(std::string path) { return Of(Kind::kSync, std::move(path)); }
  static FileMutation SyncDirectory(std::string path) {
    return Of(Kind::kSyncDirectory, std::move(path));
  }

  bool operator==(const FileMutation&) const = default;

 private:
  static FileMutation Of(Kind kind, std::string path) {
    FileMutation m;
    m.kind = kind;
    m.path = std::move(path);
    return m;
  }
};

// A readable form for test failure messages (GoogleTest finds it).
void PrintTo(const FileMutation& mutation, std::ostream* os);

class MemoryFileSystem : public FileSystem {
 public:
  using Observer = std::function<void(const FileMutation&)>;

  MemoryFileSystem();
  ~MemoryFileSystem() override;
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  int32_t Open(const std::string& path, OpenMode mode, std::unique_ptr<RandomAccessFile>& file,
               std::string& error) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  int32_t Remove(const std::string& path, std::string& error) override;
  int32_t Rename(const std::string& from, const std::string& to, std::string& error) override;
  int32_t CreateDirectory(const std::string& path, std::string& error) override;
  // Entries in name order (bytewise), after "." and "..".
  int32_t List(const std::string& path, std::vector<DirectoryEntry>& entries,
               std::string& error) override;
  int32_t SyncDirectory(const std::string& path, std::string& error) override;

  // Receives every later change, after it took effect; empty = none.
  void SetObserver(Observer observer) { observer_ = std::move(observer); }
  // Makes the change again (it is reported to this instance's observer).
  // Returns 0 or the failure number the operation itself would give.
  int32_t Apply(const FileMutation& mutation);
  // A copy of the files and folders, all of it synced; no observer, no open
  // files.
  std::unique_ptr<MemoryFileSystem> Clone() const;
  // What a power loss now would leave: only synced bytes under synced names.
  std::unique_ptr<MemoryFileSystem> AfterPowerLoss() const;

  // The whole content of file `path`; empty when there is none.
  std::string Contents(const std::string& path) const;
  // Files opened and not yet closed.
  int OpenFileCount() const { return open_files_; }
  // False makes Allocate fail with EOPNOTSUPP, like a file system without
  // fast allocation.
  void SetAllocateSupported(bool supported) { allocate_supported_ = supported; }

 private:
  class File;
  // A file's bytes, and those last synced; `path` is its current name,
  // empty once removed.
  struct Inode {
    std::string data;
    std::string path;
    std::string synced;
  };
  // A folder has no inode.
  struct Node {
    std::shared_ptr<Inode> file;
  };

  static std::string Normalize(const std::string& path);
  static std::string Parent(const std::string& path);
  // 0 when the folder of normalized `path` exists, else ENOENT or ENOTDIR.
  int32_t CheckParent(const std::string& path) const;
  // Finds or makes the file at normalized `path`; 0 or a failure number.
  int32_t FindOrCreate(const std::string& path, std::shared_ptr<Inode>& inode);
  void Write(Inode& inode, int64_t offset, std::string_view data);
  void Resize(Inode& inode, int64_t size);
  void Report(const FileMutation& mutation);

  // Copies the nodes that lie under surviving folders into `copy`, each file
  // with its current or its synced bytes; in the copy all of it is synced.
  static void CopyNodes(const std::map<std::string, Node>& from, bool syncedOnly,
                        MemoryFileSystem& copy);

  std::map<std::string, Node> nodes_;  // by normalized path; "/" always there
  // The names a power loss would leave, as of each folder's last sync.
  std::map<std::string, Node> durable_;
  Observer observer_;
  bool allocate_supported_ = true;
  int open_files_ = 0;
};

}  // namespace ravelon
