// The two loops that read NMEA epochs from the receiver port: WaitForFix
// waits for an accepted 3D fix, ReadNextFix delivers the next epoch of the
// stream. Both cut and decode epochs with receiver/Epoch.h.
#pragma once

#include "receiver/Epoch.h"
#include "receiver/Nmea.h"

// Waits until an epoch shows a 3D fix with at least status.minSatellites
// satellites used, satellites in view and a date (ZDA or RMC), or until
// status.maxFixSeconds have passed, or until abortFlag is set. Each cycle
// starts from a purged port. Returns the seconds waited; 0.0 when a read
// failed or a GSV message number was out of range.
double WaitForFix(FixStatus& status, SatelliteTable& table, FixRecord& fix, const int& abortFlag);

// Who reacts to a Galileo C/N0 spread in an epoch that ReadNextFix decodes:
// ReadNextFix itself (hot start, fixMode 0), or its caller, which judges the
// epoch by its own rule (the moving test hot-starts only before its first
// good fix) and calls HotStartAfterGalileoSpread.
enum class GalileoSpreadRule { kHotStart, kLeaveToCaller };

// Decodes the next complete epoch of the stream. `buffer` belongs to the
// caller and keeps the text after the epoch for the next call (empty it
// before the first). *inViewCount is -1 until a GSV group is decoded. Returns
// the used-satellite count of the latest GSA chain of the epoch; 0 after a
// read failure, an out-of-range GSV message number, or when more than 9 s
// passed (then with the time-out message).
int ReadNextFix(SatelliteTable& table, FixStatus& status, int* inViewCount, FixRecord& fix,
                ReceiveBuffer& buffer, const int& abortFlag,
                GalileoSpreadRule galileoRule = GalileoSpreadRule::kHotStart);

// The line logged when a Galileo C/N0 spread calls for a hot start.
extern const char kGalileoHotStartMessage[];
// The hot start after a Galileo spread: the command, then the port's unread
// input and the buffered text are dropped, since epochs sent before the
// restart still show the spread and must not command a second hot start.
void HotStartAfterGalileoSpread(ReceiveBuffer& buffer);
