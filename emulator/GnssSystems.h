// The satellite systems the emulated lab knows, one row each: how the
// simulator's SCPI names them, the satellite numbers they have, and how the
// virtual receiver reports and configures them. Whatever differs between GPS,
// Galileo and GLONASS is in this table; code looks the row up instead of
// switching on the system. Standard C++ only, header only (the receiver's
// input parser is built on its own into its test and fuzz target).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "TextFormat.h"

namespace emu {

// Also the row's index in kGnssSystems.
enum class GnssSystem { Gps, Galileo, Glonass };
inline constexpr std::size_t kGnssSystemCount = 3;

// The receiver's system mask (CFG-GNSS): bit 0 GPS, bit 1 Galileo, bit 2 GLONASS.
enum : unsigned { kSystemGps = 1u, kSystemGalileo = 2u, kSystemGlonass = 4u };
inline constexpr unsigned kAllSystems = kSystemGps | kSystemGalileo | kSystemGlonass;

struct GnssSystemRow {
  GnssSystem system;
  // The instrument's slot standard: the tag it answers with, then every
  // spelling it takes (upper case).
  const char* standardTag;
  std::array<const char*, 3> standardSpellings;
  // The node of the baseband prefix (SOUR:BB:<node>) and of HYBRid:<node>,
  // in the notation of ScpiCommandTable; ScpiCall::Choice gives it in upper case.
  const char* scpiNode;
  int maxSvid;                     // highest satellite number of the standard
  const char* defaultSignal;       // what the automatic constellation radiates
  std::span<const int> autoSvids;  // numbers the automatic constellation hands out, in order
  // The virtual receiver's side.
  const char* name;      // in its log
  const char* talker;    // NMEA talker of the system's own sentences
  int nmeaNumberOffset;  // reported satellite number = SVID + offset
  int reportOrder;       // receivers list GPS, then GLONASS, then Galileo
  unsigned receiverBit;  // in the CFG-GNSS system mask
  int ubxGnssId;         // gnssId of the CFG-GNSS block
};

namespace gnss_detail {
// A spread of numbers that exist in the real constellations.
inline constexpr int kGpsSvids[] = {2, 5,  7,  9,  13, 15, 18, 21, 24, 26, 29, 30, 1,  3,  4,  6,
                                    8, 10, 11, 12, 14, 16, 17, 19, 20, 22, 23, 25, 27, 28, 31, 32};
inline constexpr int kGalileoSvids[] = {1,  3,  4,  5,  7,  8,  9,  11, 12, 13, 15,
                                        19, 21, 24, 25, 26, 27, 30, 31, 33, 34, 36};
inline constexpr int kGlonassSvids[] = {1,  2,  3,  7,  8,  9,  11, 12, 13, 14, 15, 17,
                                        18, 19, 20, 21, 22, 23, 24, 4,  5,  6,  10, 16};
}  // namespace gnss_detail

// Satellite numbers as the receiver reports them: GPS 1-32, GLONASS 64 + slot
// number (65-96), Galileo 210 + SVID (211-246, extended numbering).
inline constexpr std::array<GnssSystemRow, kGnssSystemCount> kGnssSystems = {{
    {GnssSystem::Gps,
     "GPS",
     {"GPS", nullptr, nullptr},
     "GPS",
     32,
     "CACode",
     gnss_detail::kGpsSvids,
     "GPS",
     "GP",
     0,
     0,
     kSystemGps,
     0},
    {GnssSystem::Galileo,
     "GAL",
     {"GAL", "GALILEO", nullptr},
     "GALileo",
     36,
     "CACode",
     gnss_detail::kGalileoSvids,
     "Galileo",
     "GA",
     210,
     2,
     kSystemGalileo,
     2},
    {GnssSystem::Glonass,
     "GLON",
     {"GLON", "GLONASS", "GLO"},
     "GLONass",
     24,
     "CACode",
     gnss_detail::kGlonassSvids,
     "GLONASS",
     "GL",
     64,
     1,
     kSystemGlonass,
     6},
}};

constexpr const GnssSystemRow& Row(GnssSystem system) {
  return kGnssSystems[static_cast<std::size_t>(system)];
}

namespace gnss_detail {
constexpr bool RowsInEnumOrder() {
  for (std::size_t i = 0; i < kGnssSystems.size(); ++i) {
    if (static_cast<std::size_t>(kGnssSystems[i].system) != i) return false;
  }
  return true;
}
static_assert(RowsInEnumOrder(), "kGnssSystems is indexed by GnssSystem");
}  // namespace gnss_detail

// "GPS|GALileo|GLONass": the systems as one alternative node of a pattern.
inline std::string ScpiSystemNode() {
  std::string node;
  for (const GnssSystemRow& row : kGnssSystems) {
    if (!node.empty()) node += '|';
    node += row.scpiNode;
  }
  return node;
}

// The system of a choice that ScpiSystemNode matched ("GALILEO").
inline std::optional<GnssSystem> SystemOfScpiChoice(const std::string& choice) {
  for (const GnssSystemRow& row : kGnssSystems) {
    if (Upper(row.scpiNode) == choice) return row.system;
  }
  return std::nullopt;
}

// The system of a slot standard as the instrument takes it, any case.
inline std::optional<GnssSystem> SystemOfStandard(const std::string& tag) {
  const std::string upper = Upper(tag);
  for (const GnssSystemRow& row : kGnssSystems) {
    for (const char* spelling : row.standardSpellings) {
      if (spelling != nullptr && upper == spelling) return row.system;
    }
  }
  return std::nullopt;
}

// The system of a CFG-GNSS block's gnssId.
constexpr std::optional<GnssSystem> SystemOfUbxGnssId(int gnssId) {
  for (const GnssSystemRow& row : kGnssSystems) {
    if (row.ubxGnssId == gnssId) return row.system;
  }
  return std::nullopt;
}

}  // namespace emu
