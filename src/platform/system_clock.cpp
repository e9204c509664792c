#include "platform/system_clock.h"

#include <chrono>
#include <ctime>

namespace ravelon {
namespace {

struct LocalReading {
  std::tm fields{};
  double fraction = 0;  // of the current second
};

LocalReading ReadLocal() {
  const auto now = std::chrono::system_clock::now();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
  const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
  LocalReading reading;
  localtime_r(&t, &reading.fields);
  reading.fraction = std::chrono::duration<double>(now - seconds).count();
  return reading;
}

}  // namespace

double SystemClock::Today() const {
  const std::tm tm = ReadLocal().fields;
  return DaysSince18991230(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                           static_cast<unsigned>(tm.tm_mday));
}

double SystemClock::SecondsSinceMidnight() const {
  const LocalReading r = ReadLocal();
  return r.fields.tm_hour * 3600.0 + r.fields.tm_min * 60.0 + r.fields.tm_sec + r.fraction;
}

}  // namespace ravelon
