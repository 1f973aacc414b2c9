// The station's own work in one monitoring pass of the moving receiver test,
// beyond its waits: errors, track, graphs, satellite row, indicators, the
// periodic report every 5th pass, the pictures and table trimming every 30th,
// and the event processing at its end, on the real run panel (off-screen)
// with the table at 299 rows x 32 columns and graphs of 10,000 segments.
//   build/bench/bench_moving_pass --benchmark_repetitions=3
// BM_MovingPass averages over whole 30-pass cycles; BM_PicturePass is the
// 30th pass's extra work alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/GNSS_UI_MENU.h"
#include "geo/Geo.h"
#include "panels/GNSS_UI_AUTOHO_uir.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "procedures/X47_GNSS_MovingDisplays.h"
#include "receiver/Nmea.h"
#include "report/ProgressLog.h"
#include "state/StationState.h"
#include "text/CText.h"

namespace {

std::FILE* gHtmlLog = nullptr;
int gPass = 0;

SatelliteTable FullSky(int pass) {
  SatelliteTable table;
  for (int i = 0; i < kSatelliteTableSize; ++i) {
    auto& s = table[static_cast<std::size_t>(i)];
    s.prn = i < 12 ? i + 1 : i < 22 ? 211 + i - 12 : 65 + i - 22;
    s.cn0 = 30 + (i + pass) % 20;
    s.usedFlag = (i + pass) % 3 ? 'U' : 0;
  }
  return table;
}

GeoPoint At(double east, double north, const GeoPoint& reference) {
  GeoPoint p;
  EnuToGeodetic(reference, east, north, 0.0, p);
  return p;
}

// One pass as RunMovingReceiverTest makes it after ReadNextFix has returned
// (the truth query to the simulator is a loopback round trip of about 50 us
// on top; the epoch decoding about 2 us, bench_epoch).
void OnePass(GeoPoint& reference) {
  const int p = ++gPass;
  const double angle = gPass * 0.05;
  GeoPoint truth = At(150 * std::sin(angle), 150 * std::cos(angle), reference);
  GeoPoint measured = At(150 * std::sin(angle) + 2, 150 * std::cos(angle) - 1, reference);
  double error3d = 0, error2d = 0;
  ComputePositionErrors(measured, truth, reference, error3d, error2d);
  const int panel = MovingRunPanel;
  SetCtrlVal(panel, MOVRUN_REMAINING, FormatC("%d", 100000 - gPass).c_str());
  UpdateTrackDisplay(truth, measured);
  SetCtrlVal(panel, MOVRUN_ERR_2D, FormatC("%f", error2d).c_str());
  SetCtrlVal(panel, MOVRUN_ERR_3D, FormatC("%f", error3d).c_str());
  // Steps join where the previous ones ended, as in a run that measures on
  // every pass.
  static double previous2d = 2.0, previous3d = 3.0, average2d = 2.5, average3d = 3.5;
  const double newAverage2d = average2d + (error2d - average2d) / (p + 1);
  const double newAverage3d = average3d + (error3d - average3d) / (p + 1);
  PlotAverageStep(p, average2d, newAverage2d, average3d, newAverage3d);
  PlotErrorStep(p, previous2d, error2d, previous3d, error3d);
  previous2d = error2d;
  previous3d = error3d;
  average2d = newAverage2d;
  average3d = newAverage3d;
  if (p % 10 == 0) RedrawErrorGraphs();
  SetCtrlVal(panel, MOVRUN_T_READ, "0.000100");
  SetCtrlVal(panel, MOVRUN_RX_TIME, "12:00:00");
  AddSatelliteRow(FullSky(gPass), kSatelliteTableSize, 20, 3);
  if (p % 5 == 0) {
    for (const char* line :
         {"3D FIX with 20 satellites\n",
          "SATs in Fix (20), SVIDs: [1: 40 ] [2: 41 ] [3: 42 ] [4: 43 ] [5: 44 ] [6: 45 ]\n",
          "Periodic report 1: 2D_ERR=2.000   3D_ERR=3.000   HDOP=1.00   VDOP=1.50\n",
          "Receiver Time: 10.12.2026 , 12:0:0 "})
      LogProgressHtml(line, GetColorHtml("blue", line), gHtmlLog);
  }
  if (p % 30 == 0) {
    SaveMovingGraphPictures(1);
    TrimSatelliteTable();
  }
  SetCtrlVal(panel, MOVRUN_T_UPDATE, "0.000100");
  ProcessSystemEvents();
  SetCtrlVal(panel, MOVRUN_T_EVENTS, "0.000100");
}

GeoPoint Reference() {
  GeoPoint reference;
  reference.latitude = 48.1173;
  reference.longitude = 11.5167;
  reference.altitude = 560;
  GeodeticToEcef(reference);
  return reference;
}

// The state of a long drive: 299 rows over 32 satellites, 10,000 segments
// on each graph (5,000 passes of an error and an average step).
void FillLongDrive() {
  ResetMovingDisplays();
  for (int r = 0; r < kTableRowsKept; ++r) AddSatelliteRow(FullSky(r), kSatelliteTableSize, 20, 3);
  for (int k = 1; k <= 5000; ++k) {
    PlotErrorStep(k, 2.0 + k % 7, 2.0 + (k + 1) % 7, 3.0 + k % 5, 3.0 + (k + 1) % 5);
    PlotAverageStep(k, 2.5, 2.5, 3.5, 3.5);
  }
  RedrawErrorGraphs();
  ProcessSystemEvents();
  gPass = 5000;
}

void BM_MovingPass(benchmark::State& state) {
  FillLongDrive();
  GeoPoint reference = Reference();
  for (auto _ : state) OnePass(reference);
  int rows = 0, columns = 0;
  GetNumTableRows(MovingRunPanel, MOVRUN_SAT_TABLE, &rows);
  GetNumTableColumns(MovingRunPanel, MOVRUN_SAT_TABLE, &columns);
  state.counters["rows"] = rows;
  state.counters["columns"] = columns;
}
BENCHMARK(BM_MovingPass)->Iterations(300)->Unit(benchmark::kMillisecond);

void BM_PicturePass(benchmark::State& state) {
  FillLongDrive();
  for (auto _ : state) {
    SaveMovingGraphPictures(1);
    TrimSatelliteTable();
  }
}
BENCHMARK(BM_PicturePass)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  static char name[] = "bench_moving_pass";
  static char* qtArgv[] = {name, nullptr};
  if (InitUserInterfaceRuntime(1, qtArgv, true) == 0) return 1;
  RegisterSystemCallbacks();
  const auto dir =
      std::filesystem::temp_directory_path() / ("bench-moving-pass-" + std::to_string(::getpid()));
  RunLogDirectory = "KELMAR_LOGS_bench";
  std::filesystem::create_directories(dir / "LOG" / RunLogDirectory);
  std::filesystem::current_path(dir);
  const int panel = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_AUTOHO.uir", MOVRUN);
  if (panel <= 0) {
    std::fprintf(stderr, "bench_moving_pass: %s\n", UiLastError().c_str());
    return 1;
  }
  MovingRunPanel = RunPanelHandle = panel;
  RunPanelLogControl = MOVRUN_LOG;
  DisplayPanel(panel);
  gHtmlLog = std::fopen("LOG/KELMAR_LOGS_bench/GNSS_001.html", "w");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::fclose(gHtmlLog);
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  return 0;
}
