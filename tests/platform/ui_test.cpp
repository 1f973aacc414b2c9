// The panel layer off-screen: loading and its contract checks, values across
// control kinds, text boxes, lists, tab pages, commit events and the loop.
#include "platform/ui.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ui_internal.h"

namespace {

enum { PROBE = 1, PAGE_A = 2 };
enum { P_TEXT = 10, P_INT, P_REAL, P_BOX, P_RING, P_LIST, P_BUTTON, P_TAB, P_GROUP, P_PAGE_TEXT };

constexpr ControlEntry kProbeControls[] = {
    {PROBE, PROBE, "Probe"},   {PROBE, P_TEXT, "P_TEXT"},
    {PROBE, P_INT, "P_INT"},   {PROBE, P_REAL, "P_REAL"},
    {PROBE, P_BOX, "P_BOX"},   {PROBE, P_RING, "P_RING"},
    {PROBE, P_LIST, "P_LIST"}, {PROBE, P_BUTTON, "P_BUTTON"},
    {PROBE, P_TAB, "P_TAB"},   {PROBE, P_GROUP, "P_GROUP"},
    {PROBE, PAGE_A, "PAGE_A"}, {PAGE_A, P_PAGE_TEXT, "P_PAGE_TEXT"},
};
constexpr PanelContract kProbeContract = {"probe.uir", kProbeControls, std::size(kProbeControls)};

struct Call {
  int panel, control, event;
};
std::vector<Call> gCalls;
int gDiscardOnCall = 0;

int ProbeCallback(int panel, int control, int event, void*, int, int) {
  gCalls.push_back({panel, control, event});
  if (gDiscardOnCall) DiscardPanel(gDiscardOnCall);
  return 0;
}

const char* kProbeXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>Probe</class>
<widget class="QWidget" name="Probe"><property name="closeControl" stdset="0"><string>P_BUTTON</string></property>
<layout class="QVBoxLayout" name="l">
 <item><widget class="QLineEdit" name="P_TEXT"><property name="callback" stdset="0"><string>ProbeCallback</string></property></widget></item>
 <item><widget class="QSpinBox" name="P_INT"><property name="maximum"><number>1000</number></property></widget></item>
 <item><widget class="QDoubleSpinBox" name="P_REAL"><property name="decimals"><number>6</number></property>
   <property name="minimum"><double>-90</double></property><property name="maximum"><double>90</double></property></widget></item>
 <item><widget class="QPlainTextEdit" name="P_BOX"/></item>
 <item><widget class="QComboBox" name="P_RING"><property name="callback" stdset="0"><string>ProbeCallback</string></property>
   <item><property name="text"><string>zero</string></property></item>
   <item><property name="text"><string>one</string></property></item>
   <item><property name="text"><string>two</string></property></item></widget></item>
 <item><widget class="QGroupBox" name="P_GROUP"><layout class="QVBoxLayout" name="g">
   <item><widget class="QListWidget" name="P_LIST"><property name="callback" stdset="0"><string>ProbeCallback</string></property></widget></item></layout></widget></item>
 <item><widget class="QPushButton" name="P_BUTTON"><property name="callback" stdset="0"><string>ProbeCallback</string></property></widget></item>
 <item><widget class="QTabWidget" name="P_TAB">
   <widget class="QWidget" name="PAGE_A"><layout class="QVBoxLayout" name="a">
     <item><widget class="QLineEdit" name="P_PAGE_TEXT"><property name="callback" stdset="0"><string>ProbeCallback</string></property></widget></item></layout></widget>
   <widget class="QWidget" name="PAGE_B"/></widget></item>
</layout></widget></ui>
)";

class PanelLayer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char name[] = "ui_test";
    static char* argv[] = {name, nullptr};
    ASSERT_NE(InitUserInterfaceRuntime(1, argv, true), 0);
    static const CallbackEntry callbacks[] = {{"ProbeCallback", ProbeCallback}};
    RegisterCallbacks(callbacks, std::size(callbacks));
    RegisterPanelContract(kProbeContract);
  }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    Write(kProbeXml);
    panel_ = LoadPanel(0, Path().c_str(), PROBE);
    ASSERT_GT(panel_, 0) << UiLastError();
    gCalls.clear();
    gDiscardOnCall = 0;
  }
  void TearDown() override {
    if (panel_ > 0) DiscardPanel(panel_);
  }

  void Write(const std::string& xml) {
    QFile file(QString::fromStdString(Path()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(xml.data(), static_cast<qint64>(xml.size()));
  }
  std::string Path() const { return dir_.filePath("probe.uir").toStdString(); }

  QTemporaryDir dir_;
  int panel_ = 0;
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

TEST_F(PanelLayer, LoadFailsLoudlyNamingTheFault) {
  struct Case {
    const char* what;
    std::string xml;
    std::string message;
  } cases[] = {
      {"unknown callback",
       Replaced(kProbeXml, "<string>ProbeCallback</string>", "<string>NoSuchCallback</string>"),
       "NoSuchCallback"},
      {"missing control", Replaced(kProbeXml, "name=\"P_LIST\"", "name=\"P_LIST_OLD\""),
       "has no control P_LIST"},
      {"missing control on a page", Replaced(kProbeXml, "name=\"P_PAGE_TEXT\"", "name=\"X\""),
       "P_PAGE_TEXT"},
      {"not a panel file", "<ui version=\"4.0\"><widget", "probe.uir"},
  };
  for (const Case& c : cases) {
    Write(c.xml);
    EXPECT_LT(LoadPanel(0, Path().c_str(), PROBE), 0) << c.what;
    EXPECT_NE(UiLastError().find(c.message), std::string::npos) << c.what << ": " << UiLastError();
  }
  EXPECT_LT(LoadPanel(0, "absent.uir", PROBE), 0);
  EXPECT_NE(UiLastError().find("absent.uir"), std::string::npos) << UiLastError();
}

// Reading a control of one kind as another, as the procedures do.
TEST_F(PanelLayer, ValuesConvertAcrossControlKinds) {
  SetCtrlVal(panel_, P_REAL, 48.1173);
  std::string text;
  int integer = 0;
  double real = 0.0;
  EXPECT_EQ(GetCtrlVal(panel_, P_REAL, &text), 0);
  EXPECT_EQ(text, "48.117300");
  EXPECT_EQ(GetCtrlVal(panel_, P_REAL, &integer), 0);
  EXPECT_EQ(integer, 48);

  SetCtrlVal(panel_, P_INT, "42");
  EXPECT_EQ(GetCtrlVal(panel_, P_INT, &real), 0);
  EXPECT_EQ(real, 42.0);

  SetCtrlVal(panel_, P_TEXT, 2.5);
  EXPECT_EQ(GetCtrlVal(panel_, P_TEXT, &real), 0);
  EXPECT_EQ(real, 2.5);
  SetCtrlVal(panel_, P_TEXT, "0.000001");
  EXPECT_EQ(GetCtrlVal(panel_, P_TEXT, &real), 0);
  EXPECT_EQ(real, 0.000001);

  SetCtrlVal(panel_, P_RING, 2);
  EXPECT_EQ(GetCtrlVal(panel_, P_RING, &text), 0);
  EXPECT_EQ(text, "two");
  SetCtrlVal(panel_, P_RING, "one");
  EXPECT_EQ(GetCtrlVal(panel_, P_RING, &integer), 0);
  EXPECT_EQ(integer, 1);

  SetCtrlVal(panel_, P_TEXT, "/routes/M\xFCnchen.txt");  // Latin-1, not UTF-8
  GetCtrlVal(panel_, P_TEXT, &text);
  EXPECT_EQ(text, "/routes/M\xC3\xBCnchen.txt") << "the character survives, not a replacement mark";

  char small[5];
  SetCtrlVal(panel_, P_TEXT, "0xB5, 0x62");
  EXPECT_EQ(GetCtrlVal(panel_, P_TEXT, small, sizeof small), 0);
  EXPECT_STREQ(small, "0xB5");

  EXPECT_LT(GetCtrlVal(panel_, 999, &integer), 0);
  EXPECT_LT(GetCtrlVal(12345, P_INT, &integer), 0);
}

TEST_F(PanelLayer, TextBoxAppendsOnSetAndIsReplacedOnReset) {
  SetCtrlVal(panel_, P_BOX, "first\n");
  SetCtrlVal(panel_, P_BOX, "second");
  std::string text;
  GetCtrlVal(panel_, P_BOX, &text);
  EXPECT_EQ(text, "first\nsecond");
  ResetTextBox(panel_, P_BOX, "only");
  GetCtrlVal(panel_, P_BOX, &text);
  EXPECT_EQ(text, "only");
  ResetTextBox(panel_, P_BOX, "");
  GetCtrlVal(panel_, P_BOX, &text);
  EXPECT_EQ(text, "");
}

TEST_F(PanelLayer, ListOperations) {
  int count = -1, index = 0;
  std::string label;
  InsertListItem(panel_, P_LIST, -1, "b");
  InsertListItem(panel_, P_LIST, -1, "c");
  InsertListItem(panel_, P_LIST, 0, "a");
  InsertListItem(panel_, P_LIST, -1, "");
  GetNumListItems(panel_, P_LIST, &count);
  EXPECT_EQ(count, 4);
  GetLabelFromIndex(panel_, P_LIST, 0, &label);
  EXPECT_EQ(label, "a");
  GetLabelFromIndex(panel_, P_LIST, 3, &label);
  EXPECT_EQ(label, "");
  EXPECT_LT(GetLabelFromIndex(panel_, P_LIST, 4, &label), 0);
  EXPECT_LT(InsertListItem(panel_, P_LIST, 9, "far"), 0);

  GetCtrlIndex(panel_, P_LIST, &index);
  EXPECT_EQ(index, -1) << "nothing is selected until the operator or SetCtrlIndex picks an item";
  SetCtrlIndex(panel_, P_LIST, 1);
  GetCtrlIndex(panel_, P_LIST, &index);
  EXPECT_EQ(index, 1);
  DeleteListItem(panel_, P_LIST, 1, 1);
  GetNumListItems(panel_, P_LIST, &count);
  EXPECT_EQ(count, 3);
  GetLabelFromIndex(panel_, P_LIST, 1, &label);
  EXPECT_EQ(label, "c");

  ClearListCtrl(panel_, P_LIST);
  GetNumListItems(panel_, P_LIST, &count);
  GetCtrlIndex(panel_, P_LIST, &index);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(index, -1);
  EXPECT_LT(DeleteListItem(panel_, P_LIST, 0, 1), 0);
}

TEST_F(PanelLayer, VisibilityIsTheControlsOwnEvenOffScreen) {
  int visible = -1;
  GetCtrlAttribute(panel_, P_GROUP, ATTR_VISIBLE, &visible);
  EXPECT_EQ(visible, 1);
  SetCtrlAttribute(panel_, P_GROUP, ATTR_VISIBLE, 0);
  GetCtrlAttribute(panel_, P_GROUP, ATTR_VISIBLE, &visible);
  EXPECT_EQ(visible, 0);
  SetCtrlAttribute(panel_, P_GROUP, ATTR_VISIBLE, 1);
  GetCtrlAttribute(panel_, P_GROUP, ATTR_VISIBLE, &visible);
  EXPECT_EQ(visible, 1);
}

TEST_F(PanelLayer, TabPagesHaveHandlesOfTheirOwn) {
  int pageA = 0, pageB = 0;
  ASSERT_EQ(GetPanelHandleFromTabPage(panel_, P_TAB, 0, &pageA), 0);
  ASSERT_EQ(GetPanelHandleFromTabPage(panel_, P_TAB, 1, &pageB), 0);
  EXPECT_NE(pageA, panel_);
  EXPECT_NE(pageA, pageB);
  EXPECT_EQ(SetCtrlVal(pageA, P_PAGE_TEXT, "on the page"), 0);
  std::string text;
  GetCtrlVal(pageA, P_PAGE_TEXT, &text);
  EXPECT_EQ(text, "on the page");
  EXPECT_LT(GetPanelHandleFromTabPage(panel_, P_TAB, 2, &pageB), 0);
}

// Commits arrive through the widgets' own signals, with the handle of the
// panel or page the control sits on.
TEST_F(PanelLayer, CommitEventsRunTheNamedCallback) {
  int pageA = 0;
  GetPanelHandleFromTabPage(panel_, P_TAB, 0, &pageA);
  auto* line = qobject_cast<QLineEdit*>(ui_internal::ControlWidget(pageA, P_PAGE_TEXT));
  auto* ring = qobject_cast<QComboBox*>(ui_internal::ControlWidget(panel_, P_RING));
  ASSERT_TRUE(line && ring);
  emit line->editingFinished();
  emit ring->activated(1);
  ASSERT_TRUE(CommitControl(panel_, P_BUTTON));
  ASSERT_EQ(gCalls.size(), 3u);
  EXPECT_EQ(gCalls[0].panel, pageA);
  EXPECT_EQ(gCalls[0].control, P_PAGE_TEXT);
  EXPECT_EQ(gCalls[1].control, P_RING);
  EXPECT_EQ(gCalls[2].panel, panel_);
  EXPECT_EQ(gCalls[2].control, P_BUTTON);
  for (const Call& call : gCalls) EXPECT_EQ(call.event, EVENT_COMMIT);

  // Refused: what has no callback, and what the operator cannot reach.
  EXPECT_FALSE(CommitControl(panel_, P_INT));
  SetCtrlAttribute(panel_, P_GROUP, ATTR_VISIBLE, 0);
  EXPECT_FALSE(CommitControl(panel_, P_LIST));
  SetCtrlAttribute(panel_, P_BUTTON, ATTR_DIMMED, 1);
  EXPECT_FALSE(CommitControl(panel_, P_BUTTON));
  SetCtrlAttribute(panel_, P_BUTTON, ATTR_DIMMED, 0);
  SetCtrlAttribute(panel_, P_BUTTON, ATTR_VISIBLE, 0);
  EXPECT_FALSE(CommitControl(panel_, P_BUTTON));
  EXPECT_EQ(gCalls.size(), 3u);
}

// The window's close box commits the control the panel names (the main
// panel's quit button) instead of hiding a panel the station still uses.
TEST_F(PanelLayer, CloseBoxCommitsTheNamedControl) {
  QWidget* window = ui_internal::PanelWidget(panel_);
  DisplayPanel(panel_);
  QCloseEvent close;
  QCoreApplication::sendEvent(window, &close);
  EXPECT_FALSE(close.isAccepted());
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].control, P_BUTTON);
}

TEST_F(PanelLayer, PanelDiscardedFromItsOwnCallback) {
  gDiscardOnCall = panel_;
  ASSERT_TRUE(CommitControl(panel_, P_BUTTON));
  ProcessSystemEvents();
  int value = 0;
  EXPECT_LT(GetCtrlVal(panel_, P_INT, &value), 0);
  int panel = 0, control = 0;
  EXPECT_FALSE(FindControlByName("P_INT", &panel, &control));
  panel_ = 0;
}

TEST_F(PanelLayer, EventLoopEndsWithTheQuitStatus) {
  PostDeferredCall([](void*) { QuitUserInterface(3); }, nullptr);
  EXPECT_EQ(RunUserInterface(), 3);
  EXPECT_FALSE(IsQuitPending());
  QuitUserInterface(4);  // before the loop runs: it returns at once
  EXPECT_EQ(RunUserInterface(), 4);
}

// The run panels' abort buttons only run inside a wait: a wait lets pending
// events run, a wait of 0 or less returns before any does.
TEST_F(PanelLayer, WaitSecondsRunsPendingEventsUnlessNothingIsWaited) {
  int runs = 0;
  PostDeferredCall([](void* counter) { ++*static_cast<int*>(counter); }, &runs);
  WaitSeconds(0.0);
  WaitSeconds(-1.0);
  EXPECT_EQ(runs, 0);
  WaitSeconds(0.01);
  EXPECT_EQ(runs, 1);
}

TEST_F(PanelLayer, HeadlessMessagePopupPrintsTitleAndText) {
  testing::internal::CaptureStdout();
  MessagePopup("Error", "No connection");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: No connection\n");
}

}  // namespace
