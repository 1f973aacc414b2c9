// The main window while a test waits on a silent instrument: its events run
// (a periodic callback answers like the operator's clicks would), it says
// what it waits for, the launch buttons are dimmed so that no second launch
// starts inside the first, and the abort button ends the wait.
#include <string>
#include <vector>

#include "app/GNSS_UI_MENU.h"
#include "tests/console2/ConsoleFixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr int kRunningDimmed[] = {MAIN_RUN000, MAIN_RUN001,   MAIN_RUN003, MAIN_RUN004,
                                  MAIN_RUN009, MAIN_RUN010,   MAIN_RUN011, MAIN_RUN012,
                                  MAIN_RUNSEQ, MAIN_LIVEVIEW, MAIN_QUIT};

int Dimmed(int control) {
  int dimmed = -1;
  GetCtrlAttribute(MainPanelHandle, control, ATTR_DIMMED, &dimmed);
  return dimmed;
}

// What a periodic callback sees of the window during the launch; it presses
// the abort button once the status line has said what the station waits for.
struct Probe {
  int ticks = 0;
  std::string address;    // a `get` of MAIN_DUTIP from inside the wait
  std::string status;     // the first wait text seen
  bool allDimmed = true;  // every launch button dimmed at every tick
  bool abortEnabled = true;
  bool secondLaunchRefused = true;
  double abortedAt = 0;
  bool pressAbort = true;
};

void ProbeWindow(void* data) {
  Probe& p = *static_cast<Probe*>(data);
  ++p.ticks;
  p.address = CtrlValueAsText(MainPanelHandle, MAIN_DUTIP);
  for (int control : kRunningDimmed) p.allDimmed = p.allDimmed && Dimmed(control) == 1;
  p.abortEnabled = p.abortEnabled && Dimmed(MAIN_ABORT) == 0;
  // The operator's click on a dimmed button does nothing.
  p.secondLaunchRefused = p.secondLaunchRefused && !CommitControl(MainPanelHandle, MAIN_RUN001);
  const std::string status = CtrlValueAsText(MainPanelHandle, MAIN_STATUS);
  if (p.status.empty() && status.rfind("waiting for", 0) == 0) p.status = status;
  if (p.pressAbort && p.abortedAt == 0 && !p.status.empty()) {
    p.abortedAt = Now();
    EXPECT_TRUE(CommitControl(MainPanelHandle, MAIN_ABORT)) << UiLastError();
  }
}

TEST_F(ConsoleTest, SilentInstrumentLaunchKeepsTheWindowAliveAndAbortEndsIt) {
  StartSilentInstrument();
  // Idle: the launch buttons take clicks, the abort button does not.
  for (int control : kRunningDimmed) EXPECT_EQ(Dimmed(control), 0) << control;
  EXPECT_EQ(Dimmed(MAIN_ABORT), 1);
  AbortFlag = 1;  // left over from an earlier aborted test: must not cut this one short

  Probe probe;
  const int timer = SetPeriodicCallback(MainPanelHandle, 100, ProbeWindow, &probe);
  ASSERT_GT(timer, 0);
  CaptureStdout();
  CaptureStderr();
  const double start = Now();
  ASSERT_TRUE(CommitControl(MainPanelHandle, MAIN_RUN000)) << UiLastError();
  const double end = Now();
  const std::string out = GetCapturedStdout();
  const std::string err = GetCapturedStderr();
  CancelPeriodicCallback(timer);

  EXPECT_GE(probe.ticks, 5) << "the event loop ran during the wait";
  EXPECT_EQ(probe.address, emulator_.Address()) << "a get answered during the launch";
  EXPECT_EQ(probe.status.rfind("waiting for the simulator at " + emulator_.Resource() + ": ", 0),
            0u)
      << probe.status;
  EXPECT_TRUE(probe.allDimmed);
  EXPECT_TRUE(probe.abortEnabled);
  EXPECT_TRUE(probe.secondLaunchRefused);
  ASSERT_GT(probe.abortedAt, 0) << "the status line never said what it waits for";
  // Without the abort the identification alone waits 50 s, the reset 50 s more.
  EXPECT_LT(end - probe.abortedAt, 5.0) << "the abort ended the waits";
  EXPECT_LT(end - start, 20.0);

  // The standard output has the launch's own texts, and nothing of ours.
  EXPECT_EQ(out.find("gnss-station:"), std::string::npos) << out;
  EXPECT_NE(
      err.find("gnss-station: the simulator at " + emulator_.Resource() + " did not answer *idn?"),
      std::string::npos)
      << err;
  EXPECT_NE(err.find("gnss-station: test 000 aborted before it started"), std::string::npos) << err;

  // Back to idle, on this path as on every other.
  for (int control : kRunningDimmed) EXPECT_EQ(Dimmed(control), 0) << control;
  EXPECT_EQ(Dimmed(MAIN_ABORT), 1);
  EXPECT_EQ(CtrlValueAsText(MainPanelHandle, MAIN_STATUS), "");
}

TEST_F(ConsoleTest, ButtonsComeBackAfterAFailedConnection) {
  SetCtrlVal(MainPanelHandle, MAIN_DUTIP, "127.0.0.1::1::SOCKET");
  for (int button : {MAIN_RUN000, MAIN_RUN009, MAIN_RUN011, MAIN_RUNSEQ}) {
    CaptureStdout();
    CaptureStderr();
    ASSERT_TRUE(CommitControl(MainPanelHandle, button)) << UiLastError();
    GetCapturedStdout();
    GetCapturedStderr();
    for (int control : kRunningDimmed) EXPECT_EQ(Dimmed(control), 0) << button << " " << control;
    EXPECT_EQ(Dimmed(MAIN_ABORT), 1) << button;
    EXPECT_EQ(CtrlValueAsText(MainPanelHandle, MAIN_STATUS), "") << button;
  }
}

}  // namespace
