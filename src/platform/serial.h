// Serial ports: the receiver's COM port as a small handle API over the
// platform's serial driver. Port numbers name entries of the COM directory:
// port n is the entry "COM<n>" of the folder given by GNSS_COM_DIR (default
// "COM" in the working directory), a symbolic link to a real device or to a
// pseudo-terminal. Both open alike.
//
// Every call that fails leaves an errno-style code for SerialLastError (ENOENT
// for a missing entry or device, EACCES, EBUSY, EIO, EBADF for a handle that
// is not open, ...).
#pragma once

#include <cstddef>
#include <string>

inline constexpr int kInvalidSerialHandle = -1;

// Received bytes an open port keeps until they are read (about 18 minutes of
// a receiver at 9,600 baud); beyond it the port stops taking bytes in.
inline constexpr std::size_t kSerialReadBufferBytes = 1u << 20;

// Line settings. The XON/XOFF fields are kept for the driver's software flow
// control characters; the limit has no meaning on Linux and is only recorded.
struct SerialState {
  int baudRate = 9600;
  int dataBits = 8;
  int parity = 0;    // 0 none, 1 odd, 2 even
  int stopBits = 1;  // 1 or 2
  bool dtrEnable = true;
  int xoffLimit = 0;
  char xonChar = 0x11;
  char xoffChar = 0x13;
};

// Purge actions, combinable.
inline constexpr int kSerialPurgeReceive = 1;
inline constexpr int kSerialPurgeTransmit = 2;
inline constexpr int kSerialPurgeBoth = kSerialPurgeReceive | kSerialPurgeTransmit;

// The folder holding the COM<n> entries (GNSS_COM_DIR or "COM").
std::string SerialComDirectory();

// Opens port `comNumber` (read and write); returns a handle > 0 or
// kInvalidSerialHandle.
int SerialOpenCom(int comNumber);
// Opens a device path directly (a pseudo-terminal in the tests).
int SerialOpenPath(const char* path);

// 1 on success, 0 on failure (see SerialLastError).
int SerialGetState(int handle, SerialState* state);
int SerialSetState(int handle, const SerialState& state);
// A read returns after at most `readMilliseconds` with what has arrived, or as
// soon as the requested count is there. A write waits for the driver to take
// the bytes for at most writePerByte * count + writeConstant milliseconds.
int SerialSetTimeouts(int handle, int readMilliseconds, int writePerByteMilliseconds,
                      int writeConstantMilliseconds);

// Reads up to `capacity` bytes within the read time-out. Returns 1 with the
// count in *bytesRead (0 when nothing arrived), 0 when the port failed (for
// instance the device went away).
int SerialRead(int handle, char* data, std::size_t capacity, std::size_t* bytesRead);
// Writes `count` bytes. A time-out with bytes still pending is not a failure
// (they stay queued); a driver error is.
int SerialWrite(int handle, const void* data, std::size_t count);
// Discards unread input and/or unsent output.
int SerialPurge(int handle, int actions);
// Waits until queued output has been handed to the device.
int SerialDrain(int handle);
int SerialClose(int handle);

int SerialLastError();
// What the last open tried: the COM entry with its link target ("COM/COM5 ->
// /dev/ttyUSB0") or the device path, for a message beside the error code.
const std::string& SerialLastPath();
