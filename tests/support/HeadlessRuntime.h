// Starts the panel run-time off-screen once per test program and registers the
// station's callbacks, as start-up does, so that tests can load real panels.
#pragma once

#include <string>

#include "app/GNSS_UI_MENU.h"
#include "platform/ui.h"

inline bool StartHeadlessRuntimeOnce(const char* programName) {
  static const bool started = [programName] {
    static std::string name = programName;
    static char* argv[] = {name.data(), nullptr};
    if (InitUserInterfaceRuntime(1, argv, true) == 0) return false;
    RegisterSystemCallbacks();
    return true;
  }();
  return started;
}
