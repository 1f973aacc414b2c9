// VXI-11 (INSTR) sessions against qarn-emu's core channel, reached by its port
// ("TCPIP::127.0.0.1:port::INSTR") so that the tests need no rpcbind and run
// beside each other. The portmapper path is covered by
// tests/emulator/vxi11_portmapper_test.cpp.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "platform/visa.h"
#include "support/EmulatorProcess.h"
#include "support/Loopback.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

const char* const kIdentification = "Emulated Lab,QARN,100001,qarn-emu 1.0\n";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string InstrResource(EmulatorProcess& emulator) {
  return "TCPIP::127.0.0.1:" + std::to_string(emulator.Vxi11Port()) + "::INSTR";
}

ViStatus Write(ViSession session, std::string_view text) {
  ViUInt32 written = 0;
  return viWrite(session, reinterpret_cast<const ViByte*>(text.data()),
                 static_cast<ViUInt32>(text.size()), &written);
}

std::string Read(ViSession session, ViUInt32 count, ViStatus* status) {
  std::string buffer(count, '\0');
  ViUInt32 received = 0;
  *status = viRead(session, reinterpret_cast<ViByte*>(buffer.data()), count, &received);
  buffer.resize(received);
  return buffer;
}

std::string Describe(ViObject object, ViStatus status) {
  char text[256];
  viStatusDesc(object, status, text);
  return text;
}

class VisaVxi11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = new EmulatorProcess(QARN_EMU_PATH);
    std::string error;
    ASSERT_TRUE(emulator_->Start(&error)) << error;
    ASSERT_GT(emulator_->Vxi11Port(), 0) << emulator_->Transcript();
  }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(emulator_, nullptr);
    ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
    const std::string resource = InstrResource(*emulator_);
    ASSERT_EQ(viOpen(rm_, resource.c_str(), VI_NO_LOCK, 0, &session_), VI_SUCCESS)
        << Describe(rm_, VI_ERROR_RSRC_NFOUND);
    ASSERT_EQ(viSetAttribute(session_, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
    ViStatus status;
    ASSERT_EQ(Write(session_, "EMUL:RES;*RST;*CLS;*OPC?"), VI_SUCCESS);
    ASSERT_EQ(Read(session_, 100, &status), "1\n");
  }
  void TearDown() override {
    Write(session_, "EMUL:RES");
    viClose(rm_);
  }

  static EmulatorProcess* emulator_;
  ViSession rm_ = VI_NULL;
  ViSession session_ = VI_NULL;
};

EmulatorProcess* VisaVxi11Test::emulator_ = nullptr;

TEST_F(VisaVxi11Test, AnswerLongerThanTheCountArrivesWithTheNextReads) {
  ASSERT_EQ(Write(session_, "*IDN?"), VI_SUCCESS);
  ViStatus status;
  EXPECT_EQ(Read(session_, 10, &status), "Emulated L");
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(Read(session_, 10, &status), "ab,QARN,10");
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(Read(session_, 100, &status), "0001,qarn-emu 1.0\n");
  EXPECT_EQ(status, VI_SUCCESS) << "the end of the answer ends the read";

  // Two answers waiting: each read ends with its own answer.
  ASSERT_EQ(Write(session_, "SOUR:BB:GPS:SAT:COUNT 7"), VI_SUCCESS);
  ASSERT_EQ(Write(session_, "SOUR:BB:GPS:SAT:COUNT?"), VI_SUCCESS);
  ASSERT_EQ(Write(session_, "*IDN?\n"), VI_SUCCESS);
  EXPECT_EQ(Read(session_, 100, &status), "7\n");
  EXPECT_EQ(Read(session_, 100, &status), kIdentification);
}

TEST_F(VisaVxi11Test, FormattedIoIsTheSocketSessionsOwn) {
  EXPECT_EQ(viPrintf(session_, "%s:SAT:COUNT %d", "SOUR:BB:GPS", 6), VI_SUCCESS);
  long count = 0;
  EXPECT_EQ(viQueryf(session_, "SOUR:BB:GPS:SAT:COUNT?\n", "%ld", &count), VI_SUCCESS);
  EXPECT_EQ(count, 6);
  char text[1024] = "";
  EXPECT_EQ(viQueryf(session_, "*idn?", "%t", text), VI_SUCCESS);
  EXPECT_STREQ(text, kIdentification);
  EXPECT_EQ(viQueryf(session_, "*idn?", "%ld", &count), VI_ERROR_INV_FMT);
  EXPECT_THAT(Describe(session_, VI_ERROR_INV_FMT), HasSubstr("does not match"));
  ViAttrState value = 0;
  EXPECT_EQ(viGetAttribute(session_, VI_ATTR_TMO_VALUE, &value), VI_SUCCESS);
  EXPECT_EQ(value, 2000u);
  EXPECT_EQ(viSetAttribute(session_, VI_ATTR_RD_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS), VI_SUCCESS);
  EXPECT_EQ(viQueryf(session_, "*opc?", "%ld", &count), VI_SUCCESS);
  EXPECT_EQ(count, 1);
}

TEST_F(VisaVxi11Test, SilentInstrumentTimesOutAfterAboutItsTimeAndStaysInStep) {
  ASSERT_EQ(viSetAttribute(session_, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
  ASSERT_EQ(Write(session_, "EMUL:SIL ON"), VI_SUCCESS);
  ViStatus status;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Write(session_, "*IDN?"), VI_SUCCESS);
    const auto start = Clock::now();
    EXPECT_EQ(Read(session_, 100, &status), "");
    EXPECT_EQ(status, VI_ERROR_TMO);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 0.29);
    EXPECT_LT(elapsed, 5.0) << "a read must end near its 300 ms time-out";
  }
  EXPECT_THAT(Describe(session_, VI_ERROR_TMO), HasSubstr("I/O timeout"));
  ASSERT_EQ(Write(session_, "EMUL:SIL OFF"), VI_SUCCESS);
  ASSERT_EQ(Write(session_, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(Read(session_, 100, &status), kIdentification)
      << "a timed-out read leaves nothing behind to swallow the next answer";
}

TEST_F(VisaVxi11Test, SlowAnswerArrivesWithALaterRead) {
  ASSERT_EQ(Write(session_, "EMUL:OPC:DEL 400"), VI_SUCCESS);
  ASSERT_EQ(viSetAttribute(session_, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
  ViStatus status;
  ASSERT_EQ(Write(session_, "SOUR:BB:GPS:STAT ON;*OPC?"), VI_SUCCESS);
  EXPECT_EQ(Read(session_, 100, &status), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
  ASSERT_EQ(viSetAttribute(session_, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
  EXPECT_EQ(Read(session_, 100, &status), "1\n");
  EXPECT_EQ(status, VI_SUCCESS);
  ASSERT_EQ(Write(session_, "SOUR:BB:GPS:STAT?"), VI_SUCCESS);
  EXPECT_EQ(Read(session_, 100, &status), "1\n") << "later messages wait their turn";
}

TEST_F(VisaVxi11Test, FlushReadBufferDropsTheRestOfABegunAnswer) {
  struct Case {
    ViUInt16 mask;
    const char* nextRead;  // what a read after the flush gets
  };
  const Case cases[] = {
      // The rest is read from the instrument and dropped: the next answer is next.
      {VI_READ_BUF, "6\n"},
      // Only what this end holds goes: the rest of the answer is still there.
      {VI_READ_BUF_DISCARD, "ted Lab,QARN,100001,qarn-emu 1.0\n"},
  };
  ASSERT_EQ(Write(session_, "SOUR:BB:GPS:SAT:COUNT 6"), VI_SUCCESS);
  for (const Case& c : cases) {
    viFlush(session_, VI_READ_BUF);  // nothing begun: nothing to do, no stray read
    ViStatus status;
    ASSERT_EQ(Write(session_, "*IDN?"), VI_SUCCESS);
    EXPECT_EQ(Read(session_, 5, &status), "Emula");
    EXPECT_EQ(viFlush(session_, c.mask), VI_SUCCESS) << c.mask;
    if (c.mask == VI_READ_BUF) ASSERT_EQ(Write(session_, "SOUR:BB:GPS:SAT:COUNT?"), VI_SUCCESS);
    EXPECT_EQ(Read(session_, 100, &status), c.nextRead) << c.mask;
  }
  long errors = -1;
  char text[1024];
  EXPECT_EQ(viQueryf(session_, "SYST:ERR?", "%ld%t", &errors, text), VI_SUCCESS);
  EXPECT_EQ(errors, 0) << "flushing made the instrument queue no error: " << text;
}

TEST_F(VisaVxi11Test, SocketAndInstrSessionsShareOneInstrument) {
  ViSession socket = VI_NULL;
  ASSERT_EQ(viOpen(rm_, emulator_->Resource().c_str(), VI_NO_LOCK, 0, &socket), VI_SUCCESS);
  viSetAttribute(socket, VI_ATTR_TMO_VALUE, 2000);
  ViSession second = VI_NULL;
  const std::string bareDevice =
      "TCPIP0::127.0.0.1:" + std::to_string(emulator_->Vxi11Port()) + "::inst0";
  ASSERT_EQ(viOpen(rm_, bareDevice.c_str(), VI_NO_LOCK, 0, &second), VI_SUCCESS);
  viSetAttribute(second, VI_ATTR_TMO_VALUE, 2000);
  long count = 0;
  ASSERT_EQ(viPrintf(socket, "SOUR:BB:GPS:SAT:COUNT 9\n"), VI_SUCCESS);
  // A socket write returns once sent; its *OPC? says the command was done.
  ASSERT_EQ(viQueryf(socket, "*OPC?\n", "%ld", &count), VI_SUCCESS);
  EXPECT_EQ(viQueryf(session_, "SOUR:BB:GPS:SAT:COUNT?", "%ld", &count), VI_SUCCESS);
  EXPECT_EQ(count, 9);
  ASSERT_EQ(viPrintf(second, "SOUR:BB:GPS:SAT:COUNT 4\n"), VI_SUCCESS);
  EXPECT_EQ(viQueryf(socket, "SOUR:BB:GPS:SAT:COUNT?\n", "%ld", &count), VI_SUCCESS);
  EXPECT_EQ(count, 4);
  // Each link has its own answers: a query on one is not read on the other.
  ASSERT_EQ(Write(second, "*IDN?"), VI_SUCCESS);
  EXPECT_EQ(viQueryf(session_, "*OPC?", "%ld", &count), VI_SUCCESS);
  EXPECT_EQ(count, 1);
  ViStatus status;
  EXPECT_EQ(Read(second, 100, &status), kIdentification);
  EXPECT_EQ(viClose(second), VI_SUCCESS);
  EXPECT_EQ(viQueryf(session_, "*OPC?", "%ld", &count), VI_SUCCESS)
      << "closing one link leaves the others";
}

TEST_F(VisaVxi11Test, DroppedConnectionFailsTheNextCallAtOnce) {
  ViSession victim = VI_NULL;
  ASSERT_EQ(viOpen(rm_, InstrResource(*emulator_).c_str(), VI_NO_LOCK, 0, &victim), VI_SUCCESS);
  viSetAttribute(victim, VI_ATTR_TMO_VALUE, 50000);
  ASSERT_EQ(Write(victim, "EMUL:CONN:DROP:AFT 1"), VI_SUCCESS);
  const auto start = Clock::now();
  EXPECT_EQ(Write(victim, "*IDN?"), VI_ERROR_CONN_LOST) << "the instrument drops the link";
  ViStatus status;
  Read(victim, 100, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(Write(victim, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_LT(SecondsSince(start), 5.0) << "no call may wait for the 50 s time-out";
  EXPECT_THAT(Describe(victim, VI_ERROR_CONN_LOST), HasSubstr("lost"));
  EXPECT_EQ(viClose(victim), VI_SUCCESS);
}

TEST_F(VisaVxi11Test, DroppingEveryConnectionReachesBothKindsOfSession) {
  ViSession socket = VI_NULL;
  ASSERT_EQ(viOpen(rm_, emulator_->Resource().c_str(), VI_NO_LOCK, 0, &socket), VI_SUCCESS);
  viSetAttribute(socket, VI_ATTR_TMO_VALUE, 50000);
  viSetAttribute(session_, VI_ATTR_TMO_VALUE, 50000);
  long value = 0;
  ASSERT_EQ(viQueryf(socket, "*OPC?\n", "%ld", &value), VI_SUCCESS);
  const auto start = Clock::now();
  EXPECT_EQ(Write(session_, "EMUL:CONN:DROP"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viQueryf(socket, "*OPC?\n", "%ld", &value), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viQueryf(session_, "*OPC?", "%ld", &value), VI_ERROR_CONN_LOST);
  EXPECT_LT(SecondsSince(start), 5.0);
  ViSession fresh = VI_NULL;
  ASSERT_EQ(viOpen(rm_, InstrResource(*emulator_).c_str(), VI_NO_LOCK, 0, &fresh), VI_SUCCESS);
  EXPECT_EQ(viQueryf(fresh, "*OPC?", "%ld", &value), VI_SUCCESS) << "the lab serves new links";
  session_ = fresh;  // for TearDown
}

// ---- an instrument that vanishes or hangs: a lab of the test's own ----------

class VisaVxi11LostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(emulator_.Start(&error)) << error;
    ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm_, InstrResource(emulator_).c_str(), VI_NO_LOCK, 0, &session_), VI_SUCCESS);
    viSetAttribute(session_, VI_ATTR_TMO_VALUE, 50000);
    ViStatus status;
    ASSERT_EQ(Write(session_, "*IDN?"), VI_SUCCESS);
    ASSERT_EQ(Read(session_, 100, &status), kIdentification);
    // A begun answer, so that viFlush(VI_READ_BUF) has something to read.
    ASSERT_EQ(Write(session_, "*IDN?"), VI_SUCCESS);
    ASSERT_EQ(Read(session_, 3, &status), "Emu");
  }
  void TearDown() override {
    if (emulator_.Pid() > 0) ::kill(emulator_.Pid(), SIGCONT);
    viClose(rm_);
  }

  EmulatorProcess emulator_{QARN_EMU_PATH};
  ViSession rm_ = VI_NULL;
  ViSession session_ = VI_NULL;
};

TEST_F(VisaVxi11LostTest, StoppedInstrumentFailsEveryCallAtOnce) {
  emulator_.Stop();
  const auto start = Clock::now();
  ViStatus status;
  EXPECT_EQ(Write(session_, "*IDN?"), VI_ERROR_CONN_LOST);
  Read(session_, 100, &status);
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  long value = 0;
  EXPECT_EQ(viQueryf(session_, "*OPC?", "%ld", &value), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viFlush(session_, VI_READ_BUF), VI_ERROR_CONN_LOST);
  EXPECT_THAT(Describe(session_, VI_ERROR_CONN_LOST), HasSubstr("closed by the instrument"));
  EXPECT_EQ(viClose(session_), VI_SUCCESS);
  EXPECT_LT(SecondsSince(start), 5.0) << "no call may wait for the 50 s time-out";
}

TEST_F(VisaVxi11LostTest, HungInstrumentCostsAReadItsTimeOutAndACloseASecond) {
  ASSERT_EQ(viSetAttribute(session_, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
  ASSERT_EQ(::kill(emulator_.Pid(), SIGSTOP), 0);
  auto start = Clock::now();
  EXPECT_EQ(viFlush(session_, VI_READ_BUF), VI_ERROR_TMO);
  ViStatus status;
  Read(session_, 100, &status);
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_THAT(Describe(session_, VI_ERROR_TMO), HasSubstr("no reply"));
  EXPECT_LT(SecondsSince(start), 10.0);
  start = Clock::now();
  EXPECT_EQ(viClose(session_), VI_SUCCESS);
  EXPECT_LT(SecondsSince(start), 5.0) << "closing a hung link must not wait for it";
}

// ---- opening ------------------------------------------------------------------

// A listening socket on 127.0.0.1 that accepts and never says anything.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

int ClosedPort() {
  SilentListener listener;  // free a moment ago, closed now
  return listener.Port();
}

struct OpenCase {
  const char* name;
  std::string resource;
  ViUInt32 openTimeout;
  ViStatus status;
  const char* description;  // part of viStatusDesc's text
};

TEST(VisaVxi11Open, FailsWithinItsBoundAndSaysWhy) {
  EmulatorProcess emulator(QARN_EMU_PATH);
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  const std::string lab = "127.0.0.1:" + std::to_string(emulator.Vxi11Port());
  SilentListener silent;
  const OpenCase cases[] = {
      {"refused", "TCPIP::127.0.0.1:" + std::to_string(ClosedPort()) + "::INSTR", 0,
       VI_ERROR_RSRC_NFOUND, "refused"},
      {"silent", "TCPIP::127.0.0.1:" + std::to_string(silent.Port()), 500, VI_ERROR_RSRC_NFOUND,
       "no answer to create_link"},
      {"unknown device", "TCPIP::" + lab + "::gpib0,5::INSTR", 0, VI_ERROR_RSRC_NFOUND,
       "device not accessible"},
      {"unresolvable", "TCPIP::no-such-host.invalid::INSTR", 0, VI_ERROR_RSRC_NFOUND,
       "cannot resolve"},
      {"port out of range", "TCPIP::127.0.0.1:70000::INSTR", 0, VI_ERROR_INV_RSRC_NAME,
       "TCPIP::host[::device][::INSTR]"},
      {"two device names", "TCPIP::" + lab + "::inst0::inst1::INSTR", 0, VI_ERROR_INV_RSRC_NAME,
       "TCPIP::host[::device][::INSTR]"},
      {"unclosed bracket", "TCPIP::[::1::INSTR", 0, VI_ERROR_INV_RSRC_NAME,
       "TCPIP::host[::device][::INSTR]"},
  };
  for (const OpenCase& c : cases) {
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession session = 123;
    const auto start = Clock::now();
    EXPECT_EQ(viOpen(rm, c.resource.c_str(), VI_NO_LOCK, c.openTimeout, &session), c.status)
        << c.name;
    const double elapsed = SecondsSince(start);
    EXPECT_LT(elapsed, 10.0) << c.name;
    if (c.openTimeout > 0) EXPECT_GE(elapsed, c.openTimeout / 1000.0 - 0.05) << c.name;
    EXPECT_EQ(session, VI_NULL) << c.name;
    EXPECT_THAT(Describe(rm, c.status), HasSubstr(c.description)) << c.name;
    viClose(rm);
  }
}

TEST(VisaVxi11Open, ResourceFormsReachTheSameDevice) {
  EmulatorProcess emulator(QARN_EMU_PATH);
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  const std::string lab = "127.0.0.1:" + std::to_string(emulator.Vxi11Port());
  const std::string resources[] = {
      "TCPIP::" + lab,
      "TCPIP::" + lab + "::INSTR",
      "TCPIP0::" + lab + "::inst0::INSTR",
      "tcpip1::" + lab + "::INST0",
      "TCPIP::[::ffff:127.0.0.1]:" + std::to_string(emulator.Vxi11Port()) + "::INSTR",
  };
  ViSession rm = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  for (const std::string& resource : resources) {
    ViSession session = VI_NULL;
    ASSERT_EQ(viOpen(rm, resource.c_str(), VI_NO_LOCK, 0, &session), VI_SUCCESS)
        << resource << ": " << Describe(rm, VI_ERROR_RSRC_NFOUND);
    char text[1024] = "";
    EXPECT_EQ(viQueryf(session, "*IDN?", "%t", text), VI_SUCCESS) << resource;
    EXPECT_STREQ(text, kIdentification) << resource;
    EXPECT_EQ(viClose(session), VI_SUCCESS) << resource;
  }
  viClose(rm);
}

bool RpcbindAnswers() { return LoopbackPortAnswers(111); }

// Runs where no rpcbind answers: in a network namespace of its own
// (CTest's visa.vxi11_no_portmapper), or on a machine without rpcbind.
TEST(VisaVxi11NoPortmapper, BareAddressSaysThereIsNoPortmapper) {
  if (RpcbindAnswers()) GTEST_SKIP() << "rpcbind answers here; visa.vxi11_no_portmapper runs this";
  ViSession rm = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ViSession session = VI_NULL;
  const auto start = Clock::now();
  EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.1", VI_NO_LOCK, 0, &session), VI_ERROR_RSRC_NFOUND);
  EXPECT_LT(SecondsSince(start), 5.0);
  const std::string text = Describe(rm, VI_ERROR_RSRC_NFOUND);
  EXPECT_THAT(text, HasSubstr("no portmapper (rpcbind)"));
  EXPECT_THAT(text, HasSubstr("refused"));
  viClose(rm);
}

}  // namespace
