// The VXI-11 port of the emulated lab: the core channel of a LAN instrument
// (ONC RPC program DEVICE_CORE 0x0607AF, version 1) on a TCP port of its own,
// serving the same instrument as the SCPI port, so that a VISA INSTR session
// ("TCPIP::host::INSTR") and SOCKET sessions can be open side by side. The
// abort channel (DEVICE_ASYNC) is answered on the same port.
//
// Everything runs on the Qt event-loop thread: each connection reads its
// record-marked RPC calls from a QTcpSocket, decodes them with libtirpc's XDR
// and the routines rpcgen made from vxi11.x, and answers when it can. A
// device_read that finds no answer yet (a slow *OPC?, a silent instrument)
// is answered later, at the answer or at its io_timeout, without holding up
// the other connections or the SCPI port.
//
// Registration with the machine's rpcbind is separate (Register): rpcbind maps
// one port per program, so only an emulator asked to (qarn-emu --vxi11) takes
// the mapping; the others are reached with the port given explicitly.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ScpiInstrument.h"

namespace emu {

// What create_link announces as the largest device_write we take in one call:
// the SCPI port's message cap, so both ports accept the same messages.
inline constexpr quint32 kVxi11MaxRecvSize = 16 * 1024;
// The largest RPC record accepted from a client; a larger one closes its
// connection instead of growing our memory.
inline constexpr qsizetype kVxi11MaxRecordBytes = 1024 * 1024;
// Calls a client may send ahead while a read of its waits for an answer.
inline constexpr size_t kVxi11MaxQueuedCalls = 64;
// Links open at once on the whole server (create_link answers "out of
// resources" beyond).
inline constexpr size_t kVxi11MaxLinks = 64;

class Vxi11Connection;
struct Vxi11Link;

class Vxi11Server : public QObject {
 public:
  Vxi11Server(ScpiInstrument& instrument, bool logTranscript, QObject* parent = nullptr);
  ~Vxi11Server() override;

  // Port 0 picks a free port; Port() tells which.
  bool Listen(quint16 port, QString* error);
  quint16 Port() const { return server_.serverPort(); }

  // Maps DEVICE_CORE version 1 over TCP to Port() in the machine's rpcbind,
  // taking the mapping over from an earlier emulator if one holds it. False
  // with the reason (rpcbind not running, registration refused) otherwise.
  // The mapping is removed again at destruction while it still names us.
  bool Register(QString* error);
  bool Registered() const { return registered_; }

  // Runs when an arranged fault drops every connection (EMULator commands):
  // the owner closes the SCPI port's connections and ours.
  void SetDropAllHandler(std::function<void()> handler) { dropAll_ = std::move(handler); }
  void CloseAllConnections();

  // ---- used by the connections ----
  ScpiInstrument& Instrument() { return instrument_; }
  bool LogTranscript() const { return log_; }
  // A new link for `connection`, or nullptr when too many are open.
  Vxi11Link* CreateLink(Vxi11Connection* connection);
  Vxi11Link* FindLink(long lid);
  void DestroyLink(long lid);
  void DropAll();

 private:
  friend class Vxi11Connection;
  void OnNewConnection();
  void Unregister();

  ScpiInstrument& instrument_;
  bool log_;
  QTcpServer server_;
  // Every connection alive, closing ones included (each removes itself).
  std::vector<Vxi11Connection*> connections_;
  std::map<long, std::unique_ptr<Vxi11Link>> links_;
  long nextLid_ = 1;
  int nextConnectionId_ = 1;
  bool registered_ = false;
  std::function<void()> dropAll_;
};

// One device link: an SCPI parser of its own (as a TCP connection has), the
// input gathered until a message ends, and the answers not yet read, each
// ending with END.
struct Vxi11Link {
  long lid = 0;
  QPointer<Vxi11Connection> connection;
  ScpiSession session;
  std::string inbox;                 // received, message not yet ended
  bool discarding = false;           // skipping the rest of an over-long message
  std::deque<std::string> messages;  // complete messages waiting for a held answer
  bool busy = false;                 // an answer is being held back (slow *OPC?)
  std::deque<std::string> answers;   // each read up to its end, END with the last byte
  std::string heldAnswer;            // released by busyTimer
  bool heldDropAll = false;          // ... and then every connection dropped
  std::unique_ptr<QTimer> busyTimer;

  explicit Vxi11Link(ScpiInstrument& instrument) : session(instrument) {}
};

class Vxi11Connection : public QObject {
 public:
  Vxi11Connection(Vxi11Server& server, QTcpSocket* socket, int id);
  ~Vxi11Connection() override;
  void Close();
  // A link of this connection has a new answer: a read waiting for it ends.
  void AnswerArrived(Vxi11Link& link);
  // The link is going away: a read waiting on it ends with `error`.
  void CancelWaitingRead(long lid, long error);
  void Log(const char* direction, std::string_view text) const;

 private:
  struct WaitingRead {
    quint32 xid = 0;
    long lid = 0;
    quint32 requestSize = 0;
    bool termCharSet = false;
    char termChar = 0;
    QTimer timer;
  };

  void OnReadyRead();
  void ProcessRecords();
  // Decodes and answers one RPC call; false when it left a read waiting.
  bool Dispatch(const QByteArray& record);
  void SendRecord(const QByteArray& reply);
  void FinishWaitingRead(long error);

  Vxi11Server& server_;
  QTcpSocket* socket_;
  int id_;
  QByteArray received_;             // bytes not yet parsed into records
  QByteArray record_;               // fragments of the record being gathered
  std::deque<QByteArray> records_;  // complete records not yet answered
  std::unique_ptr<WaitingRead> waiting_;
  std::vector<long> links_;  // links created on this connection
  bool closing_ = false;
  friend class Vxi11CallHandler;
};

}  // namespace emu
