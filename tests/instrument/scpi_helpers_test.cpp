#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "FakeSimulator.h"
#include "SessionFixture.h"
#include "instrument/DUT_IP_Control.h"
#include "report/ProgressLog.h"
#include "support/RecordingPeer.h"
#include "support/TextFile.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A peer that completes every "*opc?" and answers `reply` to everything else
// that ends in "?".
RecordingPeer::Responder ReplyWith(std::string reply) {
  return [reply](const std::string& message) -> std::optional<std::string> {
    if (message == "*opc?") return std::string("1\n");
    if (!message.empty() && message.back() == '?') return reply;
    return std::nullopt;
  };
}

// Log text with every "Mon Mar  5 17:47:59 2012  " stamp removed.
std::string WithoutStamps(const std::string& text) {
  static const std::regex stamp(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d \d{4}  )");
  return std::regex_replace(text, stamp, "");
}

struct ScpiHelpers : testing::Test {
  void TearDown() override { CloseSessions(); }
};

TEST_F(ScpiHelpers, CommandGoesOutByteForByteThenOperationComplete) {
  struct Case {
    const char* name;
    const char* (*build)();
    std::string wire;
  };
  const Case cases[] = {
      // Built in the very buffer GetString formats into.
      {"from GetString",
       [] { return static_cast<const char*>(GetString("%s:SAT:COUNT %d", "SOUR:BB:GPS", 6)); },
       "SOUR:BB:GPS:SAT:COUNT 6\n*opc?\n"},
      {"percent signs are plain text", [] { return "MMEM:NAME 'a%d%s%%.txt'"; },
       "MMEM:NAME 'a%d%s%%.txt'\n*opc?\n"},
  };
  for (const Case& c : cases) {
    RecordingPeer peer(ReplyWith("?\n"));
    const ViSession session = OpenPeerSession(peer, 2000);
    EXPECT_EQ(Dut_Command(session, c.build()), 1) << c.name;
    EXPECT_EQ(peer.Bytes(), c.wire) << c.name;
    EXPECT_EQ(numwritten, 5u) << c.name;
    EXPECT_STREQ(readbuff, "1\n") << c.name;
    CloseSessions();
  }
}

TEST_F(ScpiHelpers, NumberQueriesReadTheLeadingNumber) {
  struct Case {
    std::string reply;
    int asInt;
    double asDouble;
  };
  const Case cases[] = {
      {"1.5\n", 1, 1.5},
      {"  -7.25e1,garbage\n", -7, -72.5},
      {"+3\n", 3, 3.0},
      {"GPS\n", 0, 0.0},
  };
  for (const Case& c : cases) {
    RecordingPeer peer(ReplyWith(c.reply));
    const ViSession session = OpenPeerSession(peer, 2000);
    int i = 99;
    double d = 99.0;
    My_QueryInt(session, "SOUR:BB:GPS:SAT1:SVID?", &i);
    My_QueryDouble(session, "SOUR:BB:GPS:NAV:SIM:TOW?", &d);
    EXPECT_EQ(i, c.asInt) << c.reply;
    EXPECT_DOUBLE_EQ(d, c.asDouble) << c.reply;
    EXPECT_EQ(peer.Messages(),
              (std::vector<std::string>{"SOUR:BB:GPS:SAT1:SVID?", "SOUR:BB:GPS:NAV:SIM:TOW?"}));
    CloseSessions();
  }
}

TEST_F(ScpiHelpers, NumberQueriesWithoutAnswerStoreZero) {
  RecordingPeer peer([](const std::string&) { return std::nullopt; });
  const ViSession session = OpenPeerSession(peer, 100);
  int i = 99;
  double d = 99.0;
  My_QueryInt(session, "SOUR:BB:GPS:SAT1:SVID?", &i);
  EXPECT_EQ(numread, 0u);
  My_QueryDouble(session, "SOUR:BB:GPS:NAV:SIM:TOW?", &d);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(d, 0.0);
}

TEST_F(ScpiHelpers, TextQueryKeepsUpTo250BytesAndLeavesTheRest) {
  const std::string exact = std::string(249, 'a') + "\n";  // 250 bytes with its LF
  const std::string longer = std::string(250, 'b') + std::string(49, 'c') + "\n";
  int asked = 0;
  RecordingPeer peer([&](const std::string&) -> std::optional<std::string> {
    return ++asked == 1 ? exact : longer;
  });
  const ViSession session = OpenPeerSession(peer, 2000);

  char answer[kQueryAnswerSize + 8];
  std::memset(answer, 'x', sizeof answer);
  My_Query(session, "A?", answer);
  EXPECT_EQ(numread, 250u);
  EXPECT_EQ(std::string(answer), exact);
  EXPECT_EQ(answer[250], '\0');

  My_Query(session, "B?", answer);
  EXPECT_EQ(std::string(answer), std::string(250, 'b'));
  // The cut remainder is what the next read receives.
  My_QueryInt(session, "C?", &asked);
  EXPECT_EQ(std::string(readbuff), std::string(49, 'c') + "\n");
}

TEST_F(ScpiHelpers, GetStringCutsWhatDoesNotFit) {
  const std::string longText(600, 'z');
  const char* text = GetString("%s:%s", "SOUR:BB:GPS", longText.c_str());
  EXPECT_EQ(std::string(text), ("SOUR:BB:GPS:" + longText).substr(0, kGetStringBufferSize - 1));
  // Its own result as an argument.
  GetString("%d", 42);
  EXPECT_STREQ(GetString("<%s>", GetStringBuffer), "<42>");
}

TEST_F(ScpiHelpers, ErrorQueueIsLoggedUntilNoError) {
  struct Case {
    const char* name;
    std::deque<std::string> errors;
    std::string screen;  // without the time stamps
    std::string html;    // the same
  };
  // The answer keeps its LF and the line adds one. The instrument's text
  // reaches the HTML log as text (quotes are harmless there).
  const Case cases[] = {
      {"empty queue logs nothing", {}, "", ""},
      {"two entries",
       {"-113,\"Undefined header\"", "-222,\"Data out of range\""},
       "DUT INFO ERR:-113,\"Undefined header\";1\n\n"
       "DUT INFO ERR:-222,\"Data out of range\";1\n\n",
       "<font color='red'>DUT INFO ERR:-113,\"Undefined header\";1\n\n</font><br>"
       "<font color='red'>DUT INFO ERR:-222,\"Data out of range\";1\n\n</font><br>"},
      {"markup in an entry",
       {"-100,\"<img src=x onerror=alert(1)> & more\""},
       "DUT INFO ERR:-100,\"<img src=x onerror=alert(1)> & more\";1\n\n",
       "<font color='red'>DUT INFO ERR:-100,\"&lt;img src=x onerror=alert(1)&gt; &amp; "
       "more\";1\n\n</font><br>"},
  };
  for (const Case& c : cases) {
    FakeSimulator simulator;
    simulator.errors = c.errors;
    RecordingPeer peer([&](const std::string& m) { return simulator.Answer(m); });
    const ViSession session = OpenPeerSession(peer, 2000);
    std::FILE* html = std::tmpfile();
    CaptureStdout();
    CheckSimulatorErrors(session, html);
    EXPECT_EQ(WithoutStamps(GetCapturedStdout()), c.screen) << c.name;

    EXPECT_EQ(WithoutStamps(ReadTextStream(html)), c.html) << c.name;
    EXPECT_EQ(peer.Messages().size(), c.errors.size() + 1) << c.name;
    std::fclose(html);
    CloseSessions();
  }
}

TEST_F(ScpiHelpers, SilentSimulatorEndsTheErrorQueueReadWithOneEntry) {
  RecordingPeer peer([](const std::string&) { return std::nullopt; });
  const ViSession session = OpenPeerSession(peer, 100);
  CaptureStdout();
  CheckSimulatorErrors(session, nullptr);
  EXPECT_EQ(WithoutStamps(GetCapturedStdout()), "DUT INFO ERR:\n");
  EXPECT_EQ(peer.Messages(), std::vector<std::string>{"SYST:ERR?;*opc?"});
}

// A simulator whose every answer is an entry (it never says "No error") does
// not keep the test reading its error queue for ever.
TEST_F(ScpiHelpers, EndlessErrorQueueReadStopsWithAWarning) {
  RecordingPeer peer(ReplyWith("-300,\"Device-specific error\";1\n"));
  const ViSession session = OpenPeerSession(peer, 2000);
  std::FILE* html = std::tmpfile();
  CaptureStdout();
  CheckSimulatorErrors(session, html);
  const std::string screen = WithoutStamps(GetCapturedStdout());
  const std::string file = WithoutStamps(ReadTextStream(html));
  std::fclose(html);

  const std::size_t asked = peer.Messages().size();
  EXPECT_EQ(asked, static_cast<std::size_t>(kErrorQueueReadLimit));
  const std::string entry = "DUT INFO ERR:-300,\"Device-specific error\";1\n\n";
  std::string entries;
  for (std::size_t i = 0; i < asked; ++i) entries += entry;
  ASSERT_TRUE(screen.starts_with(entries)) << screen.substr(0, 200);
  const std::string warning = screen.substr(entries.size());
  EXPECT_NE(warning.find("error queue"), std::string::npos) << warning;
  EXPECT_TRUE(file.ends_with("<font color='orange'>" + warning + "</font><br>"))
      << file.substr(0, 200);
}

}  // namespace
