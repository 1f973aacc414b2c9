// The progress log: timestamped lines to the running test's log box, to the
// standard-output window and to the test's HTML log.
#pragma once

#include <cstdio>
#include <ctime>

// Shared sink state; all start as 0 / none.
extern int RunPanelHandle;        // run panel of the running test, 0 = none
extern int StatusLogPanel;        // panel LogStatus appends to (0 or -1: none)
extern int StatusLogControl;      // text box LogStatus appends to (0 or -1: none)
extern std::FILE* StatusLogFile;  // HTML log of LogStatus, nullptr = standard output

// The log box control of the panel in RunPanelHandle (RUN_LOG or MOVRUN_LOG);
// the run panels register it when they load.
extern int RunPanelLogControl;

// One shared 500-byte text buffer: GetString and GetColorHtml return it.
inline constexpr int kGetStringBufferSize = 500;
extern char GetStringBuffer[kGetStringBufferSize];

// A progress line is the time stamp, two blanks and the message, cut to
// kLogLineSize - 1 characters.
inline constexpr int kLogLineSize = 400;
// The asctime layout without its newline: "Mon Mar  5 17:47:59 2012".
inline constexpr int kTimeStampSize = 25;
// Writes the local time `t` in that layout (24 characters and a terminating zero).
void FormatLogTimeStamp(std::time_t t, char (&stamp)[kTimeStampSize]);

void LogStatus(const char* message);
void LogProgress(const char* text, std::FILE* file);
void LogProgressHtml(const char* plainText, const char* htmlText, std::FILE* file);
// "<font color='%s'>%s</font><br>" or "%s<br>" (colour nullptr), in GetStringBuffer.
char* GetColorHtml(const char* colour, const char* text);
// Replaces every `find` in `text` in place; returns the text's length.
int ReplaceChar(char* text, char find, char replacement);
