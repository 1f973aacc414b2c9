// A small lab for the virtual receiver's tests: qarn-emu in a temporary
// working directory (its standard output drained, so --log can never block
// it), an SCPI client, and a reader of the receiver's port that cuts the byte
// stream into checked NMEA sentences and epochs. Every wait is bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Loopback.h"

namespace vrx {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// ---- NMEA, read independently of the emulator's own formatting -------------

struct Sentence {
  std::string talker;               // "GP", "GN", ...
  std::string type;                 // "GGA", ...
  std::vector<std::string> fields;  // after the address field
  std::string text;                 // as received, without CR LF
};

// Checks "$TTSSS,...*HH" and splits it; nullopt when malformed or the
// checksum is wrong.
inline std::optional<Sentence> ParseSentence(const std::string& line) {
  if (line.size() < 10 || line[0] != '$') return std::nullopt;
  const size_t star = line.rfind('*');
  if (star == std::string::npos || star + 3 != line.size()) return std::nullopt;
  unsigned sum = 0;
  for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  char given[3] = {line[star + 1], line[star + 2], 0};
  char* end = nullptr;
  if (std::strtoul(given, &end, 16) != sum || end != given + 2) return std::nullopt;
  Sentence s;
  s.text = line;
  const std::string body = line.substr(1, star - 1);
  size_t start = 0;
  std::vector<std::string> all;
  for (;;) {
    const size_t comma = body.find(',', start);
    all.push_back(
        body.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (all[0].size() != 5) return std::nullopt;
  s.talker = all[0].substr(0, 2);
  s.type = all[0].substr(2);
  s.fields.assign(all.begin() + 1, all.end());
  return s;
}

// ddmm.mmmm / dddmm.mmmm with hemisphere to signed degrees.
inline double Degrees(const std::string& value, const std::string& hemisphere, int degreeDigits) {
  const double whole = std::atof(value.substr(0, degreeDigits).c_str());
  const double minutes = std::atof(value.substr(degreeDigits).c_str());
  const double d = whole + minutes / 60.0;
  return hemisphere == "S" || hemisphere == "W" ? -d : d;
}

// One epoch: the sentences from a GGA up to the next GGA.
struct Epoch {
  std::vector<Sentence> sentences;
  std::vector<const Sentence*> Of(const std::string& type) const {
    std::vector<const Sentence*> out;
    for (const auto& s : sentences)
      if (s.type == type) out.push_back(&s);
    return out;
  }
  const Sentence& Gga() const { return sentences.front(); }
  int Quality() const { return std::atoi(Gga().fields[5].c_str()); }
  // hhmmss of the GGA as seconds of the day; -1 without time.
  double Time() const {
    const std::string& t = Gga().fields[0];
    if (t.size() < 6) return -1;
    return std::atoi(t.substr(0, 2).c_str()) * 3600.0 + std::atoi(t.substr(2, 2).c_str()) * 60.0 +
           std::atof(t.substr(4).c_str());
  }
  size_t bytes = 0;  // sentence bytes with CR LF, noise excluded
};

// ---- processes --------------------------------------------------------------

// The shared launcher with the lab's defaults: standard error merged into
// the output, at most 8 MB of it kept.
class Child : public ChildProcess {
 public:
  bool Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
             const std::string& workingDir, std::string* error) {
    ProcessOptions options;
    options.setEnv = extraEnv;
    options.workingDir = workingDir;
    options.stderrTo = ProcessOptions::Stderr::kMerge;
    options.outputCap = 8 << 20;
    return Start(args, options, error);
  }
};

// ---- the receiver's port ----------------------------------------------------

class PortReader {
 public:
  explicit PortReader(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
      termios tio{};
      ::tcgetattr(fd_, &tio);
      ::cfmakeraw(&tio);
      ::tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~PortReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  PortReader(const PortReader&) = delete;
  PortReader& operator=(const PortReader&) = delete;
  bool IsOpen() const { return fd_ >= 0; }

  void Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else if (n < 0 && errno != EAGAIN && errno != EINTR)
        return;
    }
  }

  // Reads for up to `seconds`; returns what came. `hungUp` tells whether the
  // other side went away.
  std::string ReadFor(double seconds, bool* hungUp = nullptr) {
    std::string data;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      ::poll(&p, 1, 10);
      char chunk[4096];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n > 0) data.append(chunk, static_cast<size_t>(n));
      if ((n < 0 && errno == EIO) || (p.revents & (POLLHUP | POLLERR))) {
        if (hungUp) *hungUp = true;
        break;
      }
    }
    return data;
  }

  // Throws away what is buffered and in flight; the line cut there is not
  // counted as noise.
  void Drain(double seconds) {
    ReadFor(seconds);
    pending_.clear();
    resync_ = true;
  }

  // Reads until `count` complete epochs were seen or `seconds` passed.
  // Lines that are not valid sentences are counted in `badLines`, bytes
  // outside sentences in `noiseBytes`.
  std::vector<Epoch> Epochs(size_t count, double seconds) {
    std::vector<Epoch> epochs;
    std::optional<Epoch> current;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (epochs.size() < count && Clock::now() < end) {
      pending_ += ReadFor(0.05);
      size_t lineEnd;
      while ((lineEnd = pending_.find("\r\n")) != std::string::npos) {
        std::string line = pending_.substr(0, lineEnd);
        pending_.erase(0, lineEnd + 2);
        if (std::exchange(resync_, false)) continue;
        const size_t dollar = line.find('$');
        noiseBytes += dollar == std::string::npos ? line.size() + 2 : dollar;
        if (dollar == std::string::npos) continue;
        line.erase(0, dollar);
        auto s = ParseSentence(line);
        if (!s) {
          ++badLines;
          continue;
        }
        if (s->type == "GGA") {
          if (current) epochs.push_back(std::move(*current));
          current = Epoch{};
        }
        if (current) {
          current->sentences.push_back(*s);
          current->bytes += line.size() + 2;
        }
        if (epochs.size() >= count) break;
      }
    }
    return epochs;
  }

  size_t badLines = 0;
  size_t noiseBytes = 0;

 private:
  int fd_ = -1;
  std::string pending_;
  bool resync_ = false;  // the next line starts wherever a drain stopped
};

// ---- SCPI -------------------------------------------------------------------

class Scpi {
 public:
  explicit Scpi(int port) : client_(port) {}
  bool IsOpen() const { return client_.IsOpen(); }

  void Send(const std::string& command) { client_.Send(command + "\n"); }
  // One answer line (without LF), or "" after 5 s.
  std::string Query(const std::string& query) {
    Send(query);
    return client_.ReadLine(5.0).value_or("");
  }
  // Commands, then "*OPC?" so that they have all taken effect.
  void Run(const std::vector<std::string>& commands) {
    for (const auto& c : commands) Send(c);
    Query("*OPC?");
  }

 private:
  LoopbackLineClient client_;
};

struct Truth {
  double longitude = 0, latitude = 0, altitude = 0;
};

inline Truth ParseLocation(const std::string& answer) {
  Truth t;
  std::sscanf(answer.c_str(), "%lf,%lf,%lf", &t.longitude, &t.latitude, &t.altitude);
  return t;
}

// ---- the lab ----------------------------------------------------------------

class Lab {
 public:
  // Starts qarn-emu with its COM directory in a fresh temporary directory.
  bool Start(const std::vector<std::string>& extraArgs, const std::string& timeScale,
             std::string* error) {
    char pattern[] = "/tmp/vreceiver-XXXXXX";
    if (!::mkdtemp(pattern)) {
      *error = "mkdtemp failed";
      return false;
    }
    dir_ = pattern;
    std::vector<std::string> args{QARN_EMU_PATH, "--port",      "0",
                                  "--com-dir",   dir_ + "/COM", "--exit-with-parent"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    if (!emu.Spawn(args, {"GNSS_TIME_SCALE=" + timeScale}, dir_, error)) return false;
    if (!emu.WaitForOutput("listening on port ", 10)) {
      *error = "qarn-emu printed no port: " + emu.Output();
      return false;
    }
    const std::string out = emu.Output();
    const size_t at = out.find("listening on port ");
    port_ = std::atoi(out.c_str() + at + 18);
    scpi.emplace(port_);
    if (!scpi->IsOpen()) {
      *error = "cannot connect to the SCPI port";
      return false;
    }
    return true;
  }
  ~Lab() {
    scpi.reset();
    emu.Stop();
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  std::string Dir() const { return dir_; }
  std::string Link() const { return dir_ + "/COM/COM3"; }

  // A scenario as the station sets one up: GPS primary with Galileo and
  // GLONASS hybrid, each system's satellites in slots of their own (SVIDs
  // 1, 4, 7, ... or closer where many must fit), radiating.
  void Scenario(int gps, int galileo, int glonass, double lon, double lat, double alt) {
    char location[96];
    std::snprintf(location, sizeof location, "SOUR:BB:GPS:LOC:COOR:DEC %.6f,%.6f,%.1f", lon, lat,
                  alt);
    const int total = gps + galileo + glonass;
    std::vector<std::string> c{"SOUR:FREQ 1.57542GHz",
                               "SOUR:POW:LEV:IMM:AMPL -105.000000dBm",
                               "OUTP:STAT ON",
                               "SOUR:BB:GPS:POWER:REF -120",
                               "SOUR:BB:GPS:LOC:SEL \"User Defined\"",
                               location,
                               "SOUR:BB:GPS:SAT:COUNT " + std::to_string(total)};
    if (galileo > 0) c.push_back("SOUR:BB:GPS:HYBRID:GAL ON");
    if (glonass > 0) c.push_back("SOUR:BB:GPS:HYBRID:GLONASS ON");
    int slot = 1;
    for (const auto& [standard, count] :
         {std::pair<std::string, int>{"GPS", gps}, {"GAL", galileo}, {"GLON", glonass}}) {
      const int step = std::clamp(24 / std::max(count, 1), 1, 3);
      for (int k = 0; k < count; ++k, ++slot) {
        const std::string sat = "SOUR:BB:GPS:SAT" + std::to_string(slot);
        c.push_back(sat + ":STAN " + standard);
        c.push_back(sat + ":SVID " + std::to_string(1 + step * k));
        c.push_back(sat + ":STAT ON");
      }
    }
    c.push_back("SOUR:BB:GPS:STAT ON");
    c.push_back("SOUR:BB:GPS:TRIG:EXEC");
    scpi->Run(c);
  }

  Truth Location() { return ParseLocation(scpi->Query("SOUR:BB:GPS:LOC:COOR:DEC?")); }

  Child emu;
  std::optional<Scpi> scpi;

 private:
  std::string dir_;
  int port_ = 0;
};

// Bytes of a command text of the station's form ("0xB5, 0x62, ...").
inline std::string HexBytes(const std::string& text) {
  std::string out;
  for (size_t i = text.find("0x"); i != std::string::npos; i = text.find("0x", i + 2))
    out.push_back(static_cast<char>(std::strtol(text.substr(i, 4).c_str(), nullptr, 16)));
  return out;
}

}  // namespace vrx
