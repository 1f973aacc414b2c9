// Small recorded tests for the results files: a basic test of three points
// (two sampled, one without a 3D fix) and a drive of six passes (one in the
// ignore window, one without a fix, one dropped).
#pragma once

#include <string>
#include <vector>

#include "report/Results.h"
#include "text/CText.h"

inline ResultsFix SampleFix(double lat, double lon, double alt) {
  ResultsFix fix;
  fix.present = true;
  fix.position = {lat, lon, alt};
  fix.utc = "2026-12-10T14:00:05Z";
  fix.fixMode = 3;
  fix.satellitesUsed = 2;
  fix.satellites = {{5, 45, 60, 120}, {7, 38, 25, 300}};
  fix.pdop = 1.8;
  fix.hdop = 0.9;
  fix.vdop = 1.5;
  return fix;
}

inline ResultsErrors SampleErrors(double east, double north, double up) {
  ResultsErrors e;
  e.present = true;
  e.east = east;
  e.north = north;
  e.up = up;
  e.error2d = std::hypot(east, north);
  e.error3d = std::sqrt(east * east + north * north + up * up);
  return e;
}

inline std::vector<BasicPointResult> SampleBasicPoints() {
  std::vector<BasicPointResult> points(3);
  points[0].point = 1;
  points[0].outcome = ResultsOutcome::kSampled;
  points[0].timeToFix = points[0].firstWait = 31.25;
  points[0].truth = {48.123456789012345, 11.5, 520.0};
  points[0].fix = SampleFix(48.1234568, 11.5000012, 523.5);
  points[0].errors = SampleErrors(0.06, 0.08, 3.5);
  points[0].errors.error2d = 0.1;
  points[1].point = 2;
  points[1].outcome = ResultsOutcome::kSampled;
  points[1].timeToFix = points[1].firstWait = 40.0;
  points[1].truth = {48.2, 11.6, 510.0};
  points[1].fix = SampleFix(48.20003, 11.60004, 512.0);
  points[1].errors = SampleErrors(3, 4, 2);
  points[2].point = 3;
  points[2].outcome = ResultsOutcome::kFailed;
  points[2].reason = "no_3d_fix";
  points[2].firstWait = 120.0;
  points[2].truth = {48.3, 11.7, 505.0};
  return points;
}

inline std::vector<ResultsField> SampleBasicSettings() {
  return {NumberField("iterations", 3), NumberField("gps_satellites", 8),
          NumberField("max_fix_time_s", 120), NumberField("ref_latitude_deg", 48.1),
          TextField("gps_svids", "AUTO")};
}

inline void RecordBasicTest(const std::vector<BasicPointResult>& points) {
  ResultsBeginTest("000", "Basic Localization", ResultsTestKind::kBasic, SampleBasicSettings());
  for (const BasicPointResult& p : points) ResultsAddBasicPoint(p);
}

inline std::vector<MovingPassResult> SampleMovingPasses() {
  std::vector<MovingPassResult> passes(6);
  for (int i = 0; i < 6; ++i) {
    MovingPassResult& p = passes[static_cast<std::size_t>(i)];
    p.pass = i + 1;
    p.elapsed = 1.0 + 3.0 * i;
    p.truth = {48.1 + 0.0001 * i, 11.5, 520.0};
    p.satellitesUsable = 6;
    p.goodFix = true;
    p.outcome = ResultsOutcome::kSampled;
    p.fix = SampleFix(p.truth.latitude + 0.00002, 11.5, 521.0);
    p.errors = SampleErrors(1.0 * i, 2.0, 1.0);
  }
  passes[0].inIgnoreWindow = true;
  passes[2] = MovingPassResult{};
  passes[2].pass = 3;
  passes[2].elapsed = 7.0;
  passes[2].outcome = ResultsOutcome::kNoFix;
  passes[2].satellitesUsable = 2;
  passes[3] = MovingPassResult{};
  passes[3].pass = 4;
  passes[3].elapsed = 10.0;
  passes[3].outcome = ResultsOutcome::kDropped;
  passes[3].reason = "used_count_out_of_range";
  return passes;
}

inline void RecordMovingTest(const std::vector<MovingPassResult>& passes, double duration) {
  ResultsBeginTest("001", "Moving Receiver", ResultsTestKind::kMoving,
                   {NumberField("duration_s", duration), NumberField("ignore_time_s", 2),
                    TextField("waypoints", "/var/user/route.txt")});
  for (const MovingPassResult& p : passes) ResultsAddMovingPass(p);
}

// The line a capture ends with when it was cut at `limit` bytes.
inline std::string FormatCutNote(std::size_t limit) {
  return FormatC("\r\n# capture cut at %zu bytes: the receiver sent more during this test\r\n",
                 limit);
}
