// The simulator double's state: what the emulated QARN radiates. SCPI handlers
// change it; the virtual receiver and the oscilloscope double read it. Every
// user runs on the one Qt event-loop thread, so no locking is involved.
//
// Times: the simulation clock runs from an anchor (set by *RST, WNUM/TOW or
// DATE/TIME) at the lab's pace, i.e. real elapsed time divided by
// GNSS_TIME_SCALE. GPS time is continuous seconds since 1980-01-06 00:00:00;
// UTC is GPS time minus kGpsUtcLeapSeconds.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "GnssSystems.h"

namespace emu {

inline constexpr int kSlotCapacity = 32;  // satellite slots 1..32
inline constexpr int kMinimumSatelliteCount = 1;
inline constexpr double kGpsUtcLeapSeconds = 18.0;
inline constexpr double kSecondsPerWeek = 604800.0;

struct SatelliteSlot {
  bool on = false;
  GnssSystem standard = GnssSystem::Gps;
  int svid = 1;
  std::string signal = Row(GnssSystem::Gps).defaultSignal;  // "CAPQ" when the P code is added
};

// WGS-84 geodetic position; degrees and metres above the ellipsoid.
struct GeoPosition {
  double longitude = 0.0;
  double latitude = 0.0;
  double altitude = 0.0;
};

struct EcefPosition {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0.0;
};

enum class LocationMode { UserDefined, Waypoints };

// Where the simulated receiver is as a function of the time since the
// simulation was triggered. A fixed location is the trivial route.
class Trajectory {
 public:
  virtual ~Trajectory() = default;
  virtual GeoPosition PositionAt(double secondsSinceStart) const = 0;
};

// Everything the instrument's settings hold. Defaults are those after *RST.
struct SimulatorSettings {
  // RF output
  double frequencyHz = 1.57542e9;
  double levelDbm = -30.0;
  bool rfOn = false;
  std::string referenceOscillator = "INT";

  // GNSS baseband. The three SCPI prefixes (SOUR:BB:GPS, :GAL, :GLONASS) reach
  // one shared baseband; the prefix of STAT ON makes its system the primary.
  GnssSystem primary = GnssSystem::Gps;
  bool basebandOn = false;
  bool triggered = false;  // TRIG:EXEC since the baseband went on
  std::string triggerSequence = "AUTO";
  std::string simulationMode = "AUTO";
  int referencePowerDbm = -120;                 // POWer:REFerence
  bool pCode = false;                           // UMGPS
  std::array<bool, kGnssSystemCount> hybrid{};  // by GnssSystem: HYBRid:<system>
  int satelliteCount = 4;
  std::array<SatelliteSlot, kSlotCapacity> satelliteSlots{};

  LocationMode locationMode = LocationMode::UserDefined;
  std::string locationName = "User Defined";
  GeoPosition userLocation{};
  std::string waypointFile;
  std::string waypointReadoutMode = "CYCL";
};

// One satellite that is radiated now.
struct RadiatedSatellite {
  int slot = 0;  // 1-based
  GnssSystem system = GnssSystem::Gps;
  int svid = 0;
  std::string signal;
};

class SimulatorModel {
 public:
  using Clock = std::chrono::steady_clock;

  // timeScale as GNSS_TIME_SCALE: 0.05 makes the simulation clock run 20x.
  explicit SimulatorModel(double timeScale = 1.0);
  ~SimulatorModel();
  SimulatorModel(const SimulatorModel&) = delete;
  SimulatorModel& operator=(const SimulatorModel&) = delete;

  // ---- read API ------------------------------------------------------------
  const SimulatorSettings& Settings() const { return settings_; }
  double TimeScale() const { return timeScale_; }

  // RF on, baseband on and triggered: the receiver can see the satellites.
  bool Radiating() const;
  // The systems in the signal: the primary plus the hybrid ones (empty when
  // nothing is radiated).
  std::vector<GnssSystem> RadiatedSystems() const;
  // Slots 1..satelliteCount that are on and whose standard is radiated.
  std::vector<RadiatedSatellite> RadiatedSatellites() const;
  // Output level in dBm (the RF level; the reference power is kept apart).
  double LevelDbm() const { return settings_.levelDbm; }

  // Simulation time now, as GPS seconds, week/time of week and UTC calendar.
  double GpsSecondsNow() const;
  int WeekNumberNow() const;
  double TimeOfWeekNow() const;
  CalendarTime UtcNow() const;
  static CalendarTime GpsToUtcCalendar(double gpsSeconds);
  // UTC calendar to GPS seconds; nullopt for dates outside 1980..2200.
  static std::optional<double> UtcCalendarToGps(const CalendarTime& utc);

  // Where the simulated receiver is at the given simulation time (GPS
  // seconds) and now; for a fixed location this is the location itself.
  GeoPosition ReceiverPositionAt(double gpsSeconds) const;
  GeoPosition ReceiverPositionNow() const { return ReceiverPositionAt(GpsSecondsNow()); }
  static EcefPosition ToEcef(const GeoPosition& position);

  // Called after every change of the settings or of the clock anchor.
  using Listener = std::function<void()>;
  int Subscribe(Listener listener);
  void Unsubscribe(int id);

  // ---- write API (SCPI handlers) -------------------------------------------
  void Reset();
  // Mutates the settings and notifies the listeners afterwards.
  void Change(const std::function<void(SimulatorSettings&)>& change);
  void SetGpsSecondsNow(double gpsSeconds);
  void SetWeekNumber(int week);
  void SetTimeOfWeek(double tow);
  // Sets the date (keeping the time of day) or the time of day (keeping the
  // date), in UTC. False when the result is not a valid date.
  bool SetUtcDate(int year, int month, int day);
  bool SetUtcTimeOfDay(int hour, int minute, double second);
  // The automatic constellation: fills the slots 1..satelliteCount with
  // satellites of the radiated systems.
  void AutoConstellation();
  // The baseband's trigger: the route starts now.
  void Trigger();
  // Replaces the route of LocationMode::Waypoints (nullptr: none loaded; the
  // receiver then stands at the user location). The route is played from
  // the last Trigger().
  void SetRoute(std::shared_ptr<const Trajectory> route);

 private:
  void Notify();
  // Changes the UTC calendar time now; false (and no change) when the
  // result is not a valid one.
  bool ChangeUtc(const std::function<void(CalendarTime&)>& change);

  double timeScale_;
  SimulatorSettings settings_;
  double anchorGps_ = 0.0;
  Clock::time_point anchorClock_;
  double routeStartGps_ = 0.0;
  std::shared_ptr<const Trajectory> route_;
  std::vector<std::pair<int, Listener>> listeners_;
  int nextListenerId_ = 1;
};

}  // namespace emu
