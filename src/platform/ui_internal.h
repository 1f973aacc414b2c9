// Inside the panel layer: what other platform/ files (graphs, canvases,
// tables, bitmaps) need to reach the widgets behind panel handles. Not for use
// outside platform/.
#pragma once

#include <functional>
#include <string>

class QWidget;
class QString;

namespace ui_internal {

// Error codes of the panel operations (negative, like the platform's).
inline constexpr int kErrNotInitialised = -1;
inline constexpr int kErrFile = -3;
inline constexpr int kErrBadPanel = -4;
inline constexpr int kErrBadControl = -13;
inline constexpr int kErrBadValue = -14;
inline constexpr int kErrNotSupported = -20;
inline constexpr int kErrLoad = -30;

// The widget of a panel handle, or nullptr (UiLastError says why).
QWidget* PanelWidget(int panel);
// The widget of (panel, control), or nullptr. A control id is looked up on the
// panel itself first, then on the other panels of the same top-level panel
// (its tab pages and itself), since ids are unique within a resource file.
QWidget* ControlWidget(int panel, int control);

// Records a failed operation: kept for UiLastError and, while break on
// library errors is on, printed on stderr. Returns `code`.
int Fail(int code, const std::string& message);

// Widgets that Qt Designer does not know are made by class name.
using WidgetFactory = std::function<QWidget*(QWidget* parent, const QString& objectName)>;
void RegisterWidgetClass(const QString& className, WidgetFactory factory);

// Attributes of widgets this file does not know (a canvas's pen): a hook
// returns true when it has applied the attribute to the widget.
using AttributeHook = std::function<bool(QWidget* widget, int attribute, int value)>;
void RegisterAttributeHook(AttributeHook hook);

// Texts from the station: UTF-8, or else Windows-1252 bytes (a file written
// on another system, the bullet 0x95 of the satellite table), so that no
// character is lost or replaced.
QString FromStationText(const char* text);

// The widget classes of this layer that Qt Designer does not know: graphs
// ("StationGraph") and canvases ("StationCanvas"). Registered by the run-time
// initialisation.
void RegisterGraphWidget();
void RegisterCanvasWidget();

// The colour 0xRRGGBB of canvas pixel (x, y), or a negative error: for tests.
int CanvasPixel(int panel, int control, int x, int y);

// True while a control callback runs (a panel discarded from inside its own
// callback is deleted later, once the event that called it has finished).
bool InsideCallback();

}  // namespace ui_internal
