// The standard-output window. Every line the station prints goes through here:
// to the process's standard output, flushed per line, and in the GUI also to
// the "Standard I/O" window (10,000 lines, line numbers, never raised).
#pragma once

#include <string_view>

// printf-style; the formatted text is written as it is.
int StdPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes a text verbatim (no format interpretation: "%" stays "%").
void StdWrite(std::string_view text);
// Writes a text verbatim to the process's standard error (flushed) and to the
// standard-output window: warnings and reasons that go beside the station's
// own messages, never into its standard output.
void StdErrWrite(std::string_view text);
// A reason on stderr, as the program's one line "gnss-station: <reason>".
void StdErrReason(std::string_view reason);
