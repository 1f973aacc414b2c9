#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "platform/clock.h"

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  slave_ = ptsname(master_);
}

PtyPair::~PtyPair() { CloseMaster(); }

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void PtyPair::Write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(master_, text.data() + done, text.size() - done);
    if (n <= 0) throw std::runtime_error("write to pseudo-terminal failed");
    done += static_cast<std::size_t>(n);
  }
}

std::string PtyPair::ReadWritten(int quietMs) {
  std::string out;
  char chunk[4096];
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) break;
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n <= 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  return out;
}

ComDirectory::ComDirectory() {
  char templ[] = "/tmp/gnss-com-XXXXXX";
  if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
  setenv("GNSS_COM_DIR", path_.c_str(), 1);
}

ComDirectory::~ComDirectory() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  unsetenv("GNSS_COM_DIR");
}

void ComDirectory::Link(int comNumber, const std::string& target) {
  std::filesystem::create_symlink(target, path_ + "/COM" + std::to_string(comNumber));
}

ScriptedReceiver::ScriptedReceiver(PtyPair& pty, EpochSource epoch)
    : pty_(pty), epoch_(std::move(epoch)) {
  thread_ = std::thread([this] {
    for (int i = 0; !stop_; ++i) {
      std::string received;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received = received_;
      }
      const std::string text = epoch_(i, received);
      if (!text.empty()) {
        std::size_t done = 0;
        while (done < text.size()) {
          const ssize_t n = write(pty_.master(), text.data() + done, text.size() - done);
          if (n <= 0) break;
          done += static_cast<std::size_t>(n);
        }
      }
      // Wait a (scaled) second, collecting what the station sends.
      const double until = ClockSeconds() + 1.0;
      while (!stop_ && ClockSeconds() < until) {
        pollfd p{pty_.master(), POLLIN, 0};
        if (poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
          char chunk[512];
          const ssize_t n = read(pty_.master(), chunk, sizeof chunk);
          if (n > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.append(chunk, static_cast<std::size_t>(n));
          }
        }
      }
    }
  });
}

ScriptedReceiver::~ScriptedReceiver() { Stop(); }

void ScriptedReceiver::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::string ScriptedReceiver::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char piece[4];
  for (unsigned char c : bytes) {
    std::snprintf(piece, sizeof piece, out.empty() ? "%02X" : " %02X", c);
    out += piece;
  }
  return out;
}

// The port tests run the station's clock twenty times as fast (unless the
// environment says otherwise), so waits of seconds take a fraction of one.
[[maybe_unused]] static const bool kScaled = (setenv("GNSS_TIME_SCALE", "0.05", 0), true);
