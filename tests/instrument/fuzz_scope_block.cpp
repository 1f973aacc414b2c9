// Fuzzes the oscilloscope capture of test 011 with whatever an oscilloscope
// sends back on its session: the record length, offset and multiplier
// answers, then the curve as an IEEE 488.2 definite-length block ("#" and a
// digit, that many count digits, the samples). However the block is framed
// or sized, at most the capture's sample bound is kept and every value
// comes from a sample.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzPeer.h"
#include "instrument/ScopeCapture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzPeer& peer = FuzzPeer::Instance();
  const ViSession session = peer.Open(data, size);
  if (session == VI_NULL) return 0;
  long count = -1;
  const auto values = CaptureScopeWaveform(session, &count);
  if (values) {
    if (values->size() > kScopeMaxSamples) std::abort();
    if (count != static_cast<long>(values->size())) std::abort();
  }
  peer.Close(session);
  return 0;
}
