#include "platform/clock.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/ui.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

struct ClockOrigin {
  SteadyClock::time_point steadyStart = SteadyClock::now();
  std::time_t calendarStart = std::time(nullptr);
  double scale = 1.0;
  ClockOrigin() {
    if (const char* text = std::getenv("GNSS_TIME_SCALE")) {
      char* end = nullptr;
      double value = std::strtod(text, &end);
      if (end != text && value > 0.0) scale = value;
    }
  }
};

ClockOrigin& Origin() {
  static ClockOrigin origin;
  return origin;
}

double RealElapsed() {
  return std::chrono::duration<double>(SteadyClock::now() - Origin().steadyStart).count();
}

}  // namespace

double TimeScale() { return Origin().scale; }

double ClockSeconds() { return RealElapsed() / Origin().scale; }

double Timer() {
  static const double first = ClockSeconds();
  return ClockSeconds() - first;
}

std::time_t CalendarTime() {
  return Origin().calendarStart + static_cast<std::time_t>(ClockSeconds());
}

void SleepSeconds(double seconds) {
  if (seconds <= 0.0) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds * Origin().scale));
}

void WaitSeconds(double seconds) {
  // The elapsed time is read before each sleep, so a wait lasts the request
  // rounded up to whole 50 ms steps plus one more step.
  const double t0 = ClockSeconds();
  double t = ClockSeconds();
  while (seconds > t - t0) {
    t = ClockSeconds();
    SleepSeconds(0.05);
    ProcessSystemEvents();
  }
}
