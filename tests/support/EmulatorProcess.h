// Starts qarn-emu on a free port for a test or a benchmark and stops it again.
// The emulator prints "... listening on port N" once it listens; everything it
// prints after that (its --log transcript) is collected by a reader thread, so
// a talkative emulator never blocks on a full pipe. Each emulator gets a fresh
// GNSS_COM_DIR of its own (removed at Stop), so that emulators started side by
// side never share a receiver link.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

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
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return Fail(error, "pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<std::string> args{executable_, "--port", "0"};
    args.insert(args.end(), arguments_.begin(), arguments_.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "GNSS_TIME_SCALE=", 16) != 0) env.emplace_back(*e);
    }
    env.push_back("GNSS_TIME_SCALE=" + timeScale_);
    char comDir[] = "/tmp/qarn-emu-com-XXXXXX";
    if (::mkdtemp(comDir)) {
      comDir_ = comDir;
      std::erase_if(env, [](const std::string& e) { return e.rfind("GNSS_COM_DIR=", 0) == 0; });
      env.push_back("GNSS_COM_DIR=" + comDir_);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int rc =
        ::posix_spawn(&pid_, executable_.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
    if (rc != 0) {
      pid_ = -1;
      return Fail(error, "cannot start " + executable_ + ": " + std::strerror(rc));
    }
    static const std::string kPortLine = "listening on port ";
    std::string text;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, 100) != 1) continue;
      char chunk[256];
      const ssize_t n = ::read(output_, chunk, sizeof chunk);
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
      const size_t at = text.find(kPortLine);
      const size_t end = at == std::string::npos ? at : text.find('\n', at);
      if (end != std::string::npos) {
        port_ = std::atoi(text.c_str() + at + kPortLine.size());
        transcript_ = text.substr(end + 1);
        // Plain read() rather than a FILE: fflush(NULL) elsewhere (gtest's
        // stdout capture) would wait on the lock of a stream blocked in a read.
        reader_ = std::thread([this] {
          while (ReadMore()) {
          }
        });
        return port_ > 0;
      }
    }
    return Fail(error, "qarn-emu printed no port: " + text);
  }

  int Port() const { return port_; }
  // The VISA resource, and what MAIN_DUTIP holds to reach it ("TCPIP::" + it).
  std::string Resource() const { return "TCPIP::" + Address(); }
  std::string Address() const { return "127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

  // Everything the emulator printed after its port line so far.
  std::string Transcript() {
    std::lock_guard lock(mutex_);
    return transcript_;
  }
  // The transcript after waiting `milliseconds` for output still under way.
  std::string ReadOutputFor(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return Transcript();
  }

  // True while the process has not exited.
  bool Running() {
    if (pid_ <= 0) return false;
    int status;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();  // the pipe ends with the process
    if (output_ >= 0) ::close(output_);
    output_ = -1;
    if (!comDir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(comDir_, ignored);
      comDir_.clear();
    }
  }

 private:
  static bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
  }
  bool ReadMore() {
    char chunk[4096];
    const ssize_t got = ::read(output_, chunk, sizeof chunk);
    if (got <= 0) return false;
    std::lock_guard lock(mutex_);
    transcript_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  std::string executable_;
  std::string timeScale_;
  std::vector<std::string> arguments_;
  pid_t pid_ = -1;
  int output_ = -1;
  int port_ = 0;
  std::string comDir_;
  std::thread reader_;
  std::mutex mutex_;
  std::string transcript_;
};
