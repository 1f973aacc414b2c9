// CONFIG.INI read into the main panel and the receiver profiles: the
// loader's rules, the built-in profiles, odd and damaged files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "ConfigFixture.h"

namespace {

namespace fs = std::filesystem;

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

}  // namespace
