#include "app/DecodeNmea.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/stdio.h"
#include "receiver/Epoch.h"
#include "text/CText.h"

namespace {

// An epoch's line with a full table of 32 satellites is about 2.3 KB; most
// are shorter, and a longer one simply grows.
constexpr std::size_t kEpochJsonReserve = 2048;

// JSON has no infinities or NaN.
void AppendReal(std::string& out, double value) {
  if (std::isfinite(value))
    AppendFormatC(out, "%.17g", value);
  else
    out += "null";
}

std::string EpochJson(const FixRecord& fix, const FixStatus& status, const SatelliteTable& table,
                      int gsaCount) {
  std::string out;
  out.reserve(kEpochJsonReserve);
  AppendFormatC(out, "{\"time\":\"%02d:%02d:%02d\",\"date\":\"%02d.%02d.%04d\"", fix.hour,
                fix.minute, fix.second, fix.day, fix.month, fix.year);
  out += ",\"lat\":";
  AppendReal(out, fix.position.latitude);
  out += ",\"lon\":";
  AppendReal(out, fix.position.longitude);
  out += ",\"alt\":";
  AppendReal(out, fix.position.altitude);
  out += ",\"hdop\":";
  AppendReal(out, fix.hdop);
  out += ",\"vdop\":";
  AppendReal(out, fix.vdop);
  out += ",\"pdop\":";
  AppendReal(out, status.pdop);
  AppendFormatC(out, ",\"fixMode\":%d,\"usedCount\":%d,\"gsaCount\":%d,\"usedPrn\":[",
                status.fixMode, status.usedCount, gsaCount);
  for (std::size_t i = 0; i < status.usedPrn.size(); ++i)
    AppendFormatC(out, "%s%d", i ? "," : "", status.usedPrn[i]);
  AppendFormatC(out, "],\"inView\":%d,\"sats\":[", status.inViewCount);
  const int shown = std::clamp(status.inViewCount, 0, kSatelliteTableSize);
  for (int i = 0; i < shown; ++i) {
    const SatelliteEntry& s = table[static_cast<std::size_t>(i)];
    AppendFormatC(out, "%s{\"prn\":%d,\"elev\":%d,\"azim\":%d,\"cn0\":%d,\"used\":%s}",
                  i ? "," : "", s.prn, s.elevation, s.azimuth, s.cn0,
                  s.usedFlag == 'U' ? "true" : "false");
  }
  out += "]}\n";
  return out;
}

// Pieces in which the input is read and handed to the epoch decoding.
constexpr std::size_t kDecodeReadPiece = 64u << 10;

}  // namespace

int RunDecodeNmea(const char* path, std::size_t maxBytes) {
  if (!path) {
    StdErrReason(ErrnoText("cannot read (no file)", EINVAL));
    return 1;
  }

  auto buffer = std::make_unique<ReceiveBuffer>();
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
  int missingLineEnds = 0;
  const EpochVisitor onEpoch = [&](StreamStep step, const EpochState& state) {
    int gsaCount = state.gsaCount;
    if (step == StreamStep::kDecodedMissingLineEnd) ++missingLineEnds;
    if (step == StreamStep::kGsvNumberOutOfRange) {
      StdErrReason(FormatC("GSV message number out of range at %02d:%02d:%02d", fix.hour,
                           fix.minute, fix.second));
      gsaCount = 0;  // what the monitoring loop returns then
    }
    StdWrite(EpochJson(fix, status, table, gsaCount));
  };

  // Piece by piece, so that memory stays the same on a huge or endless input.
  EpochStream stream;
  BeginEpochStream(stream, *buffer, fix, status, table);
  int error = 0;
  const ReadOutcome outcome = ReadStreamChunks(
      path, maxBytes, kDecodeReadPiece,
      [&](std::string_view piece) { FeedEpochStream(stream, piece, onEpoch); }, &error);
  if (outcome == ReadOutcome::kMissing || outcome == ReadOutcome::kFailed) {
    StdErrReason(ErrnoText(std::string("cannot read ") + path, error));
    return 1;
  }
  FinishEpochStream(stream, onEpoch);

  if (missingLineEnds > 0)
    StdErrReason(
        FormatC("%d epoch(s) with a sentence not ended by CR LF; the rest of each was "
                "skipped",
                missingLineEnds));
  if (outcome == ReadOutcome::kCutAtBound) {
    StdErrReason(
        FormatC("%s: stopped after the first %zu bytes; the rest was not decoded", path, maxBytes));
    return 1;
  }
  return 0;
}
