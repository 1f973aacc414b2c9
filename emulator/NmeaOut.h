// NMEA 0183 output of the virtual receiver: one epoch's sentences as text
// with checksums and CR LF. Standard C++ only, so the formatting can be
// checked on its own.
#pragma once

#include <string>
#include <vector>

#include "GnssSystems.h"

namespace emu {

// Two-digit upper-case hexadecimal XOR of the characters between "$" and "*".
std::string NmeaChecksum(const std::string& body);
// "$" + body + "*" + checksum + "\r\n".
std::string NmeaSentence(const std::string& body);

// Satellite numbers as the receiver reports them (GnssSystemRow::nmeaNumberOffset).
int NmeaSatelliteNumber(GnssSystem system, int svid);

struct SatelliteView {
  int prn = 0;        // as NmeaSatelliteNumber gives it
  int elevation = 0;  // degrees
  int azimuth = 0;    // degrees
  int cn0 = -1;       // dB-Hz; negative: not tracked, the field stays empty
  bool used = false;
};

struct SystemView {
  GnssSystem system = GnssSystem::Gps;
  std::vector<SatelliteView> satellites;
};

// Everything one epoch reports.
struct EpochReport {
  bool timeValid = false;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0.0;

  int fixMode = 1;                         // 1 none, 2 two-dimensional, 3 three-dimensional
  double latitude = 0.0, longitude = 0.0;  // degrees
  double altitudeMsl = 0.0;                // metres above the geoid
  double geoidSeparation = 0.0;            // ellipsoid minus geoid, metres
  double speedKnots = 0.0, courseDegrees = 0.0;
  double pdop = 99.99, hdop = 99.99, vdop = 99.99;

  std::vector<SystemView> systems;  // those the receiver tracks, in a fixed order
};

// Talker of the sentences that describe the whole solution (GGA, RMC, ZDA):
// the one system's own talker, or GN when several systems (or none) are in it.
std::string SolutionTalker(const EpochReport& epoch);

std::string FormatGga(const EpochReport& epoch);
std::string FormatRmc(const EpochReport& epoch);
std::string FormatZda(const EpochReport& epoch);
// One GSA per system. With several systems they are all GN, as a
// multi-constellation receiver chains them; each lists at most 12 used PRNs.
std::string FormatGsa(const EpochReport& epoch);
// One GSV group per system (its messages as one text), 4 satellites a
// message; without systems one empty GP group. `padFirstGroupTo` > 0 makes
// the first group claim that many messages (the extra ones carry no
// satellite), a malformed group that one group alone is enough to show.
std::vector<std::string> FormatGsvGroups(const EpochReport& epoch, int padFirstGroupTo = 0);

// Dilution of precision of satellites seen at the given elevations and
// azimuths (degrees) with one receiver clock: 3D needs 4, 2D (height held) 3.
struct Dops {
  double pdop = 99.99, hdop = 99.99, vdop = 99.99;
};
Dops ComputeDops(const std::vector<SatelliteView>& used, bool threeD);

}  // namespace emu
