#include "report/Statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Nearest rank over values already sorted ascending (no NaN).
double SortedPercentile(const std::vector<double>& sorted, double percent) {
  if (sorted.empty()) return kNaN;
  const double n = static_cast<double>(sorted.size());
  // A small tolerance keeps 0.95 * 20 = 19 from becoming 19.000000000000004.
  double rank = std::ceil(percent / 100.0 * n - 1e-9);
  rank = std::clamp(rank, 1.0, n);
  return sorted[static_cast<std::size_t>(rank) - 1];
}

double Mean(const std::vector<double>& values) {
  if (values.empty()) return kNaN;
  double sum = 0.0;
  for (double v : values) sum += v;
  return sum / static_cast<double>(values.size());
}

double Largest(const std::vector<double>& sorted) { return sorted.empty() ? kNaN : sorted.back(); }

}  // namespace

double NearestRankPercentile(std::vector<double> values, double percent) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
               values.end());
  std::sort(values.begin(), values.end());
  return SortedPercentile(values, percent);
}

AccuracyStatistics ComputeAccuracy(const std::vector<ErrorSample>& samples) {
  std::vector<double> e2, e3, vertical;
  e2.reserve(samples.size());
  e3.reserve(samples.size());
  vertical.reserve(samples.size());
  double squares = 0.0;
  for (const ErrorSample& s : samples) {
    e2.push_back(s.error2d);
    e3.push_back(s.error3d);
    vertical.push_back(std::fabs(s.up));
    squares += s.error2d * s.error2d;
  }
  AccuracyStatistics out;
  out.samples = static_cast<int>(samples.size());
  out.mean2d = Mean(e2);
  out.mean3d = Mean(e3);
  out.meanVertical = Mean(vertical);
  out.drms2 =
      samples.empty() ? kNaN : 2.0 * std::sqrt(squares / static_cast<double>(samples.size()));
  std::sort(e2.begin(), e2.end());
  std::sort(e3.begin(), e3.end());
  std::sort(vertical.begin(), vertical.end());
  out.cep50 = SortedPercentile(e2, 50.0);
  out.cep95 = SortedPercentile(e2, 95.0);
  out.vertical95 = SortedPercentile(vertical, 95.0);
  out.sep50 = SortedPercentile(e3, 50.0);
  out.max2d = Largest(e2);
  out.max3d = Largest(e3);
  return out;
}

TimeToFixStatistics ComputeTimeToFix(const std::vector<double>& seconds, int withoutFix) {
  std::vector<double> sorted(seconds);
  std::sort(sorted.begin(), sorted.end());
  TimeToFixStatistics out;
  out.fixes = static_cast<int>(sorted.size());
  out.withoutFix = withoutFix;
  out.mean = Mean(sorted);
  out.median = SortedPercentile(sorted, 50.0);
  out.p95 = SortedPercentile(sorted, 95.0);
  out.max = Largest(sorted);
  return out;
}

DriveStatistics ComputeDrive(const std::vector<DrivePassSample>& passes, double duration) {
  DriveStatistics out;
  const double whole = std::isfinite(duration) ? std::ceil(duration) : 0.0;
  out.windowSeconds = std::max(1.0, std::ceil(std::max(whole, 1.0) / kDriveWindowCount));
  out.windows.resize(kDriveWindowCount);
  for (int i = 0; i < kDriveWindowCount; ++i) {
    out.windows[static_cast<std::size_t>(i)].start = i * out.windowSeconds;
    out.windows[static_cast<std::size_t>(i)].end = (i + 1) * out.windowSeconds;
  }
  std::vector<std::vector<double>> e2(kDriveWindowCount), e3(kDriveWindowCount);
  for (const DrivePassSample& p : passes) {
    if (!p.counted) continue;
    out.passes += 1;
    if (p.goodFix) out.goodFixPasses += 1;
    const double at = std::isfinite(p.elapsed) ? std::max(p.elapsed, 0.0) : 0.0;
    const int index =
        std::min(kDriveWindowCount - 1, static_cast<int>(std::floor(at / out.windowSeconds)));
    DriveWindow& w = out.windows[static_cast<std::size_t>(index)];
    w.passes += 1;
    if (p.goodFix) w.goodFixPasses += 1;
    if (p.goodFix && p.measured) {
      e2[static_cast<std::size_t>(index)].push_back(p.error2d);
      e3[static_cast<std::size_t>(index)].push_back(p.error3d);
    }
  }
  out.availability = out.passes > 0
                         ? static_cast<double>(out.goodFixPasses) / static_cast<double>(out.passes)
                         : kNaN;
  for (int i = 0; i < kDriveWindowCount; ++i) {
    DriveWindow& w = out.windows[static_cast<std::size_t>(i)];
    std::vector<double>& a = e2[static_cast<std::size_t>(i)];
    std::vector<double>& b = e3[static_cast<std::size_t>(i)];
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    w.samples = static_cast<int>(a.size());
    w.cep50 = SortedPercentile(a, 50.0);
    w.cep95 = SortedPercentile(a, 95.0);
    w.p95_3d = SortedPercentile(b, 95.0);
  }
  return out;
}
