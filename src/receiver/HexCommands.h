// The receiver command-text format: hexadecimal byte tokens ("0xB5, 0x62")
// with ";" between messages. Standard library only.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// "0x" and the two characters after it.
inline constexpr std::size_t kHexTokenLength = 4;

// One message of a command text: its bytes and whether a ";" ended it (then a
// 0.1 s pause follows the write).
struct HexMessage {
  std::vector<unsigned char> bytes;
  bool endedBySemicolon = false;
};

// Splits a command text into messages. A token is "0x" and the two
// characters after it read as strtol base 16 reads them (0xB5 is 181, "0xB,"
// is 11), low 8 bits kept; the scan goes on 4 characters further, or at a
// ";" among them. Anything else is skipped.
std::vector<HexMessage> SplitHexCommands(std::string_view text);
