#include "camera/local_stamp.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace ravelon::cli {

LocalStamp LocalStamp::Of(std::chrono::system_clock::time_point moment) {
  using namespace std::chrono;
  const auto since_epoch = duration_cast<milliseconds>(moment.time_since_epoch());
  const std::time_t seconds =
      static_cast<std::time_t>(floor<std::chrono::seconds>(since_epoch).count());
  std::tm local{};
  localtime_r(&seconds, &local);
  LocalStamp stamp;
  stamp.year = local.tm_year + 1900;
  stamp.month = local.tm_mon + 1;
  stamp.day = local.tm_mday;
  stamp.hour = local.tm_hour;
  stamp.minute = local.tm_min;
  stamp.second = std::min(local.tm_sec, 59);  // a leap second stays in its minute
  stamp.millisecond = static_cast<int>(since_epoch.count() - seconds * 1000LL);
  return stamp;
}

std::string LocalStamp::Text() const {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day, hour,
                minute, second, millisecond);
  return text;
}

double LocalStamp::Days() const {
  using namespace std::chrono;
  const sys_days date{std::chrono::year{year} / month / day};
  const sys_days origin{std::chrono::year{1899} / 12 / 30};
  return static_cast<double>((date - origin).count());
}

double LocalStamp::Seconds() const {
  return hour * 3600 + minute * 60 + second + millisecond / 1000.0;
}

}  // namespace ravelon::cli
