#include "RecordingPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

RecordingPeer::RecordingPeer(Responder responder) : responder_(std::move(responder)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    throw std::runtime_error("RecordingPeer: cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

RecordingPeer::~RecordingPeer() {
  const char stop = 1;
  [[maybe_unused]] auto ignored = ::write(stopPipe_[1], &stop, 1);
  thread_.join();
  ::close(listener_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
}

std::string RecordingPeer::Resource() const {
  return "TCPIP::127.0.0.1::" + std::to_string(port_) + "::SOCKET";
}

std::vector<std::string> RecordingPeer::Messages() {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::string RecordingPeer::Bytes() {
  std::lock_guard lock(mutex_);
  return bytes_;
}

void RecordingPeer::Serve() {
  std::vector<int> clients;
  std::vector<std::string> pending;
  for (;;) {
    std::vector<pollfd> fds{{stopPipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (int client : clients) fds.push_back({client, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) {
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        clients.push_back(client);
        pending.emplace_back();
      }
    }
    // Only the clients that were polled; one accepted just now waits a round.
    for (std::size_t i = 0; i + 2 < fds.size(); ++i) {
      if (!(fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char chunk[4096];
      const ssize_t got = ::read(clients[i], chunk, sizeof chunk);
      if (got <= 0) {
        ::close(clients[i]);
        clients[i] = -1;  // poll skips it from now on
        continue;
      }
      std::string& buffer = pending[i];
      {
        std::lock_guard lock(mutex_);
        bytes_.append(chunk, static_cast<std::size_t>(got));
      }
      buffer.append(chunk, static_cast<std::size_t>(got));
      for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
        const std::string message = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        {
          std::lock_guard lock(mutex_);
          messages_.push_back(message);
        }
        if (auto reply = responder_(message)) {
          [[maybe_unused]] auto ignored = ::write(clients[i], reply->data(), reply->size());
        }
      }
    }
  }
  for (int client : clients) {
    if (client >= 0) ::close(client);
  }
}
