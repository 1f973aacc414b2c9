#include "receiver/ReceiverLink.h"

#include <string>

#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/stdio.h"
#include "receiver/ReceiverProfile.h"
#include "report/ProgressLog.h"
#include "text/CText.h"

int ReceiverPort = kInvalidSerialHandle;

namespace {

constexpr double kMessagePauseSeconds = 0.1;
constexpr double kAfterOpenSeconds = 1.0;
constexpr double kAfterInitSeconds = 3.0;

const ReceiverProfile& SelectedProfile() {
  static const ReceiverProfile kNone;
  if (SelectedReceiverType < 0 || SelectedReceiverType >= kReceiverTypeCapacity) return kNone;
  return ReceiverProfiles[SelectedReceiverType];
}

// Steps after the open: line settings, time-outs, purge and the settling wait.
int ConfigureReceiverPort();

// The commands sent out, time for the receiver to act on them, and its
// answers dropped (they are not NMEA). Returns 1.
int SettleAfterCommands(const char* doneMessage) {
  SerialDrain(ReceiverPort);
  WaitSeconds(kAfterInitSeconds);
  SerialPurge(ReceiverPort, kSerialPurgeBoth);
  LogStatus(doneMessage);
  return 1;
}

}  // namespace

int OpenReceiverPort(int comPort) {
  // A port left open by an earlier run would keep its device locked.
  CloseReceiverPort();

  const int first = comPort != 0 ? comPort : kFirstScannedComPort;
  const int last = comPort != 0 ? comPort : kLastScannedComPort;
  for (int n = first; n <= last; ++n) {
    LogStatus(FormatC("Trying connection to COM port %d... \n", n).c_str());
    ReceiverPort = SerialOpenCom(n);
    if (ReceiverPort != kInvalidSerialHandle) break;
    LogStatus("Failed\n");
    if (n == kLastScannedComPort) return -2;
  }

  // With the one chosen port absent the steps below run on no port and fail.
  return ConfigureReceiverPort();
}

int OpenReceiverPortPath(const char* path) {
  CloseReceiverPort();
  LogStatus(("Trying connection to " + std::string(path ? path : "") + "... \n").c_str());
  ReceiverPort = SerialOpenPath(path);
  if (ReceiverPort == kInvalidSerialHandle) {
    LogStatus("Failed\n");
    return -2;
  }
  return ConfigureReceiverPort();
}

namespace {

int ConfigureReceiverPort() {
  SerialState state;
  if (!SerialGetState(ReceiverPort, &state))
    StdPrintf("GetCommState failed with error %d.\n", SerialLastError());
  SerialGetState(ReceiverPort, &state);

  state.baudRate = 9600;
  state.dataBits = 8;
  state.parity = 0;
  state.stopBits = 1;
  state.dtrEnable = true;
  state.xoffLimit = kReceiverXoffLimit;
  state.xonChar = 0x11;
  state.xoffChar = 0x13;
  if (!SerialSetState(ReceiverPort, state)) {
    StdPrintf("SetCommState failed with error %d.\n", SerialLastError());
    return -1;
  }
  if (!SerialSetTimeouts(ReceiverPort, kReceiverReadMilliseconds, kReceiverWritePerByteMilliseconds,
                         kReceiverWriteConstantMilliseconds)) {
    StdPrintf("Error setting time-outs. %d.\n", SerialLastError());
    return -1;
  }
  SerialPurge(ReceiverPort, kSerialPurgeBoth);
  WaitSeconds(kAfterOpenSeconds);
  LogStatus("Successful.\n");
  return 0;
}

}  // namespace

void CloseReceiverPort() {
  if (ReceiverPort != kInvalidSerialHandle) SerialClose(ReceiverPort);
  ReceiverPort = kInvalidSerialHandle;
}

int SendHexCommands(std::string_view text) {
  int result = 1;
  for (const HexMessage& message : SplitHexCommands(text)) {
    if (!SerialWrite(ReceiverPort, message.bytes.data(), message.bytes.size())) result = 0;
    if (message.endedBySemicolon) WaitSeconds(kMessagePauseSeconds);
  }
  return result;
}

int InitReceiver(int glonassSatellites) {
  const ReceiverProfile& profile = SelectedProfile();
  SerialPurge(ReceiverPort, kSerialPurgeBoth);
  int initSent;
  if (glonassSatellites > 0) {
    LogStatus("Sending GLONASS INIT command to receiver...\n");
    initSent = SendHexCommands(profile.glonassInit);
  } else {
    LogStatus("Sending GPS INIT command to receiver...\n");
    initSent = SendHexCommands(profile.gpsInit);
  }
  LogStatus("Sending Cold start command to receiver...\n");
  const int coldSent = SendHexCommands(profile.coldStart);
  LogStatus("Sending additional defined commands to receiver...\n");
  const int extraSent = SendHexCommands(profile.extraCommands);
  if (!initSent || !coldSent || !extraSent) {
    LogStatus("Error during sending INIT commands to receiver.\n");
    return 0;
  }
  return SettleAfterCommands("Receiver Initialized.\n");
}

int HotStartReceiver() {
  LogStatus("Performing receiver HOT start...\n");
  SerialPurge(ReceiverPort, kSerialPurgeBoth);
  if (!SerialWrite(ReceiverPort, kHotStartCommand, sizeof kHotStartCommand)) {
    LogStatus("HOT Start Failed.\n");
    return 0;
  }
  return SettleAfterCommands("HOT Start Initialized.\n");
}
