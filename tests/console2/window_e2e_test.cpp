// The station with a window (on Xvfb) launched against a silent instrument,
// driven by the command-line front end: actions timed with "after" run while
// the launch waits, so the window answers a `get` before the launch has
// reported its connection, the status line says what it waits for, and the
// abort button ends the launch long before the 50 s time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/ChildProcess.h"
#include "support/EmulatorProcess.h"
#include "tests/console/ScpiClient.h"

namespace fs = std::filesystem;

namespace {

const std::string kStation = STATION_BINARY_DIR "/bin/gnss-station";

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TEST(WindowDuringALaunch, AnswersAndAbortsWhileTheInstrumentIsSilent) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is missing";
  EmulatorProcess emulator(STATION_BINARY_DIR "/bin/qarn-emu");
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  ScpiClient scpi(emulator.Port());
  ASSERT_EQ(scpi.Query("EMULator:SILent ON;:EMULator:SILent?"), "1");

  char pattern[] = "/tmp/gnss-window-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  const fs::path display = dir / "display";
  std::string station = Quote(kStation) + " --workdir " + Quote(dir.string());
  for (const std::string& action :
       {"set MAIN_DUTIP=" + emulator.Address(), std::string("after 2 get MAIN_STATUS"),
        std::string("after 2.2 get MAIN_DUTIP"), std::string("after 2.5 press MAIN_ABORT")})
    station += " --do " + Quote(action);
  station += " --run 000";
  const std::string script = "Xvfb -displayfd 3 -screen 0 1280x960x24 -nolisten tcp 3>" +
                             Quote(display.string()) +
                             " 2>/dev/null & xvfb=$!\n"
                             "for i in $(seq 1 100); do [ -s " +
                             Quote(display.string()) +
                             " ] && break; sleep 0.1; done\n"
                             "export DISPLAY=:$(cat " +
                             Quote(display.string()) + ")\n" + station +
                             "\n"
                             "status=$?\n"
                             "kill $xvfb; wait $xvfb\n"
                             "exit $status\n";
  ProcessOptions onX;
  onX.unsetEnv = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
  onX.workingDir = dir.string();
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult run = RunProcess({"/bin/sh", "-c", script}, onX);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fs::remove_all(dir);

  EXPECT_EQ(run.exitCode, 2) << "no verdict\n" << run.out << run.err;
  EXPECT_LT(seconds, 30.0) << "the identification alone would wait 50 s";
  const std::string status =
      "MAIN_STATUS=waiting for the simulator at " + emulator.Resource() + ": ";
  const auto statusAt = run.out.find(status);
  const auto getAt = run.out.find("MAIN_DUTIP=" + emulator.Address() + "\n");
  const auto connectedAt = run.out.find(
      "Basic Localization: Connected to QARN...\nRunning basic localization looping test...\n");
  EXPECT_NE(statusAt, std::string::npos) << run.out;
  EXPECT_NE(connectedAt, std::string::npos) << run.out;
  EXPECT_LT(statusAt, connectedAt) << "the status line was read during the wait\n" << run.out;
  EXPECT_LT(getAt, connectedAt) << "the get was answered during the wait\n" << run.out;
  EXPECT_NE(run.err.find("gnss-station: the simulator at " + emulator.Resource() +
                         " did not answer *idn?"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("gnss-station: test 000 aborted before it started"), std::string::npos)
      << run.err;
}

// "after" actions run out of order, and a headless run waits for them before
// it quits; a malformed one is refused like any faulty action.
TEST(AfterActions, RunOutOfOrderAndAHeadlessRunWaitsForThem) {
  char pattern[] = "/tmp/gnss-after-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  const ProcessResult run =
      RunProcess({kStation, "--headless", "--workdir", dir.string(), "--do",
                  "after 0.4 get MAIN_DUTIP", "--do", "after 0.2 get MAIN_COMPORT", "--do",
                  "set MAIN_DUTIP=10.0.0.7", "--do", "set MAIN_COMPORT=4"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "MAIN_COMPORT=4\nMAIN_DUTIP=10.0.0.7\n");

  for (const char* faulty : {"after soon get MAIN_DUTIP", "after 1", "after -1 get MAIN_DUTIP",
                             "after 1 after 2 get MAIN_DUTIP", "after 1 jump MAIN_DUTIP"}) {
    const ProcessResult bad =
        RunProcess({kStation, "--headless", "--workdir", dir.string(), "--do", faulty});
    EXPECT_EQ(bad.exitCode, 2) << faulty;
    EXPECT_NE(bad.err.find("gnss-station: "), std::string::npos) << faulty << bad.err;
  }
  fs::remove_all(dir);
}

}  // namespace
