#include "store/record_formats.h"

#include <algorithm>
#include <cmath>

#include "common/date_time.h"
#include "common/number_encoding.h"

namespace ravelon {
namespace {

int32_t LongAt(std::string_view bytes, size_t offset) {
  return BytesToLong(bytes.substr(offset, 4));
}

}  // namespace

std::string IndexRecord::Encode() const {
  std::string bytes =
      LongToBytes(position) + LongToBytes(length) + LongToBytes(time) + LongToBytes(date);
  bytes += static_cast<char>(motion);
  bytes += static_cast<char>(dataType);
  return bytes;
}

bool IndexRecord::Decode(std::string_view bytes) {
  if (bytes.size() != kIndexRecordBytes) return false;
  position = LongAt(bytes, 0);
  length = LongAt(bytes, 4);
  time = LongAt(bytes, 8);
  date = LongAt(bytes, 12);
  motion = static_cast<uint8_t>(bytes[16]);
  dataType = static_cast<uint8_t>(bytes[17]);
  return true;
}

std::string ID2Record::Encode() const {
  return LongToBytes(saveInterval) + LongToBytes(startFrame) + LongToBytes(startTime) +
         LongToBytes(startDate) + EncodeEnd();
}

std::string ID2Record::EncodeEnd() const {
  return LongToBytes(endFrame) + LongToBytes(endTime) + LongToBytes(endDate);
}

bool ID2Record::Decode(std::string_view bytes) {
  if (bytes.size() != kID2RecordBytes) return false;
  saveInterval = LongAt(bytes, 0);
  startFrame = LongAt(bytes, 4);
  startTime = LongAt(bytes, 8);
  startDate = LongAt(bytes, 12);
  endFrame = LongAt(bytes, 16);
  endTime = LongAt(bytes, 20);
  endDate = LongAt(bytes, 24);
  return true;
}

void CivilFromDays(int64_t days_since_18991230, int& year, unsigned& month, unsigned& day) {
  // Howard Hinnant's civil_from_days, from 1970-01-01 shifted to 1899-12-30.
  const int64_t z = days_since_18991230 - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int32_t DateToLong(double date) {
  // A stamp comes from the source too (an event list's dates): days before
  // year 1 or after 9999, and no number at all, are held at the nearest end
  // of those years, so that the conversion cannot overflow.
  constexpr double kFirstDay = -693'593;  // 0001-01-01
  constexpr double kLastDay = 2'958'465;  // 9999-12-31
  const double days = std::isnan(date) ? 0 : std::clamp(std::floor(date), kFirstDay, kLastDay);
  int year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(static_cast<int64_t>(days), year, month, day);
  return year * 10'000 + static_cast<int32_t>(month * 100 + day);
}

int32_t TimeToLong(double time) {
  if (!(time < kSecondsPerDay) || time < 0) return 0;
  const auto whole = static_cast<int32_t>(std::floor(time));
  const int32_t hours = whole / 3600;
  const int32_t minutes = (whole - 3600 * hours) / 60;
  const int32_t seconds = whole % 60;
  const auto millis = static_cast<int32_t>(std::floor((time - whole) * 1000 + 0.0001));
  return hours * 10'000'000 + minutes * 100'000 + seconds * 1000 + millis;
}

void GetNowDateTimeLongs(const Clock& clock, int32_t& date, int32_t& time) {
  double day = clock.Today();
  double seconds = clock.SecondsSinceMidnight();
  if (clock.Today() != day) {  // midnight passed between the readings
    day = clock.Today();
    seconds = clock.SecondsSinceMidnight();
  }
  date = DateToLong(day);
  const auto whole = static_cast<int32_t>(std::floor(seconds));
  time = TimeToLong(whole) + static_cast<int32_t>(std::floor((seconds - whole) * 1000));
}

}  // namespace ravelon
