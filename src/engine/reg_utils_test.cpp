// RegUtils on the SQLite store in a temporary file, seen through a wrapper
// that counts open keys (every member must close what it opened), records
// flushes and can fail writes.
#include "engine/reg_utils.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ravelon {
namespace {

class CountingStore final : public RegistryStore {
 public:
  explicit CountingStore(RegistryStore& inner) : inner_(inner) {}

  int32_t OpenKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) override {
    return Opened(inner_.OpenKey(root, sub_key, key));
  }
  int32_t CreateKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) override {
    return Opened(inner_.CreateKey(root, sub_key, key));
  }
  int32_t QueryValue(RegistryKey key, const std::string& name, uint32_t& type, char* data,
                     uint32_t& size) override {
    return inner_.QueryValue(key, name, type, data, size);
  }
  int32_t SetValue(RegistryKey key, const std::string& name, uint32_t type,
                   const std::string& data) override {
    return set_result != kRegSuccess ? set_result : inner_.SetValue(key, name, type, data);
  }
  int32_t FlushKey(RegistryKey key) override {
    flushed.push_back(key);
    return inner_.FlushKey(key);
  }
  int32_t EnumValue(RegistryKey key, uint32_t index, std::string& name, uint32_t& type, char* data,
                    uint32_t& size) override {
    return inner_.EnumValue(key, index, name, type, data, size);
  }
  int32_t EnumKey(RegistryKey key, uint32_t index, std::string& name) override {
    return inner_.EnumKey(key, index, name);
  }
  int32_t CloseKey(RegistryKey key) override {
    const int32_t result = inner_.CloseKey(key);
    open_keys -= result == kRegSuccess;
    return result;
  }

  int open_keys = 0;
  std::vector<RegistryKey> flushed;
  int32_t set_result = kRegSuccess;

 private:
  int32_t Opened(int32_t result) {
    open_keys += result == kRegSuccess;
    return result;
  }
  RegistryStore& inner_;
};

std::string MakeTempDir() {
  char pattern[] = "/tmp/ravelon-regutils-XXXXXX";
  return ::mkdtemp(pattern) != nullptr ? pattern : "";
}

std::unique_ptr<RegistryStore> OpenStore(const std::string& dir) {
  std::string error;
  std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(dir + "/registry.db", error);
  if (store != nullptr) return store;
  ADD_FAILURE() << error;
  return NewMemoryRegistryStore();
}

class RegUtilsTest : public ::testing::Test {
 protected:
  ~RegUtilsTest() override {
    EXPECT_EQ(store_.open_keys, 0);
    std::filesystem::remove_all(dir_);
  }

  void SetRaw(const std::string& path, const std::string& name, uint32_t type,
              const std::string& data) {
    RegistryKey key = 0;
    ASSERT_EQ(file_->CreateKey(kHkeyLocalMachine, path, key), kRegSuccess);
    ASSERT_EQ(file_->SetValue(key, name, type, data), kRegSuccess);
    file_->CloseKey(key);
  }

  std::string dir_ = MakeTempDir();
  std::unique_ptr<RegistryStore> file_ = OpenStore(dir_);
  CountingStore store_{*file_};
  RegUtils reg_{store_};
};

TEST_F(RegUtilsTest, ReadsGiveTheDefaultOnlyWhenNothingIsStored) {
  const std::string key = "Cameras\\Src\\Door\\";
  std::string result;
  int32_t type = -1;
  EXPECT_EQ(reg_.GetRegString(kHkeyLocalMachine, key, "Url", "dflt", result, type), "2");
  EXPECT_EQ(result, "dflt");
  ASSERT_EQ(reg_.Registry_Set(key, "Url", ""), 0);
  EXPECT_EQ(reg_.GetRegString(kHkeyLocalMachine, key, "Port", "80", result, type), "2");
  EXPECT_EQ(result, "80");
  EXPECT_EQ(type, -1);
  EXPECT_EQ(reg_.GetRegString(kHkeyLocalMachine, key, "URL", "/x", result, type), "0");
  EXPECT_EQ(result, "");
  EXPECT_EQ(type, static_cast<int32_t>(kRegSz));
  ASSERT_EQ(reg_.Registry_Set("CAMERAS\\src\\door", "PORT", "8080"), 0);
  EXPECT_EQ(reg_.Registry_Get("cameras\\SRC\\Door\\", "port", "80"), "8080");
  EXPECT_EQ(reg_.Registry_Get(key, "Port", "80"), "8080");

  // Other types: their bytes up to the first zero; no bytes at all: the default.
  SetRaw(key, "Dword", kRegDword, std::string("\x50\0\0\0", 4));
  SetRaw(key, "Binary", kRegBinary, std::string("ab\0cd", 5));
  SetRaw(key, "Nothing", kRegBinary, "");
  EXPECT_EQ(reg_.Registry_Get(key, "Dword", ""), "P");
  EXPECT_EQ(reg_.Registry_Get(key, "Binary", ""), "ab");
  EXPECT_EQ(reg_.Registry_Get(key, "Nothing", "d"), "d");
  // Names end at a zero byte, as in the registry functions.
  EXPECT_EQ(reg_.Registry_Get(key + std::string("\0junk", 5), std::string("Port\0x", 6), ""),
            "8080");
}

TEST_F(RegUtilsTest, WritesMakeParentsTerminateTextAndFlushTheRoot) {
  EXPECT_FALSE(reg_.keyExists("A"));
  EXPECT_EQ(reg_.PutRegString(kHkeyCurrentUser, "A\\B\\C\\", "File", "set1"), 0);
  EXPECT_EQ(store_.flushed, std::vector<RegistryKey>{kHkeyCurrentUser});
  EXPECT_FALSE(reg_.keyExists("A"));  // the other root
  RegistryKey key = 0;
  ASSERT_EQ(file_->OpenKey(kHkeyCurrentUser, "a\\b", key), kRegSuccess);
  ASSERT_EQ(file_->OpenKey(key, "c", key), kRegSuccess);
  char data[8] = {};
  uint32_t type = 0;
  uint32_t size = sizeof(data);
  ASSERT_EQ(file_->QueryValue(key, "file", type, data, size), kRegSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(data, size), std::string("set1\0", 5));

  ASSERT_EQ(reg_.Registry_Set("Src\\Cam", "v", "1"), 0);
  EXPECT_TRUE(reg_.keyExists("SRC\\cam"));
  // A failed write is returned and nothing is flushed (the key is still closed).
  store_.set_result = kRegAccessDenied;
  store_.flushed.clear();
  EXPECT_EQ(reg_.Registry_Set("Src\\Cam", "v", "2"), kRegAccessDenied);
  EXPECT_TRUE(store_.flushed.empty());
}

TEST_F(RegUtilsTest, RegEnumerateKeyPutsNamesAfterAnEmptyFirstElement) {
  std::vector<std::string> keys = {"old", "stuff"};
  reg_.RegEnumerateKey("Root", keys);
  EXPECT_EQ(keys, std::vector<std::string>{""});
  for (const char* sub : {"Leaf", "beta", "Alpha"})
    reg_.Registry_Set(std::string("Root\\") + sub, "v", "");
  reg_.RegEnumerateKey("Root\\Leaf", keys);
  EXPECT_EQ(keys, std::vector<std::string>{""});
  reg_.RegEnumerateKey("root", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "Alpha", "beta", "Leaf"}));
}

TEST_F(RegUtilsTest, RegEnumerateStringValuesListsTextValuesOnly) {
  auto values = std::make_shared<StringPairList>();
  values->Add({"stale", "pair"});
  EXPECT_FALSE(reg_.RegEnumerateStringValues("Src", values));
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(values->Count(), 0);

  // A long value first, so that a shorter one later reads from a larger buffer.
  const std::string long_text(1000, 'z');
  ASSERT_EQ(reg_.Registry_Set("Src", "Long", long_text), 0);
  SetRaw("Src", "Port", kRegDword, std::string("\x50\0\0\0", 4));
  ASSERT_EQ(reg_.Registry_Set("Src", "Url", "/video.cgi"), 0);
  ASSERT_EQ(reg_.Registry_Set("Src", "Empty", ""), 0);
  EXPECT_TRUE(reg_.RegEnumerateStringValues("SRC", values));
  std::vector<std::string> pairs;
  for (int32_t i = 0; i < values->Count(); ++i) {
    pairs.push_back(values->Item(i).name + "=" + values->Item(i).value);
  }
  EXPECT_EQ(pairs, (std::vector<std::string>{"Long=" + long_text, "Url=/video.cgi", "Empty="}));
}

}  // namespace
}  // namespace ravelon
