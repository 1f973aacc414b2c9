// qarn-emu as the station meets it: a separate process on a TCP port,
// reached through the station's own VISA sessions (and raw sockets where a
// client misbehaves on purpose). Faults are arranged over the same port.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "platform/visa.h"
#include "tests/support/EmulatorProcess.h"

namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class EmulatorConnections : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = new EmulatorProcess(QARN_EMU_PATH);
    std::string error;
    ASSERT_TRUE(emulator_->Start(&error)) << error;
  }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(emulator_, nullptr);
    ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
    control_ = Open();
    ASSERT_EQ(Query(control_, "EMUL:RES;*RST;*CLS;*OPC?"), "1\n");
  }
  void TearDown() override {
    if (control_ != VI_NULL) Write(control_, "EMUL:RES");
    viClose(rm_);
  }

  ViSession Open(ViUInt32 timeoutMs = 2000) {
    ViSession session = VI_NULL;
    EXPECT_EQ(viOpen(rm_, emulator_->Resource().c_str(), VI_NO_LOCK, 0, &session), VI_SUCCESS);
    viSetAttribute(session, VI_ATTR_TMO_VALUE, timeoutMs);
    return session;
  }
  static ViStatus Write(ViSession session, std::string_view text) {
    ViUInt32 written;
    return viWrite(session, reinterpret_cast<const ViByte*>(text.data()),
                   static_cast<ViUInt32>(text.size()), &written);
  }
  static std::string Read(ViSession session, ViStatus* status = nullptr) {
    char buffer[256];
    ViUInt32 received = 0;
    const ViStatus s = viRead(session, reinterpret_cast<ViByte*>(buffer), sizeof buffer, &received);
    if (status) *status = s;
    return std::string(buffer, received);
  }
  static std::string Query(ViSession session, std::string_view text, ViStatus* status = nullptr) {
    const ViStatus w = Write(session, text);
    if (w < 0) {
      if (status) *status = w;
      return {};
    }
    return Read(session, status);
  }

  static EmulatorProcess* emulator_;
  ViSession rm_ = VI_NULL;
  ViSession control_ = VI_NULL;
};

EmulatorProcess* EmulatorConnections::emulator_ = nullptr;

TEST_F(EmulatorConnections, SessionsShareOneInstrument) {
  const ViSession earlier = Open();
  const ViSession later = Open();
  EXPECT_EQ(Query(earlier, "SOUR:BB:GPS:SAT:COUNT 6;*OPC?"), "1\n");
  EXPECT_EQ(Query(later, "SOUR:BB:GPS:SAT:COUNT?"), "6\n");
  EXPECT_EQ(Query(earlier, "*idn?"), "Emulated Lab,QARN,100001,qarn-emu 1.0\n")
      << "an earlier session stays usable beside a later one";
}

TEST_F(EmulatorConnections, SilentInstrumentAnswersNothingUntilTheLabSaysSo) {
  const ViSession station = Open(300);
  Write(control_, "EMUL:SILent ON");
  Write(control_, "*RST");  // a reset of the instrument leaves the lab's faults
  ViStatus status;
  EXPECT_EQ(Query(station, "*IDN?", &status), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_EQ(Query(control_, "EMUL:SIL?"), "1\n") << "the lab's own queries are still answered";
  Write(control_, "EMUL:SIL OFF");
  EXPECT_THAT(Query(station, "*IDN?"), HasSubstr(",QARN,")) << "the withheld answer is not queued";
}

TEST_F(EmulatorConnections, SlowOperationCompleteArrivesLate) {
  const ViSession station = Open(100);
  Write(control_, "EMUL:OPC:DELay 400");
  ViStatus status;
  EXPECT_EQ(Query(station, "SOUR:BB:GPS:STAT ON;*OPC?", &status), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
  viSetAttribute(station, VI_ATTR_TMO_VALUE, 5000);
  EXPECT_EQ(Read(station, &status), "1\n");
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_EQ(Query(station, "SOUR:BB:GPS:STAT?"), "1\n") << "later messages wait their turn";
}

TEST_F(EmulatorConnections, SpoiledAnswersReachTheStationAsArranged) {
  const ViSession station = Open(300);
  ViStatus status;

  Write(control_, "EMUL:ANSWer:MODE GARBage");
  const std::string garbage = Query(station, "*IDN?", &status);
  EXPECT_EQ(status, VI_SUCCESS) << "garbage still ends with LF";
  EXPECT_THAT(garbage, ::testing::Not(HasSubstr("QARN")));
  EXPECT_EQ(garbage.find('\n'), garbage.size() - 1);

  Write(control_, "EMUL:ANSWer:MODE NOLF");
  EXPECT_EQ(Query(station, "*IDN?", &status), "Emulated Lab,QARN,100001,qarn-emu 1.0");
  EXPECT_EQ(status, VI_ERROR_TMO) << "without LF the read ends at its time-out";

  Write(control_, "EMUL:ANSWer:MODE EXTRa");
  EXPECT_EQ(Query(station, "SOUR:BB:GPS:SAT:COUNT?"), "4\n");
  Write(control_, "EMUL:ANSWer:MODE NORMal");
  EXPECT_EQ(Query(station, "*IDN?"), "4\n") << "the answer nobody asked for comes first";
  EXPECT_THAT(Read(station), HasSubstr(",QARN,"));
}

TEST_F(EmulatorConnections, ArrangedErrorsDrainOneByOne) {
  Write(control_, "EMUL:ERR:ADD -200,\"Execution error\";:EMUL:ERR:ADD -221,\"Settings conflict\"");
  const ViSession station = Open();
  EXPECT_EQ(Query(station, "SYST:ERR?;*opc?"), "-200,\"Execution error\";1\n");
  EXPECT_EQ(Query(station, "SYST:ERR?;*opc?"), "-221,\"Settings conflict\";1\n");
  EXPECT_EQ(Query(station, "SYST:ERR?;*opc?"), "0,\"No error\";1\n");
}

TEST_F(EmulatorConnections, DroppedConnectionFailsTheSessionAtOnce) {
  const ViSession station = Open(50000);
  EXPECT_EQ(Query(control_, "EMUL:CONN:DROP:AFTer 1;*OPC?"), "1\n");
  const auto start = Clock::now();
  ViStatus status;
  EXPECT_EQ(Query(station, "*IDN?", &status), "");
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(Write(station, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_LT(SecondsSince(start), 10.0) << "not the 50 s time-out";
  EXPECT_THAT(Query(control_, "*IDN?"), HasSubstr(",QARN,")) << "the other session lives on";

  Write(control_, "EMUL:CONN:DROP");
  EXPECT_EQ(Read(control_, &status), "");
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  control_ = Open();
  EXPECT_THAT(Query(control_, "*IDN?"), HasSubstr(",QARN,")) << "new sessions are served";
}

// A raw TCP client for clients that misbehave on purpose.
int RawConnect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

TEST_F(EmulatorConnections, SurvivesGarbageOverlongMessagesAndHalfMessages) {
  std::mt19937 random(20261210);
  std::string garbage(200000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  {
    // Half a message, then gone; and garbage, then reset.
    const int half = RawConnect(emulator_->Port());
    SendAll(half, "SOUR:BB:GPS:SAT:COU");
    ::close(half);
    const int rude = RawConnect(emulator_->Port());
    SendAll(rude, garbage.substr(0, 5000));
    linger abort{1, 0};
    ::setsockopt(rude, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(rude);
  }
  // Garbage with and without line ends, then a message far beyond the
  // length cap, then proper queries on the same connection.
  const int fd = RawConnect(emulator_->Port());
  SendAll(fd, garbage + "\n*CLS\n" + std::string(100000, 'A') + "\nSYST:ERR?\n*IDN?\n");
  std::string answer;
  const auto start = Clock::now();
  while (answer.find(",QARN,") == std::string::npos && SecondsSince(start) < 10.0) {
    char chunk[4096];
    timeval wait{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) answer.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  EXPECT_THAT(answer, ::testing::StartsWith("-363,\"Input buffer overrun\"\n"));
  EXPECT_THAT(answer, HasSubstr(",QARN,"));
  EXPECT_TRUE(emulator_->Running());
  EXPECT_THAT(Query(control_, "*IDN?"), HasSubstr(",QARN,"));
}

// A client that sends queries and never reads the answers is held back once
// 1 MiB of answers waits for it (its sends stall), instead of the answers
// filling qarn-emu's memory; other sessions are served all along.
TEST_F(EmulatorConnections, ClientThatNeverReadsIsHeldBack) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int small = 64 * 1024;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(emulator_->Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::string queries;
  for (int i = 0; i < 10000; ++i) queries += "*IDN?\n";
  const size_t offered = 12u << 20;
  size_t accepted = 0;
  auto lastProgress = Clock::now();
  while (accepted < offered && SecondsSince(lastProgress) < 2.0) {
    const ssize_t n = ::send(fd, queries.data(), queries.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      accepted += static_cast<size_t>(n);
      lastProgress = Clock::now();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  EXPECT_LT(accepted, offered) << "every query was taken in; its answers pile up";
  // qarn-emu may still be working through what it took in (slowly under
  // the sanitizers): a patient session.
  const ViSession other = Open(30000);
  EXPECT_THAT(Query(other, "*IDN?"), HasSubstr(",QARN,"));
  viClose(other);
  linger abort{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd);
  EXPECT_TRUE(emulator_->Running());
}

TEST(EmulatorTranscript, LogPrintsEveryMessageReceived) {
  EmulatorProcess emulator(QARN_EMU_PATH, "0.05", {"--log"});
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  ViSession rm, session;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ASSERT_EQ(viOpen(rm, emulator.Resource().c_str(), VI_NO_LOCK, 0, &session), VI_SUCCESS);
  viPrintf(session, "SOUR:BB:GPS:SAT:COUNT 6\n");
  viPrintf(session, "*opc?");
  char answer[1024];
  ASSERT_EQ(viScanf(session, "%t", answer), VI_SUCCESS);
  viClose(rm);
  const std::string transcript = emulator.ReadOutputFor(300);
  EXPECT_THAT(transcript, HasSubstr("<- SOUR:BB:GPS:SAT:COUNT 6\n"));
  EXPECT_THAT(transcript, HasSubstr("<- *opc?\n"));
  EXPECT_THAT(transcript, HasSubstr("-> 1\n"));
}

}  // namespace
