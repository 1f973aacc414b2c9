#include "app/LaunchActivity.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "state/StationState.h"

namespace {

// The buttons that must not be pressed while a test runs.
constexpr int kDimmedWhileRunning[] = {
    MAIN_RUN000, MAIN_RUN001, MAIN_RUN003, MAIN_RUN004,   MAIN_RUN009, MAIN_RUN010,
    MAIN_RUN011, MAIN_RUN012, MAIN_RUNSEQ, MAIN_LIVEVIEW, MAIN_QUIT,
};

int g_launchDepth = 0;
std::string g_runningText;  // the status line between waits
long g_shownSeconds = -1;   // the whole seconds the status line shows

void ShowStatus(const std::string& text) {
  if (MainPanelHandle <= 0) return;
  // A label's value is replaced (not appended).
  SetCtrlVal(MainPanelHandle, MAIN_STATUS, text.c_str());
}

std::string WaitText(const WaitProgress& progress, long seconds) {
  const char* format = "waiting for the simulator at %s: %ld s";
  if (progress.subject == WaitSubject::kInstrumentConnect)
    format = "connecting to the simulator at %s: %ld s";
  else if (progress.subject == WaitSubject::kSerialPort)
    format = "waiting for the receiver port %s: %ld s";
  char text[512];
  std::snprintf(text, sizeof text, format, progress.name, seconds);
  return text;
}

void DimLaunchControls(bool running) {
  if (MainPanelHandle <= 0) return;
  for (int control : kDimmedWhileRunning)
    SetCtrlAttribute(MainPanelHandle, control, ATTR_DIMMED, running ? 1 : 0);
  SetCtrlAttribute(MainPanelHandle, MAIN_ABORT, ATTR_DIMMED, running ? 0 : 1);
}

}  // namespace

void InstallLaunchWaitHook() { SetWaitHook(LaunchWaitHook); }

bool LaunchRunning() { return g_launchDepth > 0; }

bool LaunchWaitHook(const WaitProgress& progress) {
  // A wait shows from its first whole second on, so that the many short
  // answers of a scenario set-up do not make the line flicker.
  if (g_launchDepth > 0) {
    if (progress.finished) {
      if (g_shownSeconds >= 0) ShowStatus(g_runningText);
      g_shownSeconds = -1;
    } else {
      const long seconds = std::lround(std::floor(progress.seconds));
      if (seconds >= 1 && seconds != g_shownSeconds) {
        g_shownSeconds = seconds;
        ShowStatus(WaitText(progress, seconds));
      }
    }
  }
  if (progress.finished) return false;
  ProcessSystemEvents();
  return g_launchDepth > 0 && AbortFlag != 0;
}

LaunchActivity::LaunchActivity(const char* testName) {
  if (g_launchDepth++ > 0) return;
  DimLaunchControls(true);
  g_runningText = std::string(testName) + " running";
  g_shownSeconds = -1;
  ShowStatus(g_runningText);
  SetWaitCursor(1);
}

LaunchActivity::~LaunchActivity() {
  if (--g_launchDepth > 0) return;
  SetWaitCursor(0);
  g_runningText.clear();
  ShowStatus("");
  DimLaunchControls(false);
}
