// Starts qarn-emu on a free port for a test or a benchmark and stops it again.
// The emulator prints "... listening on port N" once it listens; everything it
// prints after that (its --log transcript) is collected by a reader thread, so
// a talkative emulator never blocks on a full pipe. Each emulator gets a fresh
// GNSS_COM_DIR of its own (removed at Stop), so that emulators started side by
// side never share a receiver link.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

class EmulatorProcess {
 public:
  // `timeScale` goes to GNSS_TIME_SCALE; extra arguments follow "--port 0".
  explicit EmulatorProcess(std::string executable, std::string timeScale = "0.05",
                           std::vector<std::string> arguments = {})
      : executable_(std::move(executable)),
        timeScale_(std::move(timeScale)),
        arguments_(std::move(arguments)) {}
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;
  ~EmulatorProcess() { Stop(); }

  // Spawns the emulator and waits (up to 10 s) for its port line.
  bool Start(std::string* error) {
    std::vector<std::string> args{executable_, "--port", "0", "--exit-with-parent"};
    args.insert(args.end(), arguments_.begin(), arguments_.end());
    ProcessOptions options;
    options.setEnv.push_back("GNSS_TIME_SCALE=" + timeScale_);
    char comDir[] = "/tmp/qarn-emu-com-XXXXXX";
    if (::mkdtemp(comDir)) {
      comDir_ = comDir;
      options.setEnv.push_back("GNSS_COM_DIR=" + comDir_);
    }
    if (!child_.Start(args, options, error)) return false;
    // The whole port line, so that the transcript starts after it.
    std::string text;
    std::size_t at = std::string::npos, end = std::string::npos;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (end == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (!child_.WaitForOutput(kPortLine, 0.5)) {
        if (!child_.Running()) break;
        continue;
      }
      text = child_.Output();
      at = text.find(kPortLine);
      end = text.find('\n', at);
      if (end == std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (end == std::string::npos) {
      if (error) *error = "qarn-emu printed no port: " + child_.Output();
      return false;
    }
    port_ = std::atoi(text.c_str() + at + kPortLineSize);
    transcriptStart_ = end + 1;
    return port_ > 0;
  }

  int Port() const { return port_; }
  // For tests that freeze the emulator (SIGSTOP) to play a hung instrument.
  pid_t Pid() const { return child_.Pid(); }
  // The VISA resource, and what MAIN_DUTIP holds to reach it ("TCPIP::" + it).
  std::string Resource() const { return "TCPIP::" + Address(); }
  std::string Address() const { return "127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

  // Everything the emulator printed after its port line so far.
  std::string Transcript() {
    const std::string text = child_.Output();
    return transcriptStart_ < text.size() ? text.substr(transcriptStart_) : std::string();
  }
  // The VXI-11 core channel's port, from the line qarn-emu prints at start
  // (0 when it does not print one within 5 s).
  int Vxi11Port() {
    static const std::string kLine = "VXI-11 core channel on port ";
    for (int i = 0; i < 50; ++i) {
      const std::string text = Transcript();
      if (const auto at = text.find(kLine); at != std::string::npos) {
        return std::atoi(text.c_str() + at + kLine.size());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
  }

  // The transcript after waiting `milliseconds` for output still under way.
  std::string ReadOutputFor(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return Transcript();
  }

  // True while the process has not exited.
  bool Running() { return child_.Running(); }

  void Stop() {
    child_.Stop();
    if (!comDir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(comDir_, ignored);
      comDir_.clear();
    }
  }

 private:
  static constexpr const char* kPortLine = "listening on port ";
  static constexpr std::size_t kPortLineSize = 18;

  std::string executable_;
  std::string timeScale_;
  std::vector<std::string> arguments_;
  ChildProcess child_;
  int port_ = 0;
  std::size_t transcriptStart_ = 0;
  std::string comDir_;
};
