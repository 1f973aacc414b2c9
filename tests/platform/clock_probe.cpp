// Helper of clock_test: waits WaitSeconds(argv[1]) and prints the station's
// clock and the real time that passed, so that a test can run it under a
// GNSS_TIME_SCALE of its choice (the scale is read once per process).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  const double request = std::atof(argv[1]);
  const auto realStart = std::chrono::steady_clock::now();
  const double clockStart = ClockSeconds();
  WaitSeconds(request);
  const double clockWaited = ClockSeconds() - clockStart;
  const double realWaited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
  std::printf("scale=%f clock=%f real=%f\n", TimeScale(), clockWaited, realWaited);
  return 0;
}
