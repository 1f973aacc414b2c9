// A pseudo-terminal standing in for the receiver: the station opens the
// slave through a COM directory entry, the test writes NMEA into the master
// and reads back what the station sent.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slavePath() const { return slave_; }
  int master() const { return master_; }
  void Write(const std::string& text);
  // Everything the station wrote, read until nothing more came for quietMs.
  std::string ReadWritten(int quietMs = 50);
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_;
};

// A COM directory (GNSS_COM_DIR) in a fresh temporary folder.
class ComDirectory {
 public:
  ComDirectory();
  ~ComDirectory();
  void Link(int comNumber, const std::string& target);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A receiver that writes epoch(i) into the master every (scaled) second, and
// collects what the station writes to it. `epoch` runs on the receiver's
// thread with what the station wrote so far.
class ScriptedReceiver {
 public:
  using EpochSource = std::function<std::string(int index, const std::string& received)>;
  ScriptedReceiver(PtyPair& pty, EpochSource epoch);
  ~ScriptedReceiver();
  void Stop();
  std::string Received();

 private:
  PtyPair& pty_;
  EpochSource epoch_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

std::string Hex(const std::string& bytes);
