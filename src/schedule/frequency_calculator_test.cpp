#include "schedule/frequency_calculator.h"

#include <gtest/gtest.h>

#include "ravelon/testing/simulated_loop.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;

void TickAt(SimulatedLoop& loop, FrequencyCalculator& rate, int count, milliseconds every) {
  for (int i = 0; i < count; ++i) {
    loop.AdvanceBy(every);
    rate.Tick();
  }
}

TEST(FrequencyCalculatorTest, AveragesOverTheLastOneToTwoHundredTicks) {
  SimulatedLoop loop;
  FrequencyCalculator rate(loop.GetClock());
  EXPECT_EQ(rate.getFrequency(), 0);  // no time has passed
  TickAt(loop, rate, 50, milliseconds(200));
  EXPECT_NEAR(rate.getFrequency(), 5.0, 1e-3);

  rate.Reset();
  TickAt(loop, rate, 200, milliseconds(100));  // 20 s at 10 per second
  EXPECT_NEAR(rate.getFrequency(), 10.0, 1e-3);
  TickAt(loop, rate, 200, milliseconds(50));  // then 10 s at 20 per second
  EXPECT_NEAR(rate.getFrequency(), 20.0, 1e-3);
}

TEST(FrequencyCalculatorTest, WindowStartedBeforeMidnightReadsZeroAfterIt) {
  SimulatedLoop loop;
  loop.GetClock().SetLocalDateTime(46000, 86400 - 5);
  FrequencyCalculator rate(loop.GetClock());
  TickAt(loop, rate, 10, milliseconds(1000));
  EXPECT_EQ(rate.getFrequency(), 0);
}

}  // namespace
}  // namespace ravelon
