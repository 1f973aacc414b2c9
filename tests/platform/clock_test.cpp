#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/ChildProcess.h"

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

// The scale speeds every wait up together: run the probe with a scale of its
// own and compare what the station's clock saw with the real time.
TEST(Clock, TimeScaleShortensWaitsButNotTheirClockLength) {
  ProcessOptions scaled;
  scaled.setEnv = {"GNSS_TIME_SCALE=0.05"};
  const ProcessResult run = RunProcess({STATION_BINARY_DIR "/tests/clock_probe", "2.0"}, scaled);
  double scale = 0, clock = 0, real = 0;
  const int fields =
      std::sscanf(run.out.c_str(), "scale=%lf clock=%lf real=%lf", &scale, &clock, &real);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(fields, 3);
  EXPECT_DOUBLE_EQ(scale, 0.05);
  EXPECT_GE(clock, 2.0);
  EXPECT_LT(clock, 3.0);
  EXPECT_LT(real, 1.0) << "2 s at scale 0.05 is 0.1 s of real time";
}
