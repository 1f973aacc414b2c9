// Panels and controls: the user-interface operations the station's procedures
// call, carried out on Qt 6 Widgets. Panels are Qt Designer XML files loaded
// with QUiLoader; a control is addressed by (panel handle, control id), where
// the id comes from the panel's contract header in panels/ (GNSS_UI_MENU_uir.h, ...)
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
// The busy cursor (an arrow with a busy sign: buttons still take clicks) over
// every window while on; calls nest, each 1 paired with a 0.
int SetWaitCursor(int on);
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
  ATTR_REFRESH_GRAPH = 8,  // graphs: 0 = redraw only on RefreshGraph
  ATTR_BACK_COLOR = 9,     // numeric indicators: the background colour
  ATTR_WIDTH = 10,
  ATTR_HEIGHT = 11,
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

// ---- Graphs (Qt Charts) -------------------------------------------------------
// In a panel resource: <widget class="StationGraph" name="RUN_GRAPH_2D">, with
// optional string properties (stdset="0") "xLabel" and "yLabel", the axis
// titles ("sample" and "error [m]" when absent). The axes start at 0 and grow
// to the data. Colours are 0xRRGGBB.
inline constexpr int VAL_BLACK = 0x000000;
inline constexpr int VAL_RED = 0xFF0000;
inline constexpr int VAL_GREEN = 0x00FF00;
inline constexpr int VAL_DK_GREEN = 0x008000;
inline constexpr int VAL_BLUE = 0x0000FF;
inline constexpr int VAL_GRAY = 0xA0A0A0;
inline constexpr int VAL_WHITE = 0xFFFFFF;

// plotHandle -1: every plot of the graph. `refresh`: redraw at once (VAL_IMMEDIATE_DRAW)
// or with the next redraw (VAL_DELAYED_DRAW).
inline constexpr int VAL_ALL_OBJECTS = -1;
inline constexpr int VAL_IMMEDIATE_DRAW = 1;
inline constexpr int VAL_DELAYED_DRAW = 0;
int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh);
// A line from (x1, y1) to (x2, y2) in `color`. Returns a plot handle (> 0) or
// a negative error. Consecutive lines of one colour that join end to start
// share one series, so thousands of calls stay cheap.
int PlotLine(int panel, int control, double x1, double y1, double x2, double y2, int color);
// ATTR_REFRESH_GRAPH 0: the graph is redrawn only by RefreshGraph from now on.
int RefreshGraph(int panel, int control);

// ---- Canvases -----------------------------------------------------------------
// In a panel resource: <widget class="StationCanvas" name="...">, sized by its
// minimumSize or geometry. Pixel coordinates, x to the right, y downwards, on a
// white backing image of the widget's size. ATTR_PEN_COLOR (black at first)
// and ATTR_PEN_WIDTH (1 at first) set the pen; a point is a square dot as wide
// as the pen, centred on it.
struct Rect {
  int top, left, height, width;
};
struct Point {
  int x, y;
};
inline Rect MakeRect(int top, int left, int height, int width) {
  return {top, left, height, width};
}
inline Point MakePoint(int x, int y) { return {x, y}; }
inline constexpr Rect VAL_ENTIRE_OBJECT = {0, 0, -1, -1};
int CanvasClear(int panel, int control, Rect rect);
int CanvasDrawOval(int panel, int control, Rect rect, int drawMode);  // outline only
inline constexpr int VAL_DRAW_FRAME = 0;
int CanvasDrawPoint(int panel, int control, Point point);

// ---- Tables (QTableWidget) ----------------------------------------------------
// Rows and columns are numbered from 1. Cells hold text.
int InsertTableRows(int panel, int control, int index, int count);  // index -1: at the end
int DeleteTableRows(int panel, int control, int index, int count);  // count -1: to the end
int InsertTableColumns(int panel, int control, int index, int count);
int DeleteTableColumns(int panel, int control, int index, int count);
int GetNumTableRows(int panel, int control, int* rows);
int GetNumTableColumns(int panel, int control, int* columns);
int SetTableCellVal(int panel, int control, int row, int column, const char* text);
int GetTableCellVal(int panel, int control, int row, int column, std::string* text);
int SetTableCellBackground(int panel, int control, int row, int column, int color);
int SetTableRowLabel(int panel, int control, int row, const char* label);
int SetTableColumnLabel(int panel, int control, int column, const char* label);
// Re-applies the sizing of rows and columns to their contents (the cells in
// view and the labels).
int FitTableToContents(int panel, int control);

// ---- Control images -------------------------------------------------------------
// The image of a control without its label, as a bitmap handle (> 0); a
// graph's points plotted so far are in it. Works off-screen too.
int GetCtrlDisplayBitmap(int panel, int control, int includeLabel, int* bitmap);
// 0, or negative (nothing replaced) when the file cannot be written.
int SaveBitmapToJPEGFile(int bitmap, const char* path, int quality);
int DiscardBitmap(int bitmap);
// 1 when a file (of any kind) of that name exists, with its size in *size;
// 0 and *size -1 when none does. `size` may be null.
int FileExists(const char* path, int* size);

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
