#include "receiver/FixAcquisition.h"

#include <ctime>
#include <memory>

#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/stdio.h"
#include "receiver/ReceiverCapture.h"
#include "receiver/ReceiverLink.h"
#include "report/ProgressLog.h"

namespace {

constexpr double kGgaPollSeconds = 0.01;
constexpr double kCyclePauseSeconds = 0.1;
constexpr double kPassPauseSeconds = 0.001;  // lets events run; lasts about 0.1 s
constexpr double kAfterEpochSeconds = 0.05;
constexpr double kFinishPauseSeconds = 0.01;
constexpr double kMonitorGiveUpSeconds = 10.0;
constexpr double kMonitorLateSeconds = 9.0;

const char kMonitorTimeoutMessage[] =
    "Error: Receiver read timeout! Maybe not all required messages are enabled?\n";

// One read from the receiver appended to the buffer. False (with the message)
// when the port failed.
bool ReadIntoBuffer(ReceiveBuffer& buffer) {
  if (buffer.length >= kReceiveBufferFullMark || buffer.length < 0) buffer.length = 0;
  std::size_t n = 0;
  const std::size_t room = static_cast<std::size_t>(kReceiveBufferCapacity - buffer.length);
  if (!SerialRead(ReceiverPort, buffer.text + buffer.length,
                  room < kReadChunkMax ? room : kReadChunkMax, &n)) {
    StdPrintf("ReadFile failed with error no %d.\n", SerialLastError());
    return false;
  }
  CaptureReceiverBytes(buffer.text + buffer.length, n);
  buffer.length += static_cast<int>(n);
  return true;
}

void ReportMissingLineEnd() { StdWrite("MUST NOT HAPPEN!"); }
void ReportGsvNumber() { StdWrite("Warning 5!!"); }

}  // namespace

const char kGalileoHotStartMessage[] = "GAL C/No differ by more than 4 dB --> HOT START!\n";

void HotStartAfterGalileoSpread(ReceiveBuffer& buffer) {
  HotStartReceiver();
  SerialPurge(ReceiverPort, kSerialPurgeReceive);
  buffer.length = 0;
}

double WaitForFix(FixStatus& status, SatelliteTable& table, FixRecord& fix, const int& abortFlag) {
  double t0 = Timer();
  double tNow = t0;
  auto buffer = std::make_unique<ReceiveBuffer>();
  EpochState state;
  BeginEpochCall(state, table);

  for (;;) {
    BeginEpochPass(state, table, status);
    SerialPurge(ReceiverPort, kSerialPurgeReceive);
    buffer->length = 0;

    // Read until an epoch is complete or the time is up.
    bool haveEpoch = false;
    EpochSpan span;
    for (;;) {
      if (abortFlag) return tNow - t0;
      if (!ReadIntoBuffer(*buffer)) return 0.0;
      const EpochSearch search = FindBufferedEpoch(buffer->text, buffer->length, "GGA", &span);
      if (search == EpochSearch::kFound) {
        haveEpoch = true;
        break;
      }
      if (search == EpochSearch::kLostStart) continue;
      // No GGA yet, or a GGA still waiting for its successor: a receiver
      // that stops here must not hold the loop past its time.
      tNow = Timer();
      if (tNow - t0 > status.maxFixSeconds) break;
      WaitSeconds(kGgaPollSeconds);
    }

    if (haveEpoch) {
      const EpochOutcome outcome = DecodeEpoch(buffer->text, buffer->length, span.start, span.end,
                                               fix, status, table, state);
      if (outcome == EpochOutcome::kGsvNumberOutOfRange) {
        ReportGsvNumber();
        return 0.0;
      }
      if (outcome == EpochOutcome::kMissingLineEnd) ReportMissingLineEnd();
    }

    if (abortFlag) return tNow - t0;
    if (tNow - t0 > status.maxFixSeconds) return tNow - t0;

    const bool hotStarted = ApplyGalileoRule(status, table, [&] {
      LogStatus(kGalileoHotStartMessage);
      HotStartReceiver();
      t0 = Timer();
      tNow = t0;  // the waiting time starts again from here
      SerialPurge(ReceiverPort, kSerialPurgeReceive);
      buffer->length = 0;
    });
    if (!hotStarted) {
      tNow = Timer();
      WaitSeconds(kCyclePauseSeconds);
    }

    if (abortFlag) return tNow - t0;
    if (state.gsaCount >= status.minSatellites && status.inViewCount > 0 && status.fixMode == 3 &&
        state.dateSeen)
      return tNow - t0;
    if (!(tNow - t0 < status.maxFixSeconds)) return tNow - t0;
  }
}

int ReadNextFix(SatelliteTable& table, FixStatus& status, int* inViewCount, FixRecord& fix,
                ReceiveBuffer& buffer, const int& abortFlag, GalileoSpreadRule galileoRule) {
  EpochState state;
  BeginEpochCall(state, table);
  if (inViewCount) *inViewCount = -1;
  std::time_t start = CalendarTime();
  bool readNeeded = true;
  bool epochDone = false;

  for (;;) {
    if (abortFlag) break;
    WaitSeconds(kPassPauseSeconds);
    BeginEpochPass(state, table, status);
    if (readNeeded) {
      if (!ReadIntoBuffer(buffer)) return 0;
      readNeeded = false;
    }
    const StreamStep step = DecodeBufferedEpoch(buffer, fix, status, table, state);
    if (step == StreamStep::kNeedMore || step == StreamStep::kLostStart) {
      readNeeded = true;
    } else {
      if (inViewCount) *inViewCount = state.inView;
      if (step == StreamStep::kGsvNumberOutOfRange) {
        ReportGsvNumber();
        return 0;
      }
      if (step == StreamStep::kDecodedMissingLineEnd) ReportMissingLineEnd();
      epochDone = true;
      const bool hotStarted =
          galileoRule == GalileoSpreadRule::kHotStart && ApplyGalileoRule(status, table, [&] {
            LogStatus(kGalileoHotStartMessage);
            HotStartAfterGalileoSpread(buffer);
            start = CalendarTime();
          });
      if (!hotStarted) WaitSeconds(kAfterEpochSeconds);
    }
    if (epochDone) break;
    if (!(std::difftime(CalendarTime(), start) < kMonitorGiveUpSeconds)) break;
  }

  WaitSeconds(kFinishPauseSeconds);
  if (std::difftime(CalendarTime(), start) > kMonitorLateSeconds) {
    LogStatus(kMonitorTimeoutMessage);
    return 0;
  }
  return state.gsaCount;
}
