// Accuracy and time-to-fix statistics over the errors a test measured:
// the figures a receiver lab quotes (CEP50, CEP95, 2DRMS, vertical 95 %,
// SEP50), time to fix over the points of a basic test, and availability and
// windowed error percentiles over a drive. Standard library only.
//
// Percentiles are by nearest rank: the P-th percentile of n samples is the
// ceil(P/100 * n)-th smallest sample (the smallest for P = 0), so that at
// least P % of the samples are at or below it and it is always a value that
// was measured. A figure over no sample is NaN (written as null / "n/a").
#pragma once

#include <vector>

// Nearest-rank percentile of `values` (any order; copied). NaN for no value.
// NaN samples are ignored.
double NearestRankPercentile(std::vector<double> values, double percent);

// One measured position error, metres: the horizontal (2D) and 3D distance
// and the east/north/up components of fix minus truth.
struct ErrorSample {
  double error2d = 0.0;
  double error3d = 0.0;
  double east = 0.0;
  double north = 0.0;
  double up = 0.0;
};

struct AccuracyStatistics {
  int samples = 0;
  double cep50 = 0.0;       // 50th percentile of the 2D errors
  double cep95 = 0.0;       // 95th percentile of the 2D errors
  double drms2 = 0.0;       // 2DRMS: twice the root mean square of the 2D errors
  double vertical95 = 0.0;  // 95th percentile of |up error|
  double sep50 = 0.0;       // 50th percentile of the 3D errors
  double mean2d = 0.0;
  double max2d = 0.0;
  double mean3d = 0.0;
  double max3d = 0.0;
  double meanVertical = 0.0;  // mean |up error|
};

AccuracyStatistics ComputeAccuracy(const std::vector<ErrorSample>& samples);

// Time to fix over the points whose first wait ended with a 3D fix;
// `withoutFix` points ended without one and are counted, not averaged.
struct TimeToFixStatistics {
  int fixes = 0;
  int withoutFix = 0;
  double mean = 0.0;  // seconds
  double median = 0.0;
  double p95 = 0.0;
  double max = 0.0;
};

TimeToFixStatistics ComputeTimeToFix(const std::vector<double>& seconds, int withoutFix);

// One monitoring pass of a drive, as the statistics see it.
struct DrivePassSample {
  double elapsed = 0.0;   // seconds since the monitoring started
  bool counted = true;    // false inside the ignore window
  bool goodFix = false;   // a plausible fix with enough usable satellites
  bool measured = false;  // errors computed (and the pass kept)
  double error2d = 0.0;
  double error3d = 0.0;
};

// A stretch of the drive: passes with elapsed in [start, end).
struct DriveWindow {
  double start = 0.0;
  double end = 0.0;
  int passes = 0;
  int goodFixPasses = 0;
  int samples = 0;     // good, measured passes
  double cep50 = 0.0;  // of those samples
  double cep95 = 0.0;
  double p95_3d = 0.0;
};

struct DriveStatistics {
  int passes = 0;  // counted passes (outside the ignore window)
  int goodFixPasses = 0;
  double availability = 0.0;  // goodFixPasses / passes
  double windowSeconds = 0.0;
  std::vector<DriveWindow> windows;
};

// Number of equal windows a drive is cut into for the percentiles over time.
inline constexpr int kDriveWindowCount = 10;

// Availability over the counted passes and the error percentiles of the good,
// measured passes in kDriveWindowCount equal windows of `duration` seconds
// (whole seconds, at least 1; a pass beyond the last window joins it).
DriveStatistics ComputeDrive(const std::vector<DrivePassSample>& passes, double duration);
