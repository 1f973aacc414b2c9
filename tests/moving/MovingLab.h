// The emulated lab for the moving receiver test: qarn-emu with the example
// routes as its storage and its virtual receiver linked into a fresh working
// directory, a small SCPI client for the EMULator: faults, and the station run
// headless there, read as a user reads it (standard output, error output,
// GNSS_001.html, SUMMARY.html, the pictures, the exit code).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/EmulatorProcess.h"

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// One SCPI connection to the emulator (loopback).
class ScpiClient {
 public:
  explicit ScpiClient(int port) {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(socket_);
      socket_ = -1;
    }
  }
  ~ScpiClient() {
    if (socket_ >= 0) ::close(socket_);
  }
  ScpiClient(const ScpiClient&) = delete;
  ScpiClient& operator=(const ScpiClient&) = delete;

  // Sends a message; a query's answer comes back (without its line end).
  std::string Send(const std::string& message) {
    const std::string line = message + "\n";
    if (socket_ < 0 || ::write(socket_, line.data(), line.size()) != ssize_t(line.size()))
      return "<no connection>";
    if (message.find('?') == std::string::npos) return {};
    std::string answer;
    char c;
    while (true) {
      pollfd p{socket_, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1 || ::read(socket_, &c, 1) != 1 || c == '\n') break;
      answer += c;
    }
    return answer;
  }

 private:
  int socket_ = -1;
};

struct MovingRunResult {
  std::string out;  // standard output
  std::string err;  // error output
  int exitCode = -1;
  std::filesystem::path runDirectory;  // LOG/KELMAR_LOGS_...
  std::string html;                    // GNSS_001.html
  std::string summary;                 // SUMMARY.html
};

class MovingLab {
 public:
  // A working directory of its own; the emulator's receiver is COM3 there.
  MovingLab(const std::string& name, std::string timeScale,
            std::vector<std::string> emulatorArguments = {})
      : timeScale_(std::move(timeScale)) {
    workdir_ = std::filesystem::temp_directory_path() /
               ("station-moving-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(workdir_);
    std::filesystem::create_directories(workdir_ / "COM");
    std::vector<std::string> args = {"--log",
                                     "--storage",
                                     STATION_SOURCE_DIR "/emulator",
                                     "--com-dir",
                                     (workdir_ / "COM").string(),
                                     "--com",
                                     "3"};
    args.insert(args.end(), emulatorArguments.begin(), emulatorArguments.end());
    emulator_ =
        std::make_unique<EmulatorProcess>(STATION_BINARY_DIR "/bin/qarn-emu", timeScale_, args);
  }
  ~MovingLab() {
    emulator_.reset();
    std::filesystem::remove_all(workdir_);
  }

  bool Start(std::string* error) { return emulator_->Start(error); }
  EmulatorProcess& Emulator() { return *emulator_; }
  const std::filesystem::path& Workdir() const { return workdir_; }
  std::string Scpi(const std::string& message) {
    ScpiClient client(emulator_->Port());
    return client.Send(message);
  }

  // The settings every run starts from: the lab's address and port, GPS only.
  std::vector<std::string> Settings(const std::vector<std::string>& more) const {
    std::vector<std::string> actions = {
        "set MAIN_DUTIP=" + emulator_->Address(),
        "set MAIN_COMPORT=3",
        "set MAIN_LEVEL_OFFSET=0",
        "set MOVING_NUM_GPS=6",
        "set MOVING_NUM_GAL=0",
        "set MOVING_NUM_GLN=0",
        "set MOVING_GPS_SVIDS=AUTO",
        "set MOVING_GAL_SVIDS=AUTO",
        "set MOVING_GLN_SVIDS=AUTO",
        "set MOVING_MIN_SATS=4",
        "set MOVING_IGNORE_TIME=0",
        "set MOVING_TIME_OFFSET=0",
    };
    actions.insert(actions.end(), more.begin(), more.end());
    return actions;
  }

  // gnss-station --headless with `actions`, then --run `test` (none: no run).
  MovingRunResult Run(const std::vector<std::string>& actions, const std::string& test = "001") {
    std::filesystem::remove_all(workdir_ / "LOG");
    const auto errFile = workdir_ / "stderr.txt";
    std::string command = "GNSS_TIME_SCALE=" + timeScale_ +
                          " GNSS_COM_DIR=" + Quoted((workdir_ / "COM").string()) + " " +
                          Quoted(STATION_BINARY_DIR "/bin/gnss-station") +
                          " --headless --workdir " + Quoted(workdir_.string());
    for (const std::string& action : actions) command += " --do " + Quoted(action);
    if (!test.empty()) command += " --run " + test;
    command += " 2>" + Quoted(errFile.string());
    MovingRunResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
      result.out.append(chunk, got);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadText(errFile);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(workdir_ / "LOG", ignored))
      result.runDirectory = entry.path();
    result.html = ReadText(result.runDirectory / "GNSS_001.html");
    result.summary = ReadText(result.runDirectory / "SUMMARY.html");
    return result;
  }

 private:
  std::string timeScale_;
  std::filesystem::path workdir_;
  std::unique_ptr<EmulatorProcess> emulator_;
};

// The cells of the summary's data row (the row after the header row), each
// "<td>...</td>" without the line ends between them.
inline std::vector<std::string> SummaryDataCells(const std::string& summary,
                                                 const std::string& section) {
  std::vector<std::string> cells;
  const std::size_t start = summary.find(section);
  if (start == std::string::npos) return cells;
  const std::size_t header = summary.find("<tr>", start);
  const std::size_t row = summary.find("<tr>", header + 4);
  const std::size_t end = summary.find("</tr>", row);
  if (header == std::string::npos || row == std::string::npos || end == std::string::npos)
    return cells;
  for (std::size_t at = summary.find("<td", row); at != std::string::npos && at < end;) {
    const std::size_t close = summary.find("</td>", at);
    cells.push_back(summary.substr(at, close + 5 - at));
    at = summary.find("<td", close);
  }
  return cells;
}
