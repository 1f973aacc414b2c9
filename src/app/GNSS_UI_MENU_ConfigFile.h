// CONFIG.INI as text: cutting the file into lines, reading each line into the
// settings and the profile table, and writing the whole file. Nothing here
// touches a panel or a file; GNSS_UI_MENU_Config.cpp moves the values between
// the controls and these records.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "receiver/ReceiverProfile.h"

// Longest texts the file carries (characters, no terminator); longer ones are cut.
inline constexpr std::size_t kConfigLineMax = 2499;       // rest of a longer line is ignored
inline constexpr std::size_t kConfigAddressMax = 255;     // DUTIP
inline constexpr std::size_t kConfigLevelOffsetMax = 15;  // LEVEL_OFFSET
inline constexpr std::size_t kConfigRowValueMax = 1023;   // value of a BASIC or MOVING row
inline constexpr std::size_t kConfigRowTextMax = 255;     // one text field of a row

// The fields of the BASIC and MOVING rows, in file order.
enum class RowFieldKind { kInteger, kReal, kText };
inline constexpr std::size_t kBasicRowFieldCount = 15;
inline constexpr std::size_t kMovingRowFieldCount = 11;
// clang-format off
inline constexpr RowFieldKind kBasicRowKinds[kBasicRowFieldCount] = {
    RowFieldKind::kInteger,  // BASIC_ITERATIONS
    RowFieldKind::kInteger,  // BASIC_NUM_GPS
    RowFieldKind::kInteger,  // BASIC_PCODE
    RowFieldKind::kInteger,  // BASIC_NUM_GAL
    RowFieldKind::kInteger,  // BASIC_NUM_GLN
    RowFieldKind::kInteger,  // BASIC_MIN_SATS
    RowFieldKind::kText,     // BASIC_GPS_SVID
    RowFieldKind::kText,     // BASIC_GAL_SVID
    RowFieldKind::kText,     // BASIC_GLN_SVID
    RowFieldKind::kReal,     // BASIC_MAX_FIXTIME
    RowFieldKind::kReal,     // BASIC_REF_LAT
    RowFieldKind::kReal,     // BASIC_REF_LON
    RowFieldKind::kReal,     // BASIC_REF_ALT
    RowFieldKind::kReal,     // BASIC_RADIUS
    RowFieldKind::kReal,     // BASIC_TOFFSET
};
inline constexpr RowFieldKind kMovingRowKinds[kMovingRowFieldCount] = {
    RowFieldKind::kInteger,  // MOVING_DURATION
    RowFieldKind::kInteger,  // MOVING_NUM_GPS
    RowFieldKind::kInteger,  // MOVING_NUM_GAL
    RowFieldKind::kInteger,  // MOVING_NUM_GLN
    RowFieldKind::kInteger,  // MOVING_MIN_SATS
    RowFieldKind::kText,     // MOVING_GPS_SVIDS
    RowFieldKind::kText,     // MOVING_GAL_SVIDS
    RowFieldKind::kText,     // MOVING_GLN_SVIDS
    RowFieldKind::kText,     // MOVING_WAYPOINTS
    RowFieldKind::kReal,     // MOVING_TIME_OFFSET
    RowFieldKind::kReal,     // MOVING_IGNORE_TIME
};
// clang-format on

// One field of a row; only the member of the field's kind is meaningful.
struct RowField {
  bool present = false;  // set by the loader when a row gave this field
  int integer = 0;
  double real = 0.0;
  std::string text;
};

// The settings that live in the main panel's controls.
struct ConfigSettings {
  std::string address;      // MAIN_DUTIP
  std::string levelOffset;  // MAIN_LEVEL_OFFSET
  RowField basic[kBasicRowFieldCount];
  RowField moving[kMovingRowFieldCount];
};

// One load in progress. The caller seeds `settings.address` with the address
// of the previous load and points `profiles` at types 0..20 of the table.
struct ConfigLoad {
  ConfigSettings settings{{}, "0", {}, {}};  // the level offset starts at "0"
  ReceiverProfile* profiles = nullptr;
  std::string pendingLine;  // characters of the current line so far
  bool pendingCut = false;  // the current line passed kConfigLineMax
};

// Feeds the next bytes of the file; lines may span calls.
void FeedConfigBytes(ConfigLoad& load, std::string_view bytes);
// Ends the file: a last line without a line end is read as well.
void FinishConfigBytes(ConfigLoad& load);
// Reads one line (its line end included, if it has one).
void ApplyConfigLine(ConfigLoad& load, std::string_view line);

// The whole file: DUTIP, LEVEL_OFFSET, the four lines of every type 0..20 with
// a non-empty text, the BASIC and MOVING rows; CR LF line ends.
std::string FormatConfigFile(const ConfigSettings& settings, const ReceiverProfile* profiles);
