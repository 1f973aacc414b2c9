// A receiver whose every epoch the test writes: a pseudo-terminal linked as
// COM<n>, a thread that writes one epoch per period from a script and counts
// the hot-start messages the station sends. The script sees how many epochs
// were written since the station last sent anything other than a hot start
// (its initialisation restarts the receiver) and how many hot starts came.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "receiver/ReceiverLink.h"

struct SatelliteSpec {
  int prn;
  int cn0;
  bool used;
};

// One epoch as the receiver reports it: GGA, GSA chain, GSV group, ZDA.
struct EpochSpec {
  int fixMode = 3;
  std::vector<SatelliteSpec> satellites = {{3, 40, true},  {6, 41, true},  {9, 42, true},
                                           {12, 43, true}, {17, 40, true}, {22, 41, true}};
  int extraUsed = 0;  // PRNs 101... listed as used on top of the satellites
  int year = 2026, month = 12, day = 10;
  double hdop = 1.0;
  double vdop = 1.5;
};

inline std::string WithChecksum(const std::string& body) {
  unsigned char sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

// Epoch `index` at 12:00:00 + index seconds, at 48.1 N 11.5 E, 520 m.
inline std::string BuildEpoch(const EpochSpec& e, int index) {
  char time[16];
  std::snprintf(time, sizeof time, "%02d%02d%02d.00", 12 + index / 3600 % 12, index / 60 % 60,
                index % 60);
  std::vector<int> used;
  for (const SatelliteSpec& s : e.satellites)
    if (s.used) used.push_back(s.prn);
  for (int i = 0; i < e.extraUsed; ++i) used.push_back(101 + i);
  char text[128];
  std::snprintf(text, sizeof text, "GPGGA,%s,4806.0000,N,01130.0000,E,1,%02zu,%.1f,520.0,M,0.0,M,,",
                time, used.size(), e.hdop);
  std::string epoch = WithChecksum(text);
  for (std::size_t start = 0; start == 0 || start < used.size(); start += 12) {
    std::string gsa = "GNGSA,A," + std::to_string(e.fixMode);
    for (std::size_t i = start; i < start + 12; ++i)
      gsa += "," + (i < used.size() ? std::to_string(used[i]) : std::string());
    std::snprintf(text, sizeof text, ",2.0,%.1f,%.1f", e.hdop, e.vdop);
    epoch += WithChecksum(gsa + text);
  }
  const int count = static_cast<int>(e.satellites.size());
  const int messages = (count + 3) / 4;
  for (int m = 0; m < messages; ++m) {
    std::string gsv = "GPGSV," + std::to_string(messages) + "," + std::to_string(m + 1) + "," +
                      std::to_string(count);
    for (int i = 4 * m; i < count && i < 4 * m + 4; ++i) {
      const SatelliteSpec& s = e.satellites[static_cast<std::size_t>(i)];
      gsv += "," + std::to_string(s.prn) + ",45,180," + std::to_string(s.cn0);
    }
    epoch += WithChecksum(gsv);
  }
  std::snprintf(text, sizeof text, "GPZDA,%s,%02d,%02d,%04d,00,00", time, e.day, e.month, e.year);
  return epoch + WithChecksum(text);
}

class ScriptedReceiver {
 public:
  // epochsSinceRestart, hotStarts -> the epoch to write.
  using Script = std::function<EpochSpec(int epochsSinceRestart, int hotStarts)>;

  ~ScriptedReceiver() { Stop(); }

  bool Open(const std::filesystem::path& comDirectory, int com) {
    Stop();
    received_.clear();
    hotStarts_ = 0;
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return false;
    const char* slave = ::ptsname(master_);
    if (slave == nullptr) return false;
    // Held open so that the master never sees a hang-up, and raw so that
    // nothing the test writes is echoed back as if the station had sent it.
    slave_ = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave_ < 0 || ::tcgetattr(slave_, &raw) != 0) return false;
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    std::filesystem::create_directories(comDirectory);
    link_ = comDirectory / ("COM" + std::to_string(com));
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    std::filesystem::create_symlink(slave, link_, ignored);
    return !ignored;
  }

  void Start(Script script, int periodMilliseconds) {
    running_ = true;
    thread_ = std::thread([this, script = std::move(script), periodMilliseconds] {
      int sinceRestart = 0;
      int index = 0;
      auto next = std::chrono::steady_clock::now();
      while (running_) {
        const int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              next - std::chrono::steady_clock::now())
                                              .count());
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, wait > 0 ? wait : 0) == 1 && (p.revents & POLLIN)) {
          char chunk[512];
          const ssize_t n = ::read(master_, chunk, sizeof chunk);
          if (n > 0) {
            std::lock_guard lock(mutex_);
            received_.append(chunk, static_cast<std::size_t>(n));
            const std::size_t hotStarts = CountHotStarts();
            if (hotStarts == hotStarts_) sinceRestart = 0;  // anything else restarts it
            hotStarts_ = hotStarts;
          }
          continue;
        }
        if (std::chrono::steady_clock::now() < next) continue;
        next += std::chrono::milliseconds(periodMilliseconds);
        const std::string epoch =
            BuildEpoch(script(sinceRestart++, static_cast<int>(HotStarts())), index++);
        // A reader that does not keep up loses epochs, as on a real line.
        [[maybe_unused]] const ssize_t n = ::write(master_, epoch.data(), epoch.size());
      }
    });
  }

  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
    std::error_code ignored;
    if (!link_.empty()) std::filesystem::remove(link_, ignored);
  }

  std::size_t HotStarts() {
    std::lock_guard lock(mutex_);
    return hotStarts_;
  }

 private:
  std::size_t CountHotStarts() const {
    const std::string hot(reinterpret_cast<const char*>(kHotStartCommand), sizeof kHotStartCommand);
    std::size_t n = 0;
    for (std::size_t at = received_.find(hot); at != std::string::npos;
         at = received_.find(hot, at + 1))
      ++n;
    return n;
  }

  int master_ = -1;
  int slave_ = -1;
  std::filesystem::path link_;
  std::atomic<bool> running_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::string received_;
  std::size_t hotStarts_ = 0;
};
