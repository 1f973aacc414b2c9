#include "SimulatorModel.h"

#include <GeographicLib/Geocentric.hpp>
#include <algorithm>
#include <cmath>
#include <ctime>

namespace emu {

namespace {

// 1980-01-06 00:00:00 UTC as Unix seconds (the GPS epoch).
constexpr double kGpsEpochUnixSeconds = 315964800.0;
constexpr double kSecondsPerDay = 86400.0;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int* year, int* month, int* day) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

bool ValidDate(int year, int month, int day) {
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1980 || year > 2200 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int days = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= days;
}

// Satellite numbers the automatic constellation hands out, per system, in
// the order it uses them: a spread of numbers that exist in the real
// constellations.
constexpr int kGpsSvids[] = {2, 5,  7,  9,  13, 15, 18, 21, 24, 26, 29, 30, 1,  3,  4,  6,
                             8, 10, 11, 12, 14, 16, 17, 19, 20, 22, 23, 25, 27, 28, 31, 32};
constexpr int kGalileoSvids[] = {1,  3,  4,  5,  7,  8,  9,  11, 12, 13, 15,
                                 19, 21, 24, 25, 26, 27, 30, 31, 33, 34, 36};
constexpr int kGlonassSvids[] = {1,  2,  3,  7,  8,  9,  11, 12, 13, 14, 15, 17,
                                 18, 19, 20, 21, 22, 23, 24, 4,  5,  6,  10, 16};

int AutoSvid(GnssSystem system, int index) {
  switch (system) {
    case GnssSystem::Gps:
      return kGpsSvids[index % std::size(kGpsSvids)];
    case GnssSystem::Galileo:
      return kGalileoSvids[index % std::size(kGalileoSvids)];
    case GnssSystem::Glonass:
      return kGlonassSvids[index % std::size(kGlonassSvids)];
  }
  return 1;
}

}  // namespace

const char* StandardTag(GnssSystem system) {
  switch (system) {
    case GnssSystem::Gps:
      return "GPS";
    case GnssSystem::Galileo:
      return "GAL";
    case GnssSystem::Glonass:
      return "GLON";
  }
  return "GPS";
}

std::optional<GnssSystem> StandardFromTag(const std::string& tag) {
  std::string upper;
  for (char c : tag) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "GPS") return GnssSystem::Gps;
  if (upper == "GAL" || upper == "GALILEO") return GnssSystem::Galileo;
  if (upper == "GLON" || upper == "GLONASS" || upper == "GLO") return GnssSystem::Glonass;
  return std::nullopt;
}

SimulatorModel::SimulatorModel(double timeScale) : timeScale_(timeScale > 0.0 ? timeScale : 1.0) {
  Reset();
}

SimulatorModel::~SimulatorModel() = default;

bool SimulatorModel::Radiating() const {
  return settings_.rfOn && settings_.basebandOn &&
         (settings_.triggered || settings_.triggerSequence == "AUTO");
}

std::vector<GnssSystem> SimulatorModel::RadiatedSystems() const {
  std::vector<GnssSystem> systems;
  if (!Radiating()) return systems;
  systems.push_back(settings_.primary);
  const std::pair<bool, GnssSystem> hybrids[] = {{settings_.hybridGps, GnssSystem::Gps},
                                                 {settings_.hybridGalileo, GnssSystem::Galileo},
                                                 {settings_.hybridGlonass, GnssSystem::Glonass}};
  for (const auto& [on, system] : hybrids) {
    if (on && std::find(systems.begin(), systems.end(), system) == systems.end()) {
      systems.push_back(system);
    }
  }
  return systems;
}

std::vector<RadiatedSatellite> SimulatorModel::RadiatedSatellites() const {
  std::vector<RadiatedSatellite> satellites;
  const std::vector<GnssSystem> systems = RadiatedSystems();
  const int count = std::clamp(settings_.satelliteCount, 0, kSlotCapacity);
  for (int i = 0; i < count; ++i) {
    const SatelliteSlot& slot = settings_.satelliteSlots[i];
    if (!slot.on) continue;
    if (std::find(systems.begin(), systems.end(), slot.standard) == systems.end()) continue;
    satellites.push_back({i + 1, slot.standard, slot.svid, slot.signal});
  }
  return satellites;
}

double SimulatorModel::GpsSecondsNow() const {
  const double elapsed = std::chrono::duration<double>(Clock::now() - anchorClock_).count();
  return anchorGps_ + elapsed / timeScale_;
}

int SimulatorModel::WeekNumberNow() const {
  return static_cast<int>(std::floor(GpsSecondsNow() / kSecondsPerWeek));
}

double SimulatorModel::TimeOfWeekNow() const {
  const double now = GpsSecondsNow();
  return now - std::floor(now / kSecondsPerWeek) * kSecondsPerWeek;
}

CalendarTime SimulatorModel::UtcNow() const { return GpsToUtcCalendar(GpsSecondsNow()); }

CalendarTime SimulatorModel::GpsToUtcCalendar(double gpsSeconds) {
  const double unixSeconds = gpsSeconds + kGpsEpochUnixSeconds - kGpsUtcLeapSeconds;
  const double days = std::floor(unixSeconds / kSecondsPerDay);
  double secondOfDay = unixSeconds - days * kSecondsPerDay;
  CalendarTime t;
  CivilFromDays(static_cast<long>(days), &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(secondOfDay / 3600.0);
  secondOfDay -= t.hour * 3600.0;
  t.minute = static_cast<int>(secondOfDay / 60.0);
  t.second = secondOfDay - t.minute * 60.0;
  return t;
}

std::optional<double> SimulatorModel::UtcCalendarToGps(const CalendarTime& utc) {
  if (!ValidDate(utc.year, utc.month, utc.day)) return std::nullopt;
  if (utc.hour < 0 || utc.hour > 23 || utc.minute < 0 || utc.minute > 59 || utc.second < 0.0 ||
      utc.second >= 61.0) {
    return std::nullopt;
  }
  const double days = static_cast<double>(DaysFromCivil(utc.year, utc.month, utc.day));
  const double unixSeconds =
      days * kSecondsPerDay + utc.hour * 3600.0 + utc.minute * 60.0 + utc.second;
  return unixSeconds - kGpsEpochUnixSeconds + kGpsUtcLeapSeconds;
}

GeoPosition SimulatorModel::ReceiverPositionAt(double gpsSeconds) const {
  if (settings_.locationMode == LocationMode::Waypoints && route_) {
    return route_->PositionAt(std::max(0.0, gpsSeconds - routeStartGps_));
  }
  return settings_.userLocation;
}

EcefPosition SimulatorModel::ToEcef(const GeoPosition& position) {
  EcefPosition ecef;
  GeographicLib::Geocentric::WGS84().Forward(position.latitude, position.longitude,
                                             position.altitude, ecef.x, ecef.y, ecef.z);
  return ecef;
}

int SimulatorModel::Subscribe(Listener listener) {
  const int id = nextListenerId_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void SimulatorModel::Unsubscribe(int id) {
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void SimulatorModel::Notify() {
  // A listener may subscribe or unsubscribe while being called.
  const auto listeners = listeners_;
  for (const auto& [id, listener] : listeners) listener();
}

void SimulatorModel::Reset() {
  settings_ = SimulatorSettings{};
  route_.reset();
  // The simulation starts at the present (whole) UTC second.
  const double unixNow = std::floor(static_cast<double>(std::time(nullptr)));
  anchorGps_ = unixNow - kGpsEpochUnixSeconds + kGpsUtcLeapSeconds;
  anchorClock_ = Clock::now();
  routeStartGps_ = anchorGps_;
  AutoConstellation();  // notifies
}

void SimulatorModel::Change(const std::function<void(SimulatorSettings&)>& change) {
  change(settings_);
  Notify();
}

void SimulatorModel::SetGpsSecondsNow(double gpsSeconds) {
  anchorGps_ = gpsSeconds;
  anchorClock_ = Clock::now();
  Notify();
}

void SimulatorModel::SetWeekNumber(int week) {
  SetGpsSecondsNow(week * kSecondsPerWeek + TimeOfWeekNow());
}

void SimulatorModel::SetTimeOfWeek(double tow) {
  SetGpsSecondsNow(WeekNumberNow() * kSecondsPerWeek + tow);
}

bool SimulatorModel::SetUtcDate(int year, int month, int day) {
  CalendarTime t = UtcNow();
  t.year = year;
  t.month = month;
  t.day = day;
  const auto gps = UtcCalendarToGps(t);
  if (!gps) return false;
  SetGpsSecondsNow(*gps);
  return true;
}

bool SimulatorModel::SetUtcTimeOfDay(int hour, int minute, double second) {
  CalendarTime t = UtcNow();
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  const auto gps = UtcCalendarToGps(t);
  if (!gps) return false;
  SetGpsSecondsNow(*gps);
  return true;
}

void SimulatorModel::AutoConstellation() {
  // The radiated systems whether or not the output is on yet: the primary
  // first, then the hybrid ones; the slots are shared out evenly, the
  // primary taking the remainder.
  std::vector<GnssSystem> systems{settings_.primary};
  const std::pair<bool, GnssSystem> hybrids[] = {{settings_.hybridGps, GnssSystem::Gps},
                                                 {settings_.hybridGalileo, GnssSystem::Galileo},
                                                 {settings_.hybridGlonass, GnssSystem::Glonass}};
  for (const auto& [on, system] : hybrids) {
    if (on && std::find(systems.begin(), systems.end(), system) == systems.end()) {
      systems.push_back(system);
    }
  }
  const int count = std::clamp(settings_.satelliteCount, 0, kSlotCapacity);
  const int share = count / static_cast<int>(systems.size());
  int remainder = count % static_cast<int>(systems.size());
  int slot = 0;
  for (GnssSystem system : systems) {
    const int n = share + (remainder-- > 0 ? 1 : 0);
    for (int k = 0; k < n; ++k, ++slot) {
      SatelliteSlot& s = settings_.satelliteSlots[slot];
      s.on = true;
      s.standard = system;
      s.svid = AutoSvid(system, k);
      s.signal = "CACode";
    }
  }
  for (; slot < kSlotCapacity; ++slot) settings_.satelliteSlots[slot].on = false;
  Notify();
}

void SimulatorModel::Trigger() {
  settings_.triggered = true;
  routeStartGps_ = GpsSecondsNow();
  Notify();
}

void SimulatorModel::SetRoute(std::shared_ptr<const Trajectory> route) {
  route_ = std::move(route);
  Notify();
}

}  // namespace emu
