// Runs gnss-station headless in a working directory and collects what a user
// reads: standard output and the exit code.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

struct StationResult {
  std::string out;
  int exitCode = -1;
};

inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline StationResult RunStation(const std::filesystem::path& workdir,
                                const std::vector<std::string>& actions,
                                const std::string& timeScale = "0.05") {
  std::string command = "GNSS_TIME_SCALE=" + timeScale + " " +
                        ShellQuote(STATION_BINARY_DIR "/bin/gnss-station") +
                        " --headless --workdir " + ShellQuote(workdir.string());
  for (const std::string& action : actions) command += " --do " + ShellQuote(action);
  command += " 2>/dev/null";
  StationResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
    result.out.append(chunk, got);
  }
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
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
