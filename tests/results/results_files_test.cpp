// The files a run leaves for machines and people: results.json read back by
// an outside validator (python3-jsonschema) against docs/results.schema.json,
// the CSV rows, STATISTICS.html opened in headless Chromium, and the NMEA
// capture decoded again with --decode-nmea.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "receiver/ReceiverCapture.h"
#include "report/Json.h"
#include "report/Results.h"
#include "state/StationState.h"
#include "support/ChildProcess.h"
#include "support/HeadlessRuntime.h"
#include "support/TextFile.h"
#include "tests/results/ResultsFixtures.h"

namespace fs = std::filesystem;

namespace {

class ResultsFiles : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartHeadlessRuntimeOnce("results_tests"));
    previous_ = fs::current_path();
    work_ =
        fs::temp_directory_path() / ("station-results-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work_);
    fs::create_directories(work_ / "LOG" / kRunDirectory);
    fs::current_path(work_);
    RunLogDirectory = kRunDirectory;
    ResetResults();
  }
  void TearDown() override {
    fs::current_path(previous_);
    // STATION_KEEP_TEST_FILES=1 leaves the run directory to look at.
    if (std::getenv("STATION_KEEP_TEST_FILES") == nullptr) fs::remove_all(work_);
    ResetResults();
  }
  fs::path RunDir() const { return work_ / "LOG" / kRunDirectory; }

  static constexpr const char* kRunDirectory = "KELMAR_LOGS_2026-12-10_14.00.00";
  fs::path previous_, work_;
};

// What python3-jsonschema says of the file: "valid" or its complaint.
std::string ValidateWithSchema(const fs::path& json) {
  const ProcessResult r =
      RunProcess({"/usr/bin/python3", "-c",
                  "import json, sys, jsonschema\n"
                  "schema = json.load(open(sys.argv[2]))\n"
                  "jsonschema.validators.validator_for(schema).check_schema(schema)\n"
                  "jsonschema.validate(json.load(open(sys.argv[1])), schema)\n"
                  "print('valid')\n",
                  json.string(), std::string(STATION_SOURCE_DIR) + "/docs/results.schema.json"});
  return r.exitCode == 0 ? "valid" : r.out + r.err;
}

JsonValue ReadJson(const fs::path& path) {
  JsonValue value;
  std::string error;
  EXPECT_TRUE(ParseJson(ReadTextFile(path), &value, &error)) << error;
  return value;
}

TEST_F(ResultsFiles, SequenceAddsItsTestsInOrderAndEachWriteHoldsTheSchema) {
  // Quotes, a backslash, a line end, a control byte and a Latin-1 byte.
  const std::string identification = "QARN,\"SMx\"\\200,\x01\xB5 1.0\n";
  ResultsBeginRun(identification, 12, 3);
  RecordBasicTest(SampleBasicPoints());
  ASSERT_EQ(ResultsEndTest("PASS(1!)", {NumberField("average_2d_m", 5.0)}), 0);

  const fs::path json = RunDir() / "results.json";
  EXPECT_EQ(ValidateWithSchema(json), "valid");
  EXPECT_EQ(ReadJson(json).Find("tests")->items.size(), 1u);

  RecordMovingTest(SampleMovingPasses(), 20.0);
  ASSERT_EQ(ResultsEndTest("FAIL", {NumberField("no_fix_time_s", 12.5)}), 0);
  EXPECT_EQ(ValidateWithSchema(json), "valid");

  const JsonValue run = ReadJson(json);
  EXPECT_EQ(run.TextAt("simulator_identification"), "QARN,\"SMx\"\\200,\x01\xC2\xB5 1.0\n");
  EXPECT_EQ(run.Find("receiver")->NumberAt("port"), 3);
  const auto& tests = run.Find("tests")->items;
  ASSERT_EQ(tests.size(), 2u);
  EXPECT_EQ(tests[0].TextAt("test_id"), "000");
  EXPECT_EQ(tests[1].TextAt("test_id"), "001");
  EXPECT_EQ(tests[0].Find("verdict")->TextAt("text"), "PASS(1!)");
  EXPECT_TRUE(tests[0].Find("verdict")->Find("passed")->boolean);
  EXPECT_FALSE(tests[1].Find("verdict")->Find("passed")->boolean);

  // Numbers read back exactly; the unmeasured are null.
  const JsonValue& points = *tests[0].Find("points");
  ASSERT_EQ(points.items.size(), 3u);
  EXPECT_EQ(points.items[0].Find("errors")->NumberAt("error_2d_m"), 0.1);
  EXPECT_EQ(points.items[0].Find("truth")->NumberAt("latitude_deg"), 48.123456789012345);
  EXPECT_EQ(points.items[2].Find("errors")->kind, JsonValue::Kind::kNull);
  EXPECT_EQ(points.items[2].TextAt("reason"), "no_3d_fix");
  const JsonValue& accuracy = *tests[0].Find("statistics")->Find("accuracy");
  EXPECT_EQ(accuracy.NumberAt("samples"), 2);
  EXPECT_EQ(accuracy.NumberAt("cep95_m"), 5.0);
  const JsonValue& drive = *tests[1].Find("statistics")->Find("drive");
  EXPECT_EQ(drive.NumberAt("passes"), 5);  // the ignore-window pass is not counted
  EXPECT_EQ(drive.NumberAt("good_fix_passes"), 3);
}

TEST_F(ResultsFiles, CsvHasAHeaderAndARowPerPointWithEmptyCellsForTheUnmeasured) {
  ResultsBeginRun("QARN", 0, 3);
  RecordBasicTest(SampleBasicPoints());
  ASSERT_EQ(ResultsEndTest("PASS", {}), 0);
  const std::vector<std::string> lines = ReadTextLines(RunDir() / "results_000.csv");
  ASSERT_EQ(lines.size(), 4u);
  const std::string header = lines[0];
  EXPECT_EQ(header.rfind("point,outcome,reason,time_to_fix_s,first_wait_s,truth_latitude_deg", 0),
            0u);
  const auto cells = [](const std::string& line) {
    return std::count(line.begin(), line.end(), ',');
  };
  for (const std::string& line : lines) EXPECT_EQ(cells(line), cells(header)) << line;
  EXPECT_NE(lines[1].find(",0.1,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("5:45 7:38"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[3].rfind("3,failed,no_3d_fix,,", 0), 0u) << lines[3];
}

TEST_F(ResultsFiles, AFileThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  ResultsBeginRun("QARN", 0, 3);
  fs::remove_all(RunDir());
  RecordBasicTest(SampleBasicPoints());
  testing::internal::CaptureStderr();
  EXPECT_NE(ResultsEndTest("PASS", {}), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("results.json: No such file or directory"), std::string::npos) << err;
  // The run in memory keeps the test.
  EXPECT_EQ(CurrentResults().tests.size(), 1u);
}

TEST_F(ResultsFiles, StatisticsPageOpensInChromiumWithEveryImageLoaded) {
  ResultsBeginRun("QARN <&>", 0, 3);
  RecordBasicTest(SampleBasicPoints());
  ResultsEndTest("PASS", {});
  RecordMovingTest(SampleMovingPasses(), 20.0);
  ASSERT_EQ(ResultsEndTest("PASS", {}), 0);

  const std::string page = ReadTextFile(RunDir() / "STATISTICS.html");
  EXPECT_NE(page.find("QARN &lt;&amp;&gt;"), std::string::npos);
  const std::regex image("<img src='([^']+)'");
  std::vector<std::string> images;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), image);
       it != std::sregex_iterator(); ++it)
    images.push_back((*it)[1]);
  // CDF and scatter of both tests, the TTFF histogram and the drive along time.
  EXPECT_EQ(images.size(), 6u);
  for (const std::string& name : images) {
    const std::string bytes = ReadTextFile(RunDir() / name);
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << name;
  }

  if (!fs::exists("/usr/bin/chromium")) GTEST_SKIP() << "chromium is not installed";
  // The page as it is, with a script after it that reports its images.
  std::string checked = page;
  checked.insert(checked.rfind("</body>"),
                 "<script>window.addEventListener('load', () => {"
                 "const all = [...document.images];"
                 "const broken = all.filter(i => !(i.complete && i.naturalWidth > 0));"
                 "document.body.setAttribute('data-check', 'images=' + all.length + ' broken=' +"
                 " broken.length);});</script>\n");
  const fs::path copy = RunDir() / "STATISTICS_check.html";
  {
    std::FILE* f = std::fopen(copy.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(checked.data(), 1, checked.size(), f);
    std::fclose(f);
  }
  ProcessOptions options;
  options.setEnv = {"HOME=" + work_.string()};
  options.stderrTo = ProcessOptions::Stderr::kDiscard;
  const ProcessResult r =
      RunProcess({"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                  "--user-data-dir=" + (work_ / "chromium").string(), "--virtual-time-budget=10000",
                  "--dump-dom", "file://" + copy.string()},
                 options);
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("data-check=\"images=6 broken=0\""), std::string::npos) << r.out;
}

TEST_F(ResultsFiles, ReceiverCaptureKeepsTheBytesAndEndsWithANoteWhenCut) {
  const std::string stream =
      ReadTextFile(std::string(STATION_SOURCE_DIR) + "/tests/data/decode_nmea_capture.nmea");
  ASSERT_GT(stream.size(), 1000u);
  const auto capture = [&](const fs::path& path, std::size_t limit) {
    ASSERT_EQ(BeginNmeaCapture(path.string(), limit), 0);
    for (std::size_t at = 0, piece = 1; at < stream.size(); at += piece, piece = piece * 3 % 97 + 1)
      CaptureReceiverBytes(stream.data() + at, std::min(piece, stream.size() - at));
    ASSERT_EQ(EndNmeaCapture(), 0);
  };
  CaptureReceiverBytes("not open", 8);  // nothing is open: ignored

  const fs::path whole = work_ / "NMEA_000.nmea";
  capture(whole, kNmeaCaptureMaxBytes);
  EXPECT_EQ(ReadTextFile(whole), stream);

  const fs::path cut = work_ / "NMEA_001.nmea";
  const std::size_t limit = stream.size() * 3 / 4;  // inside the third epoch
  capture(cut, limit);
  const std::string kept = ReadTextFile(cut);
  EXPECT_EQ(kept.substr(0, limit), stream.substr(0, limit));
  EXPECT_EQ(kept.substr(limit), FormatCutNote(limit));

  // Both read back with --decode-nmea: the whole one as the original, the cut
  // one as a prefix of it.
  const auto decode = [](const fs::path& path) {
    const ProcessResult r =
        RunProcess({STATION_BINARY_DIR "/bin/gnss-station", "--decode-nmea", path.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  };
  const std::string original =
      decode(fs::path(STATION_SOURCE_DIR) / "tests" / "data" / "decode_nmea_capture.nmea");
  EXPECT_EQ(decode(whole), original);
  const std::string part = decode(cut);
  EXPECT_FALSE(part.empty());
  const std::string firstEpoch = part.substr(0, part.find('\n') + 1);
  EXPECT_EQ(original.rfind(firstEpoch, 0), 0u);
}

}  // namespace
