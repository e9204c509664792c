// SourceSettings: every setting of one source as a plain value, read from the
// source's key in the registry store in one call. Missing or broken values
// take their fallbacks; reading never fails and never reports.
//
// The key is RegistryRoot + "Src\" + SrcName + "\", with text values; the
// engine reads it once per InitEngineFromReg and hands each part its share.
#pragma once

#include <cstdint>
#include <string>

#include "common/schedule.h"
#include "connection/connection.h"
#include "store/store_writer.h"

namespace ravelon {

class RegUtils;

struct SourceSettings {
  ConnectionSettings connection;
  StoreSettings store;
  std::string fileName;  // the registered file set ("File")
  double fileTime = 0;   // its start ("FileTime"); 0 when missing or broken
  int32_t viewInterval = 0;
  int16_t srcID = 0;
  int32_t saveQueueMegabytes = 0;  // the save queue's bound in bytes, in megabytes
  WeeklySchedule schedule;
};

// The key of a source's settings.
std::string SourceKey(const std::string& registryRoot, const std::string& srcName);

SourceSettings ReadSourceSettings(RegUtils& registry, const std::string& key);

}  // namespace ravelon
