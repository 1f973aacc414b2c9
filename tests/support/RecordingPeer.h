// A tiny SCPI peer on loopback for the instrument tests: it records every byte
// the station sends and answers each LF-terminated message through a
// responder (no answer when the responder gives none).
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class RecordingPeer {
 public:
  using Responder = std::function<std::optional<std::string>(const std::string& message)>;

  explicit RecordingPeer(Responder responder);
  ~RecordingPeer();
  RecordingPeer(const RecordingPeer&) = delete;
  RecordingPeer& operator=(const RecordingPeer&) = delete;

  // VISA resource of a raw socket session to this peer.
  std::string Resource() const;
  // Every message received so far, without its LF.
  std::vector<std::string> Messages();
  // Every byte received so far.
  std::string Bytes();

 private:
  void Serve();

  Responder responder_;
  int listener_ = -1;
  int port_ = 0;
  int stopPipe_[2] = {-1, -1};
  std::mutex mutex_;
  std::string bytes_;
  std::vector<std::string> messages_;
  std::thread thread_;
};
