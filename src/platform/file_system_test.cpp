// The FileSystem contract, run against the real file system (in a fresh
// folder under /tmp) and the in-memory one, so the store's tests on memory
// mean the same on disk.
#include "ravelon/file_system.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

using OpenMode = FileSystem::OpenMode;

struct PosixFiles {
  PosixFiles() : fs(NewPosixFileSystem()) {
    char folder[] = "/tmp/ravelon_files_XXXXXX";
    if (mkdtemp(folder) != nullptr) root = folder;
  }
  ~PosixFiles() {
    if (!root.empty()) std::filesystem::remove_all(root);
  }
  std::unique_ptr<FileSystem> fs;
  std::string root;
};

struct MemoryFiles {
  MemoryFiles() : fs(std::make_unique<MemoryFileSystem>()), root("/work") {
    std::string error;
    fs->CreateDirectory(root, error);
  }
  std::unique_ptr<FileSystem> fs;
  std::string root;
};

template <typename Files>
class FileSystemContractTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(files_.root.empty()); }

  std::string P(const std::string& name) const { return files_.root + "/" + name; }
  std::unique_ptr<RandomAccessFile> OpenOk(const std::string& name,
                                           OpenMode mode = OpenMode::kOpenOrCreate) {
    std::unique_ptr<RandomAccessFile> file;
    EXPECT_EQ(fs_.Open(P(name), mode, file, error_), 0) << error_;
    return file;
  }
  std::string Read(RandomAccessFile& file, int64_t offset = 0, size_t n = 1 << 20) {
    std::string data;
    EXPECT_EQ(file.ReadAt(offset, n, data, error_), 0) << error_;
    return data;
  }
  int64_t SizeOf(RandomAccessFile& file) {
    int64_t size = -1;
    EXPECT_EQ(file.Size(size, error_), 0) << error_;
    return size;
  }

  Files files_;
  FileSystem& fs_ = *files_.fs;
  std::string error_;
};

using Implementations = ::testing::Types<PosixFiles, MemoryFiles>;
TYPED_TEST_SUITE(FileSystemContractTest, Implementations);

TYPED_TEST(FileSystemContractTest, BytesAtOffsetsAndLengths) {
  FileSystem& fs = this->fs_;
  std::string& error = this->error_;
  auto file = this->OpenOk("a");
  EXPECT_TRUE(fs.FileExists(this->P("a")));
  EXPECT_FALSE(fs.DirectoryExists(this->P("a")));
  const std::string bytes("x\0\xff", 3);
  ASSERT_EQ(file->WriteAt(4, bytes, error), 0);
  EXPECT_EQ(this->SizeOf(*file), 7);
  EXPECT_EQ(this->Read(*file), std::string(4, '\0') + bytes);  // the gap reads as zeros
  EXPECT_EQ(this->Read(*file, 5, 1), bytes.substr(1, 1));
  EXPECT_EQ(this->Read(*file, 5), bytes.substr(1));  // fewer at the end
  EXPECT_EQ(this->Read(*file, 100), "");
  std::string data = "old";
  EXPECT_EQ(file->ReadAt(-1, 1, data, error), EINVAL);
  EXPECT_EQ(data, "");
  ASSERT_EQ(file->WriteAt(0, "ab", error), 0);
  ASSERT_EQ(file->WriteAt(9, "", error), 0);  // writes nothing, extends nothing
  EXPECT_EQ(this->Read(*file), std::string("ab\0\0", 4) + bytes);

  ASSERT_EQ(file->SetSize(2, error), 0);
  ASSERT_EQ(file->SetSize(4, error), 0);
  EXPECT_EQ(this->Read(*file), std::string("ab\0\0", 4));
  ASSERT_EQ(file->Allocate(65536, error), 0) << error;
  EXPECT_EQ(this->SizeOf(*file), 65536);
  ASSERT_EQ(file->Allocate(3, error), 0);  // the length is the size asked for
  EXPECT_EQ(this->Read(*file), std::string("ab\0", 3));
  EXPECT_EQ(file->Sync(error), 0);

  EXPECT_EQ(this->Read(*this->OpenOk("a")), std::string("ab\0", 3));
  EXPECT_EQ(this->SizeOf(*this->OpenOk("a", OpenMode::kCreateTruncate)), 0);
}

TYPED_TEST(FileSystemContractTest, FoldersAndListings) {
  FileSystem& fs = this->fs_;
  std::string& error = this->error_;
  ASSERT_EQ(fs.CreateDirectory(this->P("d"), error), 0);
  EXPECT_TRUE(fs.DirectoryExists(this->P("d")));
  EXPECT_FALSE(fs.FileExists(this->P("d")));
  EXPECT_EQ(fs.CreateDirectory(this->P("d"), error), EEXIST);
  EXPECT_EQ(fs.CreateDirectory(this->P("x/y"), error), ENOENT);
  std::unique_ptr<RandomAccessFile> file;
  error.clear();
  EXPECT_EQ(fs.Open(this->P("x/f"), OpenMode::kOpenOrCreate, file, error), ENOENT);
  EXPECT_NE(error, "");
  EXPECT_EQ(fs.Open(this->P("d"), OpenMode::kOpenOrCreate, file, error), EISDIR);

  this->OpenOk("d/b");
  this->OpenOk("d/a.bin");
  ASSERT_EQ(fs.CreateDirectory(this->P("d/sub"), error), 0);
  std::vector<DirectoryEntry> entries;
  ASSERT_EQ(fs.List(this->P("d"), entries, error), 0);
  std::map<std::string, bool> listed;
  for (const auto& entry : entries) listed[entry.name] = entry.is_directory;
  EXPECT_EQ(entries.size(), 5u);
  EXPECT_EQ(listed, (std::map<std::string, bool>{
                        {".", true}, {"..", true}, {"a.bin", false}, {"b", false}, {"sub", true}}));
  EXPECT_EQ(fs.List(this->P("none"), entries, error), ENOENT);
  EXPECT_EQ(fs.List(this->P("d/b"), entries, error), ENOTDIR);
}

TYPED_TEST(FileSystemContractTest, RenameReplacesAndOpenFilesFollow) {
  FileSystem& fs = this->fs_;
  std::string& error = this->error_;
  ASSERT_EQ(this->OpenOk("t")->WriteAt(0, "old content", error), 0);
  auto source = this->OpenOk("s");
  ASSERT_EQ(source->WriteAt(0, "new", error), 0);
  ASSERT_EQ(fs.Rename(this->P("s"), this->P("t"), error), 0);
  EXPECT_FALSE(fs.FileExists(this->P("s")));
  ASSERT_EQ(source->WriteAt(3, "!", error), 0);  // lands in the file under its new name
  EXPECT_EQ(this->Read(*this->OpenOk("t")), "new!");
  EXPECT_EQ(fs.Rename(this->P("s"), this->P("t"), error), ENOENT);

  ASSERT_EQ(fs.Remove(this->P("t"), error), 0);
  EXPECT_FALSE(fs.FileExists(this->P("t")));
  EXPECT_EQ(fs.Remove(this->P("t"), error), ENOENT);
  EXPECT_EQ(this->Read(*source), "new!");  // still readable through the open file
  ASSERT_EQ(fs.CreateDirectory(this->P("d"), error), 0);
  EXPECT_EQ(fs.Remove(this->P("d"), error), EISDIR);
}

}  // namespace
}  // namespace ravelon
