#include "ravelon/testing/fault_injecting_file_system.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

using OpenMode = FileSystem::OpenMode;

class FaultInjectingFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { file = OpenOk("/f"); }
  std::unique_ptr<RandomAccessFile> OpenOk(const std::string& path) {
    std::unique_ptr<RandomAccessFile> opened;
    EXPECT_EQ(faulty.Open(path, OpenMode::kOpenOrCreate, opened, error), 0);
    return opened;
  }

  MemoryFileSystem memory;
  FaultInjectingFileSystem faulty{memory};
  std::unique_ptr<RandomAccessFile> file;
  std::string error;
};

TEST_F(FaultInjectingFileSystemTest, NthWriteFailsAndWritesNothing) {
  faulty.FailNthWrite(3, EIO);
  EXPECT_EQ(file->WriteAt(0, "a", error), 0);
  EXPECT_EQ(file->WriteAt(1, "b", error), 0);
  EXPECT_EQ(file->WriteAt(2, "c", error), EIO);
  EXPECT_NE(error, "");
  EXPECT_EQ(file->WriteAt(3, "d", error), 0);
  EXPECT_EQ(memory.Contents("/f"), std::string("ab\0d", 4));
  EXPECT_EQ(faulty.WritesSeen(), 4);
  EXPECT_EQ(faulty.WritesFailed(), 1);
}

TEST_F(FaultInjectingFileSystemTest, FullDiskRefusesGrowthUntilSpaceIsFreed) {
  faulty.SetFreeSpace(10);
  ASSERT_EQ(file->WriteAt(0, "123456", error), 0);
  EXPECT_EQ(file->WriteAt(4, "abcdefg", error), ENOSPC);  // would add 5 bytes, 4 are left
  EXPECT_EQ(memory.Contents("/f"), "123456");             // nothing partial
  EXPECT_EQ(file->WriteAt(0, "xy", error), 0);            // inside the file: no space needed
  EXPECT_EQ(file->Allocate(11, error), ENOSPC);
  auto other = OpenOk("/g");  // the space is shared by all files
  EXPECT_EQ(other->WriteAt(0, "1234", error), 0);
  EXPECT_EQ(other->WriteAt(4, "5", error), ENOSPC);
  EXPECT_EQ(faulty.FreeSpace(), 0);
  EXPECT_EQ(file->SetSize(100, error), 0);  // sparse: takes no space

  faulty.SetFreeSpace(3);
  EXPECT_EQ(file->WriteAt(100, "abc", error), 0);
  EXPECT_EQ(memory.Contents("/f").size(), 103u);
  faulty.RemoveSpaceLimit();
  EXPECT_EQ(other->Allocate(1000, error), 0);
}

TEST_F(FaultInjectingFileSystemTest, ShortWriteLandsAPrefixThenFails) {
  faulty.ShortenNextWrite(3);
  EXPECT_EQ(file->WriteAt(0, "abcdef", error), EIO);
  EXPECT_EQ(memory.Contents("/f"), "abc");
  EXPECT_EQ(file->WriteAt(3, "def", error), 0);
  EXPECT_EQ(memory.Contents("/f"), "abcdef");
}

TEST_F(FaultInjectingFileSystemTest, OpensOfOnePathFail) {
  faulty.FailOpen("/x", EACCES);
  std::unique_ptr<RandomAccessFile> opened;
  EXPECT_EQ(faulty.Open("/x", OpenMode::kOpenOrCreate, opened, error), EACCES);
  EXPECT_NE(error, "");
  EXPECT_FALSE(memory.FileExists("/x"));
  EXPECT_NE(OpenOk("/y"), nullptr);
  faulty.ClearOpenFailures();
  EXPECT_NE(OpenOk("/x"), nullptr);
}

}  // namespace
}  // namespace ravelon
