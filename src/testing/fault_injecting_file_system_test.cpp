#include "ravelon/testing/fault_injecting_file_system.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

TEST(FaultInjectingFileSystemTest, FailedShortAndRefusedWritesAndOpens) {
  MemoryFileSystem memory;
  FaultInjectingFileSystem faulty{memory};
  std::string error;
  const auto open = [&](const std::string& path) {
    std::unique_ptr<RandomAccessFile> opened;
    EXPECT_EQ(faulty.Open(path, FileSystem::OpenMode::kOpenOrCreate, opened, error), 0) << path;
    return opened;
  };
  auto file = open("/f");

  // The nth write fails and writes nothing; a short write lands a prefix, then fails.
  faulty.FailNthWrite(3, EIO);
  EXPECT_EQ(file->WriteAt(0, "a", error), 0);
  EXPECT_EQ(file->WriteAt(1, "b", error), 0);
  EXPECT_EQ(file->WriteAt(2, "c", error), EIO);
  EXPECT_NE(error, "");
  faulty.ShortenNextWrite(1);
  EXPECT_EQ(file->WriteAt(3, "def", error), EIO);
  EXPECT_EQ(file->WriteAt(4, "ef", error), 0);
  EXPECT_EQ(memory.Contents("/f"), std::string("ab\0def", 6));
  EXPECT_EQ(faulty.WritesSeen(), 5);
  EXPECT_EQ(faulty.WritesFailed(), 2);

  // A full disk refuses growth, not rewrites, shared by all files.
  faulty.SetFreeSpace(2);
  EXPECT_EQ(file->WriteAt(2, "abcdefg", error), ENOSPC);        // would add 3 bytes, 2 are left
  EXPECT_EQ(memory.Contents("/f"), std::string("ab\0def", 6));  // nothing partial
  EXPECT_EQ(file->WriteAt(0, "xy", error), 0);
  EXPECT_EQ(file->Allocate(11, error), ENOSPC);
  auto other = open("/g");
  EXPECT_EQ(other->WriteAt(0, "12", error), 0);
  EXPECT_EQ(other->WriteAt(2, "3", error), ENOSPC);
  EXPECT_EQ(other->WriteAt(9, "", error), 0);  // writes nothing, takes nothing
  EXPECT_EQ(faulty.FreeSpace(), 0);
  EXPECT_EQ(file->SetSize(100, error), 0);  // sparse: takes no space
  faulty.SetFreeSpace(3);
  EXPECT_EQ(file->WriteAt(100, "abc", error), 0);
  EXPECT_EQ(memory.Contents("/f").size(), 103u);
  faulty.RemoveSpaceLimit();
  EXPECT_EQ(other->Allocate(1000, error), 0);

  faulty.FailOpen("/x", EACCES);
  std::unique_ptr<RandomAccessFile> opened;
  EXPECT_EQ(faulty.Open("/x", FileSystem::OpenMode::kOpenOrCreate, opened, error), EACCES);
  EXPECT_FALSE(memory.FileExists("/x"));
  EXPECT_NE(open("/y"), nullptr);
  faulty.ClearOpenFailures();
  EXPECT_NE(open("/x"), nullptr);
}

}  // namespace
}  // namespace ravelon
