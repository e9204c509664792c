#include "ravelon/testing/memory_file_system.h"

#include <cerrno>
#include <ostream>
#include <system_error>
#include <utility>

namespace ravelon {
namespace {

int32_t Failure(int32_t number, const std::string& path, std::string& error) {
  error = path + ": " + std::generic_category().message(number);
  return number;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void PrintTo(const FileMutation& mutation, std::ostream* os) {
  switch (mutation.kind) {
    case FileMutation::Kind::kWrite:
      *os << "Write(" << mutation.path << ", " << mutation.offset << ", " << mutation.data.size()
          << " bytes)";
      return;
    case FileMutation::Kind::kSetSize:
      *os << "SetSize(" << mutation.path << ", " << mutation.size << ")";
      return;
    case FileMutation::Kind::kRename:
      *os << "Rename(" << mutation.path << ", " << mutation.to << ")";
      return;
    case FileMutation::Kind::kRemove:
      *os << "Remove(" << mutation.path << ")";
      return;
    case FileMutation::Kind::kCreateDirectory:
      *os << "CreateDirectory(" << mutation.path << ")";
      return;
    case FileMutation::Kind::kSync:
      *os << "Sync(" << mutation.path << ")";
      return;
    case FileMutation::Kind::kSyncDirectory:
      *os << "SyncDirectory(" << mutation.path << ")";
      return;
  }
}

class MemoryFileSystem::File final : public RandomAccessFile {
 public:
  File(MemoryFileSystem& fs, std::shared_ptr<Inode> inode) : fs_(fs), inode_(std::move(inode)) {
    ++fs_.open_files_;
  }
  ~File() override { --fs_.open_files_; }

  int32_t Size(int64_t& size, std::string& /*error*/) override {
    size = static_cast<int64_t>(inode_->data.size());
    return 0;
  }

  int32_t ReadAt(int64_t offset, size_t n, std::string& data, std::string& error) override {
    data.clear();
    if (offset < 0) return Failure(EINVAL, inode_->path, error);
    if (static_cast<uint64_t>(offset) < inode_->data.size()) {
      data = inode_->data.substr(static_cast<size_t>(offset), n);
    }
    return 0;
  }

  int32_t WriteAt(int64_t offset, std::string_view data, std::string& error) override {
    if (offset < 0) return Failure(EINVAL, inode_->path, error);
    fs_.Write(*inode_, offset, data);
    return 0;
  }

  // One change, as one system call makes it: a crash test cuts it whole or
  // tears it.
  int32_t WriteVectorAt(int64_t offset, std::span<const std::string_view> pieces,
                        std::string& error) override {
    if (pieces.size() == 1) return WriteAt(offset, pieces[0], error);
    std::string joined;
    for (const std::string_view piece : pieces) joined += piece;
    return WriteAt(offset, joined, error);
  }

  int32_t SetSize(int64_t size, std::string& error) override {
    if (size < 0) return Failure(EINVAL, inode_->path, error);
    fs_.Resize(*inode_, size);
    return 0;
  }

  int32_t Allocate(int64_t size, std::string& error) override {
    if (!fs_.allocate_supported_) return Failure(EOPNOTSUPP, inode_->path, error);
    return SetSize(size, error);
  }

  int32_t Sync(std::string& /*error*/) override {
    inode_->synced = inode_->data;
    if (!inode_->path.empty()) fs_.Report(FileMutation::Sync(inode_->path));
    return 0;
  }

  int32_t IsLinked(bool& linked, std::string& /*error*/) override {
    linked = !inode_->path.empty();
    return 0;
  }

 private:
  MemoryFileSystem& fs_;
  const std::shared_ptr<Inode> inode_;
};

MemoryFileSystem::MemoryFileSystem() {
  nodes_["/"] = Node{};
  durable_["/"] = Node{};
}

MemoryFileSystem::~MemoryFileSystem() = default;

std::string MemoryFileSystem::Normalize(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string normalized;
  for (const std::string& part : parts) normalized += "/" + part;
  return normalized.empty() ? "/" : normalized;
}

std::string MemoryFileSystem::Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

int32_t MemoryFileSystem::CheckParent(const std::string& path) const {
  const auto parent = nodes_.find(Parent(path));
  if (parent == nodes_.end()) return ENOENT;
  return parent->second.file ? ENOTDIR : 0;
}

int32_t MemoryFileSystem::FindOrCreate(const std::string& path, std::shared_ptr<Inode>& inode) {
  if (const auto found = nodes_.find(path); found != nodes_.end()) {
    if (!found->second.file) return EISDIR;
    inode = found->second.file;
    return 0;
  }
  if (const int32_t status = CheckParent(path); status != 0) return status;
  inode = std::make_shared<Inode>(Inode{"", path, ""});
  nodes_[path] = Node{inode};
  Report(FileMutation::SetSize(path, 0));
  return 0;
}

void MemoryFileSystem::Write(Inode& inode, int64_t offset, std::string_view data) {
  if (data.empty()) return;  // like pwrite of nothing: the length stays
  const size_t begin = static_cast<size_t>(offset);
  if (inode.data.size() < begin + data.size()) inode.data.resize(begin + data.size(), '\0');
  inode.data.replace(begin, data.size(), data);
  if (!inode.path.empty()) {
    Report(FileMutation::Write(inode.path, offset, std::string(data)));
  }
}

void MemoryFileSystem::Resize(Inode& inode, int64_t size) {
  inode.data.resize(static_cast<size_t>(size), '\0');
  if (!inode.path.empty()) {
    Report(FileMutation::SetSize(inode.path, size));
  }
}

void MemoryFileSystem::Report(const FileMutation& mutation) {
  if (observer_) observer_(mutation);
}

int32_t MemoryFileSystem::Open(const std::string& path, OpenMode mode,
                               std::unique_ptr<RandomAccessFile>& file, std::string& error) {
  const std::string name = Normalize(path);
  const bool existed = nodes_.count(name) > 0;
  std::shared_ptr<Inode> inode;
  if (const int32_t status = FindOrCreate(name, inode); status != 0) {
    return Failure(status, path, error);
  }
  if (existed && mode == OpenMode::kCreateTruncate) Resize(*inode, 0);
  file = std::make_unique<File>(*this, std::move(inode));
  return 0;
}

bool MemoryFileSystem::FileExists(const std::string& path) {
  const auto found = nodes_.find(Normalize(path));
  return found != nodes_.end() && found->second.file;
}

bool MemoryFileSystem::DirectoryExists(const std::string& path) {
  const auto found = nodes_.find(Normalize(path));
  return found != nodes_.end() && !found->second.file;
}

int32_t MemoryFileSystem::Remove(const std::string& path, std::string& error) {
  const std::string name = Normalize(path);
  const auto found = nodes_.find(name);
  if (found == nodes_.end()) return Failure(ENOENT, path, error);
  if (!found->second.file) return Failure(EISDIR, path, error);
  found->second.file->path.clear();  // open files keep the bytes, unnamed
  nodes_.erase(found);
  Report(FileMutation::Remove(name));
  return 0;
}

int32_t MemoryFileSystem::Rename(const std::string& from, const std::string& to,
                                 std::string& error) {
  const std::string source = Normalize(from);
  const std::string target = Normalize(to);
  const auto found = nodes_.find(source);
  if (found == nodes_.end()) return Failure(ENOENT, from, error);
  if (source == target) return 0;
  if (const int32_t status = CheckParent(target); status != 0) return Failure(status, to, error);
  const auto existing = nodes_.find(target);
  const bool moving_folder = !found->second.file;
  if (existing != nodes_.end()) {
    const bool onto_folder = !existing->second.file;
    if (onto_folder && !moving_folder) return Failure(EISDIR, to, error);
    if (!onto_folder && moving_folder) return Failure(ENOTDIR, to, error);
    if (onto_folder) {
      const auto child = nodes_.lower_bound(target + "/");
      if (child != nodes_.end() && StartsWith(child->first, target + "/")) {
        return Failure(ENOTEMPTY, to, error);
      }
    } else {
      existing->second.file->path.clear();
    }
  }
  if (moving_folder && (source == "/" || StartsWith(target, source + "/"))) {
    return Failure(EINVAL, from, error);
  }
  // The entry itself and, for a folder, everything below it.
  std::vector<std::string> moved = {source};
  for (auto it = nodes_.lower_bound(source + "/"); it != nodes_.end(); ++it) {
    if (!StartsWith(it->first, source + "/")) break;
    moved.push_back(it->first);
  }
  for (const std::string& old_name : moved) {
    const std::string new_name = target + old_name.substr(source.size());
    Node node = std::move(nodes_[old_name]);
    nodes_.erase(old_name);
    if (node.file) node.file->path = new_name;
    nodes_[new_name] = std::move(node);
  }
  Report(FileMutation::Rename(source, target));
  return 0;
}

int32_t MemoryFileSystem::CreateDirectory(const std::string& path, std::string& error) {
  const std::string name = Normalize(path);
  if (nodes_.count(name) > 0) return Failure(EEXIST, path, error);
  if (const int32_t status = CheckParent(name); status != 0) return Failure(status, path, error);
  nodes_[name] = Node{};
  Report(FileMutation::CreateDirectory(name));
  return 0;
}

int32_t MemoryFileSystem::List(const std::string& path, std::vector<DirectoryEntry>& entries,
                               std::string& error) {
  entries.clear();
  const std::string name = Normalize(path);
  const auto found = nodes_.find(name);
  if (found == nodes_.end()) return Failure(ENOENT, path, error);
  if (found->second.file) return Failure(ENOTDIR, path, error);
  entries = {{".", true}, {"..", true}};
  const std::string prefix = name == "/" ? "/" : name + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
    if (!StartsWith(it->first, prefix)) break;
    const std::string child = it->first.substr(prefix.size());
    if (child.empty() || child.find('/') != std::string::npos) continue;
    entries.push_back({child, !it->second.file});
  }
  return 0;
}

int32_t MemoryFileSystem::SyncDirectory(const std::string& path, std::string& error) {
  const std::string name = Normalize(path);
  const auto found = nodes_.find(name);
  if (found == nodes_.end()) return Failure(ENOENT, path, error);
  if (found->second.file) return Failure(ENOTDIR, path, error);
  const auto in_folder = [&](const std::string& entry) {
    return entry != name && Parent(entry) == name;
  };
  std::erase_if(durable_, [&](const auto& entry) { return in_folder(entry.first); });
  for (const auto& [entry, node] : nodes_) {
    if (in_folder(entry)) durable_[entry] = node;
  }
  Report(FileMutation::SyncDirectory(name));
  return 0;
}

int32_t MemoryFileSystem::Apply(const FileMutation& mutation) {
  std::string error;
  std::shared_ptr<Inode> inode;
  switch (mutation.kind) {
    case FileMutation::Kind::kWrite:
    case FileMutation::Kind::kSetSize: {
      if (mutation.offset < 0 || mutation.size < 0) return EINVAL;
      if (const int32_t status = FindOrCreate(Normalize(mutation.path), inode); status != 0) {
        return status;
      }
      if (mutation.kind == FileMutation::Kind::kWrite) {
        Write(*inode, mutation.offset, mutation.data);
      } else {
        Resize(*inode, mutation.size);
      }
      return 0;
    }
    case FileMutation::Kind::kRename:
      return Rename(mutation.path, mutation.to, error);
    case FileMutation::Kind::kRemove:
      return Remove(mutation.path, error);
    case FileMutation::Kind::kCreateDirectory:
      return CreateDirectory(mutation.path, error);
    case FileMutation::Kind::kSync: {
      const auto found = nodes_.find(Normalize(mutation.path));
      if (found == nodes_.end() || !found->second.file) return ENOENT;
      found->second.file->synced = found->second.file->data;
      Report(mutation);
      return 0;
    }
    case FileMutation::Kind::kSyncDirectory:
      return SyncDirectory(mutation.path, error);
  }
  return EINVAL;
}

void MemoryFileSystem::CopyNodes(const std::map<std::string, Node>& from, bool syncedOnly,
                                 MemoryFileSystem& copy) {
  for (const auto& [name, node] : from) {
    // A name survives only under a folder that survives.
    if (name != "/" && !copy.DirectoryExists(Parent(name))) continue;
    Node& made = copy.nodes_[name];
    if (node.file) {
      const std::string& bytes = syncedOnly ? node.file->synced : node.file->data;
      made.file = std::make_shared<Inode>(Inode{bytes, name, bytes});
    }
  }
  copy.durable_ = copy.nodes_;
}

std::unique_ptr<MemoryFileSystem> MemoryFileSystem::Clone() const {
  auto copy = std::make_unique<MemoryFileSystem>();
  CopyNodes(nodes_, false, *copy);
  copy->allocate_supported_ = allocate_supported_;
  return copy;
}

std::unique_ptr<MemoryFileSystem> MemoryFileSystem::AfterPowerLoss() const {
  auto copy = std::make_unique<MemoryFileSystem>();
  CopyNodes(durable_, true, *copy);
  copy->allocate_supported_ = allocate_supported_;
  return copy;
}

std::string MemoryFileSystem::Contents(const std::string& path) const {
  const auto found = nodes_.find(Normalize(path));
  return found != nodes_.end() && found->second.file ? found->second.file->data : std::string();
}

}  // namespace ravelon
