#include "platform/stdio.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/stdio_window.h"
#include "text/CText.h"

int StdPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text;
  const bool formatted = AppendVFormatC(text, format, args);
  va_end(args);
  if (!formatted) return -1;
  StdWrite(text);
  return static_cast<int>(text.size());
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

void StdErrReason(std::string_view reason) {
  std::string line = "gnss-station: ";
  line += reason;
  line += '\n';
  StdErrWrite(line);
}
