#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "report/ProgressLog.h"
#include "support/HeadlessRuntime.h"
#include "support/TextFile.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// The C library's asctime of the local time, without its newline: the layout
// the stamps must have.
std::string Asctime(std::time_t t) {
  std::string text = std::asctime(std::localtime(&t));
  text.pop_back();
  return text;
}

// Splits "stamp  rest" and checks the stamp is the (scaled) local time of the
// call, which lies between `before` and `after`.
std::string AfterStamp(const std::string& line, std::time_t before, std::time_t after) {
  EXPECT_GE(line.size(), 26u) << line;
  if (line.size() < 26) return "";
  const std::string stamp = line.substr(0, 24);
  bool matched = false;
  for (std::time_t t = before; t <= after; ++t) matched = matched || stamp == Asctime(t);
  EXPECT_TRUE(matched) << "stamp '" << stamp << "' is not the local time " << Asctime(before);
  EXPECT_EQ(line.substr(24, 2), "  ");
  return line.substr(26);
}

struct ProgressLog : testing::Test {
  void SetUp() override {
    RunPanelHandle = 0;
    StatusLogPanel = 0;
    StatusLogControl = 0;
    StatusLogFile = nullptr;
  }
  void TearDown() override {
    if (StatusLogFile != nullptr) std::fclose(StatusLogFile);
    StatusLogFile = nullptr;
  }
};

TEST(TimeStamp, HasTheAsctimeLayout) {
  // Single- and two-digit days, midnight, the turn of a year.
  const std::time_t times[] = {0, 1331228879, 1332784079, 1704067199, 1704067200, 4102444799};
  for (std::time_t t : times) {
    char stamp[kTimeStampSize];
    FormatLogTimeStamp(t, stamp);
    EXPECT_EQ(std::string(stamp), Asctime(t)) << t;
  }
}

TEST_F(ProgressLog, StatusWithoutSinksGoesToStandardOutputOnly) {
  const std::time_t before = CalendarTime();
  CaptureStdout();
  LogStatus("Setting up QARN.. This may take a couple of seconds..\n");
  const std::string screen = GetCapturedStdout();
  EXPECT_EQ(AfterStamp(screen, before, CalendarTime()),
            "Setting up QARN.. This may take a couple of seconds..\n");
}

TEST_F(ProgressLog, StatusWithAFileGoesThereInsteadOfStandardOutput) {
  StatusLogFile = std::tmpfile();
  const std::time_t before = CalendarTime();
  CaptureStdout();
  LogStatus("Fix: 3D\n");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(AfterStamp(ReadTextStream(StatusLogFile), before, CalendarTime()), "Fix: 3D\n<br>");
}

TEST_F(ProgressLog, ProgressGoesToStandardOutputAndTheGivenFile) {
  struct Case {
    const char* name;
    bool withFile;
  };
  for (const Case& c : {Case{"no file", false}, Case{"file", true}}) {
    std::FILE* file = c.withFile ? std::tmpfile() : nullptr;
    const std::time_t before = CalendarTime();
    CaptureStdout();
    LogProgress("Point #1 done 100%d\n", file);
    const std::string screen = GetCapturedStdout();
    EXPECT_EQ(AfterStamp(screen, before, CalendarTime()), "Point #1 done 100%d\n") << c.name;
    if (file != nullptr) {
      EXPECT_EQ(ReadTextStream(file), screen) << c.name;
      std::fclose(file);
    }
  }
}

TEST_F(ProgressLog, HtmlVariantWritesThePlainLineOnScreenAndTheHtmlLineToTheFile) {
  std::FILE* file = std::tmpfile();
  const std::time_t before = CalendarTime();
  CaptureStdout();
  LogProgressHtml("ERROR: 50% lost\n", GetColorHtml("red", "ERROR: 50% lost\n"), file);
  const std::string screen = GetCapturedStdout();
  const std::string html = ReadTextStream(file);
  std::fclose(file);
  EXPECT_EQ(AfterStamp(screen, before, CalendarTime()), "ERROR: 50% lost\n");
  EXPECT_EQ(html.substr(0, 24), screen.substr(0, 24)) << "one stamp for both lines";
  EXPECT_EQ(html.substr(24), "  <font color='red'>ERROR: 50% lost\n</font><br>");
}

TEST_F(ProgressLog, LinesAreCutAt399Characters) {
  const std::string longMessage(500, 'm');
  std::FILE* file = std::tmpfile();
  StatusLogFile = std::tmpfile();
  CaptureStdout();
  LogStatus(longMessage.c_str());
  LogProgress(longMessage.c_str(), file);
  const std::string screen = GetCapturedStdout();
  const std::string expected = std::string(24, '?') + "  " + std::string(399 - 26, 'm');
  ASSERT_EQ(screen.size(), 399u);
  EXPECT_EQ(screen.substr(24), expected.substr(24));
  EXPECT_EQ(ReadTextStream(file).size(), 399u);
  EXPECT_EQ(ReadTextStream(StatusLogFile).substr(24), expected.substr(24) + "<br>");
  std::fclose(file);
}

TEST(ColorHtml, WrapsTheTextInTheSharedBuffer) {
  const struct {
    const char* colour;
    const char* text;
    const char* html;
  } cases[] = {
      {nullptr, "plain\n", "plain\n<br>"},
      {"green", "PASS %s\n", "<font color='green'>PASS %s\n</font><br>"},
  };
  for (const auto& c : cases) {
    char* result = GetColorHtml(c.colour, c.text);
    EXPECT_EQ(result, GetStringBuffer);
    EXPECT_STREQ(result, c.html);
  }
  // Its own previous result as the text.
  GetColorHtml(nullptr, "a");
  EXPECT_STREQ(GetColorHtml("red", GetStringBuffer), "<font color='red'>a<br></font><br>");
  // Too long for the buffer: cut, not overrun.
  const std::string longText(600, 'x');
  EXPECT_EQ(std::string(GetColorHtml("blue", longText.c_str())).size(),
            static_cast<std::size_t>(kGetStringBufferSize - 1));
}

TEST(ReplaceCharTest, ReplacesEveryOccurrenceAndReturnsTheLength) {
  char path[] = "LOG/KELMAR_LOGS_2012-03-26_17:47:59/GNSS_000.html";
  EXPECT_EQ(ReplaceChar(path, ':', '.'), 49);
  EXPECT_STREQ(path, "LOG/KELMAR_LOGS_2012-03-26_17.47.59/GNSS_000.html");
  char none[] = "";
  EXPECT_EQ(ReplaceChar(none, ':', '.'), 0);
}

// The writers with a panel: a text box of the main panel stands in for the run
// panel's log box.
class ProgressLogPanel : public ProgressLog {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartHeadlessRuntimeOnce("report_tests")); }
  void SetUp() override {
    ProgressLog::SetUp();
    main_ = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(main_, 0) << UiLastError();
    GetPanelHandleFromTabPage(main_, MAIN_TAB, kReceiverPage, &page_);
    ResetTextBox(page_, box_, "earlier\n");
  }
  void TearDown() override {
    RunPanelHandle = 0;
    RunPanelLogControl = 0;
    ProgressLog::TearDown();
    DiscardPanel(main_);
  }
  std::string Box() {
    std::string text;
    GetCtrlVal(page_, box_, &text);
    return text;
  }

  int main_ = 0;
  int page_ = 0;
  const int box_ = RCV_COLDSTART;
};

TEST_F(ProgressLogPanel, StatusGoesToItsBoxAndToTheFileOrStandardOutput) {
  struct Case {
    const char* name;
    int panel, control;  // 0 and -1 stand for "no box"
    bool withFile;
    bool inBox;
  };
  const int page = page_;
  const Case cases[] = {
      {"box, no file", page, box_, false, true},
      {"box and file", page, box_, true, true},
      {"control -1", page, -1, false, false},
      {"panel 0", 0, box_, false, false},
  };
  for (const Case& c : cases) {
    ResetTextBox(page_, box_, "earlier\n");
    StatusLogPanel = c.panel;
    StatusLogControl = c.control;
    StatusLogFile = c.withFile ? std::tmpfile() : nullptr;
    CaptureStdout();
    LogStatus("Fix 3D\n");
    const std::string screen = GetCapturedStdout();
    const std::string box = Box();

    EXPECT_EQ(box.starts_with("earlier\n") && box.ends_with("  Fix 3D\n"), c.inBox)
        << c.name << ": " << box;
    if (c.withFile) {
      EXPECT_EQ(screen, "") << c.name;
      EXPECT_TRUE(ReadTextStream(StatusLogFile).ends_with("  Fix 3D\n<br>")) << c.name;
      std::fclose(StatusLogFile);
      StatusLogFile = nullptr;
    } else {
      EXPECT_TRUE(screen.ends_with("  Fix 3D\n")) << c.name;
    }
  }
}

TEST_F(ProgressLogPanel, ProgressGoesToTheRunPanelInsteadOfStandardOutput) {
  RunPanelHandle = page_;
  RunPanelLogControl = box_;
  std::FILE* file = std::tmpfile();
  CaptureStdout();
  LogProgress("Point #2\n", file);
  LogProgressHtml("FAIL\n", "<font color='red'>FAIL\n</font><br>", file);
  EXPECT_EQ(GetCapturedStdout(), "");

  const std::string box = Box();
  const std::string html = ReadTextStream(file);
  std::fclose(file);
  // Appended after what the box held, each with its stamp.
  ASSERT_EQ(box.size(), std::string("earlier\n").size() + 2 * 26 + 9 + 5) << box;
  EXPECT_EQ(box.substr(0, 8), "earlier\n");
  EXPECT_EQ(box.substr(8 + 24, 11), "  Point #2\n");
  EXPECT_EQ(box.substr(8 + 24 + 11 + 24), "  FAIL\n");
  EXPECT_EQ(html.substr(24, 11), "  Point #2\n");
  EXPECT_EQ(html.substr(24 + 11 + 24), "  <font color='red'>FAIL\n</font><br>");
}

}  // namespace
