// The receiver command-text format: hexadecimal byte tokens ("0xB5, 0x62")
// with ";" between messages. Standard library only.
#pragma once

#include <cstddef>
#include <string>
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

// A token of a command text that is not a hexadecimal byte, and where it
// starts (1-based character position in the text).
struct HexTokenProblem {
  std::size_t position = 0;
  std::string token;
};

// The tokens (the pieces between commas, ";" and white space) that are not
// "0x" followed by one or two hexadecimal digits. SplitHexCommands skips such
// text, or sends only part of it ("0x1FF" goes out as 0x1F), so each one is
// most likely a typing error worth a warning.
std::vector<HexTokenProblem> FindNonHexTokens(std::string_view text);
