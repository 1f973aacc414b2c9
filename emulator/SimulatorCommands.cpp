// The simulator's SCPI commands as table rows: RF output, the GNSS baseband
// (reached through SOUR:BB:GPS, SOUR:BB:GAL or SOUR:BB:GLONASS), satellite
// satelliteSlots, location and simulation time.
#include <algorithm>
#include <cmath>

#include "GnssSystems.h"
#include "ScpiInstrument.h"
#include "SimulatorModel.h"
#include "TextFormat.h"
#include "WaypointRoute.h"

namespace emu {

namespace {

constexpr int kHeaderSuffixOutOfRange = -114;
constexpr int kFileNameNotFound = -256;

std::string FormatPosition(const GeoPosition& p) {
  return Format("%.8f,%.8f,%.3f", p.longitude, p.latitude, p.altitude);
}

// A value shown with three decimals that would round up to `limit` (second
// 60, time of week 604800) is shown as the last millisecond below it.
double BelowRollOver(double value, double limit) { return std::min(value, limit - 0.001); }

// The system a matched "GPS|GALileo|GLONass" node names.
GnssSystem SystemOfChoice(const std::string& choice) {
  return SystemOfScpiChoice(choice).value_or(GnssSystem::Gps);
}

// Keyword parameters: each accepted spelling and the form stored.
std::optional<std::string> OneOf(ScpiCall& c, size_t i,
                                 std::initializer_list<std::pair<const char*, const char*>> words) {
  auto word = c.Keyword(i);
  if (!word) return std::nullopt;
  for (const auto& [spelling, stored] : words) {
    if (*word == spelling) return std::string(stored);
  }
  c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
  return std::nullopt;
}

std::optional<GeoPosition> ReadPosition(ScpiCall& c, size_t first) {
  // All three are read before any is range checked.
  auto lon = c.Number(first);
  if (!lon) return std::nullopt;
  auto lat = c.Number(first + 1);
  if (!lat) return std::nullopt;
  auto alt = c.Number(first + 2);
  if (!alt) return std::nullopt;
  if (!c.InRange(*lon, -180.0, 180.0) || !c.InRange(*lat, -90.0, 90.0) ||
      !c.InRange(*alt, -10000.0, 1.0e7)) {
    return std::nullopt;
  }
  return GeoPosition{*lon, *lat, *alt};
}

class SimulatorCommands {
 public:
  SimulatorCommands(ScpiInstrument& instrument, std::string storageRoot)
      : t_(instrument.Commands()),
        model_(instrument.Model()),
        storageRoot_(std::move(storageRoot)) {
    // *RST forgets the loaded route with the rest of the settings.
    listener_ = model_.Subscribe([this] {
      if (model_.Settings().waypointFile.empty()) loadedRoute_.reset();
    });
  }
  ~SimulatorCommands() { model_.Unsubscribe(listener_); }
  SimulatorCommands(const SimulatorCommands&) = delete;
  SimulatorCommands& operator=(const SimulatorCommands&) = delete;

  void Register() {
    RegisterOutput();
    RegisterBaseband();
    RegisterSatellites();
    RegisterTime();
    RegisterLocation();
  }

 private:
  // A baseband command: the prefix it came with makes its system primary.
  void Baseband(const std::string& rest, ScpiHandler handler) {
    t_.Add("[SOURce]:BB:" + ScpiSystemNode() + rest,
           [this, handler = std::move(handler)](ScpiCall& c) {
             if (!c.IsQuery()) {
               const GnssSystem system = SystemOfChoice(c.Choice(0));
               if (model_.Settings().primary != system) {
                 model_.Change([system](SimulatorSettings& s) { s.primary = system; });
               }
             }
             handler(c);
           });
  }

  // A slot number from the header, or nullopt after queuing -114.
  static std::optional<int> Slot(ScpiCall& c) {
    const int slot = c.Suffix(0);
    if (slot < 1 || slot > kSlotCapacity) {
      c.Error(kHeaderSuffixOutOfRange, "Header suffix out of range");
      return std::nullopt;
    }
    return slot;
  }

  void Set(const std::function<void(SimulatorSettings&)>& change) { model_.Change(change); }
  const SimulatorSettings& S() const { return model_.Settings(); }

  void RegisterOutput() {
    t_.Add("[SOURce]:FREQuency[:CW]", [this](ScpiCall& c) {
      auto hz = c.NumberIn(0, 1.0e8, 6.0e9);
      if (hz) Set([&](SimulatorSettings& s) { s.frequencyHz = *hz; });
    });
    t_.Add("[SOURce]:FREQuency[:CW]?",
           [this](ScpiCall& c) { c.Reply(Format("%.0f", S().frequencyHz)); });
    t_.Add("[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]", [this](ScpiCall& c) {
      auto dbm = c.NumberIn(0, -145.0, 20.0);
      if (dbm) Set([&](SimulatorSettings& s) { s.levelDbm = *dbm; });
    });
    t_.Add("[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]?",
           [this](ScpiCall& c) { c.Reply(Format("%.2f", S().levelDbm)); });
    t_.Add("[SOURce]:ROSCillator:SOURce", [this](ScpiCall& c) {
      auto source =
          OneOf(c, 0, {{"INT", "INT"}, {"INTERNAL", "INT"}, {"EXT", "EXT"}, {"EXTERNAL", "EXT"}});
      if (source) Set([&](SimulatorSettings& s) { s.referenceOscillator = *source; });
    });
    t_.Add("[SOURce]:ROSCillator:SOURce?",
           [this](ScpiCall& c) { c.Reply(S().referenceOscillator); });
    t_.Add("OUTPut[:STATe]", [this](ScpiCall& c) {
      if (auto on = c.Boolean(0)) Set([&](SimulatorSettings& s) { s.rfOn = *on; });
    });
    t_.Add("OUTPut[:STATe]?", [this](ScpiCall& c) { c.Reply(S().rfOn ? "1" : "0"); });
  }

  void RegisterBaseband() {
    Baseband(":STATe", [this](ScpiCall& c) {
      auto on = c.Boolean(0);
      if (!on) return;
      Set([&](SimulatorSettings& s) {
        s.basebandOn = *on;
        s.triggered = false;  // switching on re-arms the trigger
      });
      if (*on && S().triggerSequence == "AUTO") model_.Trigger();
    });
    Baseband(":STATe?", [this](ScpiCall& c) { c.Reply(S().basebandOn ? "1" : "0"); });
    Baseband(":TRIGger:SEQuence", [this](ScpiCall& c) {
      auto mode = OneOf(c, 0,
                        {{"AUTO", "AUTO"},
                         {"RETR", "RETR"},
                         {"RETRIGGER", "RETR"},
                         {"AAUT", "AAUT"},
                         {"AAUTO", "AAUT"},
                         {"ARET", "ARET"},
                         {"ARETRIGGER", "ARET"},
                         {"SING", "SING"},
                         {"SINGLE", "SING"}});
      if (mode) Set([&](SimulatorSettings& s) { s.triggerSequence = *mode; });
    });
    Baseband(":TRIGger:SEQuence?", [this](ScpiCall& c) { c.Reply(S().triggerSequence); });
    Baseband(":TRIGger:EXECute", [this](ScpiCall&) { model_.Trigger(); });
    Baseband(":SMODe", [this](ScpiCall& c) {
      auto mode =
          OneOf(c, 0, {{"AUTO", "AUTO"}, {"USER", "USER"}, {"STAT", "STAT"}, {"STATIC", "STAT"}});
      if (mode) Set([&](SimulatorSettings& s) { s.simulationMode = *mode; });
    });
    Baseband(":SMODe?", [this](ScpiCall& c) { c.Reply(S().simulationMode); });
    Baseband(":POWer:REFerence", [this](ScpiCall& c) {
      auto dbm = c.NumberIn(0, -145.0, 20.0);
      if (dbm)
        Set([&](SimulatorSettings& s) {
          s.referencePowerDbm = static_cast<int>(std::lround(*dbm));
        });
    });
    Baseband(":POWer:REFerence?",
             [this](ScpiCall& c) { c.Reply(std::to_string(S().referencePowerDbm)); });
    Baseband(":UMGPS", [this](ScpiCall& c) {
      if (auto on = c.Boolean(0)) Set([&](SimulatorSettings& s) { s.pCode = *on; });
    });
    Baseband(":UMGPS?", [this](ScpiCall& c) { c.Reply(S().pCode ? "1" : "0"); });
    const std::string hybrid = ":HYBRid:" + ScpiSystemNode();
    Baseband(hybrid, [this](ScpiCall& c) {
      auto on = c.Boolean(0);
      if (!on) return;
      const auto index = static_cast<std::size_t>(SystemOfChoice(c.Choice(1)));
      Set([&](SimulatorSettings& s) { s.hybrid[index] = *on; });
    });
    Baseband(hybrid + "?", [this](ScpiCall& c) {
      const auto index = static_cast<std::size_t>(SystemOfChoice(c.Choice(1)));
      c.Reply(S().hybrid[index] ? "1" : "0");
    });
  }

  void RegisterSatellites() {
    Baseband(":SATellite:COUNt", [this](ScpiCall& c) {
      auto n = c.IntegerIn(0, kMinimumSatelliteCount, kSlotCapacity);
      if (n) Set([&](SimulatorSettings& s) { s.satelliteCount = static_cast<int>(*n); });
    });
    Baseband(":SATellite:COUNt?",
             [this](ScpiCall& c) { c.Reply(std::to_string(S().satelliteCount)); });
    Baseband(":GOConstellation", [this](ScpiCall&) { model_.AutoConstellation(); });
    Baseband(":SATellite#:STATe", [this](ScpiCall& c) {
      auto slot = Slot(c);
      auto on = slot ? c.Boolean(0) : std::nullopt;
      if (on) Set([&](SimulatorSettings& s) { s.satelliteSlots[*slot - 1].on = *on; });
    });
    Baseband(":SATellite#:STATe?", [this](ScpiCall& c) {
      if (auto slot = Slot(c)) c.Reply(S().satelliteSlots[*slot - 1].on ? "1" : "0");
    });
    Baseband(":SATellite#:STANdard", [this](ScpiCall& c) {
      auto slot = Slot(c);
      if (!slot) return;
      auto tag = c.Text(0);
      if (!tag) return;
      auto standard = SystemOfStandard(*tag);
      if (!standard) return c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
      Set([&](SimulatorSettings& s) {
        SatelliteSlot& slotState = s.satelliteSlots[*slot - 1];
        slotState.standard = *standard;
        slotState.svid = std::min(slotState.svid, Row(*standard).maxSvid);
      });
    });
    Baseband(":SATellite#:STANdard?", [this](ScpiCall& c) {
      if (auto slot = Slot(c)) c.Reply(Row(S().satelliteSlots[*slot - 1].standard).standardTag);
    });
    Baseband(":SATellite#:SVID", [this](ScpiCall& c) {
      auto slot = Slot(c);
      if (!slot) return;
      auto svid = c.IntegerIn(0, 1, Row(S().satelliteSlots[*slot - 1].standard).maxSvid);
      if (svid)
        Set([&](SimulatorSettings& s) {
          s.satelliteSlots[*slot - 1].svid = static_cast<int>(*svid);
        });
    });
    Baseband(":SATellite#:SVID?", [this](ScpiCall& c) {
      if (auto slot = Slot(c)) c.Reply(std::to_string(S().satelliteSlots[*slot - 1].svid));
    });
    Baseband(":SATellite#:SIGNal", [this](ScpiCall& c) {
      auto slot = Slot(c);
      if (!slot) return;
      auto signal = OneOf(c, 0,
                          {{"CACODE", "CACode"},
                           {"CAC", "CACode"},
                           {"CAPQ", "CAPQ"},
                           {"PCODE", "PCODe"},
                           {"PCOD", "PCODe"}});
      if (signal) Set([&](SimulatorSettings& s) { s.satelliteSlots[*slot - 1].signal = *signal; });
    });
    Baseband(":SATellite#:SIGNal?", [this](ScpiCall& c) {
      if (auto slot = Slot(c)) c.Reply(S().satelliteSlots[*slot - 1].signal);
    });
  }

  void RegisterTime() {
    Baseband(":NAVigation:SIMulation:WNUMber", [this](ScpiCall& c) {
      auto week = c.IntegerIn(0, 0, 10000);
      if (week) model_.SetWeekNumber(static_cast<int>(*week));
    });
    Baseband(":NAVigation:SIMulation:WNUMber?",
             [this](ScpiCall& c) { c.Reply(std::to_string(model_.WeekNumberNow())); });
    Baseband(":NAVigation:SIMulation:TOW", [this](ScpiCall& c) {
      // Below a whole week: the largest double under it is the bound.
      auto tow = c.NumberIn(0, 0.0, std::nextafter(kSecondsPerWeek, 0.0));
      if (tow) model_.SetTimeOfWeek(*tow);
    });
    Baseband(":NAVigation:SIMulation:TOW?", [this](ScpiCall& c) {
      c.Reply(Format("%.3f", BelowRollOver(model_.TimeOfWeekNow(), kSecondsPerWeek)));
    });
    Baseband(":NAVigation:SIMulation:DATE", [this](ScpiCall& c) {
      auto year = c.Integer(0);
      auto month = year ? c.Integer(1) : std::nullopt;
      auto day = month ? c.Integer(2) : std::nullopt;
      if (!day) return;
      if (!model_.SetUtcDate(static_cast<int>(*year), static_cast<int>(*month),
                             static_cast<int>(*day))) {
        c.OutOfRange();
      }
    });
    Baseband(":NAVigation:SIMulation:DATE?", [this](ScpiCall& c) {
      const CalendarTime t = model_.UtcNow();
      c.Reply(Format("%d,%d,%d", t.year, t.month, t.day));
    });
    Baseband(":NAVigation:SIMulation:TIME", [this](ScpiCall& c) {
      auto hour = c.Integer(0);
      auto minute = hour ? c.Integer(1) : std::nullopt;
      auto second = minute ? c.Number(2) : std::nullopt;
      if (!second) return;
      if (!model_.SetUtcTimeOfDay(static_cast<int>(*hour), static_cast<int>(*minute), *second)) {
        c.OutOfRange();
      }
    });
    Baseband(":NAVigation:SIMulation:TIME?", [this](ScpiCall& c) {
      const CalendarTime t = model_.UtcNow();
      c.Reply(Format("%d,%d,%.3f", t.hour, t.minute, BelowRollOver(t.second, 60.0)));
    });
  }

  void RegisterLocation() {
    Baseband(":LOCation:SELect", [this](ScpiCall& c) {
      auto name = c.Text(0);
      if (!name) return;
      const std::string upper = Upper(*name);
      if (upper == "USER DEFINED") {
        Set([](SimulatorSettings& s) {
          s.locationMode = LocationMode::UserDefined;
          s.locationName = "User Defined";
        });
      } else if (upper == "WAYPOINTS") {
        Set([](SimulatorSettings& s) {
          s.locationMode = LocationMode::Waypoints;
          s.locationName = "Waypoints";
        });
      } else {
        c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
      }
    });
    Baseband(":LOCation:SELect?", [this](ScpiCall& c) { c.Reply("\"" + S().locationName + "\""); });
    Baseband(":LOCation:COORdinates:DECimal[:WGS]", [this](ScpiCall& c) {
      if (!c.AtMost(3)) return;
      if (auto p = ReadPosition(c, 0)) Set([&](SimulatorSettings& s) { s.userLocation = *p; });
    });
    // The location now: the fixed point, or where the route has got to.
    Baseband(":LOCation:COORdinates:DECimal[:WGS]?",
             [this](ScpiCall& c) { c.Reply(FormatPosition(model_.ReceiverPositionNow())); });
    Baseband(":LOCation:WAYPoints:FILE", [this](ScpiCall& c) {
      auto file = c.Text(0);
      if (!file) return;
      Set([&](SimulatorSettings& s) { s.waypointFile = *file; });
      const std::string path = StoragePath(storageRoot_, *file);
      std::string why;
      loadedRoute_ = path.empty() ? nullptr : WaypointRoute::Load(path, &why);
      if (!loadedRoute_) {
        model_.SetRoute(nullptr);
        return c.Error(kFileNameNotFound, "File name not found");
      }
      ApplyRoute();
    });
    Baseband(":LOCation:WAYPoints:FILE?",
             [this](ScpiCall& c) { c.Reply("'" + S().waypointFile + "'"); });
    Baseband(":LOCation:WAYPoints:ROMode", [this](ScpiCall& c) {
      auto mode = OneOf(c, 0,
                        {{"CYCL", "CYCL"},
                         {"CYCLIC", "CYCL"},
                         {"ONCE", "ONCE"},
                         {"RTR", "RTR"},
                         {"ROUNDTRIP", "RTR"}});
      if (!mode) return;
      Set([&](SimulatorSettings& s) { s.waypointReadoutMode = *mode; });
      ApplyRoute();
    });
    Baseband(":LOCation:WAYPoints:ROMode?",
             [this](ScpiCall& c) { c.Reply(S().waypointReadoutMode); });
    // RT:RLOC:COOR:DEC? UTC,<year>,<month>,<day>,<hour>,<minute>,<second>
    Baseband(":RT:RLOCation:COORdinates:DECimal[:WGS]?", [this](ScpiCall& c) {
      auto base = OneOf(c, 0, {{"UTC", "UTC"}, {"GPS", "GPS"}});
      if (!base) return;
      CalendarTime t;
      int* fields[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute};
      for (size_t i = 0; i < std::size(fields); ++i) {
        auto value = c.Integer(i + 1);
        if (!value) return;
        *fields[i] = static_cast<int>(*value);
      }
      auto second = c.Number(6);
      if (!second) return;
      t.second = *second;
      auto gps = SimulatorModel::UtcCalendarToGps(t);
      if (!gps) return c.OutOfRange();
      // A date given in GPS time is converted back to the GPS time scale.
      if (*base == "GPS") *gps -= kGpsUtcLeapSeconds;
      c.Reply(FormatPosition(model_.ReceiverPositionAt(*gps)));
    });
  }

  void ApplyRoute() {
    if (!loadedRoute_) return;
    const std::string& mode = S().waypointReadoutMode;
    const auto readout = mode == "ONCE"  ? WaypointRoute::Readout::Once
                         : mode == "RTR" ? WaypointRoute::Readout::RoundTrip
                                         : WaypointRoute::Readout::Cyclic;
    model_.SetRoute(loadedRoute_->WithReadout(readout));
  }

  ScpiCommandTable& t_;
  SimulatorModel& model_;
  std::string storageRoot_;
  std::shared_ptr<const WaypointRoute> loadedRoute_;
  int listener_ = 0;
};

}  // namespace

void RegisterSimulatorCommands(ScpiInstrument& instrument, const std::string& storageRoot) {
  // The handlers refer to the registrar, so it lives as long as the instrument.
  auto commands = std::make_shared<SimulatorCommands>(instrument, storageRoot);
  commands->Register();
  instrument.KeepAlive(std::move(commands));
}

}  // namespace emu
