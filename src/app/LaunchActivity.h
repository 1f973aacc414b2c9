// What the main window shows while a test runs: the launch buttons (and the
// live view and quit buttons) dimmed so that no second launch starts inside
// the first, the abort button enabled, a busy cursor, and a status line that
// says what the station waits for and for how long. In a windowed run the
// platform's long waits (an instrument's answer, a connection, the receiver
// port's output) come back here between short slices: the window keeps
// answering, and the abort button ends the wait as it ends a fix wait.
#pragma once

#include "platform/waits.h"

// Sets the wait hook below (start-up does so in a windowed run; a headless
// run waits as before, in one piece).
void InstallLaunchWaitHook();

// Runs the user interface's pending events, keeps the status line current
// and returns true (end the wait now) when the operator has aborted the
// running test. Outside a test it only runs the events.
bool LaunchWaitHook(const WaitProgress& progress);

// True while a launch runs (from its button to the test's end).
bool LaunchRunning();

// The window's state for one launch, restored when it ends, on every path.
class LaunchActivity {
 public:
  explicit LaunchActivity(const char* testName);
  ~LaunchActivity();
  LaunchActivity(const LaunchActivity&) = delete;
  LaunchActivity& operator=(const LaunchActivity&) = delete;
};
