// A moment in local time as the camera writes it: into frame labels and text
// parts as "YYYY-MM-DD HH:MM:SS.mmm", and into event lists as the engine's
// stamp (whole days since 1899-12-30 and seconds since local midnight).
// A value; any thread.
#pragma once

#include <chrono>
#include <string>

namespace ravelon::cli {

struct LocalStamp {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;

  static LocalStamp Of(std::chrono::system_clock::time_point moment);

  std::string Text() const;  // "2024-05-01 12:34:56.789"
  double Days() const;       // since 1899-12-30
  double Seconds() const;    // since local midnight, to the millisecond
};

}  // namespace ravelon::cli
