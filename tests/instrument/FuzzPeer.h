// For fuzz targets of what the station reads from an instrument: a loopback
// listener in the fuzzing process and one session per input through the
// public VISA API. The peer sends the whole input, then closes its side, so
// no read ever waits for a time-out; what the station sends is left unread.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/visa.h"

class FuzzPeer {
 public:
  // The largest input a session can take (the kernel's socket buffer holds it).
  static constexpr std::size_t kMaxInput = 65536;

  static FuzzPeer& Instance() {
    static FuzzPeer* peer = new FuzzPeer();  // for the process's lifetime
    return *peer;
  }

  // A session whose instrument answers `data` and then falls silent; VI_NULL
  // for an input too large.
  ViSession Open(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return VI_NULL;
    ViSession session = VI_NULL;
    if (viOpen(manager_, resource_.c_str(), 0, 0, &session) != VI_SUCCESS) std::abort();
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection_ < 0) std::abort();
    int buffer = 1 << 18;
    ::setsockopt(connection_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    for (std::size_t sent = 0; sent < size;) {
      const ssize_t n = ::send(connection_, data + sent, size - sent, MSG_NOSIGNAL);
      if (n <= 0) std::abort();
      sent += static_cast<std::size_t>(n);
    }
    ::shutdown(connection_, SHUT_WR);
    viSetAttribute(session, VI_ATTR_TMO_VALUE, 2000);
    return session;
  }

  void Close(ViSession session) {
    viClose(session);
    ::close(connection_);
    connection_ = -1;
  }

  std::FILE* HtmlLog() const { return htmlLog_; }

 private:
  FuzzPeer() {
    std::signal(SIGPIPE, SIG_IGN);
    // The progress log writes to standard output; keep the fuzzer's quiet.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) ::dup2(null, STDOUT_FILENO);
    htmlLog_ = std::fopen("/dev/null", "w");
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      std::abort();
    resource_ = "TCPIP::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET";
    if (viOpenDefaultRM(&manager_) != VI_SUCCESS) std::abort();
  }

  int listener_ = -1;
  int connection_ = -1;
  std::string resource_;
  ViSession manager_ = VI_NULL;
  std::FILE* htmlLog_ = nullptr;
};
