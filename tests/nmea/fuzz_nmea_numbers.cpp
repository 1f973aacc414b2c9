// Differential fuzz target: the station's number reading against the C
// library's atoi/atof in the C locale (libFuzzer never changes the locale).
// Integers beyond the int range must equal strtol's result clamped to int.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/CText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Texts beyond kReadDoubleStackMax characters take the heap copy; both
  // paths are covered.
  if (size > 4 * kReadDoubleStackMax) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const long wide = std::strtol(text.c_str(), nullptr, 10);
  const int clamped = wide > INT_MAX ? INT_MAX : wide < INT_MIN ? INT_MIN : static_cast<int>(wide);
  const int ours = ReadIntC(text.data(), text.size());
  if (ours != clamped) std::abort();
  if (wide >= INT_MIN && wide <= INT_MAX && ours != std::atoi(text.c_str())) std::abort();

  const double expected = std::atof(text.c_str());
  const double got = ReadDoubleC(text.data(), text.size());
  if (std::memcmp(&expected, &got, sizeof got) != 0) std::abort();
  return 0;
}
