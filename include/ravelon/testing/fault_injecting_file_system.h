// A FileSystem that forwards to another and makes chosen operations fail the
// way disks do, for tests of the store's error paths:
// - the Nth write from now fails (ENOSPC or EIO), writing nothing (a vectored
//   write counts as one write);
// - a full disk: a write or allocation that would make files grow by more
//   than the free space left fails with ENOSPC, writing nothing; raising the
//   free space lets writes succeed again;
// - a short write: only the first k bytes of the Nth write from now land (of
//   a vectored one: of its pieces back to back), then it fails with EIO;
// - the Nth sync from now (of a file or a folder) fails (EIO), making
//   nothing durable;
// - opens of a given path fail, or reads of the files opened from it.
// Free space is used up by the bytes that writes and allocations add at the
// end of a file; SetSize passes (a real extension is sparse) and cuts give no
// space back.
//
// Single-threaded; it must outlive the files it opened, and the wrapped file
// system must outlive it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ravelon/file_system.h"

namespace ravelon {

class FaultInjectingFileSystem : public FileSystem {
 public:
  explicit FaultInjectingFileSystem(FileSystem& target) : target_(target) {}

  // Write number `n` from now (1 = the next one) fails with `error`.
  void FailNthWrite(int64_t n, int32_t error) {
    writes_until_failure_ = n;
    write_error_ = error;
  }
  // Sync number `n` from now (files and folders; 1 = the next) fails with
  // `error`.
  void FailNthSync(int64_t n, int32_t error) {
    syncs_until_failure_ = n;
    sync_error_ = error;
  }
  // Files may grow by `bytes` more in all; no limit until this is called.
  void SetFreeSpace(int64_t bytes) { free_space_ = bytes; }
  void RemoveSpaceLimit() { free_space_.reset(); }
  std::optional<int64_t> FreeSpace() const { return free_space_; }
  // Write number `n` from now (1 = the next one) stores only its first
  // `bytes` bytes and fails with EIO.
  void ShortenNthWrite(int64_t n, size_t bytes) {
    writes_until_short_ = n;
    short_write_bytes_ = bytes;
  }
  void ShortenNextWrite(size_t bytes) { ShortenNthWrite(1, bytes); }
  // Opens of `path` (as given) fail with `error` until ClearOpenFailures.
  void FailOpen(const std::string& path, int32_t error) { failing_opens_[path] = error; }
  void ClearOpenFailures() { failing_opens_.clear(); }
  // Reads of files opened from `path` (as given), before or after this call,
  // fail with `error` until ClearReadFailures.
  void FailReads(const std::string& path, int32_t error) { failing_reads_[path] = error; }
  void ClearReadFailures() { failing_reads_.clear(); }

  // WriteAt and WriteVectorAt calls seen, failed ones included, and how many
  // of them failed.
  int64_t WritesSeen() const { return writes_seen_; }
  int64_t WritesFailed() const { return writes_failed_; }
  int64_t SyncsSeen() const { return syncs_seen_; }
  // Size and IsLinked calls seen (each a stat call on a real disk).
  int64_t QueriesSeen() const { return queries_seen_; }

  int32_t Open(const std::string& path, OpenMode mode, std::unique_ptr<RandomAccessFile>& file,
               std::string& error) override;
  bool FileExists(const std::string& path) override { return target_.FileExists(path); }
  bool DirectoryExists(const std::string& path) override { return target_.DirectoryExists(path); }
  int32_t Remove(const std::string& path, std::string& error) override {
    return target_.Remove(path, error);
  }
  int32_t Rename(const std::string& from, const std::string& to, std::string& error) override {
    return target_.Rename(from, to, error);
  }
  int32_t CreateDirectory(const std::string& path, std::string& error) override {
    return target_.CreateDirectory(path, error);
  }
  int32_t List(const std::string& path, std::vector<DirectoryEntry>& entries,
               std::string& error) override {
    return target_.List(path, entries, error);
  }
  int32_t SyncDirectory(const std::string& path, std::string& error) override;

 private:
  class File;

  FileSystem& target_;
  int64_t writes_until_failure_ = 0;  // 0 = no failure planned
  int32_t write_error_ = 0;
  std::optional<int64_t> free_space_;
  int64_t writes_until_short_ = 0;  // 0 = no short write planned
  size_t short_write_bytes_ = 0;
  std::map<std::string, int32_t> failing_opens_;
  std::map<std::string, int32_t> failing_reads_;
  // Counts a sync; true when it is the one planned to fail.
  bool SyncFails();

  int64_t syncs_until_failure_ = 0;  // 0 = no failure planned
  int32_t sync_error_ = 0;
  int64_t syncs_seen_ = 0;
  int64_t writes_seen_ = 0;
  int64_t writes_failed_ = 0;
  int64_t queries_seen_ = 0;
};

}  // namespace ravelon
