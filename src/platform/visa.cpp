// Instrument sessions behind the VISA names. Raw TCP sockets ("::SOCKET")
// are carried out here with POSIX sockets; each session owns its descriptor,
// and every wait is a poll bounded by the session's time-out. VXI-11 (INSTR)
// sessions are the other InstrumentIo (visa_vxi11.cpp); the session table,
// formatted I/O and attributes here serve both.
#include "platform/visa.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/visa_io.h"
#include "platform/visa_scan.h"
#include "platform/visa_vxi11.h"
#include "text/CText.h"

namespace {

using namespace visa_detail;

// VISA's default session time-out.
constexpr ViUInt32 kDefaultTimeoutMs = 2000;
// Connecting to an address nobody answers must fail within seconds, not
// after the kernel's minutes of SYN retries.
constexpr ViUInt32 kDefaultConnectTimeoutMs = 3000;
// Bytes taken from the socket per recv.
constexpr size_t kReceiveChunk = 16 * 1024;
// Input held unread in a session (answers we were not asked for yet); beyond
// this the session stops taking more from the socket until it is read.
constexpr size_t kMaxBufferedInput = 1024 * 1024;
// The longest answer viScanf gathers before parsing; a longer message is cut
// here and its remainder is discarded with it.
constexpr size_t kMaxScannedMessage = 64 * 1024;
// viStatusDesc's destination holds 256 bytes.
constexpr size_t kStatusDescCapacity = 256;

// ---- raw sockets ----------------------------------------------------------------

class SocketIo final : public InstrumentIo {
 public:
  static ViStatus Connect(const std::string& host, const std::string& port, ViUInt32 timeoutMs,
                          std::unique_ptr<InstrumentIo>* io, std::string* detail);

  ViStatus WriteMessage(const ViByte* data, size_t count, const Deadline& deadline,
                        size_t* written) override;
  ViStatus Read(ViByte* data, size_t count, const Deadline& deadline, size_t* received) override;
  // Drops every received byte not yet read, those already on the socket too.
  ViStatus FlushInput(ViUInt16 mask, const Deadline& deadline) override;
  ViStatus Close() override;
  const std::string& Detail() const override { return detail_; }

 private:
  explicit SocketIo(FileDescriptor fd, std::string peer)
      : fd_(std::move(fd)), peer_(std::move(peer)) {}
  // Takes what has already arrived without waiting. False once the peer has
  // closed (or reset) the connection.
  bool TakeAvailable();
  // One recv into the buffer. 1: bytes came; 0: nothing yet; -1: closed.
  int ReceiveOnce();
  ViStatus Lost(std::string why) {
    closed_ = true;
    detail_ = "connection to " + peer_ + " lost: " + why;
    return VI_ERROR_CONN_LOST;
  }

  FileDescriptor fd_;
  std::string peer_;
  std::string buffer_;  // received, not yet read
  bool closed_ = false;
  std::string detail_;
};

ViStatus SocketIo::Connect(const std::string& host, const std::string& port, ViUInt32 timeoutMs,
                           std::unique_ptr<InstrumentIo>* io, std::string* detail) {
  FileDescriptor fd;
  const ViStatus status =
      ConnectTcp(host, port, timeoutMs, Deadline::After(timeoutMs), &fd, detail);
  if (status < 0) return status;
  io->reset(new SocketIo(std::move(fd), PeerName(host, port)));
  return VI_SUCCESS;
}

int SocketIo::ReceiveOnce() {
  char chunk[kReceiveChunk];
  for (;;) {
    const ssize_t n = ::recv(fd_.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
      return 1;
    }
    if (n == 0) {
      Lost("closed by the instrument");
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    Lost(std::strerror(errno));
    return -1;
  }
}

bool SocketIo::TakeAvailable() {
  while (!closed_ && buffer_.size() < kMaxBufferedInput) {
    const int r = ReceiveOnce();
    if (r <= 0) break;
  }
  return !closed_;
}

ViStatus SocketIo::WriteMessage(const ViByte* data, size_t count, const Deadline& deadline,
                                size_t* written) {
  *written = 0;
  // A peer that has gone is noticed here, before the message is lost in a
  // half-closed socket.
  if (closed_ || !TakeAvailable()) return VI_ERROR_CONN_LOST;
  if (count == 0) return VI_SUCCESS;
  std::string message(reinterpret_cast<const char*>(data), count);
  if (message.back() != '\n') message += '\n';
  size_t sent = 0;
  while (sent < message.size()) {
    const ssize_t n = ::send(fd_.Get(), message.data() + sent, message.size() - sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int revents = PollOne(fd_.Get(), POLLOUT, deadline);
      if (revents == 0) {
        *written = std::min(sent, count);
        detail_ = "the instrument took no more input within the time-out";
        return VI_ERROR_TMO;
      }
      if (revents < 0) return Lost(std::strerror(errno));
      continue;
    }
    *written = std::min(sent, count);
    return Lost(n < 0 ? std::strerror(errno) : "send returned 0");
  }
  *written = count;
  return VI_SUCCESS;
}

ViStatus SocketIo::Read(ViByte* data, size_t count, const Deadline& deadline, size_t* received) {
  *received = 0;
  if (count == 0) return VI_SUCCESS;
  const auto take = [&](size_t n) {
    std::memcpy(data, buffer_.data(), n);
    buffer_.erase(0, n);
    *received = n;
  };
  for (;;) {
    const size_t limit = std::min(count, buffer_.size());
    if (const void* lf = std::memchr(buffer_.data(), '\n', limit)) {
      take(static_cast<size_t>(static_cast<const char*>(lf) - buffer_.data()) + 1);
      return VI_SUCCESS;
    }
    if (buffer_.size() >= count) {
      take(count);
      return VI_SUCCESS_MAX_CNT;
    }
    if (closed_) {
      // What came before the peer left is still delivered, with the failure.
      take(buffer_.size());
      return VI_ERROR_CONN_LOST;
    }
    const int revents = PollOne(fd_.Get(), POLLIN, deadline);
    if (revents == 0) {
      take(buffer_.size());
      detail_ = "no complete answer within the time-out";
      return VI_ERROR_TMO;
    }
    if (revents < 0) {
      Lost(std::strerror(errno));
      continue;
    }
    ReceiveOnce();
  }
}

ViStatus SocketIo::FlushInput(ViUInt16 mask, const Deadline& /*deadline*/) {
  if (mask & (VI_READ_BUF | VI_READ_BUF_DISCARD)) {
    TakeAvailable();
    buffer_.clear();
  }
  return VI_SUCCESS;
}

ViStatus SocketIo::Close() {
  std::string error;
  if (!fd_.Close(&error)) {
    detail_ = error;
    return VI_ERROR_IO;
  }
  return VI_SUCCESS;
}

// ---- sessions -----------------------------------------------------------------

struct SessionRecord {
  bool resourceManager = false;
  ViSession owner = VI_NULL;  // the resource manager it was opened through
  std::unique_ptr<InstrumentIo> io;
  ViUInt32 timeoutMs = kDefaultTimeoutMs;
  ViAttrState readBufferMode = VI_FLUSH_WHEN_FULL;
  ViAttrState writeBufferMode = VI_FLUSH_WHEN_FULL;
  // The last failure and its reason, for viStatusDesc.
  ViStatus lastStatus = VI_SUCCESS;
  std::string lastDetail;
  std::mutex io_mutex;  // one operation at a time on the wire
};

struct SessionTable {
  std::mutex mutex;
  std::map<ViSession, std::shared_ptr<SessionRecord>> sessions;
  ViSession next = 1;
};

SessionTable& Table() {
  static SessionTable table;
  return table;
}

std::shared_ptr<SessionRecord> Find(ViObject object) {
  SessionTable& t = Table();
  std::lock_guard lock(t.mutex);
  const auto it = t.sessions.find(object);
  return it == t.sessions.end() ? nullptr : it->second;
}

ViSession Insert(std::shared_ptr<SessionRecord> record) {
  SessionTable& t = Table();
  std::lock_guard lock(t.mutex);
  ViSession id = t.next++;
  if (id == VI_NULL) id = t.next++;
  t.sessions.emplace(id, std::move(record));
  return id;
}

ViStatus Remember(SessionRecord& record, ViStatus status, std::string detail) {
  if (status < 0) {
    record.lastStatus = status;
    record.lastDetail = std::move(detail);
  }
  return status;
}

// An instrument session (not a resource manager) or nullptr.
std::shared_ptr<SessionRecord> FindInstrument(ViSession session) {
  auto record = Find(session);
  return record && !record->resourceManager && record->io ? record : nullptr;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Splits at "::" outside brackets, so that an IPv6 address ("[::1]") stays
// one part.
std::vector<std::string> SplitResource(std::string_view name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = start;
    for (bool inBrackets = false; at < name.size(); ++at) {
      if (name[at] == '[') inBrackets = true;
      if (name[at] == ']') inBrackets = false;
      if (!inBrackets && name.compare(at, 2, "::") == 0) break;
    }
    if (at >= name.size()) at = std::string_view::npos;
    parts.emplace_back(
        name.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 2;
  }
  return parts;
}

bool IsPortNumber(const std::string& text) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      }))
    return false;
  const int port = std::stoi(text);
  return port > 0 && port <= 65535;
}

// The host part of a resource name: "host", "host:port", "[IPv6]" or
// "[IPv6]:port" (an IPv6 address without brackets has no port). The port form
// names a VXI-11 server's core channel directly, without the portmapper.
bool SplitHost(const std::string& text, std::string* host, std::string* port) {
  port->clear();
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close == 1) return false;
    *host = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (rest.empty()) return true;
    if (rest.front() != ':') return false;
    *port = rest.substr(1);
    return true;
  }
  const size_t colon = text.find(':');
  if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
    *host = text;
    return !text.empty();
  }
  *host = text.substr(0, colon);
  *port = text.substr(colon + 1);
  return !host->empty();
}

bool IsTcpipInterface(const std::string& token) {
  const std::string upper = Upper(token);
  if (upper.rfind("TCPIP", 0) != 0) return false;
  return std::all_of(upper.begin() + 5, upper.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// Reads one message (up to LF) for viScanf. An answer longer than
// `maxBytes` is cut there; the rest of that message is read and dropped, so
// the next answer starts where it should.
ViStatus ReadMessage(SessionRecord& record, std::string* message, size_t maxBytes) {
  message->clear();
  const Deadline deadline = Deadline::After(record.timeoutMs);
  ViByte chunk[4096];
  bool discarding = false;
  for (;;) {
    size_t received = 0;
    const size_t want =
        discarding ? sizeof chunk : std::min(sizeof chunk, maxBytes - message->size());
    const ViStatus status = record.io->Read(chunk, want, deadline, &received);
    if (!discarding) message->append(reinterpret_cast<const char*>(chunk), received);
    if (status < 0) return Remember(record, status, record.io->Detail());
    if (status == VI_SUCCESS) return VI_SUCCESS;  // LF seen
    if (message->size() >= maxBytes) discarding = true;
  }
}

ViStatus ScanSession(SessionRecord& record, const char* format, va_list args) {
  std::string message;
  const ViStatus readStatus = ReadMessage(record, &message, kMaxScannedMessage);
  if (readStatus < 0 && message.empty()) return readStatus;
  const ViStatus scanStatus = ScanMessage(message, format, args);
  if (readStatus < 0) return readStatus;  // partial answer delivered, failure kept
  if (scanStatus < 0) {
    return Remember(record, scanStatus,
                    "the answer does not match \"" + std::string(format) + "\"");
  }
  return VI_SUCCESS;
}

ViStatus WriteBytes(SessionRecord& record, const ViByte* data, size_t count, size_t* written) {
  const ViStatus status =
      record.io->WriteMessage(data, count, Deadline::After(record.timeoutMs), written);
  return Remember(record, status, record.io->Detail());
}

struct StatusText {
  ViStatus status;
  const char* name;
  const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {VI_SUCCESS, "VI_SUCCESS", "Operation completed successfully."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR", "The specified termination character was read."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT",
     "The number of bytes read is equal to the input count."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT",
     "The given session or object reference is invalid."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND",
     "Insufficient location information or resource not present in the system."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME",
     "Invalid resource reference specified. Parsing error."},
    {VI_ERROR_TMO, "VI_ERROR_TMO", "Timeout expired before operation completed."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR",
     "The specified attribute is not defined by the referenced object."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE",
     "The specified state of the attribute is not valid, or is not supported as defined by the "
     "object."},
    {VI_ERROR_IO, "VI_ERROR_IO", "Could not perform operation because of I/O error."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER",
     "The given session or object reference does not support this operation."},
    {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT",
     "A format specifier in the format string is invalid, or the data does not match it."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST",
     "The connection for the given session has been lost."},
};

}  // namespace

// ---- the VISA operations --------------------------------------------------------

ViStatus viOpenDefaultRM(ViSession* resourceManager) {
  if (!resourceManager) return VI_ERROR_INV_OBJECT;
  auto record = std::make_shared<SessionRecord>();
  record->resourceManager = true;
  *resourceManager = Insert(std::move(record));
  return VI_SUCCESS;
}

ViStatus viOpen(ViSession resourceManager, const char* resourceName, ViUInt32 /*accessMode*/,
                ViUInt32 openTimeout, ViSession* session) {
  if (session) *session = VI_NULL;
  auto rm = Find(resourceManager);
  if (!rm || !rm->resourceManager || !session) return VI_ERROR_INV_OBJECT;
  const std::string name = resourceName ? resourceName : "";
  const std::vector<std::string> parts = SplitResource(name);
  if (parts.size() < 2 || !IsTcpipInterface(parts[0]) || parts[1].empty()) {
    return Remember(*rm, VI_ERROR_INV_RSRC_NAME, "\"" + name + "\" is not a TCPIP resource name");
  }
  const std::string kind = Upper(parts.back());
  const ViUInt32 connectTimeout = openTimeout > 0 ? openTimeout : kDefaultConnectTimeoutMs;
  std::string host;
  std::string hostPort;
  std::unique_ptr<InstrumentIo> io;
  std::string detail;
  ViStatus status;
  if (kind == "SOCKET") {
    if (parts.size() != 4 || !IsPortNumber(parts[2]) || !SplitHost(parts[1], &host, &hostPort) ||
        !hostPort.empty()) {
      return Remember(*rm, VI_ERROR_INV_RSRC_NAME,
                      "\"" + name + "\" is not TCPIP::host::port::SOCKET");
    }
    status = SocketIo::Connect(host, parts[2], connectTimeout, &io, &detail);
  } else {
    // VXI-11: TCPIP::host[::device][::INSTR], the device "inst0" unless named.
    Vxi11Target target{.device = "inst0"};
    const bool instr = parts.size() >= 3 && kind == "INSTR";
    const size_t deviceParts = parts.size() - 2 - (instr ? 1 : 0);
    if (deviceParts > 1 || (deviceParts == 1 && parts[2].empty()) ||
        !SplitHost(parts[1], &target.host, &target.port) ||
        (!target.port.empty() && !IsPortNumber(target.port))) {
      return Remember(*rm, VI_ERROR_INV_RSRC_NAME,
                      "\"" + name + "\" is not TCPIP::host[::device][::INSTR]");
    }
    if (deviceParts == 1) target.device = parts[2];
    status = OpenVxi11(target, connectTimeout, &io, &detail);
  }
  if (status < 0) return Remember(*rm, status, detail);
  auto record = std::make_shared<SessionRecord>();
  record->owner = resourceManager;
  record->io = std::move(io);
  *session = Insert(std::move(record));
  return VI_SUCCESS;
}

ViStatus viClose(ViObject object) {
  std::vector<std::shared_ptr<SessionRecord>> closing;
  {
    SessionTable& t = Table();
    std::lock_guard lock(t.mutex);
    const auto it = t.sessions.find(object);
    if (it == t.sessions.end()) return VI_ERROR_INV_OBJECT;
    closing.push_back(it->second);
    t.sessions.erase(it);
    // Closing a resource manager closes every session opened through it.
    if (closing.front()->resourceManager) {
      for (auto s = t.sessions.begin(); s != t.sessions.end();) {
        if (s->second->owner == object) {
          closing.push_back(s->second);
          s = t.sessions.erase(s);
        } else {
          ++s;
        }
      }
    }
  }
  ViStatus result = VI_SUCCESS;
  for (auto& record : closing) {
    if (!record->io) continue;
    std::lock_guard lock(record->io_mutex);
    const ViStatus status = record->io->Close();
    if (status < 0 && record.get() == closing.front().get()) result = status;
  }
  return result;
}

ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) {
  auto record = Find(object);
  if (!record) return VI_ERROR_INV_OBJECT;
  if (record->resourceManager) return VI_ERROR_NSUP_ATTR;
  switch (attribute) {
    case VI_ATTR_TMO_VALUE:
      if (value > 0xFFFFFFFFULL) return VI_ERROR_NSUP_ATTR_STATE;
      record->timeoutMs = static_cast<ViUInt32>(value);
      return VI_SUCCESS;
    case VI_ATTR_RD_BUF_OPER_MODE:
    case VI_ATTR_WR_BUF_OPER_MODE:
      // Writes always go out at once; the modes are kept for viGetAttribute.
      if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_WHEN_FULL)
        return VI_ERROR_NSUP_ATTR_STATE;
      (attribute == VI_ATTR_RD_BUF_OPER_MODE ? record->readBufferMode : record->writeBufferMode) =
          value;
      return VI_SUCCESS;
    default:
      return VI_ERROR_NSUP_ATTR;
  }
}

ViStatus viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) {
  auto record = Find(object);
  if (!record || !value) return VI_ERROR_INV_OBJECT;
  if (record->resourceManager) return VI_ERROR_NSUP_ATTR;
  switch (attribute) {
    case VI_ATTR_TMO_VALUE:
      *value = record->timeoutMs;
      return VI_SUCCESS;
    case VI_ATTR_RD_BUF_OPER_MODE:
      *value = record->readBufferMode;
      return VI_SUCCESS;
    case VI_ATTR_WR_BUF_OPER_MODE:
      *value = record->writeBufferMode;
      return VI_SUCCESS;
    default:
      return VI_ERROR_NSUP_ATTR;
  }
}

ViStatus viPrintf(ViSession session, const char* format, ...) {
  auto record = FindInstrument(session);
  if (!record || !format) return VI_ERROR_INV_OBJECT;
  va_list args;
  va_start(args, format);
  // Numbers on the wire are written in the C locale whatever the process's.
  std::string text;
  const bool formatted = AppendVFormatC(text, format, args);
  va_end(args);
  if (!formatted) return VI_ERROR_INV_FMT;
  std::lock_guard lock(record->io_mutex);
  size_t written = 0;
  return WriteBytes(*record, reinterpret_cast<const ViByte*>(text.data()), text.size(), &written);
}

ViStatus viWrite(ViSession session, const ViByte* buffer, ViUInt32 count, ViUInt32* written) {
  if (written) *written = 0;
  auto record = FindInstrument(session);
  if (!record || (!buffer && count > 0)) return VI_ERROR_INV_OBJECT;
  std::lock_guard lock(record->io_mutex);
  size_t n = 0;
  const ViStatus status = WriteBytes(*record, buffer, count, &n);
  if (written) *written = static_cast<ViUInt32>(n);
  return status;
}

ViStatus viRead(ViSession session, ViByte* buffer, ViUInt32 count, ViUInt32* received) {
  if (received) *received = 0;
  auto record = FindInstrument(session);
  if (!record || (!buffer && count > 0)) return VI_ERROR_INV_OBJECT;
  std::lock_guard lock(record->io_mutex);
  size_t n = 0;
  const ViStatus status = record->io->Read(buffer, count, Deadline::After(record->timeoutMs), &n);
  if (received) *received = static_cast<ViUInt32>(n);
  return Remember(*record, status, record->io->Detail());
}

ViStatus viScanf(ViSession session, const char* format, ...) {
  auto record = FindInstrument(session);
  if (!record || !format) return VI_ERROR_INV_OBJECT;
  std::lock_guard lock(record->io_mutex);
  va_list args;
  va_start(args, format);
  const ViStatus status = ScanSession(*record, format, args);
  va_end(args);
  return status;
}

ViStatus viQueryf(ViSession session, const char* writeFormat, const char* readFormat, ...) {
  auto record = FindInstrument(session);
  if (!record || !writeFormat || !readFormat) return VI_ERROR_INV_OBJECT;
  std::lock_guard lock(record->io_mutex);
  size_t written = 0;
  const ViStatus writeStatus = WriteBytes(*record, reinterpret_cast<const ViByte*>(writeFormat),
                                          std::strlen(writeFormat), &written);
  if (writeStatus < 0) return writeStatus;
  va_list args;
  va_start(args, readFormat);
  const ViStatus status = ScanSession(*record, readFormat, args);
  va_end(args);
  return status;
}

ViStatus viFlush(ViSession session, ViUInt16 mask) {
  auto record = FindInstrument(session);
  if (!record) return VI_ERROR_INV_OBJECT;
  std::lock_guard lock(record->io_mutex);
  // Writes are never held back, so flushing the write buffer has nothing to
  // do.
  const ViStatus status = record->io->FlushInput(mask, Deadline::After(record->timeoutMs));
  return Remember(*record, status, record->io->Detail());
}

ViStatus viStatusDesc(ViObject object, ViStatus status, char description[256]) {
  if (!description) return VI_ERROR_INV_OBJECT;
  std::string text;
  for (const auto& entry : kStatusTexts) {
    if (entry.status == status) text = std::string(entry.name) + ": " + entry.text;
  }
  if (text.empty()) text = FormatC("Unknown status 0x%08X.", static_cast<unsigned>(status));
  if (auto record = Find(object);
      record && status < 0 && record->lastStatus == status && !record->lastDetail.empty()) {
    text += " (" + record->lastDetail + ")";
  }
  const size_t n = std::min(text.size(), kStatusDescCapacity - 1);
  std::memcpy(description, text.data(), n);
  description[n] = '\0';
  return VI_SUCCESS;
}
