// The moving receiver test in-process against a receiver whose every epoch
// the test writes (ScriptedReceiver.h), with qarn-emu as the simulator at the
// fixed position the epochs report. For what one epoch decides: a pass that
// must leave no trace, fix modes outside 0..3, implausible fixes, the Galileo
// C/N0 spread before and after the first good fix, and the abort button.
#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "MovingLab.h"
#include "ScriptedReceiver.h"
#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI_AUTOHO_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "procedures/X47_GNSS_MovingDisplays.h"
#include "state/StationState.h"
#include "tests/support/HeadlessRuntime.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int kScriptedCom = 7;
constexpr int kEpochMilliseconds = 40;  // 0.8 lab seconds at the scale below

struct ScriptedRun {
  std::string out;
  std::string result;
  std::string html;
  std::string noFixTime;
  int maxTableRows = 0;
  std::size_t hotStarts = 0;
  std::size_t truthQueries = 0;
  double seconds = 0;
};

class MovingScripted : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("GNSS_TIME_SCALE", "0.05", 1);
    ASSERT_TRUE(StartHeadlessRuntimeOnce("moving_tests"));
    emulator_ = new EmulatorProcess(STATION_BINARY_DIR "/bin/qarn-emu", "0.05", {"--log"});
    std::string error;
    ASSERT_TRUE(emulator_->Start(&error)) << error;
  }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }

  void SetUp() override {
    home_ = std::filesystem::current_path();
    workdir_ = std::filesystem::temp_directory_path() /
               ("station-moving-scripted-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(workdir_);
    std::filesystem::create_directories(workdir_);
    std::filesystem::current_path(workdir_);
    // The run panel is found in the working directory first.
    std::filesystem::copy_file(STATION_SOURCE_DIR "/ui/GNSS_UI_AUTOHO.uir",
                               workdir_ / "GNSS_UI_AUTOHO.uir");
    ::setenv("GNSS_COM_DIR", (workdir_ / "COM").c_str(), 1);
    MainPanelHandle = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(MainPanelHandle, 0) << UiLastError();
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &page_);
    SetCtrlVal(MainPanelHandle, MAIN_DUTIP, emulator_->Address().c_str());
    SetCtrlVal(MainPanelHandle, MAIN_COMPORT, kScriptedCom);
    SetCtrlVal(page_, MOVING_DURATION, 30);
    SetCtrlVal(page_, MOVING_NUM_GPS, 6);
    SetCtrlVal(page_, MOVING_NUM_GAL, 0);
    SetCtrlVal(page_, MOVING_NUM_GLN, 0);
    SetCtrlVal(page_, MOVING_MIN_SATS, 4);
    SetCtrlVal(page_, MOVING_WAYPOINTS, "48.1, 11.5, 520");
    SetCtrlVal(page_, MOVING_IGNORE_TIME, 0.0);
    SetCtrlVal(page_, MOVING_TIME_OFFSET, 0.0);
  }
  void TearDown() override {
    receiver_.Stop();
    DiscardPanel(MainPanelHandle);
    MainPanelHandle = 0;
    std::filesystem::current_path(home_);
    std::filesystem::remove_all(workdir_);
  }

  // Presses MAIN_RUN001 with the receiver playing `script`; `abortAfterMs`
  // presses the run panel's abort button that long after the start.
  ScriptedRun Run(ScriptedReceiver::Script script, int abortAfterMs = 0) {
    ScriptedRun run;
    std::filesystem::remove_all(workdir_ / "LOG");
    if (!receiver_.Open(workdir_ / "COM", kScriptedCom)) {
      ADD_FAILURE() << "no pseudo-terminal for the scripted receiver";
      return run;
    }
    receiver_.Start(std::move(script), kEpochMilliseconds);
    const std::size_t queriesBefore = CountOf(emulator_->Transcript(), "RT:RLOCation");
    // Watches the run panel while the test runs (timers fire in its waits).
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&run] {
      int rows = 0;
      if (MovingRunPanel != 0 && GetNumTableRows(MovingRunPanel, MOVRUN_SAT_TABLE, &rows) >= 0)
        run.maxTableRows = std::max(run.maxTableRows, rows);
    });
    probe.start(20);
    if (abortAfterMs > 0) {
      QTimer::singleShot(abortAfterMs, [] {
        if (MovingRunPanel != 0) CommitControl(MovingRunPanel, MOVRUN_ABORT);
      });
    }
    const auto start = std::chrono::steady_clock::now();
    CaptureStdout();
    callbackRunTest001(MainPanelHandle, MAIN_RUN001, EVENT_COMMIT, nullptr, 0, 0);
    run.out = GetCapturedStdout();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    probe.stop();
    receiver_.Stop();
    GetCtrlVal(page_, MOVING_RESULT, &run.result);
    GetCtrlVal(page_, MOVING_NO_FIX_TIME, &run.noFixTime);
    for (const auto& entry : std::filesystem::directory_iterator(workdir_ / "LOG"))
      run.html = ReadText(entry.path() / "GNSS_001.html");
    run.hotStarts = receiver_.HotStarts();
    // The transcript trails the queries by a moment.
    run.truthQueries = CountOf(emulator_->ReadOutputFor(100), "RT:RLOCation") - queriesBefore;
    return run;
  }

  static EmulatorProcess* emulator_;
  std::filesystem::path home_, workdir_;
  int page_ = 0;
  ScriptedReceiver receiver_;
};

EmulatorProcess* MovingScripted::emulator_ = nullptr;

const char* const kNeverGood = "ERROR! Never got a sufficiently good fix!";
const char* const kGalileoLine = "GAL C/No differ by more than 4 dB --> HOT START!\n<br>";

// Passes the station must drop before anything else: no row, no report, no
// truth query, no time without fix; a fix mode outside 0..3 says so on
// standard output only.
TEST_F(MovingScripted, DroppedPassesLeaveNoTrace) {
  struct Case {
    const char* name;
    EpochSpec epoch;
    bool navModeLine;
  };
  EpochSpec used31;
  used31.extraUsed = 25;
  EpochSpec mode4;
  mode4.fixMode = 4;
  for (const Case& c : {Case{"usedCount 31", used31, false}, Case{"fix mode 4", mode4, true}}) {
    const ScriptedRun run = Run([&](int, int) { return c.epoch; });
    EXPECT_EQ(run.result, "FAIL") << c.name;
    EXPECT_EQ(run.maxTableRows, 0) << c.name;
    EXPECT_EQ(run.truthQueries, 0u) << c.name;
    EXPECT_EQ(run.noFixTime, "0.000000") << c.name;
    EXPECT_EQ(run.html.find("Periodic report"), std::string::npos) << c.name;
    EXPECT_EQ(run.html.find("Receiver Time"), std::string::npos) << c.name;
    EXPECT_NE(run.html.find(kNeverGood), std::string::npos) << c.name;
    EXPECT_EQ(run.out.find("Ignoring receiver point, NavMode=4...\n") != std::string::npos,
              c.navModeLine)
        << c.name << ": " << run.out;
    EXPECT_EQ(run.html.find("NavMode"), std::string::npos) << c.name;
  }
}

// A fix dated 2050 or with HDOP 50 is not plausible: no measurement, and with
// enough satellites no time without fix either; the pass itself is shown.
TEST_F(MovingScripted, ImplausibleFixesAreNotMeasured) {
  EpochSpec year2050;
  year2050.year = 2050;
  EpochSpec hdop50;
  hdop50.hdop = 50.0;
  for (const EpochSpec& epoch : {year2050, hdop50}) {
    const ScriptedRun run = Run([&](int, int) { return epoch; });
    EXPECT_EQ(run.result, "FAIL");
    EXPECT_NE(run.html.find(kNeverGood), std::string::npos);
    EXPECT_EQ(run.truthQueries, 0u);
    EXPECT_EQ(run.noFixTime, "0.000000");
    EXPECT_GT(run.maxTableRows, 0);
    EXPECT_NE(run.html.find("Periodic report 1: 2D_ERR=-1.000   3D_ERR=-1.000"), std::string::npos);
    EXPECT_EQ(run.html.find("Warning! Only tracking"), std::string::npos);
  }
}

// Two used Galileo satellites at 30 and 34 dB-Hz.
EpochSpec GalileoEpoch(bool spread) {
  EpochSpec e;
  e.satellites = {{3, 40, true},
                  {6, 41, true},
                  {9, 42, true},
                  {12, 43, true},
                  {211, spread ? 30 : 32, true},
                  {212, spread ? 34 : 33, true}};
  return e;
}

// Before the first good fix a spread restarts the receiver once (the epochs
// it sent before the restart are dropped with the buffered text); after the
// first good fix the drive goes on with it.
TEST_F(MovingScripted, GalileoSpreadHotStartsOnlyBeforeTheFirstGoodFix) {
  const ScriptedRun before = Run([](int, int hotStarts) { return GalileoEpoch(hotStarts == 0); });
  EXPECT_EQ(before.hotStarts, 1u);
  EXPECT_EQ(CountOf(before.html, kGalileoLine), 1u) << before.html;
  EXPECT_EQ(before.result, "PASS") << before.html;
  EXPECT_LT(before.html.find(kGalileoLine), before.html.find("Got first good fix!"));

  // Spread from the 12th epoch after the station's initialisation on.
  const ScriptedRun after =
      Run([](int sinceRestart, int) { return GalileoEpoch(sinceRestart >= 12); });
  EXPECT_EQ(after.hotStarts, 0u);
  EXPECT_EQ(after.html.find("GAL C/No differ"), std::string::npos) << after.html;
  EXPECT_EQ(after.result, "PASS") << after.html;
}

// The abort button ends the monitoring at the next pass; the verdict, the
// log's result block and the summary follow as after a full run.
TEST_F(MovingScripted, AbortDuringTheDriveEndsWithAVerdict) {
  SetCtrlVal(page_, MOVING_DURATION, 100000);
  const ScriptedRun run = Run([](int, int) { return EpochSpec(); }, 1500);
  EXPECT_LT(run.seconds, 60.0);
  EXPECT_EQ(run.result, "PASS") << run.html;
  EXPECT_NE(run.html.find("Got first good fix!"), std::string::npos);
  EXPECT_TRUE(run.html.ends_with("<h2>************END OF TEST ROW 1*************</h2><br>\n"));
  EXPECT_NE(run.out.find("Moving receiver test complete!\n"), std::string::npos);
  std::string summary;
  for (const auto& entry : std::filesystem::directory_iterator(workdir_ / "LOG"))
    summary = ReadText(entry.path() / "SUMMARY.html");
  EXPECT_NE(summary.find("<td>100000</td>"), std::string::npos);
}

// Good fixes but not one error averaged (all of them in the ignore window):
// nothing shows the receiver is accurate, so the verdict is FAIL, with the
// reason on the error output and the log's lines as they are.
TEST_F(MovingScripted, NoAveragedErrorIsNoPass) {
  SetCtrlVal(page_, MOVING_IGNORE_TIME, 100000.0);
  testing::internal::CaptureStderr();
  const ScriptedRun run = Run([](int, int) { return EpochSpec(); });
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(run.result, "FAIL");
  EXPECT_NE(run.html.find("Got first good fix!"), std::string::npos);
  EXPECT_NE(run.html.find("Inside ignore time window..."), std::string::npos);
  EXPECT_NE(run.html.find("Average: 3D-Error = -1.000000 m, 2D-Error = -1.000000 m"),
            std::string::npos);
  EXPECT_EQ(run.html.find("ERROR!"), std::string::npos);
  EXPECT_NE(err.find("no position error was averaged"), std::string::npos) << err;
}

// Without a receiver the test ends at once and leaves its HTML log empty,
// closed like every other file it opened.
TEST_F(MovingScripted, NoReceiverPortLeavesAnEmptyClosedLog) {
  SetCtrlVal(MainPanelHandle, MAIN_COMPORT, kScriptedCom + 1);  // no such link
  const auto openFiles = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  std::filesystem::create_directories(workdir_ / "COM");
  // The first launch leaves its simulator session open, as every launch
  // does; the second replaces it.
  CaptureStdout();
  callbackRunTest001(MainPanelHandle, MAIN_RUN001, EVENT_COMMIT, nullptr, 0, 0);
  GetCapturedStdout();
  const auto before = openFiles();
  CaptureStdout();
  callbackRunTest001(MainPanelHandle, MAIN_RUN001, EVENT_COMMIT, nullptr, 0, 0);
  const std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("Error! cant connect to receiver\n"), std::string::npos) << out;
  EXPECT_EQ(openFiles(), before);
  EXPECT_EQ(MovingRunPanel, 0);
  for (const auto& entry : std::filesystem::directory_iterator(workdir_ / "LOG"))
    EXPECT_EQ(ReadText(entry.path() / "GNSS_001.html"), "");
}

}  // namespace
