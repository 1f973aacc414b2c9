// Progress of a long test at a glance, beside the progress log: which test,
// point i of N (or the seconds left of a drive), the last errors and the
// verdict so far. Headless runs show it on stderr, as one line rewritten in
// place on a terminal and as plain lines otherwise; the run panels show the
// same text in their progress control.
#pragma once

// Starts a test's progress. `total` is the number of points, or the seconds of
// a drive when `seconds` is set. `panel`/`control` name the run panel's text
// control that shows the progress (0: none).
void ProgressBegin(const char* test, int total, bool seconds, int panel, int control);
// `done` points or elapsed seconds; errors below 0 are not shown; `verdict`
// may be empty while there is none.
void ProgressUpdate(int done, double error2d, double error3d, const char* verdict);
// Ends the line with the verdict.
void ProgressEnd(const char* verdict);
// The text of the last update (for tests).
const char* ProgressText();
