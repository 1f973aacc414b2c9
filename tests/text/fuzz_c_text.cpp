// Differential fuzz target for the C-locale text module: its number readers
// against the C library's atoi/atof, and its formatter against snprintf, all
// in the C locale (libFuzzer never changes the locale). Integers beyond the
// int range must equal strtol's result clamped to int.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/CText.h"

namespace {

// The widest text formatted below: "%.17g|%s|%x" of a 256-byte text, or
// "%f" of the largest double (309 digits, the point and six decimals).
constexpr std::size_t kReferenceSize = 2048;

// FormatC(format, values...) must be exactly what snprintf writes.
template <typename... Values>
void CheckFormat(const char* format, Values... values) {
  char reference[kReferenceSize];
  const int length = std::snprintf(reference, sizeof reference, format, values...);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof reference) std::abort();
  const std::string ours = FormatC(format, values...);
  if (ours.size() != static_cast<std::size_t>(length)) std::abort();
  if (std::memcmp(ours.data(), reference, ours.size()) != 0) std::abort();
}

}  // namespace

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

  // The formatter on the numbers just read and on the raw bytes taken as a
  // double and an int (any bit pattern: NaNs, infinities, subnormals).
  double raw = 0.0;
  int rawInt = 0;
  if (size >= sizeof raw) std::memcpy(&raw, data, sizeof raw);
  if (size >= sizeof raw + sizeof rawInt) std::memcpy(&rawInt, data + sizeof raw, sizeof rawInt);
  for (const double value : {got, raw}) {
    CheckFormat("%f", value);
    CheckFormat("%.3lf", value);
    CheckFormat("%.17g|%s|%x", value, text.c_str(), static_cast<unsigned>(rawInt));
  }
  for (const int value : {ours, rawInt}) CheckFormat("%d", value);
  return 0;
}
