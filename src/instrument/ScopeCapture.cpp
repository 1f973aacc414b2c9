#include "instrument/ScopeCapture.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/stdio.h"

namespace {

// Digits of a block's byte count: one digit says how many follow.
constexpr ViUInt32 kMaxCountDigits = 9;
// VI_WRITE_BUF | VI_READ_BUF_DISCARD: send what is pending, drop what is unread.
constexpr ViUInt16 kFlushMask = 6;

ViStatus Send(ViSession session, const char* command) {
  ViUInt32 written = 0;
  return viWrite(session, reinterpret_cast<const ViByte*>(command),
                 static_cast<ViUInt32>(std::strlen(command)), &written);
}

ViStatus ReadBytes(ViSession session, ViByte* data, ViUInt32 count, ViUInt32* received) {
  *received = 0;
  return viRead(session, data, count, received);
}

// The byte count of the block header, 0 when it is not a number.
ViUInt32 AnnouncedCount(const ViByte* digits, ViUInt32 length) {
  unsigned long count = 0;
  for (ViUInt32 i = 0; i < length; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
    count = count * 10 + (digits[i] - '0');
  }
  return static_cast<ViUInt32>(std::min<unsigned long>(count, 0xFFFFFFFFUL));
}

// Reads the samples: at most kScopeMaxSamples bytes. A raw socket read ends at
// a line-feed byte, which is also a sample value (10); while the block's own
// count says more samples follow, reading goes on. Only the first read's
// status decides failure: what came before a later failure is kept.
ViStatus ReadSamples(ViSession session, ViUInt32 announced, std::vector<ViByte>& samples) {
  const ViUInt32 wanted = announced > 0 ? std::min(announced, kScopeMaxSamples) : kScopeMaxSamples;
  samples.assign(wanted, 0);
  ViUInt32 got = 0;
  const ViStatus status = ReadBytes(session, samples.data(), wanted, &got);
  if (status < 0) return status;
  while (status == VI_SUCCESS && announced > 0 && got < wanted) {
    ViUInt32 more = 0;
    const ViStatus next = ReadBytes(session, samples.data() + got, wanted - got, &more);
    got += more;
    if (next != VI_SUCCESS) break;
  }
  samples.resize(got);
  return status;
}

}  // namespace

std::optional<std::vector<double>> CaptureScopeWaveform(ViSession session, long* recordLength) {
  viSetAttribute(session, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS);
  viSetAttribute(session, VI_ATTR_RD_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS);

  long length = 0;
  float offset = 0.0f;
  float multiplier = 0.0f;
  std::vector<ViByte> samples;
  ViStatus status = VI_SUCCESS;
  // Each step runs only when the one before succeeded.
  [&] {
    if ((status = Send(session, "header off\n")) < 0) return;
    if ((status = Send(session, "DATA:SOURCE CH1\n")) < 0) return;
    if ((status = Send(session, ":HORIZONTAL:RECORDLEN 10000\n")) < 0) return;
    if ((status = viQueryf(session, ":hor:reco?\n", "%ld", &length)) < 0) return;
    Send(session, ":DATA:START 1;:DATA:STOP 10000\n");
    if ((status = viQueryf(session, "WFMOUTPRE:YOFF?\n", "%f", &offset)) < 0) return;
    if ((status = viQueryf(session, "WFMOutpre:YMULT?\n", "%f", &multiplier)) < 0) return;
    if ((status = Send(session, "DATA:ENCDG RIBINARY;WIDTH 1\n")) < 0) return;
    if ((status = Send(session, "CURVE?\n")) < 0) return;
    ViByte hash = 0;
    ViByte digit = 0;
    ViUInt32 got = 0;
    if ((status = ReadBytes(session, &hash, 1, &got)) < 0) return;
    if ((status = ReadBytes(session, &digit, 1, &got)) < 0) return;
    // A header digit that is not a digit announces no count.
    const ViUInt32 digits = (digit >= '0' && digit <= '9') ? ViUInt32(digit - '0') : 0;
    ViByte count[kMaxCountDigits] = {};
    ViUInt32 countLength = 0;
    if (digits > 0) ReadBytes(session, count, std::min(digits, kMaxCountDigits), &countLength);
    if ((status = ReadSamples(session, AnnouncedCount(count, countLength), samples)) < 0) return;
    status = VI_SUCCESS;
  }();

  std::vector<double> values;
  if (status >= 0) {
    const std::size_t points =
        length > 0 ? std::min(static_cast<std::size_t>(length), samples.size()) : 0;
    values.reserve(points);
    for (std::size_t i = 0; i < points; ++i) {
      const auto sample = static_cast<signed char>(samples[i]);
      values.push_back((sample - static_cast<double>(offset)) * static_cast<double>(multiplier));
    }
    status = viFlush(session, kFlushMask);
  }
  if (status < 0) {
    char description[256] = "";
    viStatusDesc(session, status, description);
    StdErrWrite(std::string("failure: ") + description + "\n");
    return std::nullopt;
  }
  if (recordLength != nullptr) *recordLength = static_cast<long>(values.size());
  return values;
}
