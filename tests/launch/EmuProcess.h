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
#include <string>
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
    output_ = ::fdopen(out[0], "r");
    // "qarn-emu: SCPI server listening on port N"
    char line[256];
    while (pid_ > 0 && output_ && std::fgets(line, sizeof line, output_)) {
      if (const char* at = std::strstr(line, "listening on port ")) {
        port_ = std::atoi(at + std::strlen("listening on port "));
        break;
      }
    }
  }
  ~EmuProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (output_) std::fclose(output_);
  }
  EmuProcess(const EmuProcess&) = delete;
  EmuProcess& operator=(const EmuProcess&) = delete;

  bool Running() const { return pid_ > 0 && port_ > 0; }
  int Port() const { return port_; }
  // What MAIN_DUTIP holds to reach it: "TCPIP::" is put before it.
  std::string Address() const { return "127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::FILE* output_ = nullptr;
};
