// libFuzzer target: the virtual receiver's command parser takes any bytes a
// station (or a stray process) writes to its port, in pieces of any size.
// The first byte chooses where the input is split.
#include <cstddef>
#include <cstdint>

#include "VirtualReceiverInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  emu::ReceiverInputParser parser;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  size_t left = size - 1;
  while (left > 0) {
    const size_t n = left < piece ? left : piece;
    parser.Feed(bytes, n);
    bytes += n;
    left -= n;
  }
  return 0;
}
