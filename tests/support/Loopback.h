// Loopback TCP for tests, client side: a bound port nobody accepts on, and a
// line client with bounded waits (the peer side is RecordingPeer).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

inline sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// True when something accepts connections on loopback port `port` (rpcbind
// on 111, for example).
inline bool LoopbackPortAnswers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(port);
  const bool answers =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answers;
}

// A loopback port bound (the kernel's choice) but never listening: connecting
// to it is refused for as long as this lives. Closed, it is a port that was
// free a moment ago.
class BoundLoopbackPort {
 public:
  BoundLoopbackPort() {
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~BoundLoopbackPort() { Close(); }
  BoundLoopbackPort(const BoundLoopbackPort&) = delete;
  BoundLoopbackPort& operator=(const BoundLoopbackPort&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
};

// A TCP port nobody listens on now (the kernel's choice for port 0).
inline int FreeLoopbackPort() { return BoundLoopbackPort().Port(); }

// A client of a line protocol (SCPI, gpsd's JSON) on a loopback port.
class LoopbackLineClient {
 public:
  LoopbackLineClient() = default;
  explicit LoopbackLineClient(int port) { Connect(port); }
  ~LoopbackLineClient() { Close(); }
  LoopbackLineClient(const LoopbackLineClient&) = delete;
  LoopbackLineClient& operator=(const LoopbackLineClient&) = delete;

  bool Connect(int port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Close();
    return IsOpen();
  }
  // Tries again until the port accepts or `seconds` passed.
  bool ConnectWithin(int port, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!Connect(port) && Clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return IsOpen();
  }
  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    inbox_.clear();
  }

  // Sends the bytes as they are; false when not all of them went out.
  bool Send(const std::string& bytes) {
    return IsOpen() && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
  }

  // The next line (without its LF), or nullopt after `seconds` or when the
  // peer closed the connection first.
  std::optional<std::string> ReadLine(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const std::size_t lf = inbox_.find('\n');
      if (lf != std::string::npos) {
        std::string line = inbox_.substr(0, lf);
        inbox_.erase(0, lf + 1);
        return line;
      }
      if (!IsOpen() || Clock::now() >= end) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      char chunk[4096];
      const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) return std::nullopt;
      inbox_.append(chunk, static_cast<std::size_t>(got));
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  int fd_ = -1;
  std::string inbox_;
};
