// A source's settings read from any values in the memory registry store:
// every value of a source's key written with any type and bytes, under names
// in any letter case, in a key named by any bytes. Reading never fails, every
// number lands within its bounds, each value reads back as the bytes last
// written under its name (up to the first zero byte; the default when empty),
// and the values read at once agree with those read one by one.
//
// Input: the source's name (a length byte first), then values until the input
// ends, each a name byte (modulo the number of names: which name; the
// quotient: the case of its first letters), a type byte and the bytes (a
// length byte first).
#include <map>
#include <memory>

#include "common/engine_limits.h"
#include "engine/reg_utils.h"
#include "engine/source_settings.h"
#include "harness.h"
#include "parsing/byte_search.h"

using namespace ravelon;
using ravelon::fuzz::Require;

namespace {

// In the order ReadSourceSettings reads them.
// clang-format off
const char* const kNames[] = {
    "Url", "Streaming", "DBPath", "File", "FileTime", "SaveInterval", "ViewInterval",
    "PreAllocationBlock", "FileLimitValue", "FileLimitType", "DoSave", "SrcID", "Address", "Port",
    "UserName", "Password", "Schedule", "RequestStyle", "BoundaryDiscovery", "SyncWrites",
    "SaveQueueMB"};
// clang-format on
constexpr int kNameCount = sizeof(kNames) / sizeof(kNames[0]);

// The name (all letters) with its first letters in the case that the bits of
// `cases` pick, one bit each, upper for 1; the rest as it is.
std::string InCase(std::string name, uint32_t cases) {
  for (size_t i = 0; i < name.size() && cases != 0; ++i, cases >>= 1)
    name[i] = static_cast<char>(cases & 1 ? name[i] & ~0x20 : name[i] | 0x20);
  return name;
}

void RequireBounds(const SourceSettings& s) {
  const auto within = [](int64_t value, int64_t min, int64_t max) {
    return value >= min && value <= max;
  };
  Require(within(s.store.saveInterval, kMinIntervalMs, kMaxIntervalMs) &&
              within(s.viewInterval, kMinIntervalMs, kMaxIntervalMs),
          "intervals are within their bounds");
  Require(within(s.store.preAllocationSize, 0, kMaxLimitSetting) &&
              within(s.store.fileSizeLimit, 1, kMaxStoredFileLimit) &&
              within(s.store.fileLimitType, 0, 1),
          "file limits are within their bounds");
  Require(within(s.srcID, 0, 30'000) && within(s.connection.port, 0, 65'535) &&
              within(static_cast<int>(s.connection.requestStyle), 0,
                     static_cast<int>(RequestStyle::kHttp11)) &&
              within(s.saveQueueMegabytes, 1, kMaxSaveQueueMegabytes),
          "numbers are within their bounds");
  for (const auto& day : s.schedule) Require(within(day.size(), 1, 1000), "days have entries");
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const std::string source(input.Sized());
  const std::string key = SourceKey("Software\\Ravelon\\", source.substr(0, source.find('\0')));
  const std::unique_ptr<RegistryStore> store = NewMemoryRegistryStore();
  RegistryKey handle = 0;
  const bool created = store->CreateKey(kHkeyLocalMachine, key, handle) == kRegSuccess;
  std::map<int, std::string> last;  // by name
  while (!input.empty()) {
    const uint8_t name = input.Byte();
    const uint32_t type = input.Byte() % 5;
    const std::string bytes(input.Sized());
    if (!created) continue;
    const std::string spelt = InCase(kNames[name % kNameCount], name / kNameCount);
    Require(store->SetValue(handle, spelt, type, bytes) == kRegSuccess, "a value is written");
    last[name % kNameCount] = bytes;
  }
  RegUtils registry(*store);
  RequireBounds(ReadSourceSettings(registry, key));
  for (const auto& [name, bytes] : last) {
    const std::string expected = bytes.empty() ? "default" : bytes.substr(0, bytes.find('\0'));
    Require(registry.Registry_Get(key, kNames[name], "default") == expected,
            "a value reads back as written");
  }
  const RegUtils::TextValues all = registry.Registry_GetAll(key);
  for (const char* name : kNames) {
    std::string at_once = "default";
    for (const auto& [stored, text] : all) {
      if (std::ranges::equal(stored, std::string_view(name), {}, AsciiLower, AsciiLower))
        at_once = text;
    }
    Require(at_once == registry.Registry_Get(key, name, "default"),
            "a value reads the same at once as on its own");
  }
  if (created) store->CloseKey(handle);
}
