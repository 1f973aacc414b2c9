// The panel layer's registry: loaded panels and their handles, controls,
// callbacks and contracts. Private to ui*.cpp.
#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_internal.h"

namespace ui_internal {

struct ControlInfo {
  int id = 0;
  QPointer<QWidget> widget;
  std::string name;
  CtrlCallbackPtr callback = nullptr;
};

// A top-level panel or one of its tab pages; pages share their panel's
// topHandle.
struct PanelInfo {
  int handle = 0;
  int resourceId = 0;
  int topHandle = 0;
  QPointer<QWidget> widget;
  std::string name;
  std::map<int, ControlInfo> controls;
};

struct Registry {
  std::map<std::string, CtrlCallbackPtr> callbacks;
  std::vector<PanelContract> contracts;
  std::map<int, PanelInfo> panels;  // ordered by handle: the first loaded panel first
  QHash<QWidget*, int> panelOfWidget;
  QHash<QString, WidgetFactory> widgetFactories;
  int nextHandle = 1;
  int nextSyntheticId = 100000;  // controls with a callback that no contract lists
  int callbackDepth = 0;
  bool breakOnLibraryErrors = true;
  std::string lastError;
};

Registry& State();
PanelInfo* FindPanel(int panel);
// The control of (panel, control), also through a sibling handle of the same
// top-level panel; `owner` receives the handle it belongs to.
ControlInfo* FindControl(int panel, int control, int* owner);
// Runs the control's callback with `event`, if it has one.
void Dispatch(int panel, int control, int event);

}  // namespace ui_internal
