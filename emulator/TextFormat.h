// The emulator's text helpers. Format: printf-style formatting into a
// std::string of whatever length the text needs, nothing is cut (the
// emulator keeps LC_NUMERIC at "C", so numbers come out with a decimal
// point). Header only, like the pure parts that use it.
#pragma once

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

namespace emu {

__attribute__((format(printf, 1, 2))) inline std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    // vsnprintf ends with a NUL, written over the string's own terminator.
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}

// ASCII upper case, as SCPI headers, keywords and tags compare.
inline std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace emu
