// Faults end to end, as one table: each row arranges a fault (through
// qarn-emu's EMULator: commands or in the file system), runs the basic or
// the moving test headless with --run, and checks what a user is owed: the
// run ends within its time-outs, says what failed, exits as fits (0 only
// where the fault leaves the measurement sound, never a crash), and the log
// it could write is complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BasicLab.h"

namespace {

using namespace basic_lab;
using Clock = std::chrono::steady_clock;

struct FaultCase {
  const char* name;
  const char* test;  // --run: "000" (basic, 2 points) or "001" (moving, 200 lab seconds)
  std::vector<std::string> lab;       // EMULator: commands before the run
  std::function<void(Lab&)> prepare;  // the file system before the run
  std::function<void(Lab&)> during;   // once the run has started (own thread)
  std::string shell;                  // before the station, in its shell
  int exitCode;
  std::string said;    // in stdout or stderr
  std::string logged;  // in GNSS_000.html, which ends complete ("": no log expected)
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

// Waits (bounded) for the run-log directory and for `file` in it to hold `text`.
bool WaitForLog(Lab& lab, const std::string& file, const std::string& text, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    const fs::path dir = lab.RunLog();
    if (!dir.empty() && ReadFile(dir / file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Lab::Run with a shell prefix (a resource limit) before the station.
StationRun RunLimited(Lab& lab, const std::string& test, const std::string& prefix,
                      const std::string& timeScale) {
  std::string command = "cd " + Quote(lab.Dir()) + " && " + prefix +
                        " GNSS_TIME_SCALE=" + timeScale + " " + Quote(kStation) +
                        " --headless --workdir " + Quote(lab.Dir());
  const std::vector<std::string> actions = {
      "set MAIN_DUTIP=127.0.0.1::" + std::to_string(lab.Port()) + "::SOCKET",
      "set MAIN_COMPORT=3",
      "set BASIC_MAX_FIXTIME=60",
      "set BASIC_ITERATIONS=2",
      "set MOVING_WAYPOINTS=48.1, 11.5, 520",
      "set MOVING_DURATION=200",
      "set MOVING_NUM_GPS=6",
      "set MOVING_NUM_GAL=0",
      "set MOVING_NUM_GLN=0",
      "set MOVING_IGNORE_TIME=0"};
  for (const std::string& action : actions) command += " --do " + Quote(action);
  command += " --run " + test;
  const fs::path out = lab.Dir() / ".out", err = lab.Dir() / ".err";
  command += " >" + Quote(out) + " 2>" + Quote(err);
  StationRun run;
  const int status = std::system(command.c_str());
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

class FaultsE2E : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultsE2E, RunEndsSaysWhatFailedAndKeepsItsFilesWhole) {
  const FaultCase& c = GetParam();
  Lab lab(std::string("fault-") + c.name);
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  for (const std::string& command : c.lab) lab.Command(command);
  if (c.prepare) c.prepare(lab);
  std::thread during;
  if (c.during) during = std::thread([&] { c.during(lab); });
  const auto start = Clock::now();
  const StationRun run = RunLimited(lab, c.test, c.shell, "0.02");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (during.joinable()) during.join();

  SCOPED_TRACE(run.out + "\n--- stderr ---\n" + run.err);
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << c.said;
  // A pass whose files could not all be written says it is not a clean one.
  if (c.exitCode == 1 && run.err.find("Localization: PASS") != std::string::npos)
    EXPECT_NE(run.err.find("not a clean PASS"), std::string::npos);
  EXPECT_LT(seconds, 120.0) << "beyond the stated time-outs";
  if (!c.logged.empty()) {
    const fs::path dir = lab.RunLog();
    ASSERT_FALSE(dir.empty());
    const bool basic = std::string(c.test) == "000";
    const std::string html = ReadFile(dir / (basic ? "GNSS_000.html" : "GNSS_001.html"));
    EXPECT_NE(html.find(c.logged), std::string::npos) << c.logged;
    EXPECT_TRUE(html.ends_with(basic ? "<h2>************END OF TEST ROW*************</h2><br>\n"
                                     : "<h2>************END OF TEST ROW 1*************</h2><br>\n"))
        << "the log is complete";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultsE2E,
    testing::Values(
        // Garbage between the sentences: the epochs around it still decode.
        FaultCase{"receiver_garbage",
                  "000",
                  {"EMULator:RECeiver:FAULt:GARBage ON"},
                  nullptr,
                  nullptr,
                  "",
                  0,
                  "Basic Localization: PASS",
                  "3D-Error = "},
        FaultCase{"receiver_silent",
                  "000",
                  {"EMULator:RECeiver:FAULt:SILent ON"},
                  nullptr,
                  nullptr,
                  "",
                  1,
                  "Basic Localization: FAIL(2)",
                  "FIX TIMEOUT! Time elapsed"},
        FaultCase{"receiver_unplugged_during_the_test",
                  "000",
                  {},
                  nullptr,
                  [](Lab& lab) {
                    if (WaitForLog(lab, "GNSS_000.html", "Point #1", 60))
                      lab.Command("EMULator:RECeiver:FAULt:UNPLug ON");
                  },
                  "",
                  1,
                  "Basic Localization: FAIL(",
                  "ERROR: Could not initialize receiver ("},
        FaultCase{"instrument_drops_the_connection",
                  "000",
                  {"EMULator:CONNection:DROP:AFTer 30"},
                  nullptr,
                  nullptr,
                  "",
                  1,
                  "gnss-station: the simulator's connection is lost: VI_ERROR_CONN_LOST",
                  "FIX TIMEOUT! Time elapsed"},
        // Garbage for every answer: the error queue never says "No error".
        FaultCase{"error_queue_never_empties",
                  "000",
                  {"EMULator:ANSWer:MODE GARBage"},
                  nullptr,
                  nullptr,
                  "",
                  0,
                  "Basic Localization: PASS",
                  "DUT INFO ERR: error queue not empty after 256 entries; not read further"},
        // Unplugged a moment after its first 3D fix, for the rest of the drive.
        FaultCase{"receiver_unplugged_mid_drive",
                  "001",
                  {},
                  nullptr,
                  [](Lab& lab) {
                    const auto end = Clock::now() + std::chrono::seconds(60);
                    while (lab.Command("EMULator:RECeiver:FIX?") != "3" && Clock::now() < end)
                      std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                    lab.Command("EMULator:RECeiver:FAULt:UNPLug ON");
                  },
                  "",
                  1,
                  "Moving Receiver: FAIL",
                  // Lost for the rest (or, on a slow machine, never good).
                  "<font color='red'>ERROR! "},
        FaultCase{"log_directory_not_writable",
                  "000",
                  {},
                  [](Lab& lab) { std::ofstream(lab.Dir() / "LOG") << "not a directory\n"; },
                  nullptr,
                  "",
                  2,
                  "gnss-station: cannot create LOG/KELMAR_LOGS_",
                  ""},
        // A file-size limit stands for a full disk: the HTML log and the
        // pictures are cut short, and the pass is not a clean one.
        FaultCase{"disk_full",
                  "000",
                  {},
                  nullptr,
                  nullptr,
                  "ulimit -f 4;",
                  1,
                  "GNSS_000.html is incomplete",
                  ""},
        FaultCase{"summary_not_openable",
                  "000",
                  {},
                  nullptr,
                  [](Lab& lab) {
                    if (WaitForLog(lab, "GNSS_000.html", "Point #1", 60))
                      fs::create_directory(lab.RunLog() / "SUMMARY.html");
                  },
                  "",
                  1,
                  "SUMMARY.html: Is a directory",
                  "Test Row 1 Result:           PASS"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
