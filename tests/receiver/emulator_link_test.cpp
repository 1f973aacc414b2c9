// The receiver link against the virtual receiver of qarn-emu: open the port
// through the COM directory, initialise, wait for a fix, follow the stream,
// and lose the port. Skipped when qarn-emu is not built.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pty_pair.h"
#include "receiver/FixAcquisition.h"
#include "receiver/ReceiverLink.h"
#include "receiver/ReceiverProfile.h"
#include "support/EmulatorProcess.h"
#include "support/Loopback.h"

namespace {

// Sends SCPI commands to the emulator and waits for each to complete.
bool Scpi(int port, const std::vector<std::string>& commands) {
  LoopbackLineClient client(port);
  bool ok = client.IsOpen();
  for (const std::string& command : commands) {
    ok = ok && client.Send(command + ";*OPC?\n") && client.ReadLine(10.0) == "1";
  }
  return ok;
}

TEST(EmulatedReceiver, InitialiseWaitFollowAndLoseThePort) {
  const std::string emulator = std::string(STATION_BINARY_DIR) + "/bin/qarn-emu";
  if (!std::filesystem::exists(emulator)) GTEST_SKIP() << "no qarn-emu at " << emulator;
  ComDirectory com;
  EmulatorProcess emu(emulator, "0.05", {"--com-dir", com.path(), "--com", "3", "--ttff", "5"});
  std::string error;
  ASSERT_TRUE(emu.Start(&error)) << error;
  ASSERT_TRUE(Scpi(emu.Port(), {"SOUR:BB:GPS:SAT:COUNT 8", "SOUR:BB:GPS:TRIG:SEQ AUTO", "OUTP ON",
                                "SOUR:BB:GPS:STAT ON"}));

  testing::internal::CaptureStdout();
  ASSERT_EQ(OpenReceiverPort(3), 0);
  SetDefaultReceiverProfiles();
  SelectedReceiverType = 0;
  EXPECT_EQ(InitReceiver(0), 1);

  FixStatus status;
  status.minSatellites = 4;
  status.maxFixSeconds = 120;
  SatelliteTable table;
  FixRecord fix;
  const int abort = 0;
  const double waited = WaitForFix(status, table, fix, abort);
  EXPECT_LT(waited, status.maxFixSeconds);
  EXPECT_EQ(status.fixMode, 3);
  EXPECT_GT(status.inViewCount, 0);
  EXPECT_GT(fix.year, 2000);

  // Consecutive epochs one (simulated) second apart.
  auto buffer = std::make_unique<ReceiveBuffer>();
  int previous = -1;
  for (int i = 0; i < 3; ++i) {
    int inView = 0;
    EXPECT_GE(ReadNextFix(table, status, &inView, fix, *buffer, abort), 4);
    EXPECT_GT(inView, 0);
    const int second = fix.hour * 3600 + fix.minute * 60 + fix.second;
    if (previous >= 0) EXPECT_EQ((second - previous + 86400) % 86400, 1);
    previous = second;
  }

  // The receiver is unplugged: the next read fails and the loop returns.
  ASSERT_TRUE(Scpi(emu.Port(), {"EMULator:RECeiver:FAULt:UNPLug ON"}));
  int inView = 0;
  int used = 0;
  for (int i = 0; i < 5 && (used = ReadNextFix(table, status, &inView, fix, *buffer, abort)) > 0;
       ++i) {
  }
  EXPECT_EQ(used, 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Receiver Initialized.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ReadFile failed with error no "), std::string::npos) << out;
  CloseReceiverPort();
}

}  // namespace
