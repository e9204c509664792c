#include "store/qv_fs_tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <tuple>

#include "common/number_encoding.h"
#include "ravelon/testing/fault_injecting_file_system.h"
#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

using M = FileMutation;

class QvFsToolsTest : public ::testing::Test {
 protected:
  QvFsToolsTest() {
    memory.CreateDirectory("/s", error);
    memory.SetObserver([this](const FileMutation& m) { log.push_back(m); });
  }

  // Opens `name` through the tools and writes `content` at its start.
  int16_t OpenWith(const std::string& name, const std::string& content = "") {
    int32_t code = -1;
    const int16_t number = tools.OpenFile(name, 0, code, error);
    EXPECT_EQ(code, 0) << error;
    tools.WriteToOpenedFile(number, content, 1, error);
    return number;
  }

  MemoryFileSystem memory;
  FaultInjectingFileSystem faulty{memory};
  QvFsTools tools{faulty};
  std::string error;
  int32_t newSize = 0, currentSize = 0;
  std::vector<FileMutation> log;  // every change
};

TEST_F(QvFsToolsTest, WritesWithoutGrowthRefusalsAndRename) {
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
  EXPECT_EQ(tools.WritePreAlloc("/s/g", "Z", 6, 4, 0, error, newSize), 0);  // 5 + 4
  EXPECT_EQ(newSize, 9);
  EXPECT_EQ(memory.Contents("/s/g"), std::string("\0\0abcZ\0\0 ", 9));
  EXPECT_EQ(memory.OpenFileCount(), 1);  // files opened by name are closed again

  tools.WriteToFile("/s/2.bin", "new", 1, error);
  tools.WriteToFile("/s/1.bin", "old content", 1, error);
  EXPECT_NE(tools.RenameFile("/s/2.bin", "/s/1.bin"), 0);  // replaces the target
  EXPECT_EQ(memory.Contents("/s/1.bin"), "new");
  EXPECT_EQ(tools.RenameFile("/s/2.bin", "/s/3.bin"), 0);  // the source is gone
}

// 300 bytes written just past the end of a file, growth step 500.
TEST_F(QvFsToolsTest, GrowthStepsAreCappedByMaxSizeWhileBelowIt) {
  const std::string data(300, 'd');
  for (const auto& [size, max_size, grown] :
       {std::tuple{1000, 1200, 1200}, std::tuple{1000, 0, 1500}, std::tuple{1200, 1200, 1700}}) {
    const std::string name = "/s/" + std::to_string(size) + "-" + std::to_string(max_size);
    const int16_t n = OpenWith(name, std::string(size, 'o'));
    log.clear();
    EXPECT_EQ(tools.WritePreAllocOpenedFile(n, data, size + 1, 500, max_size, error, newSize,
                                            currentSize),
              0);
    EXPECT_EQ(newSize, grown);
    EXPECT_EQ(currentSize, grown);
    // A space makes the file `grown` bytes long before the data is written.
    EXPECT_EQ(log, (std::vector<FileMutation>{M::Write(name, grown - 1, " "),
                                              M::Write(name, size, data)}));
    EXPECT_EQ(memory.Contents(name).size(), static_cast<size_t>(std::max(size + 300, grown)));
  }
  EXPECT_EQ(memory.Contents("/s/1000-0").substr(1300),
            std::string(199, '\0') + " ");  // 1301..1499 untouched, 1500 the space

  // Failures come back as their number.
  const int16_t n = OpenWith("/s/f", "abc");
  faulty.SetFreeSpace(0);
  EXPECT_EQ(tools.WritePreAllocOpenedFile(n, "xyz", 4, 100, 0, error, newSize, currentSize),
            ENOSPC);
  EXPECT_NE(error, "");
  EXPECT_EQ(newSize, -1);
  EXPECT_EQ(memory.Contents("/s/f"), "abc");
  EXPECT_EQ(tools.WriteToOpenedFile(77, "x", 1, error), EBADF);
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_EQ(tools.WriteToFile("/s/locked", "x", 1, error), EACCES);
}

TEST_F(QvFsToolsTest, FileNumbersAreTheLowestFree) {
  for (int16_t expected = 1; expected <= 3; ++expected) EXPECT_EQ(OpenWith("/s/a"), expected);
  tools.CloseFile(2);
  for (const int16_t unused : {0, -1, 300}) tools.CloseFile(unused);
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
  // What follows the position field.
  const std::string header = std::string("  ") + QvFsTools::kLogHeaderText + "\r\n";
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log", "0123456789", 0, 0, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log"), LongToBytes(99) + header + "0123456789");
  EXPECT_EQ(total, 94);
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log", "abcdefghij", 0, 0, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log"), LongToBytes(109) + header + "0123456789abcdefghij");
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
  // cannot land inside it.
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log2", "0123456789", 50, 1000, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log2"),
            LongToBytes(99) + header + "0123456789" + std::string(39, '\0') + " ");
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

TEST_F(QvFsToolsTest, WholeFileAndBlockReads) {
  std::vector<uint8_t> bytes;
  std::string text;
  EXPECT_EQ(tools.ReadFile("/s/none", bytes, error), -1);
  EXPECT_EQ(error, "File not found.");
  EXPECT_EQ(bytes, std::vector<uint8_t>{0});

  tools.WriteToFile("/s/f", std::string("ab\0\xffz", 5), 1, error);
  EXPECT_EQ(tools.ReadFile("/s/f", bytes, error), 0);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 'b', 0, 0xff, 'z'}));

  EXPECT_EQ(tools.ReadFileBlock("/s/none", 1, 2, text, error), -1);
  EXPECT_EQ(error, "File not found");
  using B = std::tuple<int32_t, int32_t, std::string>;  // offset, length, the bytes read
  for (const auto& [offset, length, expected] :
       {B{0, 2, "ab"}, B{4, -1, "\xffz"}, B{4, 2147483647, "\xffz"}, B{6, 3, ""}, B{2, 0, ""},
        B{3, 1, std::string(1, '\0')}}) {
    EXPECT_EQ(tools.ReadFileBlock("/s/f", offset, length, text, error), 0);
    EXPECT_EQ(text, expected) << offset << " " << length;
    EXPECT_EQ(tools.ReadFileBlockBytes("/s/f", offset, length, bytes, error), 0);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              expected.empty() ? std::string(1, '\0') : expected);
  }
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

TEST_F(QvFsToolsTest, FastPreallocationAndItsFallback) {
  tools.WriteToFile("/s/p.bin", "old", 1, error);
  EXPECT_TRUE(tools.FastFilePreallocateXP("/s/p.bin", 4096, error));
  EXPECT_EQ(memory.Contents("/s/p.bin"), std::string(4096, '\0'));  // emptied first
  memory.SetAllocateSupported(false);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/q.bin", 5000, error));
  EXPECT_EQ(error, "SetFileValidData Error=" + std::to_string(EOPNOTSUPP));
  EXPECT_EQ(memory.Contents("/s/q.bin").size(), 5000u);  // the length is set all the same
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/locked", 10, error));
  EXPECT_EQ(error, "CreateFile error: " + std::to_string(EACCES));
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

TEST(QvFsToolsPosixTest, FastPreallocationReservesTheSpace) {
  char folder[] = "/tmp/ravelon_tools_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/a.bin";
  const int32_t size = 3 * 1048576 + 5;
  std::string error;
  const auto fs = NewPosixFileSystem();
  const bool reserved = QvFsTools(*fs).FastFilePreallocateXP(path, size, error);
  struct stat info = {};
  const int found = stat(path.c_str(), &info);
  std::filesystem::remove_all(folder);
  ASSERT_EQ(found, 0);
  EXPECT_EQ(info.st_size, size);
  if (!reserved) GTEST_SKIP() << "this file system cannot reserve space: " << error;
  EXPECT_GE(info.st_blocks * 512, size);  // reserved, not a sparse length
}

}  // namespace
}  // namespace ravelon
