// Text in the C locale, whatever the process locale: numbers read exactly as
// the C library's atoi/atof read them in the "C" locale, a scoped switch of
// the calling thread to that locale, and printf-style formatting into a
// std::string. Numbers on the wire and in files go through here.
#pragma once

#include <locale.h>

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// The C locale object (made once; never freed).
locale_t CLocale();

// atoi over text[0..length): leading white space, sign, digits; 0 when there
// are none. Beyond the int range the value is clamped to INT_MIN/INT_MAX, as
// strtol clamps to its own range. No terminator needed, no heap.
int ReadIntC(const char* text, std::size_t length);
inline int ReadIntC(std::string_view text) { return ReadIntC(text.data(), text.size()); }

// atof over text[0..length), including hexadecimal forms, inf and nan. No
// heap for texts up to kReadDoubleStackMax characters.
double ReadDoubleC(const char* text, std::size_t length);
inline double ReadDoubleC(std::string_view text) { return ReadDoubleC(text.data(), text.size()); }
inline constexpr std::size_t kReadDoubleStackMax = 64;

// Switches the calling thread to the C locale for its lifetime (uselocale),
// then back to what it was.
class ScopedCLocale {
 public:
  ScopedCLocale();
  ~ScopedCLocale();
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  locale_t previous_;
};

// printf into a std::string of the exact length, numbers in the C locale. A
// format the C library cannot carry out (an encoding error) gives "".
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormatC(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
// The same appended to `out`, for texts built piece by piece and for callers
// that report that error: false, and `out` as it was.
bool AppendFormatC(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool AppendVFormatC(std::string& out, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));
