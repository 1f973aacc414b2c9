#include "platform/stdio.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/stdio_window.h"

int StdPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) {
    va_end(args);
    return length;
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(static_cast<std::size_t>(length));
  StdWrite(text);
  return length;
}

void StdWrite(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  StdioWindowAppend(text);
}

void StdErrWrite(std::string_view text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  StdioWindowAppend(text);
}
