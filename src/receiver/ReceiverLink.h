// The serial link to the receiver under test: the port, the command texts of
// the receiver profiles, initialisation and hot start.
#pragma once

#include <string_view>

#include "receiver/HexCommands.h"

// The one open serial handle to the receiver, valid from a successful
// OpenReceiverPort until CloseReceiverPort.
extern int ReceiverPort;

// Read time of one port read (ms), and the per-byte and constant write
// time-outs (ms).
inline constexpr int kReceiverReadMilliseconds = 25;
inline constexpr int kReceiverWritePerByteMilliseconds = 10;
inline constexpr int kReceiverWriteConstantMilliseconds = 10;
inline constexpr int kFirstScannedComPort = 2;
inline constexpr int kLastScannedComPort = 29;
// XOFF limit the receiver port has always been configured with.
inline constexpr int kReceiverXoffLimit = 65520;

// Opens port `comPort` (the operator's MAIN_COMPORT, read by the caller; 0:
// the first of COM2..COM29 that opens) as ReceiverPort, 9,600 baud 8N1.
// Returns 0 when open and configured, -1 when the configuration failed (also
// when the one chosen port is absent), -2 when no port of the scan opened.
int OpenReceiverPort(int comPort);
// Opens a device by its path (a port outside the COM directory, such as
// /dev/ttyUSB0) as ReceiverPort and configures it like OpenReceiverPort.
// Returns 0 when open and configured, -1 when the configuration failed, -2
// when the device could not be opened.
int OpenReceiverPortPath(const char* path);
// Closes ReceiverPort (if open) and marks it closed.
void CloseReceiverPort();

// Writes each message with one write (an empty one writes nothing), pausing
// 0.1 s after each ";". Returns 1 when every write succeeded, else 0; a failed
// write does not stop the rest.
int SendHexCommands(std::string_view text);

// Sends the selected profile's GLONASS (glonassSatellites > 0) or GPS init
// text, its cold-start text and its additional commands. 1 when all went out.
int InitReceiver(int glonassSatellites);
// Writes the 12-byte hot-start message. 1 when written.
int HotStartReceiver();

// The hot-start message: a reset that keeps all aiding data (controlled
// software reset of the GNSS part only).
inline constexpr unsigned char kHotStartCommand[12] = {0xB5, 0x62, 0x06, 0x04, 0x04, 0x00,
                                                       0x00, 0x00, 0x02, 0x00, 0x10, 0x68};
