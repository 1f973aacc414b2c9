// What an instrument session does on the wire, behind the VISA operations
// (internal to platform/): the raw socket (visa.cpp) and VXI-11
// (visa_vxi11.cpp) are two kinds of InstrumentIo, so that the formatted I/O,
// the attributes and the session table are written once.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/visa.h"

namespace visa_detail {

using SteadyClock = std::chrono::steady_clock;

std::string ErrnoText(std::string_view what, int error);

// An owned descriptor: closed quietly by the destructor, or by Close, which
// reports.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      CloseQuietly();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { CloseQuietly(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Close is not retried on EINTR (Linux frees the descriptor anyway).
  bool Close(std::string* error);

 private:
  void CloseQuietly();
  int fd_ = -1;
};

// The end of an operation's time; no time point means no end (infinite).
struct Deadline {
  std::optional<SteadyClock::time_point> at;

  static Deadline After(ViUInt32 timeoutMs) {
    if (timeoutMs == VI_TMO_INFINITE) return {};
    return {SteadyClock::now() + std::chrono::milliseconds(timeoutMs)};
  }
  // For poll: -1 waits forever, 0 means the time is up.
  int PollMs() const {
    if (!at) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*at - SteadyClock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
  }
  bool Expired() const { return at && SteadyClock::now() >= *at; }
};

// poll() for one descriptor, retried on EINTR with the time left. Returns the
// revents, 0 on time-out, -1 on error (errno set).
int PollOne(int fd, short events, const Deadline& deadline);

// A TCP connection to host:port made within the deadline (`timeoutMs` is what
// the message says it was). The descriptor is non-blocking, close-on-exec,
// with TCP_NODELAY. On failure VI_ERROR_RSRC_NFOUND and the reason ("cannot
// resolve ...", "connect to ...: Connection refused", "no answer from ...");
// `resolved` tells whether the name was resolved at all.
ViStatus ConnectTcp(const std::string& host, const std::string& port, ViUInt32 timeoutMs,
                    const Deadline& deadline, FileDescriptor* fd, std::string* detail,
                    bool* resolved = nullptr);

// "host:port", with an IPv6 address in brackets.
std::string PeerName(const std::string& host, const std::string& port);

class InstrumentIo {
 public:
  virtual ~InstrumentIo() = default;
  // Sends one message; LF is appended when it does not end with one.
  // `written` counts the caller's bytes only.
  virtual ViStatus WriteMessage(const ViByte* data, size_t count, const Deadline& deadline,
                                size_t* written) = 0;
  // Reads at most `count` bytes, up to the end of a message (LF on a socket,
  // END on VXI-11): VI_SUCCESS when the end came, VI_SUCCESS_MAX_CNT when
  // `count` bytes came first. Bytes beyond stay for the next read.
  virtual ViStatus Read(ViByte* data, size_t count, const Deadline& deadline, size_t* received) = 0;
  // viFlush's read side (VI_READ_BUF, VI_READ_BUF_DISCARD); writes are never
  // held back.
  virtual ViStatus FlushInput(ViUInt16 mask, const Deadline& deadline) = 0;
  virtual ViStatus Close() = 0;
  // The reason of the last failure, for viStatusDesc.
  virtual const std::string& Detail() const = 0;
};

}  // namespace visa_detail
