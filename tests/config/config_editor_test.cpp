// The receiver profile editor on the receiver tab: choosing a type, the
// command list, and saving the edited texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConfigFixture.h"

namespace {

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
  WriteTextFile(kConfigFileName, "DUTIP=10.4.4.4\n");

  for (const CtrlCallbackPtr callback :
       {COMBO_RCVTYPE_CALLBK, CMD_APPEND_EXTRAMSG, CMD_DEL_EXTRAMSG, CMD_RECSAVE, CMD_REREAD_INI}) {
    for (const int event : {EVENT_VAL_CHANGED, EVENT_LEFT_CLICK, EVENT_LOST_FOCUS}) {
      EXPECT_EQ(callback(receiver_, 0, event, nullptr, 0, 0), 0);
    }
  }
  EXPECT_EQ(SelectedReceiverType, 12);
  EXPECT_EQ(ListItems(), std::vector<std::string>{"0x01"});
  EXPECT_EQ(ReceiverProfiles[4].extraCommands, "");
  EXPECT_EQ(ReadTextFile(kConfigFileName), "DUTIP=10.4.4.4\n");
  EXPECT_EQ(Text(kMain, MAIN_DUTIP), "");
}

}  // namespace
