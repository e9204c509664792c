#include "store/qv_fs_tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <tuple>

#include "common/number_encoding.h"
#include "ravelon/testing/fault_injecting_file_system.h"
#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

using namespace std::string_literals;

class QvFsToolsTest : public ::testing::Test {
 protected:
  QvFsToolsTest() { memory.CreateDirectory("/s", error); }

  // Opens `name` through the tools, checking that it opened, and writes `content` at its start.
  int16_t OpenWith(const std::string& name, const std::string& content = "") {
    int32_t code = -1;
    const int16_t number = tools.OpenFile(name, 0, code, error);
    EXPECT_EQ(code + tools.WriteToOpenedFile(number, content, 1, error), 0) << error;
    return number;
  }

  MemoryFileSystem memory;
  FaultInjectingFileSystem faulty{memory};
  QvFsTools tools{faulty};
  std::string error;
  int32_t newSize = 0, currentSize = 0;
};

// Each row writes `data` at 1-based `offset` of an opened file holding
// "0123456789", growing it by `step` (capped at `max` while the file is below
// it) when the data would pass its end: a space at the new last byte comes
// first. An offset below 1 is refused; nothing to write does nothing.
TEST_F(QvFsToolsTest, PositionedWritesGrowByCappedSteps) {
  // data, offset, step, max; status, new size, current size, content after
  const std::tuple<std::string, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, std::string>
      rows[] = {
          {"x", 0, 5, 0, -1, -1, 0, "0123456789"},
          {"", 3, 5, 0, 0, -1, 0, "0123456789"},
          {"ab", 9, 5, 0, 0, -1, 10, "01234567ab"},  // up to the end + 1: no growth
          {"abc", 11, 5, 12, 0, 12, 12, "0123456789abc"},
          {"abc", 11, 5, 0, 0, 15, 15, "0123456789abc\0 "s},
          {"abc", 11, 5, 11, 0, 15, 15, "0123456789abc\0 "s},  // 10 bytes, max 11: a whole step
      };
  int row = 0;
  for (const auto& [data, offset, step, max, status, grown, current, after] : rows) {
    const std::string name = "/s/" + std::to_string(++row);
    newSize = currentSize = 0;
    EXPECT_EQ(tools.WritePreAllocOpenedFile(OpenWith(name, "0123456789"), data, offset, step, max,
                                            error, newSize, currentSize),
              status);
    EXPECT_EQ(std::tuple(error, newSize, currentSize, memory.Contents(name)),
              std::tuple(status ? "Invalid offset."s : ""s, grown, current, after))
        << row;
  }
}

// Writes and renames by name, file numbers (the lowest free, 255 at most),
// and failures: each comes back as its number and leaves the file as it was.
TEST_F(QvFsToolsTest, NamedWritesFileNumbersAndFailures) {
  EXPECT_EQ(tools.WriteToFile("/s/g", "abc", 3, error), 0);
  EXPECT_EQ(tools.WritePreAlloc("/s/g", "Z", 6, 4, 0, error, newSize) + newSize, 9);  // 5 + 4
  EXPECT_EQ(memory.Contents("/s/g"), "\0\0abcZ\0\0 "s);
  tools.WriteToFile("/s/h", "new", 1, error);
  EXPECT_NE(tools.RenameFile("/s/h", "/s/g"), 0);  // replaces the target
  EXPECT_EQ(memory.Contents("/s/g"), "new");
  EXPECT_EQ(tools.RenameFile("/s/h", "/s/i"), 0);  // the source is gone
  EXPECT_EQ(memory.OpenFileCount(), 0);

  for (int16_t expected = 1; expected <= 255; ++expected) ASSERT_EQ(OpenWith("/s/a"), expected);
  int32_t code = 0;
  EXPECT_EQ(tools.OpenFile("/s/one-too-many", 0, code, error) + code, EMFILE);
  for (const int16_t number : {0, -1, 300, 100}) tools.CloseFile(number);
  EXPECT_EQ(tools.WriteToOpenedFile(100, "x", 1, error), EBADF);
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_EQ(tools.OpenFile("/s/locked", 0, code, error) + code, EACCES);
  EXPECT_EQ(tools.WriteToFile("/s/locked", "x", 1, error), EACCES);
  EXPECT_EQ(OpenWith("/s/f", "abc"), 100);  // the failed open left its number free
  faulty.SetFreeSpace(0);
  EXPECT_EQ(tools.WritePreAllocOpenedFile(100, "xyz", 4, 100, 0, error, newSize, currentSize),
            ENOSPC);
  EXPECT_EQ(std::pair(newSize, memory.Contents("/s/f")), std::pair(-1, "abc"s));
}

// The first four bytes of a log file hold the 1-based position of its next
// record; a position beyond the end or below 5 is taken as the physical end.
TEST_F(QvFsToolsTest, LogFileKeepsItsNextPositionInTheHeader) {
  const std::string header = "  "s + QvFsTools::kLogHeaderText + "\r\n";  // after the position
  // position written first (0: none), data; the total reported (-1: nothing to append)
  const std::tuple<int32_t, const char*, int32_t> appends[] = {
      {0, "0123456789", 94}, {0, "abcdefghij", 104}, {0, "", -1}, {5000, "X", 105}, {2, "Y", 106}};
  for (const auto& [position, data, reported] : appends) {
    if (position > 0) tools.WriteToFile("/s/log", LongToBytes(position), 1, error);
    int32_t total = 0;
    EXPECT_EQ(tools.AppendFilePreAlloc("/s/log", data, 0, 0, error, total) + total, reported);
  }
  EXPECT_EQ(memory.Contents("/s/log"), LongToBytes(111) + header + "0123456789abcdefghijXY");
  // Growth of a new file counts from the header's end, so its space byte
  // cannot land inside it.
  int32_t total = 0;
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log2", "0123456789", 50, 1000, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log2").size(), 88u + 50);
  // Data that ends exactly at the end does not grow the file.
  EXPECT_EQ(tools.AppendFilePreAlloc("/s/log2", std::string(40, 'z'), 50, 1000, error, total), 0);
  EXPECT_EQ(memory.Contents("/s/log2"),
            LongToBytes(139) + header + "0123456789" + std::string(40, 'z'));
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

TEST_F(QvFsToolsTest, WholeFileAndBlockReads) {
  std::vector<uint8_t> bytes;
  std::string text;
  EXPECT_EQ(tools.ReadFile("/s/none", bytes, error), -1);
  EXPECT_EQ(std::pair(bytes, error), std::pair(std::vector<uint8_t>{0}, "File not found."s));
  EXPECT_EQ(tools.ReadFileBlock("/s/none", 1, 2, text, error), -1);
  EXPECT_EQ(error, "File not found");
  tools.WriteToFile("/s/f", "ab\0\xffz"s, 1, error);
  EXPECT_EQ(tools.ReadFile("/s/f", bytes, error), 0);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ab\0\xffz"s);
  // offset, length, the bytes read (as bytes: a single 0 for none)
  const std::tuple<int32_t, int32_t, std::string> blocks[] = {
      {0, 2, "ab"}, {4, -1, "\xffz"}, {4, INT_MAX, "\xffz"}, {6, 3, ""}, {2, 0, ""}, {3, 1, "\0"s}};
  for (const auto& [offset, length, expected] : blocks) {
    EXPECT_EQ(tools.ReadFileBlock("/s/f", offset, length, text, error), 0);
    EXPECT_EQ(tools.ReadFileBlockBytes("/s/f", offset, length, bytes, error), 0);
    EXPECT_EQ(text + "|" + std::string(bytes.begin(), bytes.end()),
              expected + "|" + (expected.empty() ? "\0"s : expected));
  }
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

// A new file is emptied and its space reserved; where that is not supported,
// only the length is set.
TEST_F(QvFsToolsTest, FastPreallocationAndItsFallback) {
  tools.WriteToFile("/s/p.bin", "old", 1, error);
  EXPECT_TRUE(tools.FastFilePreallocateXP("/s/p.bin", 4096, error));
  EXPECT_EQ(memory.Contents("/s/p.bin"), std::string(4096, '\0'));
  memory.SetAllocateSupported(false);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/q.bin", 5000, error));
  EXPECT_EQ(error, "SetFileValidData Error=" + std::to_string(EOPNOTSUPP));
  EXPECT_EQ(memory.Contents("/s/q.bin").size(), 5000u);
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/locked", 10, error));
  EXPECT_EQ(error, "CreateFile error: " + std::to_string(EACCES));
}

TEST(QvFsToolsPosixTest, FastPreallocationReservesTheSpace) {
  char folder[] = "/tmp/ravelon_tools_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = folder + "/a.bin"s;
  std::string error;
  const bool reserved =
      QvFsTools(*NewPosixFileSystem()).FastFilePreallocateXP(path, 3'145'733, error);
  struct stat info = {};
  const int found = stat(path.c_str(), &info);
  std::filesystem::remove_all(folder);
  ASSERT_EQ(std::pair(found, info.st_size), std::pair(0, off_t{3'145'733}));
  if (!reserved) GTEST_SKIP() << "this file system cannot reserve space: " << error;
  EXPECT_GE(info.st_blocks * 512, 3'145'733);  // reserved, not a sparse length
}

}  // namespace
}  // namespace ravelon
