// RegUtils on the memory store; after each test no handle may still be open
// (every member must close what it opened).
#include "engine/reg_utils.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ravelon {
namespace {

class RegUtilsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RegistryKey probe = 0;  // handles are small numbers, so the scan below sees them all
    EXPECT_EQ(store_->CreateKey(kHkeyLocalMachine, "Probe", probe), kRegSuccess);
    EXPECT_EQ(store_->CloseKey(probe), kRegSuccess);
    EXPECT_LT(probe, 10000u);
    for (RegistryKey key = 1; key < 10000; ++key)
      ASSERT_EQ(store_->CloseKey(key), kRegInvalidHandle) << "left open: " << key;
  }
  void SetRaw(const std::string& name, uint32_t type, const std::string& data) {
    RegistryKey key = 0;
    ASSERT_EQ(store_->CreateKey(kHkeyLocalMachine, "Src", key), kRegSuccess);
    ASSERT_EQ(store_->SetValue(key, name, type, data), kRegSuccess);
    store_->CloseKey(key);
  }

  std::unique_ptr<RegistryStore> store_ = NewMemoryRegistryStore();
  RegUtils reg_{*store_};
};

TEST_F(RegUtilsTest, ReadsGiveTheDefaultOnlyWhenNothingIsStored) {
  std::string result;
  int32_t type = -1;
  EXPECT_EQ(reg_.GetRegString(kHkeyLocalMachine, "Src", "Url", "dflt", result, type), "2");
  EXPECT_EQ(result, "dflt");
  ASSERT_EQ(reg_.Registry_Set("Src", "Url", ""), 0);
  EXPECT_EQ(reg_.GetRegString(kHkeyLocalMachine, "Src", "URL", "/x", result, type), "0");
  EXPECT_EQ(result, "");
  EXPECT_EQ(type, static_cast<int32_t>(kRegSz));
  ASSERT_EQ(reg_.Registry_Set("SRC", "PORT", "8080"), 0);
  EXPECT_EQ(reg_.Registry_Get("src", "port", "80"), "8080");
  EXPECT_EQ(reg_.Registry_Get("Src", "Missing", "80"), "80");
  // Names end at a zero byte, as in the registry functions.
  EXPECT_EQ(reg_.Registry_Get(std::string("Src\0junk", 8), std::string("Port\0x", 6), ""), "8080");

  // Other types: their bytes up to the first zero; no bytes at all: the default.
  SetRaw("Dword", kRegDword, std::string("\x50\0\0\0", 4));
  SetRaw("Binary", kRegBinary, std::string("ab\0cd", 5));
  SetRaw("Nothing", kRegBinary, "");
  EXPECT_EQ(reg_.Registry_Get("Src", "Dword", ""), "P");
  EXPECT_EQ(reg_.Registry_Get("Src", "Binary", ""), "ab");
  EXPECT_EQ(reg_.Registry_Get("Src", "Nothing", "d"), "d");
}

TEST_F(RegUtilsTest, WritesMakeParentsAndTerminateText) {
  EXPECT_EQ(reg_.PutRegString(kHkeyCurrentUser, "A\\B\\C\\", "File", "set1"), 0);
  EXPECT_FALSE(reg_.keyExists("A"));  // the other root
  RegistryKey key = 0;
  ASSERT_EQ(store_->OpenKey(kHkeyCurrentUser, "a\\b\\c", key), kRegSuccess);
  char data[8] = {};
  uint32_t type = 0;
  uint32_t size = sizeof(data);
  ASSERT_EQ(store_->QueryValue(key, "file", type, data, size), kRegSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(data, size), std::string("set1\0", 5));
  store_->CloseKey(key);
  ASSERT_EQ(reg_.Registry_Set("Src\\Cam", "v", "1"), 0);
  EXPECT_TRUE(reg_.keyExists("SRC\\cam"));
}

TEST_F(RegUtilsTest, EnumerationsListKeysAndTextValuesOnly) {
  std::vector<std::string> keys = {"old"};
  reg_.RegEnumerateKey("Src", keys);
  EXPECT_EQ(keys, std::vector<std::string>{""});
  auto values = std::make_shared<StringPairList>();
  EXPECT_FALSE(reg_.RegEnumerateStringValues("Src", values));
  // A long value first, so that a shorter one later reads from a larger buffer.
  const std::string long_text(1000, 'z');
  ASSERT_EQ(reg_.Registry_Set("Src", "Long", long_text), 0);
  SetRaw("Port", kRegDword, std::string("\x50\0\0\0", 4));
  ASSERT_EQ(reg_.Registry_Set("Src", "Url", "/video.cgi"), 0);
  for (const char* sub : {"beta", "Alpha"}) reg_.Registry_Set(std::string("Src\\") + sub, "v", "");
  EXPECT_TRUE(reg_.RegEnumerateStringValues("SRC", values));
  std::vector<std::string> pairs;
  for (int32_t i = 0; i < values->Count(); ++i)
    pairs.push_back(values->Item(i).name + "=" + values->Item(i).value);
  EXPECT_EQ(pairs, (std::vector<std::string>{"Long=" + long_text, "Url=/video.cgi"}));
  reg_.RegEnumerateKey("src", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "Alpha", "beta"}));
}

}  // namespace
}  // namespace ravelon
