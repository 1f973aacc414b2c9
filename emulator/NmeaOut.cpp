#include "NmeaOut.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>

#include "TextFormat.h"

namespace emu {

namespace {

// snprintf's %f follows LC_NUMERIC; the emulator never changes it from "C",
// but a decimal comma would break every sentence, so make sure.
std::string Fixed(double value, int decimals) {
  std::string text = Format("%.*f", decimals, value);
  std::replace(text.begin(), text.end(), ',', '.');
  return text;
}

std::string TimeField(const EpochReport& e) {
  if (!e.timeValid) return {};
  long long centis = std::llround(e.second * 100.0);
  centis = std::clamp(centis, 0LL, 5999LL);
  return Format("%02d%02d%02lld.%02lld", e.hour, e.minute, centis / 100, centis % 100);
}

// ddmm.mmmmm / dddmm.mmmmm, rounded once in units of 1e-5 minutes so that
// 59.999999 minutes cannot print as "60.00000".
std::string DegreesMinutes(double degrees, int degreeDigits) {
  const long long units = std::llround(std::fabs(degrees) * 60.0 * 1e5);
  const long long perDegree = 60LL * 100000LL;
  const long long whole = units / perDegree;
  const long long rest = units % perDegree;
  return Format("%0*lld%02lld.%05lld", degreeDigits, whole, rest / 100000, rest % 100000);
}

int UsedCount(const EpochReport& e) {
  int n = 0;
  for (const auto& s : e.systems)
    for (const auto& v : s.satellites) n += v.used ? 1 : 0;
  return n;
}

bool HasFix(const EpochReport& e) { return e.fixMode >= 2; }

std::string Dop(double value) { return Fixed(std::min(value, 99.99), 2); }

}  // namespace

std::string NmeaChecksum(const std::string& body) {
  unsigned sum = 0;
  for (unsigned char c : body) sum ^= c;
  return Format("%02X", sum & 0xFFu);
}

std::string NmeaSentence(const std::string& body) {
  return "$" + body + "*" + NmeaChecksum(body) + "\r\n";
}

int NmeaSatelliteNumber(GnssSystem system, int svid) { return svid + Row(system).nmeaNumberOffset; }

std::string SolutionTalker(const EpochReport& epoch) {
  if (epoch.systems.size() == 1) return Row(epoch.systems.front().system).talker;
  return "GN";
}

// $--GGA,hhmmss.ss,ddmm.mmmmm,N,dddmm.mmmmm,E,q,nn,hdop,alt,M,sep,M,,
std::string FormatGga(const EpochReport& e) {
  std::string body = SolutionTalker(e) + "GGA," + TimeField(e) + ",";
  if (HasFix(e)) {
    body += DegreesMinutes(e.latitude, 2) + (e.latitude < 0 ? ",S," : ",N,");
    body += DegreesMinutes(e.longitude, 3) + (e.longitude < 0 ? ",W," : ",E,");
    body += "1," + Format("%02d", UsedCount(e)) + "," + Dop(e.hdop) + ",";
    body += Fixed(e.altitudeMsl, 1) + ",M," + Fixed(e.geoidSeparation, 1) + ",M,,";
  } else {
    body += ",,,,0," + Format("%02d", UsedCount(e)) + ",99.99,,,,,,";
  }
  return NmeaSentence(body);
}

// $--RMC,hhmmss.ss,A,ddmm.mmmmm,N,dddmm.mmmmm,E,knots,course,ddmmyy,,,A
std::string FormatRmc(const EpochReport& e) {
  std::string body = SolutionTalker(e) + "RMC," + TimeField(e) + ",";
  if (HasFix(e)) {
    body += "A,";
    body += DegreesMinutes(e.latitude, 2) + (e.latitude < 0 ? ",S," : ",N,");
    body += DegreesMinutes(e.longitude, 3) + (e.longitude < 0 ? ",W," : ",E,");
    body += Fixed(e.speedKnots, 3) + "," + Fixed(e.courseDegrees, 2) + ",";
  } else {
    body += "V,,,,,,,";
  }
  body += e.timeValid ? Format("%02d%02d%02d", e.day, e.month, e.year % 100) : std::string();
  body += HasFix(e) ? ",,,A" : ",,,N";
  return NmeaSentence(body);
}

// $--ZDA,hhmmss.ss,dd,mm,yyyy,00,00
std::string FormatZda(const EpochReport& e) {
  std::string body = SolutionTalker(e) + "ZDA," + TimeField(e) + ",";
  if (e.timeValid)
    body += Format("%02d,%02d,%04d", e.day, e.month, e.year);
  else
    body += ",,";
  body += ",00,00";
  return NmeaSentence(body);
}

// $--GSA,A,mode,prn x 12,pdop,hdop,vdop
std::string FormatGsa(const EpochReport& e) {
  const bool chained = e.systems.size() != 1;
  std::string out;
  auto one = [&](const std::string& talker, const std::vector<SatelliteView>* sats) {
    std::string body = talker + "GSA,A," + std::to_string(std::clamp(e.fixMode, 1, 3)) + ",";
    int listed = 0;
    if (sats && HasFix(e)) {
      for (const auto& v : *sats) {
        if (!v.used || listed == 12) continue;
        body += Format("%02d", v.prn) + ",";
        ++listed;
      }
    }
    for (; listed < 12; ++listed) body += ",";
    if (HasFix(e))
      body += Dop(e.pdop) + "," + Dop(e.hdop) + "," + Dop(e.vdop);
    else
      body += "99.99,99.99,99.99";
    out += NmeaSentence(body);
  };
  if (e.systems.empty()) {
    one("GN", nullptr);
    return out;
  }
  for (const auto& s : e.systems) one(chained ? "GN" : Row(s.system).talker, &s.satellites);
  return out;
}

// $--GSV,total,number,inview,{prn,elev,azim,cn0} x up to 4
std::vector<std::string> FormatGsvGroups(const EpochReport& e, int padFirstGroupTo) {
  std::vector<std::string> groups;
  int pad = padFirstGroupTo;
  auto group = [&](const char* talker, const std::vector<SatelliteView>& sats) {
    std::string out;
    const int inView = static_cast<int>(sats.size());
    const int needed = std::max(1, (inView + 3) / 4);
    const int total = std::max(needed, std::exchange(pad, 0));
    for (int m = 0; m < total; ++m) {
      std::string body = std::string(talker) + "GSV," + std::to_string(total) + "," +
                         std::to_string(m + 1) + "," + Format("%02d", inView);
      for (int i = 4 * m; i < std::min(inView, 4 * m + 4); ++i) {
        const SatelliteView& v = sats[static_cast<std::size_t>(i)];
        body += "," + Format("%02d", v.prn) + "," + Format("%02d", v.elevation) + "," +
                Format("%03d", v.azimuth) + ",";
        if (v.cn0 >= 0) body += Format("%02d", v.cn0);
      }
      out += NmeaSentence(body);
    }
    groups.push_back(std::move(out));
  };
  if (e.systems.empty()) {
    group(Row(GnssSystem::Gps).talker, {});
    return groups;
  }
  for (const auto& s : e.systems) group(Row(s.system).talker, s.satellites);
  return groups;
}

Dops ComputeDops(const std::vector<SatelliteView>& used, bool threeD) {
  // Normal matrix of the line-of-sight rows (east, north, [up,] clock).
  const int n = threeD ? 4 : 3;
  if (static_cast<int>(used.size()) < n) return {};
  std::array<std::array<double, 8>, 4> a{};  // [N | I], Gauss-Jordan in place
  constexpr double kRad = std::numbers::pi / 180.0;
  for (const auto& v : used) {
    const double el = v.elevation * kRad, az = v.azimuth * kRad;
    std::array<double, 4> row{};
    row[0] = std::cos(el) * std::sin(az);
    row[1] = std::cos(el) * std::cos(az);
    if (threeD) {
      row[2] = std::sin(el);
      row[3] = 1.0;
    } else {
      row[2] = 1.0;
    }
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) a[i][j] += row[i] * row[j];
  }
  for (int i = 0; i < n; ++i) a[i][n + i] = 1.0;
  for (int c = 0; c < n; ++c) {
    int pivot = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    if (std::fabs(a[pivot][c]) < 1e-9) return {};
    std::swap(a[c], a[pivot]);
    const double d = a[c][c];
    for (int j = 0; j < 2 * n; ++j) a[c][j] /= d;
    for (int r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a[r][c];
      for (int j = 0; j < 2 * n; ++j) a[r][j] -= f * a[c][j];
    }
  }
  auto q = [&](int i) { return std::max(0.0, a[i][n + i]); };
  Dops d;
  d.hdop = std::sqrt(q(0) + q(1));
  if (threeD) {
    d.vdop = std::sqrt(q(2));
    d.pdop = std::sqrt(q(0) + q(1) + q(2));
  } else {
    d.pdop = d.hdop;  // height held: no vertical solution
  }
  d.pdop = std::min(d.pdop, 99.99);
  d.hdop = std::min(d.hdop, 99.99);
  d.vdop = std::min(d.vdop, 99.99);
  return d;
}

}  // namespace emu
