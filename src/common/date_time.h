// Procedures on stamps held as two doubles: the date in whole days since
// 1899-12-30 and the time in seconds since local midnight. The new-frame
// handling stamps frames with GetNowDateTime and TruncateToMilliseconds; the
// event record and the re-timing of event lists compare and shift stamps.
//
// Free functions without state; called on the engine's thread.
#pragma once

#include <cstdint>

#include "ravelon/clock.h"
#include "ravelon/date_time_stamp.h"

namespace ravelon {

inline constexpr double kSecondsPerDay = DateTimeStamp::kSecondsPerDay;

// kStampLater (1) when stamp 1 is later than stamp 2, kStampEarlier (2) when
// it is earlier, kStampEqual (0) when both are the same. The dates decide; the
// times only when the dates are equal.
uint8_t CompareStamps(double date1, double time1, double date2, double time2);

// Adds (addDate, addTime) to (date, time), then carries whole days from the
// time into the date: while time >= 86400, a day is moved into the date; then,
// while time < 0, a day is taken from the date. The result is what those
// one-day steps give (bit for bit while |time| < 2^60, whole-day dates
// assumed), but found in constant time, so a huge addTime costs nothing. Like
// the steps, a time a hair below zero comes out as exactly 86400 (the last
// step rounds). A NaN or infinite time is left as it is, date added.
void AddToStamp(double& date, double& time, double addDate, double addTime);

// floor(seconds * 1000) / 1000: cuts a time down to whole milliseconds
// (towards minus infinity).
double TruncateToMilliseconds(double seconds);

// Reads the present stamp from `clock`: the date, then the time, then the date
// again. If the date changed in between (midnight passed), the time and then
// the date are read once more, so yesterday's date is never paired with a time
// of today. The time keeps the clock's full precision: frames are stamped to
// the millisecond at any hour of the day.
void GetNowDateTime(const Clock& clock, double& date, double& time);

}  // namespace ravelon
