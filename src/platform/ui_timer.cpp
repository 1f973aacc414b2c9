#include "platform/ui_timer.h"

#include <QPointer>
#include <QTimer>
#include <map>
#include <string>

#include "platform/ui_internal.h"
#include "platform/ui_panels.h"

using namespace ui_internal;

namespace {

struct PeriodicTimer {
  QPointer<QTimer> timer;
  bool running = false;
};

std::map<int, PeriodicTimer>& Timers() {
  static std::map<int, PeriodicTimer> timers;
  return timers;
}

int nextTimerId = 1;

}  // namespace

int SetPeriodicCallback(int panel, int intervalMs, DeferredCallbackPtr function,
                        void* callbackData) {
  QWidget* owner = PanelWidget(panel);
  if (owner == nullptr) return kErrBadPanel;
  if (function == nullptr || intervalMs <= 0) {
    return Fail(kErrBadValue, "SetPeriodicCallback: needs a function and an interval above 0");
  }
  const int id = nextTimerId++;
  auto* timer = new QTimer(owner);  // goes with the panel
  timer->setInterval(intervalMs);
  QObject::connect(timer, &QTimer::timeout, timer, [id, function, callbackData] {
    auto it = Timers().find(id);
    if (it == Timers().end() || it->second.running) return;
    it->second.running = true;
    ++State().callbackDepth;
    function(callbackData);
    --State().callbackDepth;
    // The function may have cancelled its own timer.
    it = Timers().find(id);
    if (it != Timers().end()) it->second.running = false;
  });
  Timers()[id].timer = timer;
  timer->start();
  return id;
}

int CancelPeriodicCallback(int timerId) {
  auto it = Timers().find(timerId);
  if (it == Timers().end()) return 0;
  QPointer<QTimer> timer = it->second.timer;
  Timers().erase(it);
  if (!timer.isNull()) {
    timer->stop();
    timer->deleteLater();
  }
  return 0;
}
