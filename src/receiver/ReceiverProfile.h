// Receiver profiles: for each receiver type the four command texts that bring
// a receiver of that type into a known state before a test.
#pragma once

#include <string>

inline constexpr int kReceiverTypeCapacity = 30;  // room for types 0..29
inline constexpr int kReceiverTypeCount = 21;     // types 0..20 are used and saved

// Longest text each field keeps; longer values are cut.
inline constexpr std::size_t kCommandTextMax = 1023;     // cold start, GPS init, GLONASS init
inline constexpr std::size_t kExtraCommandsMax = 10239;  // additional commands, ";"-separated
inline constexpr std::size_t kSingleExtraCommandMax = 255;

struct ReceiverProfile {
  std::string gpsInit;        // RCVGPS
  std::string glonassInit;    // RCVGLN
  std::string coldStart;      // RCVCLD
  std::string extraCommands;  // RCVXTR
};

extern ReceiverProfile ReceiverProfiles[kReceiverTypeCapacity];

// The type whose profile InitReceiver sends; set only by COMBO_RCVTYPE_CALLBK.
extern int SelectedReceiverType;

// Empties types 0..20, then gives types 0 and 1 their built-in texts.
void SetDefaultReceiverProfiles();
