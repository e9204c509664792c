#include "engine/source_settings.h"

#include "common/bounded_number.h"
#include "common/engine_limits.h"
#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "common/string_helpers.h"
#include "engine/reg_utils.h"

namespace ravelon {

std::string SourceKey(const std::string& registryRoot, const std::string& srcName) {
  return registryRoot + "Src\\" + srcName + "\\";
}

// The key's values are read at once: reading them one by one costs a round
// of store calls each, most of the time it takes to make an engine.
SourceSettings ReadSourceSettings(RegUtils& registry, const std::string& key) {
  const RegUtils::TextValues values = registry.Registry_GetAll(key);
  const auto get = [&](const char* name, const char* fallback) -> std::string {
    for (const auto& [stored, text] : values) {
      if (EqualsIgnoringCase(stored, name)) return text;
    }
    return fallback;
  };
  const auto bounded = [&](const char* name, const char* fallback_text, int32_t min, int32_t max,
                           int32_t fallback) {
    return ParseBoundedLong(get(name, fallback_text), min, max, fallback);
  };
  const std::string default_interval = std::to_string(kDefaultSaveIntervalMs);

  SourceSettings s;
  s.connection.url = get("Url", "");
  s.connection.streaming = get("Streaming", "1") == "1";
  s.store.dbPath = get("DBPath", "");
  s.fileName = get("File", "");
  s.fileTime = BytesToDouble(HexToString(get("FileTime", "")));  // 0 unless exactly 8 bytes
  s.store.saveInterval = bounded("SaveInterval", default_interval.c_str(), kMinIntervalMs,
                                 kMaxIntervalMs, kDefaultSaveIntervalMs);
  s.viewInterval = bounded("ViewInterval", std::to_string(kDefaultViewIntervalMs).c_str(),
                           kMinIntervalMs, kMaxIntervalMs, kDefaultViewIntervalMs);
  s.store.preAllocationSize =
      static_cast<int16_t>(bounded("PreAllocationBlock", "1", 0, kMaxLimitSetting, 1));
  // A missing limit gives 10; a stored value that is broken or out of range, 600.
  s.store.fileSizeLimit =
      static_cast<int16_t>(bounded("FileLimitValue", "10", 1, kMaxStoredFileLimit, 600));
  s.store.fileLimitType = static_cast<uint8_t>(bounded("FileLimitType", "0", 0, 1, 0));
  s.store.doSave = get("DoSave", "0") != "0";
  s.srcID = static_cast<int16_t>(bounded("SrcID", "0", 0, 30'000, 0));
  s.connection.address = get("Address", "");
  s.connection.port = bounded("Port", "80", 0, 65'535, 80);
  s.connection.userName = get("UserName", "");
  s.connection.password = get("Password", "");
  ParseSchedule(HexToString(get("Schedule", "")), s.schedule);
  s.connection.requestStyle = static_cast<RequestStyle>(
      bounded("RequestStyle", "0", 0, static_cast<int32_t>(RequestStyle::kHttp11), 0));
  s.connection.boundaryDiscovery = get("BoundaryDiscovery", "0") == "1";
  s.store.syncWrites = get("SyncWrites", "1") != "0";
  s.saveQueueMegabytes = bounded("SaveQueueMB", std::to_string(kDefaultSaveQueueMegabytes).c_str(),
                                 1, kMaxSaveQueueMegabytes, kDefaultSaveQueueMegabytes);
  return s;
}

}  // namespace ravelon
