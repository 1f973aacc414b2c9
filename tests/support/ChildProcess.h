// The one way tests start programs: an argument vector (no shell quoting),
// environment entries set or removed on top of this process's environment, a
// working directory, and the child's output collected by reader threads, so
// that a talkative child never blocks on a full pipe. Every wait is bounded;
// Stop() ends a child that ignores SIGTERM with SIGKILL.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct ProcessOptions {
  // Where the child's standard error goes.
  enum class Stderr { kInherit, kMerge, kCapture, kDiscard };

  std::vector<std::string> setEnv;    // "NAME=value", replacing any NAME inherited
  std::vector<std::string> unsetEnv;  // names removed from the inherited environment
  std::string workingDir;             // empty: this process's
  Stderr stderrTo = Stderr::kInherit;
  std::size_t outputCap = SIZE_MAX;  // bytes kept of each stream; the rest is read and dropped
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  // Spawns args[0] (a path, not searched in PATH) with args as its argv.
  bool Start(const std::vector<std::string>& args, const ProcessOptions& options,
             std::string* error) {
    Stop();
    out_.text.clear();
    err_.text.clear();
    cap_ = options.outputCap;
    if (args.empty()) return Fail(error, "no program to start");
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return Fail(error, "pipe failed");
    using Stderr = ProcessOptions::Stderr;
    if (options.stderrTo == Stderr::kCapture && ::pipe2(errPipe, O_CLOEXEC) != 0) {
      ::close(outPipe[0]);
      ::close(outPipe[1]);
      return Fail(error, "pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    if (options.stderrTo == Stderr::kMerge) {
      posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDERR_FILENO);
    } else if (options.stderrTo == Stderr::kCapture) {
      posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    } else if (options.stderrTo == Stderr::kDiscard) {
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    if (!options.workingDir.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
    }
    std::vector<std::string> argStore = args;
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = Environment(options);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int rc =
        ::posix_spawn(&pid_, argStore[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    if (errPipe[1] >= 0) ::close(errPipe[1]);
    if (rc != 0) {
      pid_ = -1;
      ::close(outPipe[0]);
      if (errPipe[0] >= 0) ::close(errPipe[0]);
      return Fail(error, "cannot start " + args[0] + ": " + std::strerror(rc));
    }
    // Plain read() rather than a FILE: fflush(NULL) elsewhere (gtest's stdout
    // capture) would wait on the lock of a stream blocked in a read.
    out_.reader = std::thread([this, fd = outPipe[0]] { Drain(fd, out_); });
    if (errPipe[0] >= 0) err_.reader = std::thread([this, fd = errPipe[0]] { Drain(fd, err_); });
    return true;
  }

  pid_t Pid() const { return pid_; }

  // What the child wrote to standard output so far (with standard error when
  // merged), and to standard error when captured apart.
  std::string Output() {
    std::lock_guard lock(mutex_);
    return out_.text;
  }
  std::string Errors() {
    std::lock_guard lock(mutex_);
    return err_.text;
  }

  // Waits (at most `seconds`) until the output contains `text`.
  bool WaitForOutput(const std::string& text, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      if (Output().find(text) != std::string::npos) return true;
      if (!Running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Output().find(text) != std::string::npos;
  }

  // True while the child has not exited.
  bool Running() {
    if (pid_ <= 0) return false;
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
  }

  // Waits for the exit and for the end of its output; the exit code, or -1
  // after a signal.
  int Wait() {
    if (pid_ > 0) {
      int status;
      ::waitpid(pid_, &status, 0);
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    }
    JoinReaders();
    return exitCode_;
  }

  // SIGTERM, up to 5 s for the exit, then SIGKILL.
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      const auto end = Clock::now() + std::chrono::seconds(5);
      int status;
      while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > end) {
          ::kill(pid_, SIGKILL);
          ::waitpid(pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      pid_ = -1;
    }
    JoinReaders();
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Stream {
    std::string text;
    std::thread reader;
  };

  static bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
  }

  static std::vector<std::string> Environment(const ProcessOptions& options) {
    auto named = [](const char* entry, const std::string& name) {
      return std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
    };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      bool dropped = false;
      for (const auto& set : options.setEnv) dropped |= named(*e, set.substr(0, set.find('=')));
      for (const auto& unset : options.unsetEnv) dropped |= named(*e, unset);
      if (!dropped) env.emplace_back(*e);
    }
    env.insert(env.end(), options.setEnv.begin(), options.setEnv.end());
    return env;
  }

  void Drain(int fd, Stream& stream) {
    char chunk[4096];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
      std::lock_guard lock(mutex_);
      const std::size_t room = cap_ - std::min(cap_, stream.text.size());
      stream.text.append(chunk, std::min(room, static_cast<std::size_t>(got)));
    }
    ::close(fd);
  }

  // The pipes end with the child (unless it handed them on to a grandchild
  // that still runs; Stop() and Wait() are for children that exit).
  void JoinReaders() {
    if (out_.reader.joinable()) out_.reader.join();
    if (err_.reader.joinable()) err_.reader.join();
  }

  pid_t pid_ = -1;
  int exitCode_ = -1;
  std::size_t cap_ = SIZE_MAX;
  std::mutex mutex_;
  Stream out_, err_;
};

struct ProcessResult {
  int exitCode = -1;  // -1 when it could not start or ended by a signal
  std::string out, err;
};

// Runs a program to its end and collects its exit code and output (standard
// error apart unless `options` says otherwise).
inline ProcessResult RunProcess(const std::vector<std::string>& args, ProcessOptions options = {}) {
  if (options.stderrTo == ProcessOptions::Stderr::kInherit) {
    options.stderrTo = ProcessOptions::Stderr::kCapture;
  }
  ProcessResult result;
  ChildProcess child;
  std::string error;
  if (!child.Start(args, options, &error)) {
    result.err = error;
    return result;
  }
  result.exitCode = child.Wait();
  result.out = child.Output();
  result.err = child.Errors();
  return result;
}
