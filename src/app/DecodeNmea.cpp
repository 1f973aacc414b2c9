#include "app/DecodeNmea.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/stdio.h"
#include "receiver/Epoch.h"
#include "text/CText.h"

namespace {

// JSON has no infinities or NaN.
void AppendReal(std::string& out, double value) {
  if (std::isfinite(value))
    out += FormatC("%.17g", value);
  else
    out += "null";
}

std::string EpochJson(const FixRecord& fix, const FixStatus& status, const SatelliteTable& table,
                      int gsaCount) {
  std::string out;
  out.reserve(2048);
  out += FormatC("{\"time\":\"%02d:%02d:%02d\",\"date\":\"%02d.%02d.%04d\"", fix.hour, fix.minute,
                 fix.second, fix.day, fix.month, fix.year);
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
  out += FormatC(",\"fixMode\":%d,\"usedCount\":%d,\"gsaCount\":%d,\"usedPrn\":[", status.fixMode,
                 status.usedCount, gsaCount);
  for (std::size_t i = 0; i < status.usedPrn.size(); ++i)
    out += FormatC("%s%d", i ? "," : "", status.usedPrn[i]);
  out += FormatC("],\"inView\":%d,\"sats\":[", status.inViewCount);
  const int shown = std::clamp(status.inViewCount, 0, kSatelliteTableSize);
  for (int i = 0; i < shown; ++i) {
    const SatelliteEntry& s = table[static_cast<std::size_t>(i)];
    out += FormatC("%s{\"prn\":%d,\"elev\":%d,\"azim\":%d,\"cn0\":%d,\"used\":%s}", i ? "," : "",
                   s.prn, s.elevation, s.azimuth, s.cn0, s.usedFlag == 'U' ? "true" : "false");
  }
  out += "]}\n";
  return out;
}

// The whole file, or false with errno set.
bool ReadWholeFile(const char* path, std::string& text) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  const bool ok = !std::ferror(file);
  const int savedErrno = errno;
  std::fclose(file);
  errno = savedErrno;
  return ok;
}

}  // namespace

int RunDecodeNmea(const char* path) {
  std::string text;
  if (!path || !ReadWholeFile(path, text)) {
    std::fprintf(stderr, "gnss-station: cannot read %s: %s\n", path ? path : "(no file)",
                 std::strerror(errno));
    return 1;
  }

  auto buffer = std::make_unique<ReceiveBuffer>();
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
  int missingLineEnds = 0;
  DecodeEpochStream(
      text, *buffer, fix, status, table, [&](StreamStep step, const EpochState& state) {
        int gsaCount = state.gsaCount;
        if (step == StreamStep::kDecodedMissingLineEnd) ++missingLineEnds;
        if (step == StreamStep::kGsvNumberOutOfRange) {
          std::fprintf(stderr, "gnss-station: GSV message number out of range at %02d:%02d:%02d\n",
                       fix.hour, fix.minute, fix.second);
          gsaCount = 0;  // what the monitoring loop returns then
        }
        StdWrite(EpochJson(fix, status, table, gsaCount));
      });
  if (missingLineEnds > 0)
    std::fprintf(stderr,
                 "gnss-station: %d epoch(s) with a sentence not ended by CR LF; the rest of "
                 "each was skipped\n",
                 missingLineEnds);
  return 0;
}
