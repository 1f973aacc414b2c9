// What the operator reads on the main window: the command texts of a built-in
// receiver type (read-only, in place of the hidden editor), warnings about
// tokens that are not hexadecimal bytes, and result fields that look
// unmeasured until a test writes them. Screenshots of the live view against
// qarn-emu and of a built-in profile page are taken under Xvfb and kept in
// the build tree (screenshots/).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "receiver/HexCommands.h"
#include "receiver/ReceiverProfile.h"
#include "state/StationState.h"
#include "tests/console/ScpiClient.h"
#include "tests/support/EmulatorProcess.h"
#include "tests/support/HeadlessRuntime.h"

namespace fs = std::filesystem;

namespace {

const std::string kStation = STATION_BINARY_DIR "/bin/gnss-station";

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/gnss-console-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct ShellRun {
  int exitCode = -1;
  std::string out, err;
};

ShellRun Shell(const std::string& command, const fs::path& dir, const std::string& env = "") {
  const fs::path out = dir / ".out", err = dir / ".err";
  const std::string line = "cd " + Quote(dir) + " && env " + env + " " + command + " >" +
                           Quote(out) + " 2>" + Quote(err);
  const int status = std::system(line.c_str());
  ShellRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  fs::remove(out);
  fs::remove(err);
  return run;
}

// ---- Tokens that are not hexadecimal bytes ------------------------------------

TEST(HexTokens, NonHexTokensAreFoundWithTheirPositions) {
  struct Case {
    const char* text;
    std::vector<HexTokenProblem> expected;
  } cases[] = {
      {"", {}},
      {"0xB5, 0x62;0x0D,0x0A", {}},
      {"0xB, 0x0\n0xff\t0xA;", {}},
      {"0xB5, B5, 0x62", {{7, "B5"}}},
      {"0x1FF, 0x", {{1, "0x1FF"}, {8, "0x"}}},        // sent as 0x1F and 0x00
      {"0XB5 0xG1;0x2C", {{1, "0XB5"}, {6, "0xG1"}}},  // skipped, sent as 0x00
      {"$PORST,F*20", {{1, "$PORST"}, {8, "F*20"}}},
  };
  for (const Case& c : cases) {
    const std::vector<HexTokenProblem> found = FindNonHexTokens(c.text);
    ASSERT_EQ(found.size(), c.expected.size()) << c.text;
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].position, c.expected[i].position) << c.text;
      EXPECT_EQ(found[i].token, c.expected[i].token) << c.text;
    }
  }
  // The built-in texts are clean.
  SetDefaultReceiverProfiles();
  for (int type : {0, 1}) {
    const ReceiverProfile& p = ReceiverProfiles[type];
    for (const std::string* text : {&p.coldStart, &p.gpsInit, &p.glonassInit, &p.extraCommands})
      EXPECT_TRUE(FindNonHexTokens(*text).empty()) << *text;
  }
}

TEST(HexTokens, AppendAndSaveWarnOnStderrAndStoreTheTextAsTyped) {
  TempDir dir;
  const std::vector<std::string> actions = {
      "set RCV_TYPE=12",
      "press RCV_TYPE",
      "set RCV_NEW_EXTRA=0xB5, 0x62, B5, 0x1FF",
      "press RCV_APPEND",
      "set RCV_COLDSTART=0x24;0XAA 0x0D",
      "press RCV_SAVE",
      "get RCV_EXTRA_LIST",
  };
  std::string command = Quote(kStation) + " --headless";
  for (const std::string& action : actions) command += " --do " + Quote(action);
  const ShellRun run = Shell(command, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "RCV_EXTRA_LIST[0]=0xB5, 0x62, B5, 0x1FF\n") << "warnings stay off stdout";
  const std::string appended =
      "gnss-station: warning: new additional command of receiver type 12: \"B5\" at character 13 "
      "is not a hexadecimal byte";
  const std::string saved =
      "gnss-station: warning: cold start of receiver type 12: \"0XAA\" at character 6 is not a "
      "hexadecimal byte";
  EXPECT_NE(run.err.find(appended), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\"0x1FF\" at character 17"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(saved), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("additional commands of receiver type 12: \"B5\" at character 13"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("0x0D\" at"), std::string::npos) << run.err;
  const std::string config = ReadFile(dir.path() / "CONFIG.INI");
  EXPECT_NE(config.find("RCVCLD12=0x24;0XAA 0x0D"), std::string::npos) << config;
  EXPECT_NE(config.find("RCVXTR12=0xB5, 0x62, B5, 0x1FF"), std::string::npos) << config;
}

// ---- The main window in the station's process -----------------------------------

template <class W>
W* Widget(const char* name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == name) return qobject_cast<W*>(top);
    if (auto* found = top->findChild<W*>(name)) return found;
  }
  return nullptr;
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartHeadlessRuntimeOnce("console_tests"));
    home_ = fs::current_path();
    fs::current_path(work_.path());
    SetDefaultReceiverProfiles();
    SelectedReceiverType = 0;
    MainPanelHandle = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(MainPanelHandle, 0) << UiLastError();
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kReceiverPage, &receiver_);
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kBasicPage, &basic_);
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &moving_);
    ShowReceiverProfile();
    LoadConfig();
  }
  void TearDown() override {
    if (MainPanelHandle > 0) DiscardPanel(MainPanelHandle);
    MainPanelHandle = 0;
    if (!home_.empty()) fs::current_path(home_);
  }
  int Visible(int control) {
    int visible = -1;
    GetCtrlAttribute(receiver_, control, ATTR_VISIBLE, &visible);
    return visible;
  }
  std::string Value(int panel, int control) {
    std::string text;
    GetCtrlVal(panel, control, &text);
    return text;
  }
  void ChooseType(int type) {
    SetCtrlVal(receiver_, RCV_TYPE, type);
    ASSERT_TRUE(CommitControl(receiver_, RCV_TYPE)) << UiLastError();
  }

  TempDir work_;
  fs::path home_;
  int receiver_ = 0, basic_ = 0, moving_ = 0;
};

TEST_F(MainWindow, BuiltInTypesShowTheirTextsReadOnlyInPlaceOfTheEditor) {
  // Before any choice the resource's visibility holds: the editor.
  EXPECT_EQ(Visible(RCV_EDIT_GROUP), 1);
  EXPECT_EQ(Visible(RCV_VIEW_GROUP), 0);

  ChooseType(0);
  EXPECT_EQ(Visible(RCV_EDIT_GROUP), 0);
  EXPECT_EQ(Visible(RCV_VIEW_GROUP), 1);
  const ReceiverProfile& ubx = ReceiverProfiles[0];
  EXPECT_EQ(Value(receiver_, RCV_VIEW_COLDSTART), ubx.coldStart);
  EXPECT_EQ(Value(receiver_, RCV_VIEW_GPSINIT), ubx.gpsInit);
  EXPECT_EQ(Value(receiver_, RCV_VIEW_GLNINIT), ubx.glonassInit);
  // The five additional messages, one per line.
  std::string lines = ubx.extraCommands;
  for (char& c : lines) c = c == ';' ? '\n' : c;
  EXPECT_EQ(Value(receiver_, RCV_VIEW_EXTRA), lines);
  for (const char* name :
       {"RCV_VIEW_COLDSTART", "RCV_VIEW_GPSINIT", "RCV_VIEW_GLNINIT", "RCV_VIEW_EXTRA"}) {
    auto* box = Widget<QPlainTextEdit>(name);
    ASSERT_NE(box, nullptr) << name;
    EXPECT_TRUE(box->isReadOnly()) << name;
  }

  ChooseType(1);
  EXPECT_EQ(Value(receiver_, RCV_VIEW_COLDSTART), ReceiverProfiles[1].coldStart);
  EXPECT_EQ(Value(receiver_, RCV_VIEW_GPSINIT), "");

  ChooseType(12);
  EXPECT_EQ(Visible(RCV_EDIT_GROUP), 1);
  EXPECT_EQ(Visible(RCV_VIEW_GROUP), 0);

  ChooseType(9);
  EXPECT_EQ(Visible(RCV_VIEW_GROUP), 1);
  EXPECT_EQ(Value(receiver_, RCV_VIEW_EXTRA), "");
}

TEST_F(MainWindow, ResultsLookUnmeasuredUntilATestWritesThem) {
  struct Field {
    int page;
    int control;
    const char* name;
  };
  const Field averages[] = {{basic_, BASIC_AVG_2D, "BASIC_AVG_2D"},
                            {basic_, BASIC_AVG_3D, "BASIC_AVG_3D"},
                            {moving_, MOVING_AVG_2D, "MOVING_AVG_2D"},
                            {moving_, MOVING_AVG_3D, "MOVING_AVG_3D"}};
  for (const Field& f : averages) {
    auto* spin = Widget<QAbstractSpinBox>(f.name);
    ASSERT_NE(spin, nullptr) << f.name;
    EXPECT_EQ(spin->text().toStdString(), "–") << f.name;
    double value = 0;
    GetCtrlVal(f.page, f.control, &value);
    EXPECT_EQ(value, -1.0) << f.name << ": the value of an average without samples";
    // Written, it reads back and shows as the test wrote it, 0 included.
    for (double written : {12.345678, 0.0}) {
      SetCtrlVal(f.page, f.control, written);
      GetCtrlVal(f.page, f.control, &value);
      EXPECT_EQ(value, written) << f.name;
      char expected[32];
      std::snprintf(expected, sizeof expected, "%.6f", written);
      EXPECT_EQ(spin->text().toStdString(), expected) << f.name;
    }
  }
  const Field texts[] = {{basic_, BASIC_RESULT, "BASIC_RESULT"},
                         {moving_, MOVING_RESULT, "MOVING_RESULT"},
                         {moving_, MOVING_NO_FIX_TIME, "MOVING_NO_FIX_TIME"}};
  for (const Field& f : texts) {
    auto* line = Widget<QLineEdit>(f.name);
    ASSERT_NE(line, nullptr) << f.name;
    EXPECT_EQ(Value(f.page, f.control), "") << f.name;
    EXPECT_EQ(line->placeholderText().toStdString(), "–") << f.name;
  }
}

// ---- Screenshots under Xvfb ---------------------------------------------------------

// Runs the station with a display on a fresh Xvfb and saves the screen (or the
// window of that title) to `shot` once `settleSeconds` have passed; returns
// the colours the picture has.
int StationScreenshot(const std::vector<std::string>& actions, const fs::path& dir,
                      const fs::path& shot, int settleSeconds, const std::string& env,
                      std::string* log, const std::string& window = "root") {
  const fs::path display = dir / "display";
  std::string station = Quote(kStation) + " --workdir " + Quote(dir);
  for (const std::string& action : actions) station += " --do " + Quote(action);
  const std::string script =
      "Xvfb -displayfd 3 -screen 0 1280x960x24 -nolisten tcp 3>" + Quote(display) +
      " 2>/dev/null & xvfb=$!\n"
      "for i in $(seq 1 100); do [ -s " +
      Quote(display) +
      " ] && break; sleep 0.1; done\n"
      "export DISPLAY=:$(cat " +
      Quote(display) + ")\n" + station +
      " & pid=$!\n"
      "sleep " +
      std::to_string(settleSeconds) +
      "\n"
      "import -window " +
      Quote(window) + " " + Quote(shot) + " && echo colors=$(identify -format %k " + Quote(shot) +
      ")\n"
      "kill -0 $pid && echo alive\n"
      "kill $pid; wait $pid\n"
      "kill $xvfb; wait $xvfb\n";
  const ShellRun run =
      Shell("sh -c " + Quote(script), dir, "-u QT_QPA_PLATFORM -u WAYLAND_DISPLAY " + env);
  *log = run.out + run.err;
  if (run.out.find("alive") == std::string::npos) return 0;
  const auto at = run.out.rfind("colors=");
  return at == std::string::npos ? 0 : std::atoi(run.out.c_str() + at + 7);
}

bool HaveXvfb() {
  return std::system("command -v Xvfb >/dev/null 2>&1 && command -v import >/dev/null 2>&1") == 0;
}

fs::path ScreenshotFolder() {
  const fs::path folder = fs::path(STATION_BINARY_DIR) / "screenshots";
  fs::create_directories(folder);
  return folder;
}

TEST(Screenshots, BuiltInProfilePageAndUnmeasuredResults) {
  if (!HaveXvfb()) GTEST_SKIP() << "Xvfb or ImageMagick's import is missing";
  TempDir dir;
  std::string log;
  const fs::path profile = ScreenshotFolder() / "receiver-page-type-0.png";
  EXPECT_GT(
      StationScreenshot({"set RCV_TYPE=0", "press RCV_TYPE"}, dir.path(), profile, 3, "", &log), 32)
      << log;
  const fs::path basic = ScreenshotFolder() / "basic-page-before-a-run.png";
  EXPECT_GT(StationScreenshot({"set MAIN_TAB=1"}, dir.path(), basic, 3, "", &log), 32) << log;
}

TEST(Screenshots, LiveViewAgainstTheEmulatedLab) {
  if (!HaveXvfb()) GTEST_SKIP() << "Xvfb or ImageMagick's import is missing";
  const std::string emulator = STATION_BINARY_DIR "/bin/qarn-emu";
  if (!fs::exists(emulator)) GTEST_SKIP() << "no qarn-emu at " << emulator;
  TempDir dir, com;
  // At the lab's own pace: one epoch a second, as a real receiver sends them.
  EmulatorProcess emu(emulator, "1",
                      {"--com-dir", com.path().string(), "--com", "3", "--ttff", "1"});
  std::string error;
  ASSERT_TRUE(emu.Start(&error)) << error;
  ScpiClient scpi(emu.Port());
  for (const char* command :
       {"SOUR:BB:GPS:HYBR:GAL ON", "SOUR:BB:GPS:HYBR:GLON ON", "SOUR:BB:GPS:SAT:COUNT 12",
        "SOUR:BB:GPS:GOC", "SOUR:BB:GPS:POW:REF -128", "SOUR:BB:GPS:LOC:SEL \"User Defined\"",
        "SOUR:BB:GPS:LOC:COOR:DEC 11.516700,48.117300,520.0", "SOUR:BB:GPS:TRIG:SEQ AUTO",
        "OUTP ON", "SOUR:BB:GPS:STAT ON"}) {
    ASSERT_TRUE(scpi.Command(command)) << command;
  }
  std::string log;
  const fs::path shot = ScreenshotFolder() / "live-receiver-view.png";
  EXPECT_GT(StationScreenshot({"press MAIN_LIVEVIEW", "set LIVE_PORTS=0", "press LIVE_OPEN",
                               // brought forward again, over the standard-output window
                               "press MAIN_LIVEVIEW"},
                              dir.path(), shot, 9, "GNSS_COM_DIR=" + Quote(com.path()), &log,
                              "Live receiver view"),
            32)
      << log;
}

}  // namespace
