// Small builders for NMEA test streams (checksums are not checked by the
// station, so they are left as *00).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace nmeatext {

struct Sat {
  int prn;
  int elevation;
  int azimuth;
  int cn0;  // -1: field left empty
};

inline std::string Gga(int second, const char* talker = "GP") {
  char line[128];
  std::snprintf(line, sizeof line,
                "$%sGGA,1235%02d.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*00\r\n",
                talker, second);
  return line;
}

// A GSA sentence with the given PRNs in its first fields.
inline std::string Gsa(int fixMode, const std::vector<int>& prns, const char* talker = "GP") {
  std::string s = "$" + std::string(talker) + "GSA,A," + std::to_string(fixMode);
  for (int i = 0; i < 12; ++i) {
    s += ",";
    if (i < static_cast<int>(prns.size())) s += std::to_string(prns[static_cast<std::size_t>(i)]);
  }
  return s + ",1.8,1.0,1.5*00\r\n";
}

// One GSV message.
inline std::string GsvMessage(const char* talker, int total, int number, int inView,
                              const std::vector<Sat>& sats) {
  std::string s = "$" + std::string(talker) + "GSV," + std::to_string(total) + "," +
                  std::to_string(number) + "," + std::to_string(inView);
  for (const Sat& sat : sats) {
    s += "," + std::to_string(sat.prn) + "," + std::to_string(sat.elevation) + "," +
         std::to_string(sat.azimuth) + ",";
    if (sat.cn0 >= 0) s += std::to_string(sat.cn0);
  }
  return s + "*00\r\n";
}

// A whole GSV group for the satellites, four per message.
inline std::string GsvGroup(const char* talker, const std::vector<Sat>& sats) {
  const int inView = static_cast<int>(sats.size());
  const int total = (inView + 3) / 4;
  std::string s;
  for (int m = 0; m < total; ++m) {
    std::vector<Sat> part;
    for (int i = 4 * m; i < inView && i < 4 * m + 4; ++i)
      part.push_back(sats[static_cast<std::size_t>(i)]);
    s += GsvMessage(talker, total, m + 1, inView, part);
  }
  return s;
}

// Satellites first..first+count-1, tracked at the given C/N0.
inline std::vector<Sat> Sats(int first, int count, int cn0 = 40) {
  std::vector<Sat> sats;
  for (int i = 0; i < count; ++i) sats.push_back({first + i, 10 + i, 100 + i, cn0});
  return sats;
}

inline std::string Zda() { return "$GPZDA,123519.00,10,12,2026,00,00*00\r\n"; }
inline std::string Rmc() {
  return "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*00\r\n";
}

// A good 3D epoch: six GPS satellites used and in view, a date.
inline std::string GoodEpoch(int second, bool withDate = true) {
  return Gga(second) + Gsa(3, {5, 12, 15, 18, 21, 24}) +
         GsvGroup("GP", {{5, 45, 120, 44},
                         {12, 30, 200, 40},
                         {15, 60, 80, 42},
                         {18, 20, 300, 35},
                         {21, 50, 50, 41},
                         {24, 10, 270, 30}}) +
         (withDate ? Zda() : std::string());
}

// A 3D epoch with two used Galileo satellites at the given C/N0.
inline std::string GalileoEpoch(int second, int cn0a, int cn0b) {
  return Gga(second, "GN") + Gsa(3, {5, 12, 15, 18, 211, 212}, "GN") +
         GsvGroup("GP",
                  {{5, 45, 120, 44}, {12, 30, 200, 40}, {15, 60, 80, 42}, {18, 20, 300, 35}}) +
         GsvGroup("GA", {{211, 40, 10, cn0a}, {212, 35, 20, cn0b}}) + Zda();
}

}  // namespace nmeatext
