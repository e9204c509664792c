// Reading a source's settings from its key: every value's fallback.
#include "engine/source_settings.h"

#include <gtest/gtest.h>

#include <functional>

#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "engine/reg_utils.h"

namespace ravelon {
namespace {

const std::string kKey = SourceKey("Software\\Ravelon\\", "till 3");

bool IsNormalAllWeek(const WeeklySchedule& schedule) {
  for (int16_t day = 1; day <= 7; ++day) {
    if (DayHasDisconnect(schedule, day) || ScheduleActionAt(schedule, day, 43'200) != 1) {
      return false;
    }
  }
  return true;
}

TEST(SourceSettingsTest, EachValueFallsBackOnItsOwn) {
  using Check = std::function<bool(const SourceSettings&)>;
  std::string week;
  for (int day = 0; day < 7; ++day) {
    week += LongToBytes(2) + DoubleToBytes(0) + '\1' + DoubleToBytes(28800) + '\3';
  }
  struct Case {
    const char* name;
    std::string stored;  // "" with `missing`: the value is absent
    bool missing;
    Check check;
  };
  const Case cases[] = {
      {"Port", "", true, [](auto& s) { return s.connection.port == 80; }},
      {"Port", "70000", false, [](auto& s) { return s.connection.port == 80; }},
      {"Port", "8080", false, [](auto& s) { return s.connection.port == 8080; }},
      {"SaveInterval", "", true, [](auto& s) { return s.store.saveInterval == 500; }},
      {"SaveInterval", "5", false, [](auto& s) { return s.store.saveInterval == 500; }},
      {"SaveInterval", "10", false, [](auto& s) { return s.store.saveInterval == 10; }},
      {"ViewInterval", " 60000 ", false, [](auto& s) { return s.viewInterval == 60000; }},
      {"ViewInterval", "60001", false, [](auto& s) { return s.viewInterval == 500; }},
      {"FileLimitValue", "", true, [](auto& s) { return s.store.fileSizeLimit == 10; }},
      {"FileLimitValue", "2000", false, [](auto& s) { return s.store.fileSizeLimit == 600; }},
      {"FileLimitValue", "ten", false, [](auto& s) { return s.store.fileSizeLimit == 600; }},
      {"FileLimitValue", "1999", false, [](auto& s) { return s.store.fileSizeLimit == 1999; }},
      {"PreAllocationBlock", "", true, [](auto& s) { return s.store.preAllocationSize == 1; }},
      {"PreAllocationBlock", "0", false, [](auto& s) { return s.store.preAllocationSize == 0; }},
      {"FileLimitType", "2", false, [](auto& s) { return s.store.fileLimitType == 0; }},
      {"FileLimitType", "1", false, [](auto& s) { return s.store.fileLimitType == 1; }},
      {"SrcID", "abc", false, [](auto& s) { return s.srcID == 0; }},
      {"SrcID", "30000", false, [](auto& s) { return s.srcID == 30000; }},
      {"Streaming", "", true, [](auto& s) { return s.connection.streaming; }},
      {"Streaming", "yes", false, [](auto& s) { return !s.connection.streaming; }},
      {"DoSave", "", true, [](auto& s) { return !s.store.doSave; }},
      {"DoSave", "no", false, [](auto& s) { return s.store.doSave; }},
      {"DoSave", "", false, [](auto& s) { return s.store.doSave; }},
      {"UserName", "admin", false, [](auto& s) { return s.connection.userName == "admin"; }},
      {"FileTime", StringToHex(DoubleToBytes(45000.5)), false,
       [](auto& s) { return s.fileTime == 45000.5; }},
      {"FileTime", "000000000010F9E54", false, [](auto& s) { return s.fileTime == 0; }},
      {"FileTime", "00000010F9E540", false, [](auto& s) { return s.fileTime == 0; }},
      {"Schedule", "", true, [](auto& s) { return IsNormalAllWeek(s.schedule); }},
      {"Schedule", StringToHex(week), false,
       [](auto& s) { return ScheduleActionAt(s.schedule, 7, 30'000) == kScheduleDisconnected; }},
      {"Schedule", StringToHex(week.substr(0, week.size() - 1)), false,  // Sunday a byte short
       [](auto& s) { return IsNormalAllWeek(s.schedule); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=\"" + c.stored + "\"");
    std::unique_ptr<RegistryStore> store = NewMemoryRegistryStore();
    RegUtils registry(*store);
    if (!c.missing) {
      ASSERT_EQ(registry.Registry_Set(kKey, c.name, c.stored), 0);
    }
    EXPECT_TRUE(c.check(ReadSourceSettings(registry, kKey)));
  }
}

TEST(SourceSettingsTest, ANumberOfAnotherTypeReadsAsItsBytes) {
  // A DWORD 8080 reads as the two bytes 0x90 0x1F: not a number, so 80.
  std::unique_ptr<RegistryStore> store = NewMemoryRegistryStore();
  RegistryKey key = 0;
  ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, kKey, key), 0);
  ASSERT_EQ(store->SetValue(key, "Port", kRegDword, LongToBytes(8080)), 0);
  store->CloseKey(key);
  RegUtils registry(*store);
  EXPECT_EQ(ReadSourceSettings(registry, kKey).connection.port, 80);
}

}  // namespace
}  // namespace ravelon
