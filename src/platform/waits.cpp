#include "platform/waits.h"

#include <atomic>
#include <chrono>
#include <utility>

namespace {

std::atomic<WaitHook> g_hook{nullptr};
// Waits are those of the user-interface thread in practice; each thread has
// its own chain all the same.
thread_local ScopedWait* t_current = nullptr;
thread_local bool t_inHook = false;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool CallHook(WaitHook hook, const WaitProgress& progress) {
  t_inHook = true;
  const bool stop = hook(progress);
  t_inHook = false;
  return stop;
}

}  // namespace

WaitHook SetWaitHook(WaitHook hook) { return g_hook.exchange(hook); }

ScopedWait::ScopedWait(WaitSubject subject, std::string name)
    : outer_(t_current), subject_(subject), name_(std::move(name)), start_(Now()) {
  t_current = this;
}

ScopedWait::~ScopedWait() {
  t_current = outer_;
  // The hook hears that the wait it was shown is over (a status line clears).
  const WaitHook hook = g_hook.load();
  if (hooked_ && hook != nullptr && !t_inHook) {
    CallHook(hook, WaitProgress{subject_, name_.c_str(), Now() - start_, true});
  }
}

bool WaitSliced() { return g_hook.load() != nullptr && t_current != nullptr && !t_inHook; }

bool WaitTick() {
  if (!WaitSliced()) return false;
  ScopedWait& wait = *t_current;
  wait.hooked_ = true;
  return CallHook(g_hook.load(),
                  WaitProgress{wait.subject_, wait.name_.c_str(), Now() - wait.start_, false});
}
