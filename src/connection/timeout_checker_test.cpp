#include "connection/timeout_checker.h"

#include <gtest/gtest.h>

#include "ravelon/testing/simulated_loop.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(TimeoutCheckerTest, DeadlinesAcrossMidnightAndAClockSetBack) {
  SimulatedLoop loop;
  SimulatedClock& clock = loop.GetClock();
  TimeoutChecker checker(clock);
  EXPECT_FALSE(checker.HasTimeout());  // stopped
  checker.InitTimeout(0);
  EXPECT_TRUE(checker.HasTimeout());
  EXPECT_TRUE(checker.HasTimeout());  // stays passed until started again
  checker.StopTimeout();
  loop.AdvanceBy(std::chrono::hours(48));
  EXPECT_FALSE(checker.HasTimeout());

  clock.SetLocalDateTime(46000, 86400 - 30);  // 23:59:30
  checker.InitTimeout(60'000);
  loop.AdvanceBy(milliseconds(59'999));
  EXPECT_FALSE(checker.HasTimeout());  // 00:00:29.999 of the next day
  loop.AdvanceBy(milliseconds(1));
  EXPECT_TRUE(checker.HasTimeout());

  // A clock set back counts as passed; restarted, the period runs in full.
  clock.SetLocalDateTime(46000, 12 * 3600);
  checker.InitTimeout(600'000);
  loop.AdvanceBy(seconds(10));
  EXPECT_FALSE(checker.HasTimeout());
  clock.SetLocalDateTime(46000, 11 * 3600);
  EXPECT_TRUE(checker.HasTimeout());
  checker.InitTimeout(600'000);
  loop.AdvanceBy(seconds(599));
  EXPECT_FALSE(checker.HasTimeout());
  loop.AdvanceBy(seconds(1));
  EXPECT_TRUE(checker.HasTimeout());
}

}  // namespace
}  // namespace ravelon
