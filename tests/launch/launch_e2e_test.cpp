// Test launches through the station's front end, read the way a user reads
// them: standard output, LOG/ and Firmware_Version.txt, the exit code, and
// (for what only the instrument sees) the emulator's transcript.
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "StationRun.h"
#include "support/EmulatorProcess.h"
#include "support/Loopback.h"
#include "support/TextFile.h"

namespace {

const std::regex kRunLogName(R"(KELMAR_LOGS_\d{4}-\d\d-\d\d_\d\d\.\d\d\.\d\d)");

// The emulator's answer to "*idn?", asked directly, line end included.
std::string Identification(int port) {
  LoopbackLineClient client(port);
  if (!client.Send("*idn?\n")) return {};
  const std::optional<std::string> answer = client.ReadLine(10.0);
  return answer ? *answer + "\n" : std::string();
}

struct Button {
  const char* control;
  const char* failure;  // what standard output shows when the simulator is not reachable
};

const char* const kColon = "Error: Can not connect to QARN. Check IP address!";
const char* const kComma = "Error, Can not connect to QARN. Check IP address!";
const char* const kLine = "Error: Can not connect to QARN. Check IP address!\n";

TEST(LaunchE2E, UnreachableSimulatorReportsAndLeavesAnEmptyRunDirectory) {
  // Tests 009 and 011 show a message box; headless it prints "Error: <text>".
  const Button buttons[] = {
      {"MAIN_RUN000", kColon},
      {"MAIN_RUN001", kComma},
      {"MAIN_RUN003", kComma},
      {"MAIN_RUN004", kComma},
      {"MAIN_RUN009", kLine},
      {"MAIN_RUN010", "Error, Can not connect to QARN. Check IP address!\n"},
      {"MAIN_RUN011", kLine},
      {"MAIN_RUN012", kComma},
      {"MAIN_RUNSEQ", kLine},
  };
  BoundLoopbackPort refusing;  // bound, never listening
  for (const Button& b : buttons) {
    const auto workdir = FreshWorkdir(std::string("unreachable-") + b.control);
    const StationResult run =
        RunStation(workdir, {"set MAIN_DUTIP=" + refusing.Address(),
                             std::string("press ") + b.control, "get MAIN_DUTIP"});
    // Without a line end the next text continues the same line.
    EXPECT_EQ(run.out, b.failure + ("MAIN_DUTIP=" + refusing.Address() + "\n")) << b.control;
    EXPECT_EQ(run.exitCode, 0) << b.control;
    const auto dirs = RunLogDirectories(workdir);
    ASSERT_EQ(dirs.size(), 1u) << b.control;
    EXPECT_TRUE(std::regex_match(dirs[0], kRunLogName)) << dirs[0];
    EXPECT_TRUE(std::filesystem::is_empty(workdir / "LOG" / dirs[0])) << b.control;
    std::filesystem::remove_all(workdir);
  }
}

TEST(LaunchE2E, ConnectedLaunchesReportRecordAndReset) {
  EmulatorProcess emulator(STATION_BINARY_DIR "/bin/qarn-emu", "0.05", {"--log"});
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  const std::string identification = Identification(emulator.Port());
  ASSERT_FALSE(identification.empty());

  struct Case {
    const char* control;
    std::string report;                    // standard output begins with it
    std::vector<std::string> thenInOrder;  // and these follow, in this order
    bool resets;
  };
  const Case cases[] = {
      {"MAIN_RUN000",
       "Basic Localization: Connected to QARN...\nRunning basic localization looping test...\n",
       {},
       true},
      {"MAIN_RUN001",
       "Moving Receiver: Connected to QARN...\nRunning moving receiver test...\n",
       {},
       false},
      {"MAIN_RUN003",
       "Carrier Phase: Connected to QARN...\nRunning Carrier Phase test...\n",
       {},
       false},
      {"MAIN_RUN004",
       "Relative Power: Connected to QARN...\nRunning relative power test...\n",
       {},
       false},
      {"MAIN_RUN009",
       "Basic Localization: Connected to QARN...\nRunning AUTO HO test...\n",
       {},
       true},
      {"MAIN_RUN010",
       "Absolute power with ZEL: Connected to QARN & ZEL...\nRunning absolute power test...\n",
       {},
       false},
      // Headless, the message box that follows the capture is printed as
      // "<title>: <text>".
      {"MAIN_RUN011",
       identification + "\n",
       {"Basic Localization: Connected to QARN...\nRunning basic localization looping test...\n"},
       false},
      {"MAIN_RUN012", "SEMI-AUTO: Connected to QARN...\nRunning SEMI-AUTO test...\n", {}, false},
      {"MAIN_RUNSEQ",
       "Connected to QARN...\nRunning basic localization looping test...\n",
       {"Basic test complete.\n", "Running Moving Receiver test...\n",
        "Moving receiver test complete.\n", "Running AUTO HO test...\n", "AUTO HO test complete.\n",
        "Running Semi AUTO test...\n", "Semi AUTO test complete.\n",
        "Running Carrier Phase Multipath test...\n", "Carrier Phase Multipath test complete.\n",
        "Running relative power test...\n", "Relative power test complete.\n"},
       true},
  };
  for (const Case& c : cases) {
    const auto workdir = FreshWorkdir(std::string("connected-") + c.control);
    const std::size_t resetsBefore = CountOf(emulator.Transcript(), "<- *rst;*opc?");
    const StationResult run = RunStation(
        workdir, {"set MAIN_DUTIP=" + emulator.Address(), std::string("press ") + c.control});
    EXPECT_EQ(run.exitCode, 0) << c.control;
    EXPECT_TRUE(run.out.starts_with(c.report)) << c.control << ":\n" << run.out;
    std::size_t at = c.report.size();
    for (const std::string& line : c.thenInOrder) {
      at = run.out.find(line, at);
      ASSERT_NE(at, std::string::npos) << c.control << ": missing or out of order: " << line;
    }
    const std::size_t resets = CountOf(emulator.Transcript(), "<- *rst;*opc?") - resetsBefore;
    EXPECT_EQ(resets, c.resets ? 1u : 0u) << c.control;

    const auto dirs = RunLogDirectories(workdir);
    ASSERT_EQ(dirs.size(), 1u) << c.control;
    EXPECT_EQ(ReadTextFile(workdir / "LOG" / dirs[0] / "Firmware_Version.txt"), identification)
        << c.control;
    std::filesystem::remove_all(workdir);
  }
}

TEST(LaunchE2E, TwoLaunchesInOneSecondGetADirectoryEach) {
  EmulatorProcess emulator(STATION_BINARY_DIR "/bin/qarn-emu", "1", {"--log"});
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  const auto workdir = FreshWorkdir("same-second");
  // At scale 1 the two launches take a few milliseconds; should they straddle
  // a second boundary, try again.
  std::vector<std::string> dirs;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::filesystem::remove_all(workdir / "LOG");
    RunStation(workdir,
               {"set MAIN_DUTIP=" + emulator.Address(), "press MAIN_RUN003", "press MAIN_RUN004"},
               "1");
    dirs = RunLogDirectories(workdir);
    if (dirs.size() == 2 && dirs[1] == dirs[0] + "_2") break;
  }
  // The second launch of the second keeps the name form, with a suffix.
  ASSERT_EQ(dirs.size(), 2u);
  EXPECT_EQ(dirs[1], dirs[0] + "_2");
  // Each launch recorded the identification in its own directory.
  for (const std::string& dir : dirs)
    EXPECT_EQ(ReadTextFile(workdir / "LOG" / dir / "Firmware_Version.txt"),
              Identification(emulator.Port()))
        << dir;
  // The second launch closed the first one's session before opening its own.
  const std::string transcript = emulator.Transcript();
  const std::size_t firstClosed = transcript.find("[1] -- disconnected");
  const std::size_t secondAsks = transcript.find("[2] <- *idn?");
  ASSERT_NE(secondAsks, std::string::npos) << transcript;
  EXPECT_LT(firstClosed, secondAsks) << transcript;
  std::filesystem::remove_all(workdir);
}

}  // namespace
