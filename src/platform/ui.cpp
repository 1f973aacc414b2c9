// The panel layer on Qt 6 Widgets: run-time, callback and contract registries,
// panel loading and handles, commit events, the event loop. Control values,
// lists and attributes are in ui_values.cpp; the standard-output window in
// ui_stdio_window.cpp.
#include "platform/ui.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <QUiLoader>
#include <QVariant>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/stdio.h"
#include "platform/ui_internal.h"
#include "platform/ui_panels.h"

namespace ui_internal {

Registry& State() {
  static Registry registry;
  return registry;
}

int Fail(int code, const std::string& message) {
  Registry& s = State();
  s.lastError = message;
  if (s.breakOnLibraryErrors) std::fprintf(stderr, "gnss-station: ui: %s\n", message.c_str());
  return code;
}

namespace {
// A panel that cannot load is reported at once, whoever loads it.
int LoadFailed(int code, const std::string& message) {
  Fail(code, "LoadPanel: " + message);
  State().lastError = message;
  return code;
}
}  // namespace

bool InsideCallback() { return State().callbackDepth > 0; }

void RegisterWidgetClass(const QString& className, WidgetFactory factory) {
  State().widgetFactories[className] = std::move(factory);
}

PanelInfo* FindPanel(int panel) {
  auto& panels = State().panels;
  auto it = panels.find(panel);
  return it == panels.end() ? nullptr : &it->second;
}

QWidget* PanelWidget(int panel) {
  PanelInfo* info = FindPanel(panel);
  if (info == nullptr || info->widget.isNull()) {
    Fail(kErrBadPanel, "invalid panel handle " + std::to_string(panel));
    return nullptr;
  }
  return info->widget;
}

ControlInfo* FindControl(int panel, int control, int* owner) {
  // Quiet: the public operation that asked reports the failure with its name.
  PanelInfo* info = FindPanel(panel);
  if (info == nullptr) {
    State().lastError = "invalid panel handle " + std::to_string(panel);
    return nullptr;
  }
  auto it = info->controls.find(control);
  if (it != info->controls.end() && !it->second.widget.isNull()) {
    if (owner) *owner = panel;
    return &it->second;
  }
  // Ids are unique within a resource file: accept a control of the same
  // top-level panel addressed through a sibling handle.
  for (auto& [handle, other] : State().panels) {
    if (other.topHandle != info->topHandle || handle == panel) continue;
    auto found = other.controls.find(control);
    if (found != other.controls.end() && !found->second.widget.isNull()) {
      if (owner) *owner = handle;
      return &found->second;
    }
  }
  State().lastError =
      "control " + std::to_string(control) + " is not on panel " + std::to_string(panel);
  return nullptr;
}

QWidget* ControlWidget(int panel, int control) {
  ControlInfo* info = FindControl(panel, control, nullptr);
  return info ? info->widget.data() : nullptr;
}

void Dispatch(int panel, int control, int event) {
  ControlInfo* info = FindControl(panel, control, nullptr);
  if (info == nullptr || info->callback == nullptr) return;
  CtrlCallbackPtr callback = info->callback;
  ++State().callbackDepth;
  callback(panel, control, event, nullptr, 0, 0);
  --State().callbackDepth;
  // The panel may be gone now: nothing here touches it again.
}

}  // namespace ui_internal

using namespace ui_internal;

namespace {

// Makes widgets the Designer does not know (canvases, chart views) by class
// name; everything else is QUiLoader's.
class PanelLoader : public QUiLoader {
 public:
  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    auto& factories = State().widgetFactories;
    auto it = factories.find(className);
    if (it != factories.end()) {
      QWidget* widget = it.value()(parent, name);
      if (widget) widget->setObjectName(name);
      return widget;
    }
    return QUiLoader::createWidget(className, parent, name);
  }
};

// Commits the control `name` of the panel whose widget is `panelWidget`
// (looked up among that panel and its tab pages only).
void CommitNamedControlOf(QWidget* panelWidget, const std::string& name) {
  Registry& s = State();
  auto owner = s.panelOfWidget.constFind(panelWidget);
  if (owner == s.panelOfWidget.constEnd()) return;
  const int top = s.panels[owner.value()].topHandle;
  for (auto& [handle, info] : s.panels) {
    if (info.topHandle != top) continue;
    for (auto& [id, control] : info.controls) {
      if (control.name == name && !control.widget.isNull()) {
        CommitControl(handle, id);
        return;
      }
    }
  }
}

// Commit of a text box: leaving it after an edit. Also the close box of a
// panel, which commits the control the panel names in "closeControl".
class EventWatcher : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      if (auto* box = qobject_cast<QPlainTextEdit*>(watched)) {
        if (box->document()->isModified()) {
          box->document()->setModified(false);
          CommitWidget(box);
        }
      }
    } else if (event->type() == QEvent::Close) {
      auto* widget = qobject_cast<QWidget*>(watched);
      const QString closeName = widget ? widget->property("closeControl").toString() : QString();
      event->ignore();
      if (!closeName.isEmpty()) CommitNamedControlOf(widget, closeName.toStdString());
      return true;
    }
    return false;
  }

  static void CommitWidget(QWidget* widget) {
    const QVariant handle = widget->property("_uiPanel");
    const QVariant id = widget->property("_uiControl");
    if (handle.isValid() && id.isValid()) Dispatch(handle.toInt(), id.toInt(), EVENT_COMMIT);
  }
};

EventWatcher* Watcher() {
  static QPointer<EventWatcher> watcher;
  if (watcher.isNull()) watcher = new EventWatcher(qApp);
  return watcher;
}

// Connects the widget's commit signal to its callback. Functor connects only.
void ConnectCommit(QWidget* widget) {
  auto commit = [widget] { EventWatcher::CommitWidget(widget); };
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    QObject::connect(button, &QAbstractButton::clicked, button, commit);
  } else if (auto* ring = qobject_cast<QComboBox*>(widget)) {
    QObject::connect(ring, &QComboBox::activated, ring, commit);
  } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
    QObject::connect(list, &QListWidget::itemActivated, list, commit);
  } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    QObject::connect(line, &QLineEdit::editingFinished, line, commit);
  } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(widget)) {
    QObject::connect(spin, &QAbstractSpinBox::editingFinished, spin, commit);
  } else if (auto* tab = qobject_cast<QTabWidget*>(widget)) {
    QObject::connect(tab, &QTabWidget::tabBarClicked, tab, commit);
  } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
    box->installEventFilter(Watcher());
  }
}

QString ResolveResource(const char* fileName) {
  const QString name = QString::fromUtf8(fileName);
  if (QFileInfo(name).isAbsolute()) return name;
  const QString local = QDir::current().filePath(name);
  if (QFileInfo::exists(local)) return local;
  const QString besideExe = QDir(QCoreApplication::applicationDirPath()).filePath("ui/" + name);
  if (QFileInfo::exists(besideExe)) return besideExe;
  return QString();
}

const PanelContract* ContractFor(const QString& path) {
  const QString base = QFileInfo(path).fileName();
  for (const PanelContract& contract : State().contracts) {
    if (QString::fromUtf8(contract.fileName).compare(base, Qt::CaseInsensitive) == 0)
      return &contract;
  }
  return nullptr;
}

const char* ResourceName(const PanelContract& contract, int resource) {
  for (std::size_t i = 0; i < contract.controlCount; ++i) {
    const ControlEntry& row = contract.controls[i];
    if (row.panelResource == resource && row.id == resource) return row.name;
  }
  for (std::size_t i = 0; i < contract.controlCount; ++i) {
    const ControlEntry& row = contract.controls[i];
    if (row.id == resource) return row.name;
  }
  return nullptr;
}

bool IsPanelResource(const PanelContract& contract, int id) {
  for (std::size_t i = 0; i < contract.controlCount; ++i) {
    if (contract.controls[i].panelResource == id) return true;
  }
  return false;
}

QWidget* FindNamed(QWidget* root, const char* name) {
  const QString qname = QString::fromUtf8(name);
  if (root->objectName() == qname) return root;
  return root->findChild<QWidget*>(qname);
}

int NewPanelHandle(int resource, int topHandle, QWidget* widget, const std::string& name) {
  Registry& s = State();
  const int handle = s.nextHandle++;
  PanelInfo& info = s.panels[handle];
  info.handle = handle;
  info.resourceId = resource;
  info.topHandle = topHandle == 0 ? handle : topHandle;
  info.widget = widget;
  info.name = name;
  s.panelOfWidget[widget] = handle;
  return handle;
}

void ForgetPanelFamily(int topHandle) {
  Registry& s = State();
  for (auto it = s.panels.begin(); it != s.panels.end();) {
    if (it->second.topHandle == topHandle) {
      s.panelOfWidget.remove(it->second.widget.data());
      it = s.panels.erase(it);
    } else {
      ++it;
    }
  }
}

// Registers the controls of panel resource `resource` found under `container`
// as controls of `handle`, and its sub-panels (tab pages) with handles of
// their own. Fails naming the first missing control.
bool CheckContract(const PanelContract& contract, int resource, int handle, int topHandle,
                   QWidget* container, std::string* error) {
  for (std::size_t i = 0; i < contract.controlCount; ++i) {
    const ControlEntry& row = contract.controls[i];
    if (row.panelResource != resource || row.id == resource) continue;
    QWidget* widget = FindNamed(container, row.name);
    if (widget == nullptr) {
      *error = std::string(contract.fileName) + ": panel " + State().panels[handle].name +
               " has no control " + row.name;
      return false;
    }
    if (IsPanelResource(contract, row.id)) {
      const int page = NewPanelHandle(row.id, topHandle, widget, row.name);
      if (!CheckContract(contract, row.id, page, topHandle, widget, error)) return false;
      continue;
    }
    ControlInfo& control = State().panels[handle].controls[row.id];
    control.id = row.id;
    control.widget = widget;
    control.name = row.name;
  }
  return true;
}

// Pages listed only by their own row ({PAGE, PAGE, "PAGE"}) belong to whichever
// top-level panel holds a widget of that name.
bool AdoptListedPages(const PanelContract& contract, int topHandle, QWidget* panel,
                      std::string* error) {
  for (std::size_t i = 0; i < contract.controlCount; ++i) {
    const ControlEntry& row = contract.controls[i];
    if (row.panelResource != row.id) continue;
    bool known = false;
    for (auto& [handle, info] : State().panels) {
      if (info.topHandle == topHandle && info.resourceId == row.id) known = true;
    }
    if (known) continue;
    QWidget* widget = panel->findChild<QWidget*>(QString::fromUtf8(row.name));
    if (widget == nullptr) continue;
    const int page = NewPanelHandle(row.id, topHandle, widget, row.name);
    if (!CheckContract(contract, row.id, page, topHandle, widget, error)) return false;
  }
  return true;
}

// The panel handle a widget belongs to: its own, or its nearest ancestor's.
int OwningPanel(QWidget* widget) {
  auto& owners = State().panelOfWidget;
  for (QWidget* w = widget->parentWidget(); w != nullptr; w = w->parentWidget()) {
    auto it = owners.constFind(w);
    if (it != owners.constEnd()) return it.value();
  }
  return 0;
}

bool BindCallbacks(const char* fileName, int topHandle, QWidget* panel, std::string* error) {
  Registry& s = State();
  QList<QWidget*> widgets = panel->findChildren<QWidget*>();
  widgets.prepend(panel);
  for (QWidget* widget : widgets) {
    const QString callbackName = widget->property("callback").toString();
    if (callbackName.isEmpty()) continue;
    auto it = s.callbacks.find(callbackName.toStdString());
    if (it == s.callbacks.end()) {
      *error = std::string(fileName) + ": control " + widget->objectName().toStdString() +
               " names the unknown callback " + callbackName.toStdString();
      return false;
    }
    // The contract's id when the control is listed, else an id of its own.
    int handle = 0, id = 0;
    for (auto& [h, info] : s.panels) {
      if (info.topHandle != topHandle) continue;
      for (auto& [cid, control] : info.controls) {
        if (control.widget == widget) handle = h, id = cid;
      }
    }
    if (handle == 0) {
      handle = OwningPanel(widget);
      if (handle == 0) handle = topHandle;
      id = s.nextSyntheticId++;
      ControlInfo& control = s.panels[handle].controls[id];
      control.id = id;
      control.widget = widget;
      control.name = widget->objectName().toStdString();
    }
    s.panels[handle].controls[id].callback = it->second;
    widget->setProperty("_uiPanel", handle);
    widget->setProperty("_uiControl", id);
    ConnectCommit(widget);
  }
  return true;
}

QEventLoop* gLoop = nullptr;
bool gQuitPending = false;
int gQuitStatus = 0;
bool gHeadless = false;

// The off-screen platform's remarks about what it cannot do are noise to an
// operator reading stderr; everything else Qt says passes through.
QtMessageHandler gDefaultHandler = nullptr;
bool gStartingRuntime = false;
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && gStartingRuntime) {
    // No platform could start (a display that cannot be reached): the
    // run-time initialisation failed, which ends the station with -1, not
    // with an abort.
    std::fflush(stdout);
    std::fprintf(stderr, "gnss-station: the user-interface run-time cannot start: %s\n",
                 message.toLocal8Bit().constData());
    std::_Exit(255);
  }
  if (gHeadless && type != QtFatalMsg &&
      (message.contains("propagateSizeHints") ||
       message.startsWith("QStandardPaths: XDG_RUNTIME_DIR"))) {
    return;
  }
  if (gDefaultHandler) gDefaultHandler(type, context, message);
}

}  // namespace

// ---- Registration ------------------------------------------------------------

void RegisterCallbacks(const CallbackEntry* table, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) State().callbacks[table[i].name] = table[i].function;
}

void RegisterPanelContract(const PanelContract& contract) {
  for (PanelContract& known : State().contracts) {
    if (std::string(known.fileName) == contract.fileName) {
      known = contract;
      return;
    }
  }
  State().contracts.push_back(contract);
}

// ---- Run-time ------------------------------------------------------------------

int InitUserInterfaceRuntime(int argc, char* argv[], bool headless) {
  RegisterGraphWidget();
  RegisterCanvasWidget();
  if (qApp != nullptr) return 1;
  TimeScale();  // read GNSS_TIME_SCALE before any locale change
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  const bool noDisplay =
      qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  if (headless || (noDisplay && platform.isEmpty())) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
  gHeadless = chosen == "offscreen" || chosen == "minimal";

  gDefaultHandler = qInstallMessageHandler(FilterQtMessages);
  // QApplication keeps references to argc and argv for its whole life.
  static int keptArgc = 0;
  static std::vector<char*> keptArgv;
  keptArgc = argc;
  keptArgv.assign(argv, argv + argc);
  keptArgv.push_back(nullptr);
  // Made once and never destroyed: tearing Qt down among the static
  // destructors at exit crashes, and the process end frees everything.
  gStartingRuntime = true;
  new QApplication(keptArgc, keptArgv.data());
  gStartingRuntime = false;
  // Qt has switched the C library to the user's locale: numbers in files and
  // on the wire are read and written in the C locale.
  std::setlocale(LC_NUMERIC, "C");
  QLocale::setDefault(QLocale::c());
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName("gnss-station");
  return 1;
}

bool IsHeadless() { return gHeadless; }

int RunUserInterface() {
  if (qApp == nullptr)
    return Fail(kErrNotInitialised, "RunUserInterface before run-time initialisation");
  if (gQuitPending) {
    gQuitPending = false;
    return gQuitStatus;
  }
  QEventLoop loop;
  QEventLoop* outer = gLoop;
  gLoop = &loop;
  const int status = loop.exec();
  gLoop = outer;
  gQuitPending = false;
  return status;
}

int QuitUserInterface(int status) {
  gQuitStatus = status;
  gQuitPending = true;
  if (gLoop != nullptr) gLoop->exit(status);
  return 0;
}

bool IsQuitPending() { return gQuitPending; }

int ProcessSystemEvents() {
  if (qApp != nullptr) QCoreApplication::processEvents(QEventLoop::AllEvents);
  return 0;
}

int PostDeferredCall(DeferredCallbackPtr function, void* callbackData) {
  if (qApp == nullptr)
    return Fail(kErrNotInitialised, "PostDeferredCall before run-time initialisation");
  QTimer::singleShot(0, qApp, [function, callbackData] {
    ++State().callbackDepth;
    function(callbackData);
    --State().callbackDepth;
  });
  return 0;
}

int SetBOLE(int on) {
  const int previous = State().breakOnLibraryErrors ? 1 : 0;
  State().breakOnLibraryErrors = on != 0;
  return previous;
}

int SetWaitCursor(int on) {
  if (qApp == nullptr) return 0;
  static int shown = 0;
  // Nested calls pair up; the busy arrow still clicks (the abort buttons).
  if (on != 0) {
    if (shown++ == 0) QApplication::setOverrideCursor(Qt::BusyCursor);
  } else if (shown > 0 && --shown == 0) {
    QApplication::restoreOverrideCursor();
  }
  return 0;
}

int MessagePopup(const char* title, const char* message) {
  if (qApp == nullptr || gHeadless) {
    std::string text = message;
    if (text.empty() || text.back() != '\n') text += '\n';
    StdPrintf("%s: %s", title, text.c_str());
    return 0;
  }
  QWidget* parent = QApplication::activeWindow();
  QMessageBox::information(parent, QString::fromUtf8(title), QString::fromUtf8(message));
  return 0;
}

const std::string& UiLastError() { return State().lastError; }

// ---- Panels ----------------------------------------------------------------------

int LoadPanel(int parentPanel, const char* fileName, int panelResource) {
  if (qApp == nullptr)
    return LoadFailed(kErrNotInitialised, "LoadPanel before run-time initialisation");
  const QString path = ResolveResource(fileName);
  if (path.isEmpty()) {
    return LoadFailed(
        kErrFile, std::string("panel resource ") + fileName +
                      " not found in the working directory nor in " +
                      QDir(QCoreApplication::applicationDirPath()).filePath("ui").toStdString());
  }
  const PanelContract* contract = ContractFor(path);
  if (contract == nullptr)
    return LoadFailed(kErrLoad, std::string("no panel contract registered for ") + fileName);
  const char* panelName = ResourceName(*contract, panelResource);
  if (panelName == nullptr) {
    return LoadFailed(kErrLoad, std::string(fileName) + ": unknown panel resource " +
                                    std::to_string(panelResource));
  }

  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return LoadFailed(
        kErrFile, "cannot read " + path.toStdString() + ": " + file.errorString().toStdString());
  }
  PanelLoader loader;
  loader.setWorkingDirectory(QFileInfo(path).absoluteDir());
  QWidget* root = loader.load(&file, nullptr);
  if (root == nullptr) {
    return LoadFailed(
        kErrLoad, "cannot load " + path.toStdString() + ": " + loader.errorString().toStdString());
  }
  // One file may hold several panels under a common root: keep the one asked for.
  QWidget* panel = FindNamed(root, panelName);
  if (panel == nullptr) {
    delete root;
    return LoadFailed(kErrLoad, std::string(fileName) + " has no panel " + panelName);
  }
  if (panel != root) {
    panel->setParent(nullptr);
    delete root;
  }
  if (QWidget* parent = parentPanel > 0 ? PanelWidget(parentPanel) : nullptr) {
    panel->setParent(parent, Qt::Window);
  }

  const int handle = NewPanelHandle(panelResource, 0, panel, panelName);
  std::string error;
  if (!CheckContract(*contract, panelResource, handle, handle, panel, &error) ||
      !AdoptListedPages(*contract, handle, panel, &error) ||
      !BindCallbacks(contract->fileName, handle, panel, &error)) {
    ForgetPanelFamily(handle);
    delete panel;
    return LoadFailed(kErrLoad, error);
  }
  panel->installEventFilter(Watcher());
  return handle;
}

int DisplayPanel(int panel) {
  QWidget* widget = PanelWidget(panel);
  if (widget == nullptr) return kErrBadPanel;
  PanelInfo* info = FindPanel(panel);
  if (info->topHandle != panel) {
    // A tab page: bring its page forward.
    for (QWidget* w = widget->parentWidget(); w != nullptr; w = w->parentWidget()) {
      if (auto* tab = qobject_cast<QTabWidget*>(w)) {
        tab->setCurrentWidget(widget);
        break;
      }
    }
    return 0;
  }
  widget->show();
  if (!gHeadless) widget->raise();
  return 0;
}

int HidePanel(int panel) {
  QWidget* widget = PanelWidget(panel);
  if (widget == nullptr) return kErrBadPanel;
  widget->hide();
  return 0;
}

int DiscardPanel(int panel) {
  PanelInfo* info = FindPanel(panel);
  if (info == nullptr)
    return Fail(kErrBadPanel, "DiscardPanel: invalid panel handle " + std::to_string(panel));
  if (info->topHandle != panel)
    return Fail(kErrBadPanel, "DiscardPanel: a tab page is discarded with its panel");
  QPointer<QWidget> widget = info->widget;
  ForgetPanelFamily(panel);
  if (widget.isNull()) return 0;
  widget->hide();
  // From inside a callback of the panel the widget still has an event on its
  // stack: delete it once that has unwound.
  if (InsideCallback()) {
    widget->deleteLater();
  } else {
    delete widget.data();
  }
  return 0;
}

int GetPanelHandleFromTabPage(int panel, int tabControl, int pageIndex, int* pagePanel) {
  auto* tab = qobject_cast<QTabWidget*>(ControlWidget(panel, tabControl));
  if (tab == nullptr)
    return Fail(kErrBadControl, "GetPanelHandleFromTabPage: control " + std::to_string(tabControl) +
                                    " is not a tab control");
  QWidget* page = tab->widget(pageIndex);
  if (page == nullptr) {
    return Fail(kErrBadValue, "GetPanelHandleFromTabPage: no page " + std::to_string(pageIndex));
  }
  auto& owners = State().panelOfWidget;
  auto it = owners.constFind(page);
  if (it != owners.constEnd()) {
    *pagePanel = it.value();
    return 0;
  }
  // A page the contract does not list gets a handle on first use.
  *pagePanel =
      NewPanelHandle(0, FindPanel(panel)->topHandle, page, page->objectName().toStdString());
  return 0;
}
