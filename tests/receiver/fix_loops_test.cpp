// WaitForFix and ReadNextFix on scripted receiver streams through a
// pseudo-terminal (the station's clock runs scaled, see pty_pair.cpp).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "ReceiverPortFixture.h"
#include "nmea_text.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "pty_pair.h"
#include "receiver/FixAcquisition.h"
#include "receiver/ReceiverLink.h"
#include "support/HeadlessRuntime.h"
#include "support/TextFile.h"

using namespace nmeatext;

namespace {

const std::string kHotStartBytes(reinterpret_cast<const char*>(kHotStartCommand),
                                 sizeof kHotStartCommand);
const char kGalileoMessage[] = "GAL C/No differ by more than 4 dB --> HOT START!\n";
const char kTimeoutMessage[] =
    "Error: Receiver read timeout! Maybe not all required messages are enabled?\n";

class FixLoopTest : public ReceiverPortFixture {
 protected:
  FixLoopTest() : ReceiverPortFixture(3) {}
  void SetUp() override {
    ReceiverPortFixture::SetUp();
    status_.minSatellites = 4;
    status_.maxFixSeconds = 20;
  }

  double Wait(std::string* out) {
    testing::internal::CaptureStdout();
    const double t = WaitForFix(status_, table_, fix_, abort_);
    *out = testing::internal::GetCapturedStdout();
    return t;
  }
  int Next(std::string* out, int* inView) {
    testing::internal::CaptureStdout();
    const int used = ReadNextFix(table_, status_, inView, fix_, *buffer_, abort_);
    *out = testing::internal::GetCapturedStdout();
    return used;
  }

  FixStatus status_;
  SatelliteTable table_;
  FixRecord fix_;
  int abort_ = 0;
  std::unique_ptr<ReceiveBuffer> buffer_ = std::make_unique<ReceiveBuffer>();
};

TEST_F(FixLoopTest, WaitForFixAcceptsA3dFixWithDate) {
  ScriptedReceiver rx(pty_, [](int i, const std::string&) { return GoodEpoch(i % 60); });
  std::string out;
  const double t = Wait(&out);
  EXPECT_LT(t, status_.maxFixSeconds);
  EXPECT_EQ(status_.fixMode, 3);
  EXPECT_EQ(status_.inViewCount, 6);
  EXPECT_EQ(fix_.year, 2026);
  EXPECT_EQ(table_[0].usedFlag, 'U');
}

TEST_F(FixLoopTest, WaitForFixNeverAcceptsWithoutDate) {
  status_.maxFixSeconds = 3;
  ScriptedReceiver rx(pty_, [](int i, const std::string&) { return GoodEpoch(i % 60, false); });
  std::string out;
  EXPECT_GT(Wait(&out), 3.0);
  EXPECT_EQ(status_.fixMode, 3);
}

TEST_F(FixLoopTest, WaitForFixEndsWhenTheReceiverFallsSilent) {
  // Silent from the start, and silent after one GGA whose successor never comes.
  for (const std::string& once : {std::string(), Gga(1) + Gsa(3, {1, 2, 3, 4})}) {
    status_.maxFixSeconds = 2;
    ScriptedReceiver rx(pty_, [&](int i, const std::string&) { return i == 1 ? once : ""; });
    std::string out;
    EXPECT_GT(Wait(&out), 2.0);
    EXPECT_NE(status_.fixMode, 3);
  }
}

TEST_F(FixLoopTest, WaitForFixHotStartsOnGalileoSpread) {
  struct Case {
    int cn0b;
    bool hotStart;
  };
  for (const Case c : {Case{44, true}, Case{43, false}}) {
    // After a hot start the receiver's Galileo signals agree again.
    ScriptedReceiver rx(pty_, [&](int i, const std::string& received) {
      const bool restarted = received.find(kHotStartBytes) != std::string::npos;
      return GalileoEpoch(i % 60, 40, restarted ? 41 : c.cn0b);
    });
    std::string out;
    EXPECT_LT(Wait(&out), status_.maxFixSeconds) << c.cn0b;
    rx.Stop();
    EXPECT_EQ(status_.fixMode, 3);
    EXPECT_EQ(out.find(kGalileoMessage) != std::string::npos, c.hotStart) << c.cn0b << out;
    EXPECT_EQ(rx.Received().find(kHotStartBytes) != std::string::npos, c.hotStart) << c.cn0b;
  }
}

TEST_F(FixLoopTest, WaitForFixGivesUpOnGsvMessage12) {
  ScriptedReceiver rx(pty_, [](int i, const std::string&) {
    return Gga(i % 60) + GsvMessage("GP", 3, 1, 10, Sats(1, 4)) +
           GsvMessage("GP", 3, 12, 10, Sats(5, 4)) + Zda();
  });
  std::string out;
  EXPECT_EQ(Wait(&out), 0.0);
  EXPECT_NE(out.find("Warning 5!!"), std::string::npos);
}

TEST_F(FixLoopTest, LoopsReturnWhenThePortVanishes) {
  std::thread unplug([this] {
    SleepSeconds(2.0);
    pty_.CloseMaster();
  });
  std::string out;
  EXPECT_EQ(Wait(&out), 0.0);
  unplug.join();
  EXPECT_EQ(CountOf(out, "ReadFile failed with error no "), 1) << out;
  int inView = 0;
  EXPECT_EQ(Next(&out, &inView), 0);
  EXPECT_EQ(CountOf(out, "ReadFile failed with error no "), 1) << out;
}

TEST_F(FixLoopTest, AbortPressedDuringAWaitEndsBothLoops) {
  // The abort button runs inside the loops' waits, as a posted callback does.
  ASSERT_TRUE(StartHeadlessRuntimeOnce("receiver_port_tests"));
  const auto pressAbort = [](void* flag) { *static_cast<int*>(flag) = 1; };
  std::string out;

  // A receiver that never completes an epoch: without the abort the wait
  // would run its full 20 s.
  ScriptedReceiver rx(pty_, [](int i, const std::string&) { return i == 1 ? Gga(1) : ""; });
  ASSERT_EQ(PostDeferredCall(pressAbort, &abort_), 0);
  EXPECT_LT(Wait(&out), status_.maxFixSeconds);
  rx.Stop();

  // Silent receiver: the call ends at the next pass, without the time-out.
  abort_ = 0;
  ASSERT_EQ(PostDeferredCall(pressAbort, &abort_), 0);
  int inView = 0;
  EXPECT_EQ(Next(&out, &inView), 0);
  EXPECT_EQ(inView, -1);
  EXPECT_EQ(out.find(kTimeoutMessage), std::string::npos) << out;
}

TEST_F(FixLoopTest, ReadNextFixTakesOneBufferedEpochPerCall) {
  // Two and a half epochs, then silence.
  pty_.Write(GoodEpoch(1) + GoodEpoch(2) + GoodEpoch(3).substr(0, 100));
  std::string out;
  int inView = 0;
  EXPECT_EQ(Next(&out, &inView), 6);
  EXPECT_EQ(fix_.second, 1);
  EXPECT_EQ(inView, 6);
  EXPECT_EQ(Next(&out, &inView), 6);
  EXPECT_EQ(fix_.second, 2);
  EXPECT_EQ(out.find(kTimeoutMessage), std::string::npos);
  EXPECT_EQ(Next(&out, &inView), 0);
  EXPECT_EQ(inView, -1);
  EXPECT_EQ(CountOf(out, kTimeoutMessage), 1);
  EXPECT_EQ(fix_.second, 2) << "the records keep the last decode";
}

TEST_F(FixLoopTest, ReadNextFixHotStartsOnGalileoSpread) {
  struct Case {
    int cn0b;
    bool hotStart;
  };
  for (const Case c : {Case{44, true}, Case{43, false}}) {
    buffer_->length = 0;
    pty_.Write(GalileoEpoch(1, 40, c.cn0b) + Gga(2));
    std::string out;
    int inView = 0;
    EXPECT_EQ(Next(&out, &inView), 6) << c.cn0b;
    EXPECT_EQ(inView, 6);
    EXPECT_EQ(status_.fixMode, c.hotStart ? 0 : 3) << c.cn0b;
    EXPECT_EQ(buffer_->length == 0, c.hotStart) << c.cn0b;
    EXPECT_EQ(CountOf(out, kGalileoMessage), c.hotStart ? 1 : 0) << out;
    EXPECT_EQ(pty_.ReadWritten(), c.hotStart ? kHotStartBytes : std::string()) << c.cn0b;
  }
}

TEST_F(FixLoopTest, ReadNextFixOddStreams) {
  std::string out;
  int inView = 0;
  // The first GGA lost its "$": skipped; the epoch after it is decoded.
  pty_.Write(GoodEpoch(1).substr(3) + GoodEpoch(2) + Gga(3));
  EXPECT_EQ(Next(&out, &inView), 6);
  EXPECT_EQ(fix_.second, 2);

  // GSV message 12: result 0 with the warning, and the next call goes on
  // with the epoch after it.
  buffer_->length = 0;
  pty_.Write(Gga(4) + GsvMessage("GP", 3, 1, 10, Sats(1, 4)) +
             GsvMessage("GP", 3, 12, 10, Sats(5, 4)) + GoodEpoch(5) + Gga(6));
  EXPECT_EQ(Next(&out, &inView), 0);
  EXPECT_EQ(CountOf(out, "Warning 5!!"), 1);
  EXPECT_EQ(Next(&out, &inView), 6);
  EXPECT_EQ(fix_.second, 5);

  // Garbage and a UBX frame between sentences, no line ends at all in a
  // stretch, and a 10,000-byte line.
  buffer_->length = 0;
  const std::string ubx("\xB5\x62\x05\x01\x02\x00\x06\x01\x0F\x38", 10);
  pty_.Write(Gga(7) + ubx + std::string(10000, '#') + "\r\n" + GoodEpoch(8) + "$GPGS" + Gga(9));
  EXPECT_EQ(Next(&out, &inView), 0);
  EXPECT_EQ(fix_.second, 7);
  EXPECT_EQ(Next(&out, &inView), 6);
  EXPECT_EQ(fix_.second, 8);
}

}  // namespace
