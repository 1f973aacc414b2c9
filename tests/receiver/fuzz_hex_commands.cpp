// Fuzzes the receiver command-text parser: any text splits without fault,
// every ";" ends exactly one message, and the messages written back in the
// canonical form ("0xB5, 0x62;...") parse to the same messages.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "receiver/HexCommands.h"

namespace {

std::string Canonical(const std::vector<HexMessage>& messages) {
  std::string text;
  for (const HexMessage& message : messages) {
    for (std::size_t i = 0; i < message.bytes.size(); ++i) {
      char token[8];
      std::snprintf(token, sizeof token, "%s0x%02X", i ? ", " : "", message.bytes[i]);
      text += token;
    }
    if (message.endedBySemicolon) text += ';';
  }
  return text;
}

bool Same(const std::vector<HexMessage>& a, const std::vector<HexMessage>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].bytes != b[i].bytes || a[i].endedBySemicolon != b[i].endedBySemicolon) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<HexMessage> messages = SplitHexCommands(text);

  std::size_t separators = 0;
  for (char c : text) separators += c == ';';
  std::size_t ended = 0;
  for (const HexMessage& message : messages) ended += message.endedBySemicolon;
  if (ended != separators) std::abort();
  // Only the last message may end without a ";", and then it has bytes.
  for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
    if (!messages[i].endedBySemicolon) std::abort();
  }
  if (!messages.empty() && !messages.back().endedBySemicolon && messages.back().bytes.empty())
    std::abort();

  if (!Same(SplitHexCommands(Canonical(messages)), messages)) std::abort();
  return 0;
}
