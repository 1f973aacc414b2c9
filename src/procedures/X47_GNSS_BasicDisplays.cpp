// Test 000's run panel displays, graph pictures and summary section.
#include "procedures/X47_GNSS_BasicDisplays.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "panels/GNSS_UI1_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/files.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "report/HtmlText.h"
#include "report/ProgressLog.h"
#include "state/StationState.h"
#include "text/CText.h"

namespace {

constexpr int kPenWidth = 3;
constexpr Rect kCircle = {20, 20, 180, 180};  // top, left, height, width
// Far outside any canvas, but well inside the int range.
constexpr double kPixelLimit = 1.0e6;

int RoundDown(double value) {
  const double clamped = std::fmax(-kPixelLimit, std::fmin(kPixelLimit, std::floor(value)));
  return static_cast<int>(clamped);
}

CanvasPixel PixelAt(double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return {};
  return {true, RoundDown(x), RoundDown(y)};
}

void DrawPixel(int control, const CanvasPixel& pixel) {
  if (RunPanelHandle == 0 || !pixel.drawable) return;
  CanvasDrawPoint(RunPanelHandle, control, MakePoint(pixel.x, pixel.y));
}

int IntOf(int page, int control) {
  int value = 0;
  GetCtrlVal(page, control, &value);
  return value;
}

double DoubleOf(int page, int control) {
  double value = 0.0;
  GetCtrlVal(page, control, &value);
  return value;
}

std::string TextOf(int page, int control) {
  std::string text;
  GetCtrlVal(page, control, &text);
  return text;
}

const char* const kSummaryNotes[] = {
    "<hr><h1>Summary of BASIC Localization Test Run (Test 000)</h1>\n",
    "<hr>Notes:<br><ol>\n",
    "<li>A row with 'SKIP' is not configured to run and is not part of the test sequence.</li>\n",
    "<li>PASS Criteria for GPS and Glonass: 96% of test points passing.</li>\n",
    "<li>PASS Criteria in presence of GALILEO: 80% of test points passing.</li>\n",
    "<li>The 'x' in PASS(x) or FAIL(x) indicates the number of failed points.</li>\n",
    "</ol><hr>\n",
    "<table border=1>\n",
};

const char* const kSummaryHeaderCells[] = {
    "<td>Test Row #</td>",    "<td># Iterations</td>", "<td># GPS SATS</td>",
    "<td># P-Code</td>",      "<td># GAL SATS</td>",   "<td># GLN SATS</td>",
    "<td>MIN FIX</td>",       "<td>GPS SVID</td>",     "<td>GAL SVID</td>",
    "<td>GLN SVID</td>",      "<td>MAX FIXTIME</td>",  "<td>REF LATITUDE</td>",
    "<td>REF LONGITUDE</td>", "<td>REF ALTITUDE</td>", "<td>RADIUS [m]</td>",
    "<td>Toffset[s]</td>",    "<td>AVG 2D Error</td>", "<td>AVG 3D Error</td>",
    "<td>RESULT</td>",        "<td>Link To Log</td>",  "<td>2D ERR</td>",
    "<td>3D ERR</td>",
};

}  // namespace

std::string RunLogFilePath(const std::string& name) {
  std::string path = "LOG/" + RunLogDirectory + "/" + name;
  ReplaceChar(path.data(), ':', '.');
  return path;
}

int BasicPage() {
  int page = 0;
  GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kBasicPage, &page);
  return page;
}

void ReadBasicSvidLists(BasicTestSettings& settings) {
  const int page = BasicPage();
  settings.gpsSvids = TextOf(page, BASIC_GPS_SVID);
  settings.galileoSvids = TextOf(page, BASIC_GAL_SVID);
  settings.glonassSvids = TextOf(page, BASIC_GLN_SVID);
}

BasicTestSettings ReadBasicTestSettings() {
  const int page = BasicPage();
  BasicTestSettings s;
  s.iterations = IntOf(page, BASIC_ITERATIONS);
  s.gpsCount = IntOf(page, BASIC_NUM_GPS);
  s.pCode = IntOf(page, BASIC_PCODE);
  s.galileoCount = IntOf(page, BASIC_NUM_GAL);
  s.glonassCount = IntOf(page, BASIC_NUM_GLN);
  s.minSatellites = IntOf(page, BASIC_MIN_SATS);
  ReadBasicSvidLists(s);
  s.maxFixTime = DoubleOf(page, BASIC_MAX_FIXTIME);
  s.refLatitude = DoubleOf(page, BASIC_REF_LAT);
  s.refLongitude = DoubleOf(page, BASIC_REF_LON);
  s.refAltitude = DoubleOf(page, BASIC_REF_ALT);
  s.radius = DoubleOf(page, BASIC_RADIUS);
  s.timeOffset = DoubleOf(page, BASIC_TOFFSET);
  return s;
}

// A radius below 1 m leaves 0 whole metres: every point then lies within a
// metre of the reference, so it is drawn on the scale of 1 m (at the centre)
// instead of dividing by zero.
CanvasPixel SimulatedPointPixel(double east, double north, int radiusMetres) {
  const double radius = radiusMetres < 1 ? 1.0 : static_cast<double>(radiusMetres);
  return PixelAt(kCanvasCentre + east * kCanvasScale / radius,
                 kCanvasCentre - north * kCanvasScale / radius);
}

CanvasPixel PointErrorPixel(double dEast, double dNorth) {
  return PixelAt(kCanvasCentre + dEast * kCanvasScale / kErrorCanvasUnitMetres,
                 kCanvasCentre - dNorth * kCanvasScale / kErrorCanvasUnitMetres);
}

void InitBasicDisplays() {
  const int panel = RunPanelHandle;
  if (panel == 0) return;
  for (const int graph : {RUN_GRAPH_2D, RUN_GRAPH_3D}) {
    DeleteGraphPlot(panel, graph, VAL_ALL_OBJECTS, VAL_IMMEDIATE_DRAW);
  }
  for (const int canvas : {RUN_CANVAS_POINTS, RUN_CANVAS_ERRORS}) {
    CanvasClear(panel, canvas, VAL_ENTIRE_OBJECT);
  }
  for (const int graph : {RUN_GRAPH_2D, RUN_GRAPH_3D}) {
    PlotLine(panel, graph, 0.0, 0.0, 0.0, 0.0, VAL_BLACK);
  }
  for (const int canvas : {RUN_CANVAS_POINTS, RUN_CANVAS_ERRORS}) {
    SetCtrlAttribute(panel, canvas, ATTR_PEN_WIDTH, kPenWidth);
    CanvasDrawOval(panel, canvas, kCircle, VAL_DRAW_FRAME);
    CanvasDrawPoint(panel, canvas, MakePoint(kCanvasCentre, kCanvasCentre));
    SetCtrlAttribute(panel, canvas, ATTR_PEN_COLOR, VAL_RED);
  }
}

void DrawSimulatedPoint(const GeoPoint& simulated, int radiusMetres) {
  DrawPixel(RUN_CANVAS_POINTS, SimulatedPointPixel(simulated.east, simulated.north, radiusMetres));
}

void DrawPointError(const GeoPoint& received, const GeoPoint& simulated) {
  DrawPixel(RUN_CANVAS_ERRORS,
            PointErrorPixel(received.east - simulated.east, received.north - simulated.north));
}

void PlotErrorSegments(int sample, double previous2d, double error2d, double previousAverage2d,
                       double average2d, double previous3d, double error3d,
                       double previousAverage3d, double average3d) {
  const int panel = RunPanelHandle;
  if (panel == 0) return;
  const double x0 = sample - 1;
  const double x1 = sample;
  PlotLine(panel, RUN_GRAPH_2D, x0, previous2d, x1, error2d, VAL_RED);
  PlotLine(panel, RUN_GRAPH_2D, x0, previousAverage2d, x1, average2d, VAL_BLUE);
  PlotLine(panel, RUN_GRAPH_3D, x0, previous3d, x1, error3d, VAL_RED);
  PlotLine(panel, RUN_GRAPH_3D, x0, previousAverage3d, x1, average3d, VAL_BLUE);
}

// A picture that cannot be taken or saved is left out without a message.
void SaveErrorGraphPictures(int row) {
  const struct {
    int graph;
    const char* pattern;
  } pictures[] = {
      {RUN_GRAPH_2D, "GNSS_000_2DERR_%d.jpg"},
      {RUN_GRAPH_3D, "GNSS_000_3DERR_%d.jpg"},
  };
  for (const auto& picture : pictures) {
    if (RunPanelHandle == 0) return;
    int bitmap = 0;
    if (GetCtrlDisplayBitmap(RunPanelHandle, picture.graph, 0, &bitmap) < 0 || bitmap <= 0) {
      continue;
    }
    const std::string path = RunLogFilePath(FormatC(picture.pattern, row));
    int size = 0;
    if (FileExists(path.c_str(), &size) == 1) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
    if (SaveBitmapToJPEGFile(bitmap, path.c_str(), 100) < 0) RunLogIncomplete = true;
    DiscardBitmap(bitmap);
  }
}

std::string BasicSummarySection(int row, const BasicTestSettings& s, double average2d,
                                double average3d, const std::string& result) {
  std::string html;
  for (const char* note : kSummaryNotes) html += note;
  html += "<tr>";
  for (const char* cell : kSummaryHeaderCells) html += cell;
  html += "</tr>";

  const bool pass = result.compare(0, 4, "PASS") == 0;
  html += "<tr>";
  html += FormatC("<td>%d</td>\n", row);
  html += FormatC("<td>%.0f</td>\n", static_cast<double>(s.iterations));
  html += FormatC("<td>%.0f</td>\n", static_cast<double>(s.gpsCount));
  html += FormatC("<td>%s</td>\n", s.pCode != 0 ? "ON" : "OFF");
  html += FormatC("<td>%.0f</td>\n", static_cast<double>(s.galileoCount));
  html += FormatC("<td>%.0f</td>\n", static_cast<double>(s.glonassCount));
  html += FormatC("<td>%.0f</td>\n", static_cast<double>(s.minSatellites));
  // The operator's lists are text, whatever they hold.
  html += FormatC("<td>%s</td>\n", EscapeHtmlText(s.gpsSvids).c_str());
  html += FormatC("<td>%s</td>\n", EscapeHtmlText(s.galileoSvids).c_str());
  html += FormatC("<td>%s</td>\n", EscapeHtmlText(s.glonassSvids).c_str());
  html += FormatC("<td>%f</td>\n", s.maxFixTime);
  html += FormatC("<td>%f</td>\n", s.refLatitude);
  html += FormatC("<td>%f</td>\n", s.refLongitude);
  html += FormatC("<td>%f</td>\n", s.refAltitude);
  html += FormatC("<td>%.0f</td>\n", s.radius);
  html += FormatC("<td>%.0f</td>\n", s.timeOffset);
  html += FormatC("<td>%.3lf</td>", average2d);
  html += FormatC("<td>%.3lf</td>", average3d);
  html += FormatC(pass ? "<td><font color='green'><b>%s</b></font></td>"
                       : "<td><font color='red'><b>%s</b></font></td>",
                  result.c_str());
  html += FormatC("<td><a href='%s#row%d'>LINK</a></td>\n", "GNSS_000.html", row);
  html += FormatC("<td><img width='210px' src='GNSS_000_2DERR_%d.jpg' /></td>\n", row);
  html += FormatC("<td><img width='210px' src='GNSS_000_3DERR_%d.jpg' /></td>\n", row);
  html += "</tr>\n";
  html += "</table>\n";
  html += "<br><hr><hr><br>";
  return html;
}

// A summary that cannot be written does not end the test: the reason goes to
// the error output and the test closes as usual.
void WriteBasicSummary(int row) {
  const BasicTestSettings settings = ReadBasicTestSettings();
  const int page = BasicPage();
  const double average2d = DoubleOf(page, BASIC_AVG_2D);
  const double average3d = DoubleOf(page, BASIC_AVG_3D);
  const std::string result = TextOf(page, BASIC_RESULT);
  const std::string path = RunLogFilePath("SUMMARY.html");
  const std::string section = BasicSummarySection(row, settings, average2d, average3d, result);
  if (const int error = AppendToFile(path, section); error != 0) {
    StdErrReason("basic test summary not written: " + ErrnoText(path, error));
    RunLogIncomplete = true;
  }
}
