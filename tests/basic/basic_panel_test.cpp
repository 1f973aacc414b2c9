// The run panel's buttons pressed while test 000 runs (the station in this
// process, its event loop running the presses from the test's waits), and a
// summary that cannot be written.
#include <gtest/gtest.h>

#include <QTimer>
#include <cstdlib>
#include <functional>
#include <string>

#include "BasicLab.h"
#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI1_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "procedures/X47_GNSS_BasicDisplays.h"
#include "report/ProgressLog.h"
#include "state/StationState.h"
#include "tests/support/HeadlessRuntime.h"

namespace {

using namespace basic_lab;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class BasicRunPanel : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Before the station's clock is first read.
    setenv("GNSS_TIME_SCALE", "0.02", 1);
    unsetenv("GNSS_COM_DIR");
    ASSERT_TRUE(StartHeadlessRuntimeOnce("basic_tests"));
  }
  void SetUp() override {
    home_ = fs::current_path();
    lab_ = std::make_unique<Lab>(testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string error;
    ASSERT_TRUE(lab_->Start(&error)) << error;
    fs::current_path(lab_->Dir());
    fs::copy_file(STATION_SOURCE_DIR "/ui/GNSS_UI1.uir", "GNSS_UI1.uir");
    MainPanelHandle = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(MainPanelHandle, 0) << UiLastError();
    const std::string address = "127.0.0.1::" + std::to_string(lab_->Port()) + "::SOCKET";
    SetCtrlVal(MainPanelHandle, MAIN_DUTIP, address.c_str());
    SetCtrlVal(MainPanelHandle, MAIN_COMPORT, 3);
    SetCtrlVal(BasicPage(), BASIC_MAX_FIXTIME, 60.0);
  }
  void TearDown() override {
    DiscardPanel(MainPanelHandle);
    MainPanelHandle = 0;
    fs::current_path(home_);
    lab_.reset();
  }

  // Runs test 000 through its launch button; `whenLogShows` is pressed (once)
  // as soon as the run panel's log holds `text`. Returns standard output.
  std::string RunWith(const std::string& text, const std::function<void()>& whenLogShows) {
    QTimer watch;
    bool done = false;
    watch.setInterval(2);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (done || RunPanelHandle == 0) return;
      std::string log;
      GetCtrlVal(RunPanelHandle, RUN_LOG, &log);
      if (log.find(text) == std::string::npos) return;
      done = true;
      whenLogShows();
    });
    watch.start();
    CaptureStdout();
    callbackRunTest000(MainPanelHandle, MAIN_RUN000, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(done) << "never saw " << text;
    return GetCapturedStdout();
  }

  std::string Result() {
    std::string result;
    GetCtrlVal(BasicPage(), BASIC_RESULT, &result);
    return result;
  }

  fs::path home_;
  std::unique_ptr<Lab> lab_;
};

TEST_F(BasicRunPanel, AbortDuringPointThreeOfTenEndsTheRunAndCountsAgainstTen) {
  SetCtrlVal(BasicPage(), BASIC_ITERATIONS, 10);
  SetCtrlVal(BasicPage(), BASIC_NUM_GAL, 2);  // a failed point in 5 still passes
  RunWith("Basic Test: Point #3", [this] {
    // No satellite is usable from now on, so point 3 cannot be sampled.
    lab_->Command("EMULator:RECeiver:FAULt:UNUSable 32");
    CommitControl(RunPanelHandle, RUN_ABORT);
  });
  // One failed point of ten configured (not of three run): 0.1 <= 0.201.
  EXPECT_EQ(Result(), "PASS(1!)");
  const std::string html = ReadFile(lab_->RunLog() / "GNSS_000.html");
  EXPECT_EQ(Count(html, "Position acquired!"), 2u);
  EXPECT_EQ(Count(html, "ERROR: Could not get FIX (1)!"), 1u);
  EXPECT_EQ(Count(html, "Basic Test: Point #4"), 0u);
  EXPECT_NE(ReadFile(lab_->RunLog() / "SUMMARY.html").find("<b>PASS(1!)</b>"), std::string::npos);
}

TEST_F(BasicRunPanel, ExitButtonClosesThePanelAndTheTestRunsToItsEnd) {
  SetCtrlVal(BasicPage(), BASIC_ITERATIONS, 3);
  const std::string out =
      RunWith("Basic Test: Point #2", [] { CommitControl(RunPanelHandle, RUN_EXIT); });
  EXPECT_EQ(RunPanelHandle, 0);
  EXPECT_EQ(AbortFlag, 0);
  EXPECT_EQ(Result(), "PASS");
  // Without its panel the test's lines reach standard output.
  EXPECT_NE(out.find("  ************* Basic Test: Point #3 *************\n"), std::string::npos)
      << out;
  EXPECT_TRUE(out.ends_with("Basic Localization test completed!\n")) << out;
  const fs::path dir = lab_->RunLog();
  EXPECT_EQ(Count(ReadFile(dir / "GNSS_000.html"), "Position acquired!"), 3u);
  EXPECT_NE(ReadFile(dir / "SUMMARY.html").find("<b>PASS</b>"), std::string::npos);
  // No panel, no pictures.
  EXPECT_FALSE(fs::exists(dir / "GNSS_000_2DERR_1.jpg"));
  EXPECT_FALSE(fs::exists(dir / "GNSS_000_3DERR_1.jpg"));
}

TEST_F(BasicRunPanel, SummaryThatCannotBeOpenedIsReportedOnTheErrorOutput) {
  RunLogDirectory = "KELMAR_LOGS_2026-12-10_01.02.03";
  fs::create_directories("LOG/KELMAR_LOGS_2026-12-10_01.02.03/SUMMARY.html");
  testing::internal::CaptureStderr();
  WriteBasicSummary(1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("LOG/KELMAR_LOGS_2026-12-10_01.02.03/SUMMARY.html: Is a directory"),
            std::string::npos)
      << err;
}

}  // namespace
