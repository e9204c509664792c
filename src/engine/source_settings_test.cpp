// Reading a source's settings from its key: every value read, and every value's fallback; and
// RegUtils on the memory store: what it writes, reads back and lists, closing each key it opens.
#include "engine/source_settings.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "engine/reg_utils.h"

namespace ravelon {
namespace {

std::string Summary(const SourceSettings& s) {
  std::ostringstream out;
  out << "port=" << s.connection.port << " streaming=" << s.connection.streaming
      << " user=" << s.connection.userName << " save=" << s.store.saveInterval
      << " view=" << s.viewInterval << " limit=" << s.store.fileSizeLimit
      << " prealloc=" << s.store.preAllocationSize << " type=" << int{s.store.fileLimitType}
      << " dosave=" << s.store.doSave << " id=" << s.srcID << " time=" << s.fileTime
      << " sunday=" << int{ScheduleActionAt(s.schedule, 7, 30'000)}
      << " style=" << int{static_cast<uint8_t>(s.connection.requestStyle)}
      << " discover=" << s.connection.boundaryDiscovery << " sync=" << s.store.syncWrites
      << " queue=" << s.saveQueueMegabytes;
  return out.str();
}

// Each value is read on its own: a missing one takes its default, a broken or out-of-range one its
// fallback (600 for the file limit, the default for the rest). Rows: nothing stored, every value
// valid (at a bound where it has one; some names in another letter case), every value broken or
// one beyond its bound.
TEST(SourceSettingsTest, EachValueIsReadOrFallsBackOnItsOwn) {
  std::string week;  // every day normal from 0:00 and disconnected from 8:00
  for (int day = 0; day < 7; ++day)
    week += LongToBytes(2) + DoubleToBytes(0) + '\1' + DoubleToBytes(28800) + '\3';
  // Values stored ("name=text;..."), and what is read.
  const std::pair<std::string, std::string> cases[] = {
      {"",
       "port=80 streaming=1 user= save=500 view=500 limit=10 prealloc=1 type=0 dosave=0 id=0 "
       "time=0 sunday=1 style=0 discover=0 sync=1 queue=64"},
      {"PORT=8080;saveinterval=10;ViewInterval= 60000 ;FileLimitValue=1999;PreAllocationBlock=0;"
       "FileLimitType=1;SrcID=30000;DoSave=no;UserName=admin;RequestStyle=2;BoundaryDiscovery=1;"
       "SyncWrites=0;SaveQueueMB=1024;"
       "FileTime=" +
           StringToHex(DoubleToBytes(45000.5)) + ";Schedule=" + StringToHex(week),
       "port=8080 streaming=1 user=admin save=10 view=60000 limit=1999 prealloc=0 type=1 dosave=1 "
       "id=30000 time=45000.5 sunday=3 style=2 discover=1 sync=0 queue=1024"},
      {"Port=70000;SaveInterval=5;ViewInterval=60001;FileLimitValue=2000;PreAllocationBlock=1000;"
       "FileLimitType=2;SrcID=abc;Streaming=yes;DoSave=;RequestStyle=3;BoundaryDiscovery=yes;"
       "SyncWrites=no;SaveQueueMB=0;"
       "FileTime=000000000010F9E54;Schedule=" +
           StringToHex(week.substr(0, week.size() - 1)),  // Sunday a byte short
       "port=80 streaming=0 user= save=500 view=500 limit=600 prealloc=1 type=0 dosave=1 id=0 "
       "time=0 sunday=1 style=0 discover=0 sync=1 queue=64"}};
  const std::string key = SourceKey("Software\\Ravelon\\", "till 3");
  for (const auto& [values, expected] : cases) {
    std::unique_ptr<RegistryStore> store = NewMemoryRegistryStore();
    RegUtils registry(*store);
    std::istringstream in(values);
    for (std::string value; std::getline(in, value, ';');) {
      const size_t equals = value.find('=');
      ASSERT_EQ(registry.Registry_Set(key, value.substr(0, equals), value.substr(equals + 1)), 0);
    }
    EXPECT_EQ(Summary(ReadSourceSettings(registry, key)), expected) << values;
  }
}

TEST(RegUtilsTest, ReadsWritesAndListsKeysClosingEveryKeyItOpens) {
  const std::unique_ptr<RegistryStore> store = NewMemoryRegistryStore();
  RegUtils reg(*store);
  // Src: a value with no bytes, one of another type, a text, and two subkeys written out of order.
  RegistryKey key = 0;
  ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, "Src", key), kRegSuccess);
  ASSERT_EQ(store->SetValue(key, "Nothing", kRegSz, ""), kRegSuccess);
  ASSERT_EQ(store->SetValue(key, "Binary", kRegBinary, {"ab\0cd", 5}), kRegSuccess);
  store->CloseKey(key);
  ASSERT_EQ(reg.Registry_Set("Src", "Url", "/video.cgi"), 0);
  for (const char* k : {"SRC\\beta", "Src\\Alpha"}) ASSERT_EQ(reg.Registry_Set(k, "Url", ""), 0);

  // Reads: the bytes up to the first zero, else the default; names end at a zero and ignore case.
  const std::tuple<std::string, std::string, std::string> reads[] = {
      {"src\\BETA", "URL", ""},   {{"Src\0junk", 8}, {"Url\0x", 5}, "/video.cgi"},
      {"Src", "Binary", "ab"},    {"Src", "Nothing", "dflt"},
      {"Src", "Missing", "dflt"}, {"None", "Url", "dflt"}};
  for (const auto& [section, name, value] : reads)
    EXPECT_EQ(reg.Registry_Get(section, name, "dflt"), value) << section << "/" << name;

  // Every value at once, as Registry_Get reads each; the one with no bytes is left out.
  EXPECT_EQ(reg.Registry_GetAll("SRC"),
            (RegUtils::TextValues{{"Binary", "ab"}, {"Url", "/video.cgi"}}));
  EXPECT_EQ(reg.Registry_GetAll("None"), RegUtils::TextValues{});
  ASSERT_EQ(reg.Registry_SetAll("New\\Src", {{"File", "a"}, {"Url", "/b"}}), 0);
  EXPECT_EQ(reg.Registry_Get("new\\src", "FILE", "") + reg.Registry_Get("New\\Src", "Url", ""),
            "a/b");

  EXPECT_EQ(std::pair(reg.keyExists("SRC\\Alpha"), reg.keyExists("Src\\Gamma")),
            std::pair(true, false));

  // Subkeys are listed after a leading "".
  std::vector<std::string> keys = {"old"};
  reg.RegEnumerateKey("src", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "Alpha", "beta"}));

  // Handles are numbered upwards, so one left open is below the next one made.
  ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, "Probe", key), kRegSuccess);
  for (RegistryKey k = 1; k < key; ++k) EXPECT_EQ(store->CloseKey(k), kRegInvalidHandle) << k;
}

}  // namespace
}  // namespace ravelon
