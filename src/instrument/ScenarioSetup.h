// Simulation scenario set-up: turns a test's constellation request into the
// simulator's SCPI commands. Every operation talks to SimulatorSession through
// the SCPI helpers and keeps no state between calls; the test procedures call
// them in their own order.
#pragma once

#include <string>

#include "geo/Geo.h"

struct ConstellationRequest {
  int gpsCount = 0;  // a system is in use when its count is 1 or more
  int galileoCount = 0;
  int glonassCount = 0;
  std::string gpsSvids;  // "1,5,7" or "AUTO"
  std::string galileoSvids;
  std::string glonassSvids;
  int pCode = 0;  // 1: GPS P code as well
};

enum HybridMode { kGpsAlone = 0, kGalileoAlone = 1, kGlonassOnly = 2, kHybrid = 3 };

struct PrimarySystem {
  std::string prefix;  // "SOUR:BB:GPS", "SOUR:BB:GAL" or "SOUR:BB:GLONASS"
  int hybridMode = kGpsAlone;
  int glonassTime = 0;  // 1: simulation time is a calendar date and time
};

enum GnssSystem { kSystemGps = 0, kSystemGalileo = 1, kSystemGlonass = 2 };

// The simulator's satellite slots that AssignSatellites manages: 1 to 32.
inline constexpr int kSatelliteSlots = 32;

inline constexpr const char* kGpsPrefix = "SOUR:BB:GPS";
inline constexpr const char* kGalileoPrefix = "SOUR:BB:GAL";
inline constexpr const char* kGlonassPrefix = "SOUR:BB:GLONASS";

// The wait SetupLocation makes after the satellite count (1 s with the user
// interface kept alive). A benchmark that measures the commands alone points
// this elsewhere; the station never does.
using SettleWaitFunction = void (*)(double seconds);
extern SettleWaitFunction ScenarioSettleWait;

int TotalSatelliteCount(const ConstellationRequest& request);

void ResetSimulator();
PrimarySystem SelectPrimarySystem(const ConstellationRequest& request, double levelDbm,
                                  const char* simulationMode);
void SetupSystemBase(GnssSystem system, double levelDbm, const char* simulationMode);
void SetReferencePower(const std::string& prefix, const std::string& levelOffset);
void SetupLocation(const GeoPoint& point, int totalSatellites, const std::string& prefix);
void SetupSatelliteCount(int count, const std::string& prefix);
void EnableHybrid(const PrimarySystem& primary, const ConstellationRequest& request);
void ShiftSimulationTime(const PrimarySystem& primary, double offsetSeconds);
// Both search and query slots 1 to min(total, kSatelliteSlots) only.
void AssignSatellites(const PrimarySystem& primary, const ConstellationRequest& request);
void SelectPCodeSignals(const std::string& prefix, int totalSatellites);
void StartSimulation(const std::string& prefix);
