// Starts qarn-emu on a free port for one test (or benchmark) and stops it
// again. The emulator prints its port on its first line.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class EmuProcess {
 public:
  // `extraEnvironment`: "NAME=value" entries added to this process's own.
  explicit EmuProcess(const std::string& program, std::vector<std::string> arguments = {},
                      std::vector<std::string> extraEnvironment = {}) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> args{program, "--port", "0"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    output_ = out[0];
    // "qarn-emu: SCPI server listening on port N". Plain read() rather than a
    // FILE: fflush(NULL) elsewhere (gtest's stdout capture) would wait on the
    // lock of a stream blocked in a read.
    static const std::string kPortLine = "listening on port ";
    while (pid_ > 0 && port_ == 0 && ReadMore()) {
      std::lock_guard lock(mutex_);
      const std::size_t at = transcript_.find(kPortLine);
      const std::size_t end = at == std::string::npos ? at : transcript_.find('\n', at);
      if (end != std::string::npos) {
        port_ = std::atoi(transcript_.c_str() + at + kPortLine.size());
        transcript_.erase(0, end + 1);
      }
    }
    // Keep reading, so that a talkative emulator (--log) never blocks on a
    // full pipe; the transcript stays available to the test.
    reader_ = std::thread([this] {
      while (ReadMore()) {
      }
    });
  }
  ~EmuProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (output_ >= 0) ::close(output_);
  }
  EmuProcess(const EmuProcess&) = delete;
  EmuProcess& operator=(const EmuProcess&) = delete;

  bool Running() const { return pid_ > 0 && port_ > 0; }
  int Port() const { return port_; }
  // What MAIN_DUTIP holds to reach it: "TCPIP::" is put before it.
  std::string Address() const { return "127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }
  // Everything the emulator printed after its port line.
  std::string Transcript() {
    std::lock_guard lock(mutex_);
    return transcript_;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  bool ReadMore() {
    char chunk[4096];
    const ssize_t got = ::read(output_, chunk, sizeof chunk);
    if (got <= 0) return false;
    std::lock_guard lock(mutex_);
    transcript_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  int output_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::string transcript_;
};
