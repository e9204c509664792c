// The registry store contract, run against the memory store and the SQLite
// store; then what only the SQLite file has to keep: its mode, other
// processes writing at the same time, keys removed behind an open handle, and
// the real platform's choice of file.
#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ravelon {
namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/ravelon-registry-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

uint32_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

std::unique_ptr<RegistryStore> OpenFile(const std::string& path) {
  std::string error;
  std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(path, error);
  EXPECT_NE(store, nullptr) << error;
  EXPECT_EQ(error, "");
  return store;
}

struct MemoryStore {
  static std::unique_ptr<RegistryStore> Make(const TempDir&) { return NewMemoryRegistryStore(); }
};
struct SqliteStore {
  static std::unique_ptr<RegistryStore> Make(const TempDir& dir) {
    return OpenFile(dir.Path("registry.db"));
  }
};

template <typename Factory>
class RegistryStoreTest : public ::testing::Test {
 protected:
  RegistryKey Create(const std::string& path, RegistryKey root = kHkeyLocalMachine) {
    RegistryKey key = 0;
    EXPECT_EQ(store_->CreateKey(root, path, key), kRegSuccess) << path;
    return key;
  }
  // The value's bytes, or "error <code>".
  std::string Read(RegistryKey key, const std::string& name, uint32_t* type = nullptr) {
    uint32_t size = 0;
    uint32_t ignored = 0;
    int32_t result = store_->QueryValue(key, name, type ? *type : ignored, nullptr, size);
    std::string data(size, '\0');
    if (result == 0) result = store_->QueryValue(key, name, ignored, data.data(), size);
    return result == 0 ? data : "error " + std::to_string(result);
  }
  std::vector<std::string> Subkeys(RegistryKey key) {
    std::vector<std::string> names;
    std::string name;
    while (store_->EnumKey(key, static_cast<uint32_t>(names.size()), name) == kRegSuccess) {
      names.push_back(name);
    }
    return names;
  }

  TempDir dir_;
  std::unique_ptr<RegistryStore> store_ = Factory::Make(dir_);
};

using StoreKinds = ::testing::Types<MemoryStore, SqliteStore>;
TYPED_TEST_SUITE(RegistryStoreTest, StoreKinds);

TYPED_TEST(RegistryStoreTest, KeysFormCaseInsensitiveTreesPerRoot) {
  RegistryStore& store = *this->store_;
  const RegistryKey cam = this->Create("Software\\Ravelon\\Src\\Cam1");
  ASSERT_EQ(store.SetValue(cam, "Port", kRegSz, std::string("80\0", 3)), kRegSuccess);

  // The same key however the path is spelled, from a root or an open parent.
  RegistryKey key = 0;
  ASSERT_EQ(store.OpenKey(kHkeyLocalMachine, "\\SOFTWARE\\\\ravelon\\src\\CAM1\\", key), 0);
  EXPECT_EQ(this->Read(key, "port"), std::string("80\0", 3));
  EXPECT_EQ(this->Read(this->Create("software\\RAVELON\\SRC\\cam1"), "PORT"),
            "80" + std::string(1, '\0'));
  ASSERT_EQ(store.OpenKey(this->Create("software"), "ravelon\\SRC", key), kRegSuccess);
  EXPECT_EQ(this->Subkeys(key), std::vector<std::string>{"Cam1"});
  ASSERT_EQ(store.OpenKey(kHkeyLocalMachine, "", key), kRegSuccess);
  EXPECT_EQ(this->Subkeys(key), std::vector<std::string>{"Software"});

  EXPECT_EQ(store.OpenKey(kHkeyLocalMachine, "Software\\Cam1", key), kRegFileNotFound);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "Software", key), kRegFileNotFound);
  this->Create("Other", kHkeyCurrentUser);
  EXPECT_EQ(this->Subkeys(kHkeyCurrentUser), std::vector<std::string>{"Other"});

  this->Create(std::string(kMaxKeyNameLength, 'k'));
  EXPECT_EQ(store.CreateKey(kHkeyLocalMachine, "a\\" + std::string(256, 'k'), key),
            kRegInvalidParameter);
  EXPECT_EQ(store.OpenKey(kHkeyLocalMachine, "a", key), kRegFileNotFound);
}

TYPED_TEST(RegistryStoreTest, ValuesKeepTypeBytesAndPlace) {
  RegistryStore& store = *this->store_;
  const RegistryKey key = this->Create("Values");
  const std::string bytes("\0\xff\x01\0", 4);
  ASSERT_EQ(store.SetValue(key, "Blob", kRegBinary, bytes), kRegSuccess);
  ASSERT_EQ(store.SetValue(key, "Port", kRegDword, std::string("\x50\0\0\0", 4)), kRegSuccess);
  ASSERT_EQ(store.SetValue(key, "", kRegSz, std::string("x\0", 2)), kRegSuccess);
  ASSERT_EQ(store.SetValue(key, "Empty", kRegBinary, ""), kRegSuccess);
  uint32_t type = kRegNone;
  EXPECT_EQ(this->Read(key, "BLOB", &type), bytes);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(this->Read(key, "Empty"), "");
  EXPECT_EQ(this->Read(key, "Missing"), "error 2");

  // A buffer one byte short: the size is told, nothing is copied.
  char buffer[4] = {'a', 'b', 'c', 'd'};
  uint32_t size = 3;
  EXPECT_EQ(store.QueryValue(key, "Blob", type, buffer, size), kRegMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");

  // Replacing keeps the first spelling and the place in the enumeration.
  ASSERT_EQ(store.SetValue(key, "BLOB", kRegSz, std::string("t\0", 2)), kRegSuccess);
  std::vector<std::string> names;
  std::string name;
  while (store.EnumValue(key, static_cast<uint32_t>(names.size()), name, type, nullptr, size) ==
         kRegSuccess) {
    names.push_back(name + ":" + std::to_string(type) + ":" + std::to_string(size));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Blob:1:2", "Port:4:4", ":1:2", "Empty:3:0"}));
  size = 1;
  EXPECT_EQ(store.EnumValue(key, 1, name, type, buffer, size), kRegMoreData);

  // Subkeys come in the order of their folded names.
  for (const char* sub : {"b", "C", "a"}) this->Create(std::string("Values\\") + sub);
  EXPECT_EQ(this->Subkeys(key), (std::vector<std::string>{"a", "b", "C"}));
}

TYPED_TEST(RegistryStoreTest, OnlyOpenHandlesWork) {
  RegistryStore& store = *this->store_;
  const RegistryKey key = this->Create("Gone");
  EXPECT_EQ(store.CloseKey(key), kRegSuccess);
  uint32_t type = 0;
  uint32_t size = 0;
  RegistryKey other = 0;
  EXPECT_EQ(store.CloseKey(key), kRegInvalidHandle);
  EXPECT_EQ(store.QueryValue(key, "", type, nullptr, size), kRegInvalidHandle);
  EXPECT_EQ(store.SetValue(key, "", kRegSz, ""), kRegInvalidHandle);
  EXPECT_EQ(store.FlushKey(key), kRegInvalidHandle);
  EXPECT_EQ(store.CreateKey(key, "x", other), kRegInvalidHandle);
  // The roots stay open.
  EXPECT_EQ(store.CloseKey(kHkeyLocalMachine), kRegSuccess);
  EXPECT_EQ(store.FlushKey(kHkeyLocalMachine), kRegSuccess);
  EXPECT_EQ(store.OpenKey(kHkeyLocalMachine, "gone", other), kRegSuccess);
}

class SqliteRegistryStoreTest : public ::testing::Test {
 protected:
  // Forks `count` children that each open their own store of the file and
  // run `work` (given their number), all at once, while this process runs
  // `meanwhile`. Returns how many children failed.
  int RunInChildren(int count, const std::function<bool(RegistryStore&, int)>& work,
                    const std::function<void()>& meanwhile) {
    int go[2];
    if (::pipe(go) != 0) return count;
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(go[1]);
        char byte;
        const bool started = ::read(go[0], &byte, 1) == 0;  // end of file: go
        std::string error;
        std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(file_, error);
        ::_exit(started && store != nullptr && work(*store, i) ? 0 : 1);
      }
      children.push_back(pid);
    }
    ::close(go[0]);
    ::close(go[1]);
    meanwhile();
    int failed = 0;
    for (const pid_t pid : children) {
      int status = 0;
      failed += ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    return failed;
  }

  TempDir dir_;
  const std::string file_ = dir_.Path("registry.db");
};

TEST_F(SqliteRegistryStoreTest, FileAndItsSideFilesAreOwnerOnly) {
  const mode_t saved = ::umask(0);
  std::unique_ptr<RegistryStore> store = OpenFile(file_);
  ::umask(saved);
  RegistryKey key = 0;
  ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, "Src", key), kRegSuccess);
  ASSERT_EQ(store->SetValue(key, "Password", kRegSz, std::string("secret\0", 7)), kRegSuccess);
  for (const char* suffix : {"", "-wal", "-shm"})
    EXPECT_EQ(ModeOf(file_ + suffix), 0600u) << suffix;
}

// Three processes start on a new file at once: they race for its layout, then
// for every key; each sees what the others wrote.
TEST_F(SqliteRegistryStoreTest, ProcessesShareTheFileWithoutLosingWrites) {
  constexpr int kKeys = 40;
  const auto write = [](RegistryStore& store, int writer) {
    for (int i = 0; i < kKeys; ++i) {
      RegistryKey key = 0;
      if (store.CreateKey(kHkeyLocalMachine, "Race\\K" + std::to_string(i), key) != 0 ||
          store.SetValue(key, "W" + std::to_string(writer), kRegDword, std::string(4, 'x')) != 0 ||
          store.CloseKey(key) != 0) {
        return false;
      }
    }
    return true;
  };
  std::unique_ptr<RegistryStore> store;
  EXPECT_EQ(RunInChildren(2, write,
                          [&] {
                            store = OpenFile(file_);
                            EXPECT_TRUE(store != nullptr && write(*store, 2));
                          }),
            0);
  ASSERT_NE(store, nullptr);
  for (int i = 0; i < kKeys; ++i) {
    RegistryKey key = 0;
    ASSERT_EQ(store->OpenKey(kHkeyLocalMachine, "race\\k" + std::to_string(i), key), 0);
    std::string name;
    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(store->EnumValue(key, 2, name, type, nullptr, size), kRegSuccess) << i;
    EXPECT_EQ(store->EnumValue(key, 3, name, type, nullptr, size), kRegNoMoreItems) << i;
  }
}

TEST_F(SqliteRegistryStoreTest, KeyRemovedBehindAHandleIsNotFound) {
  std::unique_ptr<RegistryStore> store = OpenFile(file_);
  RegistryKey key = 0;
  ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, "Gone\\Sub", key), kRegSuccess);
  ASSERT_EQ(store->OpenKey(kHkeyLocalMachine, "Gone", key), kRegSuccess);
  ASSERT_EQ(store->SetValue(key, "v", kRegSz, std::string("1\0", 2)), kRegSuccess);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &other), SQLITE_OK);
  EXPECT_EQ(
      sqlite3_exec(other, "PRAGMA foreign_keys = ON; DELETE FROM reg_keys WHERE name = 'Gone'",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(other);

  RegistryKey sub = 0;
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(store->QueryValue(key, "v", type, nullptr, size), kRegFileNotFound);
  EXPECT_EQ(store->SetValue(key, "v", kRegSz, std::string("2\0", 2)), kRegFileNotFound);
  EXPECT_EQ(store->CreateKey(key, "Sub", sub), kRegFileNotFound);
  EXPECT_EQ(store->OpenKey(kHkeyLocalMachine, "Gone", sub), kRegFileNotFound);
}

TEST_F(SqliteRegistryStoreTest, UnusableFileGivesAReasonAndTheRealPlatformAStoreInMemory) {
  std::ofstream(file_) << std::string(4096, 'x');
  std::string error;
  EXPECT_EQ(NewSqliteRegistryStore(file_, error), nullptr);
  EXPECT_NE(error.find(file_), std::string::npos) << error;
  std::shared_ptr<Platform> platform = NewRealPlatform(file_);
  EXPECT_NE(platform->RegistryError(), "");
  RegistryKey key = 0;
  EXPECT_EQ(platform->Registry().CreateKey(kHkeyLocalMachine, "Src", key), kRegSuccess);

  // By default the file goes into the configuration folder, made owner-only.
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved != nullptr ? saved : "";
  ::setenv("XDG_CONFIG_HOME", dir_.Path("config").c_str(), 1);
  platform = NewRealPlatform();
  EXPECT_EQ(platform->Registry().CreateKey(kHkeyLocalMachine, "Src", key), kRegSuccess);
  EXPECT_EQ(platform->RegistryError(), "");
  saved != nullptr ? ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1)
                   : ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ModeOf(dir_.Path("config")), 0700u);
  EXPECT_EQ(ModeOf(dir_.Path("config/ravelon")), 0700u);
  EXPECT_EQ(ModeOf(dir_.Path("config/ravelon/registry.db")), 0600u);
}

}  // namespace
}  // namespace ravelon
