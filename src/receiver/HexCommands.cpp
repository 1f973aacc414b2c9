#include "receiver/HexCommands.h"

#include <cstdlib>
#include <utility>

std::vector<HexMessage> SplitHexCommands(std::string_view text) {
  std::vector<HexMessage> messages;
  HexMessage current;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ';') {
      current.endedBySemicolon = true;
      messages.push_back(std::move(current));
      current = HexMessage{};
      ++i;
    } else if (text.compare(i, 2, "0x") == 0) {
      char token[kHexTokenLength + 1] = {};
      text.copy(token, kHexTokenLength, i);
      current.bytes.push_back(static_cast<unsigned char>(std::strtol(token, nullptr, 16) & 0xFF));
      // A one-digit token right before ";" must not swallow the separator.
      const std::size_t separator = text.find(';', i + 2);
      i += (separator != std::string_view::npos && separator < i + kHexTokenLength)
               ? separator - i
               : kHexTokenLength;
    } else {
      ++i;
    }
  }
  if (!current.bytes.empty()) messages.push_back(std::move(current));
  return messages;
}
