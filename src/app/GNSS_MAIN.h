// The station's entry procedure and start-up, and the command-line front end
// that drives the same panels and callbacks (set, press, get, quit).
#pragma once

#include <string>
#include <vector>

// What `gnss-station --do "..."` asks for, run in order once start-up is done.
struct StationAction {
  enum Kind { kSet, kPress, kGet, kQuit };
  Kind kind = kGet;
  std::string control;
  std::string value;  // kSet only
};

struct StationOptions {
  bool headless = false;
  bool help = false;
  std::string workdir;
  std::vector<StationAction> actions;
  std::string runTest;                   // --run 000|001|011|seq
  std::string decodeNmeaFile;            // --decode-nmea FILE
  std::string junitFile;                 // --junit FILE (with --run)
  std::vector<std::string> compareRuns;  // --compare RUN_A RUN_B
  std::string tolerances;                // --tolerance NAME=VALUE,... (with --compare)
};

// Exit code of a front-end usage error: bad option, unknown control or action.
inline constexpr int kExitUsage = 2;

// Reads the command line into `options`; false with the reason in `error`.
bool ParseStationArguments(int argc, char* argv[], StationOptions* options, std::string* error);
bool ParseStationAction(const std::string& text, StationAction* action, std::string* error);
const char* StationUsage();

// Start-up, event loop, shutdown. Returns -1 when the run-time or the main
// panel cannot be brought up, 2 when an action of the front end fails, the
// verdict's code after --run (0 PASS, 1 another verdict, 2 none), else the
// status the event loop ended with (0 after the quit button).
int StationMain(int argc, char* argv[], const StationOptions& options);
