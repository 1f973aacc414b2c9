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

namespace {

bool IsTokenSeparator(char c) {
  return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' ||
         c == '\f';
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsHexByteToken(std::string_view token) {
  if (token.size() < 3 || token.size() > kHexTokenLength || token.compare(0, 2, "0x") != 0)
    return false;
  for (std::size_t i = 2; i < token.size(); ++i) {
    if (!IsHexDigit(token[i])) return false;
  }
  return true;
}

}  // namespace

std::vector<HexTokenProblem> FindNonHexTokens(std::string_view text) {
  std::vector<HexTokenProblem> problems;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsTokenSeparator(text[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && !IsTokenSeparator(text[i])) ++i;
    const std::string_view token = text.substr(start, i - start);
    if (!IsHexByteToken(token)) problems.push_back({start + 1, std::string(token)});
  }
  return problems;
}
