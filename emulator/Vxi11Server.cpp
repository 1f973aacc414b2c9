#include "Vxi11Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vxi11/vxi11.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "ScpiServer.h"

namespace emu {

namespace {

// Answers kept unread on one link; a client that sends queries and never
// reads loses the oldest beyond this.
constexpr size_t kMaxUnreadAnswers = 256;
// Messages kept waiting behind a held answer (slow *OPC?); more overrun the
// input buffer as on a real instrument.
constexpr size_t kMaxWaitingMessages = 1024;
// Room for an RPC reply header besides its results.
constexpr size_t kReplyHeaderBytes = 256;
// How long the start-up check waits for rpcbind to accept a connection.
constexpr int kRpcbindProbeMs = 1000;
constexpr quint16 kPortmapperPort = 111;
// The largest io_timeout a waiting read honours; beyond it waits for the answer.
constexpr unsigned long kMaxTimerMs = INT_MAX;

// ---- RPC records ------------------------------------------------------------

// One record, one fragment: the length with the last-fragment bit.
QByteArray WithRecordMark(const char* data, size_t size) {
  QByteArray record(4, '\0');
  const quint32 mark = htonl(0x80000000u | static_cast<quint32>(size));
  std::memcpy(record.data(), &mark, 4);
  record.append(data, static_cast<qsizetype>(size));
  return record;
}

// Encodes an accepted reply; `results` only with SUCCESS.
QByteArray AcceptedReply(quint32 xid, accept_stat status, xdrproc_t encode = nullptr,
                         const void* results = nullptr, size_t resultBytes = 0) {
  rpc_msg reply{};
  reply.rm_xid = xid;
  reply.rm_direction = REPLY;
  reply.rm_reply.rp_stat = MSG_ACCEPTED;
  reply.acpted_rply.ar_verf = _null_auth;
  reply.acpted_rply.ar_stat = status;
  if (status == SUCCESS) {
    reply.acpted_rply.ar_results.where = static_cast<caddr_t>(const_cast<void*>(results));
    reply.acpted_rply.ar_results.proc = encode ? encode : reinterpret_cast<xdrproc_t>(xdr_void);
  } else if (status == PROG_MISMATCH) {
    reply.acpted_rply.ar_vers.low = DEVICE_CORE_VERSION;
    reply.acpted_rply.ar_vers.high = DEVICE_CORE_VERSION;
  }
  std::vector<char> buffer(kReplyHeaderBytes + resultBytes);
  XDR xdrs;
  xdrmem_create(&xdrs, buffer.data(), static_cast<u_int>(buffer.size()), XDR_ENCODE);
  if (!xdr_replymsg(&xdrs, &reply)) {
    xdr_destroy(&xdrs);
    return {};
  }
  const size_t length = xdr_getpos(&xdrs);
  xdr_destroy(&xdrs);
  return WithRecordMark(buffer.data(), length);
}

bool ServesDevice(const char* name) {
  std::string lower(name ? name : "");
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "inst0";
}

// The first answer's next bytes for one device_read: up to `requestSize`,
// up to and with the terminating character when the client set one.
void TakeAnswer(Vxi11Link& link, quint32 requestSize, bool termCharSet, char termChar,
                std::string* data, long* reason) {
  *reason = 0;
  data->clear();
  if (link.answers.empty()) return;
  std::string& answer = link.answers.front();
  size_t n = std::min<size_t>(requestSize, answer.size());
  if (termCharSet) {
    const size_t at = answer.find(termChar);
    if (at != std::string::npos && at < n) {
      n = at + 1;
      *reason |= DEVICE_REASON_CHR;
    }
  }
  data->assign(answer, 0, n);
  answer.erase(0, n);
  if (answer.empty()) {
    *reason |= DEVICE_REASON_END;
    link.answers.pop_front();
  } else if (n == requestSize) {
    *reason |= DEVICE_REASON_REQCNT;
  }
}

}  // namespace

// ---- running messages on a link ---------------------------------------------

// The procedures of the core and abort channels, with access to the
// connection's state. Each returns whether its reply went out (false: a read
// waits for its answer).
class Vxi11CallHandler {
 public:
  static bool Dispatch(Vxi11Connection& c, const QByteArray& record);

 private:
  template <typename Args, typename Result, typename Handler>
  static bool Serve(Vxi11Connection& c, quint32 xid, XDR* in, xdrproc_t decodeArgs,
                    xdrproc_t encodeResult, Handler handler);

  static Vxi11Link* OwnLink(Vxi11Connection& c, long lid);
  static void Receive(Vxi11Connection& c, Vxi11Link& link, const char* data, size_t size, bool end);
  static void RunMessages(Vxi11Server& server, Vxi11Link& link);
  static void Answer(Vxi11Link& link, std::string answer);
  static void HoldAnswer(Vxi11Server& server, Vxi11Link& link, std::string answer, bool dropAll,
                         int delayMs);
};

template <typename Args, typename Result, typename Handler>
bool Vxi11CallHandler::Serve(Vxi11Connection& c, quint32 xid, XDR* in, xdrproc_t decodeArgs,
                             xdrproc_t encodeResult, Handler handler) {
  Args args{};
  if (!decodeArgs(in, &args)) {
    xdr_free(decodeArgs, reinterpret_cast<char*>(&args));
    c.SendRecord(AcceptedReply(xid, GARBAGE_ARGS));
    return true;
  }
  Result result{};
  size_t resultBytes = 64;
  std::string data;  // the bytes a read result points at
  const bool answered = handler(args, result, data);
  xdr_free(decodeArgs, reinterpret_cast<char*>(&args));
  if (answered) {
    resultBytes += data.size();
    c.SendRecord(AcceptedReply(xid, SUCCESS, encodeResult, &result, resultBytes));
  }
  return answered;
}

Vxi11Link* Vxi11CallHandler::OwnLink(Vxi11Connection& c, long lid) {
  // A link is used on the channel that created it (the abort channel aside).
  if (std::find(c.links_.begin(), c.links_.end(), lid) == c.links_.end()) return nullptr;
  return c.server_.FindLink(lid);
}

void Vxi11CallHandler::Answer(Vxi11Link& link, std::string answer) {
  if (link.answers.size() >= kMaxUnreadAnswers) link.answers.pop_front();
  link.answers.push_back(std::move(answer));
  if (link.connection) link.connection->AnswerArrived(link);
}

// A slow answer: later messages of the link wait for it, as on the SCPI port.
void Vxi11CallHandler::HoldAnswer(Vxi11Server& server, Vxi11Link& link, std::string answer,
                                  bool dropAll, int delayMs) {
  link.busy = true;
  link.heldAnswer = std::move(answer);
  link.heldDropAll = dropAll;
  if (!link.busyTimer) {
    link.busyTimer = std::make_unique<QTimer>();
    link.busyTimer->setSingleShot(true);
    QObject::connect(link.busyTimer.get(), &QTimer::timeout, &server, [&server, lid = link.lid] {
      Vxi11Link* held = server.FindLink(lid);
      if (!held || !held->busy) return;
      held->busy = false;
      Answer(*held, std::exchange(held->heldAnswer, {}));
      if (held->heldDropAll) {
        server.DropAll();
        return;
      }
      RunMessages(server, *held);
    });
  }
  link.busyTimer->start(delayMs);
}

void Vxi11CallHandler::RunMessages(Vxi11Server& server, Vxi11Link& link) {
  while (!link.busy && !link.messages.empty()) {
    if (!link.connection) return;  // closing
    const std::string message = std::move(link.messages.front());
    link.messages.pop_front();
    if (server.LogTranscript()) link.connection->Log("<-", message);
    const ScpiSession::Outcome outcome = link.session.Execute(message);
    if (outcome.dropConnection) {
      if (server.LogTranscript()) link.connection->Log("--", "dropping the link (arranged fault)");
      link.connection->Close();
      return;
    }
    if (outcome.hasAnswer) {
      std::string answer = outcome.answer;
      if (server.LogTranscript()) link.connection->Log("->", answer);
      if (!outcome.noLineFeed) answer += '\n';
      if (outcome.delayMs > 0) {
        HoldAnswer(server, link, std::move(answer), outcome.dropAll, outcome.delayMs);
        return;
      }
      Answer(link, std::move(answer));
    }
    if (outcome.dropAll) {
      if (server.LogTranscript())
        link.connection->Log("--", "dropping every connection (arranged fault)");
      server.DropAll();
      return;
    }
  }
}

// Gathers written bytes into messages: a message ends at LF or with the END
// of the write that carries its last byte.
void Vxi11CallHandler::Receive(Vxi11Connection& c, Vxi11Link& link, const char* data, size_t size,
                               bool end) {
  ScpiInstrument& instrument = c.server_.Instrument();
  const auto complete = [&] {
    if (link.messages.size() < kMaxWaitingMessages)
      link.messages.push_back(std::exchange(link.inbox, {}));
    else
      instrument.Errors().Push(scpi_error::kInputBufferOverrun, "Input buffer overrun");
    link.inbox.clear();
  };
  std::string_view input(data, size);
  while (!input.empty()) {
    const size_t lf = input.find('\n');
    const std::string_view piece = input.substr(0, lf);
    if (link.discarding) {
      if (lf != std::string_view::npos) link.discarding = false;
    } else if (link.inbox.size() + piece.size() > static_cast<size_t>(kMaxMessageBytes)) {
      instrument.Errors().Push(scpi_error::kInputBufferOverrun, "Input buffer overrun");
      link.inbox.clear();
      link.discarding = lf == std::string_view::npos;
    } else {
      link.inbox.append(piece);
      if (lf != std::string_view::npos) complete();
    }
    input.remove_prefix(lf == std::string_view::npos ? input.size() : lf + 1);
  }
  if (end) {
    if (!link.inbox.empty()) complete();
    link.discarding = false;
  }
  RunMessages(c.server_, link);
}

bool Vxi11CallHandler::Dispatch(Vxi11Connection& c, const QByteArray& record) {
  XDR xdrs;
  xdrmem_create(&xdrs, const_cast<char*>(record.constData()), static_cast<u_int>(record.size()),
                XDR_DECODE);
  struct XdrCloser {
    XDR* x;
    ~XdrCloser() { xdr_destroy(x); }
  } closer{&xdrs};
  rpc_msg call{};
  char credentials[MAX_AUTH_BYTES];
  char verifier[MAX_AUTH_BYTES];
  call.rm_call.cb_cred.oa_base = credentials;
  call.rm_call.cb_verf.oa_base = verifier;
  if (!xdr_callmsg(&xdrs, &call) || call.rm_direction != CALL ||
      call.rm_call.cb_rpcvers != RPC_MSG_VERSION) {
    // Not an RPC call we can even answer: the peer speaks something else.
    c.Close();
    return true;
  }
  const quint32 xid = static_cast<quint32>(call.rm_xid);
  const u_long program = call.rm_call.cb_prog;
  const u_long procedure = call.rm_call.cb_proc;
  if (program != DEVICE_CORE && program != DEVICE_ASYNC) {
    c.SendRecord(AcceptedReply(xid, PROG_UNAVAIL));
    return true;
  }
  if (call.rm_call.cb_vers != DEVICE_CORE_VERSION) {
    c.SendRecord(AcceptedReply(xid, PROG_MISMATCH));
    return true;
  }
  if (procedure == NULLPROC) {  // rpcinfo's ping
    c.SendRecord(AcceptedReply(xid, SUCCESS));
    return true;
  }
  Vxi11Server& server = c.server_;
  const auto codec = [](auto function) { return reinterpret_cast<xdrproc_t>(function); };

  if (program == DEVICE_ASYNC) {
    if (procedure != device_abort) {
      c.SendRecord(AcceptedReply(xid, PROC_UNAVAIL));
      return true;
    }
    return Serve<Device_Link, Device_Error>(
        c, xid, &xdrs, codec(xdr_Device_Link), codec(xdr_Device_Error),
        [&](Device_Link& lid, Device_Error& result, std::string&) {
          Vxi11Link* link = server.FindLink(lid);
          if (!link) {
            result.error = DEVICE_ERR_INVALID_LINK;
            return true;
          }
          if (link->connection) link->connection->CancelWaitingRead(lid, DEVICE_ERR_ABORT);
          return true;
        });
  }

  // Procedures that only name the link and have nothing to do here.
  const auto genericNoOp = [&](Device_GenericParms& p, Device_Error& result, std::string&) {
    result.error = OwnLink(c, p.lid) ? DEVICE_ERR_NONE : DEVICE_ERR_INVALID_LINK;
    return true;
  };

  switch (procedure) {
    case create_link:
      return Serve<Create_LinkParms, Create_LinkResp>(
          c, xid, &xdrs, codec(xdr_Create_LinkParms), codec(xdr_Create_LinkResp),
          [&](Create_LinkParms& p, Create_LinkResp& result, std::string&) {
            if (!ServesDevice(p.device)) {
              result.error = DEVICE_ERR_NOT_ACCESSIBLE;
              return true;
            }
            Vxi11Link* link = server.CreateLink(&c);
            if (!link) {
              result.error = DEVICE_ERR_OUT_OF_RESOURCES;
              return true;
            }
            c.links_.push_back(link->lid);
            result.lid = link->lid;
            result.abortPort = server.Port();
            result.maxRecvSize = kVxi11MaxRecvSize;
            if (server.LogTranscript())
              c.Log("--", "link " + std::to_string(link->lid) + " to " + p.device);
            return true;
          });
    case device_write:
      return Serve<Device_WriteParms, Device_WriteResp>(
          c, xid, &xdrs, codec(xdr_Device_WriteParms), codec(xdr_Device_WriteResp),
          [&](Device_WriteParms& p, Device_WriteResp& result, std::string&) {
            Vxi11Link* link = OwnLink(c, p.lid);
            if (!link) {
              result.error = DEVICE_ERR_INVALID_LINK;
              return true;
            }
            result.size = p.data.data_len;
            Receive(c, *link, p.data.data_val, p.data.data_len, (p.flags & DEVICE_FLAG_END) != 0);
            return true;
          });
    case device_read: {
      return Serve<Device_ReadParms, Device_ReadResp>(
          c, xid, &xdrs, codec(xdr_Device_ReadParms), codec(xdr_Device_ReadResp),
          [&](Device_ReadParms& p, Device_ReadResp& result, std::string& data) {
            Vxi11Link* link = OwnLink(c, p.lid);
            if (!link) {
              result.error = DEVICE_ERR_INVALID_LINK;
              return true;
            }
            const bool termCharSet = (p.flags & DEVICE_FLAG_TERMCHRSET) != 0;
            if (!link->answers.empty() || p.io_timeout == 0) {
              if (link->answers.empty()) {
                result.error = DEVICE_ERR_IO_TIMEOUT;
                return true;
              }
              TakeAnswer(*link, static_cast<quint32>(p.requestSize), termCharSet, p.termChar, &data,
                         &result.reason);
              result.data.data_val = data.data();
              result.data.data_len = static_cast<u_int>(data.size());
              return true;
            }
            // Nothing to read yet: the reply goes out with the answer or at
            // the time-out.
            auto waiting = std::make_unique<Vxi11Connection::WaitingRead>();
            waiting->xid = xid;
            waiting->lid = p.lid;
            waiting->requestSize = static_cast<quint32>(p.requestSize);
            waiting->termCharSet = termCharSet;
            waiting->termChar = p.termChar;
            waiting->timer.setSingleShot(true);
            // A coarse timer may fire up to 5 % early: the time-out is a promise.
            waiting->timer.setTimerType(Qt::PreciseTimer);
            QObject::connect(&waiting->timer, &QTimer::timeout, &c,
                             [&c] { c.FinishWaitingRead(DEVICE_ERR_IO_TIMEOUT); });
            if (p.io_timeout <= kMaxTimerMs) waiting->timer.start(static_cast<int>(p.io_timeout));
            c.waiting_ = std::move(waiting);
            return false;
          });
    }
    case device_readstb:
      return Serve<Device_GenericParms, Device_ReadStbResp>(
          c, xid, &xdrs, codec(xdr_Device_GenericParms), codec(xdr_Device_ReadStbResp),
          [&](Device_GenericParms& p, Device_ReadStbResp& result, std::string&) {
            Vxi11Link* link = OwnLink(c, p.lid);
            if (!link) {
              result.error = DEVICE_ERR_INVALID_LINK;
              return true;
            }
            // IEEE 488.2 status byte: MAV (an answer waits), EAV (errors queued).
            result.stb = static_cast<u_char>((link->answers.empty() ? 0 : 0x10) |
                                             (server.Instrument().Errors().Size() ? 0x04 : 0));
            return true;
          });
    case device_clear:
      return Serve<Device_GenericParms, Device_Error>(
          c, xid, &xdrs, codec(xdr_Device_GenericParms), codec(xdr_Device_Error),
          [&](Device_GenericParms& p, Device_Error& result, std::string&) {
            Vxi11Link* link = OwnLink(c, p.lid);
            if (!link) {
              result.error = DEVICE_ERR_INVALID_LINK;
              return true;
            }
            // Device clear: input, unread answers and a held answer are gone.
            link->inbox.clear();
            link->discarding = false;
            link->messages.clear();
            link->answers.clear();
            link->busy = false;
            if (link->busyTimer) link->busyTimer->stop();
            if (server.LogTranscript()) c.Log("--", "device clear");
            return true;
          });
    case device_trigger:
    case device_remote:
    case device_local:
      return Serve<Device_GenericParms, Device_Error>(c, xid, &xdrs, codec(xdr_Device_GenericParms),
                                                      codec(xdr_Device_Error), genericNoOp);
    case device_lock:
      // One instrument, no exclusive access to guard: locking always succeeds.
      return Serve<Device_LockParms, Device_Error>(
          c, xid, &xdrs, codec(xdr_Device_LockParms), codec(xdr_Device_Error),
          [&](Device_LockParms& p, Device_Error& result, std::string&) {
            result.error = OwnLink(c, p.lid) ? DEVICE_ERR_NONE : DEVICE_ERR_INVALID_LINK;
            return true;
          });
    case device_unlock:
      return Serve<Device_Link, Device_Error>(
          c, xid, &xdrs, codec(xdr_Device_Link), codec(xdr_Device_Error),
          [&](Device_Link& lid, Device_Error& result, std::string&) {
            result.error = OwnLink(c, lid) ? DEVICE_ERR_NONE : DEVICE_ERR_INVALID_LINK;
            return true;
          });
    case device_enable_srq:
      return Serve<Device_EnableSrqParms, Device_Error>(
          c, xid, &xdrs, codec(xdr_Device_EnableSrqParms), codec(xdr_Device_Error),
          [&](Device_EnableSrqParms& p, Device_Error& result, std::string&) {
            result.error = OwnLink(c, p.lid) ? DEVICE_ERR_NONE : DEVICE_ERR_INVALID_LINK;
            return true;
          });
    case device_docmd:
      return Serve<Device_DocmdParms, Device_DocmdResp>(
          c, xid, &xdrs, codec(xdr_Device_DocmdParms), codec(xdr_Device_DocmdResp),
          [&](Device_DocmdParms&, Device_DocmdResp& result, std::string&) {
            result.error = DEVICE_ERR_NOT_SUPPORTED;
            return true;
          });
    case destroy_link:
      return Serve<Device_Link, Device_Error>(
          c, xid, &xdrs, codec(xdr_Device_Link), codec(xdr_Device_Error),
          [&](Device_Link& lid, Device_Error& result, std::string&) {
            if (!OwnLink(c, lid)) {
              result.error = DEVICE_ERR_INVALID_LINK;
              return true;
            }
            std::erase(c.links_, lid);
            server.DestroyLink(lid);
            if (server.LogTranscript()) c.Log("--", "link " + std::to_string(lid) + " closed");
            return true;
          });
    case create_intr_chan:
      // Service requests are not emulated: no interrupt channel.
      return Serve<Device_RemoteFunc, Device_Error>(
          c, xid, &xdrs, codec(xdr_Device_RemoteFunc), codec(xdr_Device_Error),
          [](Device_RemoteFunc&, Device_Error& result, std::string&) {
            result.error = DEVICE_ERR_NOT_SUPPORTED;
            return true;
          });
    case destroy_intr_chan: {
      Device_Error result{DEVICE_ERR_NO_CHANNEL};
      c.SendRecord(AcceptedReply(xid, SUCCESS, codec(xdr_Device_Error), &result));
      return true;
    }
    default:
      c.SendRecord(AcceptedReply(xid, PROC_UNAVAIL));
      return true;
  }
}

// ---- Vxi11Server --------------------------------------------------------------

Vxi11Server::Vxi11Server(ScpiInstrument& instrument, bool logTranscript, QObject* parent)
    : QObject(parent), instrument_(instrument), log_(logTranscript) {
  connect(&server_, &QTcpServer::newConnection, this, &Vxi11Server::OnNewConnection);
}

Vxi11Server::~Vxi11Server() {
  Unregister();
  // The connections destroy their links through us: before our members go.
  while (!connections_.empty()) delete connections_.back();
  links_.clear();
}

bool Vxi11Server::Listen(quint16 port, QString* error) {
  if (server_.listen(QHostAddress::Any, port)) return true;
  if (error)
    *error = QStringLiteral("cannot listen on TCP port %1 for VXI-11: %2")
                 .arg(port)
                 .arg(server_.errorString());
  return false;
}

bool Vxi11Server::Register(QString* error) {
  // pmap_set would wait out long RPC time-outs when nothing answers: make
  // sure rpcbind is there first.
  QTcpSocket probe;
  probe.connectToHost(QHostAddress::LocalHost, kPortmapperPort);
  if (!probe.waitForConnected(kRpcbindProbeMs)) {
    if (error)
      *error = QStringLiteral("rpcbind is not reachable on 127.0.0.1:%1 (%2)")
                   .arg(kPortmapperPort)
                   .arg(probe.errorString());
    return false;
  }
  probe.abort();
  const int port = Port();
  if (!pmap_set(DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP, port)) {
    // Another emulator (or one that died) holds the mapping: take it over.
    pmap_unset(DEVICE_CORE, DEVICE_CORE_VERSION);
    if (!pmap_set(DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP, port)) {
      if (error) *error = QStringLiteral("rpcbind refused to map DEVICE_CORE to our port");
      return false;
    }
  }
  registered_ = true;
  return true;
}

void Vxi11Server::Unregister() {
  if (!registered_) return;
  registered_ = false;
  // Only while the mapping is still ours: a later emulator may have taken it.
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (pmap_getport(&loopback, DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP) == Port())
    pmap_unset(DEVICE_CORE, DEVICE_CORE_VERSION);
}

void Vxi11Server::CloseAllConnections() {
  const std::vector<Vxi11Connection*> open = connections_;
  for (Vxi11Connection* connection : open) connection->Close();
}

void Vxi11Server::DropAll() {
  if (dropAll_)
    dropAll_();
  else
    CloseAllConnections();
}

void Vxi11Server::OnNewConnection() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    connections_.push_back(new Vxi11Connection(*this, socket, nextConnectionId_++));
  }
}

Vxi11Link* Vxi11Server::CreateLink(Vxi11Connection* connection) {
  if (links_.size() >= kVxi11MaxLinks) return nullptr;
  auto link = std::make_unique<Vxi11Link>(instrument_);
  link->lid = nextLid_++;
  link->connection = connection;
  Vxi11Link* raw = link.get();
  links_.emplace(raw->lid, std::move(link));
  return raw;
}

Vxi11Link* Vxi11Server::FindLink(long lid) {
  const auto it = links_.find(lid);
  return it == links_.end() ? nullptr : it->second.get();
}

void Vxi11Server::DestroyLink(long lid) { links_.erase(lid); }

// ---- Vxi11Connection ----------------------------------------------------------

Vxi11Connection::Vxi11Connection(Vxi11Server& server, QTcpSocket* socket, int id)
    : QObject(&server), server_(server), socket_(socket), id_(id) {
  socket_->setParent(this);
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  connect(socket_, &QTcpSocket::readyRead, this, &Vxi11Connection::OnReadyRead);
  connect(socket_, &QTcpSocket::disconnected, this, [this] {
    if (server_.LogTranscript()) Log("--", "disconnected");
    deleteLater();
  });
  if (server_.LogTranscript())
    Log("--", "VXI-11 connection from " + socket_->peerAddress().toString().toStdString());
}

Vxi11Connection::~Vxi11Connection() {
  std::erase(server_.connections_, this);
  waiting_.reset();
  // A link lives as long as the channel that created it.
  for (long lid : links_) server_.DestroyLink(lid);
}

void Vxi11Connection::Close() {
  if (closing_) return;
  closing_ = true;
  waiting_.reset();
  for (long lid : links_) {
    if (Vxi11Link* link = server_.FindLink(lid)) link->connection = nullptr;
  }
  socket_->abort();
  deleteLater();
}

void Vxi11Connection::OnReadyRead() {
  received_.append(socket_->readAll());
  // Record marking: each fragment is a 4-byte header (last-fragment bit,
  // length) and its bytes.
  while (received_.size() >= 4) {
    quint32 mark;
    std::memcpy(&mark, received_.constData(), 4);
    mark = ntohl(mark);
    const qsizetype length = static_cast<qsizetype>(mark & 0x7FFFFFFFu);
    if (record_.size() + length > kVxi11MaxRecordBytes) {
      if (server_.LogTranscript()) Log("--", "record too long, closing");
      Close();
      return;
    }
    if (received_.size() < 4 + length) break;
    record_.append(received_.constData() + 4, length);
    received_.remove(0, 4 + length);
    if (mark & 0x80000000u) records_.push_back(std::exchange(record_, {}));
    if (records_.size() > kVxi11MaxQueuedCalls) {
      if (server_.LogTranscript()) Log("--", "too many calls ahead of their answers, closing");
      Close();
      return;
    }
  }
  ProcessRecords();
}

void Vxi11Connection::ProcessRecords() {
  // Calls are answered in order; a read waiting for its answer holds up the
  // calls behind it, as a synchronous instrument channel does.
  while (!waiting_ && !records_.empty() && socket_->state() == QAbstractSocket::ConnectedState) {
    const QByteArray record = std::move(records_.front());
    records_.pop_front();
    Vxi11CallHandler::Dispatch(*this, record);
  }
}

void Vxi11Connection::SendRecord(const QByteArray& reply) {
  if (reply.isEmpty() || socket_->state() != QAbstractSocket::ConnectedState) return;
  socket_->write(reply);
  socket_->flush();
}

void Vxi11Connection::AnswerArrived(Vxi11Link& link) {
  if (waiting_ && waiting_->lid == link.lid) FinishWaitingRead(DEVICE_ERR_NONE);
}

void Vxi11Connection::CancelWaitingRead(long lid, long error) {
  if (waiting_ && waiting_->lid == lid) FinishWaitingRead(error);
}

void Vxi11Connection::FinishWaitingRead(long error) {
  if (!waiting_) return;
  const std::unique_ptr<WaitingRead> waiting = std::move(waiting_);
  Device_ReadResp result{};
  std::string data;
  Vxi11Link* link = server_.FindLink(waiting->lid);
  if (!link) {
    result.error = DEVICE_ERR_INVALID_LINK;
  } else if (error != DEVICE_ERR_NONE || link->answers.empty()) {
    result.error = error != DEVICE_ERR_NONE ? error : DEVICE_ERR_IO_TIMEOUT;
  } else {
    TakeAnswer(*link, waiting->requestSize, waiting->termCharSet, waiting->termChar, &data,
               &result.reason);
    result.data.data_val = data.data();
    result.data.data_len = static_cast<u_int>(data.size());
  }
  SendRecord(AcceptedReply(waiting->xid, SUCCESS, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp),
                           &result, data.size()));
  // The calls that came in behind the read, from the event loop rather than
  // from inside whatever ended the wait.
  QTimer::singleShot(0, this, &Vxi11Connection::ProcessRecords);
}

void Vxi11Connection::Log(const char* direction, std::string_view text) const {
  const size_t limit = std::min<size_t>(text.size(), 512);
  std::string shown = Printable(text.data(), limit);
  if (text.size() > limit) shown += "...";
  std::printf("[v%d] %s %s\n", id_, direction, shown.c_str());
  std::fflush(stdout);
}

}  // namespace emu
