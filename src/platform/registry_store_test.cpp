// The registry store contract, run against the memory store and the SQLite
// store; then what only the SQLite file has to keep: its mode and other
// processes writing at the same time.
#include "ravelon/registry_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "ravelon/platform.h"

namespace ravelon {
namespace {

using namespace std::string_literals;

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

std::unique_ptr<RegistryStore> OpenFile(const std::string& path) {
  std::string error;
  std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(path, error);
  EXPECT_NE(store, nullptr) << error;
  EXPECT_EQ(error, "");
  return store;
}

template <typename IsSqlite>
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
    for (std::string name; store_->EnumKey(key, names.size(), name) == kRegSuccess;)
      names.push_back(name);
    return names;
  }

  TempDir dir_;
  std::unique_ptr<RegistryStore> store_ =
      IsSqlite::value ? OpenFile(dir_.Path("registry.db")) : NewMemoryRegistryStore();
};

using StoreKinds = ::testing::Types<std::false_type, std::true_type>;  // SQLite?
TYPED_TEST_SUITE(RegistryStoreTest, StoreKinds);

TYPED_TEST(RegistryStoreTest, KeysFormCaseInsensitiveTreesPerRoot) {
  RegistryStore& store = *this->store_;
  const RegistryKey cam = this->Create("Software\\Ravelon\\Src\\Cam1");
  ASSERT_EQ(store.SetValue(cam, "Port", kRegSz, std::string("80\0", 3)), kRegSuccess);

  // The same key however the path is spelled, from a root or an open parent.
  RegistryKey key = 0;
  ASSERT_EQ(store.OpenKey(kHkeyLocalMachine, "\\SOFTWARE\\\\ravelon\\src\\CAM1\\", key), 0);
  EXPECT_EQ(this->Read(key, "port"), std::string("80\0", 3));
  EXPECT_EQ(this->Read(this->Create("software\\RAVELON\\SRC\\cam1"), "PORT"), "80"s + '\0');
  ASSERT_EQ(store.OpenKey(this->Create("software"), "ravelon\\SRC", key), kRegSuccess);
  EXPECT_EQ(this->Subkeys(key), std::vector<std::string>{"Cam1"});

  EXPECT_EQ(store.OpenKey(kHkeyLocalMachine, "Software\\Cam1", key), kRegFileNotFound);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "Software", key), kRegFileNotFound);
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
  while (store.EnumValue(key, names.size(), name, type, nullptr, size) == kRegSuccess)
    names.push_back(name + ":" + std::to_string(type) + ":" + std::to_string(size));
  EXPECT_EQ(store.EnumValue(key, 4, name, type, nullptr, size), kRegNoMoreItems);
  EXPECT_EQ(names, (std::vector<std::string>{"Blob:1:2", "Port:4:4", ":1:2", "Empty:3:0"}));
  size = 1;
  EXPECT_EQ(store.EnumValue(key, 1, name, type, buffer, size), kRegMoreData);

  // Subkeys come in the order of their folded names.
  for (const char* sub : {"b", "C", "a"}) this->Create(std::string("Values\\") + sub);
  EXPECT_EQ(this->Subkeys(key), (std::vector<std::string>{"a", "b", "C"}));
}

// Three processes start on a new file at once: they race for its layout, then
// for every key; each sees what the others wrote. The file and its side files,
// which hold passwords, are the owner's only, whatever the umask.
// Keys and values removed while handles on them stay open: those handles find
// nothing, even once a new key has taken the removed one's place.
TYPED_TEST(RegistryStoreTest, RemovedKeysAndValuesAreGoneBehindOpenHandles) {
  RegistryStore& s = *this->store_;
  const RegistryKey src = this->Create("R\\Src");
  const RegistryKey cam = this->Create("R\\Src\\Cam");
  const RegistryKey sub = this->Create("R\\Src\\Cam\\Sub");
  ASSERT_EQ(s.SetValue(cam, "Url", kRegSz, "/v\0"s), kRegSuccess);
  ASSERT_EQ(s.SetValue(cam, "Port", kRegSz, "80\0"s), kRegSuccess);
  EXPECT_EQ(s.DeleteValue(cam, "URL"), kRegSuccess);
  EXPECT_EQ(s.DeleteValue(cam, "Url"), kRegFileNotFound);
  EXPECT_EQ(this->Read(cam, "Url"), "error 2");
  EXPECT_EQ(this->Read(cam, "port"), "80\0"s);
  EXPECT_EQ(s.DeleteKey(src, ""), kRegInvalidParameter);
  EXPECT_EQ(s.DeleteKey(src, "Nope"), kRegFileNotFound);
  EXPECT_EQ(s.DeleteKey(kHkeyLocalMachine, "r\\src\\CAM"), kRegSuccess);
  EXPECT_EQ(this->Subkeys(src), std::vector<std::string>{});
  const RegistryKey other = this->Create("R\\Other");  // may take a removed key's place
  ASSERT_EQ(s.SetValue(other, "Port", kRegSz, "81\0"s), kRegSuccess);
  EXPECT_EQ(this->Read(cam, "Port"), "error 2");
  EXPECT_EQ(s.SetValue(sub, "X", kRegSz, "1"s), kRegFileNotFound);
  RegistryKey reopened = 0;
  EXPECT_EQ(s.OpenKey(src, "Cam\\Sub", reopened), kRegFileNotFound);
  EXPECT_EQ(s.DeleteKey(src, "Cam"), kRegFileNotFound);
}

TEST(SqliteRegistryStoreTest, ProcessesShareAnOwnerOnlyFileWithoutLosingWrites) {
  const TempDir dir;
  const std::string file = dir.Path("registry.db");
  const mode_t saved = ::umask(0);
  constexpr int kKeys = 40;
  const auto write = [&](int writer) {
    std::string error;
    std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(file, error);
    for (int i = 0; store != nullptr && i < kKeys; ++i) {
      RegistryKey key = 0;
      if (store->CreateKey(kHkeyLocalMachine, "Race\\K" + std::to_string(i), key) != 0 ||
          store->SetValue(key, "W" + std::to_string(writer), kRegDword, std::string(4, 'x')) != 0 ||
          store->CloseKey(key) != 0) {
        return false;
      }
    }
    return store != nullptr;
  };
  pid_t children[2];
  for (int writer = 0; writer < 2; ++writer) {
    if ((children[writer] = ::fork()) == 0) ::_exit(write(writer) ? 0 : 1);
  }
  EXPECT_TRUE(write(2));
  ::umask(saved);
  for (const pid_t child : children) {
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::unique_ptr<RegistryStore> store = OpenFile(file);
  for (int i = 0; i < kKeys; ++i) {
    RegistryKey key = 0;
    ASSERT_EQ(store->OpenKey(kHkeyLocalMachine, "race\\k" + std::to_string(i), key), 0);
    std::string name;
    uint32_t type = 0, size = 0;
    EXPECT_EQ(store->EnumValue(key, 2, name, type, nullptr, size), kRegSuccess) << i;
    EXPECT_EQ(store->EnumValue(key, 3, name, type, nullptr, size), kRegNoMoreItems) << i;
  }
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat info {};
    ASSERT_EQ(::stat((file + suffix).c_str(), &info), 0) << suffix;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << suffix;
  }
}

// A registry file that cannot be made leaves the real platform an empty store
// in memory, and the reason.
TEST(SqliteRegistryStoreTest, UnusableFileFallsBackToAStoreInMemory) {
  const std::shared_ptr<Platform> platform = NewRealPlatform("/dev/null/ravelon/registry.db");
  EXPECT_NE(platform->RegistryError(), "");
  RegistryKey key = 0;
  EXPECT_EQ(platform->Registry().CreateKey(kHkeyLocalMachine, "Software", key), kRegSuccess);
}

}  // namespace
}  // namespace ravelon
