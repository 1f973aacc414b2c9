#include "procedures/X47_GNSS_Results.h"

#include <algorithm>

#include "receiver/ReceiverCapture.h"
#include "text/CText.h"

ResultsPosition ResultsPositionOf(const GeoPoint& point) {
  return {point.latitude, point.longitude, point.altitude};
}

ResultsFix ResultsFixOf(const FixRecord& fix, const FixStatus& status,
                        const SatelliteTable& table) {
  ResultsFix out;
  out.present = true;
  out.position = ResultsPositionOf(fix.position);
  if (fix.year > 0 && fix.month > 0 && fix.day > 0)
    out.utc = FormatC("%04d-%02d-%02dT%02d:%02d:%02dZ", std::clamp(fix.year, 0, 9999),
                      std::clamp(fix.month, 0, 99), std::clamp(fix.day, 0, 99),
                      std::clamp(fix.hour, 0, 99), std::clamp(fix.minute, 0, 99),
                      std::clamp(fix.second, 0, 99));
  else
    out.utc = FormatC("%02d:%02d:%02d", std::clamp(fix.hour, 0, 99), std::clamp(fix.minute, 0, 99),
                      std::clamp(fix.second, 0, 99));
  out.fixMode = status.fixMode;
  out.satellitesUsed = status.usedCount;
  out.pdop = status.pdop;
  out.hdop = status.hdop;
  out.vdop = status.vdop;
  const int entries = std::clamp(status.inViewCount, 0, kSatelliteTableSize);
  for (int i = 0; i < entries; ++i) {
    const SatelliteEntry& s = table[static_cast<std::size_t>(i)];
    if (s.usedFlag == 'U') out.satellites.push_back({s.prn, s.cn0, s.elevation, s.azimuth});
  }
  return out;
}

ResultsErrors ResultsErrorsOf(const GeoPoint& measured, const GeoPoint& truth, double error2d,
                              double error3d) {
  ResultsErrors e;
  e.present = true;
  e.error2d = error2d;
  e.error3d = error3d;
  e.east = measured.east - truth.east;
  e.north = measured.north - truth.north;
  e.up = measured.up - truth.up;
  return e;
}

void BeginTestCapture(const std::string& testId) {
  BeginNmeaCapture(RunLogPath(NmeaCaptureName(testId)));
}
