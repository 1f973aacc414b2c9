// The station's one clock. Every elapsed time, wait and calendar time of the
// station comes from here, and GNSS_TIME_SCALE (default 1) speeds all of them
// up together: with 0.05 a wait of 1 s lasts 50 ms and clocks run 20x faster.
#pragma once

#include <ctime>

// The scale read from GNSS_TIME_SCALE at first use (values <= 0 or unreadable
// count as 1).
double TimeScale();

// Elapsed wall time in (scaled) seconds since the process started. Not the C
// library's clock(), which counts processor time on Linux.
double ClockSeconds();

// Seconds since the first call of Timer, scaled like ClockSeconds.
double Timer();

// Calendar time that advances at the scaled rate from the real time at start.
std::time_t CalendarTime();

// Sleeps the given (scaled) seconds without processing events.
void SleepSeconds(double seconds);

// Waits about `seconds` in 50 ms steps, letting pending user-interface events
// run between the steps. 0 or less returns at once without processing events.
void WaitSeconds(double seconds);
