// CONFIG.INI written from the main panel: the exact bytes, a round trip,
// the C locale for numbers, and saves that fail or go through a link.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "ConfigFixture.h"
#include "support/CommaLocale.h"

namespace {

namespace fs = std::filesystem;

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
  WriteTextFile(kConfigFileName, std::string(100000, '#'));  // a longer old file
  SaveWithEditor();
  EXPECT_EQ(ReadTextFile(kConfigFileName), kSavedFile);
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
    saved = ReadTextFile(kConfigFileName);
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
      ReadTextFile(kConfigFileName).find("\r\nRCVCLD12=0xB5, 0x62, 0x06, 0x04 DUTIP=10.6.6.6\r\n"),
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
    if (c.oldFile) WriteTextFile(kConfigFileName, old);
    fs::create_directory(c.directory);
    WriteTextFile(fs::path(c.directory) / "inside", "x");

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
      EXPECT_EQ(ReadTextFile(kConfigFileName), old);
    } else {
      EXPECT_FALSE(fs::exists("CONFIG.INI.tmp"));
    }
    EXPECT_TRUE(fs::exists(fs::path(c.directory) / "inside"));
  }
}

TEST_F(ConfigSaveTest, SaveThroughALinkReplacesItsTarget) {
  fs::create_directory("shared");
  WriteTextFile("shared/station.ini", "DUTIP=old\r\n");
  fs::create_symlink("shared/station.ini", kConfigFileName);
  SaveWithEditor();
  EXPECT_TRUE(fs::is_symlink(kConfigFileName));
  EXPECT_EQ(ReadTextFile("shared/station.ini"), kSavedFile);
}

}  // namespace
