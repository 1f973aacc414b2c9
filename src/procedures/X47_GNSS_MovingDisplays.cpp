// Test 001's run panel and report files: track canvas, error graphs,
// satellite table, HTML log fragments, graph pictures and summary section.
#include "procedures/X47_GNSS_MovingDisplays.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "panels/GNSS_UI_AUTOHO_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "report/HtmlText.h"
#include "report/ProgressLog.h"
#include "state/StationState.h"
#include "text/CText.h"

int MovingRunPanel = 0;

namespace {

// The bullet that marks a satellite in its column (U+2022).
constexpr const char* kSatelliteMark = "\xE2\x80\xA2";

// Display state of one run: the track scales and the table column of each
// satellite number (0: none yet).
struct DisplayState {
  double eastScale = kTrackEastScaleStart;
  double northScale = kTrackNorthScaleStart;
  std::vector<int> columnOfSatellite = std::vector<int>(kSatelliteNumberMax + 1, 0);
  int columns = 0;
};
DisplayState& Display() {
  static DisplayState state;
  return state;
}

// "LOG/<RunLogDirectory>/<name>" with every ":" made a ".".
std::string RunFilePath(const std::string& name) {
  std::string path = "LOG/" + RunLogDirectory + "/" + name;
  ReplaceChar(path.data(), ':', '.');
  return path;
}

// A pixel coordinate from a real one; what lies beyond any canvas stays there.
int PixelOf(double value) {
  if (!(value > -1e6)) return -1000000;
  if (!(value < 1e6)) return 1000000;
  return static_cast<int>(std::floor(value));
}

void WriteText(std::FILE* file, const std::string& text) {
  if (file != nullptr) std::fwrite(text.data(), 1, text.size(), file);
}

}  // namespace

MovingTestSettings ReadMovingTestSettings() {
  int page = 0;
  GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &page);
  MovingTestSettings s;
  GetCtrlVal(page, MOVING_DURATION, &s.duration);
  GetCtrlVal(page, MOVING_NUM_GPS, &s.gpsCount);
  GetCtrlVal(page, MOVING_NUM_GAL, &s.galileoCount);
  GetCtrlVal(page, MOVING_NUM_GLN, &s.glonassCount);
  GetCtrlVal(page, MOVING_MIN_SATS, &s.minSatellites);
  GetCtrlVal(page, MOVING_GPS_SVIDS, &s.gpsSvids);
  GetCtrlVal(page, MOVING_GAL_SVIDS, &s.galileoSvids);
  GetCtrlVal(page, MOVING_GLN_SVIDS, &s.glonassSvids);
  GetCtrlVal(page, MOVING_WAYPOINTS, &s.waypoints);
  GetCtrlVal(page, MOVING_IGNORE_TIME, &s.ignoreTime);
  GetCtrlVal(page, MOVING_TIME_OFFSET, &s.timeOffset);
  return s;
}

// ---- HTML log ------------------------------------------------------------------

void WriteMovingLogHeading(std::FILE* htmlLog, int monitoringSeconds) {
  WriteText(htmlLog, FormatC("<h2><a name='movingrow'>Moving Test started: Moving receiver "
                             "scenario will be logged for %d sec</a></h2><br>\n\n",
                             monitoringSeconds));
}

void WriteMovingRowResult(std::FILE* htmlLog, int row, const char* result) {
  const char* colour = std::string(result) == "PASS" ? "green" : "red";
  WriteText(htmlLog, FormatC("<br><hr><br><h3><font color='%s'>Test Row %d Result:           "
                             "%s</font></h3><hr><br>\n\n",
                             colour, row, result));
}

void WriteMovingRowEnd(std::FILE* htmlLog, int row) {
  WriteText(htmlLog, FormatC("<h2>************END OF TEST ROW %d*************</h2><br>\n", row));
}

// ---- Panel ---------------------------------------------------------------------

void ResetMovingDisplays() {
  Display() = DisplayState();
  const int panel = MovingRunPanel;
  if (panel == 0) return;
  int rows = 0, columns = 0;
  GetNumTableRows(panel, MOVRUN_SAT_TABLE, &rows);
  GetNumTableColumns(panel, MOVRUN_SAT_TABLE, &columns);
  if (rows > 0) DeleteTableRows(panel, MOVRUN_SAT_TABLE, 1, -1);
  if (columns > 0) DeleteTableColumns(panel, MOVRUN_SAT_TABLE, 1, -1);
  CanvasClear(panel, MOVRUN_TRACK, VAL_ENTIRE_OBJECT);
  for (const int graph : {MOVRUN_GRAPH_2D, MOVRUN_GRAPH_3D}) {
    DeleteGraphPlot(panel, graph, VAL_ALL_OBJECTS, VAL_IMMEDIATE_DRAW);
    SetCtrlAttribute(panel, graph, ATTR_REFRESH_GRAPH, 0);
    PlotLine(panel, graph, 0, 0, 0, 0, VAL_BLACK);
  }
}

void ClearTrackIfDue(double loopTime) {
  if (MovingRunPanel == 0 || !(std::fabs(loopTime) < 1e15)) return;
  if (static_cast<long long>(loopTime) % kTrackClearSeconds == 0)
    CanvasClear(MovingRunPanel, MOVRUN_TRACK, VAL_ENTIRE_OBJECT);
}

TrackPixel TrackPixelOf(double east, double north, double eastScale, double northScale) {
  const double halfWidth = kTrackWidth / 2.0;
  const double halfHeight = kTrackHeight / 2.0;
  return {PixelOf(halfWidth + east / (2 * eastScale) * halfWidth),
          PixelOf(halfHeight - north / (2 * northScale) * halfHeight)};
}

bool GrowTrackScales(double simulatedEast, double simulatedNorth, double measuredEast,
                     double measuredNorth, double* eastScale, double* northScale) {
  bool grew = false;
  // Each offset in whole metres; a grown scale puts its point half way out,
  // and both scales are equal after any growth.
  const auto grow = [&](double offset, bool east) {
    const double metres = std::fabs(std::trunc(offset));
    double& scale = east ? *eastScale : *northScale;
    if (!(metres > 2 * scale)) return;
    scale = metres;
    (east ? *northScale : *eastScale) = metres;
    grew = true;
  };
  grow(simulatedEast, true);
  grow(simulatedNorth, false);
  grow(measuredEast, true);
  grow(measuredNorth, false);
  return grew;
}

void UpdateTrackDisplay(const GeoPoint& simulated, const GeoPoint& measured) {
  const int panel = MovingRunPanel;
  if (panel == 0) return;
  DisplayState& d = Display();
  SetCtrlAttribute(panel, MOVRUN_TRACK, ATTR_PEN_WIDTH, 2);
  if (GrowTrackScales(simulated.east, simulated.north, measured.east, measured.north, &d.eastScale,
                      &d.northScale))
    CanvasClear(panel, MOVRUN_TRACK, VAL_ENTIRE_OBJECT);
  const TrackPixel s = TrackPixelOf(simulated.east, simulated.north, d.eastScale, d.northScale);
  const TrackPixel m = TrackPixelOf(measured.east, measured.north, d.eastScale, d.northScale);
  SetCtrlAttribute(panel, MOVRUN_TRACK, ATTR_PEN_COLOR, VAL_DK_GREEN);
  CanvasDrawPoint(panel, MOVRUN_TRACK, MakePoint(s.x, s.y));
  SetCtrlAttribute(panel, MOVRUN_TRACK, ATTR_PEN_COLOR, VAL_RED);
  CanvasDrawPoint(panel, MOVRUN_TRACK, MakePoint(m.x, m.y));
}

void PlotAverageStep(int pass, double previous2d, double new2d, double previous3d, double new3d) {
  if (MovingRunPanel == 0) return;
  PlotLine(MovingRunPanel, MOVRUN_GRAPH_2D, pass - 1, previous2d, pass, new2d, VAL_BLUE);
  PlotLine(MovingRunPanel, MOVRUN_GRAPH_3D, pass - 1, previous3d, pass, new3d, VAL_BLUE);
}

void PlotErrorStep(int pass, double previous2d, double current2d, double previous3d,
                   double current3d) {
  if (MovingRunPanel == 0) return;
  PlotLine(MovingRunPanel, MOVRUN_GRAPH_2D, pass - 1, previous2d, pass, current2d, VAL_RED);
  PlotLine(MovingRunPanel, MOVRUN_GRAPH_3D, pass - 1, previous3d, pass, current3d, VAL_RED);
}

void RedrawErrorGraphs() {
  if (MovingRunPanel == 0) return;
  RefreshGraph(MovingRunPanel, MOVRUN_GRAPH_2D);
  RefreshGraph(MovingRunPanel, MOVRUN_GRAPH_3D);
}

void AddSatelliteRow(const SatelliteTable& satellites, int inViewCount, int usableSatellites,
                     int fixMode) {
  const int panel = MovingRunPanel;
  if (panel == 0) return;
  DisplayState& d = Display();
  SetCtrlAttribute(panel, MOVRUN_SAT_TABLE, ATTR_VISIBLE, 0);
  InsertTableRows(panel, MOVRUN_SAT_TABLE, 1, 1);
  char stamp[kTimeStampSize];
  FormatLogTimeStamp(CalendarTime(), stamp);
  SetTableRowLabel(panel, MOVRUN_SAT_TABLE, 1, stamp);

  const int entries = std::clamp(inViewCount, 0, kSatelliteTableSize);
  for (int i = 0; i < entries; ++i) {
    const SatelliteEntry& entry = satellites[static_cast<std::size_t>(i)];
    if (entry.prn > kSatelliteNumberMax || entry.cn0 < 20 || entry.prn < 0) continue;
    int& column = d.columnOfSatellite[static_cast<std::size_t>(entry.prn)];
    if (column == 0) {
      InsertTableColumns(panel, MOVRUN_SAT_TABLE, -1, 1);
      column = ++d.columns;
      SetTableColumnLabel(panel, MOVRUN_SAT_TABLE, column, FormatC("%d", entry.prn).c_str());
    }
    SetTableCellVal(panel, MOVRUN_SAT_TABLE, 1, column, kSatelliteMark);
    if (entry.usedFlag == 'U')
      SetTableCellBackground(panel, MOVRUN_SAT_TABLE, 1, column, VAL_GREEN);
  }

  SetCtrlVal(panel, MOVRUN_USED_SATS, usableSatellites);
  SetCtrlAttribute(panel, MOVRUN_USED_SATS, ATTR_BACK_COLOR, fixMode == 3 ? VAL_GREEN : VAL_GRAY);
  FitTableToContents(panel, MOVRUN_SAT_TABLE);
  SetCtrlAttribute(panel, MOVRUN_SAT_TABLE, ATTR_VISIBLE, 1);
}

void SaveMovingGraphPictures(int row) {
  const int panel = MovingRunPanel;
  if (panel == 0) return;
  const struct {
    int graph;
    const char* name;
  } kPictures[] = {{MOVRUN_GRAPH_2D, "GNSS_001_2DERR_%d.jpg"},
                   {MOVRUN_GRAPH_3D, "GNSS_001_3DERR_%d.jpg"}};
  for (const auto& picture : kPictures) {
    int bitmap = 0;
    if (GetCtrlDisplayBitmap(panel, picture.graph, 0, &bitmap) < 0 || bitmap <= 0) continue;
    const std::string path = RunFilePath(FormatC(picture.name, row));
    int size = 0;
    if (FileExists(path.c_str(), &size) == 1) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
    if (SaveBitmapToJPEGFile(bitmap, path.c_str(), kPictureJpegQuality) < 0)
      RunLogIncomplete = true;
    DiscardBitmap(bitmap);
  }
}

void TrimSatelliteTable() {
  if (MovingRunPanel == 0) return;
  int rows = 0;
  GetNumTableRows(MovingRunPanel, MOVRUN_SAT_TABLE, &rows);
  if (rows > kTableRowsTrimAbove)
    DeleteTableRows(MovingRunPanel, MOVRUN_SAT_TABLE, kTableRowsKept + 1, -1);
}

// ---- Summary -------------------------------------------------------------------

void AppendMovingSummary(int row) {
  MovingTestSettings s = ReadMovingTestSettings();
  int page = 0;
  GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &page);
  double average2d = 0.0, average3d = 0.0;
  std::string noFixTime, result;
  GetCtrlVal(page, MOVING_AVG_2D, &average2d);
  GetCtrlVal(page, MOVING_AVG_3D, &average3d);
  GetCtrlVal(page, MOVING_NO_FIX_TIME, &noFixTime);
  GetCtrlVal(page, MOVING_RESULT, &result);
  for (std::string* list : {&s.gpsSvids, &s.galileoSvids, &s.glonassSvids})
    std::replace(list->begin(), list->end(), ',', ' ');

  std::string html =
      "<hr><h1>Summary of Moving Receiver Test Run (Test 001)</h1>\n"
      "<hr>Notes:<br><ol>\n"
      "<li>A row with 'SKIP' is not configured to run and is not part of the test "
      "sequence.</li>\n"
      "<li>PASS Criteria: AVG 2D and AVG 3D error below thresholds (2D:25m 3D:60m), AND "
      "receiver has a fix for over 80% of the time after the first acceptable fix.\n"
      "</ol><hr>\n"
      "<table border=1>\n"
      "<tr><td>Test Row #</td><td>Time [s]</td><td># G P S</td><td># G A L</td><td># G L "
      "N</td><td>MIN FIX</td><td width='80px'>GPS SVID</td><td width='80px'>GAL "
      "SVID</td><td width='80px'>GLN SVID</td><td>WAYPOINT PATH</td><td>IGNORE[s]</td>"
      "<td>Toffset[s]</td><td>AVG 2D Error</td><td>AVG 3D Error</td><td>Time without FIX "
      "[s]</td><td>RESULT</td><td>Link To Log</td><td>2D ERR</td><td>3D ERR</td></tr>";
  html += "<tr>";
  html += FormatC("<td>%d</td>\n", row);
  html += FormatC("<td>%d</td>\n", s.duration);
  html += FormatC("<td>%d</td>\n", s.gpsCount);
  html += FormatC("<td>%d</td>\n", s.galileoCount);
  html += FormatC("<td>%d</td>\n", s.glonassCount);
  html += FormatC("<td>%d</td>\n", s.minSatellites);
  // The operator's lists and path are text, whatever they hold.
  html += FormatC("<td>%s</td>\n", EscapeHtmlText(s.gpsSvids).c_str());
  html += FormatC("<td>%s</td>\n", EscapeHtmlText(s.galileoSvids).c_str());
  html += FormatC("<td>%s</td>\n", EscapeHtmlText(s.glonassSvids).c_str());
  html += FormatC("<td><span style='font-size:10px'>%s</span></td>\n",
                  EscapeHtmlText(s.waypoints).c_str());
  html += FormatC("<td>%.0f</td>\n", s.ignoreTime);
  html += FormatC("<td>%.0f</td>\n", s.timeOffset);
  html += FormatC("<td>%.3lf</td>", average2d);
  html += FormatC("<td>%.3lf</td>", average3d);
  html += FormatC("<td>%.3lf</td>", ReadDoubleC(noFixTime));
  html += FormatC(result.rfind("PASS", 0) == 0 ? "<td><font color='green'><b>%s</b></font></td>"
                                               : "<td><font color='red'><b>%s</b></font></td>",
                  result.c_str());
  html += FormatC("<td><a href='%s#row%d'>LINK</a></td>\n", "GNSS_001.html", row);
  html += FormatC("<td><img width='210px' src='GNSS_001_2DERR_%d.jpg' /></td>\n", row);
  html += FormatC("<td><img width='210px' src='GNSS_001_3DERR_%d.jpg' /></td>\n", row);
  html += "</tr>\n";
  html += "</table>\n";
  html += "<br><hr><hr><br>";

  const std::string path = RunFilePath("SUMMARY.html");
  if (const int error = AppendToFile(path, html); error != 0) {
    StdErrReason(ErrnoText("moving receiver test: summary not written: " + path, error));
    RunLogIncomplete = true;
  }
}
