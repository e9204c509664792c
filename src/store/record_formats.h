// The records of the frame store's files, byte for byte. A file set is three
// files with one base name:
//
//   .bin  the frames' bytes back to back, no structure of its own; the end
//         may be preallocated space or old content of a recycled set.
//   .idx  one 18-byte IndexRecord per saved frame; record n at offset 18 n.
//   .id2  one 28-byte ID2Record per recording segment (an unbroken run of
//         saved frames); record k at offset 28 k; only the last one changes.
//
// No file has a header. Integers are 32-bit signed little-endian. Dates are
// packed YYYYMMDD and times HHMMSSmmm into one integer each, as local time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ravelon/clock.h"

namespace ravelon {

// IndexRecord layout: position (1-based in .bin; 0 = never written), length,
// time, date, motion (1 byte), data type (1 byte).
inline constexpr int32_t kIndexRecordBytes = 18;
// ID2Record layout: save interval, StartFrame, start time, start date,
// EndFrame, end time, end date.
inline constexpr int32_t kID2RecordBytes = 28;
// The end fields (EndFrame, end time, end date) start at this offset.
inline constexpr int32_t kID2EndFieldsOffset = 16;

struct IndexRecord {
  int32_t position = 0;
  int32_t length = 0;
  int32_t time = 0;
  int32_t date = 0;
  uint8_t motion = 0;
  uint8_t dataType = 0;

  std::string Encode() const;
  // False unless `bytes` is exactly one record.
  bool Decode(std::string_view bytes);
};

struct ID2Record {
  int32_t saveInterval = 0;
  int32_t startFrame = 0;
  int32_t startTime = 0;
  int32_t startDate = 0;
  int32_t endFrame = 0;
  int32_t endTime = 0;
  int32_t endDate = 0;

  std::string Encode() const;
  // The last 12 bytes alone: what a save run rewrites.
  std::string EncodeEnd() const;
  bool Decode(std::string_view bytes);
};

// YYYYMMDD of a day number (whole days since 1899-12-30; the fraction is ignored).
int32_t DateToLong(double date);

// HHMMSSmmm of seconds since midnight; 0 for 86400 or more. The 0.0001 added
// to the milliseconds keeps a fraction held as 0.12299... at 123.
int32_t TimeToLong(double time);

// The present date and time, packed; milliseconds truncated.
void GetNowDateTimeLongs(const Clock& clock, int32_t& date, int32_t& time);

// Year, month and day of a day number.
void CivilFromDays(int64_t days_since_18991230, int& year, unsigned& month, unsigned& day);

}  // namespace ravelon
