#include "common/date_time.h"

#include <cmath>

namespace ravelon {
uint8_t CompareStamps(double date1, double time1, double date2, double time2) {
  if (date1 > date2) return kStampLater;
  if (date1 < date2) return kStampEarlier;
  if (time1 > time2) return kStampLater;
  if (time1 < time2) return kStampEarlier;
  return kStampEqual;
}

void AddToStamp(double& date, double& time, double addDate, double addTime) {
  date += addDate;
  time += addTime;
  // Stepping a day at a time subtracts 86400 exactly while the time's last
  // bit is worth at most 128 s (86400 = 675 * 128), so the steps before the
  // last amount to the exact remainder, which fmod computes exactly. Only the
  // last step upwards from a negative time can round.
  if (std::isinf(time)) return;  // the steps would never end
  if (time >= kSecondsPerDay) {
    const double rest = std::fmod(time, kSecondsPerDay);  // in [0, 86400)
    date += (time - rest) / kSecondsPerDay;
    time = rest;
  } else if (time < 0) {
    const double rest = std::fmod(time, kSecondsPerDay);  // in (-86400, 0]
    // Days taken before the last step, then the last step itself.
    date -= (rest - time) / kSecondsPerDay;
    if (rest < 0) {
      date -= 1;
      time = rest + kSecondsPerDay;
    } else {
      time = 0;  // a whole number of days: the last step lands on +0
    }
  }
}

double TruncateToMilliseconds(double seconds) { return std::floor(seconds * 1000.0) / 1000.0; }

void GetNowDateTime(const Clock& clock, double& date, double& time) {
  date = clock.Today();
  time = clock.SecondsSinceMidnight();
  if (clock.Today() != date) {
    time = clock.SecondsSinceMidnight();
    date = clock.Today();
  }
}

}  // namespace ravelon
