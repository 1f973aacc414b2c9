// The added cost at the end of a test: statistics, results.json, the CSV and
// STATISTICS.html with its figures, over synthetic records of a 100-point
// basic test and of a one-hour drive at one pass a second (3,600 passes, 12
// satellites each). The rss_growth_kB counter shows whether repeated ends
// leave memory behind.
//
//   build/bench/bench_results --benchmark_repetitions=3
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/ui.h"
#include "report/Results.h"

namespace {

std::string gDirectory;

ResultsFix Fix(double lat, double lon, int i) {
  ResultsFix fix;
  fix.present = true;
  fix.position = {lat, lon, 520.0 + std::sin(i) * 3};
  fix.utc = "2026-12-10T14:00:05Z";
  fix.fixMode = 3;
  fix.satellitesUsed = 12;
  for (int s = 0; s < 12; ++s) fix.satellites.push_back({s + 1, 35 + s, 10 + 5 * s, 30 * s});
  fix.pdop = 1.6;
  fix.hdop = 0.9;
  fix.vdop = 1.3;
  return fix;
}

ResultsErrors Errors(int i) {
  ResultsErrors e;
  e.present = true;
  e.east = 3.0 * std::sin(i * 0.7);
  e.north = 2.0 * std::cos(i * 1.3);
  e.up = 5.0 * std::sin(i * 0.3);
  e.error2d = std::hypot(e.east, e.north);
  e.error3d = std::sqrt(e.error2d * e.error2d + e.up * e.up);
  return e;
}

TestResults BasicTest(int points) {
  TestResults t;
  t.id = "000";
  t.name = "Basic Localization";
  t.kind = ResultsTestKind::kBasic;
  t.ended = true;
  t.verdict = "PASS";
  t.settings = {NumberField("iterations", points), NumberField("max_fix_time_s", 120)};
  for (int i = 0; i < points; ++i) {
    BasicPointResult p;
    p.point = i + 1;
    p.outcome = ResultsOutcome::kSampled;
    p.timeToFix = p.firstWait = 25.0 + (i * 7) % 20;
    p.truth = {48.1 + i * 1e-4, 11.5, 520.0};
    p.fix = Fix(p.truth.latitude, p.truth.longitude, i);
    p.errors = Errors(i);
    t.points.push_back(std::move(p));
  }
  return t;
}

TestResults Drive(int passes) {
  TestResults t;
  t.id = "001";
  t.name = "Moving Receiver";
  t.kind = ResultsTestKind::kMoving;
  t.ended = true;
  t.verdict = "PASS";
  t.settings = {NumberField("duration_s", passes)};
  for (int i = 0; i < passes; ++i) {
    MovingPassResult p;
    p.pass = i + 1;
    p.elapsed = i;
    p.inIgnoreWindow = i < 30;
    p.outcome = ResultsOutcome::kSampled;
    p.goodFix = i % 50 != 0;
    p.satellitesUsable = 12;
    p.truth = {48.1 + i * 1e-5, 11.5 + i * 1e-5, 520.0};
    p.fix = Fix(p.truth.latitude, p.truth.longitude, i);
    p.errors = Errors(i);
    t.passes.push_back(std::move(p));
  }
  return t;
}

long ResidentKilobytes() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void EndOfTest(benchmark::State& state, TestResults test, bool withPage) {
  ResultsRun run;
  run.directory = "KELMAR_LOGS_bench";
  run.simulatorIdentification = "QARN,SMx,1.0";
  run.tests.push_back(std::move(test));
  TestResults& t = run.tests.back();
  long before = 0;
  int iteration = 0;
  for (auto _ : state) {
    ComputeTestStatistics(t);
    if (withPage) {
      WriteResultsFiles(run, t, gDirectory);
    } else {
      benchmark::DoNotOptimize(ResultsJson(run));
      benchmark::DoNotOptimize(ResultsCsv(t));
    }
    if (++iteration == 1) before = ResidentKilobytes();  // after the first: caches warm
  }
  state.counters["rss_growth_kB"] = static_cast<double>(ResidentKilobytes() - before);
  state.counters["results_json_kB"] = static_cast<double>(ResultsJson(run).size()) / 1024.0;
}

void BM_EndOf100PointRun(benchmark::State& state) { EndOfTest(state, BasicTest(100), true); }
BENCHMARK(BM_EndOf100PointRun)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_EndOfOneHourDrive(benchmark::State& state) { EndOfTest(state, Drive(3600), true); }
BENCHMARK(BM_EndOfOneHourDrive)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same without STATISTICS.html: statistics, JSON and CSV text only.
void BM_OneHourDriveTextOnly(benchmark::State& state) { EndOfTest(state, Drive(3600), false); }
BENCHMARK(BM_OneHourDriveTextOnly)->Unit(benchmark::kMillisecond);

// What the recorder keeps per pass of a drive (12 satellites used).
void BM_RecordOneHourDrive(benchmark::State& state) {
  for (auto _ : state) {
    TestResults t = Drive(3600);
    benchmark::DoNotOptimize(t.passes.data());
  }
  state.counters["bytes_per_pass"] =
      static_cast<double>(sizeof(MovingPassResult) + 12 * sizeof(ResultsSatellite));
}
BENCHMARK(BM_RecordOneHourDrive)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  static char name[] = "bench_results";
  static char* qtArgv[] = {name, nullptr};
  if (InitUserInterfaceRuntime(1, qtArgv, true) == 0) return 1;
  const auto dir =
      std::filesystem::temp_directory_path() / ("bench-results-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  gDirectory = dir.string();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir);
  return 0;
}
