// The run panels' abort buttons while a test waits on an instrument that has
// fallen silent: the wait ends, and with it the test and the launch, within
// about a second instead of 50 s per command. The station runs in this
// process against qarn-emu and its virtual receiver.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "app/GNSS_UI_MENU.h"
#include "app/LaunchActivity.h"
#include "panels/GNSS_UI1_uir.h"
#include "panels/GNSS_UI_AUTOHO_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "platform/ui_timer.h"
#include "platform/waits.h"
#include "procedures/X47_GNSS_MovingDisplays.h"
#include "report/ProgressLog.h"
#include "state/StationState.h"
#include "tests/basic/BasicLab.h"
#include "tests/console/ScpiClient.h"
#include "tests/console2/ConsoleFixture.h"
#include "tests/support/HeadlessRuntime.h"

namespace {

struct Case {
  const char* name;
  CtrlCallbackPtr launch;
  const int* runPanel;  // the test's run panel handle
  int logControl;
  const char* silentFrom;  // the log line after which the instrument falls silent
  int abortButton;
};

struct AbortProbe {
  const Case* test = nullptr;
  int port = 0;
  int phase = 0;  // 0: until silentFrom; 1: silent, until the status line waits; 2: aborted
  double abortedAt = 0;
  bool launchDimmedThen = false;
};

void Probe(void* data) {
  AbortProbe& p = *static_cast<AbortProbe*>(data);
  const int panel = *p.test->runPanel;
  if (panel <= 0) return;
  if (p.phase == 0) {
    std::string log;
    GetCtrlVal(panel, p.test->logControl, &log);
    if (log.find(p.test->silentFrom) == std::string::npos) return;
    ScpiClient scpi(p.port);
    EXPECT_EQ(scpi.Query("EMULator:SILent ON;:EMULator:SILent?"), "1");
    p.phase = 1;
  } else if (p.phase == 1 &&
             CtrlValueAsText(MainPanelHandle, MAIN_STATUS).rfind("waiting for the simulator", 0) ==
                 0) {
    int dimmed = 0;
    GetCtrlAttribute(MainPanelHandle, MAIN_RUN000, ATTR_DIMMED, &dimmed);
    p.launchDimmedThen = dimmed == 1;
    p.abortedAt = Now();
    EXPECT_TRUE(CommitControl(panel, p.test->abortButton)) << UiLastError();
    p.phase = 2;
  }
}

TEST(AbortDuringATest, ASilentInstrumentsWaitEndsAndTheLaunchWithIt) {
  setenv("GNSS_TIME_SCALE", "0.02", 1);  // before the station's clock is first read
  unsetenv("GNSS_COM_DIR");
  ASSERT_TRUE(StartHeadlessRuntimeOnce("busy_window_tests"));
  const WaitHook previous = SetWaitHook(LaunchWaitHook);
  const Case cases[] = {
      {"basic", callbackRunTest000, &RunPanelHandle, RUN_LOG, "Basic Test: Point #2", RUN_ABORT},
      {"moving", callbackRunTest001, &MovingRunPanel, MOVRUN_LOG, "Monitoring FIX", MOVRUN_ABORT},
  };
  const auto home = std::filesystem::current_path();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    basic_lab::Lab lab(std::string("console-abort-") + c.name);
    std::string error;
    ASSERT_TRUE(lab.Start(&error)) << error;
    std::filesystem::current_path(lab.Dir());
    for (const char* panels : {"GNSS_UI1.uir", "GNSS_UI_AUTOHO.uir"})
      std::filesystem::copy_file(std::string(STATION_SOURCE_DIR "/ui/") + panels, panels);
    MainPanelHandle = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(MainPanelHandle, 0) << UiLastError();
    int basic = 0, moving = 0;
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kBasicPage, &basic);
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &moving);
    const std::string address = "127.0.0.1::" + std::to_string(lab.Port()) + "::SOCKET";
    SetCtrlVal(MainPanelHandle, MAIN_DUTIP, address.c_str());
    SetCtrlVal(MainPanelHandle, MAIN_COMPORT, 3);
    SetCtrlVal(basic, BASIC_ITERATIONS, 5);
    SetCtrlVal(basic, BASIC_MAX_FIXTIME, 60.0);
    SetCtrlVal(moving, MOVING_DURATION, 600);
    SetCtrlVal(moving, MOVING_WAYPOINTS, "48.1, 11.5, 520");

    AbortProbe probe;
    probe.test = &c;
    probe.port = lab.Port();
    const int timer = SetPeriodicCallback(MainPanelHandle, 20, Probe, &probe);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    c.launch(MainPanelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
    const double end = Now();
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    CancelPeriodicCallback(timer);

    EXPECT_EQ(probe.phase, 2) << "the status line never said it waits for the simulator\n" << out;
    EXPECT_TRUE(probe.launchDimmedThen);
    // Each command would otherwise wait out 50 s.
    if (probe.phase == 2) EXPECT_LT(end - probe.abortedAt, 5.0);
    int dimmed = -1;
    GetCtrlAttribute(MainPanelHandle, MAIN_RUN000, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 0);
    DiscardPanel(MainPanelHandle);
    MainPanelHandle = 0;
    std::filesystem::current_path(home);
  }
  SetWaitHook(previous);
}

}  // namespace
