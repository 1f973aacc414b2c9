// Test 000: the basic localization test. Random static points around the
// reference position, each with a fresh scenario, a wait for a 3D fix, a
// settle time, a second sample and its 2D/3D errors; then the verdict, the
// graph pictures and the summary.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "geo/Geo.h"
#include "instrument/DUT_IP_Control.h"
#include "instrument/ScenarioSetup.h"
#include "panels/GNSS_UI1_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "platform/visa.h"
#include "procedures/X47_GNSS.h"
#include "procedures/X47_GNSS_BasicDisplays.h"
#include "procedures/X47_GNSS_Results.h"
#include "receiver/FixAcquisition.h"
#include "receiver/Nmea.h"
#include "receiver/ReceiverCapture.h"
#include "receiver/ReceiverLink.h"
#include "report/ProgressLog.h"
#include "report/Results.h"
#include "report/RunProgress.h"
#include "state/StationState.h"
#include "text/CText.h"

namespace {

constexpr double kSimulatorLevelDbm = -105.0;
constexpr const char* kSimulationMode = "USER";
constexpr double kSettleSeconds = 8.0;
constexpr double kLateFixMarginSeconds = 1.0;
constexpr double kMax2dErrorMetres = 25.0;
constexpr double kMax3dErrorMetres = 60.0;
constexpr double kFailedRatioWithGalileo = 0.201;
constexpr double kFailedRatioWithoutGalileo = 0.0401;
constexpr double kNoAverage = -1.0;
constexpr int kMinUsableCn0 = 20;
constexpr int kMaxUsablePrn = 9999;
constexpr int kRowNumber = 1;

const char* const kRed = "red";
const char* const kGreen = "green";

// The run's HTML log, LOG/<RunLogDirectory>/GNSS_000.html.
std::FILE* htmlLog = nullptr;

// Screen line only (no file).
void Screen(const std::string& text) { LogProgress(text.c_str(), nullptr); }
// Written to the HTML log as it is, without a time stamp.
void HtmlOnly(const std::string& html) {
  if (htmlLog != nullptr) std::fputs(html.c_str(), htmlLog);
}
// Screen line and HTML line with the given HTML text.
void Log(const std::string& text, const std::string& html) {
  LogProgressHtml(text.c_str(), html.c_str(), htmlLog);
}
// Screen line and the text through GetColorHtml (nullptr: plain).
void LogColoured(const std::string& text, const char* colour) {
  LogProgressHtml(text.c_str(), GetColorHtml(colour, text.c_str()), htmlLog);
}
void FlushHtmlLog() {
  if (htmlLog != nullptr) std::fflush(htmlLog);
}
std::string htmlLogPath;
// Closes the log and says so when not all of it reached the file (a full
// disk, a file-size limit): the run's log is then incomplete.
void CloseHtmlLog() {
  if (htmlLog == nullptr) return;
  if (StatusLogFile == htmlLog) StatusLogFile = nullptr;
  if (const int error = CloseFile(htmlLog); error != 0) {
    StdErrReason(ErrnoText(htmlLogPath + " is incomplete", error));
    RunLogIncomplete = true;
  }
  htmlLog = nullptr;
}

void SetResult(const std::string& text, int colour) {
  const int page = BasicPage();
  SetCtrlVal(page, BASIC_RESULT, text.c_str());
  if (colour >= 0) SetCtrlAttribute(page, BASIC_RESULT, ATTR_TEXT_COLOR, colour);
}
constexpr int kKeepColour = -1;

ConstellationRequest RequestOf(const BasicTestSettings& s) {
  ConstellationRequest request;
  request.gpsCount = s.gpsCount;
  request.galileoCount = s.galileoCount;
  request.glonassCount = s.glonassCount;
  request.gpsSvids = s.gpsSvids;
  request.galileoSvids = s.galileoSvids;
  request.glonassSvids = s.glonassSvids;
  request.pCode = s.pCode;
  return request;
}

void SetUpScenario(const BasicTestSettings& settings, const GeoPoint& simulated) {
  const ConstellationRequest request = RequestOf(settings);
  const int total = TotalSatelliteCount(request);
  ResetSimulator();
  const PrimarySystem primary = SelectPrimarySystem(request, kSimulatorLevelDbm, kSimulationMode);
  SetReferencePower(primary.prefix, LevelOffset);
  SetupLocation(simulated, total, primary.prefix);
  EnableHybrid(primary, request);
  ShiftSimulationTime(primary, settings.timeOffset);
  AssignSatellites(primary, request);
  if (settings.gpsCount >= 1 && settings.pCode == 1) SelectPCodeSignals(primary.prefix, total);
  StartSimulation(primary.prefix);
  // One more operation-complete round trip on the session itself; its reply
  // is not examined.
  static const char kOpc[] = "*opc?\n";
  ViUInt32 written = 0;
  viWrite(SimulatorSession, reinterpret_cast<const ViByte*>(kOpc), sizeof kOpc - 1, &written);
  ViByte reply[kReadBuffMax];
  ViUInt32 received = 0;
  viRead(SimulatorSession, reply, kReadBuffMax, &received);
  CheckSimulatorErrors(SimulatorSession, htmlLog);
}

std::string UsedSatelliteLine(const FixStatus& status, const SatelliteTable& table) {
  std::string line = FormatC("SATs in Fix (%d), SVIDs:", status.usedCount);
  const int entries = std::clamp(status.inViewCount, 0, kSatelliteTableSize);
  for (int i = 0; i < entries; ++i) {
    const SatelliteEntry& e = table[static_cast<std::size_t>(i)];
    if (e.prn >= 1 && e.prn <= kMaxUsablePrn && e.cn0 >= kMinUsableCn0 && e.usedFlag == 'U') {
      line += FormatC(" %d", e.prn);
    }
  }
  return line + "\n";
}

std::string PowerLine(const FixStatus& status, const SatelliteTable& table) {
  std::string line = "SATS in Fix Power Report:  ";
  const int entries = std::clamp(status.inViewCount, 0, kSatelliteTableSize);
  for (int i = 0; i < entries; ++i) {
    const SatelliteEntry& e = table[static_cast<std::size_t>(i)];
    if (e.usedFlag == 'U') line += FormatC(" [%d: %d ]", e.prn, e.cn0);
  }
  return line + "\n";
}

struct RunCounts {
  int failed = 0;
  int sampled = 0;
  double average2d = kNoAverage;
  double average3d = kNoAverage;
  double previous2d = 0.0;
  double previous3d = 0.0;
};

std::vector<ResultsField> BasicResultsSettings(const BasicTestSettings& s) {
  return {NumberField("iterations", s.iterations),
          NumberField("gps_satellites", s.gpsCount),
          NumberField("p_code", s.pCode),
          NumberField("galileo_satellites", s.galileoCount),
          NumberField("glonass_satellites", s.glonassCount),
          NumberField("min_satellites", s.minSatellites),
          TextField("gps_svids", s.gpsSvids),
          TextField("galileo_svids", s.galileoSvids),
          TextField("glonass_svids", s.glonassSvids),
          NumberField("max_fix_time_s", s.maxFixTime),
          NumberField("ref_latitude_deg", s.refLatitude),
          NumberField("ref_longitude_deg", s.refLongitude),
          NumberField("ref_altitude_m", s.refAltitude),
          NumberField("radius_m", s.radius),
          NumberField("time_offset_s", s.timeOffset),
          TextField("level_offset", LevelOffset)};
}

void CountFailure(RunCounts& counts, const char* resultFormat) {
  counts.failed += 1;
  SetResult(FormatC(resultFormat, counts.failed), VAL_RED);
}

// One test point; returns when the point has ended (sampled, failed or
// skipped).
void RunPoint(int point, BasicTestSettings& settings, GeoPoint& reference, int radiusMetres,
              FixStatus& status, SatelliteTable& table, FixRecord& fix, RunCounts& counts) {
  ReadBasicSvidLists(settings);
  if (RunPanelHandle != 0) SetCtrlVal(RunPanelHandle, RUN_LOG, "\n");
  SetResult("RUNNING..", kKeepColour);
  Screen(FormatC("************* Basic Test: Point #%d *************\n", point));
  HtmlOnly(FormatC("<h4>************* Basic Test: Point #%d *************</h4><br>\n", point));

  GeoPoint simulated;
  RandomPointInRadius(reference, radiusMetres, simulated);
  DrawSimulatedPoint(simulated, radiusMetres);
  BasicPointResult record;
  record.point = point;
  record.truth = ResultsPositionOf(simulated);

  SetUpScenario(settings, simulated);

  // A receiver that cannot be initialised cannot pass the point: it counts
  // as failed, so that the ratio rules see it.
  if (InitReceiver(settings.glonassCount) == 0) {
    counts.failed += 1;
    SetResult(FormatC("!INIT:%d", counts.failed), VAL_RED);
    Log(FormatC("ERROR: Could not initialize receiver (%d)!\n", counts.failed),
        FormatC("<font color='red'>ERROR: Could not initialize receiver (%d)!</font><br>\n",
                counts.failed));
    record.reason = "receiver_init_failed";
    ResultsAddBasicPoint(record);
    return;
  }

  status.maxFixSeconds = static_cast<int>(std::clamp(settings.maxFixTime, -2.0e9, 2.0e9));
  LogColoured(FormatC("Simulated Point = %f , %f , %f \n", simulated.longitude, simulated.latitude,
                      simulated.altitude),
              nullptr);
  LogColoured(FormatC("Waiting for 3D FIX & minimum of (%d) satellites... Max wait = %d sec\n",
                      settings.minSatellites, status.maxFixSeconds),
              nullptr);

  // A fix mode left from the previous point must not count for this one: a
  // wait that returns before any epoch (an abort, a failed read) has no fix.
  status.fixMode = 0;
  const double t1 = WaitForFix(status, table, fix, AbortFlag);
  record.firstWait = t1;
  if (status.fixMode == 3) record.fix = ResultsFixOf(fix, status, table);
  // A 3D fix that came only in the last second of the allowed time (or never
  // reached the required satellites) is no usable fix either.
  if (status.fixMode != 3 || t1 >= settings.maxFixTime - kLateFixMarginSeconds) {
    Log(FormatC("FIX TIMEOUT! Time elapsed trying to get fix: %f sec\n", t1),
        FormatC(
            "<font color='red'>FIX TIMEOUT! Time elapsed trying to get fix: %f sec</font><br>\n",
            t1));
    CountFailure(counts, "!FIX:%d");
    Log(FormatC("ERROR: Could not get FIX (%d)!\n", counts.failed),
        FormatC("<font color='red'>ERROR: Could not get FIX (%d)!</font><br>\n", counts.failed));
    record.reason = status.fixMode == 3 ? "late_3d_fix" : "no_3d_fix";
    ResultsAddBasicPoint(record);
    return;
  }

  LogColoured(FormatC("Got a 3D fix in: %f seconds\n", t1), kGreen);
  record.timeToFix = t1;
  Log("Giving time for receiver to stabilize (8s)...\n",
      "Giving time for receiver to stabilize (8s)...<br>\n");
  WaitSeconds(kSettleSeconds);
  SerialPurge(ReceiverPort, kSerialPurgeReceive);
  Log("Sampling position fix...\n", "Sampling position fix...<br>\n");

  const double t2 = WaitForFix(status, table, fix, AbortFlag);
  const double late = std::trunc(t2 - settings.maxFixTime);
  if (late >= -1.0 && late <= 1.0) {
    LogColoured(FormatC("POSITION FIX TIMEOUT! Time elapsed trying to get PUBX fix: %f sec\n", t2),
                kRed);
    CountFailure(counts, "!FIX%d");
    LogColoured(FormatC("ERROR: Could not get FIX (%d)!\n", counts.failed), kRed);
    record.reason = "sample_timeout";
    ResultsAddBasicPoint(record);
    return;
  }

  LogColoured("Position acquired!\n", nullptr);
  double e3 = 0.0;
  double e2 = 0.0;
  ComputePositionErrors(fix.position, simulated, reference, e3, e2);
  if (e2 > kMax2dErrorMetres) LogColoured("ERROR: 2D Error exceeds threshold!\n", kRed);
  if (e3 > kMax3dErrorMetres) LogColoured("ERROR: 3D Error exceeds threshold!\n", kRed);
  LogColoured(FormatC("Simulated Point = %f , %f , %f \n", simulated.longitude, simulated.latitude,
                      simulated.altitude),
              nullptr);
  LogColoured(FormatC("Received Point  = %f , %f , %f \n", fix.position.longitude,
                      fix.position.latitude, fix.position.altitude),
              nullptr);
  LogColoured(UsedSatelliteLine(status, table), nullptr);
  LogColoured(PowerLine(status, table), nullptr);
  LogColoured(FormatC("PDOP %.2g, HDOP %.2g, VDOP %.2g\n", status.pdop, status.hdop, status.vdop),
              nullptr);
  LogColoured(FormatC("3D-Error = %.3lf m, 2D-Error = %.3lf m\n", e3, e2), nullptr);
  FlushHtmlLog();

  DrawPointError(fix.position, simulated);
  record.outcome = ResultsOutcome::kSampled;
  record.fix = ResultsFixOf(fix, status, table);
  record.errors = ResultsErrorsOf(fix.position, simulated, e2, e3);
  ResultsAddBasicPoint(record);

  counts.sampled += 1;
  const int k = counts.sampled;
  if (k == 1) {
    counts.average2d = e2;
    counts.average3d = e3;
  } else {
    const double average2d = (counts.average2d * (k - 1) + e2) / k;
    const double average3d = (counts.average3d * (k - 1) + e3) / k;
    PlotErrorSegments(k, counts.previous2d, e2, counts.average2d, average2d, counts.previous3d, e3,
                      counts.average3d, average3d);
    counts.average2d = average2d;
    counts.average3d = average3d;
  }
  counts.previous2d = e2;
  counts.previous3d = e3;
}

void SetVerdict(const BasicTestSettings& settings, const RunCounts& counts) {
  const int page = BasicPage();
  SetCtrlVal(page, BASIC_AVG_2D, counts.average2d);
  SetCtrlVal(page, BASIC_AVG_3D, counts.average3d);
  // Against the configured points, also after an abort; 0 points give NaN,
  // which no FAIL rule matches.
  const double ratio =
      static_cast<double>(counts.failed) / static_cast<double>(settings.iterations);
  if (settings.galileoCount >= 1 && ratio > kFailedRatioWithGalileo) {
    SetResult(FormatC("FAIL(%d)", counts.failed), VAL_RED);
  } else if (settings.galileoCount == 0 && ratio > kFailedRatioWithoutGalileo) {
    SetResult(FormatC("FAIL(%d)", counts.failed), VAL_RED);
  } else if (counts.average2d > kMax2dErrorMetres) {
    LogColoured("Average 2D error exceeded maximum allowed! (2D ERR)\n", kRed);
    SetResult("2D ERR", VAL_RED);
  } else if (counts.average3d > kMax3dErrorMetres) {
    LogColoured("Average 3D error exceeded maximum allowed! (3D ERR)\n", kRed);
    SetResult("3D ERR", VAL_RED);
  } else if (counts.failed > 0) {
    SetResult(FormatC("PASS(%d!)", counts.failed), VAL_GREEN);
  } else {
    SetResult("PASS", VAL_GREEN);
  }
}

void CloseRun(const RunCounts& counts) {
  SaveErrorGraphPictures(kRowNumber);
  std::string result;
  GetCtrlVal(BasicPage(), BASIC_RESULT, &result);
  LogColoured(FormatC("\n\nAverage: 3D-Error = %f m, 2D-Error = %f m\n\n\n", counts.average3d,
                      counts.average2d),
              nullptr);

  const std::string row =
      FormatC("Test Row %d Result:           %s\n\n", kRowNumber, result.c_str());
  const bool pass = result.compare(0, 4, "PASS") == 0;
  HtmlOnly(FormatC(pass ? "<h3><hr><font color='green'>Test Row %d Result:           "
                          "%s</font></h3><hr><br>\n\n"
                        : "<h3><hr><font color='red'>Test Row %d Result:           "
                          "%s</font></h3><hr><br>\n\n",
                   kRowNumber, result.c_str()));
  LogProgress(row.c_str(), htmlLog);

  Screen("******************************************\n");
  Screen("************END OF TEST ROW*************\n");
  HtmlOnly("<h2>************END OF TEST ROW*************</h2><br>\n");
  Screen("******************************************\n\n\n\n\n");
  FlushHtmlLog();

  CloseReceiverPort();
  EndNmeaCapture();
  CloseHtmlLog();
  ResultsEndTest(
      result,
      {NumberField("average_2d_m", counts.average2d), NumberField("average_3d_m", counts.average3d),
       NumberField("failed_points", counts.failed), NumberField("sampled_points", counts.sampled)});

  static const char kCompleted[] = "Basic Localization test completed!\n";
  if (RunPanelHandle != 0) LogProgress(kCompleted, nullptr);
  StdWrite(kCompleted);

  WriteBasicSummary(kRowNumber);

  if (RunPanelHandle != 0) {
    const int panel = RunPanelHandle;
    RunPanelHandle = 0;
    if (StatusLogPanel == panel) StatusLogPanel = 0;
    DiscardPanel(panel);
  }
}

}  // namespace

void RunBasicTest() {
  AbortFlag = 0;
  const int panel = LoadPanel(0, "GNSS_UI1.uir", RUNPANEL);
  if (panel <= 0) return;
  RunPanelHandle = panel;
  RunPanelLogControl = RUN_LOG;
  DisplayPanel(panel);

  const std::string htmlPath = RunLogFilePath("GNSS_000.html");
  StatusLogPanel = panel;
  StatusLogControl = RUN_LOG;
  htmlLogPath = htmlPath;
  htmlLog = std::fopen(htmlPath.c_str(), "w");
  if (htmlLog == nullptr) {
    RunLogIncomplete = true;
    StdWrite("Error! cant create log file\n");
    return;
  }
  StatusLogFile = htmlLog;

  int comPort = 0;
  GetCtrlVal(MainPanelHandle, MAIN_COMPORT, &comPort);
  if (OpenReceiverPort(comPort) != 0) {
    Log("Error! cant connect to receiver\n", "Error! cant connect to receiver<br>\n");
    // The log is closed so that later lines (of the next test in a
    // sequence) do not land in this test's file.
    CloseHtmlLog();
    return;
  }

  BasicTestSettings settings = ReadBasicTestSettings();
  ResultsBeginTest("000", "Basic Localization", ResultsTestKind::kBasic,
                   BasicResultsSettings(settings));
  BeginTestCapture("000");
  RunCounts counts;
  InitBasicDisplays();
  const int radiusMetres = static_cast<int>(std::clamp(std::trunc(settings.radius), 0.0, 2.0e9));
  Screen(FormatC("Basic Test Started: Simulating %d points:\n", settings.iterations));
  HtmlOnly(
      FormatC("<h2><a name='basicrow'>Basic Test Started: Simulating %d points:</a></h2><br>\n",
              settings.iterations));

  FixStatus status;
  SatelliteTable table;
  FixRecord fix;
  status.minSatellites = settings.minSatellites;
  GeoPoint reference;
  reference.longitude = settings.refLongitude;
  reference.latitude = settings.refLatitude;
  reference.altitude = settings.refAltitude;

  ProgressBegin("Basic Localization", settings.iterations, false, RunPanelHandle, RUN_PROGRESS);
  for (int point = 1; point <= settings.iterations; ++point) {
    const int sampledBefore = counts.sampled;
    RunPoint(point, settings, reference, radiusMetres, status, table, fix, counts);
    Screen("************* End of Test Point **********\n");
    HtmlOnly("<h4>************* End of Test Point **********</h4><br>\n");
    const bool sampled = counts.sampled > sampledBefore;
    ProgressUpdate(point, sampled ? counts.previous2d : -1.0, sampled ? counts.previous3d : -1.0,
                   counts.failed > 0 ? FormatC("%d failed", counts.failed).c_str() : "");
    if (AbortFlag) break;
  }

  SetVerdict(settings, counts);
  std::string verdict;
  GetCtrlVal(BasicPage(), BASIC_RESULT, &verdict);
  ProgressEnd(verdict.c_str());
  CloseRun(counts);
}
