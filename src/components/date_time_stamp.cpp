#include "ravelon/date_time_stamp.h"

#include <cmath>

namespace ravelon {
namespace {

// The clock's time rounded to whole milliseconds, kept below midnight.
double ToMilliseconds(double seconds) {
  const double rounded = std::round(seconds * 1000.0) / 1000.0;
  constexpr double kLastMillisecond = DateTimeStamp::kSecondsPerDay - 0.001;
  return rounded > kLastMillisecond ? kLastMillisecond : rounded;
}

}  // namespace

void DateTimeStamp::SetToNow(const Clock& clock) {
  double date = clock.Today();
  double time = clock.SecondsSinceMidnight();
  if (clock.Today() != date) {
    // Midnight passed between the two readings; a second one cannot pass
    // before these two are done.
    date = clock.Today();
    time = clock.SecondsSinceMidnight();
  }
  date_ = date;
  time_ = ToMilliseconds(time);
}

int16_t DateTimeStamp::GetPeriodKey() const {
  double days = std::isfinite(date_) ? std::fmod(std::floor(date_), kPeriodKeyDays) : 0;
  if (days < 0) days += kPeriodKeyDays;
  double hour = std::isfinite(time_) ? std::floor(time_ / 3600.0) : 0;
  if (hour < 0) hour = 0;
  if (hour > 23) hour = 23;
  return static_cast<int16_t>(static_cast<int32_t>(days) * 24 + static_cast<int32_t>(hour));
}

void DateTimeStamp::Add(double days, double seconds) {
  date_ += days;
  time_ += seconds;
  const double carry = std::floor(time_ / kSecondsPerDay);
  if (carry != 0) {
    time_ -= carry * kSecondsPerDay;
    date_ += carry;
  }
  // Rounding can leave a time a hair below zero land exactly on 86400.
  if (time_ >= kSecondsPerDay) {
    time_ -= kSecondsPerDay;
    date_ += 1;
  }
  if (time_ < 0) time_ = 0;
}

uint8_t DateTimeStamp::Compare(const DateTimeStamp& other) const {
  if (date_ != other.date_) return date_ > other.date_ ? kStampLater : kStampEarlier;
  if (time_ != other.time_) return time_ > other.time_ ? kStampLater : kStampEarlier;
  return kStampEqual;
}

}  // namespace ravelon
