// The registry store contract, run on the memory store and the SQLite store;
// then what only the SQLite file has to keep: its mode, and other processes
// opening and writing it at the same moment.
#include "ravelon/registry_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <type_traits>

#include "ravelon/platform.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using namespace std::string_literals;
using Names = std::vector<std::string>;

template <typename IsSqlite>
class RegistryStoreTest : public ::testing::Test {
 protected:
  RegistryKey Create(const std::string& path) {
    RegistryKey key = 0;
    EXPECT_EQ(store_->CreateKey(kHkeyLocalMachine, path, key), kRegSuccess) << path;
    return key;
  }
  // "<type>:<bytes>" of the value, or "error <code>".
  std::string Read(RegistryKey key, const std::string& name) {
    uint32_t type = 0, size = 16;
    char data[16];
    const int32_t result = store_->QueryValue(key, name, type, data, size);
    return result ? "error " + std::to_string(result)
                  : std::to_string(type) + ":" + std::string(data, size);
  }
  Names Subkeys(RegistryKey key) {
    Names names;
    for (std::string name; store_->EnumKey(key, names.size(), name) == kRegSuccess;)
      names.push_back(name);
    return names;
  }

  testing::TempFolder dir_;
  std::string error_;
  std::unique_ptr<RegistryStore> store_ =
      IsSqlite::value ? NewSqliteRegistryStore(dir_.Path() + "/registry.db", error_)
                      : NewMemoryRegistryStore();
};

using StoreKinds = ::testing::Types<std::false_type, std::true_type>;  // SQLite?
TYPED_TEST_SUITE(RegistryStoreTest, StoreKinds);

TYPED_TEST(RegistryStoreTest, CaseInsensitiveKeysAndValuesInTheirOrder) {
  ASSERT_NE(this->store_, nullptr) << this->error_;
  RegistryStore& store = *this->store_;
  const RegistryKey cam = this->Create("Software\\Ravelon\\Src\\Cam1");
  ASSERT_FALSE(store.SetValue(cam, "Blob", kRegBinary, "\0\xff\x01\0"s) ||
               store.SetValue(cam, "Port", kRegDword, "\x50\0\0\0"s) ||
               store.SetValue(cam, "", kRegSz, "x\0"s) ||
               store.SetValue(cam, "Empty", kRegBinary, ""));

  // The same key however the path is spelled, from a root or an open parent.
  RegistryKey key = 0;
  ASSERT_EQ(store.OpenKey(kHkeyLocalMachine, "\\SOFTWARE\\\\ravelon\\src\\CAM1\\", key), 0);
  EXPECT_EQ(this->Read(key, "BLOB"), "3:\0\xff\x01\0"s);
  EXPECT_EQ(this->Read(this->Create("software\\RAVELON\\SRC\\cam1"), "port"), "4:P\0\0\0"s);
  EXPECT_EQ(this->Read(cam, "Empty"), "3:");
  EXPECT_EQ(this->Read(cam, "Missing"), "error 2");
  ASSERT_EQ(store.OpenKey(this->Create("software"), "ravelon\\SRC", key), kRegSuccess);
  EXPECT_EQ(this->Subkeys(key), Names{"Cam1"});
  EXPECT_EQ(store.OpenKey(kHkeyLocalMachine, "Software\\Cam1", key), kRegFileNotFound);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "Software", key), kRegFileNotFound);
  this->Create(std::string(255, 'n'));  // the longest name
  EXPECT_EQ(store.OpenKey(kHkeyLocalMachine, std::string(256, 'n'), key), kRegInvalidParameter);

  // A buffer one byte short: the size is told, nothing is copied.
  char buffer[4] = {'a', 'b', 'c', 'd'};
  uint32_t type = kRegNone, size = 3;
  EXPECT_EQ(store.QueryValue(cam, "Blob", type, buffer, size), kRegMoreData);
  EXPECT_EQ(std::string(buffer, 4) + std::to_string(size), "abcd4");

  // Replacing keeps the first spelling and the place in the enumeration.
  ASSERT_EQ(store.SetValue(cam, "BLOB", kRegSz, "t\0"s), kRegSuccess);
  Names names;
  std::string name;
  while (store.EnumValue(cam, names.size(), name, type, nullptr, size) == kRegSuccess)
    names.push_back(name + ":" + std::to_string(type) + ":" + std::to_string(size));
  EXPECT_EQ(store.EnumValue(cam, 4, name, type, nullptr, size), kRegNoMoreItems);
  EXPECT_EQ(names, (Names{"Blob:1:2", "Port:4:4", ":1:2", "Empty:3:0"}));
  size = 1;
  EXPECT_EQ(store.EnumValue(cam, 1, name, type, buffer, size), kRegMoreData);

  // Subkeys come in the order of their folded names.
  for (const char* sub : {"b", "C", "a"}) store.CreateKey(cam, sub, key);
  EXPECT_EQ(this->Subkeys(cam), (Names{"a", "b", "C"}));
}

// Keys and values removed while handles on them stay open: those handles find
// nothing, even once a new key has taken the removed one's place. A closed
// handle is gone: flushing or closing it again fails; the roots never close.
TYPED_TEST(RegistryStoreTest, RemovedKeysAndValuesAreGoneBehindOpenHandles) {
  RegistryStore& s = *this->store_;
  const RegistryKey src = this->Create("R\\Src"), cam = this->Create("R\\Src\\Cam"),
                    sub = this->Create("R\\Src\\Cam\\Sub");
  ASSERT_FALSE(s.SetValue(cam, "Url", kRegSz, "/v\0"s) || s.SetValue(cam, "Port", kRegSz, "80\0"s));
  EXPECT_EQ(s.DeleteValue(cam, "URL"), kRegSuccess);
  EXPECT_EQ(s.DeleteValue(cam, "Url"), kRegFileNotFound);
  EXPECT_EQ(this->Read(cam, "Url"), "error 2");
  EXPECT_EQ(this->Read(cam, "port"), "1:80\0"s);
  EXPECT_EQ(s.DeleteKey(src, ""), kRegInvalidParameter);
  EXPECT_EQ(s.DeleteKey(src, "Nope"), kRegFileNotFound);
  EXPECT_EQ(s.DeleteKey(kHkeyLocalMachine, "r\\src\\CAM"), kRegSuccess);
  EXPECT_EQ(this->Subkeys(src), Names{});
  const RegistryKey other = this->Create("R\\Other");  // may take a removed key's place
  ASSERT_EQ(s.SetValue(other, "Port", kRegSz, "81\0"s), kRegSuccess);
  EXPECT_EQ(this->Read(cam, "Port"), "error 2");
  EXPECT_EQ(s.SetValue(sub, "X", kRegSz, "1"s), kRegFileNotFound);
  RegistryKey reopened = 0;
  EXPECT_EQ(s.OpenKey(src, "Cam\\Sub", reopened), kRegFileNotFound);
  EXPECT_EQ(s.DeleteKey(src, "Cam"), kRegFileNotFound);
  EXPECT_EQ(s.FlushKey(other), kRegSuccess);
  EXPECT_EQ(s.CloseKey(other), kRegSuccess);
  EXPECT_EQ(s.FlushKey(other), kRegInvalidHandle);
  EXPECT_EQ(s.CloseKey(other), kRegInvalidHandle);
  EXPECT_EQ(s.CloseKey(kHkeyLocalMachine), kRegSuccess);
  EXPECT_EQ(s.FlushKey(kHkeyLocalMachine), kRegSuccess);
  EXPECT_EQ(s.FlushKey(kHkeyCurrentUser), kRegSuccess);
}

// Several values written and read at once: written as SetValue would write
// each (a replaced value keeps its place and first spelling), read back in
// the enumeration order; a removed or unknown key gives its code.
TYPED_TEST(RegistryStoreTest, ValuesWrittenAndReadAtOnce) {
  RegistryStore& s = *this->store_;
  const RegistryKey cam = this->Create("R\\Cam");
  ASSERT_EQ(s.SetValue(cam, "File", kRegSz, "old\0"s), kRegSuccess);
  ASSERT_EQ(s.SetValues(cam, {{"Url", kRegSz, "/v\0"s},
                              {"FILE", kRegSz, "new\0"s},
                              {"Port", kRegDword, "\x50\0\0\0"s},
                              {"Empty", kRegBinary, ""}}),
            kRegSuccess);
  std::vector<RegistryValue> values = {{"stale", kRegSz, "x"}};
  ASSERT_EQ(s.ReadValues(cam, values), kRegSuccess);
  Names read;
  for (const RegistryValue& v : values)
    read.push_back(v.name + ":" + std::to_string(v.type) + ":" + v.data);
  EXPECT_EQ(read, (Names{"File:1:new\0"s, "Url:1:/v\0"s, "Port:4:P\0\0\0"s, "Empty:3:"}));
  EXPECT_EQ(s.SetValues(cam, {}), kRegSuccess);

  const RegistryKey sub = this->Create("R\\Cam\\Sub");
  ASSERT_EQ(s.DeleteKey(kHkeyLocalMachine, "R\\Cam"), kRegSuccess);
  EXPECT_EQ(s.ReadValues(sub, values), kRegFileNotFound);
  EXPECT_EQ(s.SetValues(sub, {{"X", kRegSz, "1"}}), kRegFileNotFound);
  EXPECT_EQ(s.ReadValues(12345, values), kRegInvalidHandle);
  EXPECT_EQ(s.SetValues(12345, {{"X", kRegSz, "1"}}), kRegInvalidHandle);
}

// Processes that open a new file at the same moment race for its creation,
// its switch to WAL and its layout, then for the write lock: each must get a
// working store and lose nothing. The file and its side files, which hold
// passwords, are the owner's only, whatever the umask.
TEST(SqliteRegistryStoreTest, ProcessesOpeningANewFileTogetherShareIt) {
  constexpr int kWriters = 4;
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    const testing::TempFolder dir;
    const std::string file = dir.Path() + "/registry.db";
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    const mode_t saved = ::umask(0);  // the writers'
    pid_t children[kWriters];
    for (int writer = 0; writer < kWriters; ++writer) {
      if ((children[writer] = ::fork()) != 0) continue;
      char byte;
      ::close(start[1]);
      ::read(start[0], &byte, 1);  // returns once the test closes its end
      std::string error;
      std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(file, error);
      RegistryKey key = 0;
      const bool wrote = store && store->CreateKey(kHkeyLocalMachine, "Race", key) == 0 &&
                         store->SetValue(key, std::to_string(writer), kRegDword, "xxxx") == 0;
      ::_exit(wrote ? 0 : 1);
    }
    ::umask(saved);
    ::close(start[0]);
    ::close(start[1]);
    for (int status = -1; const pid_t child : children)  // 0: exited with 0
      EXPECT_TRUE(::waitpid(child, &status, 0) == child && status == 0) << "round " << round;
    std::string error, name;
    std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(file, error);
    RegistryKey key = 0;
    uint32_t type = 0, size = 0;
    ASSERT_TRUE(store && store->OpenKey(kHkeyLocalMachine, "race", key) == 0) << error;
    EXPECT_EQ(store->EnumValue(key, kWriters - 1, name, type, nullptr, size), kRegSuccess);
    EXPECT_EQ(store->EnumValue(key, kWriters, name, type, nullptr, size), kRegNoMoreItems);
    for (const char* suffix : {"", "-wal", "-shm"}) {
      struct stat info {};
      EXPECT_TRUE(::stat((file + suffix).c_str(), &info) == 0 && (info.st_mode & 0777) == 0600)
          << suffix;
    }
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
