// Configuration of a source from its key in the registry store: every setting
// in one call. Missing or broken values take their fallbacks; nothing here
// fails or reports.
#include "common/bounded_number.h"
#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "engine/reg_utils.h"
#include "ravelon/korvid.h"

namespace ravelon {

void Korvid::ReadSourceConfiguration() {
  const std::string key = m_registryRoot + "Src\\" + m_sourceName + "\\";
  const auto get = [&](const char* name, const char* fallback) {
    return RegistryUtils().Registry_Get(key, name, fallback);
  };
  const auto bounded = [&](const char* name, const char* fallback_text, int32_t min, int32_t max,
                           int32_t fallback) {
    return ParseBoundedLong(get(name, fallback_text), min, max, fallback);
  };

  m_url = get("Url", "");
  m_streaming = get("Streaming", "1") == "1";
  m_dbPath = get("DBPath", "");
  m_fileName = get("File", "");
  m_fileTime = BytesToDouble(HexToString(get("FileTime", "")));  // 0 unless exactly 8 bytes
  m_saveInterval = bounded("SaveInterval", "500", 10, 60'000, 500);
  Viewer->SetInterval(bounded("ViewInterval", "500", 10, 60'000, 500));
  m_preAllocationSize = static_cast<int16_t>(bounded("PreAllocationBlock", "1", 0, 999, 1));
  // A missing limit gives 10; a stored value that is broken or out of range, 600.
  m_fileSizeLimit = static_cast<int16_t>(bounded("FileLimitValue", "10", 1, 1999, 600));
  m_fileLimitType = static_cast<uint8_t>(bounded("FileLimitType", "0", 0, 1, 0));
  m_doSave = get("DoSave", "0") != "0";
  m_srcID = static_cast<int16_t>(bounded("SrcID", "0", 0, 30'000, 0));
  m_address = get("Address", "");
  m_port = bounded("Port", "80", 0, 65'535, 80);
  m_userName = get("UserName", "");
  m_password = get("Password", "");
  ParseSchedule(HexToString(get("Schedule", "")), m_schedule);
  // The next tick evaluates the new schedule from scratch.
  m_scheduleDay = -1;
  m_scheduledDisconnect = false;
}

RegUtils& Korvid::RegistryUtils() {
  if (!m_regUtils) m_regUtils = std::make_shared<RegUtils>(m_platform->Registry());
  return *m_regUtils;
}

}  // namespace ravelon
