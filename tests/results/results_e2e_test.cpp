// The results of real runs against the emulated lab: a sequence leaves
// results.json (valid against its schema, a record per point and pass),
// the CSVs, STATISTICS.html, the receiver captures and the JUnit file; and a
// basic test against a receiver of known noise finds CEP50 and CEP95 where
// that noise puts them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "report/Json.h"
#include "support/ChildProcess.h"
#include "support/TextFile.h"
#include "tests/basic/BasicLab.h"

namespace fs = std::filesystem;
using basic_lab::Lab;
using basic_lab::Quote;
using basic_lab::StationRun;

namespace {

JsonValue ReadResults(const fs::path& dir) {
  JsonValue value;
  std::string error;
  EXPECT_TRUE(ParseJson(ReadTextFile(dir / "results.json"), &value, &error)) << error;
  return value;
}

TEST(ResultsE2E, SequenceLeavesResultsCapturesStatisticsAndJUnit) {
  Lab lab("results-sequence");
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  const fs::path junit = lab.Dir() / "junit.xml";
  const StationRun run = lab.Run({"set BASIC_ITERATIONS=3", "set MOVING_DURATION=40"},
                                 "seq --junit " + Quote(junit.string()));
  const fs::path dir = lab.RunLog();
  ASSERT_FALSE(dir.empty()) << run.out << run.err;

  const ProcessResult valid = RunProcess(
      {"/usr/bin/python3", "-c",
       "import json, sys, jsonschema\n"
       "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n",
       (dir / "results.json").string(),
       std::string(STATION_SOURCE_DIR) + "/docs/results.schema.json"});
  EXPECT_EQ(valid.exitCode, 0) << valid.out << valid.err;

  const JsonValue results = ReadResults(dir);
  EXPECT_EQ(results.TextAt("simulator_identification"), ReadTextFile(dir / "Firmware_Version.txt"));
  EXPECT_EQ(results.Find("receiver")->NumberAt("port"), 3);
  const auto& tests = results.Find("tests")->items;
  ASSERT_EQ(tests.size(), 2u);
  EXPECT_EQ(tests[0].TextAt("test_id"), "000");
  EXPECT_EQ(tests[1].TextAt("test_id"), "001");
  EXPECT_EQ(tests[0].Find("points")->items.size(), 3u);
  // The verdicts are those the pages showed.
  const std::string summary = ReadTextFile(dir / "SUMMARY.html");
  for (const JsonValue& t : tests) {
    const std::string verdict = t.Find("verdict")->TextAt("text");
    EXPECT_NE(summary.find("<b>" + verdict + "</b>"), std::string::npos) << verdict;
  }
  // Every pass of the drive is there, numbered from 1 without a gap.
  const auto& passes = tests[1].Find("passes")->items;
  ASSERT_FALSE(passes.empty());
  for (std::size_t i = 0; i < passes.size(); ++i)
    EXPECT_EQ(passes[i].NumberAt("pass"), static_cast<double>(i + 1));
  EXPECT_EQ(tests[1].Find("verdict")->NumberAt("passes"), static_cast<double>(passes.size()));
  EXPECT_EQ(ReadTextLines(dir / "results_000.csv").size(), 4u);
  EXPECT_EQ(ReadTextLines(dir / "results_001.csv").size(), passes.size() + 1);
  EXPECT_NE(ReadTextFile(dir / "STATISTICS.html").find("<h2>Test 001: Moving Receiver"),
            std::string::npos);

  // The captures hold what the receiver said and decode again.
  for (const char* name : {"NMEA_000.nmea", "NMEA_001.nmea"}) {
    const std::string capture = ReadTextFile(dir / name);
    EXPECT_NE(capture.find("GGA,"), std::string::npos) << name;
    const ProcessResult decoded =
        RunProcess({basic_lab::kStation, "--decode-nmea", (dir / name).string()});
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
    EXPECT_NE(decoded.out.find("\"fixMode\":3"), std::string::npos) << name;
  }

  const ProcessResult cases =
      RunProcess({"/usr/bin/python3", "-c",
                  "import sys, junitparser\n"
                  "for suite in junitparser.JUnitXml.fromfile(sys.argv[1]):\n"
                  "  for case in suite: print(case.name)\n",
                  junit.string()});
  EXPECT_EQ(cases.out, "000 Basic Localization\n001 Moving Receiver\n") << cases.err;
}

// The lab's receiver errs by a Gauss-Markov process with a standard deviation
// of noise/2 per axis (10 s correlation), its horizontal error clipped at the
// noise: the 2D error is Rayleigh with sigma = noise/2, so CEP50 is
// sigma * sqrt(2 ln 2) = 0.589 noise, and CEP95 is the noise itself (13.5 %
// of the samples lie on the clip). The points are about ten fixes apart, so
// successive samples are correlated by about 0.37: 40 points count as about
// 18 independent ones, and the median's spread is 0.849 sigma / sqrt(18) =
// 0.1 noise. The bounds are four of those.
TEST(ResultsE2E, CepAgreesWithTheReceiversNoise) {
  Lab lab("results-noise");
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  constexpr double kNoise = 10.0;
  lab.Command("EMULator:RECeiver:NOISe " + std::to_string(kNoise));
  const StationRun run = lab.Run({"set BASIC_ITERATIONS=40"}, "000");
  const fs::path dir = lab.RunLog();
  ASSERT_FALSE(dir.empty()) << run.out << run.err;

  const JsonValue results = ReadResults(dir);
  const JsonValue& accuracy =
      *results.Find("tests")->items.at(0).Find("statistics")->Find("accuracy");
  ASSERT_GE(accuracy.NumberAt("samples"), 36) << run.out;
  const double cep50 = accuracy.NumberAt("cep50_m");
  const double cep95 = accuracy.NumberAt("cep95_m");
  const double spread = 0.1 * kNoise;
  EXPECT_NEAR(cep50, 0.589 * kNoise, 4 * spread);
  // Positions travel with 6 decimals of a degree and 3 of a minute: half a
  // metre of rounding at most.
  EXPECT_LE(cep95, kNoise + 0.5);
  EXPECT_GE(cep95, 0.7 * kNoise);
  EXPECT_LE(accuracy.NumberAt("max_2d_m"), kNoise + 0.5);
  EXPECT_LE(accuracy.NumberAt("vertical95_m"), kNoise + 0.5);
}

}  // namespace
