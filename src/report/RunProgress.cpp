#include "report/RunProgress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/ui.h"
#include "text/CText.h"

namespace {

struct Progress {
  std::string test;
  int total = 0;
  bool seconds = false;
  int panel = 0;
  int control = 0;
  bool active = false;
  bool lineOpen = false;  // a terminal line waits for its end
  double lastPlainLine = -1.0;
  std::string text;
};

Progress& State() {
  static Progress progress;
  return progress;
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

// Plain lines (a log file, CI) come at most every few seconds of wall time
// and at every point; a terminal line is rewritten at every update.
constexpr double kPlainLineSeconds = 5.0;

void Show(bool last) {
  Progress& p = State();
  if (p.panel > 0 && p.control > 0) {
    const int previous = SetBOLE(0);
    SetCtrlVal(p.panel, p.control, p.text.c_str());
    SetBOLE(previous);
  }
  if (!IsHeadless()) return;
  if (StderrIsTerminal()) {
    std::fprintf(stderr, "\r\033[K%s%s", p.text.c_str(), last ? "\n" : "");
    p.lineOpen = !last;
  } else {
    // ClockSeconds runs 1/TimeScale() times as fast as the wall clock.
    const double now = ClockSeconds() * TimeScale();
    if (!last && p.seconds && p.lastPlainLine >= 0 && now - p.lastPlainLine < kPlainLineSeconds) {
      return;
    }
    p.lastPlainLine = now;
    std::fprintf(stderr, "%s\n", p.text.c_str());
  }
  std::fflush(stderr);
}

}  // namespace

void ProgressBegin(const char* test, int total, bool seconds, int panel, int control) {
  Progress& p = State();
  if (p.lineOpen) std::fputc('\n', stderr);
  p = Progress{};
  p.test = test ? test : "";
  p.total = total;
  p.seconds = seconds;
  p.panel = panel;
  p.control = control;
  p.active = true;
  p.text = p.test + (seconds ? FormatC(": %d s to go", total) : FormatC(": point 0 of %d", total));
  Show(false);
}

void ProgressUpdate(int done, double error2d, double error3d, const char* verdict) {
  Progress& p = State();
  if (!p.active) return;
  p.text = p.test + (p.seconds ? FormatC(": %d s to go", p.total > done ? p.total - done : 0)
                               : FormatC(": point %d of %d", done, p.total));
  if (error2d >= 0.0 && error3d >= 0.0) {
    p.text += FormatC(", last error 2D %.1f m, 3D %.1f m", error2d, error3d);
  }
  if (verdict != nullptr && *verdict != '\0') p.text += FormatC(", so far %s", verdict);
  Show(false);
}

void ProgressEnd(const char* verdict) {
  Progress& p = State();
  if (!p.active) return;
  p.text = p.test + FormatC(": %s", verdict != nullptr && *verdict ? verdict : "ended");
  Show(true);
  p.active = false;
}

const char* ProgressText() { return State().text.c_str(); }
