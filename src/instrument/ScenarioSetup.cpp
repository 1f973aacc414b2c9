#include "instrument/ScenarioSetup.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "instrument/DUT_IP_Control.h"
#include "platform/clock.h"
#include "report/ProgressLog.h"
#include "text/CText.h"

SettleWaitFunction ScenarioSettleWait = WaitSeconds;

namespace {

struct SystemRow {
  const char* prefix;
  const char* frequencyCommand;
  const char* triggerCommand;
  const char* modeCommand;  // the simulation mode text is appended
  const char* standardTag;  // written by "%s:SAT%d:STAN <tag>"
  const char* comparedTag;  // first 3 characters of "%s:SAT%d:STAN?"
};

constexpr SystemRow kSystems[] = {
    {kGpsPrefix, "SOUR:FREQ 1.57542GHz", "SOUR:BB:GPS:TRIG:SEQ ARET", "SOUR:BB:GPS:SMOD ", "GPS",
     "GPS"},
    {kGalileoPrefix, "SOUR:FREQ 1.57542GHz", "SOUR:BB:GAL:TRIG:SEQ ARET", "SOUR:BB:GAL:SMOD ",
     "GAL", "GAL"},
    {kGlonassPrefix, "SOUR:FREQ 1.602GHz", "SOUR:BB:GLONASS:TRIG:SEQ ARET", "SOUR:BB:GLONASS:SMOD ",
     "GLON", "GLO"},
};

constexpr int kModeCommandSize = 256;
constexpr double kSecondsPerWeek = 604800.0;

void Command(const char* text) { Dut_Command(SimulatorSession, text); }

// Truncation toward zero that cannot overflow on a garbage reply.
int TruncToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);
}

// sscanf with numbers read in the C locale.
template <typename... Args>
void ScanC(const char* text, const char* format, Args*... values) {
  ScopedCLocale c;
  std::sscanf(text, format, values...);
}

void ShiftWeekTime(const std::string& prefix, double offsetSeconds) {
  char answer[kQueryAnswerSize];
  My_Query(SimulatorSession, GetString("%s:NAV:SIM:WNUM?", prefix.c_str()), answer);
  const double week = ParseLeadingDouble(answer);
  My_Query(SimulatorSession, GetString("%s:NAV:SIM:TOW?", prefix.c_str()), answer);
  const double timeOfWeek = ParseLeadingDouble(answer);

  const double s = timeOfWeek + offsetSeconds;
  double weeks = std::floor(s / kSecondsPerWeek);
  double newTimeOfWeek = s - kSecondsPerWeek * weeks;
  // A sum a hair below a week boundary falls in the week before it, yet the
  // subtraction can round up to a whole week: that is the next week's start.
  if (newTimeOfWeek >= kSecondsPerWeek) {
    newTimeOfWeek -= kSecondsPerWeek;
    weeks += 1.0;
  }
  Command(GetString("%s:NAV:SIM:WNUM %d", prefix.c_str(), TruncToInt(week + weeks)));
  Command(GetString("%s:NAV:SIM:TOW %d", prefix.c_str(), TruncToInt(newTimeOfWeek)));
}

// The carries above leave a negative second, minute or hour after a negative
// offset, and a day beyond its month (or below 1): borrow and carry them into
// a real date and time of day, which is all the instrument accepts. A date
// that was a real one stays as it is; a reply without a month is left alone.
void NormaliseCalendar(int* year, int* month, long long* day, int* hour, int* minute,
                       float* second) {
  if (*second < 0.0f) {
    *second += 60.0f;
    --*minute;
    if (*second >= 60.0f) {  // a hair below zero rounds up to a whole minute
      *second -= 60.0f;
      ++*minute;
    }
  }
  if (*minute < 0) {
    *minute += 60;
    --*hour;
  }
  if (*hour < 0) {
    *hour += 24;
    --*day;
  }
  if (*month < 1 || *month > 12) return;
  // The day counted from the first of the month; a date beyond the years
  // the calendar holds (+-32767) is left alone.
  namespace chr = std::chrono;
  constexpr chr::year kFirst = chr::year::min(), kLast = chr::year::max();
  if (*year < static_cast<int>(kFirst) || *year > static_cast<int>(kLast)) return;
  const long long firstOfMonth =
      chr::sys_days{chr::year{*year} / chr::month{static_cast<unsigned>(*month)} / 1}
          .time_since_epoch()
          .count();
  const long long earliest = chr::sys_days{kFirst / chr::January / 1}.time_since_epoch().count();
  const long long latest = chr::sys_days{kLast / chr::December / 31}.time_since_epoch().count();
  if (*day - 1 < earliest - firstOfMonth || *day - 1 > latest - firstOfMonth) return;
  const chr::year_month_day date{chr::sys_days{chr::days{firstOfMonth + (*day - 1)}}};
  *year = static_cast<int>(date.year());
  *month = static_cast<int>(static_cast<unsigned>(date.month()));
  *day = static_cast<unsigned>(date.day());
}

void ShiftCalendarTime(const std::string& prefix, double offsetSeconds) {
  char answer[kQueryAnswerSize];
  int year = 0, month = 0, day = 0;
  My_Query(SimulatorSession, GetString("%s:NAV:SIM:DATE?", prefix.c_str()), answer);
  ScanC(answer, "%d, %d, %d", &year, &month, &day);
  int hour = 0, minute = 0;
  float second = 0.0f;
  My_Query(SimulatorSession, GetString("%s:NAV:SIM:TIME?", prefix.c_str()), answer);
  ScanC(answer, "%d, %d, %f", &hour, &minute, &second);

  const double t = offsetSeconds;
  const int days = TruncToInt(t / 86400.0);
  const int hours = TruncToInt((t - 86400.0 * days) / 3600.0);
  const int minutes = TruncToInt((t - 86400.0 * days - 3600.0 * hours) / 60.0);
  const float seconds = static_cast<float>(t - 86400.0 * days - 3600.0 * hours - 60.0 * minutes);

  // Carries truncate toward zero; NormaliseCalendar then makes a real date
  // and time of day of the result.
  second += seconds;
  int carry = TruncToInt(second) / 60;
  second -= 60.0f * static_cast<float>(carry);
  minute += minutes + carry;
  carry = minute / 60;
  minute %= 60;
  hour += hours + carry;
  carry = hour / 24;
  hour %= 24;
  long long newDay = static_cast<long long>(day) + days + carry;
  NormaliseCalendar(&year, &month, &newDay, &hour, &minute, &second);
  day = static_cast<int>(std::clamp<long long>(newDay, INT_MIN, INT_MAX));

  Command(GetString("%s:NAV:SIM:DATE %d,%d,%d", prefix.c_str(), year, month, day));
  Command(GetString("%s:NAV:SIM:TIME %d,%d,%f", prefix.c_str(), hour, minute,
                    static_cast<double>(second)));
}

// Puts one system's SVID list into the slots, sharing `claimed` with the
// systems before it.
void AssignSystemSatellites(const std::string& prefix, const SystemRow& system,
                            const std::string& list, int totalSatellites,
                            bool (&claimed)[kSatelliteSlots + 1]) {
  int cursor = 1;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string piece = list.substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    const int svid = ParseLeadingInt(piece.c_str());

    while (cursor <= kSatelliteSlots && claimed[cursor]) ++cursor;

    // Only the managed slots are searched: asking an instrument about a slot
    // it does not have costs the session's whole time-out per query.
    bool placed = false;
    const int searched = std::min(totalSatellites, kSatelliteSlots);
    for (int slot = 1; slot <= searched; ++slot) {
      int slotSvid = 0;
      My_QueryInt(SimulatorSession, GetString("%s:SAT%d:SVID?", prefix.c_str(), slot), &slotSvid);
      char standard[kQueryAnswerSize];
      My_Query(SimulatorSession, GetString("%s:SAT%d:STAN?", prefix.c_str(), slot), standard);
      if (slotSvid == svid && std::strncmp(standard, system.comparedTag, 3) == 0) {
        claimed[slot] = true;
        placed = true;
        break;
      }
    }
    if (placed) continue;

    if (cursor > kSatelliteSlots) {
      // The slot table ends at 32: a satellite past it is left out, loudly.
      LogStatus(GetString("Warning: no satellite slot left within %d for SVID %d; not assigned\n",
                          kSatelliteSlots, svid));
      continue;
    }
    Command(GetString("%s:SAT%d:STAN %s", prefix.c_str(), cursor, system.standardTag));
    Command(GetString("%s:SAT%d:SVID %d", prefix.c_str(), cursor, svid));
    claimed[cursor] = true;
    ++cursor;
  }
}

}  // namespace

int TotalSatelliteCount(const ConstellationRequest& request) {
  return request.gpsCount + request.galileoCount + request.glonassCount;
}

void ResetSimulator() {
  static const char kReset[] = "*rst;*opc?\n";
  ViUInt32 written = 0;
  viWrite(SimulatorSession, reinterpret_cast<const ViByte*>(kReset), sizeof kReset - 1, &written);
  ViByte reply[kReadBuffMax];
  ViUInt32 received = 0;
  viRead(SimulatorSession, reply, kReadBuffMax, &received);
}

PrimarySystem SelectPrimarySystem(const ConstellationRequest& request, double levelDbm,
                                  const char* simulationMode) {
  PrimarySystem primary;
  if (request.gpsCount >= 1) {
    SetupSystemBase(kSystemGps, levelDbm, simulationMode);
    primary.prefix = kGpsPrefix;
    primary.hybridMode =
        (request.galileoCount == 0 && request.glonassCount == 0) ? kGpsAlone : kHybrid;
  } else if (request.galileoCount >= 1) {
    SetupSystemBase(kSystemGalileo, levelDbm, simulationMode);
    primary.prefix = kGalileoPrefix;
    primary.hybridMode =
        (request.gpsCount == 0 && request.glonassCount == 0) ? kGalileoAlone : kHybrid;
  } else {
    SetupSystemBase(kSystemGlonass, levelDbm, simulationMode);
    primary.prefix = kGlonassPrefix;
    primary.hybridMode = kGlonassOnly;
    primary.glonassTime = 1;
  }
  return primary;
}

void SetupSystemBase(GnssSystem system, double levelDbm, const char* simulationMode) {
  const SystemRow& row = kSystems[system];
  Command(row.frequencyCommand);
  Command(GetString("SOUR:POW:LEV:IMM:AMPL %fdBm", levelDbm));
  Command(row.triggerCommand);
  char modeCommand[kModeCommandSize];
  std::snprintf(modeCommand, sizeof modeCommand, "%s%s", row.modeCommand,
                simulationMode ? simulationMode : "");
  Command(modeCommand);
  Command("SOUR:ROSC:SOUR INT");
  Command("OUTP:STAT ON");
}

void SetReferencePower(const std::string& prefix, const std::string& levelOffset) {
  const long long power = static_cast<long long>(ParseLeadingInt(levelOffset.c_str())) - 120;
  const int clamped = power < INT_MIN ? INT_MIN : static_cast<int>(power);
  Command(GetString("%s:POWER:REF %d", prefix.c_str(), clamped));
}

void SetupLocation(const GeoPoint& point, int totalSatellites, const std::string& prefix) {
  LogStatus("Setting up QARN.. This may take a couple of seconds..\n");
  Command(GetString("%s:LOC:SELect \"User Defined\"", prefix.c_str()));
  Command(GetString("%s:LOC:COORdinates:DECimal %.6f,%.6f,%.1f", prefix.c_str(), point.longitude,
                    point.latitude, point.altitude));
  SetupSatelliteCount(totalSatellites, prefix);
  ScenarioSettleWait(1.0);
}

void SetupSatelliteCount(int count, const std::string& prefix) {
  const char* p = prefix.c_str();
  Command(GetString("%s:SAT:COUNT %d", p, count > 4 ? count : 4));
  Command(GetString("%s:GOConstellation", p));
  for (int slot = 1; slot <= count; ++slot) Command(GetString("%s:SAT%d:STAT ON", p, slot));
  // At least four slots always exist; those beyond the count go off, highest
  // first (a negative count switches off no slot below 1).
  for (int slot = 4; slot > count && slot >= 1; --slot) {
    Command(GetString("%s:SAT%d:STAT OFF", p, slot));
  }
}

void EnableHybrid(const PrimarySystem& primary, const ConstellationRequest& request) {
  const char* p = primary.prefix.c_str();
  const bool gpsPrimary = primary.prefix == kGpsPrefix;
  if (primary.hybridMode == kHybrid && gpsPrimary) {
    if (request.pCode == 1) Command(GetString("%s:UMGPS ON", p));
    if (request.galileoCount >= 1) Command(GetString("%s:HYBRID:GAL ON", p));
    if (request.glonassCount >= 1) Command(GetString("%s:HYBRID:GLONASS ON", p));
  } else if (primary.hybridMode == kHybrid && primary.prefix == kGalileoPrefix) {
    if (request.glonassCount >= 1) Command(GetString("%s:HYBRID:GLONASS ON", p));
  } else if (primary.hybridMode != kHybrid && gpsPrimary && request.pCode == 1) {
    Command(GetString("%s:UMGPS ON", p));
  }
}

void ShiftSimulationTime(const PrimarySystem& primary, double offsetSeconds) {
  if (primary.glonassTime == 1) {
    ShiftCalendarTime(primary.prefix, offsetSeconds);
  } else {
    ShiftWeekTime(primary.prefix, offsetSeconds);
  }
}

void AssignSatellites(const PrimarySystem& primary, const ConstellationRequest& request) {
  const bool anyAuto = (request.glonassCount >= 1 && request.glonassSvids == "AUTO") ||
                       (request.gpsCount >= 1 && request.gpsSvids == "AUTO") ||
                       (request.galileoCount >= 1 && request.galileoSvids == "AUTO");
  if (anyAuto) {
    Command(GetString("%s:GOConstellation", primary.prefix.c_str()));
    return;
  }
  bool claimed[kSatelliteSlots + 1] = {};
  const int total = TotalSatelliteCount(request);
  const struct {
    int count;
    const std::string& list;
    GnssSystem system;
  } order[] = {
      {request.gpsCount, request.gpsSvids, kSystemGps},
      {request.galileoCount, request.galileoSvids, kSystemGalileo},
      {request.glonassCount, request.glonassSvids, kSystemGlonass},
  };
  for (const auto& entry : order) {
    if (entry.count >= 1) {
      AssignSystemSatellites(primary.prefix, kSystems[entry.system], entry.list, total, claimed);
    }
  }
}

void SelectPCodeSignals(const std::string& prefix, int totalSatellites) {
  const int slots = std::min(totalSatellites, kSatelliteSlots);
  for (int slot = 1; slot <= slots; ++slot) {
    char standard[kQueryAnswerSize];
    My_Query(SimulatorSession, GetString("%s:SAT%d:STAN?", prefix.c_str(), slot), standard);
    if (std::strncmp(standard, "GPS", 3) == 0) {
      Command(GetString("%s:SAT%d:SIGN CAPQ", prefix.c_str(), slot));
    }
  }
}

void StartSimulation(const std::string& prefix) {
  Command(GetString("%s:STAT ON", prefix.c_str()));
  Command(GetString("%s:TRIG:EXEC", prefix.c_str()));
}
