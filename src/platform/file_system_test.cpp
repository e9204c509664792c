// The FileSystem contract, run on the real file system (in a fresh folder
// under /tmp) and the in-memory one, so the store's tests on memory mean the
// same on disk; then the in-memory one's change log, which the crash tests
// replay.
#include "ravelon/file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <tuple>

#include "ravelon/testing/memory_file_system.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using OpenMode = FileSystem::OpenMode;

struct PosixFiles {
  testing::TempFolder folder;
  std::string root = folder.Path();
  std::unique_ptr<FileSystem> fs = NewPosixFileSystem();
};

struct MemoryFiles {
  std::string root = "/work";
  std::unique_ptr<FileSystem> fs = std::make_unique<MemoryFileSystem>();
};

template <typename Files>
class FileSystemContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_.CreateDirectory(files_.root, error_);  // the memory root; the real one is there
    ASSERT_TRUE(fs_.DirectoryExists(files_.root)) << files_.root;
  }
  std::string P(const std::string& name) const { return files_.root + "/" + name; }
  std::unique_ptr<RandomAccessFile> OpenOk(const std::string& name,
                                           OpenMode mode = OpenMode::kOpenOrCreate) {
    std::unique_ptr<RandomAccessFile> file;
    EXPECT_EQ(fs_.Open(P(name), mode, file, error_), 0) << error_;
    return file;
  }
  // The bytes at `offset`, or "error <errno>" and what the call left in the buffer.
  std::string Read(RandomAccessFile& file, int64_t offset = 0, size_t n = 1 << 20) {
    std::string data = "old";
    const int32_t result = file.ReadAt(offset, n, data, error_);
    return result == 0 ? data : "error " + std::to_string(result) + data;
  }

  Files files_;
  FileSystem& fs_ = *files_.fs;
  std::string error_;
};

using Implementations = ::testing::Types<PosixFiles, MemoryFiles>;
TYPED_TEST_SUITE(FileSystemContractTest, Implementations);

TYPED_TEST(FileSystemContractTest, BytesFoldersRenamesAndRemovals) {
  FileSystem& fs = this->fs_;
  std::string& error = this->error_;
  auto file = this->OpenOk("a");
  const std::string bytes("x\0\xff", 3);
  ASSERT_EQ(file->WriteAt(4, bytes, error), 0);
  EXPECT_EQ(this->Read(*file), std::string(4, '\0') + bytes);  // the gap reads as zeros
  EXPECT_EQ(this->Read(*file, 5, 1), bytes.substr(1, 1));
  EXPECT_EQ(this->Read(*file, 5), bytes.substr(1));  // fewer at the end
  EXPECT_EQ(this->Read(*file, 100), "");
  EXPECT_EQ(this->Read(*file, -1, 1), "error " + std::to_string(EINVAL));
  // The empty write writes nothing, extends nothing.
  ASSERT_FALSE(file->WriteAt(0, "ab", error) || file->WriteAt(9, "", error));
  EXPECT_EQ(this->Read(*file), std::string("ab\0\0", 4) + bytes);

  ASSERT_EQ(file->SetSize(2, error), 0);
  errno = EPERM;  // left over from an earlier call: no failure of this one
  ASSERT_EQ(file->SetSize(4, error), 0);
  EXPECT_EQ(this->Read(*file), std::string("ab\0\0", 4));
  ASSERT_EQ(file->Allocate(65536, error), 0) << error;
  EXPECT_EQ(this->Read(*file), std::string("ab\0\0", 4) + std::string(65532, '\0'));
  // The length is the size asked for.
  EXPECT_FALSE(file->Allocate(3, error) || file->Sync(error));
  EXPECT_EQ(this->Read(*this->OpenOk("a")), std::string("ab\0", 3));
  EXPECT_EQ(this->Read(*this->OpenOk("a", OpenMode::kCreateTruncate)), "");

  // Folders, listings, and what is refused with which errno.
  ASSERT_EQ(fs.CreateDirectory(this->P("d"), error), 0);
  EXPECT_EQ(fs.CreateDirectory(this->P("d"), error), EEXIST);
  EXPECT_EQ(fs.CreateDirectory(this->P("x/y"), error), ENOENT);
  error.clear();
  EXPECT_EQ(fs.Open(this->P("x/f"), OpenMode::kOpenOrCreate, file, error), ENOENT);
  EXPECT_NE(error, "");
  EXPECT_EQ(fs.Open(this->P("d"), OpenMode::kOpenOrCreate, file, error), EISDIR);
  this->OpenOk("d/b");
  ASSERT_EQ(fs.CreateDirectory(this->P("d/sub"), error), 0);
  std::vector<DirectoryEntry> entries;
  ASSERT_EQ(fs.List(this->P("d"), entries, error), 0);
  std::multiset<std::string> listed;  // folders with a "/"
  for (const auto& entry : entries) listed.insert(entry.name + (entry.is_directory ? "/" : ""));
  EXPECT_EQ(listed, (std::multiset<std::string>{"./", "../", "b", "sub/"}));
  EXPECT_EQ(fs.List(this->P("none"), entries, error), ENOENT);
  EXPECT_EQ(fs.List(this->P("d/b"), entries, error), ENOTDIR);
  EXPECT_EQ(fs.Remove(this->P("d"), error), EISDIR);
  EXPECT_TRUE(fs.DirectoryExists(this->P("d")) && !fs.FileExists(this->P("d")));
  EXPECT_TRUE(fs.FileExists(this->P("d/b")) && !fs.DirectoryExists(this->P("d/b")));

  // A rename replaces its target; an open file follows its name, and stays
  // readable once removed. A file knows whether it still has a name.
  auto replaced = this->OpenOk("t");
  ASSERT_EQ(replaced->WriteAt(0, "old content", error), 0);
  auto source = this->OpenOk("s");
  ASSERT_FALSE(source->WriteAt(0, "new", error) || fs.Rename(this->P("s"), this->P("t"), error) ||
               source->WriteAt(3, "!", error));
  EXPECT_EQ(this->Read(*this->OpenOk("t")), "new!");
  bool linked[3] = {false, true, true};
  ASSERT_FALSE(source->IsLinked(linked[0], error) || replaced->IsLinked(linked[1], error));
  EXPECT_EQ(fs.Rename(this->P("s"), this->P("t"), error), ENOENT);
  ASSERT_EQ(fs.Remove(this->P("t"), error), 0);
  EXPECT_EQ(fs.Remove(this->P("t"), error), ENOENT);
  EXPECT_EQ(this->Read(*source), "new!");
  ASSERT_EQ(source->IsLinked(linked[2], error), 0);
  EXPECT_EQ(std::tuple(linked[0], linked[1], linked[2]), std::tuple(true, false, false));
  EXPECT_EQ(fs.SyncDirectory(this->P("d"), error), 0);
  EXPECT_EQ(fs.SyncDirectory(this->P("nowhere"), error), ENOENT);
}

// A vectored write lands what one write of its pieces joined would, also with
// empty pieces, after a gap, and with more pieces than one system call takes.
TYPED_TEST(FileSystemContractTest, VectoredWritesLandLikeOneWriteOfTheirJoin) {
  std::vector<std::string> many;  // 2,500 pieces of 0 to 6 bytes
  for (int i = 0; i < 2'500; ++i)
    many.push_back(std::string(i % 7, static_cast<char>('a' + i % 26)));
  // pieces, offset
  const std::pair<std::vector<std::string>, int64_t> rows[] = {
      {{}, 0},          {{"", ""}, 3}, {{"abc"}, 0},   {{"a", "", "bcd", "ef"}, 0},
      {{"x", "yz"}, 5}, {many, 0},     {many, 70'000},
  };
  int n = 0;
  // One file for all rows: no write may carry an earlier one's pieces.
  auto file = this->OpenOk("v");
  for (const auto& [pieces, offset] : rows) {
    SCOPED_TRACE(n++);
    std::string joined;
    std::vector<std::string_view> views;
    for (const std::string& piece : pieces) {
      joined += piece;
      views.push_back(piece);
    }
    ASSERT_EQ(file->SetSize(0, this->error_), 0);
    ASSERT_EQ(file->WriteVectorAt(offset, views, this->error_), 0) << this->error_;
    EXPECT_EQ(this->Read(*file), joined.empty() ? "" : std::string(offset, '\0') + joined);
  }
}

// Every change is reported, as the file's name is at the time; replayed onto
// a snapshot taken before, the log gives the same files.
TEST(MemoryFileSystemTest, ReportsEveryChangeForReplay) {
  using M = FileMutation;
  MemoryFileSystem fs;
  std::string error;
  const auto before = fs.Clone();
  std::vector<FileMutation> log;
  fs.SetObserver([&log](const FileMutation& m) { log.push_back(m); });
  std::unique_ptr<RandomAccessFile> a, c;
  fs.CreateDirectory("d/", error);  // the same folder as "/d"
  ASSERT_EQ(fs.Open("/a", OpenMode::kOpenOrCreate, a, error), 0);
  a->WriteAt(2, "xy", error);
  fs.Rename("/a", "/d/b", error);
  a->WriteAt(0, "z", error);  // follows the file to its new name
  const std::string_view pieces[] = {"p", "", "qr"};
  a->WriteVectorAt(1, pieces, error);  // one change, as one system call
  ASSERT_EQ(fs.Open("/d/b", OpenMode::kOpenOrCreate, c, error), 0);  // there: no change
  fs.Remove("/d/b", error);
  c->WriteAt(0, "unnamed", error);  // a removed file changes nothing visible
  EXPECT_EQ(log,
            (std::vector<M>{M::CreateDirectory("/d"), M::SetSize("/a", 0), M::Write("/a", 2, "xy"),
                            M::Rename("/a", "/d/b"), M::Write("/d/b", 0, "z"),
                            M::Write("/d/b", 1, "pqr"), M::Remove("/d/b")}));
  for (const FileMutation& m : log) EXPECT_EQ(before->Apply(m), 0);
  EXPECT_TRUE(before->DirectoryExists("/d") && !before->FileExists("/d/b"));
}

}  // namespace
}  // namespace ravelon
