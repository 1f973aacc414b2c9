// The emulated lab of the basic test's end-to-end cases: qarn-emu with its
// receiver linked as COM3 in a fresh working directory, a control connection
// for EMULator: commands, and gnss-station run headless against it with what
// a user reads collected (stdout, stderr, exit code, the run-log directory).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/EmulatorProcess.h"

namespace basic_lab {

namespace fs = std::filesystem;

inline const std::string kStation = STATION_BINARY_DIR "/bin/gnss-station";
inline const std::string kEmulator = STATION_BINARY_DIR "/bin/qarn-emu";

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct StationRun {
  int exitCode = -1;
  std::string out, err;
};

// One SCPI message on a connection of its own, followed by *OPC? so that it
// has been carried out when this returns; a query's answer without the LF.
inline std::string Scpi(int port, const std::string& message) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  std::string line;
  const std::string text = message + ";*OPC?\n";
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::write(s, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
    char c;
    while (::read(s, &c, 1) == 1 && c != '\n') line += c;
  }
  ::close(s);
  if (line == "1") return "";
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, ";1") == 0) line.resize(line.size() - 2);
  return line;
}

// A working directory with its own lab: the receiver links itself as COM3 in
// DIR/COM, the station finds it there.
class Lab {
 public:
  explicit Lab(const std::string& name, const std::string& timeScale = "0.02")
      : timeScale_(timeScale) {
    dir_ = fs::temp_directory_path() / ("station-basic-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    emulator_ = std::make_unique<EmulatorProcess>(
        kEmulator, timeScale,
        std::vector<std::string>{"--com-dir", (dir_ / "COM").string(), "--com", "3", "--ttff",
                                 "2"});
  }
  ~Lab() {
    emulator_.reset();
    if (!getenv("KEEP_BASIC_LAB")) fs::remove_all(dir_);
  }

  bool Start(std::string* error) { return emulator_->Start(error); }
  int Port() const { return emulator_->Port(); }
  const fs::path& Dir() const { return dir_; }
  std::string Command(const std::string& message) { return Scpi(Port(), message); }

  // gnss-station --headless in the lab's directory, pointed at the lab; the
  // settings go before `actions`, then --run `test` when one is given.
  StationRun Run(const std::vector<std::string>& actions, const std::string& test = "") {
    std::string command = "cd " + Quote(dir_) + " && GNSS_TIME_SCALE=" + timeScale_ + " " +
                          Quote(kStation) + " --headless --workdir " + Quote(dir_);
    std::vector<std::string> all = {
        "set MAIN_DUTIP=127.0.0.1::" + std::to_string(Port()) + "::SOCKET", "set MAIN_COMPORT=3",
        "set BASIC_MAX_FIXTIME=60"};
    all.insert(all.end(), actions.begin(), actions.end());
    for (const std::string& action : all) command += " --do " + Quote(action);
    if (!test.empty()) command += " --run " + test;
    const fs::path out = dir_ / ".out", err = dir_ / ".err";
    command += " >" + Quote(out) + " 2>" + Quote(err);
    StationRun run;
    const int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
  }

  // The one run-log directory of the lab (empty path when there is not
  // exactly one).
  fs::path RunLog() const {
    std::vector<fs::path> found;
    std::error_code ignored;
    for (const auto& e : fs::directory_iterator(dir_ / "LOG", ignored)) found.push_back(e.path());
    return found.size() == 1 ? found[0] : fs::path();
  }

 private:
  std::string timeScale_;
  fs::path dir_;
  std::unique_ptr<EmulatorProcess> emulator_;
};

}  // namespace basic_lab
