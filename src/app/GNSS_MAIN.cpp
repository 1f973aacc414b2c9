// Entry procedure and start-up of the station, the quit button, and the
// command-line front end's actions, which go through the same panels and
// callbacks as the operator.
#include "app/GNSS_MAIN.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "app/GNSS_UI_MENU.h"
#include "app/JUnit.h"
#include "app/LaunchActivity.h"
#include "geo/Geo.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/clock.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "platform/ui_timer.h"
#include "receiver/ReceiverProfile.h"
#include "report/Results.h"
#include "state/StationState.h"

namespace {

constexpr int kStdioMaxLines = 10000;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

void ActionError(const std::string& message) { StdErrReason(message); }

// A text box's line ends travel as the two characters "\n" on one output line.
std::string EscapeLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

bool RunAction(const StationAction& action) {
  const std::string control = action.kind == StationAction::kQuit ? "MAIN_QUIT" : action.control;
  int panel = 0, id = 0;
  if (!FindControlByName(control, &panel, &id)) {
    ActionError("unknown control " + control);
    return false;
  }
  switch (action.kind) {
    case StationAction::kSet:
      if (SetCtrlValFromText(panel, id, action.value) != 0) {
        ActionError("set " + control + ": " + UiLastError());
        return false;
      }
      return true;
    case StationAction::kPress:
    case StationAction::kQuit:
      if (!CommitControl(panel, id)) {
        ActionError("press " + control + ": " + UiLastError());
        return false;
      }
      return true;
    case StationAction::kGet: {
      const std::string value = CtrlValueAsText(panel, id);
      if (CtrlIsList(panel, id)) {
        int count = 0;
        GetNumListItems(panel, id, &count);
        for (int i = 0; i < count; ++i) {
          std::string item;
          GetLabelFromIndex(panel, id, i, &item);
          StdPrintf("%s[%d]=%s\n", control.c_str(), i, EscapeLineEnds(item).c_str());
        }
      } else {
        StdPrintf("%s=%s\n", control.c_str(), EscapeLineEnds(value).c_str());
      }
      return true;
    }
  }
  return false;
}

// An "after" action with its timer.
struct ActionRun;
struct TimedAction {
  const StationAction* action = nullptr;
  ActionRun* run = nullptr;
  int timer = 0;
};

struct ActionRun {
  const std::vector<StationAction>* actions = nullptr;
  std::vector<TimedAction> timed;
  std::string runTest;  // --run: the launch to press after the actions
  bool quitAfterLast = false;
  int timedPending = 0;
  bool inOrderDone = false;  // the actions in order have run
};

// The verdict of one result indicator: 0 for a text beginning with "PASS",
// 2 when the test never got to a verdict (the field is as --run left it, or
// still "RUNNING.."), 1 for any other verdict.
int VerdictOf(const char* indicator) {
  int panel = 0, control = 0;
  if (!FindControlByName(indicator, &panel, &control)) return kExitUsage;
  const std::string result = CtrlValueAsText(panel, control);
  if (result.empty() || result.rfind("RUNNING", 0) == 0) return kExitUsage;
  return result.rfind("PASS", 0) == 0 ? 0 : 1;
}

// --run: presses the launch button, whose callback runs the test to its end,
// and turns the verdicts on the settings pages into the exit code.
int RunTestVerdict(const std::string& which) {
  struct Launch {
    const char* name;
    const char* button;
    std::vector<const char*> indicators;
  };
  static const Launch kLaunches[] = {
      {"000", "MAIN_RUN000", {"BASIC_RESULT"}},
      {"001", "MAIN_RUN001", {"MOVING_RESULT"}},
      {"011", "MAIN_RUN011", {"BASIC_RESULT"}},
      {"seq", "MAIN_RUNSEQ", {"BASIC_RESULT", "MOVING_RESULT"}},
  };
  for (const Launch& launch : kLaunches) {
    if (which != launch.name) continue;
    for (const char* indicator : launch.indicators) {
      int panel = 0, control = 0;
      if (FindControlByName(indicator, &panel, &control)) SetCtrlValFromText(panel, control, "");
    }
    if (!RunAction({StationAction::kPress, launch.button, ""})) return kExitUsage;
    int verdict = 0;
    for (const char* indicator : launch.indicators) {
      const int code = VerdictOf(indicator);
      if (code == kExitUsage || verdict == kExitUsage)
        verdict = kExitUsage;
      else
        verdict = std::max(verdict, code);
    }
    // A pass whose log could not be written whole is not a clean one.
    if (verdict == 0 && RunLogIncomplete) {
      StdErrReason("the run's log files could not all be written (see above); not a clean PASS");
      verdict = 1;
    }
    return verdict;
  }
  ActionError("--run takes 000, 001, 011 or seq");
  return kExitUsage;
}

// Once, from the event loop: whatever runs then (a launch waiting on the
// instrument) goes on around it.
void RunTimedAction(void* data) {
  TimedAction& timed = *static_cast<TimedAction*>(data);
  CancelPeriodicCallback(timed.timer);
  ActionRun& run = *timed.run;
  --run.timedPending;
  if (IsQuitPending()) return;
  if (!RunAction(*timed.action)) {
    QuitUserInterface(kExitUsage);
    return;
  }
  // A headless run ends after its last action, in order or timed.
  if (run.quitAfterLast && run.inOrderDone && run.timedPending == 0) QuitUserInterface(0);
}

// Runs from the event loop, like the operator's own events; a quit among the
// actions ends the run there.
void RunActions(void* data) {
  ActionRun& run = *static_cast<ActionRun*>(data);
  run.timed.reserve(run.actions->size());
  for (const StationAction& action : *run.actions) {
    if (action.afterSeconds < 0) continue;
    TimedAction& timed = run.timed.emplace_back(TimedAction{&action, &run});
    ++run.timedPending;
    timed.timer = SetPeriodicCallback(MainPanelHandle, static_cast<int>(action.afterSeconds * 1000),
                                      RunTimedAction, &timed);
  }
  for (const StationAction& action : *run.actions) {
    if (action.afterSeconds >= 0) continue;
    if (IsQuitPending()) return;
    if (!RunAction(action)) {
      QuitUserInterface(kExitUsage);
      return;
    }
  }
  if (!run.runTest.empty() && !IsQuitPending()) {
    QuitUserInterface(RunTestVerdict(run.runTest));
    return;
  }
  run.inOrderDone = true;
  if (run.quitAfterLast && run.timedPending == 0 && !IsQuitPending()) QuitUserInterface(0);
}

}  // namespace

int callbackExit(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT) QuitUserInterface(0);
  return 0;
}

int StationMain(int argc, char* argv[], const StationOptions& options) {
  // Test points are seeded from the station's calendar clock, which runs at
  // GNSS_TIME_SCALE like every other clock of the lab.
  SetRandomSeedTimeSource(CalendarTime);
  SetDefaultReceiverProfiles();
  SetStdioWindowOptions(kStdioMaxLines, 0, 1);
  // Qt sees only the program name: the station's own options are not its.
  (void)argc;
  char* runtimeArgv[] = {argv[0], nullptr};
  if (InitUserInterfaceRuntime(1, runtimeArgv, options.headless) == 0) return -1;

  RegisterSystemCallbacks();
  // A window keeps answering while the station waits on the instrument or
  // the receiver port; a headless run waits as it always did.
  if (!IsHeadless()) InstallLaunchWaitHook();
  MainPanelHandle = LoadPanel(0, "GNSS_UI_MENU.uir", MAINPANEL);
  if (MainPanelHandle < 0) {
    StdErrReason("cannot load the main panel, stopping");
    return -1;
  }
  ShowReceiverProfile();
  LoadConfig();

  ActionRun run;
  run.actions = &options.actions;
  run.runTest = options.runTest;
  run.quitAfterLast = IsHeadless();
  if (!options.actions.empty() || !run.runTest.empty() || run.quitAfterLast) {
    PostDeferredCall(RunActions, &run);
  }
  int status = RunUserInterface();
  DiscardPanel(MainPanelHandle);
  // A run whose settings could not be saved did not end well, whatever else
  // it did (the reason is on stderr).
  if (status == 0 && ConfigSaveFailed()) status = 1;
  // A JUnit file that cannot be written must not let CI read a pass.
  if (!options.junitFile.empty() &&
      WriteJUnitFile(options.junitFile, CurrentResults(), options.runTest, status) != 0 &&
      status == 0)
    status = kExitUsage;
  return status;
}

// ---- Command line ---------------------------------------------------------------

const char* StationUsage() {
  return "usage: gnss-station [--headless] [--workdir DIR] [--do ACTION]... [--run TEST "
         "[--junit FILE]]\n"
         "       gnss-station --decode-nmea FILE\n"
         "       gnss-station --compare RUN_A RUN_B [--tolerance NAME=VALUE,...]\n"
         "ACTION is one of:\n"
         "  set CONTROL=VALUE   give a control a value as if typed (no event)\n"
         "  press CONTROL       commit the control and run its callback\n"
         "  get CONTROL         print CONTROL=value (a list box: CONTROL[i]=item)\n"
         "  quit                press MAIN_QUIT\n"
         "  after SECONDS ACTION  run ACTION that long after the actions start, out of\n"
         "                      their order, also while a test runs\n"
         "--run TEST (000, 001, 011 or seq) presses that launch button after the actions,\n"
         "waits for the test and exits 0 on PASS, 1 on another verdict, 2 without one.\n"
         "--junit FILE writes the verdicts of --run as JUnit XML (a JUnit file that cannot be\n"
         "written turns a pass into exit code 2).\n"
         "--compare prints the statistics of two run-log directories side by side; with\n"
         "--tolerance (e.g. cep95=2,ttff95=5) it exits 1 when B is worse than A by more.\n"
         "A headless start (--headless, or no display) quits after the last action.\n";
}

bool ParseStationAction(const std::string& text, StationAction* action, std::string* error) {
  const std::string trimmed = Trim(text);
  const auto space = trimmed.find_first_of(" \t");
  const std::string verb = trimmed.substr(0, space);
  const std::string rest = space == std::string::npos ? std::string() : Trim(trimmed.substr(space));
  *action = StationAction{};
  if (verb == "after") {
    const auto gap = rest.find_first_of(" \t");
    const std::string delay = rest.substr(0, gap);
    double seconds = -1;
    const auto [end, ec] = std::from_chars(delay.data(), delay.data() + delay.size(), seconds);
    if (ec != std::errc() || end != delay.data() + delay.size() || !(seconds >= 0) ||
        seconds > 86400 || gap == std::string::npos) {
      *error = "action \"" + text + "\": after needs SECONDS (0 to 86400) and an action";
      return false;
    }
    if (!ParseStationAction(rest.substr(gap), action, error)) return false;
    if (action->afterSeconds >= 0) {
      *error = "action \"" + text + "\": one after is enough";
      return false;
    }
    action->afterSeconds = seconds;
    return true;
  }
  if (verb == "quit" && rest.empty()) {
    action->kind = StationAction::kQuit;
    return true;
  }
  if (verb == "set") {
    const auto equals = rest.find('=');
    if (equals == std::string::npos || Trim(rest.substr(0, equals)).empty()) {
      *error = "action \"" + text + "\": set needs CONTROL=VALUE";
      return false;
    }
    action->kind = StationAction::kSet;
    action->control = Trim(rest.substr(0, equals));
    action->value = rest.substr(equals + 1);
    return true;
  }
  if ((verb == "press" || verb == "get") && !rest.empty() &&
      rest.find_first_of(" \t=") == std::string::npos) {
    action->kind = verb == "press" ? StationAction::kPress : StationAction::kGet;
    action->control = rest;
    return true;
  }
  *error = "unknown action \"" + text + "\"";
  return false;
}

bool ParseStationArguments(int argc, char* argv[], StationOptions* options, std::string* error) {
  *options = StationOptions{};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    if (arg == "--headless") {
      options->headless = true;
    } else if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--workdir") {
      if (!value(&options->workdir)) return false;
    } else if (arg == "--do") {
      std::string text;
      if (!value(&text)) return false;
      StationAction action;
      if (!ParseStationAction(text, &action, error)) return false;
      options->actions.push_back(action);
    } else if (arg == "--run") {
      if (!value(&options->runTest)) return false;
      const std::string& t = options->runTest;
      if (t != "000" && t != "001" && t != "011" && t != "seq") {
        *error = "--run takes 000, 001, 011 or seq, not \"" + t + "\"";
        return false;
      }
    } else if (arg == "--decode-nmea") {
      if (!value(&options->decodeNmeaFile)) return false;
    } else if (arg == "--junit") {
      if (!value(&options->junitFile)) return false;
    } else if (arg == "--compare") {
      std::string a, b;
      if (!value(&a) || !value(&b)) return false;
      options->compareRuns = {a, b};
    } else if (arg == "--tolerance") {
      if (!value(&options->tolerances)) return false;
    } else {
      *error = "unknown option \"" + arg + "\"";
      return false;
    }
  }
  if (!options->junitFile.empty() && options->runTest.empty()) {
    *error = "--junit goes with --run";
    return false;
  }
  if (!options->tolerances.empty() && options->compareRuns.empty()) {
    *error = "--tolerance goes with --compare";
    return false;
  }
  return true;
}
