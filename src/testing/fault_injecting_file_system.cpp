#include "ravelon/testing/fault_injecting_file_system.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace ravelon {
namespace {

int32_t Injected(int32_t number, std::string& error) {
  error = "injected: " + std::generic_category().message(number);
  return number;
}

}  // namespace

class FaultInjectingFileSystem::File final : public RandomAccessFile {
 public:
  File(FaultInjectingFileSystem& fs, std::string path, std::unique_ptr<RandomAccessFile> target)
      : fs_(fs), path_(std::move(path)), target_(std::move(target)) {}

  int32_t Size(int64_t& size, std::string& error) override {
    ++fs_.queries_seen_;
    return target_->Size(size, error);
  }
  int32_t ReadAt(int64_t offset, size_t n, std::string& data, std::string& error) override {
    if (const auto failing = fs_.failing_reads_.find(path_); failing != fs_.failing_reads_.end()) {
      return Injected(failing->second, error);
    }
    return target_->ReadAt(offset, n, data, error);
  }
  int32_t SetSize(int64_t size, std::string& error) override {
    return target_->SetSize(size, error);
  }
  int32_t Sync(std::string& error) override {
    return fs_.SyncFails() ? Injected(fs_.sync_error_, error) : target_->Sync(error);
  }
  void StartSync() override { target_->StartSync(); }
  void SetWriteThrough(bool on) override { target_->SetWriteThrough(on); }
  int32_t IsLinked(bool& linked, std::string& error) override {
    ++fs_.queries_seen_;
    return target_->IsLinked(linked, error);
  }

  int32_t WriteAt(int64_t offset, std::string_view data, std::string& error) override {
    return WriteVectorAt(offset, std::span<const std::string_view>(&data, 1), error);
  }

  // A vectored write is one write: it fails as a whole, or a short one lands
  // the first bytes of the pieces back to back.
  int32_t WriteVectorAt(int64_t offset, std::span<const std::string_view> pieces,
                        std::string& error) override {
    ++fs_.writes_seen_;
    size_t total = 0;
    for (const std::string_view piece : pieces) total += piece.size();
    int32_t status = 0;
    if (fs_.writes_until_failure_ > 0 && --fs_.writes_until_failure_ == 0) {
      status = Injected(fs_.write_error_, error);
    } else if (fs_.writes_until_short_ > 0 && --fs_.writes_until_short_ == 0) {
      size_t landed = std::min(fs_.short_write_bytes_, total);
      std::vector<std::string_view> prefix;
      for (const std::string_view piece : pieces) {
        if (landed == 0) break;
        prefix.push_back(piece.substr(0, landed));
        landed -= prefix.back().size();
      }
      status = target_->WriteVectorAt(offset, prefix, error);
      if (status == 0) status = Injected(EIO, error);
    } else {
      // A write of nothing does not extend the file.
      const int64_t end = total == 0 ? 0 : offset + static_cast<int64_t>(total);
      int64_t growth = 0;
      status = Room(end, growth, error);
      if (status == 0) status = target_->WriteVectorAt(offset, pieces, error);
      if (status == 0) Use(growth);
    }
    if (status != 0) ++fs_.writes_failed_;
    return status;
  }

  int32_t Allocate(int64_t size, std::string& error) override {
    int64_t growth = 0;
    int32_t status = Room(size, growth, error);
    if (status == 0) status = target_->Allocate(size, error);
    if (status == 0) Use(growth);
    return status;
  }

 private:
  // The bytes that making the file `end` long adds, or ENOSPC when the free
  // space cannot hold them.
  int32_t Room(int64_t end, int64_t& growth, std::string& error) {
    growth = 0;
    if (!fs_.free_space_) return 0;
    int64_t size = 0;
    if (const int32_t status = target_->Size(size, error); status != 0) return status;
    growth = std::max<int64_t>(0, end - size);
    return growth > *fs_.free_space_ ? Injected(ENOSPC, error) : 0;
  }
  void Use(int64_t growth) {
    if (fs_.free_space_) *fs_.free_space_ -= growth;
  }

  FaultInjectingFileSystem& fs_;
  const std::string path_;
  const std::unique_ptr<RandomAccessFile> target_;
};

bool FaultInjectingFileSystem::SyncFails() {
  ++syncs_seen_;
  return syncs_until_failure_ > 0 && --syncs_until_failure_ == 0;
}

int32_t FaultInjectingFileSystem::SyncDirectory(const std::string& path, std::string& error) {
  return SyncFails() ? Injected(sync_error_, error) : target_.SyncDirectory(path, error);
}

int32_t FaultInjectingFileSystem::Open(const std::string& path, OpenMode mode,
                                       std::unique_ptr<RandomAccessFile>& file,
                                       std::string& error) {
  if (const auto failing = failing_opens_.find(path); failing != failing_opens_.end()) {
    return Injected(failing->second, error);
  }
  std::unique_ptr<RandomAccessFile> opened;
  if (const int32_t status = target_.Open(path, mode, opened, error); status != 0) return status;
  file = std::make_unique<File>(*this, path, std::move(opened));
  return 0;
}

}  // namespace ravelon
