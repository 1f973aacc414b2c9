// SCPI round trips and a full scenario set-up against qarn-emu on loopback.
//   build/bench/bench_scpi [--benchmark_min_time=2]
// The emulator is started from ../bin/qarn-emu beside this program.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "instrument/DUT_IP_Control.h"
#include "instrument/ScenarioSetup.h"
#include "platform/clock.h"
#include "report/ProgressLog.h"
#include "tests/support/EmulatorProcess.h"

namespace {

std::string EmulatorPath() {
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "bin" / "qarn-emu").string();
}

// One emulator and one session for the whole program.
struct Lab {
  std::unique_ptr<EmulatorProcess> emulator;
  bool ready = false;

  Lab() {
    emulator = std::make_unique<EmulatorProcess>(EmulatorPath(), "1");
    if (!emulator->Start(nullptr)) return;
    viOpenDefaultRM(&ResourceManagerSession);
    const std::string resource = "TCPIP::" + emulator->Address();
    ready = viOpen(ResourceManagerSession, resource.c_str(), VI_NO_LOCK, VI_NULL,
                   &SimulatorSession) == VI_SUCCESS;
    if (ready) viSetAttribute(SimulatorSession, VI_ATTR_TMO_VALUE, kSimulatorTimeoutMs);
  }
};

Lab& TheLab() {
  static Lab lab;
  return lab;
}

void BM_DutCommandRoundTrip(benchmark::State& state) {
  if (!TheLab().ready) {
    state.SkipWithError("qarn-emu did not start");
    return;
  }
  for (auto _ : state) {
    Dut_Command(SimulatorSession, GetString("%s:SAT:COUNT %d", kGpsPrefix, 24));
  }
}
BENCHMARK(BM_DutCommandRoundTrip)->Unit(benchmark::kMicrosecond);

void NoSettleWait(double) {}

// The basic test's scenario for 24 satellites with explicit SVID lists of
// three systems, without SetupLocation's one-second settle wait.
void BM_ScenarioSetup24Satellites(benchmark::State& state) {
  if (!TheLab().ready) {
    state.SkipWithError("qarn-emu did not start");
    return;
  }
  const ConstellationRequest request{
      8, 8, 8, "1,3,5,7,9,11,13,15", "1,2,3,4,5,6,7,8", "1,2,3,4,5,6,7,8", 1};
  GeoPoint point;
  point.longitude = 8.54;
  point.latitude = 47.37;
  point.altitude = 408.0;
  ScenarioSettleWait = NoSettleWait;
  // SetupLocation's progress line would go to standard output, amid the table.
  StatusLogFile = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    ResetSimulator();
    const PrimarySystem primary = SelectPrimarySystem(request, -105.0, "USER");
    SetReferencePower(primary.prefix, "5");
    SetupLocation(point, TotalSatelliteCount(request), primary.prefix);
    EnableHybrid(primary, request);
    ShiftSimulationTime(primary, 3600.0);
    AssignSatellites(primary, request);
    SelectPCodeSignals(primary.prefix, TotalSatelliteCount(request));
    StartSimulation(primary.prefix);
  }
  ScenarioSettleWait = WaitSeconds;
  std::fclose(StatusLogFile);
  StatusLogFile = nullptr;
}
BENCHMARK(BM_ScenarioSetup24Satellites)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
