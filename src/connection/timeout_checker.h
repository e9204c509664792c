// A deadline kept on date-and-time stamps rather than a running timer: it is
// asked, from time to time, whether it has passed. Paces the engine's ten-minute
// rate report. A clock set back counts as a passed deadline, so the report then
// comes early rather than never.
//
// Owned by one engine; used on its thread.
#pragma once

#include <cstdint>
#include <memory>

#include "ravelon/clock.h"
#include "ravelon/date_time_stamp.h"

namespace ravelon {

class TimeoutChecker {
 public:
  // A new checker is stopped.
  explicit TimeoutChecker(const Clock& clock);

  // Stops the deadline: HasTimeout answers False until it is started again.
  void StopTimeout();
  // Starts a deadline `milliseconds` from now; a negative value stops it.
  void InitTimeout(int32_t milliseconds);
  // True once the deadline has passed (and until it is started again), or
  // when the clock reads earlier than at the last check.
  bool HasTimeout();

 private:
  const Clock& clock_;
  std::shared_ptr<DateTimeStamp> m_deadline;  // date -1 while stopped
  std::shared_ptr<DateTimeStamp> m_lastCheck;
};

}  // namespace ravelon
