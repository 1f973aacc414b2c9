#include "text/CText.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace {

// Formatted texts up to this length take one vsnprintf pass.
constexpr std::size_t kFormatOnePassMax = 255;

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What atoi and atof skip before the digits: white space, then one sign.
const char* SkipSpaceAndSign(const char* p, const char* end, bool* negative) {
  while (p < end && IsCSpace(*p)) ++p;
  *negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    *negative = *p == '-';
    ++p;
  }
  return p;
}

// strtod in the C locale on a bounded, terminated copy: for the forms that
// std::from_chars reads differently (hexadecimal, inf/nan, a lone sign or
// point, values beyond the double range).
double SlowReadDouble(const char* text, std::size_t length) {
  const locale_t c = CLocale();
  char stackCopy[kReadDoubleStackMax + 1];
  std::string heapCopy;
  char* copy = stackCopy;
  if (length > kReadDoubleStackMax) {
    heapCopy.assign(text, length);
    copy = heapCopy.data();
  } else {
    std::memcpy(copy, text, length);
    copy[length] = '\0';
  }
  if (c == static_cast<locale_t>(0)) return std::strtod(copy, nullptr);
  return strtod_l(copy, nullptr, c);
}

}  // namespace

locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

ScopedCLocale::ScopedCLocale()
    : previous_(CLocale() != static_cast<locale_t>(0) ? uselocale(CLocale())
                                                      : static_cast<locale_t>(0)) {}

ScopedCLocale::~ScopedCLocale() {
  if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
}

bool AppendVFormatC(std::string& out, const char* format, va_list args) {
  ScopedCLocale c;
  // Most texts (commands, progress lines, pieces of JSON) fit here and are
  // formatted once; a longer one is formatted again, into the string.
  char shortText[kFormatOnePassMax + 1];
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(shortText, sizeof shortText, format, copy);
  va_end(copy);
  if (length < 0) return false;
  if (static_cast<std::size_t>(length) <= kFormatOnePassMax) {
    out.append(shortText, static_cast<std::size_t>(length));
    return true;
  }
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(length));
  // The string's own terminator is the room for vsnprintf's.
  if (std::vsnprintf(out.data() + at, static_cast<std::size_t>(length) + 1, format, args) !=
      length) {
    out.resize(at);
    return false;
  }
  return true;
}

bool AppendFormatC(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool formatted = AppendVFormatC(out, format, args);
  va_end(args);
  return formatted;
}

std::string VFormatC(const char* format, va_list args) {
  std::string text;
  AppendVFormatC(text, format, args);
  return text;
}

std::string FormatC(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormatC(format, args);
  va_end(args);
  return text;
}

int ReadIntC(const char* text, std::size_t length) {
  if (length == 0) return 0;
  const char* const end = text + length;
  bool negative = false;
  const char* p = SkipSpaceAndSign(text, end, &negative);
  constexpr std::int64_t kLimit = static_cast<std::int64_t>(INT_MAX) + 1;  // |INT_MIN|
  std::int64_t value = 0;
  for (; p < end && IsDigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > kLimit) value = kLimit;  // saturate; stays far from int64 overflow
  }
  if (negative) return static_cast<int>(-value);  // -kLimit is INT_MIN
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

double ReadDoubleC(const char* text, std::size_t length) {
  if (length == 0) return 0.0;
  const char* const end = text + length;
  bool negative = false;
  const char* p = SkipSpaceAndSign(text, end, &negative);
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
