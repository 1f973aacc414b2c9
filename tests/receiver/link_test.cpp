// The receiver port and the receiver commands, through a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ReceiverPortFixture.h"
#include "platform/serial.h"
#include "pty_pair.h"
#include "receiver/ReceiverLink.h"
#include "receiver/ReceiverProfile.h"
#include "support/HeadlessRuntime.h"
#include "support/TextFile.h"

namespace {

// The receiver port open on a fresh pseudo-terminal, as COM7.
class ReceiverPortTest : public ReceiverPortFixture {
 protected:
  ReceiverPortTest() : ReceiverPortFixture(7) {}
};

TEST(HexCommands, SplitIntoMessages) {
  struct Case {
    const char* text;
    std::vector<std::string> messages;  // hex bytes; a trailing ";" marks a pause after it
  };
  const Case cases[] = {
      {"0xB5, 0x62;0x0D, 0x0A", {"B5 62;", "0D 0A"}},
      {"0xB, 0x62", {"0B 62"}},
      {"no tokens here, 12 34", {}},
      {"0xB5, 0x62;", {"B5 62;"}},
      {";;0x01", {";", ";", "01"}},
      {"0x1FF", {"1F"}},           // two digits and the scan goes on after them
      {"0xZZ,0x41", {"00 41"}},    // strtol reads nothing: 0
      {"0xA;0xB", {"0A;", "0B"}},  // a one-digit token keeps the separator after it
      {"0x", {"00"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const HexMessage& m : SplitHexCommands(c.text))
      got.push_back(Hex(std::string(m.bytes.begin(), m.bytes.end())) +
                    (m.endedBySemicolon ? ";" : ""));
    EXPECT_EQ(got, c.messages) << c.text;
  }
}

TEST_F(ReceiverPortTest, SendHexCommandsWritesTheBytes) {
  struct Case {
    const char* text;
    const char* wire;
  };
  const Case cases[] = {
      {"0xB5, 0x62;0x0D, 0x0A", "B5 62 0D 0A"},
      {"0xB, 0x2C", "0B 2C"},
      {"no tokens", ""},
      {"0x24, 0x50;", "24 50"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SendHexCommands(c.text), 1) << c.text;
    EXPECT_EQ(Hex(pty_.ReadWritten()), c.wire) << c.text;
  }
  // A long profile text goes out whole: 400 tokens, far beyond 500 characters.
  std::string longText;
  for (int i = 0; i < 400; ++i) longText += "0x41, ";
  EXPECT_EQ(SendHexCommands(longText), 1);
  EXPECT_EQ(pty_.ReadWritten(), std::string(400, 'A'));
}

TEST(HexCommandsNoPort, FailedWritesReportZero) {
  CloseReceiverPort();
  EXPECT_EQ(SendHexCommands("0x01;0x02"), 0);
  EXPECT_EQ(SendHexCommands("nothing to send"), 1);
}

TEST_F(ReceiverPortTest, InitReceiverSendsTheSelectedTexts) {
  ReceiverProfiles[3] = {"0x01", "0x02", "0x03, 0x33", "0x04;0x05"};
  SelectedReceiverType = 3;
  struct Case {
    int glonass;
    const char* wire;
    const char* firstMessage;
  };
  const Case cases[] = {
      {0, "01 03 33 04 05", "Sending GPS INIT command to receiver...\n"},
      {4, "02 03 33 04 05", "Sending GLONASS INIT command to receiver...\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(InitReceiver(c.glonass), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Hex(pty_.ReadWritten()), c.wire);
    const std::vector<std::string> order = {
        c.firstMessage, "Sending Cold start command to receiver...\n",
        "Sending additional defined commands to receiver...\n", "Receiver Initialized.\n"};
    std::size_t at = 0;
    for (const std::string& line : order) {
      at = out.find(line, at);
      EXPECT_NE(at, std::string::npos) << "missing or out of order: " << line << out;
    }
  }
  SelectedReceiverType = 0;
}

TEST_F(ReceiverPortTest, InitReceiverTypeZeroDefaults) {
  SetDefaultReceiverProfiles();
  SelectedReceiverType = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(InitReceiver(0), 1);
  testing::internal::GetCapturedStdout();
  // CFG-CFG, the CFG-RST cold start, four CFG-MSG and one CFG-NMEA.
  EXPECT_EQ(Hex(pty_.ReadWritten()),
            "B5 62 06 09 0D 00 FF FF 00 00 00 00 00 00 FF FF 00 00 17 2F AE "
            "B5 62 06 04 04 00 FF 07 02 00 16 79 "
            "B5 62 06 01 03 00 F0 00 01 FB 10 B5 62 06 01 03 00 F0 02 01 FD 14 "
            "B5 62 06 01 03 00 F0 03 01 FE 16 B5 62 06 01 03 00 F0 08 01 03 20 "
            "B5 62 06 17 06 00 00 23 00 04 00 00 4A F6");
}

TEST_F(ReceiverPortTest, HotStart) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(HotStartReceiver(), 1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Hex(pty_.ReadWritten()), "B5 62 06 04 04 00 00 00 02 00 10 68");
  EXPECT_NE(out.find("Performing receiver HOT start...\n"), std::string::npos);
  EXPECT_NE(out.find("HOT Start Initialized.\n"), std::string::npos);
}

TEST(ReceiverCommandsNoPort, FailuresAreReported) {
  CloseReceiverPort();
  ReceiverProfiles[3] = {"0x01", "", "0x03", ""};
  SelectedReceiverType = 3;
  testing::internal::CaptureStdout();
  EXPECT_EQ(InitReceiver(0), 0);
  EXPECT_EQ(HotStartReceiver(), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(CountOf(out, "Error during sending INIT commands to receiver.\n"), 1);
  EXPECT_EQ(CountOf(out, "Receiver Initialized."), 0);
  EXPECT_EQ(CountOf(out, "HOT Start Failed.\n"), 1);
  SelectedReceiverType = 0;
}

TEST(OpenReceiverPort, ScanAndChosenPort) {
  struct Case {
    const char* name;
    int comPort;
    int linkedPort;  // 0: none
    int result;
    int tries;
    int failed;
    bool configMessages;  // the two configuration failures on standard output
  };
  const Case cases[] = {
      {"scan, nothing there", 0, 0, -2, 28, 28, false},
      {"scan finds COM4", 0, 4, 0, 3, 2, false},
      {"chosen COM5 absent", 5, 0, -1, 1, 1, true},
      {"chosen COM5 present", 5, 5, 0, 1, 0, false},
      {"chosen COM29 absent ends the scan", 29, 0, -2, 1, 1, false},
  };
  for (const Case& c : cases) {
    PtyPair pty;
    ComDirectory com;
    if (c.linkedPort) com.Link(c.linkedPort, pty.slavePath());
    testing::internal::CaptureStdout();
    EXPECT_EQ(OpenReceiverPort(c.comPort), c.result) << c.name;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(CountOf(out, "Trying connection to COM port "), c.tries) << c.name;
    EXPECT_EQ(CountOf(out, "Failed\n"), c.failed) << c.name;
    EXPECT_EQ(CountOf(out, "Successful.\n"), c.result == 0 ? 1 : 0) << c.name;
    EXPECT_EQ(CountOf(out, "GetCommState failed with error "), c.configMessages ? 1 : 0) << c.name;
    EXPECT_EQ(CountOf(out, "SetCommState failed with error "), c.configMessages ? 1 : 0) << c.name;
    if (c.linkedPort)
      EXPECT_NE(
          out.find("Trying connection to COM port " + std::to_string(c.linkedPort) + "... \n"),
          std::string::npos);
    CloseReceiverPort();
  }
}

TEST(SerialPort, BrokenLinkAndVanishingDevice) {
  ComDirectory com;
  com.Link(9, "/dev/nonexistent-gnss-port");
  EXPECT_EQ(SerialOpenCom(9), kInvalidSerialHandle);
  EXPECT_NE(SerialLastError(), 0);

  PtyPair pty;
  const int h = SerialOpenPath(pty.slavePath().c_str());
  ASSERT_NE(h, kInvalidSerialHandle);
  ASSERT_EQ(SerialSetTimeouts(h, 25, 10, 10), 1);
  pty.Write("$GPGGA,1\r\n");
  char data[64];
  std::size_t n = 0;
  ASSERT_EQ(SerialRead(h, data, sizeof data, &n), 1);
  EXPECT_EQ(std::string(data, n), "$GPGGA,1\r\n");
  pty.CloseMaster();
  EXPECT_EQ(SerialRead(h, data, sizeof data, &n), 0);
  EXPECT_NE(SerialLastError(), 0);
  EXPECT_EQ(SerialClose(h), 1);
  EXPECT_EQ(SerialRead(h, data, sizeof data, &n), 0);
}

// A device that floods the port while the station is busy elsewhere (events
// running, nobody reading) is held at the port's bound: past it the device
// cannot write more, and what the station finally reads is at most the bound
// plus the terminal's own buffers.
TEST(SerialPort, AFloodWhileNobodyReadsIsHeldAtTheBound) {
  ASSERT_TRUE(StartHeadlessRuntimeOnce("receiver_port_tests"));
  PtyPair pty;
  const int h = SerialOpenPath(pty.slavePath().c_str());
  ASSERT_NE(h, kInvalidSerialHandle);
  ASSERT_EQ(SerialSetTimeouts(h, 25, 10, 10), 1);
  const int flags = ::fcntl(pty.master(), F_GETFL);
  ASSERT_EQ(::fcntl(pty.master(), F_SETFL, flags | O_NONBLOCK), 0);

  const std::string line = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  const std::size_t offered = 4 * kSerialReadBufferBytes;
  std::size_t accepted = 0;
  int stalls = 0;
  while (accepted < offered && stalls < 200) {
    const ssize_t n = ::write(pty.master(), line.data(), line.size());
    if (n > 0) {
      accepted += static_cast<std::size_t>(n);
      stalls = 0;
      continue;
    }
    ++stalls;  // the terminal is full: let the station's events run
    ProcessSystemEvents();
    ::usleep(1000);
  }
  EXPECT_LT(accepted, kSerialReadBufferBytes + (512u << 10)) << "the flood was taken in whole";

  std::vector<char> data(1 << 16);
  std::size_t n = 0, read = 0;
  while (SerialRead(h, data.data(), data.size(), &n) == 1 && n > 0) read += n;
  EXPECT_LE(read, accepted);
  EXPECT_GE(read, kSerialReadBufferBytes / 2);
  EXPECT_EQ(SerialClose(h), 1);
}

}  // namespace
