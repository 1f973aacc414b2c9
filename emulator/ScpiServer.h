// The SCPI port of the emulated lab: a TCP server whose connections all talk
// to one instrument, as several sessions may reach one real instrument.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <vector>

#include "ScpiInstrument.h"

namespace emu {

// The longest message accepted. The longest the station sends (a waypoint
// file command) is far below; the cap bounds what a client that never sends
// LF can make us hold.
inline constexpr qsizetype kMaxMessageBytes = 16 * 1024;
// Answers waiting for a client that does not read them: past this much the
// connection takes no further message in until they have gone out.
inline constexpr qint64 kMaxPendingAnswerBytes = 1024 * 1024;

class ScpiConnection;

class ScpiServer : public QObject {
 public:
  ScpiServer(ScpiInstrument& instrument, bool logTranscript, QObject* parent = nullptr);
  ~ScpiServer() override;
  // Port 0 picks a free port; Port() tells which.
  bool Listen(quint16 port, QString* error);
  quint16 Port() const { return server_.serverPort(); }
  void CloseAllConnections();

 private:
  void OnNewConnection();

  ScpiInstrument& instrument_;
  bool log_;
  QTcpServer server_;
  std::vector<QPointer<ScpiConnection>> connections_;
  int nextId_ = 1;
};

class ScpiConnection : public QObject {
 public:
  ScpiConnection(ScpiServer& server, ScpiInstrument& instrument, QTcpSocket* socket, int id,
                 bool logTranscript);
  void Close();

 private:
  void OnReadyRead();
  void Pump();
  bool Backlogged() const { return socket_->bytesToWrite() >= kMaxPendingAnswerBytes; }
  void Handle(const QByteArray& message);
  void Send(const std::string& answer, bool lineFeed = true);
  void Log(const char* direction, const QByteArray& text) const;

  ScpiServer& server_;
  ScpiInstrument& instrument_;
  ScpiSession session_;
  QTcpSocket* socket_;
  int id_;
  bool log_;
  QByteArray inbox_;
  bool discarding_ = false;  // skipping the rest of an over-long message
  bool busy_ = false;        // an answer is being held back (slow *OPC?)
};

}  // namespace emu
