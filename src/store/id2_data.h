// The current recording segment of the frame store, held in memory: where
// the segment starts and ends (frame numbers of its file set, dates packed as
// YYYYMMDD, times as HHMMSSmmm), the base name of its file set and the data
// file's size. Filled by saving, returned to the host by GetCurrentID2Data.
#pragma once

#include <cstdint>
#include <string>

namespace ravelon {

struct ID2Data {
  int32_t StartFrame = 0;
  int32_t EndFrame = 0;
  int32_t StartDate = 0;
  int32_t EndDate = 0;
  int32_t StartTime = 0;
  int32_t EndTime = 0;
  std::string FileName;
  int32_t FileSize = 0;
};

}  // namespace ravelon
