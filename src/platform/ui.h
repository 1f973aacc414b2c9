// Panels and controls: the user-interface operations the station's procedures
// call, carried out on Qt 6 Widgets. Panels are Qt Designer XML files loaded
// with QUiLoader; a control is addressed by (panel handle, control id), where
// the id comes from the panel's contract header in ui/ (GNSS_UI_MENU.h, ...)
// and maps to the widget whose objectName is the control's name.
//
// Nothing outside platform/ includes a Qt header: everything the station needs
// of the toolkit goes through this file.
#pragma once

#include <cstddef>
#include <string>

// ---- Events and callbacks --------------------------------------------------

enum UiEvent {
  EVENT_NONE = 0,
  EVENT_COMMIT = 1,  // button click, ring/list choice, Enter or leaving an edited text
  EVENT_VAL_CHANGED = 2,
  EVENT_LEFT_CLICK = 3,
  EVENT_GOT_FOCUS = 4,
  EVENT_LOST_FOCUS = 5,
  EVENT_CLOSE = 6,
};

// The six arguments every control callback has; callbacks return 0.
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);

// A row of the system's callback table: the name a panel resource gives in a
// control's string property "callback", and the procedure it binds to.
struct CallbackEntry {
  const char* name;
  CtrlCallbackPtr function;
};

// A row of a panel contract: control id and the objectName it has in the
// resource. `panelResource` names the top-level panel (resource id) it belongs
// to; a control on a tab page belongs to the page's resource id.
struct ControlEntry {
  int panelResource;
  int id;
  const char* name;
};

// A panel resource file with the panels it holds and their controls. Loading a
// panel checks that every control listed for it exists, and fails otherwise.
struct PanelContract {
  const char* fileName;  // "GNSS_UI_MENU.uir"
  const ControlEntry* controls;
  std::size_t controlCount;
};

// Registration before any panel is loaded (the app does this once at start).
void RegisterCallbacks(const CallbackEntry* table, std::size_t count);
void RegisterPanelContract(const PanelContract& contract);

// ---- Run-time ---------------------------------------------------------------

// The platform's start-up call. Returns 0 on failure (no display and no
// off-screen platform, for example), non-zero on success. `headless` loads the
// panels off-screen; a start without a display is headless as well.
int InitUserInterfaceRuntime(int argc, char* argv[], bool headless);
bool IsHeadless();
int RunUserInterface();  // dispatches events until QuitUserInterface
int QuitUserInterface(int status);
int ProcessSystemEvents();  // the one place where events run during a test
// Break on library errors: while on (the default), a failed panel operation
// prints its reason on stderr. Returns the previous setting.
int SetBOLE(int on);
int MessagePopup(const char* title, const char* message);  // headless: printed, returns
// Runs `function(callbackData)` from the event loop once the current event
// (and the callback it runs) has finished.
using DeferredCallbackPtr = void (*)(void* callbackData);
int PostDeferredCall(DeferredCallbackPtr function, void* callbackData);
// True from QuitUserInterface until RunUserInterface has returned.
bool IsQuitPending();

// Last error of the panel loader, for the front end's stderr message.
const std::string& UiLastError();

// ---- Panels -----------------------------------------------------------------

// Loads the panel `panelResource` (the top-level widget whose objectName is the
// resource id's name) from `fileName`. The file is looked up in the working
// directory first, then in the ui/ folder beside the executable. Returns the
// panel handle (> 0) or a negative value on failure; a missing file, an XML
// error, an unknown callback name or a missing control are failures.
int LoadPanel(int parentPanel, const char* fileName, int panelResource);
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);
// Handle of page `pageIndex` (0, 1, 2, ...) of the tab control `tabControl`.
int GetPanelHandleFromTabPage(int panel, int tabControl, int pageIndex, int* pagePanel);

// ---- Control values ---------------------------------------------------------

int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, double* value);
// Text controls. The text is cut to capacity-1 characters and terminated.
int GetCtrlVal(int panel, int control, char* text, std::size_t capacity);
int GetCtrlVal(int panel, int control, std::string* text);

int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, double value);
// On a string control this replaces the text; on a text box it APPENDS the text
// (as the platform always did), which is how the log boxes grow.
int SetCtrlVal(int panel, int control, const char* text);

int ResetTextBox(int panel, int control, const char* text);  // replaces a text box's contents

// Attributes.
enum UiAttribute {
  ATTR_VISIBLE = 1,
  ATTR_DIMMED = 2,
  ATTR_LABEL_TEXT = 3,  // text value
  ATTR_TEXT_COLOR = 4,
  ATTR_PEN_COLOR = 5,
  ATTR_PEN_WIDTH = 6,
  ATTR_CTRL_VAL = 7,
};
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char* value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);

// ---- Lists and rings --------------------------------------------------------

int ClearListCtrl(int panel, int control);
int InsertListItem(int panel, int control, int index, const char* label);  // index -1: at the end
int GetNumListItems(int panel, int control, int* count);
int GetLabelFromIndex(int panel, int control, int index, char* label, std::size_t capacity);
int GetLabelFromIndex(int panel, int control, int index, std::string* label);
int GetCtrlIndex(int panel, int control, int* index);  // -1 when nothing is selected
int SetCtrlIndex(int panel, int control, int index);
int DeleteListItem(int panel, int control, int index, int count);

// ---- Standard-output window -------------------------------------------------

int SetStdioWindowOptions(int maxLines, int bringToFront, int showLineNumbers);

// ---- Automation (the command-line front end) ---------------------------------

// Finds a control of the loaded panels by name ("MAIN_DUTIP", "RCV_TYPE").
// Returns false when no loaded panel has it.
bool FindControlByName(const std::string& name, int* panel, int* control);
// Gives a control a value from text as if typed, without any event: numbers
// in the C locale and within the control's range, a ring's item text or index,
// a text box's line ends written as "\n". Refusals leave UiLastError.
int SetCtrlValFromText(int panel, int control, const std::string& text);
// The control's value as text; list boxes give their items one per line.
std::string CtrlValueAsText(int panel, int control);
bool CtrlIsList(int panel, int control);
// Runs the control's commit event (button press, ring or text commit) and its
// callback to the end. Returns false (UiLastError says why) when the control
// has no callback or is hidden or dimmed, as the operator could not press it.
bool CommitControl(int panel, int control);
