#include "platform/visa_io.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace visa_detail {

std::string ErrnoText(std::string_view what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

bool FileDescriptor::Close(std::string* error) {
  if (fd_ < 0) return true;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) == 0 || errno == EINTR) return true;
  if (error) *error = ErrnoText("close", errno);
  return false;
}

void FileDescriptor::CloseQuietly() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int PollOne(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, deadline.PollMs());
    if (n > 0) return p.revents;
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

std::string PeerName(const std::string& host, const std::string& port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + port;
}

ViStatus ConnectTcp(const std::string& host, const std::string& port, ViUInt32 timeoutMs,
                    const Deadline& deadline, FileDescriptor* fd, std::string* detail,
                    bool* resolved) {
  const std::string peer = PeerName(host, port);
  if (resolved) *resolved = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) {
    *detail = "cannot resolve " + peer + ": " + ::gai_strerror(rc);
    return VI_ERROR_RSRC_NFOUND;
  }
  if (resolved) *resolved = true;
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  std::string lastError = "no address";
  for (const addrinfo* a = found; a; a = a->ai_next) {
    FileDescriptor candidate(
        ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (!candidate.Valid()) {
      lastError = ErrnoText("socket", errno);
      continue;
    }
    int rcConnect = ::connect(candidate.Get(), a->ai_addr, a->ai_addrlen);
    if (rcConnect != 0 && (errno == EINPROGRESS || errno == EINTR)) {
      const int revents = PollOne(candidate.Get(), POLLOUT, deadline);
      if (revents == 0) {
        lastError = "no answer from " + peer + " within " + std::to_string(timeoutMs) + " ms";
        continue;
      }
      int soError = 0;
      socklen_t len = sizeof soError;
      if (revents < 0)
        soError = errno;
      else if (::getsockopt(candidate.Get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
      rcConnect = soError == 0 ? 0 : -1;
      errno = soError;
    }
    if (rcConnect != 0) {
      lastError = ErrnoText("connect to " + peer, errno);
      continue;
    }
    // Commands are small and each waits for its answer: send at once.
    const int one = 1;
    ::setsockopt(candidate.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    *fd = std::move(candidate);
    return VI_SUCCESS;
  }
  *detail = lastError;
  return VI_ERROR_RSRC_NFOUND;
}

}  // namespace visa_detail
