// A minimal SCPI client for arranging qarn-emu's sky in the console tests:
// commands wait for their operation-complete answer, queries return the line.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

class ScpiClient {
 public:
  explicit ScpiClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~ScpiClient() {
    if (fd_ >= 0) close(fd_);
  }
  ScpiClient(const ScpiClient&) = delete;
  ScpiClient& operator=(const ScpiClient&) = delete;

  bool Command(const std::string& command) { return Query(command + ";*OPC?") == "1"; }

  // The answer without its line end; empty after 5 s without one.
  std::string Query(const std::string& query) {
    if (!ok_) return "";
    const std::string line = query + "\n";
    if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "";
    std::string answer;
    char c = 0;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1 || read(fd_, &c, 1) != 1) return "";
      if (c == '\n') return answer;
      answer += c;
    }
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};
