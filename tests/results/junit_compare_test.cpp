// The JUnit file read back by a real JUnit reader (python3-junitparser), and
// `gnss-station --compare` on two recorded run directories, one better than
// the other.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/JUnit.h"
#include "report/Results.h"
#include "state/StationState.h"
#include "support/ChildProcess.h"
#include "support/HeadlessRuntime.h"
#include "support/TextFile.h"
#include "tests/results/ResultsFixtures.h"

namespace fs = std::filesystem;

namespace {

class RunFolder : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartHeadlessRuntimeOnce("results_tests"));
    previous_ = fs::current_path();
    work_ =
        fs::temp_directory_path() / ("station-junit-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work_);
    fs::create_directories(work_);
    fs::current_path(work_);
    ResetResults();
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(work_);
    ResetResults();
  }
  // Records a sequence (basic test, drive) into LOG/<name>/, its errors
  // scaled by `errorScale` and its times to fix shifted by `ttffShift`.
  void RecordRun(const std::string& name, double errorScale, double ttffShift,
                 const char* basicVerdict) {
    RunLogDirectory = name;
    fs::create_directories(work_ / "LOG" / name);
    ResultsBeginRun("QARN,SMx,1.0", 12, 3);
    std::vector<BasicPointResult> points = SampleBasicPoints();
    for (BasicPointResult& p : points) {
      p.errors.error2d *= errorScale;
      p.errors.error3d *= errorScale;
      p.errors.east *= errorScale;
      p.errors.north *= errorScale;
      if (std::isfinite(p.timeToFix)) p.timeToFix += ttffShift;
    }
    RecordBasicTest(points);
    ASSERT_EQ(ResultsEndTest(basicVerdict, {NumberField("average_2d_m", 2.55 * errorScale)}), 0);
    RecordMovingTest(SampleMovingPasses(), 20.0);
    ASSERT_EQ(ResultsEndTest("PASS", {}), 0);
  }
  fs::path previous_, work_;
};

TEST_F(RunFolder, JUnitFileReadsBackWithATestCasePerTestAndItsStatistics) {
  RecordRun("KELMAR_LOGS_A", 1.0, 0.0, "FAIL(1) <&>");
  const fs::path file = work_ / "junit.xml";
  ASSERT_EQ(WriteJUnitFile(file.string(), CurrentResults(), "seq", 1), 0);

  const ProcessResult r = RunProcess(
      {"/usr/bin/python3", "-c",
       "import sys, junitparser, xml.etree.ElementTree as ET\n"
       "xml = junitparser.JUnitXml.fromfile(sys.argv[1])\n"
       "for suite in xml:\n"
       "  print('suite', suite.name, suite.tests, suite.failures, suite.errors)\n"
       "  for case in suite:\n"
       "    kinds = [type(r).__name__ + ':' + (r.message or '') for r in case.result]\n"
       "    print('case', case.name, case.time >= 0, kinds)\n"
       "for case in ET.parse(sys.argv[1]).getroot().iter('testcase'):\n"
       "  props = {p.get('name'): p.get('value') for p in case.iter('property')}\n"
       "  print('props', case.get('name'), props.get('cep95_m'), props.get('ttff_p95_s'),\n"
       "        props.get('availability'), props.get('average_2d_m'))\n",
       file.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "suite gnss-station.KELMAR_LOGS_A 2 1 0\n"
            "case 000 Basic Localization True ['Failure:FAIL(1) <&>']\n"
            "case 001 Moving Receiver True []\n"
            "props 000 Basic Localization 5.000000 40.000000 None 2.550000\n"
            "props 001 Moving Receiver 5.385165 None 0.600000 None\n");
}

TEST_F(RunFolder, JUnitOfALaunchThatRanNoTestIsAnError) {
  const std::string xml = JUnitXml(CurrentResults(), "000", 2);
  EXPECT_NE(xml.find("tests=\"1\" failures=\"0\" errors=\"1\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<error message=\"no test ran (exit code 2)\""), std::string::npos) << xml;
}

struct Compared {
  int exitCode;
  std::string out, err;
};

Compared Compare(const std::vector<std::string>& arguments) {
  std::vector<std::string> args{STATION_BINARY_DIR "/bin/gnss-station", "--compare"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  const ProcessResult r = RunProcess(args);
  return {r.exitCode, r.out, r.err};
}

TEST_F(RunFolder, CompareShowsBothRunsAndGatesOnTheTolerances) {
  RecordRun("KELMAR_LOGS_GOOD", 1.0, 0.0, "PASS");
  RecordRun("KELMAR_LOGS_WORSE", 3.0, 10.0, "FAIL(2)");
  const std::string good = (work_ / "LOG" / "KELMAR_LOGS_GOOD").string();
  const std::string worse = (work_ / "LOG" / "KELMAR_LOGS_WORSE").string();

  // Without tolerances: the table, exit 0.
  const Compared table = Compare({good, worse});
  EXPECT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("Test 000 Basic Localization: A PASS, B FAIL(2)"), std::string::npos)
      << table.out;
  // CEP95 5 m against 15 m; TTFF 95 % 40 s against 50 s.
  EXPECT_NE(table.out.find("CEP95 [m]                 5.000       15.000      +10.000"),
            std::string::npos)
      << table.out;
  EXPECT_NE(table.out.find("TTFF 95% [s]             40.000       50.000      +10.000"),
            std::string::npos)
      << table.out;

  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const Case cases[] = {
      {{good, worse, "--tolerance", "cep95=2,ttff95=5"}, 1},
      {{good, worse, "--tolerance", "cep95=10.5,ttff95=10.5"}, 0},  // within both
      {{good, worse, "--tolerance", "ttff95=9"}, 1},
      {{worse, good, "--tolerance", "cep95=0,ttff95=0"}, 0},  // B better
      {{good, good, "--tolerance", "cep95=0,availability=0"}, 0},
      {{good, worse, "--tolerance", "cep96=2"}, 2},   // unknown figure
      {{good, worse, "--tolerance", "cep95=-1"}, 2},  // negative
      {{good, (work_ / "nowhere").string()}, 2},      // no results.json
      {{good, (work_ / "LOG").string()}, 2},          // not a run directory
  };
  for (const Case& c : cases) {
    const Compared r = Compare(c.args);
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << line << "\n" << r.out << r.err;
  }
  const Compared gate = Compare({good, worse, "--tolerance", "cep95=2,ttff95=5"});
  EXPECT_NE(gate.out.find("B is worse than A beyond tolerance in 2 figure(s)"), std::string::npos)
      << gate.out;
}

TEST_F(RunFolder, CompareRefusesAFileThatIsNotJson) {
  fs::create_directories(work_ / "LOG" / "BROKEN");
  {
    std::FILE* f = std::fopen((work_ / "LOG" / "BROKEN" / "results.json").c_str(), "w");
    std::fputs("{\"format\": \"gnss-station results\", \"tests\": [", f);
    std::fclose(f);
  }
  const Compared r =
      Compare({(work_ / "LOG" / "BROKEN").string(), (work_ / "LOG" / "BROKEN").string()});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("results.json: value expected at byte"), std::string::npos) << r.err;
}

}  // namespace
