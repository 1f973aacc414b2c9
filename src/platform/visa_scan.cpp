#include "platform/visa_scan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <string_view>

namespace {

void CopyText(std::string_view text, char* destination) {
  const size_t n = std::min(text.size(), kFormattedTextCapacity - 1);
  std::memcpy(destination, text.data(), n);
  destination[n] = '\0';
}

// The number at message[in]: an optional "+" (from_chars takes only "-"),
// then digits read in the C locale whatever the process's locale. Moves `in`
// past it; false when there is none.
template <typename Number>
bool ScanNumber(const std::string& message, size_t& in, Number* value) {
  size_t start = in;
  if (start < message.size() && message[start] == '+') ++start;
  const auto [end, ec] =
      std::from_chars(message.data() + start, message.data() + message.size(), *value);
  if (ec != std::errc()) return false;
  in = static_cast<size_t>(end - message.data());
  return true;
}

}  // namespace

ViStatus ScanMessage(const std::string& message, const char* format, va_list args) {
  size_t in = 0;
  const auto skipSpace = [&] {
    while (in < message.size() && std::isspace(static_cast<unsigned char>(message[in]))) ++in;
  };
  for (const char* f = format; *f; ++f) {
    if (std::isspace(static_cast<unsigned char>(*f))) {
      skipSpace();
      continue;
    }
    if (*f != '%') {
      if (in >= message.size() || message[in] != *f) return VI_ERROR_INV_FMT;
      ++in;
      continue;
    }
    ++f;
    bool isLong = false;
    if (*f == 'l') {
      isLong = true;
      ++f;
    }
    switch (*f) {
      case 't':
        CopyText(std::string_view(message).substr(in), va_arg(args, char*));
        in = message.size();
        break;
      case 's': {
        skipSpace();
        size_t end = in;
        while (end < message.size() && !std::isspace(static_cast<unsigned char>(message[end])))
          ++end;
        if (end == in) return VI_ERROR_INV_FMT;
        CopyText(std::string_view(message).substr(in, end - in), va_arg(args, char*));
        in = end;
        break;
      }
      case 'd': {
        skipSpace();
        long value = 0;
        if (!ScanNumber(message, in, &value)) return VI_ERROR_INV_FMT;
        if (isLong)
          *va_arg(args, long*) = value;
        else
          *va_arg(args, int*) = static_cast<int>(value);
        break;
      }
      case 'f': {
        skipSpace();
        double value = 0.0;
        if (!ScanNumber(message, in, &value)) return VI_ERROR_INV_FMT;
        if (isLong)
          *va_arg(args, double*) = value;
        else
          *va_arg(args, float*) = static_cast<float>(value);
        break;
      }
      default:
        return VI_ERROR_INV_FMT;
    }
  }
  return VI_SUCCESS;
}

ViStatus ScanMessageF(const std::string& message, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const ViStatus status = ScanMessage(message, format, args);
  va_end(args);
  return status;
}
