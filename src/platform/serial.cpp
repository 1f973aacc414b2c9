#include "platform/serial.h"

#include <termios.h>

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "platform/waits.h"

namespace {

struct OpenPort {
  QSerialPort port;
  std::string name;  // the COM entry or the device path, for the wait hook
  int readMilliseconds = 25;
  int writePerByteMilliseconds = 10;
  int writeConstantMilliseconds = 10;
  int xoffLimit = 0;
};

std::map<int, std::unique_ptr<OpenPort>>& Ports() {
  static std::map<int, std::unique_ptr<OpenPort>> ports;
  return ports;
}

int lastError = 0;
std::string lastPath;
int nextHandle = 1;

// The driver's error as an errno value, so callers print one kind of code.
int ErrnoOf(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::NoError:
      return 0;
    case QSerialPort::DeviceNotFoundError:
      return ENOENT;
    case QSerialPort::PermissionError:
      return EACCES;
    case QSerialPort::OpenError:
      return EBUSY;
    case QSerialPort::UnsupportedOperationError:
      return EINVAL;
    case QSerialPort::TimeoutError:
      return ETIMEDOUT;
    case QSerialPort::NotOpenError:
      return EBADF;
    default:
      return EIO;
  }
}

int Fail(int code) {
  lastError = code;
  return 0;
}

OpenPort* Find(int handle) {
  auto it = Ports().find(handle);
  if (it == Ports().end() || !it->second->port.isOpen()) return nullptr;
  return it->second.get();
}

// A wait for the port's output: one slice when waits are sliced (the user
// interface has its turn between slices, platform/waits.h), else all of it.
int SliceOf(qint64 remaining) {
  return static_cast<int>(WaitSliced() ? std::min<qint64>(remaining, kWaitSliceMs) : remaining);
}
// True when a wait of `remaining` ms was cut short by slicing.
bool Sliced(qint64 remaining) { return WaitSliced() && remaining > kWaitSliceMs; }

QSerialPort::Parity ParityOf(int parity) {
  switch (parity) {
    case 1:
      return QSerialPort::OddParity;
    case 2:
      return QSerialPort::EvenParity;
    default:
      return QSerialPort::NoParity;
  }
}

}  // namespace

std::string SerialComDirectory() {
  const char* dir = std::getenv("GNSS_COM_DIR");
  return (dir && *dir) ? std::string(dir) : std::string("COM");
}

int SerialOpenCom(int comNumber) {
  const std::filesystem::path entry =
      std::filesystem::path(SerialComDirectory()) / ("COM" + std::to_string(comNumber));
  std::error_code ec;
  std::string described = entry.string();
  if (const auto link = std::filesystem::read_symlink(entry, ec); !ec)
    described += " -> " + link.string();
  // The entry is normally a link; the driver opens what it points to.
  const std::filesystem::path target = std::filesystem::canonical(entry, ec);
  if (ec) {
    lastError = ec.value() ? ec.value() : ENOENT;
    lastPath = described;
    return kInvalidSerialHandle;
  }
  const int handle = SerialOpenPath(target.c_str());
  lastPath = described;
  if (handle != kInvalidSerialHandle) Ports()[handle]->name = "COM" + std::to_string(comNumber);
  return handle;
}

int SerialOpenPath(const char* path) {
  lastPath = path ? path : "";
  if (!path || !*path) {
    lastError = ENOENT;
    return kInvalidSerialHandle;
  }
  auto open = std::make_unique<OpenPort>();
  open->name = path;
  open->port.setPortName(QString::fromLocal8Bit(path));
  // Qt reads the device whenever events run and, by default, keeps all of it.
  // A device that floods the port while nobody reads (a pseudo-terminal has
  // no baud rate) would fill memory; past this Qt stops reading and the
  // device's own buffers hold or drop the rest.
  open->port.setReadBufferSize(kSerialReadBufferBytes);
  if (!open->port.open(QIODevice::ReadWrite)) {
    lastError = ErrnoOf(open->port.error());
    if (lastError == 0) lastError = EIO;
    return kInvalidSerialHandle;
  }
  const int handle = nextHandle++;
  Ports()[handle] = std::move(open);
  lastError = 0;
  return handle;
}

int SerialGetState(int handle, SerialState* state) {
  OpenPort* p = Find(handle);
  if (!p || !state) return Fail(EBADF);
  termios tio{};
  if (tcgetattr(p->port.handle(), &tio) != 0) return Fail(errno);
  state->baudRate = p->port.baudRate();
  state->dataBits = p->port.dataBits();
  state->parity = p->port.parity() == QSerialPort::OddParity    ? 1
                  : p->port.parity() == QSerialPort::EvenParity ? 2
                                                                : 0;
  state->stopBits = p->port.stopBits() == QSerialPort::TwoStop ? 2 : 1;
  state->dtrEnable = p->port.isDataTerminalReady();
  state->xoffLimit = p->xoffLimit;
  state->xonChar = static_cast<char>(tio.c_cc[VSTART]);
  state->xoffChar = static_cast<char>(tio.c_cc[VSTOP]);
  return 1;
}

int SerialSetState(int handle, const SerialState& state) {
  OpenPort* p = Find(handle);
  if (!p) return Fail(EBADF);
  QSerialPort& port = p->port;
  port.clearError();
  const bool ok =
      port.setBaudRate(state.baudRate) &&
      port.setDataBits(static_cast<QSerialPort::DataBits>(state.dataBits)) &&
      port.setParity(ParityOf(state.parity)) &&
      port.setStopBits(state.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
      port.setFlowControl(QSerialPort::NoFlowControl);
  if (!ok) {
    const int code = ErrnoOf(port.error());
    port.clearError();
    return Fail(code ? code : EINVAL);
  }
  // A pseudo-terminal has no modem lines: DTR is best effort.
  port.setDataTerminalReady(state.dtrEnable);
  port.clearError();
  // The flow-control characters go to the line discipline; the limit has no
  // counterpart here (software flow control stays off, as before).
  termios tio{};
  if (tcgetattr(port.handle(), &tio) != 0) return Fail(errno);
  tio.c_cc[VSTART] = static_cast<cc_t>(state.xonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(state.xoffChar);
  if (tcsetattr(port.handle(), TCSANOW, &tio) != 0) return Fail(errno);
  p->xoffLimit = state.xoffLimit;
  return 1;
}

int SerialSetTimeouts(int handle, int readMilliseconds, int writePerByteMilliseconds,
                      int writeConstantMilliseconds) {
  OpenPort* p = Find(handle);
  if (!p) return Fail(EBADF);
  if (readMilliseconds < 0 || writePerByteMilliseconds < 0 || writeConstantMilliseconds < 0)
    return Fail(EINVAL);
  p->readMilliseconds = readMilliseconds;
  p->writePerByteMilliseconds = writePerByteMilliseconds;
  p->writeConstantMilliseconds = writeConstantMilliseconds;
  return 1;
}

int SerialRead(int handle, char* data, std::size_t capacity, std::size_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  OpenPort* p = Find(handle);
  if (!p || !data || !bytesRead) return Fail(EBADF);
  QSerialPort& port = p->port;
  port.clearError();
  QDeadlineTimer deadline(p->readMilliseconds);
  std::size_t total = 0;
  // Like a read with a total time-out: gather until the count is there or the
  // time is up, whichever comes first.
  while (total < capacity) {
    if (port.bytesAvailable() > 0) {
      const qint64 n = port.read(data + total, static_cast<qint64>(capacity - total));
      if (n < 0) {
        const int code = ErrnoOf(port.error());
        return Fail(code ? code : EIO);
      }
      total += static_cast<std::size_t>(n);
      continue;
    }
    const qint64 remaining = deadline.remainingTime();
    if (remaining <= 0) break;
    if (!port.waitForReadyRead(static_cast<int>(remaining))) {
      const QSerialPort::SerialPortError error = port.error();
      if (error == QSerialPort::TimeoutError || error == QSerialPort::NoError) {
        port.clearError();
        if (deadline.hasExpired()) break;
        continue;
      }
      *bytesRead = total;
      port.clearError();
      return Fail(ErrnoOf(error));
    }
  }
  *bytesRead = total;
  return 1;
}

int SerialWrite(int handle, const void* data, std::size_t count) {
  OpenPort* p = Find(handle);
  if (!p) return Fail(EBADF);
  if (count == 0) return 1;
  if (!data) return Fail(EINVAL);
  QSerialPort& port = p->port;
  port.clearError();
  const qint64 n = port.write(static_cast<const char*>(data), static_cast<qint64>(count));
  if (n != static_cast<qint64>(count)) {
    const int code = ErrnoOf(port.error());
    port.clearError();
    return Fail(code ? code : EIO);
  }
  QDeadlineTimer deadline(static_cast<qint64>(p->writePerByteMilliseconds) *
                              static_cast<qint64>(count) +
                          p->writeConstantMilliseconds);
  const ScopedWait named(WaitSubject::kSerialPort, p->name);
  while (port.bytesToWrite() > 0) {
    const qint64 remaining = deadline.remainingTime();
    if (remaining <= 0) break;  // still queued: a short write goes unnoticed, as ever
    if (!port.waitForBytesWritten(SliceOf(remaining))) {
      const QSerialPort::SerialPortError error = port.error();
      port.clearError();
      if (error == QSerialPort::TimeoutError || error == QSerialPort::NoError) {
        if (Sliced(remaining) && !WaitTick()) continue;
        break;
      }
      return Fail(ErrnoOf(error));
    }
  }
  return 1;
}

int SerialPurge(int handle, int actions) {
  OpenPort* p = Find(handle);
  if (!p) return Fail(EBADF);
  QSerialPort::Directions directions;
  if (actions & kSerialPurgeReceive) directions |= QSerialPort::Input;
  if (actions & kSerialPurgeTransmit) directions |= QSerialPort::Output;
  if (!directions) return 1;
  if (!p->port.clear(directions)) {
    const int code = ErrnoOf(p->port.error());
    p->port.clearError();
    return Fail(code ? code : EIO);
  }
  return 1;
}

int SerialDrain(int handle) {
  OpenPort* p = Find(handle);
  if (!p) return Fail(EBADF);
  QSerialPort& port = p->port;
  port.clearError();
  // Bounded by the write time-outs: a stalled line must not hang the station.
  QDeadlineTimer deadline(static_cast<qint64>(p->writePerByteMilliseconds) *
                              (port.bytesToWrite() + 1) +
                          p->writeConstantMilliseconds);
  const ScopedWait named(WaitSubject::kSerialPort, p->name);
  while (port.bytesToWrite() > 0) {
    const qint64 remaining = deadline.remainingTime();
    if (remaining <= 0) return Fail(ETIMEDOUT);
    if (!port.waitForBytesWritten(SliceOf(remaining))) {
      const QSerialPort::SerialPortError error = port.error();
      port.clearError();
      const bool timedOut = error == QSerialPort::NoError || error == QSerialPort::TimeoutError;
      if (timedOut && Sliced(remaining) && !WaitTick()) continue;
      return Fail(timedOut ? ETIMEDOUT : ErrnoOf(error));
    }
  }
  return 1;
}

int SerialClose(int handle) {
  auto it = Ports().find(handle);
  if (it == Ports().end()) return Fail(EBADF);
  it->second->port.close();
  Ports().erase(it);
  return 1;
}

int SerialLastError() { return lastError; }

const std::string& SerialLastPath() { return lastPath; }
