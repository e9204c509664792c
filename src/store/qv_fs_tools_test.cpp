#include "store/qv_fs_tools.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "common/number_encoding.h"
#include "platform/fault_injecting_file_system.h"
#include "platform/memory_file_system.h"

namespace ravelon {
namespace {

using M = FileMutation;

class QvFsToolsTest : public ::testing::Test {
 protected:
  QvFsToolsTest() { memory.CreateDirectory("/s", error); }

  // Opens `name` through the tools and writes `content` at its start.
  int16_t OpenWith(const std::string& name, const std::string& content = "") {
    int32_t code = -1;
    const int16_t number = tools.OpenFile(name, 0, code, error);
    EXPECT_EQ(code, 0) << error;
    tools.WriteToOpenedFile(number, content, 1, error);
    return number;
  }
  // Records the changes from now on.
  void Record() {
    memory.SetObserver([this](const FileMutation& m) { log.push_back(m); });
  }

  MemoryFileSystem memory;
  FaultInjectingFileSystem faulty{memory};
  QvFsTools tools{faulty};
  std::string error;
  int32_t newSize = 0;
  int32_t currentSize = 0;
  std::vector<FileMutation> log;
};

TEST_F(QvFsToolsTest, WriteRefusalsAndWritesWithoutGrowth) {
  const int16_t n = OpenWith("/s/f", "0123456789");
  EXPECT_EQ(tools.WritePreAllocOpenedFile(n, "x", 0, 500, 0, error, newSize, currentSize), -1);
  EXPECT_EQ(error, "Invalid offset.");
  EXPECT_EQ(newSize, -1);
  EXPECT_EQ(tools.WritePreAllocOpenedFile(n, "", 3, 500, 0, error, newSize, currentSize), 0);
  EXPECT_EQ(error, "");
  // Ends at the file's end (9 + 2 = length + 1): no growth.
  EXPECT_EQ(tools.WritePreAllocOpenedFile(n, "ab", 9, 500, 0, error, newSize, currentSize), 0);
  EXPECT_EQ(newSize, -1);
  EXPECT_EQ(currentSize, 10);
  EXPECT_EQ(tools.WriteToOpenedFile(n, "x", 0, error), -1);
  EXPECT_EQ(error, "Invalid offset.");
  EXPECT_EQ(memory.Contents("/s/f"), "01234567ab");

  EXPECT_EQ(tools.WriteToFile("/s/g", "abc", 3, error), 0);
  EXPECT_EQ(tools.WriteToFile("/s/g", "x", 0, error), -1);
  EXPECT_EQ(tools.WritePreAlloc("/s/g", "Z", 6, 4, 0, error, newSize), 0);  // 5 + 4
  EXPECT_EQ(newSize, 9);
  EXPECT_EQ(memory.Contents("/s/g"), std::string("\0\0abcZ\0\0 ", 9));
  EXPECT_EQ(memory.OpenFileCount(), 1);  // files opened by name are closed again
}

TEST_F(QvFsToolsTest, GrowthStepsAreCappedByMaxSizeWhileBelowIt) {
  const std::string data(300, 'd');
  struct Case {
    int32_t max_size;
    int32_t grown;
  };
  for (const Case c : {Case{1200, 1200}, Case{0, 1500}}) {
    const std::string name = "/s/max" + std::to_string(c.max_size);
    const int16_t n = OpenWith(name, std::string(1000, 'o'));
    log.clear();
    Record();
    EXPECT_EQ(
        tools.WritePreAllocOpenedFile(n, data, 1001, 500, c.max_size, error, newSize, currentSize),
        0);
    EXPECT_EQ(newSize, c.grown);
    EXPECT_EQ(currentSize, c.grown);
    // A space makes the file `grown` bytes long before the data is written.
    EXPECT_EQ(log, (std::vector<FileMutation>{M::Write(name, c.grown - 1, " "),
                                              M::Write(name, 1000, data)}));
    EXPECT_EQ(memory.Contents(name).size(), std::max<size_t>(1300, c.grown));
  }
  EXPECT_EQ(memory.Contents("/s/max0").substr(1300),
            std::string(199, '\0') + " ");  // 1301..1499 untouched, 1500 the space

  // At MaxSize already, the file grows by whole steps.
  const int16_t full = OpenWith("/s/full", std::string(1200, 'o'));
  EXPECT_EQ(tools.WritePreAllocOpenedFile(full, "x", 1201, 500, 1200, error, newSize, currentSize),
            0);
  EXPECT_EQ(newSize, 1700);
}

TEST_F(QvFsToolsTest, FailuresComeBackAsTheirNumber) {
  const int16_t n = OpenWith("/s/f", "abc");
  faulty.SetFreeSpace(0);
  EXPECT_EQ(tools.WritePreAllocOpenedFile(n, "xyz", 4, 100, 0, error, newSize, currentSize),
            ENOSPC);
  EXPECT_NE(error, "");
  EXPECT_EQ(newSize, -1);
  EXPECT_EQ(memory.Contents("/s/f"), "abc");
  faulty.RemoveSpaceLimit();
  faulty.FailNthWrite(2, EIO);  // the growth step lands, the data does not
  EXPECT_EQ(tools.WritePreAllocOpenedFile(n, "xyz", 4, 100, 0, error, newSize, currentSize), EIO);
  EXPECT_EQ(memory.Contents("/s/f").size(), 103u);

  EXPECT_EQ(tools.WriteToOpenedFile(77, "x", 1, error), EBADF);
  EXPECT_NE(error, "");
  EXPECT_EQ(tools.WritePreAllocOpenedFile(0, "x", 1, 0, 0, error, newSize, currentSize), EBADF);
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_EQ(tools.WriteToFile("/s/locked", "x", 1, error), EACCES);
  EXPECT_NE(error, "");
}

TEST_F(QvFsToolsTest, FileNumbersAreTheLowestFree) {
  EXPECT_EQ(OpenWith("/s/a"), 1);
  EXPECT_EQ(OpenWith("/s/b"), 2);
  EXPECT_EQ(OpenWith("/s/c"), 3);
  tools.CloseFile(2);
  tools.CloseFile(0);
  tools.CloseFile(-1);
  EXPECT_EQ(OpenWith("/s/d"), 2);
  tools.CloseFile(3);
  EXPECT_EQ(tools.WriteToOpenedFile(3, "x", 1, error), EBADF);
  for (int16_t expected = 3; expected <= 255; ++expected) ASSERT_EQ(OpenWith("/s/e"), expected);
  int32_t code = 0;
  EXPECT_EQ(tools.OpenFile("/s/one-too-many", 0, code, error), 0);
  EXPECT_EQ(code, EMFILE);
  EXPECT_NE(error, "");
  tools.CloseFile(100);
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_EQ(tools.OpenFile("/s/locked", 0, code, error), 0);
  EXPECT_EQ(code, EACCES);
  EXPECT_EQ(OpenWith("/s/f"), 100);  // the failed open left its number free
}

TEST_F(QvFsToolsTest, LogFileKeepsItsNextPositionInTheHeader) {
  int32_t total = 0;
  const std::string header =
      std::string("  ") + QvFsTools::kLogHeaderText + "\r\n";  // after the position field
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log", "0123456789", 0, 0, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log"), LongToBytes(99) + header + "0123456789");
  EXPECT_EQ(total, 94);
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log", "abcdefghij", 0, 0, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log").substr(0, 4), LongToBytes(109));
  EXPECT_EQ(memory.Contents("/s/log").substr(98), "abcdefghij");
  EXPECT_EQ(total, 104);
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log", "", 0, 0, error, total), 0);
  EXPECT_EQ(total, -1);

  // A position beyond the end or below 5 is taken as the physical end.
  for (const int32_t bad : {5000, 2}) {
    tools.WriteToFile("/s/log", LongToBytes(bad), 1, error);
    const size_t end = memory.Contents("/s/log").size();
    EXPECT_EQ(tools.AppendFilePreAlloc("/s/log", "X", 0, 0, error, total), 0);
    EXPECT_EQ(memory.Contents("/s/log").substr(end), "X");
    EXPECT_EQ(total, static_cast<int32_t>(end) + 1 - 5 + 1);
  }

  // Growth of a new file counts from the header's end, so its space byte
  // cannot land inside it; later records go into the space.
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log2", "0123456789", 50, 1000, error, total), 0);
  std::string grown = memory.Contents("/s/log2");
  EXPECT_EQ(grown.size(), 138u);
  EXPECT_EQ(grown.substr(4, 84), header);
  EXPECT_EQ(grown.back(), ' ');
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log2", "abcdefghij", 50, 1000, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log2").size(), 138u);
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log3", "0123456789", 50, 0, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log3").size(), 98u);  // MaxSize 0: no growth
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

TEST_F(QvFsToolsTest, WholeFileAndBlockReads) {
  std::vector<uint8_t> bytes;
  std::string text;
  EXPECT_EQ(tools.ReadFile("/s/none", bytes, error), -1);
  EXPECT_EQ(error, "File not found.");
  EXPECT_EQ(bytes, std::vector<uint8_t>{0});

  const std::string content("ab\0\xffz", 5);
  tools.WriteToFile("/s/f", content, 1, error);
  EXPECT_EQ(tools.ReadFile("/s/f", bytes, error), 0);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 'b', 0, 0xff, 'z'}));
  EXPECT_EQ(tools.ReadFileStr("/s/f", text, error), 0);
  EXPECT_EQ(text, content);
  tools.CloseFile(OpenWith("/s/empty"));
  EXPECT_NE(tools.ReadFile("/s/empty", bytes, error), 0);
  EXPECT_EQ(bytes, std::vector<uint8_t>{0});
  EXPECT_EQ(tools.ReadFileStr("/s/empty", text, error), 0);
  EXPECT_EQ(text, "");

  EXPECT_EQ(tools.ReadFileBlock("/s/none", 1, 2, text, error), -1);
  EXPECT_EQ(error, "File not found");
  struct Block {
    int32_t offset, length;
    std::string expected;
  };
  for (const Block& b : {Block{0, 2, "ab"}, Block{4, -1, "\xffz"}, Block{4, 2147483647, "\xffz"},
                         Block{6, 3, ""}, Block{2, 0, ""}, Block{3, 1, std::string(1, '\0')}}) {
    EXPECT_EQ(tools.ReadFileBlock("/s/f", b.offset, b.length, text, error), 0);
    EXPECT_EQ(text, b.expected) << b.offset << " " << b.length;
    EXPECT_EQ(tools.ReadFileBlockBytes("/s/f", b.offset, b.length, bytes, error), 0);
    const std::string as_text(bytes.begin(), bytes.end());
    EXPECT_EQ(as_text, b.expected.empty() ? std::string(1, '\0') : b.expected);
  }
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

TEST_F(QvFsToolsTest, RenameAndListings) {
  tools.WriteToFile("/s/2.bin", "new", 1, error);
  tools.WriteToFile("/s/1.bin", "old content", 1, error);
  tools.WriteToFile("/s/1.idx", "i", 1, error);
  memory.CreateDirectory("/s/sub", error);
  EXPECT_NE(tools.RenameFile("/s/2.bin", "/s/1.bin"), 0);
  EXPECT_EQ(memory.Contents("/s/1.bin"), "new");
  EXPECT_EQ(tools.RenameFile("/s/2.bin", "/s/3.bin"), 0);
  tools.WriteToFile("/s/2.bin", "n", 1, error);

  using Names = std::vector<std::string>;
  Names found;
  EXPECT_EQ(tools.FileSearch("/s/*.bin", found), 2);
  EXPECT_EQ(found, (Names{"", "1.bin", "2.bin"}));
  EXPECT_EQ(tools.FileSearch("/s/*", found), 6);
  EXPECT_EQ(found, (Names{"", ".", "..", "1.bin", "1.idx", "2.bin", "sub"}));
  EXPECT_EQ(tools.FileSearch("/s", found), 1);  // the folder's own entry in its parent
  EXPECT_EQ(tools.DirectorySearch("/s/*", found), 3);
  EXPECT_EQ(found, (Names{"", ".", "..", "sub"}));
  EXPECT_EQ(tools.FileSearch("/s/*.jpg", found), 0);
  EXPECT_EQ(found, Names{""});
  EXPECT_EQ(tools.DirectorySearch("/missing/*", found), 0);
  EXPECT_EQ(found, Names{""});
}

TEST_F(QvFsToolsTest, PathHelpers) {
  EXPECT_EQ(tools.ExtractFilePath("/a/b.txt"), "/a/");
  EXPECT_EQ(tools.ExtractFileName("/a/b.txt"), "b.txt");
  EXPECT_EQ(tools.ExtractFileName("/a/b.tar.gz", true), "b.tar");
  EXPECT_EQ(tools.ExtractFileExtension("/a/b.txt"), "txt");
  EXPECT_EQ(tools.ExtractFilePath("b") + tools.ExtractFileExtension("b"), "");
  EXPECT_EQ(tools.ExtractFileName("/a.d/b", true), "b");
  EXPECT_EQ(tools.ExtractFileExtension("/a.d/b"), "d/b");  // the last "." of the whole text
  EXPECT_EQ(tools.GetFileVolume("/Data/x") + tools.GetFileVolume("C:\\x"), "dc");
  EXPECT_EQ(tools.GetFileVolume("rel/x") + tools.GetFileVolume("/"), "");
}

TEST_F(QvFsToolsTest, CreatePathMakesOnlyMissingFolders) {
  EXPECT_TRUE(tools.createPath("/s/a/b/"));
  EXPECT_TRUE(memory.DirectoryExists("/s/a/b"));
  Record();
  EXPECT_TRUE(tools.createPath("/s/a/b"));
  EXPECT_TRUE(log.empty());
  tools.WriteToFile("/s/file", "x", 1, error);
  EXPECT_FALSE(tools.createPath("/s/file/c/d"));
  EXPECT_FALSE(memory.DirectoryExists("/s/file/c"));
}

TEST_F(QvFsToolsTest, FastPreallocationAndItsFallback) {
  tools.WriteToFile("/s/p.bin", "old", 1, error);
  EXPECT_TRUE(tools.FastFilePreallocateXP("/s/p.bin", 4096, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(memory.Contents("/s/p.bin"), std::string(4096, '\0'));  // emptied first

  memory.SetAllocateSupported(false);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/q.bin", 5000, error));
  EXPECT_EQ(error, "SetFileValidData Error=" + std::to_string(EOPNOTSUPP));
  EXPECT_EQ(memory.Contents("/s/q.bin").size(), 5000u);  // the length is set all the same
  memory.SetAllocateSupported(true);
  faulty.SetFreeSpace(100);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/r.bin", 5000, error));
  EXPECT_EQ(error, "SetFileValidData Error=" + std::to_string(ENOSPC));
  EXPECT_EQ(memory.Contents("/s/r.bin").size(), 5000u);

  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/locked", 10, error));
  EXPECT_EQ(error, "CreateFile error: " + std::to_string(EACCES));
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/p.bin", -1, error));
  EXPECT_EQ(error, "SetFilePointer error: " + std::to_string(EINVAL));
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

TEST(QvFsToolsPosixTest, FastPreallocationReservesTheSpace) {
  char folder[] = "/tmp/ravelon_tools_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/a.bin";
  const int32_t size = 3 * 1048576 + 5;
  bool reserved = false;
  std::string error;
  {
    const auto fs = NewPosixFileSystem();
    QvFsTools tools(*fs);
    reserved = tools.FastFilePreallocateXP(path, size, error);
  }
  struct stat info = {};
  const int found = stat(path.c_str(), &info);
  std::filesystem::remove_all(folder);
  ASSERT_EQ(found, 0);
  EXPECT_EQ(info.st_size, size);
  if (!reserved) {
    EXPECT_EQ(error.rfind("SetFileValidData Error=", 0), 0u) << error;
    GTEST_SKIP() << "this file system cannot reserve space: " << error;
  }
  EXPECT_EQ(error, "");
  EXPECT_GE(info.st_blocks * 512, size);
}

}  // namespace
}  // namespace ravelon
