// CONFIG.INI and the receiver profile editor, through the real main panel
// loaded off-screen, in a fresh working directory per test.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "receiver/ReceiverProfile.h"
#include "state/StationState.h"
#include "tests/support/CommaLocale.h"
#include "tests/support/HeadlessRuntime.h"

namespace {

namespace fs = std::filesystem;

// The built-in texts, as the station documents them.
const std::string kCold0 = "0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0xFF, 0x07, 0x02, 0x00, 0x16, 0x79";
const std::string kGps0 =
    "0xB5, 0x62, 0x06, 0x09, 0x0D, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, "
    "0xFF, 0x00, 0x00, 0x17, 0x2F, 0xAE";
const std::string kGln0 =
    "0xB5, 0x62, 0x06, 0x3E, 0x24, 0x00, 0x00, 0x00, 0x10, 0x04, 0x00, 0x04, 0xFF, 0x00, 0x00, "
    "0x00, 0x00, 0x00, 0x01, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x00, "
    "0x00, 0x00, 0x00, 0x00, 0x06, 0x08, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x9B, 0x1C ";
const std::string kXtr0 =
    "0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x00, 0x01, 0xFB, 0x10;0xB5, 0x62, 0x06, 0x01, "
    "0x03, 0x00, 0xF0, 0x02, 0x01, 0xFD, 0x14;0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x03, "
    "0x01, 0xFE, 0x16;0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x08, 0x01, 0x03, 0x20;0xB5, "
    "0x62, 0x06, 0x17, 0x06, 0x00, 0x00, 0x23, 0x00, 0x04, 0x00, 0x00, 0x4A, 0xF6";
const std::string kCold1 =
    "0x24, 0x50, 0x4F, 0x52, 0x53, 0x54, 0x2C, 0x46, 0x2A, 0x32, 0x30, 0x0D, 0x0A";
const std::string kXtr1 =
    "0x24, 0x50, 0x4F, 0x52, 0x5A, 0x42, 0x2C, 0x5A, 0x44, 0x41, 0x2C, 0x31, 0x2A, 0x33, 0x42, "
    "0x0D, 0x0A";

enum Page { kMain, kReceiverTab, kBasicTab, kMovingTab };

std::string WholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The bytes of a command text ("0xB5, 0x62;0x01" -> messages {B5 62}, {01}).
std::vector<std::vector<std::uint8_t>> Messages(const std::string& text) {
  std::vector<std::vector<std::uint8_t>> messages(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ';') {
      messages.emplace_back();
    } else if (text.compare(i, 2, "0x") == 0) {
      messages.back().push_back(
          static_cast<std::uint8_t>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    }
  }
  return messages;
}

class ConfigTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartHeadlessRuntimeOnce("config_tests")); }

  void SetUp() override {
    home_ = fs::current_path();
    char pattern[] = "/tmp/config_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir_ = pattern;
    fs::current_path(workDir_);

    SetDefaultReceiverProfiles();
    SelectedReceiverType = 0;
    MainPanelHandle = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(MainPanelHandle, 0) << UiLastError();
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kReceiverPage, &receiver_);
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kBasicPage, &basic_);
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &moving_);
    ASSERT_GT(receiver_, 0);
    // Forget the address an earlier load in this process left behind.
    Load("DUTIP\n");
    fs::remove(kConfigFileName);
  }

  void TearDown() override {
    if (MainPanelHandle > 0) DiscardPanel(MainPanelHandle);
    MainPanelHandle = 0;
    fs::current_path(home_);
    fs::remove_all(workDir_);
  }

  int Handle(Page page) const {
    switch (page) {
      case kMain:
        return MainPanelHandle;
      case kReceiverTab:
        return receiver_;
      case kBasicTab:
        return basic_;
      case kMovingTab:
        return moving_;
    }
    return 0;
  }

  std::string Text(Page page, int control) const {
    std::string text;
    EXPECT_EQ(GetCtrlVal(Handle(page), control, &text), 0) << control;
    return text;
  }
  int Int(Page page, int control) const {
    int value = 0;
    EXPECT_EQ(GetCtrlVal(Handle(page), control, &value), 0) << control;
    return value;
  }
  double Real(Page page, int control) const {
    double value = 0;
    EXPECT_EQ(GetCtrlVal(Handle(page), control, &value), 0) << control;
    return value;
  }
  bool Visible(int control) const {
    int visible = -1;
    EXPECT_EQ(GetCtrlAttribute(receiver_, control, ATTR_VISIBLE, &visible), 0);
    return visible != 0;
  }
  std::vector<std::string> ListItems() const {
    int count = 0;
    GetNumListItems(receiver_, RCV_EXTRA_LIST, &count);
    std::vector<std::string> items(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) GetLabelFromIndex(receiver_, RCV_EXTRA_LIST, i, &items[i]);
    return items;
  }

  void Load(const std::string& bytes) {
    WriteWholeFile(kConfigFileName, bytes);
    LoadConfig();
  }
  void ChooseType(int type) {
    ASSERT_EQ(SetCtrlVal(receiver_, RCV_TYPE, type), 0);
    ASSERT_TRUE(CommitControl(receiver_, RCV_TYPE)) << UiLastError();
  }
  void AppendCommand(const std::string& command) {
    ResetTextBox(receiver_, RCV_NEW_EXTRA, command.c_str());
    ASSERT_TRUE(CommitControl(receiver_, RCV_APPEND)) << UiLastError();
  }

  fs::path home_;
  fs::path workDir_;
  int receiver_ = 0;
  int basic_ = 0;
  int moving_ = 0;
};

// ---- Loading --------------------------------------------------------------------------

struct Unchanged {};
using Expected = std::variant<Unchanged, int, double, std::string>;
struct ControlCheck {
  Page page;
  int control;
  Expected value;
};
struct ProfileChange {
  int type;
  std::string ReceiverProfile::*text;
  std::string value;
};
struct LoaderCase {
  const char* name;
  std::string before;  // loaded first: the previous load
  std::string file;
  std::vector<ControlCheck> controls;
  std::vector<ProfileChange> profiles;  // every other text keeps its value
};

constexpr auto kCld = &ReceiverProfile::coldStart;
constexpr auto kGps = &ReceiverProfile::gpsInit;
constexpr auto kGln = &ReceiverProfile::glonassInit;
constexpr auto kXtr = &ReceiverProfile::extraCommands;

std::vector<LoaderCase> LoaderCases() {
  static const char kNul[] = "DUTIP=10.0.0.7\0tail\n\0LEVEL_OFFSET=5\n";
  const std::string nul(kNul, sizeof kNul - 1);
  return {
      {"level offset without value reads 0",
       "",
       "LEVEL_OFFSET=7\nLEVEL_OFFSET=\n",
       {{kMain, MAIN_LEVEL_OFFSET, "0"}},
       {}},
      {"address kept from the previous load, level offset reset",
       "DUTIP=10.0.0.1\nLEVEL_OFFSET=9\n",
       "ZELIP=10.9.9.9\n",
       {{kMain, MAIN_DUTIP, "10.0.0.1"}, {kMain, MAIN_LEVEL_OFFSET, "0"}},
       {}},
      {"address without value empties it",
       "DUTIP=10.0.0.1\n",
       "DUTIP\n",
       {{kMain, MAIN_DUTIP, ""}},
       {}},
      {"comment lines",
       "",
       "#DUTIP=10.0.0.2\n%LEVEL_OFFSET=3\n#RCVCLD05=x\n",
       {{kMain, MAIN_DUTIP, ""}, {kMain, MAIN_LEVEL_OFFSET, "0"}},
       {}},
      {"CR LF and bare LF line ends, last line without one",
       "",
       "DUTIP=10.0.0.3\r\nRCVXTR02=a;b\r\nRCVCLD02=c\nLEVEL_OFFSET=-3",
       {{kMain, MAIN_DUTIP, "10.0.0.3"}, {kMain, MAIN_LEVEL_OFFSET, "-3"}},
       {{2, kXtr, "a;b"}, {2, kCld, "c"}}},
      {"empty fields around = are skipped",
       "",
       "==DUTIP===10.0.0.4=ignored\n=\n\n",
       {{kMain, MAIN_DUTIP, "10.0.0.4"}},
       {}},
      {"keys and values are not trimmed",
       "",
       "DUTIP =10.0.0.5\n DUTIP=10.0.0.6\nLEVEL_OFFSET= 2\n",
       {{kMain, MAIN_DUTIP, ""}, {kMain, MAIN_LEVEL_OFFSET, " 2"}},
       {}},
      {"receiver type read like atoi from two characters",
       "",
       "RCVCLD7=seven\nRCVGPSxy=zero\nRCVGLN 5=five\nRCVXTR123=twelve\nRCVGLN=none\n"
       "RCVCLD42=x\nRCVGPS-1=x\nRCVCLD21=x\nRCVCLX03=x\n",
       {},
       {{7, kCld, "seven"},
        {0, kGps, "zero"},
        {5, kGln, "five"},
        {12, kXtr, "twelve"},
        {0, kGln, "none"}}},
      {"texts without value become empty",
       "",
       "RCVCLD01=\nRCVXTR01\n",
       {},
       {{1, kCld, ""}, {1, kXtr, ""}}},
      {"later lines override earlier ones",
       "",
       "DUTIP=a\nRCVCLD03=x\nDUTIP=b\nRCVCLD03=y\n",
       {{kMain, MAIN_DUTIP, "b"}},
       {{3, kCld, "y"}}},
      {"values cut at their limits",
       "",
       "DUTIP=" + std::string(300, 'A') +
           "\nLEVEL_OFFSET=12345678901234567890\nRCVCLD04=" + std::string(1100, 'c') + "\r\n",
       {{kMain, MAIN_DUTIP, std::string(255, 'A')}, {kMain, MAIN_LEVEL_OFFSET, "123456789012345"}},
       {{4, kCld, std::string(1023, 'c')}}},
      {"lines cut at 2499 characters, the rest ignored",
       "",
       "RCVXTR06=" + std::string(3000, 'x') + "\nRCVXTR07=" + std::string(2490, 'g') +
           "DUTIP=10.6.6.6\r\nRCVXTR08=" + std::string(2490, 'n') + "\r\n",
       {{kMain, MAIN_DUTIP, ""}},
       {{6, kXtr, std::string(2490, 'x')},
        {7, kXtr, std::string(2490, 'g')},
        {8, kXtr, std::string(2490, 'n')}}},
      {"a zero byte ends the line",
       "",
       nul,
       {{kMain, MAIN_DUTIP, "10.0.0.7"}, {kMain, MAIN_LEVEL_OFFSET, "0"}},
       {}},
      {"full basic row, empty text field between two ;",
       "",
       "BASIC=Y;25;8;1;4;6;5;1,2,3;;2,4;120.5;48.1;11.5;520;1000;2.5;\r\n",
       {{kBasicTab, BASIC_ITERATIONS, 25},
        {kBasicTab, BASIC_NUM_GPS, 8},
        {kBasicTab, BASIC_PCODE, 1},
        {kBasicTab, BASIC_NUM_GAL, 4},
        {kBasicTab, BASIC_NUM_GLN, 6},
        {kBasicTab, BASIC_MIN_SATS, 5},
        {kBasicTab, BASIC_GPS_SVID, "1,2,3"},
        {kBasicTab, BASIC_GAL_SVID, ""},
        {kBasicTab, BASIC_GLN_SVID, "2,4"},
        {kBasicTab, BASIC_MAX_FIXTIME, 120.5},
        {kBasicTab, BASIC_REF_LAT, 48.1},
        {kBasicTab, BASIC_REF_LON, 11.5},
        {kBasicTab, BASIC_REF_ALT, 520.0},
        {kBasicTab, BASIC_RADIUS, 1000.0},
        {kBasicTab, BASIC_TOFFSET, 2.5}},
       {}},
      {"row numbers read like atoi and atof",
       "",
       "BASIC=Y;12abc; 7;+3;x;;9.9;a b;AUTO;c;1e3;0x10;  -2.5e-1;4,5;;-.5e1;\n",
       {{kBasicTab, BASIC_ITERATIONS, 12},
        {kBasicTab, BASIC_NUM_GPS, 7},
        {kBasicTab, BASIC_PCODE, 3},
        {kBasicTab, BASIC_NUM_GAL, 0},
        {kBasicTab, BASIC_NUM_GLN, 0},
        {kBasicTab, BASIC_MIN_SATS, 9},
        {kBasicTab, BASIC_GPS_SVID, "a b"},
        {kBasicTab, BASIC_GAL_SVID, "AUTO"},
        {kBasicTab, BASIC_GLN_SVID, "c"},
        {kBasicTab, BASIC_MAX_FIXTIME, 1000.0},
        {kBasicTab, BASIC_REF_LAT, 16.0},
        {kBasicTab, BASIC_REF_LON, -0.25},
        {kBasicTab, BASIC_REF_ALT, 4.0},
        {kBasicTab, BASIC_RADIUS, 0.0},
        {kBasicTab, BASIC_TOFFSET, -5.0}},
       {}},
      {"short row leaves the missing fields alone",
       "",
       "BASIC=Y;7;3\n",
       {{kBasicTab, BASIC_ITERATIONS, 7},
        {kBasicTab, BASIC_NUM_GPS, 3},
        {kBasicTab, BASIC_PCODE, Unchanged{}},
        {kBasicTab, BASIC_GPS_SVID, Unchanged{}},
        {kBasicTab, BASIC_TOFFSET, Unchanged{}}},
       {}},
      {"rows without value change nothing",
       "",
       "BASIC=\nMOVING\n",
       {{kBasicTab, BASIC_ITERATIONS, Unchanged{}}, {kMovingTab, MOVING_DURATION, Unchanged{}}},
       {}},
      {"full moving row, fields after the last ignored",
       "",
       "MOVING=Y;300;6;5;4;9;1,2;11,12;;/route.txt;-18.5;30.25;extra;7;\n",
       {{kMovingTab, MOVING_DURATION, 300},
        {kMovingTab, MOVING_NUM_GPS, 6},
        {kMovingTab, MOVING_NUM_GAL, 5},
        {kMovingTab, MOVING_NUM_GLN, 4},
        {kMovingTab, MOVING_MIN_SATS, 9},
        {kMovingTab, MOVING_GPS_SVIDS, "1,2"},
        {kMovingTab, MOVING_GAL_SVIDS, "11,12"},
        {kMovingTab, MOVING_GLN_SVIDS, ""},
        {kMovingTab, MOVING_WAYPOINTS, "/route.txt"},
        {kMovingTab, MOVING_TIME_OFFSET, -18.5},
        {kMovingTab, MOVING_IGNORE_TIME, 30.25}},
       {}},
      {"row value cut at 1023, text fields at 255",
       "",
       "BASIC=Y;1;2;3;4;5;6;" + std::string(1100, 'S') + ";x;y;\nMOVING=Y;1;2;3;4;5;" +
           std::string(300, 'w') + ";\n",
       {{kBasicTab, BASIC_MIN_SATS, 6},
        {kBasicTab, BASIC_GPS_SVID, std::string(255, 'S')},
        {kBasicTab, BASIC_GAL_SVID, Unchanged{}},
        {kMovingTab, MOVING_GPS_SVIDS, std::string(255, 'w')},
        {kMovingTab, MOVING_GAL_SVIDS, Unchanged{}}},
       {}},
  };
}

TEST_F(ConfigTest, LoaderRules) {
  for (const LoaderCase& c : LoaderCases()) {
    SCOPED_TRACE(c.name);
    SetDefaultReceiverProfiles();
    Load(c.before.empty() ? "DUTIP\n" : c.before);
    // What the operator typed since is not what a reload shows.
    SetCtrlVal(MainPanelHandle, MAIN_DUTIP, "typed by the operator");
    SetCtrlVal(MainPanelHandle, MAIN_LEVEL_OFFSET, "99");

    std::vector<std::string> before;
    for (const ControlCheck& check : c.controls) {
      before.push_back(CtrlValueAsText(Handle(check.page), check.control));
    }
    std::vector<ReceiverProfile> expected(ReceiverProfiles,
                                          ReceiverProfiles + kReceiverTypeCapacity);
    for (const ProfileChange& change : c.profiles)
      expected[change.type].*change.text = change.value;

    Load(c.file);

    for (std::size_t i = 0; i < c.controls.size(); ++i) {
      const ControlCheck& check = c.controls[i];
      SCOPED_TRACE(testing::Message() << "control " << check.control);
      if (std::holds_alternative<Unchanged>(check.value)) {
        EXPECT_EQ(CtrlValueAsText(Handle(check.page), check.control), before[i]);
      } else if (const int* value = std::get_if<int>(&check.value)) {
        EXPECT_EQ(Int(check.page, check.control), *value);
      } else if (const double* real = std::get_if<double>(&check.value)) {
        EXPECT_DOUBLE_EQ(Real(check.page, check.control), *real);
      } else {
        EXPECT_EQ(Text(check.page, check.control), std::get<std::string>(check.value));
      }
    }
    for (int type = 0; type < kReceiverTypeCapacity; ++type) {
      SCOPED_TRACE(testing::Message() << "type " << type);
      EXPECT_EQ(ReceiverProfiles[type].coldStart, expected[type].coldStart);
      EXPECT_EQ(ReceiverProfiles[type].gpsInit, expected[type].gpsInit);
      EXPECT_EQ(ReceiverProfiles[type].glonassInit, expected[type].glonassInit);
      EXPECT_EQ(ReceiverProfiles[type].extraCommands, expected[type].extraCommands);
    }
  }
}

TEST_F(ConfigTest, WithoutConfigFileTheBuiltInProfilesStand) {
  ASSERT_FALSE(fs::exists(kConfigFileName));
  SetDefaultReceiverProfiles();
  ShowReceiverProfile();
  LoadConfig();

  EXPECT_EQ(Text(kMain, MAIN_DUTIP), "");
  EXPECT_EQ(Text(kMain, MAIN_LEVEL_OFFSET), "0");
  EXPECT_EQ(ReceiverProfiles[0].coldStart, kCold0);
  EXPECT_EQ(ReceiverProfiles[0].gpsInit, kGps0);
  EXPECT_EQ(ReceiverProfiles[0].glonassInit, kGln0);
  EXPECT_EQ(ReceiverProfiles[0].extraCommands, kXtr0);
  EXPECT_EQ(ReceiverProfiles[1].coldStart, kCold1);
  EXPECT_EQ(ReceiverProfiles[1].extraCommands, kXtr1);
  EXPECT_EQ(ReceiverProfiles[1].gpsInit + ReceiverProfiles[1].glonassInit, "");
  for (int type = 2; type < kReceiverTypeCount; ++type) {
    const ReceiverProfile& p = ReceiverProfiles[type];
    EXPECT_EQ(p.coldStart + p.gpsInit + p.glonassInit + p.extraCommands, "") << type;
  }
  // The editor shows type 0, one list item per additional command.
  EXPECT_EQ(Text(kReceiverTab, RCV_GLNINIT), kGln0);
  EXPECT_EQ(ListItems().size(), 5u);
  EXPECT_EQ(SelectedReceiverType, 0);
}

// Independent of how the texts are spelled: every UBX message carries its
// declared length and a correct checksum, and type 1 spells its two sentences.
TEST_F(ConfigTest, BuiltInCommandsAreWellFormed) {
  for (const std::string* text :
       {&ReceiverProfiles[0].gpsInit, &ReceiverProfiles[0].glonassInit,
        &ReceiverProfiles[0].coldStart, &ReceiverProfiles[0].extraCommands}) {
    for (const std::vector<std::uint8_t>& m : Messages(*text)) {
      ASSERT_GE(m.size(), 8u);
      EXPECT_EQ(m[0], 0xB5);
      EXPECT_EQ(m[1], 0x62);
      EXPECT_EQ(m.size(), 8u + (m[4] | (m[5] << 8)));
      std::uint8_t a = 0, b = 0;
      for (std::size_t i = 2; i + 2 < m.size(); ++i) b = static_cast<std::uint8_t>(b + (a += m[i]));
      EXPECT_EQ(m[m.size() - 2], a);
      EXPECT_EQ(m[m.size() - 1], b);
    }
  }
  EXPECT_EQ(Messages(ReceiverProfiles[0].extraCommands).size(), 5u);
  EXPECT_EQ(ReceiverProfiles[0].glonassInit.back(), ' ');
  const auto ascii = [](const std::string& text) {
    const auto bytes = Messages(text).at(0);
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(ascii(ReceiverProfiles[1].coldStart), "$PORST,F*20\r\n");
  EXPECT_EQ(ascii(ReceiverProfiles[1].extraCommands), "$PORZB,ZDA,1*3B\r\n");
}

TEST_F(ConfigTest, EmptyTypeZeroTakesTheEditorsTexts) {
  SetCtrlVal(receiver_, RCV_TYPE, 1);
  ShowReceiverProfile();
  ResetTextBox(receiver_, RCV_GPSINIT, "0x01, 0x02");  // an edit not yet saved
  Load("RCVCLD00=\nRCVGPS00=\nRCVGLN00=\nRCVXTR00=\n");
  EXPECT_EQ(ReceiverProfiles[0].coldStart, kCold1);
  EXPECT_EQ(ReceiverProfiles[0].gpsInit, "0x01, 0x02");
  EXPECT_EQ(ReceiverProfiles[0].glonassInit, "");
  EXPECT_EQ(ReceiverProfiles[0].extraCommands, kXtr1);
  // The editor is refilled from the table: the unsaved edit is gone.
  EXPECT_EQ(Text(kReceiverTab, RCV_GPSINIT), "");
}

TEST_F(ConfigTest, LoadingShowsTheRingsTypeButNeverSelectsIt) {
  SetCtrlVal(receiver_, RCV_TYPE, 5);
  Load("RCVCLD05=0x05\n");
  EXPECT_EQ(Text(kReceiverTab, RCV_COLDSTART), "0x05");
  EXPECT_EQ(SelectedReceiverType, 0);
}

TEST_F(ConfigTest, MissingOrOddFilesNeverStopALoad) {
  Load("DUTIP=10.0.0.9\nLEVEL_OFFSET=4\n");
  const struct {
    const char* name;
    void (*make)();
  } cases[] = {
      {"missing", [] {}},
      {"a directory", [] { fs::create_directory(kConfigFileName); }},
      {"a pipe without writer", [] { ASSERT_EQ(mkfifo(kConfigFileName, 0600), 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(kConfigFileName);
    c.make();
    SetDefaultReceiverProfiles();
    LoadConfig();
    EXPECT_EQ(Text(kMain, MAIN_DUTIP), "10.0.0.9");
    EXPECT_EQ(Text(kMain, MAIN_LEVEL_OFFSET), "0");
    EXPECT_EQ(ReceiverProfiles[0].coldStart, kCold0);
  }
}

TEST_F(ConfigTest, BinaryAndHugeFilesAreReadToTheEnd) {
  std::string binary;
  std::uint32_t seed = 12345;
  for (int i = 0; i < (1 << 20); ++i) {
    seed = seed * 1103515245u + 12345u;
    binary += static_cast<char>(seed >> 24);
  }
  Load(binary + "\nDUTIP=after.binary\n");
  EXPECT_EQ(Text(kMain, MAIN_DUTIP), "after.binary");

  // A line that straddles the reader's 64 KiB reads, then a 5 MB line.
  std::string huge = "#" + std::string(65530 - 2, 'c') + "\n";
  huge += "LEVEL_OFFSET=42\n";
  huge += "RCVXTR09=" + std::string(5 << 20, 'x') + "\n";
  huge += "DUTIP=after.huge\n";
  Load(huge);
  EXPECT_EQ(Text(kMain, MAIN_LEVEL_OFFSET), "42");
  EXPECT_EQ(ReceiverProfiles[9].extraCommands, std::string(2490, 'x'));
  EXPECT_EQ(Text(kMain, MAIN_DUTIP), "after.huge");
}

// ---- Saving ---------------------------------------------------------------------------

struct PanelValue {
  Page page;
  int control;
  std::variant<int, double, std::string> value;
};

const std::vector<PanelValue>& SavedPanel() {
  static const std::vector<PanelValue> values = {
      {kMain, MAIN_DUTIP, "192.168.1.20"},
      {kMain, MAIN_LEVEL_OFFSET, "-3"},
      {kBasicTab, BASIC_ITERATIONS, 25},
      {kBasicTab, BASIC_NUM_GPS, 8},
      {kBasicTab, BASIC_PCODE, 1},
      {kBasicTab, BASIC_NUM_GAL, 4},
      {kBasicTab, BASIC_NUM_GLN, 0},
      {kBasicTab, BASIC_MIN_SATS, 4},
      {kBasicTab, BASIC_GPS_SVID, "AUTO"},
      {kBasicTab, BASIC_GAL_SVID, ""},
      {kBasicTab, BASIC_GLN_SVID, "1,2"},
      {kBasicTab, BASIC_MAX_FIXTIME, 120.0},
      {kBasicTab, BASIC_REF_LAT, 48.1173},
      {kBasicTab, BASIC_REF_LON, -11.5},
      {kBasicTab, BASIC_REF_ALT, 520.25},
      {kBasicTab, BASIC_RADIUS, 1000.0},
      {kBasicTab, BASIC_TOFFSET, -3600.0},
      {kMovingTab, MOVING_DURATION, 120},
      {kMovingTab, MOVING_NUM_GPS, 8},
      {kMovingTab, MOVING_NUM_GAL, 0},
      {kMovingTab, MOVING_NUM_GLN, 6},
      {kMovingTab, MOVING_MIN_SATS, 4},
      {kMovingTab, MOVING_GPS_SVIDS, "AUTO"},
      {kMovingTab, MOVING_GAL_SVIDS, "AUTO"},
      {kMovingTab, MOVING_GLN_SVIDS, "3,4"},
      {kMovingTab, MOVING_WAYPOINTS, "/route.txt"},
      {kMovingTab, MOVING_TIME_OFFSET, 0.5},
      {kMovingTab, MOVING_IGNORE_TIME, 30.0},
  };
  return values;
}

const std::string kSavedFile =
    "DUTIP=192.168.1.20\r\n"
    "LEVEL_OFFSET=-3\r\n"
    "RCVCLD00=" +
    kCold0 +
    "\r\n"
    "RCVGPS00=" +
    kGps0 +
    "\r\n"
    "RCVGLN00=" +
    kGln0 +
    "\r\n"
    "RCVXTR00=" +
    kXtr0 +
    "\r\n"
    "RCVCLD01=" +
    kCold1 +
    "\r\n"
    "RCVGPS01=\r\n"
    "RCVGLN01=\r\n"
    "RCVXTR01=" +
    kXtr1 +
    "\r\n"
    "RCVCLD12=\r\n"
    "RCVGPS12=\r\n"
    "RCVGLN12=\r\n"
    "RCVXTR12=0xB5, 0x62;0x24, 0x0D\r\n"
    "BASIC=Y;25;8;1;4;0;4;AUTO;;1,2;120.000000;48.117300;-11.500000;520.250000;1000.000000;"
    "-3600.000000;\r\n"
    "MOVING=Y;120;8;0;6;4;AUTO;AUTO;3,4;/route.txt;0.500000;30.000000;\r\n";

class ConfigSaveTest : public ConfigTest {
 protected:
  void SetPanel() {
    for (const PanelValue& v : SavedPanel()) {
      const int h = Handle(v.page);
      if (const int* i = std::get_if<int>(&v.value))
        SetCtrlVal(h, v.control, *i);
      else if (const double* d = std::get_if<double>(&v.value))
        SetCtrlVal(h, v.control, *d);
      else
        SetCtrlVal(h, v.control, std::get<std::string>(v.value).c_str());
    }
  }
  void ExpectPanel() {
    for (const PanelValue& v : SavedPanel()) {
      SCOPED_TRACE(testing::Message() << "control " << v.control);
      if (const int* i = std::get_if<int>(&v.value))
        EXPECT_EQ(Int(v.page, v.control), *i);
      else if (const double* d = std::get_if<double>(&v.value))
        EXPECT_DOUBLE_EQ(Real(v.page, v.control), *d);
      else
        EXPECT_EQ(Text(v.page, v.control), std::get<std::string>(v.value));
    }
  }
  // Type 12 gets two additional commands through the editor and is saved.
  void SaveWithEditor() {
    SetPanel();
    ChooseType(12);
    AppendCommand("0xB5, 0x62");
    AppendCommand("0x24, 0x0D");
    ASSERT_TRUE(CommitControl(receiver_, RCV_SAVE)) << UiLastError();
  }
};

TEST_F(ConfigSaveTest, SaveWritesTheExactFile) {
  WriteWholeFile(kConfigFileName, std::string(100000, '#'));  // a longer old file
  SaveWithEditor();
  EXPECT_EQ(WholeFile(kConfigFileName), kSavedFile);
  EXPECT_EQ(ReceiverProfiles[12].extraCommands, "0xB5, 0x62;0x24, 0x0D");
  EXPECT_FALSE(fs::exists("CONFIG.INI.tmp"));
}

TEST_F(ConfigSaveTest, ReloadGivesBackWhatWasSaved) {
  SaveWithEditor();
  // Everything changes after the save; the reload button brings it back.
  for (const PanelValue& v : SavedPanel()) {
    if (std::holds_alternative<std::string>(v.value))
      SetCtrlVal(Handle(v.page), v.control, "x");
    else
      SetCtrlVal(Handle(v.page), v.control, 7);
  }
  SetDefaultReceiverProfiles();
  ASSERT_TRUE(CommitControl(receiver_, RCV_REREAD)) << UiLastError();
  ExpectPanel();
  EXPECT_EQ(ReceiverProfiles[12].extraCommands, "0xB5, 0x62;0x24, 0x0D");
  EXPECT_EQ(ListItems(), (std::vector<std::string>{"0xB5, 0x62", "0x24, 0x0D"}));
}

// Numbers go through the file with "." whatever the user's locale says.
TEST_F(ConfigSaveTest, DecimalCommaLocaleChangesNothing) {
  CommaLocale comma;
  const bool switched = comma.Active();
  std::string saved;
  if (switched) {
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    EXPECT_STREQ(probe, "0,5");  // the locale is in force for the C library
    SaveWithEditor();
    saved = WholeFile(kConfigFileName);
    SetCtrlVal(basic_, BASIC_REF_LAT, 1.0);
    LoadConfig();
  }
  comma.Restore();
  if (!switched) GTEST_SKIP() << "no de_DE.UTF-8";

  EXPECT_EQ(saved, kSavedFile);
  EXPECT_DOUBLE_EQ(Real(kBasicTab, BASIC_REF_LAT), 48.1173);
}

// A multi-line text box would otherwise spill its next line into a line of
// its own, which a reload reads as a key of its own.
TEST_F(ConfigSaveTest, LineEndsInsideATextAreSavedAsBlanks) {
  ChooseType(12);
  ResetTextBox(receiver_, RCV_COLDSTART, "0xB5, 0x62,\n0x06, 0x04\nDUTIP=10.6.6.6");
  ASSERT_TRUE(CommitControl(receiver_, RCV_SAVE));
  EXPECT_NE(
      WholeFile(kConfigFileName).find("\r\nRCVCLD12=0xB5, 0x62, 0x06, 0x04 DUTIP=10.6.6.6\r\n"),
      std::string::npos);
  SetDefaultReceiverProfiles();
  LoadConfig();
  EXPECT_EQ(ReceiverProfiles[12].coldStart, "0xB5, 0x62, 0x06, 0x04 DUTIP");
  EXPECT_EQ(Text(kMain, MAIN_DUTIP), "");
}

TEST_F(ConfigSaveTest, FailedSaveReportsAndLeavesTheOldFileWhole) {
  const struct {
    const char* name;
    bool oldFile;
    const char* directory;  // put where the save must write
  } cases[] = {
      {"temporary name taken by a directory", true, "CONFIG.INI.tmp"},
      {"CONFIG.INI is a directory", false, "CONFIG.INI"},
  };
  const std::string old = "DUTIP=10.1.1.1\r\nLEVEL_OFFSET=2\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(kConfigFileName);
    fs::remove_all("CONFIG.INI.tmp");
    if (c.oldFile) WriteWholeFile(kConfigFileName, old);
    fs::create_directory(c.directory);
    WriteWholeFile(fs::path(c.directory) / "inside", "x");

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(CommitControl(receiver_, RCV_SAVE));
    const std::string errors = testing::internal::GetCapturedStderr();
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_NE(printed.find("Error: Could not save INI file (0)!\n"), std::string::npos);
    // The C library's error report goes to the error output.
    EXPECT_EQ(printed.find("The following error occurred"), std::string::npos);
    EXPECT_NE(errors.find("The following error occurred: "), std::string::npos);
    if (c.oldFile) {
      EXPECT_EQ(WholeFile(kConfigFileName), old);
    } else {
      EXPECT_FALSE(fs::exists("CONFIG.INI.tmp"));
    }
    EXPECT_TRUE(fs::exists(fs::path(c.directory) / "inside"));
  }
}

TEST_F(ConfigSaveTest, SaveThroughALinkReplacesItsTarget) {
  fs::create_directory("shared");
  WriteWholeFile("shared/station.ini", "DUTIP=old\r\n");
  fs::create_symlink("shared/station.ini", kConfigFileName);
  SaveWithEditor();
  EXPECT_TRUE(fs::is_symlink(kConfigFileName));
  EXPECT_EQ(WholeFile("shared/station.ini"), kSavedFile);
}

// ---- The editor -----------------------------------------------------------------------

TEST_F(ConfigTest, ChoosingATypeShowsItAndAppliesTheVisibilityRule) {
  ReceiverProfiles[12].coldStart = "0x12";
  ReceiverProfiles[3].extraCommands = "0x01;;0x02;";
  const struct {
    int type;
    bool editable;
    std::vector<std::string> items;
  } cases[] = {
      {12, true, {}}, {3, false, {"0x01", "0x02"}}, {9, false, {}}, {10, true, {}}, {20, true, {}},
      {0, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ChooseType(c.type);
    EXPECT_EQ(SelectedReceiverType, c.type);
    EXPECT_EQ(Text(kReceiverTab, RCV_COLDSTART), ReceiverProfiles[c.type].coldStart);
    if (c.type != 0) EXPECT_EQ(ListItems(), c.items);
    for (const int control : kReceiverEditingGroup)
      EXPECT_EQ(Visible(control), c.editable) << control;
  }
}

TEST_F(ConfigTest, AppendAndDeleteEditTheListOnly) {
  ChooseType(12);
  ASSERT_TRUE(CommitControl(receiver_, RCV_DELETE));  // empty list, nothing selected
  EXPECT_TRUE(ListItems().empty());

  AppendCommand("0x01");
  AppendCommand("");
  AppendCommand(std::string(300, 'L'));
  EXPECT_EQ(ListItems(), (std::vector<std::string>{"0x01", "", std::string(255, 'L')}));
  EXPECT_EQ(Text(kReceiverTab, RCV_NEW_EXTRA), "");

  SetCtrlIndex(receiver_, RCV_EXTRA_LIST, 0);
  ASSERT_TRUE(CommitControl(receiver_, RCV_DELETE));
  EXPECT_EQ(ListItems(), (std::vector<std::string>{"", std::string(255, 'L')}));
  EXPECT_EQ(ReceiverProfiles[12].extraCommands, "");

  // Leaving the type throws the unsaved list away.
  ChooseType(3);
  ChooseType(12);
  EXPECT_TRUE(ListItems().empty());
}

TEST_F(ConfigTest, SaveJoinsTheItemsAndEmptyItemsVanishWhenShownAgain) {
  ChooseType(15);
  AppendCommand("a");
  AppendCommand("");
  AppendCommand("b");
  ResetTextBox(receiver_, RCV_GLNINIT, std::string(1100, 'g').c_str());
  ASSERT_TRUE(CommitControl(receiver_, RCV_SAVE));
  EXPECT_EQ(ReceiverProfiles[15].extraCommands, "a;;b");
  EXPECT_EQ(ReceiverProfiles[15].glonassInit, std::string(1023, 'g'));
  ChooseType(15);
  EXPECT_EQ(ListItems(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ConfigTest, CallbacksIgnoreEventsOtherThanCommit) {
  ChooseType(12);
  AppendCommand("0x01");
  SetCtrlIndex(receiver_, RCV_EXTRA_LIST, 0);
  ResetTextBox(receiver_, RCV_NEW_EXTRA, "0x02");
  SetCtrlVal(receiver_, RCV_TYPE, 4);
  WriteWholeFile(kConfigFileName, "DUTIP=10.4.4.4\n");

  for (const CtrlCallbackPtr callback :
       {COMBO_RCVTYPE_CALLBK, CMD_APPEND_EXTRAMSG, CMD_DEL_EXTRAMSG, CMD_RECSAVE, CMD_REREAD_INI}) {
    for (const int event : {EVENT_VAL_CHANGED, EVENT_LEFT_CLICK, EVENT_LOST_FOCUS}) {
      EXPECT_EQ(callback(receiver_, 0, event, nullptr, 0, 0), 0);
    }
  }
  EXPECT_EQ(SelectedReceiverType, 12);
  EXPECT_EQ(ListItems(), std::vector<std::string>{"0x01"});
  EXPECT_EQ(ReceiverProfiles[4].extraCommands, "");
  EXPECT_EQ(WholeFile(kConfigFileName), "DUTIP=10.4.4.4\n");
  EXPECT_EQ(Text(kMain, MAIN_DUTIP), "");
}

}  // namespace
