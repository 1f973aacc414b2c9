// The run panels' widgets off-screen: a long moving test's worth of graph
// segments with one redraw, and the satellite map at its largest (300 rows x
// 32 columns): sized to its contents when filled, and one pass's new row.
//   build/bench/bench_ui_widgets --benchmark_min_time=2
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "platform/ui.h"

namespace {

enum { BENCH = 1, B_GRAPH = 10, B_TABLE = 11 };
constexpr ControlEntry kControls[] = {
    {BENCH, BENCH, "Bench"}, {BENCH, B_GRAPH, "B_GRAPH"}, {BENCH, B_TABLE, "B_TABLE"}};
constexpr PanelContract kContract = {"bench_widgets.uir", kControls, std::size(kControls)};

const char* kXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>Bench</class>
<widget class="QWidget" name="Bench">
 <property name="geometry"><rect><x>0</x><y>0</y><width>1000</width><height>700</height></rect></property>
 <layout class="QHBoxLayout" name="row">
  <item><widget class="StationGraph" name="B_GRAPH"/></item>
  <item><widget class="QTableWidget" name="B_TABLE"/></item>
 </layout></widget></ui>
)";

int gPanel = 0;

// PlotLine calls as the moving test makes them (error and average
// interleaved), then the redraw and a render of the graph. First argument 1:
// redrawn only at the end (ATTR_REFRESH_GRAPH 0); 0: redrawing on, with the
// events of every pass processed, as the basic test's waits do (each redraw
// lays out and paints the whole curve, so that cost grows with the square of
// the lines). Second argument: the number of lines.
void BM_PlotLineAndRedraw(benchmark::State& state) {
  const bool deferred = state.range(0) != 0;
  for (auto _ : state) {
    DeleteGraphPlot(gPanel, B_GRAPH, VAL_ALL_OBJECTS, VAL_IMMEDIATE_DRAW);
    SetCtrlAttribute(gPanel, B_GRAPH, ATTR_REFRESH_GRAPH, deferred ? 0 : 1);
    double error = 5.0, average = 5.0;
    for (int k = 1; k <= state.range(1) / 2; ++k) {
      const double nextError = 5.0 + (k * 7919 % 100) / 10.0;
      const double nextAverage = average + (nextError - average) / (k + 1);
      PlotLine(gPanel, B_GRAPH, k - 1, error, k, nextError, VAL_RED);
      PlotLine(gPanel, B_GRAPH, k - 1, average, k, nextAverage, VAL_BLUE);
      error = nextError;
      average = nextAverage;
      if (!deferred) ProcessSystemEvents();
    }
    RefreshGraph(gPanel, B_GRAPH);
    int bitmap = 0;
    GetCtrlDisplayBitmap(gPanel, B_GRAPH, 0, &bitmap);
    DiscardBitmap(bitmap);
  }
}
BENCHMARK(BM_PlotLineAndRedraw)
    ->Args({1, 10000})
    ->Args({0, 1000})
    ->Args({0, 2000})
    ->Unit(benchmark::kMillisecond);

void FillSatelliteMap(int rows, int columns) {
  DeleteTableRows(gPanel, B_TABLE, 1, -1);
  DeleteTableColumns(gPanel, B_TABLE, 1, -1);
  InsertTableColumns(gPanel, B_TABLE, -1, columns);
  for (int c = 1; c <= columns; ++c)
    SetTableColumnLabel(gPanel, B_TABLE, c, std::to_string(c * 3).c_str());
  InsertTableRows(gPanel, B_TABLE, -1, rows);
  for (int r = 1; r <= rows; ++r) {
    SetTableRowLabel(gPanel, B_TABLE, r, "Thu Dec 10 14:00:00 2026");
    for (int c = 1; c <= columns; c += 2) {
      SetTableCellVal(gPanel, B_TABLE, r, c, "\xE2\x80\xA2");
      if (c % 4 == 1) SetTableCellBackground(gPanel, B_TABLE, r, c, VAL_GREEN);
    }
  }
}

// FitTableToContents on the largest satellite map just filled: every row,
// column, cell and label is new and measured. A pass's fit (one new row) is
// part of BM_SatelliteRowOn300x32.
void BM_FitTable300x32(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    FillSatelliteMap(300, 32);
    state.ResumeTiming();
    FitTableToContents(gPanel, B_TABLE);
  }
}
BENCHMARK(BM_FitTable300x32)->Unit(benchmark::kMillisecond);

// One pass of the satellite map at its largest: hide, a row on top with
// marks, size, show.
void BM_SatelliteRowOn300x32(benchmark::State& state) {
  FillSatelliteMap(300, 32);
  for (auto _ : state) {
    SetCtrlAttribute(gPanel, B_TABLE, ATTR_VISIBLE, 0);
    InsertTableRows(gPanel, B_TABLE, 1, 1);
    SetTableRowLabel(gPanel, B_TABLE, 1, "Thu Dec 10 14:00:01 2026");
    for (int c = 1; c <= 32; c += 3) SetTableCellVal(gPanel, B_TABLE, 1, c, "\xE2\x80\xA2");
    FitTableToContents(gPanel, B_TABLE);
    SetCtrlAttribute(gPanel, B_TABLE, ATTR_VISIBLE, 1);
    DeleteTableRows(gPanel, B_TABLE, 301, -1);
    ProcessSystemEvents();
  }
}
BENCHMARK(BM_SatelliteRowOn300x32)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  static char name[] = "bench_ui_widgets";
  static char* qtArgv[] = {name, nullptr};
  if (InitUserInterfaceRuntime(1, qtArgv, true) == 0) return 1;
  RegisterPanelContract(kContract);
  QTemporaryDir dir;
  const QString path = QDir(dir.path()).filePath("bench_widgets.uir");
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return 1;
  file.write(kXml);
  file.close();
  gPanel = LoadPanel(0, path.toUtf8().constData(), BENCH);
  if (gPanel <= 0) {
    std::fprintf(stderr, "bench_ui_widgets: %s\n", UiLastError().c_str());
    return 1;
  }
  DisplayPanel(gPanel);
  ProcessSystemEvents();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
