// What a power loss leaves of a memory file system: only synced bytes under synced names. (The
// calls it rests on, IsLinked and SyncDirectory, are in the file system contract's tests.)
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

using Step = std::function<void(MemoryFileSystem&, std::unique_ptr<RandomAccessFile>&)>;

void Write(MemoryFileSystem&, std::unique_ptr<RandomAccessFile>& file, int64_t at, const char* s) {
  std::string error;
  ASSERT_EQ(file->WriteAt(at, s, error), 0);
}

TEST(PowerLossTest, KeepsOnlySyncedBytesUnderSyncedNames) {
  std::string e;
  const Step write_x = [](auto& fs, auto& f) { Write(fs, f, 0, "x"); };
  const Step write_y = [](auto& fs, auto& f) { Write(fs, f, 1, "y"); };
  const Step sync = [&](auto&, auto& f) { ASSERT_EQ(f->Sync(e), 0); };
  const Step sync_folder = [&](auto& fs, auto&) { ASSERT_EQ(fs.SyncDirectory("/d", e), 0); };
  const Step rename = [&](auto& fs, auto&) { ASSERT_EQ(fs.Rename("/d/a", "/d/b", e), 0); };
  const Step remove = [&](auto& fs, auto&) { ASSERT_EQ(fs.Remove("/d/a", e), 0); };
  // steps after /d/a is made; what a power loss leaves ("-": no file) of /d/a and /d/b
  const std::tuple<std::vector<Step>, std::string, std::string> cases[] = {
      {{write_x}, "-", "-"},
      {{write_x, sync}, "-", "-"},  // its name was never synced
      {{sync_folder, write_x}, "", "-"},
      {{write_x, sync, sync_folder}, "x", "-"},
      {{write_x, sync, sync_folder, write_y}, "x", "-"},
      {{write_x, sync, sync_folder, rename}, "x", "-"},
      {{write_x, sync, sync_folder, rename, sync_folder}, "-", "x"},
      {{write_x, sync, sync_folder, remove}, "x", "-"},
      {{write_x, sync, sync_folder, remove, sync_folder}, "-", "-"},
  };
  for (const auto& [steps, a, b] : cases) {
    MemoryFileSystem fs;
    fs.Apply(FileMutation::CreateDirectory("/d"));
    fs.Apply(FileMutation::SyncDirectory("/"));
    std::unique_ptr<RandomAccessFile> file;
    ASSERT_EQ(fs.Open("/d/a", FileSystem::OpenMode::kOpenOrCreate, file, e), 0);
    for (const Step& step : steps) step(fs, file);
    const std::unique_ptr<MemoryFileSystem> left = fs.AfterPowerLoss();
    const auto contents = [&](const char* path) {
      return left->FileExists(path) ? left->Contents(path) : "-";
    };
    EXPECT_EQ(contents("/d/a") + " " + contents("/d/b"), a + " " + b) << steps.size();
  }
}

}  // namespace
}  // namespace ravelon
