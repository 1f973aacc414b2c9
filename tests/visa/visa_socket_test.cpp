// Raw-socket VISA sessions against a small peer that records every byte it
// receives and sends exactly what a test tells it to.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/visa.h"
#include "tests/support/CommaLocale.h"

namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A listening socket on 127.0.0.1 and, once accepted, one connection.
class TestPeer {
 public:
  TestPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~TestPeer() {
    CloseConnection();
    ::close(listener_);
  }

  std::string Resource() const { return "TCPIP::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }
  int Port() const { return port_; }

  // The client's connect completes through the backlog; this takes it.
  void Accept() {
    pollfd p{listener_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(connection_, 0);
  }
  void Send(std::string_view bytes) {
    ASSERT_EQ(::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Everything received until `expected` bytes are there or 2 s have passed.
  std::string Receive(size_t expected) {
    const auto start = Clock::now();
    while (received_.size() < expected && SecondsSince(start) < 2.0) {
      pollfd p{connection_, POLLIN, 0};
      if (::poll(&p, 1, 100) == 1) {
        char chunk[4096];
        const ssize_t n = ::recv(connection_, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        received_.append(chunk, static_cast<size_t>(n));
      }
    }
    return std::exchange(received_, {});
  }
  void CloseConnection() {
    if (connection_ >= 0) ::close(connection_);
    connection_ = -1;
  }

 private:
  int listener_ = -1;
  int connection_ = -1;
  int port_ = 0;
  std::string received_;
};

class VisaSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm_, peer_.Resource().c_str(), VI_NO_LOCK, 0, &session_), VI_SUCCESS);
    peer_.Accept();
    ASSERT_EQ(viSetAttribute(session_, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
  }
  void TearDown() override { viClose(rm_); }

  // viRead into a string; the status goes to *status.
  std::string Read(ViUInt32 count, ViStatus* status) {
    std::string buffer(count, '\0');
    ViUInt32 received = 0;
    *status = viRead(session_, reinterpret_cast<ViByte*>(buffer.data()), count, &received);
    buffer.resize(received);
    return buffer;
  }
  ViStatus Write(std::string_view text, ViUInt32* written = nullptr) {
    ViUInt32 n = 0;
    const ViStatus status = viWrite(session_, reinterpret_cast<const ViByte*>(text.data()),
                                    static_cast<ViUInt32>(text.size()), &n);
    if (written) *written = n;
    return status;
  }

  TestPeer peer_;
  ViSession rm_ = VI_NULL;
  ViSession session_ = VI_NULL;
};

TEST_F(VisaSocketTest, EveryMessageSentEndsWithExactlyOneLineFeed) {
  struct Case {
    const char* sent;
    const char* onWire;
  };
  const Case cases[] = {
      {"*opc?", "*opc?\n"},
      {"*idn?\n", "*idn?\n"},
      {"SYST:ERR?;*opc?", "SYST:ERR?;*opc?\n"},
      {"100%", "100%\n"},
  };
  for (const Case& c : cases) {
    ViUInt32 written = 0;
    EXPECT_EQ(Write(c.sent, &written), VI_SUCCESS) << c.sent;
    EXPECT_EQ(written, std::strlen(c.sent)) << "the count is the caller's bytes: " << c.sent;
    EXPECT_EQ(peer_.Receive(std::strlen(c.onWire)), c.onWire) << c.sent;
  }
  EXPECT_EQ(viPrintf(session_, "%s:SAT:COUNT %d", "SOUR:BB:GPS", 6), VI_SUCCESS);
  EXPECT_EQ(peer_.Receive(24), "SOUR:BB:GPS:SAT:COUNT 6\n");
}

TEST_F(VisaSocketTest, NumbersGoOutAndComeInTheCLocaleWhateverTheProcesssLocale) {
  CommaLocale comma;
  if (!comma.Active()) GTEST_SKIP() << "no decimal-comma locale available";
  EXPECT_EQ(viPrintf(session_, "SOUR:POW:LEV:IMM:AMPL %fdBm", -105.0), VI_SUCCESS);
  peer_.Send("0.25\n");
  float value = 0;
  EXPECT_EQ(viScanf(session_, "%f", &value), VI_SUCCESS);
  comma.Restore();
  EXPECT_EQ(peer_.Receive(35), "SOUR:POW:LEV:IMM:AMPL -105.000000dBm\n");
  EXPECT_FLOAT_EQ(value, 0.25f);
}

TEST_F(VisaSocketTest, ReadsEndAtLineFeedAndKeepWhatIsBeyondTheCount) {
  peer_.Send("1\nSECOND\nTAIL");
  ViStatus status;
  EXPECT_EQ(Read(100, &status), "1\n");
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_EQ(Read(3, &status), "SEC");
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(Read(100, &status), "OND\n");
  EXPECT_EQ(status, VI_SUCCESS);
  // An answer without LF: the read gives what came, at its time-out.
  const auto start = Clock::now();
  EXPECT_EQ(Read(100, &status), "TAIL");
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_GE(SecondsSince(start), 0.29);
}

TEST_F(VisaSocketTest, SilentInstrumentCostsEachReadItsTimeOutAndNoMore) {
  ViStatus status;
  for (int i = 0; i < 2; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(Read(100, &status), "");
    EXPECT_EQ(status, VI_ERROR_TMO);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 0.29);
    EXPECT_LT(elapsed, 5.0) << "a read must end at its 300 ms time-out";
  }
  char text[1024] = "untouched";
  EXPECT_EQ(viScanf(session_, "%t", text), VI_ERROR_TMO);
}

TEST_F(VisaSocketTest, ClosedPeerFailsAtOnceEvenWithALongTimeOut) {
  ASSERT_EQ(viSetAttribute(session_, VI_ATTR_TMO_VALUE, 50000), VI_SUCCESS);
  peer_.Send("last answer\n");
  peer_.CloseConnection();
  ViStatus status;
  EXPECT_EQ(Read(100, &status), "last answer\n") << "what came before the close is delivered";
  EXPECT_EQ(status, VI_SUCCESS);

  const auto start = Clock::now();
  EXPECT_EQ(Read(100, &status), "");
  EXPECT_EQ(status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(Write("*opc?"), VI_ERROR_CONN_LOST);
  long value = 0;
  EXPECT_EQ(viQueryf(session_, ":hor:reco?\n", "%ld", &value), VI_ERROR_CONN_LOST);
  EXPECT_EQ(viPrintf(session_, "*idn?\n"), VI_ERROR_CONN_LOST);
  EXPECT_LT(SecondsSince(start), 5.0) << "no call may wait for the 50 s time-out";

  char text[256];
  viStatusDesc(session_, VI_ERROR_CONN_LOST, text);
  EXPECT_THAT(text, HasSubstr("closed by the instrument"));
}

TEST_F(VisaSocketTest, WriteToAPeerThatLeftFailsBeforeTheMessageIsLost) {
  peer_.CloseConnection();
  // Give the FIN time to arrive (loopback: immediate in practice).
  ::usleep(20000);
  EXPECT_EQ(Write("SOUR:BB:GPS:STAT ON"), VI_ERROR_CONN_LOST);
}

TEST_F(VisaSocketTest, FormattedReads) {
  struct Case {
    const char* answer;
    const char* format;
    ViStatus status;
    double value;
  };
  const Case cases[] = {
      {"10000\n", "%ld", VI_SUCCESS, 10000},     {"+7\n", "%ld", VI_SUCCESS, 7},
      {"-1.5E-2\n", "%f", VI_SUCCESS, -0.015},   {" 0.004\n", "%lf", VI_SUCCESS, 0.004},
      {"garbage\n", "%ld", VI_ERROR_INV_FMT, 0}, {"\n", "%f", VI_ERROR_INV_FMT, 0},
  };
  for (const Case& c : cases) {
    peer_.Send(c.answer);
    long asLong = 0;
    float asFloat = 0;
    double asDouble = 0;
    ViStatus status;
    if (std::string(c.format) == "%ld")
      status = viQueryf(session_, "Q?\n", c.format, &asLong);
    else if (std::string(c.format) == "%f")
      status = viQueryf(session_, "Q?\n", c.format, &asFloat);
    else
      status = viQueryf(session_, "Q?\n", c.format, &asDouble);
    EXPECT_EQ(status, c.status) << c.answer;
    if (c.status == VI_SUCCESS) {
      EXPECT_NEAR(asLong + asFloat + asDouble, c.value, 1e-6) << c.answer;
    }
    EXPECT_EQ(peer_.Receive(3), "Q?\n");
  }
}

TEST_F(VisaSocketTest, TextFormatTakesOneWholeAnswerCutToItsBuffer) {
  const std::string longAnswer(3000, 'x');
  peer_.Send(longAnswer + "\nnext\n");
  char text[1024];
  EXPECT_EQ(viScanf(session_, "%t", text), VI_SUCCESS);
  EXPECT_EQ(std::string(text), std::string(1023, 'x'));
  EXPECT_EQ(viScanf(session_, "%t", text), VI_SUCCESS) << "the cut-off rest is not the next answer";
  EXPECT_STREQ(text, "next\n");
}

TEST_F(VisaSocketTest, FlushDiscardsUnreadInput) {
  peer_.Send("stale answer\n");
  ::usleep(20000);
  EXPECT_EQ(viFlush(session_, VI_READ_BUF_DISCARD | VI_WRITE_BUF), VI_SUCCESS);
  peer_.Send("fresh\n");
  ViStatus status;
  EXPECT_EQ(Read(100, &status), "fresh\n");
}

TEST_F(VisaSocketTest, Attributes) {
  ViAttrState value = 0;
  EXPECT_EQ(viGetAttribute(session_, VI_ATTR_TMO_VALUE, &value), VI_SUCCESS);
  EXPECT_EQ(value, 300u);
  EXPECT_EQ(viSetAttribute(session_, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS), VI_SUCCESS);
  EXPECT_EQ(viSetAttribute(session_, VI_ATTR_RD_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(session_, VI_ATTR_RD_BUF_OPER_MODE, &value), VI_SUCCESS);
  EXPECT_EQ(value, VI_FLUSH_ON_ACCESS);
  EXPECT_EQ(viSetAttribute(session_, VI_ATTR_RD_BUF_OPER_MODE, 7), VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(viSetAttribute(session_, 0x3FFF0018U, 1), VI_ERROR_NSUP_ATTR);
}

TEST_F(VisaSocketTest, ClosingTheResourceManagerClosesItsSessions) {
  EXPECT_EQ(viClose(rm_), VI_SUCCESS);
  EXPECT_EQ(Write("*idn?"), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(session_), VI_ERROR_INV_OBJECT);
  ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);  // for TearDown
}

// ---- opening ------------------------------------------------------------------

struct OpenCase {
  const char* name;
  const char* resource;
  ViStatus status;
  const char* description;  // part of viStatusDesc's text
};

void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.resource; }

class VisaOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(VisaOpenTest, RefusesWhatItCannotOpenAndSaysWhy) {
  const OpenCase& c = GetParam();
  ViSession rm = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ViSession session = 123;
  EXPECT_EQ(viOpen(rm, c.resource, VI_NO_LOCK, 0, &session), c.status);
  EXPECT_EQ(session, VI_NULL);
  char text[256];
  EXPECT_EQ(viStatusDesc(rm, c.status, text), VI_SUCCESS);
  EXPECT_THAT(text, HasSubstr(c.description));
  viClose(rm);
}

INSTANTIATE_TEST_SUITE_P(
    Resources, VisaOpenTest,
    ::testing::Values(OpenCase{"Empty", "", VI_ERROR_INV_RSRC_NAME, "not a TCPIP resource"},
                      OpenCase{"OtherInterface", "GPIB0::7::INSTR", VI_ERROR_INV_RSRC_NAME,
                               "not a TCPIP resource"},
                      OpenCase{"PortNotANumber", "TCPIP::127.0.0.1::port::SOCKET",
                               VI_ERROR_INV_RSRC_NAME, "host::port::SOCKET"},
                      OpenCase{"PortOutOfRange", "TCPIP::127.0.0.1::65536::SOCKET",
                               VI_ERROR_INV_RSRC_NAME, "host::port::SOCKET"},
                      OpenCase{"UnknownHost", "TCPIP::no-such-host.invalid::5025::SOCKET",
                               VI_ERROR_RSRC_NFOUND, "cannot resolve"}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST(VisaOpen, ClosedPortIsRefusedAndNamed) {
  int port;
  {
    TestPeer peer;  // a port that was free a moment ago and is closed now
    port = peer.Port();
  }
  ViSession rm;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ViSession session;
  const std::string resource = "TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET";
  EXPECT_EQ(viOpen(rm, resource.c_str(), VI_NO_LOCK, 0, &session), VI_ERROR_RSRC_NFOUND);
  char text[256];
  viStatusDesc(rm, VI_ERROR_RSRC_NFOUND, text);
  EXPECT_THAT(text, HasSubstr("refused"));
  viClose(rm);
}

TEST(VisaOpen, ConnectionAttemptWithoutAnswerEndsAtTheOpenTimeOut) {
  // A listener whose accept queue is full drops further SYNs, as a host
  // behind a firewall does: the attempt gets no answer at all.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ::usleep(50000);
  ViSession rm;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ViSession session;
  const std::string resource =
      "TCPIP::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET";
  const auto start = Clock::now();
  const ViStatus status = viOpen(rm, resource.c_str(), VI_NO_LOCK, 500, &session);
  const double elapsed = SecondsSince(start);
  if (status == VI_SUCCESS) {
    GTEST_SKIP() << "this kernel accepted beyond the backlog; no silent peer to test against";
  }
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  EXPECT_GE(elapsed, 0.45);
  EXPECT_LT(elapsed, 10.0);
  char text[256];
  viStatusDesc(rm, status, text);
  EXPECT_THAT(text, HasSubstr("no answer"));
  viClose(rm);
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

}  // namespace
