#include "receiver/NmeaNumber.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <stdlib.h>
#include <system_error>

namespace {


bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// strtod in the C locale on a bounded, terminated copy: for the forms that
// std::from_chars reads differently (hexadecimal, inf/nan, a lone sign or
// point, values beyond the double range).
double SlowReadDouble(const char* text, std::size_t length) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  char copy[kNmeaNumberTextMax + 1];
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  if (cLocale == static_cast<locale_t>(0)) return std::strtod(copy, nullptr);
  return strtod_l(copy, nullptr, cLocale);
}

}  // namespace

int NmeaReadInt(const char* text, std::size_t length) {
  if (length == 0) return 0;
  length = std::min(length, kNmeaNumberTextMax);
  const char* p = text;
  const char* const end = text + length;
  while (p < end && IsCSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  constexpr std::int64_t kLimit = static_cast<std::int64_t>(INT_MAX) + 1;  // |INT_MIN|
  std::int64_t value = 0;
  for (; p < end && IsDigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > kLimit) value = kLimit;  // saturate; stays far from int64 overflow
  }
  if (negative) return static_cast<int>(-value);  // -kLimit is INT_MIN
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

double NmeaReadDouble(const char* text, std::size_t length) {
  if (length == 0) return 0.0;
  length = std::min(length, kNmeaNumberTextMax);
  const char* p = text;
  const char* const end = text + length;
  while (p < end && IsCSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Fast path: plain decimal text, which std::from_chars reads exactly as
  // strtod does (correctly rounded) and independent of the locale.
  const bool hex = end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (p < end && (IsDigit(*p) || *p == '.') && !hex) {
    double value = 0.0;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc()) return negative ? -value : value;
  }
  return SlowReadDouble(text, length);
}
