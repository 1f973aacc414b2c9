#include "ScpiServer.h"

#include <QTimer>
#include <cstdio>

namespace emu {

ScpiServer::ScpiServer(ScpiInstrument& instrument, bool logTranscript, QObject* parent)
    : QObject(parent), instrument_(instrument), log_(logTranscript) {
  connect(&server_, &QTcpServer::newConnection, this, &ScpiServer::OnNewConnection);
}

ScpiServer::~ScpiServer() { CloseAllConnections(); }

bool ScpiServer::Listen(quint16 port, QString* error) {
  if (server_.listen(QHostAddress::Any, port)) return true;
  if (error)
    *error =
        QStringLiteral("cannot listen on TCP port %1: %2").arg(port).arg(server_.errorString());
  return false;
}

void ScpiServer::CloseAllConnections() {
  for (auto& connection : connections_) {
    if (connection) connection->Close();
  }
  connections_.clear();
}

void ScpiServer::OnNewConnection() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    std::erase_if(connections_, [](const auto& c) { return c.isNull(); });
    auto* connection = new ScpiConnection(*this, instrument_, socket, nextId_++, log_);
    connections_.emplace_back(connection);
  }
}

ScpiConnection::ScpiConnection(ScpiServer& server, ScpiInstrument& instrument, QTcpSocket* socket,
                               int id, bool logTranscript)
    : QObject(&server),
      server_(server),
      instrument_(instrument),
      session_(instrument),
      socket_(socket),
      id_(id),
      log_(logTranscript) {
  socket_->setParent(this);
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  // Qt stops reading from the kernel once this much waits unprocessed, so a
  // flooding client is slowed down by TCP instead of filling our memory.
  socket_->setReadBufferSize(4 * kMaxMessageBytes);
  connect(socket_, &QTcpSocket::readyRead, this, &ScpiConnection::OnReadyRead);
  // A client that sends queries and never reads the answers is slowed down
  // the same way: reading resumes once its answers have gone out.
  connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
    if (!Backlogged()) OnReadyRead();
  });
  connect(socket_, &QTcpSocket::disconnected, this, [this] {
    if (log_) Log("--", "disconnected");
    deleteLater();
  });
  if (log_) Log("--", "connected from " + socket_->peerAddress().toString().toUtf8());
}

void ScpiConnection::Close() {
  socket_->abort();
  deleteLater();
}

void ScpiConnection::OnReadyRead() {
  if (busy_ || Backlogged()) return;  // read on when the answers have gone out
  const qsizetype room = 2 * kMaxMessageBytes - inbox_.size();
  QByteArray data = socket_->read(std::max<qsizetype>(room, 1));
  if (discarding_) {
    const qsizetype lf = data.indexOf('\n');
    if (lf < 0)
      data.clear();
    else {
      data.remove(0, lf + 1);
      discarding_ = false;
    }
  }
  inbox_.append(data);
  Pump();
  if (!busy_ && !Backlogged() && socket_->bytesAvailable() > 0) {
    QTimer::singleShot(0, this, &ScpiConnection::OnReadyRead);
  }
}

void ScpiConnection::Pump() {
  while (!busy_ && !Backlogged() && socket_->state() == QAbstractSocket::ConnectedState) {
    const qsizetype lf = inbox_.indexOf('\n');
    if (lf < 0) {
      if (inbox_.size() > kMaxMessageBytes) {
        instrument_.Errors().Push(scpi_error::kInputBufferOverrun, "Input buffer overrun");
        inbox_.clear();
        discarding_ = true;
      }
      return;
    }
    const QByteArray message = inbox_.left(lf);
    inbox_.remove(0, lf + 1);
    if (message.size() > kMaxMessageBytes) {
      instrument_.Errors().Push(scpi_error::kInputBufferOverrun, "Input buffer overrun");
      continue;
    }
    Handle(message);
  }
}

void ScpiConnection::Handle(const QByteArray& message) {
  if (log_) Log("<-", message);
  const ScpiSession::Outcome outcome =
      session_.Execute(std::string_view(message.constData(), static_cast<size_t>(message.size())));
  if (outcome.dropConnection) {
    if (log_) Log("--", "dropping the connection (arranged fault)");
    Close();
    return;
  }
  if (outcome.hasAnswer) {
    if (outcome.delayMs > 0) {
      busy_ = true;
      QTimer::singleShot(outcome.delayMs, this,
                         [this, answer = outcome.answer, dropAll = outcome.dropAll,
                          lineFeed = !outcome.noLineFeed] {
                           Send(answer, lineFeed);
                           busy_ = false;
                           if (dropAll) {
                             server_.CloseAllConnections();
                             return;
                           }
                           Pump();
                           OnReadyRead();
                         });
      return;
    }
    Send(outcome.answer, !outcome.noLineFeed);
  }
  if (outcome.dropAll) {
    if (log_) Log("--", "dropping every connection (arranged fault)");
    socket_->flush();
    server_.CloseAllConnections();
  }
}

void ScpiConnection::Send(const std::string& answer, bool lineFeed) {
  if (socket_->state() != QAbstractSocket::ConnectedState) return;
  QByteArray bytes(answer.data(), static_cast<qsizetype>(answer.size()));
  if (log_) Log("->", bytes);
  if (lineFeed) bytes.append('\n');
  socket_->write(bytes);
  socket_->flush();
}

void ScpiConnection::Log(const char* direction, const QByteArray& text) const {
  // Non-printable bytes are shown as \xHH so that the transcript stays one
  // line per message.
  const qsizetype limit = std::min<qsizetype>(text.size(), 512);
  std::string shown = Printable(text.constData(), static_cast<std::size_t>(limit));
  if (text.size() > limit) shown += "...";
  std::printf("[%d] %s %s\n", id_, direction, shown.c_str());
  std::fflush(stdout);
}

}  // namespace emu
