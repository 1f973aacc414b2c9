// Results for machines: what each test of a launch measured, point by point
// (basic test) or pass by pass (moving test), kept in memory for the launch
// and written beside the test's own logs in LOG/<RunLogDirectory>/:
//   results.json       every test of the launch so far, in order, rewritten
//                      atomically as each test ends (docs/results.schema.json)
//   results_<id>.csv   one row per point or pass of test <id>
//   STATISTICS.html    the statistics of every test with their figures
//                      (report/StatisticsPage.h)
// The procedures call the recorder; the launch names the run. Keys carry
// their units ("error_2d_m", "time_to_fix_s").
#pragma once

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "report/Statistics.h"

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// A setting or a verdict detail: a number (NaN: null) or a text.
struct ResultsField {
  std::string key;  // snake_case with its unit
  bool isText = false;
  double number = kNoValue;
  std::string text;
};
ResultsField NumberField(std::string key, double value);
ResultsField TextField(std::string key, std::string text);

struct ResultsPosition {
  double latitude = kNoValue;   // degrees
  double longitude = kNoValue;  // degrees
  double altitude = kNoValue;   // m
};

struct ResultsSatellite {
  int prn = 0;
  int cn0 = -1;  // dB-Hz
  int elevation = -1;
  int azimuth = -1;
};

// The receiver's fix as decoded from its epoch.
struct ResultsFix {
  bool present = false;
  ResultsPosition position;
  std::string utc;  // "YYYY-MM-DDThh:mm:ssZ", "hh:mm:ss" without a date, "" unknown
  int fixMode = 0;
  int satellitesUsed = 0;                    // the GSA count
  std::vector<ResultsSatellite> satellites;  // those flagged used, with their C/N0
  double pdop = kNoValue;
  double hdop = kNoValue;
  double vdop = kNoValue;
};

// Fix minus truth, metres (east/north/up in the reference's tangent plane).
struct ResultsErrors {
  bool present = false;
  double error2d = kNoValue;
  double error3d = kNoValue;
  double east = kNoValue;
  double north = kNoValue;
  double up = kNoValue;
};

enum class ResultsOutcome {
  kSampled,  // errors measured
  kFailed,   // the point failed (reason says why)
  kNoFix,    // a pass without a good fix
  kDropped,  // a pass the test left out (reason says why)
};
const char* ResultsOutcomeName(ResultsOutcome outcome);

struct BasicPointResult {
  int point = 0;  // 1-based
  ResultsOutcome outcome = ResultsOutcome::kFailed;
  std::string reason;           // snake_case, empty when sampled
  double timeToFix = kNoValue;  // s: first wait ended with an accepted 3D fix
  double firstWait = kNoValue;  // s: how long the first wait lasted
  ResultsPosition truth;
  ResultsFix fix;
  ResultsErrors errors;
};

struct MovingPassResult {
  int pass = 0;               // 1-based, counting dropped passes
  double elapsed = kNoValue;  // s since the monitoring started
  bool inIgnoreWindow = false;
  ResultsOutcome outcome = ResultsOutcome::kNoFix;
  std::string reason;
  bool goodFix = false;   // plausible, with enough usable satellites
  bool degraded = false;  // plausible, too few usable satellites
  int satellitesUsable = 0;
  ResultsPosition truth;
  ResultsFix fix;
  ResultsErrors errors;
};

enum class ResultsTestKind { kBasic, kMoving };

struct TestResults {
  std::string id;  // "000", "001"
  std::string name;
  ResultsTestKind kind = ResultsTestKind::kBasic;
  double started = 0.0;   // station clock at the start (s)
  double duration = 0.0;  // s, station clock (scaled by GNSS_TIME_SCALE)
  std::vector<ResultsField> settings;
  std::vector<BasicPointResult> points;
  std::vector<MovingPassResult> passes;
  bool ended = false;
  std::string verdict;  // the result text the test showed
  bool passed = false;  // the verdict begins with "PASS"
  std::vector<ResultsField> verdictDetails;
  // Filled at the end of the test.
  AccuracyStatistics accuracy;
  TimeToFixStatistics timeToFix;  // basic
  DriveStatistics drive;          // moving
};

struct ResultsRun {
  std::string directory;  // RunLogDirectory
  std::string simulatorIdentification;
  int receiverType = -1;
  int receiverPort = -1;
  double timeScale = 1.0;
  std::vector<TestResults> tests;
};

// The station's version as results.json records it.
const char* StationVersion();

// The launch: starts a new run for RunLogDirectory, or goes on with the one in
// memory when the directory is the same (two launches in one second share it,
// and neither's tests are lost).
void ResultsBeginRun(const std::string& simulatorIdentification, int receiverType,
                     int receiverPort);
// A test starts; its points or passes follow.
void ResultsBeginTest(const std::string& testId, const std::string& name, ResultsTestKind kind,
                      std::vector<ResultsField> settings);
void ResultsAddBasicPoint(const BasicPointResult& point);
void ResultsAddMovingPass(const MovingPassResult& pass);
// The test ended with `verdict`: computes its statistics and writes
// results.json, its CSV and STATISTICS.html. Returns 0, or the errno of the
// first file that could not be written (reported on stderr; the test goes on).
int ResultsEndTest(const std::string& verdict, std::vector<ResultsField> details);

// The run in memory (the JUnit writer reads it after --run).
const ResultsRun& CurrentResults();
// Forgets the run (tests).
void ResetResults();

// "results_<id>.csv" and "NMEA_<id>.nmea" of test <id>.
std::string ResultsCsvName(const std::string& testId);
std::string NmeaCaptureName(const std::string& testId);
// LOG/<RunLogDirectory>/<name>, every ":" made a ".".
std::string RunLogPath(const std::string& name);

// The pieces, for tests and benchmarks: statistics of one test, the whole
// results.json of a run, and the CSV of one test.
void ComputeTestStatistics(TestResults& test);
std::string ResultsJson(const ResultsRun& run);
std::string ResultsCsv(const TestResults& test);
// Writes results.json, the CSV of `test` and STATISTICS.html into `directory`.
int WriteResultsFiles(const ResultsRun& run, const TestResults& test, const std::string& directory);
