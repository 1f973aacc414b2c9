// State shared by the layers of the station: the main panel's handle and the
// state of the current launch. Plain globals, one thread.
#pragma once

#include <string>

// Handle of the main panel, the first panel loaded; 0 before start-up.
extern int MainPanelHandle;

// Set by the run panels' abort and exit buttons; polled by the test loops.
extern int AbortFlag;

// Name of the current launch's run-log directory below LOG/ ("KELMAR_LOGS_...").
extern std::string RunLogDirectory;

// Set when a file of the current launch's run log could not be written whole
// (the reason has gone to stderr); cleared by each launch. A run with an
// incomplete log is not a clean pass.
extern bool RunLogIncomplete;

// Level offset copied from MAIN_LEVEL_OFFSET by the launch ("" before any).
extern std::string LevelOffset;
