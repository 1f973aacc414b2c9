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
// The dates the instrument takes.
constexpr std::chrono::year kFirstYear{1980};
constexpr std::chrono::year kLastYear{2200};

// The primary first, then the hybrid systems in the table's order, each once.
std::vector<GnssSystem> PrimaryAndHybrids(const SimulatorSettings& settings) {
  std::vector<GnssSystem> systems{settings.primary};
  for (const GnssSystemRow& row : kGnssSystems) {
    if (settings.hybrid[static_cast<std::size_t>(row.system)] && row.system != settings.primary) {
      systems.push_back(row.system);
    }
  }
  return systems;
}

}  // namespace

SimulatorModel::SimulatorModel(double timeScale) : timeScale_(timeScale > 0.0 ? timeScale : 1.0) {
  Reset();
}

SimulatorModel::~SimulatorModel() = default;

bool SimulatorModel::Radiating() const {
  return settings_.rfOn && settings_.basebandOn &&
         (settings_.triggered || settings_.triggerSequence == "AUTO");
}

std::vector<GnssSystem> SimulatorModel::RadiatedSystems() const {
  if (!Radiating()) return {};
  return PrimaryAndHybrids(settings_);
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
  using namespace std::chrono;
  const double unixSeconds = gpsSeconds + kGpsEpochUnixSeconds - kGpsUtcLeapSeconds;
  const double wholeDays = std::floor(unixSeconds / kSecondsPerDay);
  double secondOfDay = unixSeconds - wholeDays * kSecondsPerDay;
  const year_month_day date{sys_days{days{static_cast<days::rep>(wholeDays)}}};
  CalendarTime t;
  t.year = static_cast<int>(date.year());
  t.month = static_cast<int>(static_cast<unsigned>(date.month()));
  t.day = static_cast<int>(static_cast<unsigned>(date.day()));
  t.hour = static_cast<int>(secondOfDay / 3600.0);
  secondOfDay -= t.hour * 3600.0;
  t.minute = static_cast<int>(secondOfDay / 60.0);
  t.second = secondOfDay - t.minute * 60.0;
  return t;
}

std::optional<double> SimulatorModel::UtcCalendarToGps(const CalendarTime& utc) {
  using namespace std::chrono;
  // Checked as ints first: chrono's types hold only small ranges.
  if (utc.year < static_cast<int>(kFirstYear) || utc.year > static_cast<int>(kLastYear) ||
      utc.month < 1 || utc.month > 12 || utc.day < 1 || utc.day > 31) {
    return std::nullopt;
  }
  const year_month_day date{year{utc.year}, month{static_cast<unsigned>(utc.month)},
                            day{static_cast<unsigned>(utc.day)}};
  if (!date.ok()) return std::nullopt;
  if (utc.hour < 0 || utc.hour > 23 || utc.minute < 0 || utc.minute > 59 || utc.second < 0.0 ||
      utc.second >= 61.0) {
    return std::nullopt;
  }
  const double unixSeconds =
      static_cast<double>(sys_days{date}.time_since_epoch().count()) * kSecondsPerDay +
      utc.hour * 3600.0 + utc.minute * 60.0 + utc.second;
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
  return ChangeUtc([&](CalendarTime& t) {
    t.year = year;
    t.month = month;
    t.day = day;
  });
}

bool SimulatorModel::SetUtcTimeOfDay(int hour, int minute, double second) {
  return ChangeUtc([&](CalendarTime& t) {
    t.hour = hour;
    t.minute = minute;
    t.second = second;
  });
}

bool SimulatorModel::ChangeUtc(const std::function<void(CalendarTime&)>& change) {
  CalendarTime utc = UtcNow();
  change(utc);
  const auto gps = UtcCalendarToGps(utc);
  if (!gps) return false;
  SetGpsSecondsNow(*gps);
  return true;
}

void SimulatorModel::AutoConstellation() {
  // The radiated systems whether or not the output is on yet: the primary
  // first, then the hybrid ones; the slots are shared out evenly, the
  // primary taking the remainder.
  const std::vector<GnssSystem> systems = PrimaryAndHybrids(settings_);
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
      const GnssSystemRow& row = Row(system);
      s.svid = row.autoSvids[static_cast<std::size_t>(k) % row.autoSvids.size()];
      s.signal = row.defaultSignal;
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
