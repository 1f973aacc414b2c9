// SCPI helpers: every exchange with the signal simulator goes through these,
// on the one SimulatorSession that the test launch opens.
#pragma once

#include <cstdio>

#include "platform/visa.h"

extern ViSession SimulatorSession;        // "TCPIP::" + MAIN_DUTIP, time-out 50000 ms
extern ViSession ResourceManagerSession;  // the VISA default resource manager

inline constexpr ViAttrState kSimulatorTimeoutMs = 50000;

// Text answers are read with at most this many bytes; the caller's buffer
// needs one more for the terminating zero.
inline constexpr ViUInt32 kQueryAnswerMax = 250;
inline constexpr int kQueryAnswerSize = kQueryAnswerMax + 1;
// Number answers and the "*opc?" reply are read with at most this many bytes.
inline constexpr ViUInt32 kReadBuffMax = 100;

// The helpers' shared state. Only the helpers below and their tests read
// it; callers take what the helpers return.
extern const char* const stropc;         // "*opc?"
extern char readbuff[kReadBuffMax + 1];  // reply of Dut_Command, My_QueryInt, My_QueryDouble
extern ViUInt32 numread;                 // bytes of the most recent read of any helper
extern ViUInt32 numwritten;              // bytes of the most recent "*opc?" write

// printf-style into the shared GetStringBuffer (valid until the next GetString
// or GetColorHtml); numbers in the C locale. A text longer than 499 characters
// is cut. The arguments may point into GetStringBuffer.
char* GetString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends `command` + LF, then "*opc?", and waits for the reply (not examined).
// The command may be the text GetString has just returned. Always 1.
int Dut_Command(ViSession session, const char* command);
// Sends `query` + LF and reads at most 250 bytes into `answer` (at least
// kQueryAnswerSize bytes), zero-terminated; empty when nothing arrives. Always 1.
int My_Query(ViSession session, const char* query, char* answer);
// Sends `query` + LF and parses the reply's leading number. A reply without a
// number, or no reply within the time-out, stores 0. Always 1.
int My_QueryInt(ViSession session, const char* query, int* value);
int My_QueryDouble(ViSession session, const char* query, double* value);

// Reads the simulator's error queue into the progress log (red in `htmlLog`)
// until an answer contains "No error". An empty answer (the simulator stopped
// answering) is logged once and ends the loop; so does a queue that is still
// not empty after kErrorQueueReadLimit entries, with a warning (orange).
void CheckSimulatorErrors(ViSession session, std::FILE* htmlLog);
// Far more entries than an instrument's error queue holds.
inline constexpr int kErrorQueueReadLimit = 256;

// Leading number of an answer as atoi / atof read it in the C locale
// (ReadIntC / ReadDoubleC of text/CText.h; 0 for no text or no number).
int ParseLeadingInt(const char* text);
double ParseLeadingDouble(const char* text);
