// RegUtils on the memory store: what it writes, what it reads back and lists, and that every
// member closes each key it opens.
#include "engine/reg_utils.h"

#include <gtest/gtest.h>

#include <tuple>

namespace ravelon {
namespace {

TEST(RegUtilsTest, ReadsWritesAndListsClosingEveryKey) {
  const std::unique_ptr<RegistryStore> store = NewMemoryRegistryStore();
  RegUtils reg(*store);
  // Src: a long text first (later values then read into a larger buffer), a value with no bytes,
  // one of another type, a short text, and two subkeys written out of order.
  ASSERT_EQ(reg.Registry_Set("Src", "Long", std::string(1000, 'z')), 0);
  RegistryKey key = 0;
  ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, "Src", key), kRegSuccess);
  ASSERT_EQ(store->SetValue(key, "Nothing", kRegSz, ""), kRegSuccess);
  ASSERT_EQ(store->SetValue(key, "Binary", kRegBinary, {"ab\0cd", 5}), kRegSuccess);
  store->CloseKey(key);
  ASSERT_EQ(reg.Registry_Set("Src", "Url", "/video.cgi"), 0);
  for (const char* k : {"SRC\\beta", "Src\\Alpha"}) ASSERT_EQ(reg.Registry_Set(k, "Url", ""), 0);
  ASSERT_EQ(reg.PutRegString(kHkeyCurrentUser, "A\\B\\C\\", "File", "set1"), 0);

  // Reads: the store's code, the bytes up to the first zero (else the default), and the type.
  const std::tuple<RegistryKey, std::string, std::string, std::string, std::string, int32_t>
      reads[] = {
          {kHkeyLocalMachine, "src\\BETA", "URL", "0", "", kRegSz},  // names ignore case
          {kHkeyLocalMachine, {"Src\0junk", 8}, {"Url\0x", 5}, "0", "/video.cgi", kRegSz},
          {kHkeyLocalMachine, "Src", "Binary", "0", "ab", kRegBinary},
          {kHkeyLocalMachine, "Src", "Nothing", "0", "dflt", kRegSz},
          {kHkeyLocalMachine, "Src", "Missing", "2", "dflt", -1},
          {kHkeyLocalMachine, "A", "File", "2", "dflt", -1},  // written under the other root
          {kHkeyCurrentUser, "a\\b\\c", "file", "0", "set1", kRegSz},
      };
  for (const auto& [root, section, name, code, value, type] : reads) {
    std::string got;
    int32_t got_type = -1;
    const std::string got_code = reg.GetRegString(root, section, name, "dflt", got, got_type);
    EXPECT_EQ(std::tie(got_code, got, got_type), std::tie(code, value, type)) << name;
  }
  EXPECT_EQ(reg.Registry_Get("src", "url", "d"), "/video.cgi");

  // Lists: keys with a leading "", text values only, each without its terminating zero.
  EXPECT_TRUE(reg.keyExists("SRC\\alpha") && !reg.keyExists("A"));
  std::vector<std::string> keys = {"old"};
  reg.RegEnumerateKey("src", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "Alpha", "beta"}));
  auto values = std::make_shared<StringPairList>();
  EXPECT_FALSE(reg.RegEnumerateStringValues("None", values));
  EXPECT_TRUE(reg.RegEnumerateStringValues("SRC", values));
  std::string listed;
  for (int32_t i = 0; i < values->Count(); ++i)
    listed += values->Item(i).name + "=" + values->Item(i).value + ";";
  EXPECT_EQ(listed, "Long=" + std::string(1000, 'z') + ";Nothing=;Url=/video.cgi;");

  // Handles are numbered upwards, so one left open is below the next one made.
  ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, "Probe", key), kRegSuccess);
  for (RegistryKey k = 1; k < key; ++k) EXPECT_EQ(store->CloseKey(k), kRegInvalidHandle) << k;
}

}  // namespace
}  // namespace ravelon
