// Test 001 end to end in the emulated lab: qarn-emu plays a route (or stands
// still), its virtual receiver reports from a pseudo-terminal, and the station
// runs headless with --run 001 (or seq). Everything is read as a user reads
// it: standard output, the exit code, GNSS_001.html, SUMMARY.html and the
// graph pictures, plus the emulator's transcript for what only the simulator
// sees.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "MovingLab.h"

namespace {

// Lab time runs 20 times as fast: a 60-second drive takes about 3 s.
const char* const kScale = "0.05";
const std::vector<std::string> kQuickReceiver = {"--ttff", "5", "--hot-ttff", "2"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "Average: 3D-Error = X m, 2D-Error = Y m" of the HTML log.
bool Averages(const std::string& html, double* average3d, double* average2d) {
  static const std::regex kAverage(
      R"(Average: 3D-Error = (-?[0-9.]+) m, 2D-Error = (-?[0-9.]+) m)");
  std::smatch m;
  if (!std::regex_search(html, m, kAverage)) return false;
  *average3d = std::atof(m[1].str().c_str());
  *average2d = std::atof(m[2].str().c_str());
  return true;
}

// Pixels of a picture close to a colour (JPEG blurs colours a little).
int PixelsNear(const QImage& image, QColor colour, int tolerance = 150) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) <
          tolerance)
        ++n;
    }
  return n;
}

const char* const kResultPassBlock =
    "<br><hr><br><h3><font color='green'>Test Row 1 Result:           PASS</font></h3><hr><br>\n\n"
    "<h2>************END OF TEST ROW 1*************</h2><br>\n";

// A drive at 130 km/h whose receiver reports every epoch a whole second after
// the instant it describes: only pairing each fix with the truth at its own
// UTC second keeps the errors within the receiver's few metres of noise (a
// pairing by the time of reading would be 36 m off).
TEST(MovingE2E, MotorwayDriveWithLateEpochsPasses) {
  MovingLab lab("motorway", kScale, With(kQuickReceiver, {"--latency", "1"}));
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  const MovingRunResult run = lab.Run(
      lab.Settings({"set MOVING_WAYPOINTS=/routes/motorway.txt", "set MOVING_DURATION=60"}));

  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_TRUE(run.out.starts_with(
      "Moving Receiver: Connected to QARN...\nRunning moving receiver test...\n"))
      << run.out;
  EXPECT_NE(run.out.find("Moving receiver test complete!\n"), std::string::npos) << run.out;

  // The log as the operator reads it, from the heading to the result block.
  const std::string& html = run.html;
  EXPECT_TRUE(
      html.starts_with("<h2><a name='movingrow'>Moving Test started: Moving receiver "
                       "scenario will be logged for 60 sec</a></h2><br>\n\n"))
      << html.substr(0, 200);
  EXPECT_TRUE(std::regex_search(
      html, std::regex(R"(  \nStart Point info:\n  time: \d+:\d+:\d+  LAT=48\.19\d{4}  )"
                       R"(LONG=11\.60\d{4}  ALT=50\d\.\d{6}<br>\n\n<br>)")))
      << html.substr(0, 600);
  EXPECT_NE(html.find("  Monitoring FIX with minimum of (4) satellites...<br>\n<br>"),
            std::string::npos);
  EXPECT_EQ(CountOf(html, "  Got first good fix!\n<br>"), 1u);
  EXPECT_TRUE(std::regex_search(
      html, std::regex(R"(  <font color='blue'>Periodic report 1: 2D_ERR=\d+\.\d{3}   )"
                       R"(3D_ERR=\d+\.\d{3}   HDOP=\d+\.\d\d   VDOP=\d+\.\d\d\n</font><br>)")));
  EXPECT_TRUE(std::regex_search(
      html, std::regex(R"(  <font color='blue'>Receiver Time: \d+\.12\.20\d\d , \d+:\d+:\d+ )"
                       R"(</font><br>)")));
  EXPECT_EQ(html.find("Error exceeded Max allowed"), std::string::npos);
  EXPECT_TRUE(html.ends_with(kResultPassBlock)) << html.substr(html.size() - 300);
  double average3d = 0, average2d = 0;
  ASSERT_TRUE(Averages(html, &average3d, &average2d));
  EXPECT_GT(average2d, 0.0);
  EXPECT_LT(average2d, 10.0);
  EXPECT_LT(average3d, 15.0);

  // The summary section: the notes, then one row with the settings and results.
  EXPECT_TRUE(run.summary.starts_with(
      "<hr><h1>Summary of Moving Receiver Test Run (Test 001)</h1>\n<hr>Notes:<br><ol>\n"
      "<li>A row with 'SKIP' is not configured to run and is not part of the test "
      "sequence.</li>\n<li>PASS Criteria: AVG 2D and AVG 3D error below thresholds (2D:25m "
      "3D:60m), AND receiver has a fix for over 80% of the time after the first acceptable "
      "fix.\n</ol><hr>\n<table border=1>\n<tr><td>Test Row #</td><td>Time [s]</td>"))
      << run.summary.substr(0, 500);
  EXPECT_TRUE(run.summary.ends_with("</tr>\n</table>\n<br><hr><hr><br>"));
  const std::vector<std::string> cells =
      SummaryDataCells(run.summary, "Summary of Moving Receiver Test Run");
  ASSERT_EQ(cells.size(), 19u) << run.summary;
  const std::vector<std::string> settings = {
      "<td>1</td>",    "<td>60</td>",
      "<td>6</td>",    "<td>0</td>",
      "<td>0</td>",    "<td>4</td>",
      "<td>AUTO</td>", "<td>AUTO</td>",
      "<td>AUTO</td>", "<td><span style='font-size:10px'>/routes/motorway.txt</span></td>",
      "<td>0</td>",    "<td>0</td>"};
  for (std::size_t i = 0; i < settings.size(); ++i) EXPECT_EQ(cells[i], settings[i]) << i;
  EXPECT_EQ(cells[12],
            "<td>" + std::string(QString::number(average2d, 'f', 3).toStdString()) + "</td>");
  EXPECT_EQ(cells[15], "<td><font color='green'><b>PASS</b></font></td>");
  EXPECT_EQ(cells[16], "<td><a href='GNSS_001.html#row1'>LINK</a></td>");
  EXPECT_EQ(cells[17], "<td><img width='210px' src='GNSS_001_2DERR_1.jpg' /></td>");
  EXPECT_EQ(cells[18], "<td><img width='210px' src='GNSS_001_3DERR_1.jpg' /></td>");

  // The pictures the summary shows: graphs with red single errors and the
  // blue running average.
  for (const char* name : {"GNSS_001_2DERR_1.jpg", "GNSS_001_3DERR_1.jpg"}) {
    QImage picture;
    ASSERT_TRUE(picture.load(QString::fromStdString((run.runDirectory / name).string()), "JPG"))
        << name;
    EXPECT_GT(picture.width(), 200) << name;
    EXPECT_GT(picture.height(), 100) << name;
    EXPECT_GT(PixelsNear(picture, Qt::red), 20) << name;
    EXPECT_GT(PixelsNear(picture, Qt::blue), 20) << name;
  }

  // The simulator plays the route cyclically and is asked for the truth at
  // the UTC second of each fix.
  const std::string transcript = lab.Emulator().Transcript();
  for (const char* command : {"<- SOUR:BB:GPS:LOCation:SELect 'Waypoints'\n",
                              "<- SOUR:BB:GPS:LOCation:WAYPoints:FILE '/routes/motorway.txt'\n",
                              "<- SOUR:BB:GPS:LOCation:WAYPoints:ROMode CYCL\n"})
    EXPECT_NE(transcript.find(command), std::string::npos) << command;
  EXPECT_GE(CountOf(transcript, "<- SOUR:BB:GPS:RT:RLOCation:COORdinates:DECimal? UTC,20"), 30u);
}

// Faults of the receiver during a run, each with the verdict and the lines a
// user finds in the log.
struct FaultCase {
  const char* name;
  std::vector<std::string> emulatorCommands;
  std::vector<std::string> settings;
  const char* result;
  int exitCode;
  std::vector<std::string> htmlLines;  // each must be in GNSS_001.html
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class MovingFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(MovingFaults, VerdictAndLog) {
  const FaultCase& c = GetParam();
  MovingLab lab(c.name, kScale, kQuickReceiver);
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  for (const std::string& command : c.emulatorCommands) lab.Scpi(command);
  const MovingRunResult run = lab.Run(lab.Settings(c.settings));

  EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
  for (const std::string& line : c.htmlLines)
    EXPECT_NE(run.html.find(line), std::string::npos) << line << "\n" << run.html;
  const std::string colour = std::string(c.result) == "PASS" ? "green" : "red";
  EXPECT_NE(run.html.find("<h3><font color='" + colour +
                          "'>Test Row 1 Result:           " + c.result + "</font></h3>"),
            std::string::npos);
  const std::vector<std::string> cells =
      SummaryDataCells(run.summary, "Summary of Moving Receiver Test Run");
  ASSERT_EQ(cells.size(), 19u) << run.summary;
  EXPECT_EQ(cells[15], "<td><font color='" + colour + "'><b>" + c.result + "</b></font></td>");
}

const char* const kLostFix =
    "<font color='red'>ERROR! Lost good fix for more than 20 percent of time after the first "
    "good fix!</font><br>";
const char* const kNeverGood =
    "<font color='red'>ERROR! Never got a sufficiently good fix!</font><br>";

INSTANTIATE_TEST_SUITE_P(
    Faults, MovingFaults,
    testing::Values(
        // The receiver loses its fix in 3 of every 10 epochs after the first.
        FaultCase{"loss30",
                  {"EMULator:RECeiver:FAULt:LOSS 30"},
                  {"set MOVING_WAYPOINTS=/routes/circle.txt", "set MOVING_DURATION=80"},
                  "FAIL",
                  1,
                  {kLostFix}},
        // One epoch in ten keeps two satellites out of the solution: a
        // warning each, time without a good fix, still a pass.
        FaultCase{"degraded10",
                  {"EMULator:RECeiver:FAULt:DEGRade 10,2"},
                  {"set MOVING_WAYPOINTS=/routes/city-loop.txt", "set MOVING_DURATION=80",
                   "set MOVING_MIN_SATS=6"},
                  "PASS",
                  0,
                  {"<font color='orange'>Warning! Only tracking 4 SATs out of 6 required!\n"
                   "</font><br>"}},
        // Every fix degraded: measured, but never a good fix.
        FaultCase{"degraded100",
                  {"EMULator:RECeiver:FAULt:DEGRade 100,2"},
                  {"set MOVING_WAYPOINTS=/routes/circle.txt", "set MOVING_DURATION=40",
                   "set MOVING_MIN_SATS=6"},
                  "FAIL",
                  1,
                  {kNeverGood,
                   "<font color='orange'>Warning! Only tracking 4 SATs out of 6 "
                   "required!\n</font><br>"}},
        // Lost 30 % of the time and 30 m off to the east: the average error
        // decides the final text. The fixed position is sent longitude first.
        FaultCase{"precedence",
                  {"EMULator:RECeiver:FAULt:LOSS 30", "EMULator:RECeiver:NOISe 0",
                   "EMULator:RECeiver:FAULt:OFFSet 30,0,0"},
                  {"set MOVING_WAYPOINTS=48.1, 11.5, 520", "set MOVING_DURATION=80"},
                  "2D ERR",
                  1,
                  {kLostFix, "LAT=48.100000  LONG=11.500000  ALT=520.000000<br>\n\n<br>",
                   "<font color='orange'>2D Error exceeded Max allowed! (30.0",
                   "<font color='red'>Average 2D error exceeded maximum allowed! (2D ERR)\n"
                   "</font><br>",
                   "2D-Error = 30.0"}},
        // No monitoring at all.
        FaultCase{"duration0",
                  {},
                  {"set MOVING_WAYPOINTS=/routes/circle.txt", "set MOVING_DURATION=0"},
                  "FAIL",
                  1,
                  {kNeverGood, "Average: 3D-Error = -1.000000 m, 2D-Error = -1.000000 m"}}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// The fixed-position form reaches the simulator longitude first, and a run
// without monitoring leaves averages of -1 and no pictures.
TEST(MovingE2E, FixedPositionAndNoMonitoring) {
  MovingLab lab("fixed", kScale, kQuickReceiver);
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  const MovingRunResult run =
      lab.Run(lab.Settings({"set MOVING_WAYPOINTS=48.1, 11.5, 520", "set MOVING_DURATION=0",
                            "set MOVING_GPS_SVIDS=1,5,7"}));
  EXPECT_EQ(run.exitCode, 1);
  const std::string transcript = lab.Emulator().Transcript();
  EXPECT_NE(transcript.find("<- SOUR:BB:GPS:LOCation:SELect \"User Defined\"\n"),
            std::string::npos);
  EXPECT_NE(
      transcript.find("<- SOUR:BB:GPS:LOC:COORdinates:DECimal 11.500000,48.100000,520.000000\n"),
      std::string::npos)
      << transcript;
  EXPECT_EQ(transcript.find("RT:RLOCation"), std::string::npos);
  const std::vector<std::string> cells =
      SummaryDataCells(run.summary, "Summary of Moving Receiver Test Run");
  ASSERT_EQ(cells.size(), 19u);
  EXPECT_EQ(cells[6], "<td>1 5 7</td>");
  EXPECT_EQ(cells[9], "<td><span style='font-size:10px'>48.1, 11.5, 520</span></td>");
  EXPECT_EQ(cells[12] + cells[13] + cells[14], "<td>-1.000</td><td>-1.000</td><td>0.000</td>");
  EXPECT_FALSE(std::filesystem::exists(run.runDirectory / "GNSS_001_2DERR_1.jpg"));
}

// The sequence runs the basic test and then the moving test in one run-log
// directory; SUMMARY.html holds their sections in that order.
TEST(MovingE2E, SequenceWritesBothSummarySectionsInOrder) {
  MovingLab lab("sequence", kScale, kQuickReceiver);
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  const MovingRunResult run = lab.Run(
      lab.Settings({"set MOVING_WAYPOINTS=/routes/circle.txt", "set MOVING_DURATION=40",
                    "set BASIC_ITERATIONS=2", "set BASIC_NUM_GPS=6", "set BASIC_MIN_SATS=4"}),
      "seq");
  if (run.out.find("Basic localization test: the test procedure is not built yet.") !=
      std::string::npos)
    GTEST_SKIP() << "the basic test is not built yet: no basic section to order";
  const std::size_t movingStart = run.out.find("Running Moving Receiver test...\n");
  ASSERT_NE(movingStart, std::string::npos) << run.out;
  EXPECT_NE(
      run.out.find("Moving receiver test complete!\nMoving receiver test complete.\n", movingStart),
      std::string::npos)
      << run.out;
  const std::size_t moving = run.summary.find("Summary of Moving Receiver Test Run (Test 001)");
  ASSERT_NE(moving, std::string::npos) << run.summary;
  EXPECT_EQ(CountOf(run.summary, "<hr><h1>Summary of"), 2u) << run.summary;
  const std::size_t basic = run.summary.find("<hr><h1>Summary of BASIC Localization Test Run");
  ASSERT_NE(basic, std::string::npos) << run.summary;
  EXPECT_LT(basic, moving);
}

}  // namespace
