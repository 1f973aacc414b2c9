// Fuzzes the epoch cutter as the fix loops drive it over many reads: the
// input's head is a script of read sizes (what one port read returns: 0 for a
// read that times out, at most kReadChunkMax), the rest is the receiver's
// byte stream. The buffer rule of the loops' read (FixAcquisition.cpp) is
// applied here as there: a read appends only where it fits, and from
// kReceiveBufferFullMark on the buffer is emptied first. Streams of tens of
// kilobytes (run with -max_len=65536) reach that rule. The unused tail of the
// buffer is poisoned, so any read past the buffered text is reported.
//
// Input: byte 0 = n (0..15) read sizes follow as n little-endian 16-bit
// values (each taken modulo kReadChunkMax + 1; n = 0 means full reads), then
// the stream. The same stream is also run through the acquisition loop's
// cut (buffer emptied at every cycle, first GGA without its comma).
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "receiver/Epoch.h"

namespace {

struct Script {
  std::vector<std::size_t> sizes;
  std::size_t next = 0;
  std::size_t Next() {
    if (sizes.empty()) return kReadChunkMax;
    const std::size_t n = sizes[next];
    next = (next + 1) % sizes.size();
    return n;
  }
};

// What arrives on the port, read by read.
struct Port {
  std::string_view stream;
  Script script;
  int idleReads = 0;  // reads in a row that brought nothing
  // Nothing left, or a port that keeps timing out.
  bool Exhausted() const { return stream.empty() || idleReads > 2 * 16; }
  // The loops' ReadIntoBuffer.
  void ReadInto(ReceiveBuffer& buffer) {
    if (buffer.length >= kReceiveBufferFullMark || buffer.length < 0) buffer.length = 0;
    const std::size_t room = static_cast<std::size_t>(kReceiveBufferCapacity - buffer.length);
    std::size_t n = std::min(
        {script.Next(), room < kReadChunkMax ? room : std::size_t{kReadChunkMax}, stream.size()});
    ASAN_UNPOISON_MEMORY_REGION(buffer.text, sizeof buffer.text);
    std::memcpy(buffer.text + buffer.length, stream.data(), n);
    stream.remove_prefix(n);
    buffer.length += static_cast<int>(n);
    idleReads = n == 0 ? idleReads + 1 : 0;
  }
};

void PoisonTail(ReceiveBuffer& buffer) {
  if (buffer.length < 0 || buffer.length > kReceiveBufferCapacity) std::abort();
  ASAN_UNPOISON_MEMORY_REGION(buffer.text, sizeof buffer.text);
  ASAN_POISON_MEMORY_REGION(buffer.text + buffer.length,
                            sizeof buffer.text - static_cast<std::size_t>(buffer.length));
}

void CheckRecords(const FixStatus& status, const EpochState& state) {
  if (status.inViewCount < -1 || status.inViewCount > kSatelliteTableSize) std::abort();
  if (state.inView > kSatelliteTableSize) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Script script;
  const std::size_t count = data[0] % 16;
  std::size_t at = 1;
  for (std::size_t i = 0; i < count && at + 1 < size; ++i, at += 2)
    script.sizes.push_back((data[at] | (data[at + 1] << 8)) % (kReadChunkMax + 1));
  const std::string_view stream(reinterpret_cast<const char*>(data) + at, size - at);

  static ReceiveBuffer* buffer = new ReceiveBuffer();
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;

  // The monitoring loop: one ReadNextFix call per epoch, the buffer carried over.
  Port port{stream, script};
  buffer->length = 0;
  while (!port.Exhausted()) {
    EpochState state;
    BeginEpochCall(state, table);
    bool readNeeded = true;
    for (;;) {
      BeginEpochPass(state, table, status);
      if (readNeeded) {
        if (port.Exhausted()) break;
        port.ReadInto(*buffer);
        readNeeded = false;
      }
      PoisonTail(*buffer);
      const StreamStep step = DecodeBufferedEpoch(*buffer, fix, status, table, state);
      if (step == StreamStep::kNeedMore || step == StreamStep::kLostStart) {
        readNeeded = true;
        continue;
      }
      CheckRecords(status, state);
      // A hot start drops the buffered text, as the loop does.
      ApplyGalileoRule(status, table, [&] { buffer->length = 0; });
      break;
    }
  }

  // The acquisition loop: each cycle starts from an empty buffer and reads
  // until an epoch is found.
  Port acquisition{stream, script};
  while (!acquisition.Exhausted()) {
    EpochState state;
    BeginEpochCall(state, table);
    BeginEpochPass(state, table, status);
    buffer->length = 0;
    EpochSpan span;
    EpochSearch search = EpochSearch::kNoGga;
    while (!acquisition.Exhausted()) {
      acquisition.ReadInto(*buffer);
      PoisonTail(*buffer);
      search = FindBufferedEpoch(buffer->text, buffer->length, "GGA", &span);
      if (search == EpochSearch::kFound) break;
    }
    if (search != EpochSearch::kFound) break;
    PoisonTail(*buffer);
    DecodeEpoch(buffer->text, buffer->length, span.start, span.end, fix, status, table, state);
    CheckRecords(status, state);
  }
  ASAN_UNPOISON_MEMORY_REGION(buffer->text, sizeof buffer->text);
  return 0;
}
