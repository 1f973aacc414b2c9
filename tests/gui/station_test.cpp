// gnss-station as a user runs it: start-up failures, the --do actions through
// the real panels off-screen, a decimal-comma locale, and the main window on
// an X server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/CommaLocale.h"
#include "support/TextFile.h"

namespace fs = std::filesystem;

namespace {

const std::string kStation = STATION_BINARY_DIR "/bin/gnss-station";

using StationRun = ProcessResult;

// For the one case that needs a shell script.
std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/gnss-gui-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Runs a program in `dir`, standard output and error apart.
StationRun RunIn(const std::vector<std::string>& args, const fs::path& dir,
                 ProcessOptions options = {}) {
  options.workingDir = dir;
  return RunProcess(args, options);
}

StationRun Station(const std::vector<std::string>& actions, const fs::path& dir,
                   const ProcessOptions& options = {}, const std::string& station = kStation) {
  std::vector<std::string> args{station, "--headless"};
  for (const std::string& action : actions) args.insert(args.end(), {"--do", action});
  return RunIn(args, dir, options);
}

TEST(StationStartUp, MissingPanelResourceExitsMinusOneWithAReason) {
  TempDir dir;
  // A copy of the executable without the ui/ folder beside it.
  fs::create_directories(dir.path() / "bin");
  fs::copy_file(kStation, dir.path() / "bin/gnss-station");
  const StationRun run =
      Station({"get MAIN_DUTIP"}, dir.path(), {}, (dir.path() / "bin/gnss-station").string());
  EXPECT_EQ(run.exitCode, 255);  // -1
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot load the main panel"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("GNSS_UI_MENU.uir"), std::string::npos) << run.err;

  // Decoding a log starts no user interface, so it needs no panel resource.
  std::ofstream(dir.path() / "one.nmea")
      << "$GPGGA,120226.00,5957.00620,N,01100.64290,E,1,11,1.3,208.4,M,,M,,*41\r\n";
  const StationRun decode =
      RunIn({dir.path() / "bin/gnss-station", "--decode-nmea", "one.nmea"}, dir.path());
  EXPECT_EQ(decode.exitCode, 0) << decode.err;
}

TEST(StationStartUp, UnreachableDisplayExitsMinusOneWithAReason) {
  TempDir dir;
  ProcessOptions noDisplay;
  noDisplay.unsetEnv = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
  noDisplay.setEnv = {"DISPLAY=:12345"};
  const StationRun run = RunIn({kStation}, dir.path(), noDisplay);
  EXPECT_EQ(run.exitCode, 255);
  EXPECT_NE(run.err.find("cannot start"), std::string::npos) << run.err;
}

TEST(StationActions, SetPressGetThroughThePanels) {
  TempDir dir;
  const StationRun run = Station(
      {"set MAIN_DUTIP=10.0.0.7", "get MAIN_DUTIP", "set MAIN_COMPORT=5", "get MAIN_COMPORT",
       "set BASIC_REF_LON=-11.25", "get BASIC_REF_LON", "set MOVING_WAYPOINTS=48.1, 11.5, 520",
       "get MOVING_WAYPOINTS", "set RCV_GPSINIT=0x01;\\n0x02", "get RCV_GPSINIT", "set RCV_TYPE=1",
       "press RCV_TYPE", "get RCV_EXTRA_LIST", "set RCV_TYPE=12: user-defined type 12",
       "press RCV_TYPE", "set RCV_NEW_EXTRA=0xAA, 0xBB", "press RCV_APPEND", "get RCV_EXTRA_LIST",
       "get RCV_NEW_EXTRA"},
      dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(
      run.out,
      "MAIN_DUTIP=10.0.0.7\n"
      "MAIN_COMPORT=5\n"
      "BASIC_REF_LON=-11.250000\n"
      "MOVING_WAYPOINTS=48.1, 11.5, 520\n"
      "RCV_GPSINIT=0x01;\\n0x02\n"
      "RCV_EXTRA_LIST[0]=0x24, 0x50, 0x4F, 0x52, 0x5A, 0x42, 0x2C, 0x5A, 0x44, 0x41, 0x2C, 0x31, "
      "0x2A, 0x33, 0x42, 0x0D, 0x0A\n"
      "RCV_EXTRA_LIST[0]=0xAA, 0xBB\n"
      "RCV_NEW_EXTRA=\n");
}

TEST(StationActions, QuitEndsTheRunAndWritesNothing) {
  TempDir dir;
  const StationRun run = Station({"set MAIN_DUTIP=10.0.0.7", "quit", "get MAIN_DUTIP"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(fs::is_empty(dir.path())) << "a quit writes no file";
}

TEST(StationActions, FaultyActionsExitTwoWithTheReason) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--do", "get NO_SUCH_CONTROL", "--do", "get MAIN_DUTIP"},
       "unknown control NO_SUCH_CONTROL"},
      {{"--do", "jump MAIN_QUIT"}, "unknown action"},
      {{"--do", "set MAIN_DUTIP"}, "CONTROL=VALUE"},
      {{"--do", "set BASIC_REF_LAT=95"}, "outside"},
      {{"--do", "set BASIC_ITERATIONS=12abc"}, "integer"},
      {{"--do", "set RCV_TYPE=21"}, "no item"},
      {{"--do", "press MAIN_COMPORT"}, "no callback"},
      // Types below 10 hide the editing group: the operator cannot append.
      {{"--do", "set RCV_TYPE=3", "--do", "press RCV_TYPE", "--do", "press RCV_APPEND"},
       "RCV_APPEND is hidden"},
      {{"--bogus"}, "unknown option"},
      {{"--workdir", "/nonexistent/dir"}, "--workdir"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::vector<std::string> args{kStation, "--headless"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const StationRun run = RunIn(args, dir.path());
    EXPECT_EQ(run.exitCode, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.message << ": nothing after the failed action runs";
  }
}

// --run presses the launch button and turns the verdict into the exit code; a
// simulator that refuses the connection leaves no verdict: 2.
TEST(StationActions, RunWithoutASimulatorEndsWithoutVerdict) {
  for (const char* test : {"000", "001", "011", "seq"}) {
    TempDir dir;
    ProcessOptions scaled;
    scaled.setEnv = {"GNSS_TIME_SCALE=0.05"};
    const StationRun run = RunIn(
        {kStation, "--headless", "--do", "set MAIN_DUTIP=127.0.0.1::1::SOCKET", "--run", test},
        dir.path(), scaled);
    EXPECT_EQ(run.exitCode, 2) << test << ": " << run.err;
    EXPECT_NE(run.out.find("Can not connect to QARN"), std::string::npos)
        << test << ": " << run.out;
  }
}

// Under a decimal-comma locale the C library would read "48.117300" as 48;
// the station keeps numbers in the C locale.
// A CONFIG.INI that stands but cannot be read whole as text: a warning at
// start-up, and the save that follows keeps the old entry (under the first
// free .bak name) before writing; a readable file is saved over as always.
TEST(StationConfigFile, UnreadableFileIsKeptAsideBeforeASave) {
  const std::string text = "DUTIP=10.9.9.9\r\nLEVEL_OFFSET=1\r\n";
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;   // makes CONFIG.INI in the directory
    const char* keptAs;                          // "" when nothing is kept
    std::function<void(const fs::path&)> check;  // of the kept entry
  };
  const Case cases[] = {
      {"readable", [&](const fs::path& d) { WriteTextFile(d / "CONFIG.INI", text); }, "", nullptr},
      {"binary bytes, a backup already there",
       [&](const fs::path& d) {
         WriteTextFile(d / "CONFIG.INI", text + std::string("\0\x01\x02 garbage", 11));
         WriteTextFile(d / "CONFIG.INI.bak", "an older backup");
       },
       "CONFIG.INI.bak.2",
       [&](const fs::path& kept) {
         EXPECT_EQ(ReadTextFile(kept), text + std::string("\0\x01\x02 garbage", 11));
         EXPECT_EQ(ReadTextFile(kept.parent_path() / "CONFIG.INI.bak"), "an older backup");
       }},
      {"a directory",
       [](const fs::path& d) {
         fs::create_directory(d / "CONFIG.INI");
         WriteTextFile(d / "CONFIG.INI" / "inside", "x");
       },
       "CONFIG.INI.bak",
       [](const fs::path& kept) { EXPECT_EQ(ReadTextFile(kept / "inside"), "x"); }},
      {"a pipe", [](const fs::path& d) { ::mkfifo((d / "CONFIG.INI").c_str(), 0600); },
       "CONFIG.INI.bak", [](const fs::path& kept) { EXPECT_TRUE(fs::is_fifo(kept)); }},
      {"beyond 64 MiB",
       [&](const fs::path& d) {
         WriteTextFile(d / "CONFIG.INI", text);
         fs::resize_file(d / "CONFIG.INI", (64u << 20) + 1);
       },
       "CONFIG.INI.bak",
       [](const fs::path& kept) { EXPECT_EQ(fs::file_size(kept), (64u << 20) + 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.make(dir.path());
    // Two saves: only the first keeps anything.
    const StationRun run =
        Station({"get MAIN_LEVEL_OFFSET", "press RCV_SAVE", "press RCV_SAVE"}, dir.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const bool unreadable = *c.keptAs != '\0';
    EXPECT_EQ(run.err.find("gnss-station: warning: CONFIG.INI cannot be read as text (") !=
                  std::string::npos,
              unreadable)
        << run.err;
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "CONFIG.INI"));
    EXPECT_EQ(ReadTextFile(dir.path() / "CONFIG.INI").rfind("DUTIP=", 0), 0u);
    if (!unreadable) {
      EXPECT_FALSE(fs::exists(dir.path() / "CONFIG.INI.bak"));
      continue;
    }
    EXPECT_NE(run.err.find(std::string("kept as ") + c.keptAs), std::string::npos) << run.err;
    c.check(dir.path() / c.keptAs);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, std::string(c.name).find("backup") != std::string::npos ? 3u : 2u)
        << "the second save kept nothing more";
  }
}

// A save that fails prints the station's two messages (the reason on
// stderr), and the run exits 1 instead of 0.
TEST(StationConfigFile, FailedSaveEndsTheRunWithOne) {
  TempDir dir;
  fs::create_directory(dir.path() / "CONFIG.INI.tmp");  // where the save writes first
  const StationRun run = Station({"press RCV_SAVE"}, dir.path());
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.out.find("Error: Could not save INI file (0)!\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("The following error occurred: Is a directory\n"), std::string::npos)
      << run.err;
}

TEST(StationLocale, DecimalCommaLocaleStillReadsAndWritesPoints) {
  TempDir dir;
  const fs::path locales = CommaLocaleFolder();
  if (locales.empty()) GTEST_SKIP() << "localedef cannot make de_DE.UTF-8";
  ProcessOptions env;
  env.setEnv = {"LOCPATH=" + locales.string(), "LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"};
  const StationRun probe = RunIn({"/usr/bin/printf", "%.1f", "1.5"}, dir.path(), env);
  if (probe.out != "1,5")
    GTEST_SKIP() << "no decimal-comma locale could be made (" << probe.out << ")";

  std::ofstream(dir.path() / "CONFIG.INI")
      << "BASIC=Y;25;8;0;0;0;4;AUTO;AUTO;AUTO;120.500000;48.117300;11.516700;520.000000;1000."
         "000000;0.000000;\r\n";
  const StationRun run = Station({"get BASIC_REF_LAT", "get BASIC_MAX_FIXTIME",
                                  "set BASIC_REF_LON=-0.000001", "get BASIC_REF_LON"},
                                 dir.path(), env);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "BASIC_REF_LAT=48.117300\nBASIC_MAX_FIXTIME=120.500000\nBASIC_REF_LON=-0.000001\n");
}

// The main window on a real X server (Xvfb): the station runs with a display,
// ImageMagick grabs the screen, and the picture must show more than a blank
// screen. Xvfb picks a free display itself (-displayfd), so that tests running
// side by side do not race for one; the station is stopped by its process id.
TEST(StationWindow, MainWindowIsDrawnOnAnXServer) {
  if (RunIn({"/bin/sh", "-c", "command -v Xvfb && command -v import"}, "/").exitCode != 0) {
    GTEST_SKIP() << "Xvfb or ImageMagick's import is missing";
  }
  TempDir dir;
  const fs::path shot = dir.path() / "screen.png";
  const fs::path display = dir.path() / "display";
  const std::string script =
      "Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>" + Quote(display) +
      " 2>/dev/null & xvfb=$!\n"
      "for i in $(seq 1 100); do [ -s " +
      Quote(display) +
      " ] && break; sleep 0.1; done\n"
      "export DISPLAY=:$(cat " +
      Quote(display) + ")\n" + Quote(kStation) + " --workdir " + Quote(dir.path()) +
      " & pid=$!\n"
      "colors=0\n"
      "for i in $(seq 1 150); do\n"
      "  if import -window root " +
      Quote(shot) +
      " 2>/dev/null; then\n"
      "    colors=$(identify -format %k " +
      Quote(shot) +
      ")\n"
      "    [ \"$colors\" -gt 32 ] && break\n"
      "  fi\n"
      "  sleep 0.2\n"
      "done\n"
      "kill -0 $pid && echo alive\n"
      "kill $pid; wait $pid\n"
      "kill $xvfb; wait $xvfb\n"
      "echo colors=$colors\n";
  ProcessOptions onX;
  onX.unsetEnv = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
  const StationRun run = RunIn({"/bin/sh", "-c", script}, dir.path(), onX);
  EXPECT_NE(run.out.find("alive"), std::string::npos)
      << "the station kept running: " << run.out << run.err;
  const auto at = run.out.rfind("colors=");
  const int colors = at == std::string::npos ? 0 : std::atoi(run.out.c_str() + at + 7);
  EXPECT_GT(colors, 32) << "blank screen: " << run.out << run.err;
}

}  // namespace
