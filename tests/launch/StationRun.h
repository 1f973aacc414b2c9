// Runs gnss-station headless in a working directory and collects what a user
// reads: standard output and the exit code.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

struct StationResult {
  std::string out;
  int exitCode = -1;
};

inline StationResult RunStation(const std::filesystem::path& workdir,
                                const std::vector<std::string>& actions,
                                const std::string& timeScale = "0.05") {
  std::vector<std::string> args{STATION_BINARY_DIR "/bin/gnss-station", "--headless", "--workdir",
                                workdir.string()};
  for (const std::string& action : actions) args.insert(args.end(), {"--do", action});
  ProcessOptions options;
  options.setEnv = {"GNSS_TIME_SCALE=" + timeScale};
  options.stderrTo = ProcessOptions::Stderr::kDiscard;
  const ProcessResult run = RunProcess(args, options);
  return {run.out, run.exitCode};
}

// A fresh, empty working directory below the system's temporary folder.
inline std::filesystem::path FreshWorkdir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("station-launch-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// The run-log directories below LOG/, by name.
inline std::vector<std::string> RunLogDirectories(const std::filesystem::path& workdir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(workdir / "LOG", ignored)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
