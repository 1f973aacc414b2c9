// The fixture of the configuration tests: the main panel with its tabs, the
// built-in receiver texts as the station documents them, and readers of the
// panel's controls.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "receiver/ReceiverProfile.h"
#include "state/StationState.h"
#include "support/MainPanelFixture.h"
#include "support/TextFile.h"

// The built-in texts, as the station documents them.
inline const std::string kCold0 =
    "0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0xFF, 0x07, 0x02, 0x00, 0x16, 0x79";
inline const std::string kGps0 =
    "0xB5, 0x62, 0x06, 0x09, 0x0D, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, "
    "0xFF, 0x00, 0x00, 0x17, 0x2F, 0xAE";
inline const std::string kGln0 =
    "0xB5, 0x62, 0x06, 0x3E, 0x24, 0x00, 0x00, 0x00, 0x10, 0x04, 0x00, 0x04, 0xFF, 0x00, 0x00, "
    "0x00, 0x00, 0x00, 0x01, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x00, "
    "0x00, 0x00, 0x00, 0x00, 0x06, 0x08, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x9B, 0x1C ";
inline const std::string kXtr0 =
    "0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x00, 0x01, 0xFB, 0x10;0xB5, 0x62, 0x06, 0x01, "
    "0x03, 0x00, 0xF0, 0x02, 0x01, 0xFD, 0x14;0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x03, "
    "0x01, 0xFE, 0x16;0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x08, 0x01, 0x03, 0x20;0xB5, "
    "0x62, 0x06, 0x17, 0x06, 0x00, 0x00, 0x23, 0x00, 0x04, 0x00, 0x00, 0x4A, 0xF6";
inline const std::string kCold1 =
    "0x24, 0x50, 0x4F, 0x52, 0x53, 0x54, 0x2C, 0x46, 0x2A, 0x32, 0x30, 0x0D, 0x0A";
inline const std::string kXtr1 =
    "0x24, 0x50, 0x4F, 0x52, 0x5A, 0x42, 0x2C, 0x5A, 0x44, 0x41, 0x2C, 0x31, 0x2A, 0x33, 0x42, "
    "0x0D, 0x0A";

enum Page { kMain, kReceiverTab, kBasicTab, kMovingTab };

class ConfigTest : public MainPanelTest {
 protected:
  void SetUp() override {
    SetDefaultReceiverProfiles();
    SelectedReceiverType = 0;
    MainPanelTest::SetUp();
    if (HasFatalFailure()) return;
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kReceiverPage, &receiver_);
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kBasicPage, &basic_);
    GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &moving_);
    ASSERT_GT(receiver_, 0);
    // Forget the address an earlier load in this process left behind.
    Load("DUTIP\n");
    std::filesystem::remove(kConfigFileName);
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
    WriteTextFile(kConfigFileName, bytes);
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

  int receiver_ = 0;
  int basic_ = 0;
  int moving_ = 0;
};
