// The local date and time a frame was taken: whole days since 1899-12-30
// (as a double) and seconds since local midnight, 0 <= time < 86400, with
// millisecond resolution. A new stamp is (0, 0).
//
// A value inside each MediaFrame, and used by the store to name its periods;
// used on the engine's thread.
#pragma once

#include <cstdint>

#include "ravelon/clock.h"

namespace ravelon {

// Results of DateTimeStamp::Compare.
inline constexpr uint8_t kStampEqual = 0;
inline constexpr uint8_t kStampLater = 1;
inline constexpr uint8_t kStampEarlier = 2;

class DateTimeStamp {
 public:
  static constexpr double kSecondsPerDay = 86400.0;
  // Period keys repeat after this many days; see GetPeriodKey.
  static constexpr int32_t kPeriodKeyDays = 1365;

  DateTimeStamp() = default;

  // Sets the stamp to the clock's present date and time, the time rounded to
  // whole milliseconds. Reads the date, then the time, then the date again:
  // if midnight passed in between, both are read again, so the stamp never
  // pairs yesterday's date with the early time of today.
  void SetToNow(const Clock& clock);

  void CopyFrom(const DateTimeStamp& other) { *this = other; }

  double GetDate() const { return date_; }
  double GetTime() const { return time_; }

  // Store the values as given; callers keep the time within [0, 86400).
  void Set(double date, double time) {
    date_ = date;
    time_ = time;
  }
  void SetDate(double date) { date_ = date; }
  void SetTime(double time) { time_ = time; }

  // The one-hour period the stamp lies in: (whole days mod 1365) * 24 + hour
  // of the day. Stamps in the same hour of the same day share a key, other
  // hours within 1365 days get another one. 1365 is the largest day count
  // whose keys fit in 16 bits (1364 * 24 + 23 = 32759); keys repeat after it,
  // so they say nothing about order and are only compared for equality.
  int16_t GetPeriodKey() const;

  // Moves the stamp by `days` and `seconds` (either may be negative). Seconds
  // beyond the day are carried into the date, so the time stays in
  // [0, 86400).
  void Add(double days, double seconds);

  // kStampLater when this stamp is later than `other`, kStampEarlier when it
  // is earlier, kStampEqual when both are the same. Dates decide first; the
  // times only when the dates are equal.
  uint8_t Compare(const DateTimeStamp& other) const;

 private:
  double date_ = 0;
  double time_ = 0;
};

}  // namespace ravelon
