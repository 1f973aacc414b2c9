// Waits in slices: with a wait hook set, a read from a silent instrument (raw
// socket and VXI-11) and a receiver port whose output does not drain come
// back to the hook every slice, named by what they wait for, and end early
// when the hook says so; without a hook a wait is one piece, as a headless
// run's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/serial.h"
#include "platform/visa.h"
#include "platform/waits.h"
#include "support/EmulatorProcess.h"
#include "tests/console/ScpiClient.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct HookLog {
  int calls = 0;
  int finished = 0;
  std::vector<std::string> names;
  double endAfter = 0.5;  // seconds waited
  bool nestedReadSliced = false;
  ViSession nested = VI_NULL;
};
HookLog* g_log = nullptr;

bool CountingHook(const WaitProgress& progress) {
  if (progress.finished) {
    ++g_log->finished;
    return false;
  }
  ++g_log->calls;
  g_log->names.push_back(progress.name);
  if (g_log->nested != VI_NULL) {
    // A wait that starts inside the hook is not sliced (the hook is not
    // entered again): it waits its own time-out in one piece.
    const ViSession nested = std::exchange(g_log->nested, VI_NULL);
    const int before = g_log->calls;
    char answer[1024] = "";
    viScanf(nested, "%t", answer);
    g_log->nestedReadSliced = g_log->calls != before;
  }
  return progress.seconds >= g_log->endAfter;
}

class WaitSlices : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(emulator_.Start(&error)) << error;
    ScpiClient scpi(emulator_.Port());
    ASSERT_EQ(scpi.Query("EMULator:SILent ON;:EMULator:SILent?"), "1");
    ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
    g_log = &log_;
  }
  void TearDown() override {
    SetWaitHook(nullptr);
    viClose(rm_);
    g_log = nullptr;
  }
  std::vector<std::string> Resources() {
    return {emulator_.Resource(),
            "TCPIP::127.0.0.1:" + std::to_string(emulator_.Vxi11Port()) + "::INSTR"};
  }
  ViSession Open(const std::string& resource, ViUInt32 timeoutMs) {
    ViSession session = VI_NULL;
    EXPECT_EQ(viOpen(rm_, resource.c_str(), VI_NO_LOCK, 0, &session), VI_SUCCESS) << resource;
    viSetAttribute(session, VI_ATTR_TMO_VALUE, timeoutMs);
    return session;
  }

  EmulatorProcess emulator_{STATION_BINARY_DIR "/bin/qarn-emu"};
  ViSession rm_ = VI_NULL;
  HookLog log_;
};

TEST_F(WaitSlices, ASilentInstrumentsReadComesBackToTheHookAndEndsWhenItSays) {
  for (const std::string& resource : Resources()) {
    SCOPED_TRACE(resource);
    log_ = HookLog{};
    SetWaitHook(CountingHook);
    const ViSession session = Open(resource, 50000);
    ASSERT_EQ(viPrintf(session, "*idn?\n"), VI_SUCCESS);
    char answer[1024] = "";
    const double start = Now();
    EXPECT_EQ(viScanf(session, "%t", answer), VI_ERROR_TMO);
    const double waited = Now() - start;
    EXPECT_GE(waited, 0.45);
    EXPECT_LT(waited, 10.0) << "ended by the hook, long before the 50 s time-out";
    // About one call per 50 ms slice; a loaded machine makes fewer.
    EXPECT_GE(log_.calls, 4);
    EXPECT_EQ(log_.finished, 1) << "the hook hears that the wait is over";
    for (const std::string& name : log_.names) EXPECT_EQ(name, resource);
    char reason[256];
    viStatusDesc(session, VI_ERROR_TMO, reason);
    EXPECT_NE(std::string(reason).find("ended early"), std::string::npos) << reason;
    viClose(session);
  }
}

TEST_F(WaitSlices, WithoutAHookAWaitIsOnePieceAndInsideTheHookToo) {
  for (const std::string& resource : Resources()) {
    SCOPED_TRACE(resource);
    log_ = HookLog{};
    SetWaitHook(nullptr);
    const ViSession session = Open(resource, 300);
    ASSERT_EQ(viPrintf(session, "*idn?\n"), VI_SUCCESS);
    char answer[1024] = "";
    const double start = Now();
    EXPECT_EQ(viScanf(session, "%t", answer), VI_ERROR_TMO);
    EXPECT_GE(Now() - start, 0.29);
    EXPECT_EQ(log_.calls, 0);

    // A read that starts while the hook runs waits its own 300 ms in one piece.
    SetWaitHook(CountingHook);
    const ViSession outer = Open(resource, 50000);
    ASSERT_EQ(viPrintf(outer, "*idn?\n"), VI_SUCCESS);
    log_.nested = session;
    log_.endAfter = 0.1;
    EXPECT_EQ(viScanf(outer, "%t", answer), VI_ERROR_TMO);
    EXPECT_FALSE(log_.nestedReadSliced);
    viClose(outer);
    viClose(session);
  }
}

// Nobody reads the pseudo-terminal's master: once its buffer is full the
// port's output waits out its write time-out (10 ms a byte here: minutes).
TEST(SerialWaitSlices, APortThatTakesNoMoreOutputComesBackToTheHook) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  const int port = SerialOpenPath(slave.c_str());
  ASSERT_NE(port, kInvalidSerialHandle);
  ASSERT_EQ(SerialSetTimeouts(port, 25, 10, 10), 1);

  HookLog log;
  g_log = &log;
  log.endAfter = 0.4;
  SetWaitHook(CountingHook);
  const std::string block(256 * 1024, 'x');
  const double start = Now();
  EXPECT_EQ(SerialWrite(port, block.data(), block.size()), 1) << "a short write is not a failure";
  const double waited = Now() - start;
  SetWaitHook(nullptr);
  EXPECT_LT(waited, 20.0);
  EXPECT_GE(log.calls, 4);
  EXPECT_EQ(log.finished, 1);
  for (const std::string& name : log.names) EXPECT_EQ(name, slave);
  SerialPurge(port, kSerialPurgeBoth);
  SerialClose(port);
  close(master);
  g_log = nullptr;
}

}  // namespace
