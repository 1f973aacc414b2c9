// What the procedures hand to the results recorder (report/Results.h): the
// receiver's records and the geodesy turned into plain result records.
#pragma once

#include "geo/Geo.h"
#include "receiver/Nmea.h"
#include "report/Results.h"

// The position of a GeoPoint.
ResultsPosition ResultsPositionOf(const GeoPoint& point);

// The fix as decoded: position, UTC, mode, DOPs and the satellites flagged
// used (at most the first inViewCount entries of the table).
ResultsFix ResultsFixOf(const FixRecord& fix, const FixStatus& status, const SatelliteTable& table);

// The errors after ComputePositionErrors(measured, truth, reference): east,
// north and up of the fix minus those of the truth.
ResultsErrors ResultsErrorsOf(const GeoPoint& measured, const GeoPoint& truth, double error2d,
                              double error3d);

// Opens the receiver capture NMEA_<testId>.nmea of the run-log directory.
void BeginTestCapture(const std::string& testId);
