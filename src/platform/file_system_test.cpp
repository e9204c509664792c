// The FileSystem contract, run on the real file system (in a fresh folder
// under /tmp, and under /dev/shm) and the in-memory one, so the store's tests on memory mean the
// same on disk; then the in-memory one's change log, which the crash tests
// replay.
#include "ravelon/file_system.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <numeric>
#include <set>
#include <tuple>

#include "common/engine_limits.h"
#include "ravelon/testing/memory_file_system.h"
#include "support/page_cache.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using OpenMode = FileSystem::OpenMode;

// On tmpfs the file system is the page cache itself: direct writes, where it
// takes them at all, change nothing about where the bytes stay.
template <bool kOnTmpfs>
struct PosixFiles {
  testing::TempFolder folder{kOnTmpfs ? "/dev/shm" : "/tmp"};
  std::string root = folder.Path();
  std::unique_ptr<FileSystem> fs = NewPosixFileSystem();
};
using PosixFilesOnDisk = PosixFiles<false>;
using PosixFilesOnTmpfs = PosixFiles<true>;

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

using Implementations = ::testing::Types<PosixFilesOnDisk, PosixFilesOnTmpfs, MemoryFiles>;
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

// A vectored write lands what one write of its pieces joined would, and
// nothing else: with empty pieces, after a gap, over bytes already there and
// before bytes that stay, with more pieces than one system call takes, and
// long enough for the real file system to skip the page cache, from offsets on
// and off its alignment and longer than its staging buffer.
TYPED_TEST(FileSystemContractTest, VectoredWritesLandLikeOneWriteOfTheirJoin) {
  std::vector<std::string> many;  // 2,500 pieces of 0 to 6 bytes
  for (int i = 0; i < 2'500; ++i)
    many.push_back(std::string(i % 7, static_cast<char>('a' + i % 26)));
  std::vector<std::string> frames;  // a save run: 30 frames of 50,001 bytes
  for (int i = 0; i < 30; ++i) frames.push_back(std::string(50'001, static_cast<char>('A' + i)));
  const std::string big(kDirectStagingBytes + 3 * kDirectWriteAlignment + 5, 'z');
  // pieces, offset, bytes in the file before
  const std::tuple<std::vector<std::string>, int64_t, size_t> rows[] = {
      {{}, 0, 0},
      {{"", ""}, 3, 0},
      {{"abc"}, 0, 0},
      {{"a", "", "bcd", "ef"}, 0, 0},
      {{"x", "yz"}, 5, 0},
      {{"x", "yz"}, 5, 10},
      {many, 0, 0},
      {many, 70'000, 0},
      {frames, 0, 0},
      {frames, 4'095, 2'000'000},
      {frames, 3 * kDirectWriteAlignment, 2'000'000},
      {{"", big, "", "tail"}, 7, 0},
  };
  int n = 0;
  // One file for all rows: no write may carry an earlier one's pieces.
  auto file = this->OpenOk("v");
  file->SetWriteThrough(true);
  for (const auto& [pieces, offset, before] : rows) {
    SCOPED_TRACE(n++);
    std::string there(before, '.');
    for (size_t i = 0; i < before; i += 997) there[i] = static_cast<char>(i / 997);
    const std::vector<std::string_view> views(pieces.begin(), pieces.end());
    const std::string joined = std::accumulate(pieces.begin(), pieces.end(), std::string());
    std::string expected = there;
    if (!joined.empty()) {
      expected.resize(std::max(expected.size(), offset + joined.size()), '\0');
      expected.replace(offset, joined.size(), joined);
    }
    ASSERT_EQ(file->SetSize(0, this->error_), 0);
    ASSERT_EQ(file->WriteAt(0, there, this->error_), 0);
    ASSERT_EQ(file->WriteVectorAt(offset, views, this->error_), 0) << this->error_;
    const std::string landed = this->Read(*file, 0, 4 << 20);
    ASSERT_EQ(landed.size(), expected.size());
    EXPECT_TRUE(landed == expected);  // (no dump of megabytes)
  }
}

// With write-through on, a long write's whole blocks go to the disk without
// staying in the page cache, where the file system allows it; with it off,
// the cache keeps them all.
TEST(PosixFileSystemTest, LongWritesSkipThePageCacheWithWriteThrough) {
  PosixFilesOnDisk files;
  if (!testing::WritesCanSkipTheCache(files.root)) GTEST_SKIP() << "tmpfs: " << files.root;
  const std::string bytes(kMinDirectWriteBytes + 100, 'f');
  const std::string_view pieces[] = {bytes};
  // write-through, offset, pages cached afterwards
  const std::tuple<bool, int64_t, int> rows[] = {
      {true, 0, 1},     // the partial last block
      {true, 100, 2},   // the partial first and last blocks
      {false, 100, 65}  // all
  };
  int n = 0;
  for (const auto& [write_through, offset, cached] : rows) {
    SCOPED_TRACE(n++);
    const std::string path = files.root + "/run" + std::to_string(n);
    std::unique_ptr<RandomAccessFile> file;
    std::string error;
    ASSERT_EQ(files.fs->Open(path, OpenMode::kOpenOrCreate, file, error), 0) << error;
    file->SetWriteThrough(write_through);
    ASSERT_EQ(file->WriteVectorAt(offset, pieces, error), 0) << error;
    EXPECT_EQ(testing::CachedPages(path), cached);
  }
}

// A write that the system stops part way (here at the process's file size
// limit) fails with the system's reason after the bytes before the stop have
// landed, whether the stop falls in the cached head of a long write, in its
// direct middle (on a block's edge, inside a block, in a later staging
// buffer) or in its cached tail, and also where nothing goes direct.
TEST(PosixFileSystemTest, AWriteStoppedPartWayFailsAfterWhatLanded) {
  rlimit unlimited{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
  struct Restore {
    rlimit limit;
    void (*handler)(int);
    ~Restore() {
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, handler);
    }
  } restore{unlimited, signal(SIGXFSZ, SIG_IGN)};  // the limit's signal would end the process

  const std::string run(kDirectStagingBytes + 5 * kDirectWriteAlignment + 10, 'r');
  const std::string short_pieces[] = {"abc", "defg", "hij"};
  const int64_t run_end = 100 + static_cast<int64_t>(run.size());
  // offset, pieces, where the system stops writing
  const std::tuple<int64_t, std::vector<std::string_view>, int64_t> rows[] = {
      {5, {short_pieces[0], short_pieces[1], short_pieces[2]}, 9},
      {100, {run}, 1'000},
      {100, {run}, 3 * kDirectWriteAlignment},
      {100, {run}, 3 * kDirectWriteAlignment + 100},
      {100, {run}, kDirectStagingBytes + 2 * kDirectWriteAlignment},
      {100, {run}, run_end - 5},
  };
  PosixFilesOnDisk disk;
  PosixFilesOnTmpfs memory;
  for (const auto& [root, fs] :
       {std::pair{disk.root, disk.fs.get()}, std::pair{memory.root, memory.fs.get()}}) {
    int n = 0;
    for (const auto& [offset, pieces, stop] : rows) {
      SCOPED_TRACE(root + " " + std::to_string(n++));
      std::string expected(static_cast<size_t>(offset), '\0');
      for (const std::string_view piece : pieces) expected += piece;
      expected.resize(static_cast<size_t>(stop));
      std::unique_ptr<RandomAccessFile> file;
      std::string error;
      ASSERT_EQ(fs->Open(root + "/stopped", FileSystem::OpenMode::kCreateTruncate, file, error), 0);
      file->SetWriteThrough(true);
      rlimit limit = unlimited;
      limit.rlim_cur = static_cast<rlim_t>(stop);
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
      const int32_t status = file->WriteVectorAt(offset, pieces, error);
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
      EXPECT_EQ(status, EFBIG) << error;
      std::string landed;
      ASSERT_EQ(file->ReadAt(0, 4 << 20, landed, error), 0) << error;
      ASSERT_EQ(landed.size(), expected.size());
      EXPECT_TRUE(landed == expected);
    }
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
