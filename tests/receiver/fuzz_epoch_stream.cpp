// Fuzzes the epoch cutter and decoder: any byte stream cut into epochs as the
// monitoring loop does it, and the first epoch as the acquisition loop finds it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "receiver/Epoch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto buffer = std::make_unique<ReceiveBuffer>();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
  DecodeEpochStream(text, *buffer, fix, status, table, [&](StreamStep, const EpochState& state) {
    if (status.inViewCount < 0 || status.inViewCount > kSatelliteTableSize) std::abort();
    if (state.inView > kSatelliteTableSize) std::abort();
    ApplyGalileoRule(status, table, nullptr);
  });

  // The acquisition loop's cut ("GGA" without comma) on one read's worth.
  const int length = static_cast<int>(size < kReadChunkMax ? size : kReadChunkMax);
  std::memcpy(buffer->text, data, static_cast<std::size_t>(length));
  EpochSpan span;
  EpochState state;
  BeginEpochCall(state, table);
  if (FindBufferedEpoch(buffer->text, length, "GGA", &span) == EpochSearch::kFound)
    DecodeEpoch(buffer->text, length, span.start, span.end, fix, status, table, state);
  return 0;
}
