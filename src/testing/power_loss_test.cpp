// What a power loss leaves of a memory file system: only synced bytes under synced names. (The
// calls it rests on, IsLinked and SyncDirectory, are in the file system contract's tests.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

TEST(PowerLossTest, KeepsOnlySyncedBytesUnderSyncedNames) {
  // Steps on the new file /d/a: 'x' and 'y' write a byte, 's' syncs the file,
  // 'f' syncs its folder, 'r' renames it to /d/b, 'd' removes it; then what a
  // power loss leaves of /d/a and /d/b ("-": no file).
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"x", "-", "-"},     {"xs", "-", "-"},  // its name was never synced
      {"fx", "", "-"},     {"xsf", "x", "-"},  {"xsfy", "x", "-"},  {"xsfr", "x", "-"},
      {"xsfrf", "-", "x"}, {"xsfd", "x", "-"}, {"xsfdf", "-", "-"},
  };
  for (const auto& [steps, a, b] : cases) {
    MemoryFileSystem fs;
    fs.Apply(FileMutation::CreateDirectory("/d"));
    fs.Apply(FileMutation::SyncDirectory("/"));
    std::unique_ptr<RandomAccessFile> file;
    std::string e;
    ASSERT_EQ(fs.Open("/d/a", FileSystem::OpenMode::kOpenOrCreate, file, e), 0);
    for (const char step : steps) {
      const int32_t status = step == 'x'   ? file->WriteAt(0, "x", e)
                             : step == 'y' ? file->WriteAt(1, "y", e)
                             : step == 's' ? file->Sync(e)
                             : step == 'f' ? fs.SyncDirectory("/d", e)
                             : step == 'r' ? fs.Rename("/d/a", "/d/b", e)
                                           : fs.Remove("/d/a", e);
      ASSERT_EQ(status, 0) << steps << " " << step;
    }
    const std::unique_ptr<MemoryFileSystem> left = fs.AfterPowerLoss();
    const auto contents = [&](const char* path) {
      return left->FileExists(path) ? left->Contents(path) : "-";
    };
    EXPECT_EQ(contents("/d/a") + " " + contents("/d/b"), a + " " + b) << steps;
  }
}

}  // namespace
}  // namespace ravelon
