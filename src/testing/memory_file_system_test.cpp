// What the in-memory file system adds to the FileSystem contract (tested in
// file_system_test.cpp): the change log, replay onto snapshots, folder moves.
#include "ravelon/testing/memory_file_system.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace ravelon {
namespace {

using M = FileMutation;
using OpenMode = FileSystem::OpenMode;

std::vector<std::string> Names(MemoryFileSystem& fs, const std::string& folder) {
  std::vector<DirectoryEntry> entries;
  std::string error;
  fs.List(folder, entries, error);
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

TEST(MemoryFileSystemTest, EveryChangeIsReportedAndReplaysOntoASnapshot) {
  MemoryFileSystem fs;
  std::string error;
  ASSERT_EQ(fs.CreateDirectory("/d", error), 0);
  const auto before = fs.Clone();
  std::vector<FileMutation> log;
  fs.SetObserver([&log](const FileMutation& m) { log.push_back(m); });

  std::unique_ptr<RandomAccessFile> a, c;
  ASSERT_EQ(fs.Open("/d/a", OpenMode::kOpenOrCreate, a, error), 0);
  a->WriteAt(2, "xy", error);
  a->SetSize(3, error);
  a->Allocate(5, error);
  fs.CreateDirectory("d/e/", error);  // the same folder as "/d/e"
  fs.Rename("/d/a", "/d/e/b", error);
  a->WriteAt(0, "z", error);  // follows the file to its new name
  ASSERT_EQ(fs.Open("/d/e/b", OpenMode::kOpenOrCreate, c, error), 0);  // exists: no change
  ASSERT_EQ(fs.Open("/d/c", OpenMode::kCreateTruncate, c, error), 0);
  c->WriteAt(0, "gone", error);
  fs.Remove("/d/c", error);
  c->WriteAt(0, "unnamed", error);  // a removed file changes nothing visible
  EXPECT_EQ(log, (std::vector<FileMutation>{M::SetSize("/d/a", 0), M::Write("/d/a", 2, "xy"),
                                            M::SetSize("/d/a", 3), M::SetSize("/d/a", 5),
                                            M::CreateDirectory("/d/e"), M::Rename("/d/a", "/d/e/b"),
                                            M::Write("/d/e/b", 0, "z"), M::SetSize("/d/c", 0),
                                            M::Write("/d/c", 0, "gone"), M::Remove("/d/c")}));

  // The snapshot did not change with the original; replayed, it matches it.
  EXPECT_EQ(Names(*before, "/d"), (std::vector<std::string>{".", ".."}));
  for (const FileMutation& m : log) EXPECT_EQ(before->Apply(m), 0);
  EXPECT_EQ(before->Contents("/d/e/b"), std::string("z\0x\0\0", 5));
  EXPECT_EQ(Names(*before, "/d"), Names(fs, "/d"));
  EXPECT_EQ(Names(*before, "/d/e"), Names(fs, "/d/e"));

  // A torn write: only part of the bytes reached the disk.
  M torn = M::Write("/d/e/b", 4, "WXYZ");
  torn.data.resize(2);
  EXPECT_EQ(before->Apply(torn), 0);
  EXPECT_EQ(before->Contents("/d/e/b"), std::string("z\0x\0WX", 6));
  EXPECT_EQ(before->Apply(M::Remove("/d/none")), ENOENT);
  EXPECT_EQ(fs.OpenFileCount(), 2);
}

TEST(MemoryFileSystemTest, FolderMovesAndRefusedAllocation) {
  MemoryFileSystem fs;
  std::string error;
  std::unique_ptr<RandomAccessFile> file;
  fs.CreateDirectory("/a", error);
  fs.CreateDirectory("/a/in", error);
  fs.Open("/a/in/f", OpenMode::kOpenOrCreate, file, error);
  file->WriteAt(0, "f", error);
  fs.Open("/a.txt", OpenMode::kOpenOrCreate, file, error);  // sorts between "/a" and "/a/..."
  fs.CreateDirectory("/full", error);
  fs.CreateDirectory("/full/x", error);

  EXPECT_EQ(fs.Rename("/a", "/full", error), ENOTEMPTY);
  EXPECT_EQ(fs.Rename("/a", "/a/in/deeper", error), EINVAL);
  EXPECT_EQ(fs.Rename("/a.txt", "/full", error), EISDIR);
  ASSERT_EQ(fs.Rename("/a", "/b", error), 0);
  EXPECT_EQ(fs.Contents("/b/in/f"), "f");
  EXPECT_FALSE(fs.DirectoryExists("/a/in"));
  EXPECT_TRUE(fs.FileExists("/a.txt"));
  EXPECT_EQ(Names(fs, "/"), (std::vector<std::string>{".", "..", "a.txt", "b", "full"}));

  fs.SetAllocateSupported(false);
  EXPECT_EQ(file->Allocate(10, error), EOPNOTSUPP);
  EXPECT_EQ(fs.Clone()->Contents("/b/in/f"), "f");
}

}  // namespace
}  // namespace ravelon
