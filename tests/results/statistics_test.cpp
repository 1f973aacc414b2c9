// Statistics against values worked out by hand from the definitions (nearest
// rank: the ceil(P/100 * n)-th smallest sample).
#include "report/Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct PercentileCase {
  const char* name;
  std::vector<double> values;
  double percent;
  double expected;  // NaN: no value
};

TEST(NearestRankPercentile, TableOfKnownPercentiles) {
  std::vector<double> oneToTwenty, oneToHundred;
  for (int i = 20; i >= 1; --i) oneToTwenty.push_back(i);  // given in descending order
  for (int i = 1; i <= 100; ++i) oneToHundred.push_back(i);
  const double none = std::nan("");
  const PercentileCase cases[] = {
      {"1..20 median is the 10th", oneToTwenty, 50, 10},
      {"1..20 95th is the 19th", oneToTwenty, 95, 19},
      {"1..100 95th", oneToHundred, 95, 95},
      {"1..100 50th", oneToHundred, 50, 50},
      {"unsorted three, median", {3, 1, 2}, 50, 2},
      {"unsorted three, 95th is the largest", {3, 1, 2}, 95, 3},
      {"two values: the median is the lower, not their mean", {10, 20}, 50, 10},
      {"ties: 1 5 5 5, median", {5, 5, 1, 5}, 50, 5},
      {"ties: 1 5 5 5, 25th", {5, 5, 1, 5}, 25, 1},
      {"0th is the smallest", {4, 2, 9}, 0, 2},
      {"100th is the largest", {4, 2, 9}, 100, 9},
      {"one value is every percentile", {7}, 95, 7},
      {"one value, median", {7}, 50, 7},
      {"no value", {}, 50, none},
      {"NaN samples are ignored", {none, 3, none, 1}, 95, 3},
  };
  for (const PercentileCase& c : cases) {
    const double got = NearestRankPercentile(c.values, c.percent);
    if (std::isnan(c.expected))
      EXPECT_TRUE(std::isnan(got)) << c.name << ": " << got;
    else
      EXPECT_DOUBLE_EQ(got, c.expected) << c.name;
  }
}

TEST(Accuracy, FiguresOfFourSamplesWorkedOutByHand) {
  // East/north on 3-4-5 triangles: 2D errors 5, 10, 0, 5; up -1, 2, -3, 4.
  const std::vector<ErrorSample> samples = {
      {5, std::sqrt(26.0), 3, 4, -1},
      {10, std::sqrt(104.0), 6, 8, 2},
      {0, 3, 0, 0, -3},
      {5, std::sqrt(41.0), -5, 0, 4},
  };
  const AccuracyStatistics a = ComputeAccuracy(samples);
  EXPECT_EQ(a.samples, 4);
  EXPECT_DOUBLE_EQ(a.cep50, 5);                     // 0 5 5 10: 2nd
  EXPECT_DOUBLE_EQ(a.cep95, 10);                    // ceil(3.8) = 4th
  EXPECT_NEAR(a.drms2, 12.247448713915890, 1e-12);  // 2 sqrt((25+100+0+25)/4)
  EXPECT_DOUBLE_EQ(a.vertical95, 4);
  EXPECT_DOUBLE_EQ(a.sep50, std::sqrt(26.0));  // 3, 5.10, 6.40, 10.20: 2nd
  EXPECT_DOUBLE_EQ(a.mean2d, 5);
  EXPECT_DOUBLE_EQ(a.max2d, 10);
  EXPECT_NEAR(a.mean3d, 6.1750457, 1e-7);
  EXPECT_DOUBLE_EQ(a.max3d, std::sqrt(104.0));
  EXPECT_DOUBLE_EQ(a.meanVertical, 2.5);
}

TEST(Accuracy, OneSampleAndNoSample) {
  const AccuracyStatistics one = ComputeAccuracy({{12, 13, 12, 0, -5}});
  EXPECT_EQ(one.samples, 1);
  EXPECT_DOUBLE_EQ(one.cep50, 12);
  EXPECT_DOUBLE_EQ(one.cep95, 12);
  EXPECT_DOUBLE_EQ(one.drms2, 24);
  EXPECT_DOUBLE_EQ(one.vertical95, 5);
  EXPECT_DOUBLE_EQ(one.sep50, 13);

  const AccuracyStatistics none = ComputeAccuracy({});
  EXPECT_EQ(none.samples, 0);
  for (double v : {none.cep50, none.cep95, none.drms2, none.vertical95, none.sep50, none.mean2d,
                   none.max2d, none.mean3d, none.max3d})
    EXPECT_TRUE(std::isnan(v)) << v;
}

TEST(TimeToFix, MeanMedianPercentileLargestAndTheFailures) {
  const TimeToFixStatistics t = ComputeTimeToFix({30, 10, 20, 40}, 2);
  EXPECT_EQ(t.fixes, 4);
  EXPECT_EQ(t.withoutFix, 2);
  EXPECT_DOUBLE_EQ(t.mean, 25);
  EXPECT_DOUBLE_EQ(t.median, 20);
  EXPECT_DOUBLE_EQ(t.p95, 40);
  EXPECT_DOUBLE_EQ(t.max, 40);

  const TimeToFixStatistics none = ComputeTimeToFix({}, 3);
  EXPECT_EQ(none.fixes, 0);
  EXPECT_EQ(none.withoutFix, 3);
  EXPECT_TRUE(std::isnan(none.median));
  EXPECT_TRUE(std::isnan(none.max));
}

TEST(Drive, AvailabilityAndWindowPercentiles) {
  // A 100 s drive, one pass a second; the first five in the ignore window;
  // every pass whose second is a multiple of 4 has no good fix.
  std::vector<DrivePassSample> passes;
  for (int i = 0; i < 100; ++i)
    passes.push_back({double(i), i >= 5, i % 4 != 0, i % 4 != 0, double(i), 2.0 * i});
  passes.push_back({105.0, true, true, true, 200.0, 400.0});  // late pass: the last window
  const DriveStatistics d = ComputeDrive(passes, 100.0);

  EXPECT_DOUBLE_EQ(d.windowSeconds, 10);
  ASSERT_EQ(d.windows.size(), 10u);
  EXPECT_EQ(d.passes, 96);         // 95 counted of 0..99, and the late one
  EXPECT_EQ(d.goodFixPasses, 73);  // 23 multiples of 4 in 5..99 have none
  EXPECT_DOUBLE_EQ(d.availability, 73.0 / 96.0);

  const DriveWindow& first = d.windows[0];  // passes 5..9; good 5 6 7 9
  EXPECT_EQ(first.passes, 5);
  EXPECT_EQ(first.goodFixPasses, 4);
  EXPECT_EQ(first.samples, 4);
  EXPECT_DOUBLE_EQ(first.cep50, 6);
  EXPECT_DOUBLE_EQ(first.cep95, 9);
  EXPECT_DOUBLE_EQ(first.p95_3d, 18);

  const DriveWindow& last = d.windows[9];  // 90..99 without 92 and 96, and 200
  EXPECT_EQ(last.passes, 11);
  EXPECT_EQ(last.samples, 9);
  EXPECT_DOUBLE_EQ(last.cep50, 95);  // 90 91 93 94 95 97 98 99 200: 5th
  EXPECT_DOUBLE_EQ(last.cep95, 200);
}

TEST(Drive, AnHourCutsIntoSixMinuteWindowsAndNoPassHasNoAvailability) {
  EXPECT_DOUBLE_EQ(ComputeDrive({}, 3600.0).windowSeconds, 360);
  const DriveStatistics empty = ComputeDrive({}, 0.0);
  EXPECT_EQ(empty.passes, 0);
  EXPECT_TRUE(std::isnan(empty.availability));
  EXPECT_DOUBLE_EQ(empty.windowSeconds, 1);
  EXPECT_TRUE(std::isnan(empty.windows[0].cep50));
}

}  // namespace
