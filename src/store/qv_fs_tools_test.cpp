#include "store/qv_fs_tools.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
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
  // A write that extends the file without a step leaves its new end known: a
  // later write up to that end takes no step.
  const int16_t file = OpenWith("/s/again", "0123456789");
  ASSERT_EQ(tools.WritePreAllocOpenedFile(file, "ab", 11, 0, 0, error, newSize, currentSize), 0);
  ASSERT_EQ(tools.WritePreAllocOpenedFile(file, "yz", 11, 5, 0, error, newSize, currentSize), 0);
  EXPECT_EQ(std::tuple(newSize, currentSize, memory.Contents("/s/again")),
            std::tuple(-1, 12, "0123456789yz"s));
}

// File numbers are the lowest free, 255 at most; failures come back as
// their number and leave the file as it was.
TEST_F(QvFsToolsTest, FileNumbersRenamesAndFailures) {
  for (int16_t expected = 1; expected <= 255; ++expected) ASSERT_EQ(OpenWith("/s/a"), expected);
  int32_t code = 0;
  EXPECT_EQ(tools.OpenFile("/s/one-too-many", 0, code, error) + code, EMFILE);
  for (const int16_t number : {0, -1, 300, 100}) tools.CloseFile(number);
  EXPECT_EQ(tools.WriteToOpenedFile(100, "x", 1, error), EBADF);
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_EQ(tools.OpenFile("/s/locked", 0, code, error) + code, EACCES);
  EXPECT_EQ(OpenWith("/s/f", "abc"), 100);  // the failed open left its number free
  faulty.SetFreeSpace(0);
  EXPECT_EQ(tools.WritePreAllocOpenedFile(100, "xyz", 4, 100, 0, error, newSize, currentSize),
            ENOSPC);
  EXPECT_EQ(std::pair(newSize, memory.Contents("/s/f")), std::pair(-1, "abc"s));
  EXPECT_NE(tools.RenameFile("/s/f", "/s/a"), 0);  // replaces the target
  EXPECT_EQ(tools.RenameFile("/s/f", "/s/b"), 0);  // the source is gone
  EXPECT_EQ(memory.Contents("/s/a"), "abc");
}

// Members the engine does not call, in order on one folder: what they report,
// then what they read and wrote. A log file's first four bytes hold the
// 1-based position of its next record (below 5: the physical end); a new one
// grows from the end of its header row, and data ending at the end grows nothing.
TEST_F(QvFsToolsTest, MembersTheEngineDoesNotCall) {
  std::vector<uint8_t> missing, whole, none;
  int32_t logged = 0;
  faulty.FailOpen("/s/locked", EACCES);
  const std::vector<int32_t> reported = {
      tools.WriteToFile("/s/g", "abc", 3, error),
      tools.WriteToFile("/s/locked", "x", 1, error),
      tools.WritePreAlloc("/s/g", "Z", 6, 4, 0, error, newSize),
      newSize,
      tools.ReadFile("/s/none", missing, error),
      tools.ReadFile("/s/g", whole, error),
      tools.ReadFileBlockBytes("/s/g", 10, 1, none, error),
      tools.AppendFilePreAlloc("/s/log", "0123456789", 50, 1000, error, logged),
      logged,
      tools.AppendFilePreAlloc("/s/log", std::string(40, 'z'), 50, 1000, error, logged),
      logged,
      tools.WriteToFile("/s/log", LongToBytes(2), 1, error),
      tools.AppendFilePreAlloc("/s/log", "X", 0, 0, error, logged),
      logged};
  EXPECT_EQ(reported, (std::vector<int32_t>{0, EACCES, 0, 9, -1, 0, 0, 0, 94, 0, 134, 0, 0, 135}));
  const auto text = [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); };
  EXPECT_EQ(text(missing) + "|" + text(whole) + "|" + text(none), "\0|\0\0abcZ\0\0 |\0"s);
  EXPECT_EQ(memory.Contents("/s/log"), LongToBytes(140) + "  " + QvFsTools::kLogHeaderText +
                                           "\r\n0123456789" + std::string(40, 'z') + "X");
  // Position 5 is taken as it is, though it lies in the header row.
  tools.WriteToFile("/s/log", LongToBytes(5), 1, error);
  tools.AppendFilePreAlloc("/s/log", "Y", 0, 0, error, logged);
  EXPECT_EQ(memory.Contents("/s/log").substr(4, 3), "Y T");
  EXPECT_EQ(memory.OpenFileCount(), 0);
  std::string volumes;
  for (const char* name : {"C:", "c", "/Data/x", "//", "rel/x", ""})
    volumes += tools.GetFileVolume(name) + ",";
  EXPECT_EQ(volumes, "c,,d,,,,");
  EXPECT_EQ(tools.ExtractFileName("/s/ab.c") + "|" + tools.ExtractFileName("/s/ab.c", true) + "|" +
                tools.ExtractFileExtension("x.y/z") + "|" + tools.ExtractFilePath("/s/ab"),
            "ab.c|ab|y/z|/s/");
  // Searches by wildcards: index 0 stays empty.
  memory.Apply(FileMutation::CreateDirectory("/s/sub"));
  std::vector<std::string> files, folders;
  EXPECT_EQ(tools.FileSearch("/s/?o*", files), 1);
  EXPECT_EQ(tools.DirectorySearch("/s/*", folders), 3);
  EXPECT_EQ(files, (std::vector<std::string>{"", "log"}));
  EXPECT_EQ(folders, (std::vector<std::string>{"", ".", "..", "sub"}));
}

// Blocks by 1-based offset (below 1: from the start) and length (below 0: to
// the end), never past the end; fast preallocation.
TEST_F(QvFsToolsTest, BlockReadsAndFastPreallocation) {
  std::string text;
  EXPECT_EQ(tools.ReadFileBlock("/s/none", 1, 2, text, error), -1);
  EXPECT_EQ(error, "File not found");
  tools.WriteToFile("/s/f", "ab\0\xffz"s, 1, error);
  const std::tuple<int32_t, int32_t, std::string> blocks[] = {
      {0, 2, "ab"}, {4, -1, "\xffz"}, {4, INT_MAX, "\xffz"}, {6, 3, ""}, {2, 0, ""}, {3, 1, "\0"s}};
  for (const auto& [offset, length, expected] : blocks) {
    EXPECT_EQ(tools.ReadFileBlock("/s/f", offset, length, text, error), 0);
    EXPECT_EQ(text, expected) << offset << " " << length;
  }
  // A new file is emptied and its space reserved; where that is not
  // supported, only the length is set.
  error = "from before";
  EXPECT_TRUE(tools.FastFilePreallocateXP("/s/f", 4096, error));
  EXPECT_EQ(error + memory.Contents("/s/f"), std::string(4096, '\0'));
  memory.SetAllocateSupported(false);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/q.bin", 5000, error));
  EXPECT_EQ(error + " " + std::to_string(memory.Contents("/s/q.bin").size()),
            "SetFileValidData Error=" + std::to_string(EOPNOTSUPP) + " 5000");
  faulty.FailOpen("/s/locked", EACCES);
  EXPECT_FALSE(tools.FastFilePreallocateXP("/s/locked", 10, error));
  EXPECT_EQ(error, "CreateFile error: " + std::to_string(EACCES));
  EXPECT_EQ(memory.OpenFileCount(), 0);
}

}  // namespace
}  // namespace ravelon
