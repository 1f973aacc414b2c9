#include "platform/visa_vxi11.h"

#include <fcntl.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <vxi11/vxi11.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
// After the RPC headers it relies on.
#include <rpc/pmap_prot.h>

#include "platform/waits.h"

namespace visa_detail {

namespace {

constexpr const char* kPortmapperPort = "111";
// The RPC waits this much longer than the io_timeout it passes on, so that an
// instrument's own time-out reply (error 15) comes back before we give up:
// a read left running on the instrument would swallow the next answer.
constexpr ViUInt32 kRpcMarginMs = 1000;
// The longest an RPC may wait (clnt_vc polls in int milliseconds).
constexpr ViUInt32 kMaxRpcWaitMs = INT_MAX - kRpcMarginMs;
// destroy_link at close waits at most this long for a live instrument.
constexpr ViUInt32 kCloseWaitMs = 1000;
// Bytes asked for in one device_read at most; a larger count takes several.
// interfaces/vxi11.x bounds a reply's data at the same size, so an instrument
// cannot make the RPC library allocate what a reply merely claims.
constexpr ViUInt32 kMaxReadRequest = 1024 * 1024;
// The write size used when an instrument announces none.
constexpr ViUInt32 kDefaultMaxRecvSize = 16 * 1024;
// A smaller maxRecvSize than the protocol's minimum is not taken literally.
constexpr ViUInt32 kMinMaxRecvSize = 1024;

struct DeviceErrorName {
  long code;
  const char* text;
};
constexpr DeviceErrorName kDeviceErrors[] = {
    {DEVICE_ERR_SYNTAX, "syntax error"},
    {DEVICE_ERR_NOT_ACCESSIBLE, "device not accessible"},
    {DEVICE_ERR_INVALID_LINK, "invalid link identifier"},
    {DEVICE_ERR_PARAMETER, "parameter error"},
    {DEVICE_ERR_NO_CHANNEL, "channel not established"},
    {DEVICE_ERR_NOT_SUPPORTED, "operation not supported"},
    {DEVICE_ERR_OUT_OF_RESOURCES, "out of resources"},
    {DEVICE_ERR_LOCKED, "device locked by another link"},
    {DEVICE_ERR_NO_LOCK, "no lock held by this link"},
    {DEVICE_ERR_IO_TIMEOUT, "I/O timeout"},
    {DEVICE_ERR_IO, "I/O error"},
    {DEVICE_ERR_INVALID_ADDRESS, "invalid address"},
    {DEVICE_ERR_ABORT, "abort"},
    {DEVICE_ERR_CHANNEL_ESTABLISHED, "channel already established"},
};

std::string DeviceErrorText(long code) {
  std::string text = "VXI-11 error " + std::to_string(code);
  for (const auto& entry : kDeviceErrors) {
    if (entry.code == code) text += std::string(" (") + entry.text + ")";
  }
  return text;
}

// libtirpc writes with write(): a peer that reset the connection would
// raise SIGPIPE and end the station. The signal is held back for the call
// and a SIGPIPE it caused is taken out again.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeGuard() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec none{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool wasPending_ = false;
};

// One RPC client on a connected TCP descriptor, which it owns.
class RpcChannel {
 public:
  RpcChannel() = default;
  RpcChannel(const RpcChannel&) = delete;
  RpcChannel& operator=(const RpcChannel&) = delete;
  ~RpcChannel() { Close(nullptr); }

  // Takes the connected descriptor; the reason in `detail` when libtirpc
  // cannot make a client of it.
  bool Attach(FileDescriptor fd, u_long program, u_long version, std::string* detail) {
    // clnt_vc polls before it reads; its writes must not fail with EAGAIN.
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      *detail = ErrnoText("getpeername", errno);
      return false;
    }
    netbuf server{};
    server.maxlen = server.len = length;
    server.buf = &address;
    client_ = ::clnt_vc_create(fd.Get(), &server, program, version, 0, 0);
    if (!client_) {
      *detail = ::clnt_spcreateerror("RPC client");
      return false;
    }
    fd_ = std::move(fd);
    return true;
  }

  int Descriptor() const { return fd_.Get(); }

  // One call; waits at most `waitMs` for the reply (and for the send).
  clnt_stat Call(u_long procedure, xdrproc_t encode, const void* arguments, xdrproc_t decode,
                 void* results, ViUInt32 waitMs) {
    waitMs = std::min(waitMs, kMaxRpcWaitMs);
    const timeval wait{static_cast<time_t>(waitMs / 1000),
                       static_cast<suseconds_t>((waitMs % 1000) * 1000)};
    ::setsockopt(fd_.Get(), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    SigpipeGuard guard;
    return clnt_call(client_, procedure, encode, static_cast<char*>(const_cast<void*>(arguments)),
                     decode, static_cast<char*>(results), wait);
  }
  void FreeResults(xdrproc_t decode, void* results) {
    clnt_freeres(client_, decode, static_cast<char*>(results));
  }
  // The text of the last failure: the RPC status and the system's reason.
  std::string ErrorText(clnt_stat status) const {
    std::string text = ::clnt_sperrno(status);
    rpc_err error{};
    if (client_) clnt_geterr(client_, &error);
    if ((status == RPC_CANTSEND || status == RPC_CANTRECV) && error.re_errno != 0)
      text += std::string(" (") + std::strerror(error.re_errno) + ")";
    return text;
  }

  bool Close(std::string* error) {
    if (client_) clnt_destroy(client_);
    client_ = nullptr;
    return fd_.Close(error);
  }

 private:
  FileDescriptor fd_;
  CLIENT* client_ = nullptr;
};

template <typename F>
xdrproc_t Codec(F function) {
  return reinterpret_cast<xdrproc_t>(function);
}

// io_timeout for the instrument from what is left of the deadline.
u_long IoTimeout(const Deadline& deadline) {
  const int left = deadline.PollMs();
  return left < 0 ? static_cast<u_long>(VI_TMO_INFINITE) : static_cast<u_long>(left);
}

// The RPC's own wait for a call the instrument times out itself.
ViUInt32 RpcWait(const Deadline& deadline) {
  const int left = deadline.PollMs();
  return left < 0 ? kMaxRpcWaitMs : static_cast<ViUInt32>(left) + kRpcMarginMs;
}

// A read cut into slices (see platform/waits.h) asks the instrument to wait
// one slice at most, and the RPC as much longer as for a whole read.
u_long SliceTimeout(const Deadline& deadline) {
  const int left = deadline.PollMs();
  return static_cast<u_long>(left < 0 ? kWaitSliceMs : std::min(left, kWaitSliceMs));
}

// The RPC's wait for a call bounded by the deadline alone (opening).
ViUInt32 WaitLeft(const Deadline& deadline) {
  const int left = deadline.PollMs();
  return left < 0 ? kMaxRpcWaitMs : static_cast<ViUInt32>(left);
}

class Vxi11Io final : public InstrumentIo {
 public:
  Vxi11Io(std::unique_ptr<RpcChannel> channel, long link, ViUInt32 maxRecvSize, std::string peer)
      : channel_(std::move(channel)),
        link_(link),
        maxRecvSize_(maxRecvSize),
        peer_(std::move(peer)) {}
  ~Vxi11Io() override { Close(); }

  ViStatus WriteMessage(const ViByte* data, size_t count, const Deadline& deadline,
                        size_t* written) override;
  ViStatus Read(ViByte* data, size_t count, const Deadline& deadline, size_t* received) override;
  // VI_READ_BUF_DISCARD drops what this end holds; VI_READ_BUF also reads
  // the rest of a message already begun and drops it. An answer not begun
  // stays with the instrument: reading one unasked would make an instrument
  // queue a query error.
  ViStatus FlushInput(ViUInt16 mask, const Deadline& deadline) override;
  ViStatus Close() override;
  const std::string& Detail() const override { return detail_; }

 private:
  // True when the instrument's side of the connection has closed; checked
  // before each call so that a vanished instrument fails it at once.
  bool PeerGone() const {
    pollfd p{channel_->Descriptor(), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
  }
  ViStatus Lost(const std::string& why) {
    lost_ = true;
    detail_ = "connection to " + peer_ + " lost: " + why;
    return VI_ERROR_CONN_LOST;
  }
  ViStatus RpcFailure(clnt_stat status, const char* call) {
    if (status == RPC_TIMEDOUT) {
      detail_ = std::string("no reply to ") + call + " from " + peer_ + " within the time-out";
      return VI_ERROR_TMO;
    }
    return Lost(std::string(call) + ": " + channel_->ErrorText(status));
  }
  ViStatus DeviceFailure(long error, const char* call) {
    detail_ = std::string(call) + ": " + DeviceErrorText(error);
    if (error == DEVICE_ERR_IO_TIMEOUT) return VI_ERROR_TMO;
    if (error == DEVICE_ERR_INVALID_LINK) return Lost(detail_);
    return VI_ERROR_IO;
  }
  ViStatus CheckUsable() {
    if (lost_ || closed_) return VI_ERROR_CONN_LOST;
    if (PeerGone()) return Lost("closed by the instrument");
    return VI_SUCCESS;
  }

  std::unique_ptr<RpcChannel> channel_;
  long link_;
  ViUInt32 maxRecvSize_;
  std::string peer_;
  std::string detail_;
  // Bytes an instrument sent beyond the count asked for (it should not), kept
  // for the next read; `heldEnds_` when they end a message.
  std::string held_;
  bool heldEnds_ = false;
  // The last read took part of a message and not its end.
  bool midMessage_ = false;
  bool lost_ = false;
  bool closed_ = false;
};

ViStatus Vxi11Io::WriteMessage(const ViByte* data, size_t count, const Deadline& deadline,
                               size_t* written) {
  *written = 0;
  if (const ViStatus usable = CheckUsable(); usable < 0) return usable;
  if (count == 0) return VI_SUCCESS;
  std::string message(reinterpret_cast<const char*>(data), count);
  if (message.back() != '\n') message += '\n';
  size_t sent = 0;
  while (sent < message.size()) {
    const size_t chunk = std::min<size_t>(maxRecvSize_, message.size() - sent);
    Device_WriteParms parameters{};
    parameters.lid = link_;
    parameters.io_timeout = IoTimeout(deadline);
    parameters.flags = sent + chunk == message.size() ? DEVICE_FLAG_END : 0;
    parameters.data.data_len = static_cast<u_int>(chunk);
    parameters.data.data_val = message.data() + sent;
    Device_WriteResp reply{};
    const clnt_stat status = channel_->Call(device_write, Codec(xdr_Device_WriteParms), &parameters,
                                            Codec(xdr_Device_WriteResp), &reply, RpcWait(deadline));
    if (status != RPC_SUCCESS) {
      *written = std::min(sent, count);
      return RpcFailure(status, "device_write");
    }
    sent += std::min<size_t>(reply.size, chunk);
    if (reply.error != DEVICE_ERR_NONE) {
      *written = std::min(sent, count);
      return DeviceFailure(reply.error, "device_write");
    }
    if (reply.size == 0) {
      *written = std::min(sent, count);
      detail_ = "device_write: the instrument took no bytes";
      return VI_ERROR_IO;
    }
  }
  *written = count;
  return VI_SUCCESS;
}

ViStatus Vxi11Io::Read(ViByte* data, size_t count, const Deadline& deadline, size_t* received) {
  *received = 0;
  if (count == 0) return VI_SUCCESS;
  if (!held_.empty()) {
    const size_t n = std::min(count, held_.size());
    std::memcpy(data, held_.data(), n);
    held_.erase(0, n);
    *received = n;
    if (held_.empty() && heldEnds_) {
      midMessage_ = false;
      return VI_SUCCESS;
    }
    if (n == count) return VI_SUCCESS_MAX_CNT;
  }
  if (const ViStatus usable = CheckUsable(); usable < 0) return usable;
  while (*received < count) {
    const size_t want = std::min<size_t>(count - *received, kMaxReadRequest);
    // In a windowed run the instrument is asked for one slice at a time, and
    // the user interface has its turn between the slices.
    const bool sliced = WaitSliced();
    Device_ReadParms parameters{};
    parameters.lid = link_;
    parameters.requestSize = static_cast<u_long>(want);
    parameters.io_timeout = sliced ? SliceTimeout(deadline) : IoTimeout(deadline);
    Device_ReadResp reply{};
    const ViUInt32 rpcWait =
        sliced ? static_cast<ViUInt32>(parameters.io_timeout) + kRpcMarginMs : RpcWait(deadline);
    const clnt_stat status = channel_->Call(device_read, Codec(xdr_Device_ReadParms), &parameters,
                                            Codec(xdr_Device_ReadResp), &reply, rpcWait);
    if (status != RPC_SUCCESS) return RpcFailure(status, "device_read");
    const size_t got = reply.data.data_len;
    const size_t used = std::min(got, want);
    // An empty reply has no data pointer, and memcpy must not see one.
    if (used > 0) std::memcpy(data + *received, reply.data.data_val, used);
    *received += used;
    const bool end = (reply.reason & (DEVICE_REASON_END | DEVICE_REASON_CHR)) != 0;
    if (got > used) {
      held_.assign(reply.data.data_val + used, got - used);
      heldEnds_ = end;
    }
    const long error = reply.error;
    channel_->FreeResults(Codec(xdr_Device_ReadResp), &reply);
    if (*received > 0) midMessage_ = true;
    if (error == DEVICE_ERR_IO_TIMEOUT && sliced && !deadline.Expired()) {
      if (!WaitTick()) continue;
      detail_ = "the wait for an answer from " + peer_ + " was ended early";
      return VI_ERROR_TMO;
    }
    if (error != DEVICE_ERR_NONE) return DeviceFailure(error, "device_read");
    if (end && held_.empty()) {
      midMessage_ = false;
      return VI_SUCCESS;
    }
    if (got == 0) {
      detail_ = "device_read: an empty reply without END from " + peer_;
      return VI_ERROR_IO;
    }
  }
  return VI_SUCCESS_MAX_CNT;
}

ViStatus Vxi11Io::FlushInput(ViUInt16 mask, const Deadline& deadline) {
  if (!(mask & (VI_READ_BUF | VI_READ_BUF_DISCARD))) return VI_SUCCESS;
  const bool heldEnds = heldEnds_;
  const bool rest = midMessage_ && !(heldEnds && !held_.empty());
  held_.clear();
  midMessage_ = false;
  if (!(mask & VI_READ_BUF) || !rest) return VI_SUCCESS;
  ViByte scratch[4096];
  for (;;) {
    size_t received = 0;
    const ViStatus status = Read(scratch, sizeof scratch, deadline, &received);
    if (status != VI_SUCCESS_MAX_CNT) {
      midMessage_ = false;
      return status < 0 ? status : VI_SUCCESS;
    }
  }
}

ViStatus Vxi11Io::Close() {
  if (closed_) return VI_SUCCESS;
  closed_ = true;
  if (!lost_ && !PeerGone()) {
    Device_Link link = link_;
    Device_Error reply{};
    channel_->Call(destroy_link, Codec(xdr_Device_Link), &link, Codec(xdr_Device_Error), &reply,
                   kCloseWaitMs);
  }
  std::string error;
  if (!channel_->Close(&error)) {
    detail_ = error;
    return VI_ERROR_IO;
  }
  return VI_SUCCESS;
}

// The core channel's port from the host's portmapper.
ViStatus AskPortmapper(const std::string& host, ViUInt32 timeoutMs, const Deadline& deadline,
                       std::string* port, std::string* detail) {
  const std::string portmapper = PeerName(host, kPortmapperPort);
  FileDescriptor fd;
  bool resolved = false;
  std::string why;
  if (ConnectTcp(host, kPortmapperPort, timeoutMs, deadline, &fd, &why, &resolved) < 0) {
    *detail = resolved ? "no portmapper (rpcbind) to find the VXI-11 server: " + why : why;
    return VI_ERROR_RSRC_NFOUND;
  }
  RpcChannel channel;
  if (!channel.Attach(std::move(fd), PMAPPROG, PMAPVERS, detail)) return VI_ERROR_RSRC_NFOUND;
  pmap query{DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP, 0};
  u_long found = 0;
  const clnt_stat status = channel.Call(PMAPPROC_GETPORT, Codec(xdr_pmap), &query,
                                        Codec(xdr_u_long), &found, WaitLeft(deadline));
  if (status != RPC_SUCCESS) {
    *detail = status == RPC_TIMEDOUT
                  ? "the portmapper at " + portmapper + " did not answer within " +
                        std::to_string(timeoutMs) + " ms"
                  : "the portmapper at " + portmapper + " failed: " + channel.ErrorText(status);
    return VI_ERROR_RSRC_NFOUND;
  }
  if (found == 0 || found > 65535) {
    *detail = "no VXI-11 server at " + host + ": its portmapper knows no VXI-11 core channel";
    return VI_ERROR_RSRC_NFOUND;
  }
  *port = std::to_string(found);
  return VI_SUCCESS;
}

}  // namespace

ViStatus OpenVxi11(const Vxi11Target& target, ViUInt32 timeoutMs, std::unique_ptr<InstrumentIo>* io,
                   std::string* detail) {
  const Deadline deadline = Deadline::After(timeoutMs);
  std::string port = target.port;
  if (port.empty()) {
    const ViStatus status = AskPortmapper(target.host, timeoutMs, deadline, &port, detail);
    if (status < 0) return status;
  }
  const std::string peer = PeerName(target.host, port);
  FileDescriptor fd;
  std::string why;
  bool resolved = false;
  if (ConnectTcp(target.host, port, timeoutMs, deadline, &fd, &why, &resolved) < 0) {
    *detail = resolved ? "no VXI-11 server at " + peer + ": " + why : why;
    return VI_ERROR_RSRC_NFOUND;
  }
  auto channel = std::make_unique<RpcChannel>();
  if (!channel->Attach(std::move(fd), DEVICE_CORE, DEVICE_CORE_VERSION, detail))
    return VI_ERROR_RSRC_NFOUND;

  std::string device = target.device;
  Create_LinkParms parameters{};
  parameters.clientId = static_cast<long>(::getpid());
  parameters.lockDevice = FALSE;
  parameters.device = device.data();
  Create_LinkResp reply{};
  const clnt_stat status = channel->Call(create_link, Codec(xdr_Create_LinkParms), &parameters,
                                         Codec(xdr_Create_LinkResp), &reply, WaitLeft(deadline));
  switch (status) {
    case RPC_SUCCESS:
      break;
    case RPC_TIMEDOUT:
      *detail =
          "no answer to create_link from " + peer + " within " + std::to_string(timeoutMs) + " ms";
      return VI_ERROR_RSRC_NFOUND;
    case RPC_PROGUNAVAIL:
    case RPC_PROGVERSMISMATCH:
    case RPC_PROCUNAVAIL:
    case RPC_CANTDECODERES:
      *detail = peer + " is not a VXI-11 server: " + channel->ErrorText(status);
      return VI_ERROR_RSRC_NFOUND;
    default:
      *detail = "create_link to " + peer + " failed: " + channel->ErrorText(status);
      return VI_ERROR_RSRC_NFOUND;
  }
  if (reply.error != DEVICE_ERR_NONE) {
    *detail = "the VXI-11 server at " + peer + " refused a link to \"" + target.device +
              "\": " + DeviceErrorText(reply.error);
    return VI_ERROR_RSRC_NFOUND;
  }
  const ViUInt32 maxRecvSize =
      reply.maxRecvSize == 0
          ? kDefaultMaxRecvSize
          : std::max(kMinMaxRecvSize,
                     static_cast<ViUInt32>(std::min<u_long>(reply.maxRecvSize, 0x7FFFFFFFul)));
  *io = std::make_unique<Vxi11Io>(std::move(channel), reply.lid, maxRecvSize, peer);
  return VI_SUCCESS;
}

}  // namespace visa_detail
