// The launch and run panel callbacks called as the event loop calls them, for
// the state a launch keeps that no file shows: the level offset the tests
// will use, and the sinks and abort flag the run panel buttons change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "report/ProgressLog.h"
#include "state/StationState.h"
#include "support/EmulatorProcess.h"
#include "support/MainPanelFixture.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class LaunchCallbacks : public MainPanelTest {
 protected:
  static void Press(CtrlCallbackPtr callback) {
    CaptureStdout();
    callback(MainPanelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
    GetCapturedStdout();
  }
};

TEST_F(LaunchCallbacks, Test011AndTheSequenceKeepTheLastCopiedLevelOffset) {
  EmulatorProcess emulator(STATION_BINARY_DIR "/bin/qarn-emu");
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  SetCtrlVal(MainPanelHandle, MAIN_DUTIP, emulator.Address().c_str());
  LevelOffset.clear();  // as at start-up

  struct Step {
    const char* offsetOnPanel;
    CtrlCallbackPtr button;
    const char* levelOffset;
  };
  const Step steps[] = {
      {"7", callbackRunTest011, ""},  // first launch: nothing copied yet
      {"5", callbackRunTest000, "5"}, {"9", callbackRunTest011, "5"},
      {"9", callbackRunTestSeq, "5"}, {"9", callbackRunTest003, "9"},
      {"3", callbackRunTest001, "3"}, {"4", callbackRunTest004, "4"},
      {"6", callbackRunTest009, "6"}, {"8", callbackRunTest010, "8"},
      {"2", callbackRunTest012, "2"},
  };
  int i = 0;
  for (const Step& s : steps) {
    SetCtrlVal(MainPanelHandle, MAIN_LEVEL_OFFSET, s.offsetOnPanel);
    Press(s.button);
    EXPECT_EQ(LevelOffset, s.levelOffset) << "step " << i++;
  }
}

TEST_F(LaunchCallbacks, AbortButtonsSetTheFlagOnCommitOnly) {
  for (CtrlCallbackPtr button : {CALLBK_CMDABORT000, CALLBK_CMDABORT009, CALLBK_CMDEXITTEST009}) {
    AbortFlag = 0;
    EXPECT_EQ(button(MainPanelHandle, 0, EVENT_VAL_CHANGED, nullptr, 0, 0), 0);
    EXPECT_EQ(AbortFlag, 0);
    EXPECT_EQ(button(MainPanelHandle, 0, EVENT_COMMIT, nullptr, 0, 0), 0);
    EXPECT_EQ(AbortFlag, 1);
  }
  AbortFlag = 0;
}

TEST_F(LaunchCallbacks, RunFilesThatCannotBeMadeSayWhyOnStderr) {
  // A file named LOG stands where the run-log directories go.
  { std::ofstream("LOG") << "not a directory\n"; }
  testing::internal::CaptureStderr();
  CreateRunLogDirectory();
  WriteFirmwareVersion(RunLogDirectory.c_str(), "QARN,SIM,1\n");
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string directory = "LOG/" + RunLogDirectory;
  EXPECT_NE(err.find("gnss-station: cannot create " + directory + ": "), std::string::npos) << err;
  EXPECT_NE(err.find("gnss-station: cannot write " + directory + "/Firmware_Version.txt: "),
            std::string::npos)
      << err;
  EXPECT_TRUE(std::filesystem::is_regular_file("LOG")) << "the file in the way stays";
}

TEST_F(LaunchCallbacks, ExitButtonOfTheBasicTestClosesItsPanelButLetsItRun) {
  struct Case {
    const char* name;
    bool statusOnRunPanel;  // LogStatus was registered on the run panel
  };
  for (const Case& c : {Case{"status on the run panel", true}, Case{"status elsewhere", false}}) {
    // A second copy of the main panel stands in for the run panel.
    const int runPanel = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(runPanel, 0);
    RunPanelHandle = runPanel;
    StatusLogPanel = c.statusOnRunPanel ? runPanel : MainPanelHandle;
    AbortFlag = 0;

    CALLBK_CMDEXITTEST000(runPanel, 0, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(RunPanelHandle, 0) << c.name;
    EXPECT_EQ(StatusLogPanel, c.statusOnRunPanel ? 0 : MainPanelHandle) << c.name;
    EXPECT_EQ(AbortFlag, 0) << c.name;
    std::string text;
    EXPECT_LT(GetCtrlVal(runPanel, MAIN_DUTIP, &text), 0) << c.name << ": panel not discarded";

    // The test's lines now reach standard output.
    CaptureStdout();
    LogProgress("still running\n", nullptr);
    EXPECT_TRUE(GetCapturedStdout().ends_with("  still running\n")) << c.name;
    StatusLogPanel = 0;
  }
  // Nothing to close: nothing happens.
  EXPECT_EQ(CALLBK_CMDEXITTEST000(MainPanelHandle, 0, EVENT_COMMIT, nullptr, 0, 0), 0);
  EXPECT_EQ(RunPanelHandle, 0);
}

}  // namespace
