#include <gtest/gtest.h>

#include "platform/clock.h"

// The scale is read once per process, so these bounds hold for any scale the
// environment sets: they compare clocks against each other, not wall time.
TEST(Clock, WaitSecondsRoundsUpToWholeStepsPlusOne) {
  const double t0 = ClockSeconds();
  WaitSeconds(0.01);
  const double waited = ClockSeconds() - t0;
  EXPECT_GE(waited, 0.09);  // two 50 ms steps
  EXPECT_LT(waited, 0.5);
}

TEST(Clock, NonPositiveWaitReturnsAtOnce) {
  const double t0 = ClockSeconds();
  WaitSeconds(0.0);
  WaitSeconds(-3.0);
  EXPECT_LT(ClockSeconds() - t0, 0.04);
}
