// Test 001: the moving receiver test. The simulator plays a waypoint route (or
// stands at a fixed position) while the receiver is sampled epoch by epoch;
// each fix is paired with the simulator's position at the UTC second the
// receiver stamped on it, and the 2D and 3D errors, the time without a good
// fix and the verdict follow from those pairs.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "geo/Geo.h"
#include "instrument/DUT_IP_Control.h"
#include "instrument/ScenarioSetup.h"
#include "panels/GNSS_UI_AUTOHO_uir.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "procedures/X47_GNSS.h"
#include "procedures/X47_GNSS_MovingDisplays.h"
#include "procedures/X47_GNSS_Results.h"
#include "receiver/Epoch.h"
#include "receiver/FixAcquisition.h"
#include "receiver/ReceiverCapture.h"
#include "receiver/ReceiverLink.h"
#include "report/ProgressLog.h"
#include "report/Results.h"
#include "report/RunProgress.h"
#include "state/StationState.h"
#include "text/CText.h"

namespace {

constexpr double kLevelDbm = -105.0;
constexpr const char* kSimulationMode = "USER";
constexpr double kPassWaitSeconds = 0.01;
constexpr int kUsedCountMax = 30;
constexpr int kUsableCn0Min = 20;
constexpr double kDopLimit = 50.0;
constexpr int kFirstPlausibleYear = 2010;
constexpr int kFirstImplausibleYear = 2050;
constexpr double kDroppedErrorAbove = 99999.0;
constexpr double k2dErrorLimit = 25.0;
constexpr double k3dErrorLimit = 60.0;
constexpr double kNoFixShareLimit = 0.2;
constexpr int kReportEvery = 5;
constexpr int kRedrawEvery = 10;
constexpr int kPicturesEvery = 30;
// Answers of this test's simulator queries.
constexpr std::size_t kReplySize = 1500;
// The test has one row: it numbers the result lines, the pictures and the summary row.
constexpr int kRow = 1;

int MovingPage() {
  int page = 0;
  GetPanelHandleFromTabPage(MainPanelHandle, MAIN_TAB, kMovingPage, &page);
  return page;
}

// Up to three comma-separated numbers of `text` (C locale); returns how many
// were there. The missing ones are 0.
int ReadThreeNumbers(const char* text, double (&values)[3]) {
  values[0] = values[1] = values[2] = 0.0;
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      while (*p == ' ' || *p == '\t') ++p;
      if (*p != ',') return i;
      ++p;
    }
    char* end = nullptr;
    const double value = strtod_l(p, &end, CLocale());
    if (end == p || !std::isfinite(value)) return i;
    values[i] = value;
    p = end;
  }
  return 3;
}

// The first three comma-separated fields of `text` read as integers.
void ReadThreeIntegers(const char* text, int (&values)[3]) {
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    const char* comma = std::strchr(p, ',');
    const std::size_t length = comma ? static_cast<std::size_t>(comma - p) : std::strlen(p);
    values[i] = ReadIntC(p, length);
    p = comma ? comma + 1 : p + length;
  }
}

class MovingRun {
 public:
  void Run();

 private:
  bool Start();
  void SetUpSimulator();
  void QueryStartPoint();
  bool StartReceiver();
  void Monitor();
  void Pass();
  void PeriodicReport();
  void Verdict();
  void Finish();

  // A message logged: plain on the panel (or standard output), its HTML form
  // in the test's log, coloured or not.
  void Logged(const std::string& plain, const std::string& html, const char* colour) {
    LogProgressHtml(plain.c_str(), GetColorHtml(colour, html.c_str()), htmlLog_);
  }
  void Logged(const std::string& text, const char* colour = nullptr) { Logged(text, text, colour); }
  void Shown(const std::string& text) { LogProgress(text.c_str(), nullptr); }
  void Indicate(int control, const std::string& text) {
    if (panel_ != 0) SetCtrlVal(panel_, control, text.c_str());
  }
  // The pass as the results recorder keeps it.
  void RecordPass(ResultsOutcome outcome, const char* reason = "") {
    record_.outcome = outcome;
    record_.reason = reason;
    ResultsAddMovingPass(record_);
  }
  void SetResult(const char* text, int colour) {
    SetCtrlVal(page_, MOVING_RESULT, text);
    SetCtrlAttribute(page_, MOVING_RESULT, ATTR_BACK_COLOR, colour);
  }

  int panel_ = 0;
  int page_ = 0;
  std::FILE* htmlLog_ = nullptr;
  MovingTestSettings settings_;
  ConstellationRequest request_;
  PrimarySystem primary_;
  char reply_[kReplySize] = "";

  GeoPoint startPoint_;
  bool startPointKnown_ = false;
  GeoPoint simulated_;
  FixRecord fix_;
  FixStatus status_;
  SatelliteTable satellites_;
  std::unique_ptr<ReceiveBuffer> buffer_ = std::make_unique<ReceiveBuffer>();
  int inView_ = -1;

  double startTime_ = 0.0;
  double loopTime_ = 0.0;
  double timingMark_ = 0.0;
  int pass_ = 0;
  bool inIgnoreWindow_ = false;
  double lastGoodFix_ = -1.0;
  double firstGoodFix_ = -1.0;
  double noFixTime_ = 0.0;
  int usable_ = 0;
  bool degraded_ = false;
  double error2d_ = -1.0, error3d_ = -1.0;
  double previousError2d_ = -1.0, previousError3d_ = -1.0;
  double average2d_ = -1.0, average3d_ = -1.0;
  double previousAverage2d_ = -1.0, previousAverage3d_ = -1.0;
  int samples_ = 1;
  MovingPassResult record_;
};

void MovingRun::Run() {
  if (!Start()) return;
  SetUpSimulator();
  QueryStartPoint();
  if (StartReceiver()) Monitor();
  Verdict();
  Finish();
}

bool MovingRun::Start() {
  AbortFlag = 0;
  panel_ = LoadPanel(0, "GNSS_UI_AUTOHO.uir", MOVRUN);
  if (panel_ < 0) {
    panel_ = 0;
    return false;
  }
  MovingRunPanel = panel_;
  RunPanelHandle = panel_;
  RunPanelLogControl = MOVRUN_LOG;
  StatusLogPanel = panel_;
  StatusLogControl = MOVRUN_LOG;
  DisplayPanel(panel_);

  std::string path = "LOG/" + RunLogDirectory + "/GNSS_001.html";
  ReplaceChar(path.data(), ':', '.');
  htmlLog_ = std::fopen(path.c_str(), "w");
  if (htmlLog_ == nullptr) {
    StdErrReason(ErrnoText("cannot create " + path, errno));
    RunLogIncomplete = true;
    StdWrite("Error! cant create log file\n");
    return false;  // the panel stays on screen
  }

  int comPort = 0;
  GetCtrlVal(MainPanelHandle, MAIN_COMPORT, &comPort);
  if (OpenReceiverPort(comPort) != 0) {
    DiscardPanel(panel_);
    RunPanelHandle = 0;
    if (StatusLogPanel == panel_) StatusLogPanel = 0;
    MovingRunPanel = 0;
    panel_ = 0;
    // The log stays empty; it is closed all the same.
    std::fclose(htmlLog_);
    htmlLog_ = nullptr;
    StdWrite("Error! cant connect to receiver\n");
    return false;
  }

  page_ = MovingPage();
  settings_ = ReadMovingTestSettings();
  ResultsBeginTest(
      "001", "Moving Receiver", ResultsTestKind::kMoving,
      {NumberField("duration_s", settings_.duration),
       NumberField("gps_satellites", settings_.gpsCount),
       NumberField("galileo_satellites", settings_.galileoCount),
       NumberField("glonass_satellites", settings_.glonassCount),
       NumberField("min_satellites", settings_.minSatellites),
       TextField("gps_svids", settings_.gpsSvids),
       TextField("galileo_svids", settings_.galileoSvids),
       TextField("glonass_svids", settings_.glonassSvids),
       TextField("waypoints", settings_.waypoints),
       NumberField("ignore_time_s", settings_.ignoreTime),
       NumberField("time_offset_s", settings_.timeOffset), TextField("level_offset", LevelOffset)});
  BeginTestCapture("001");
  Shown(FormatC("Moving Test started: Moving receiver scenario will be logged for %d sec\n\n",
                settings_.duration));
  WriteMovingLogHeading(htmlLog_, settings_.duration);
  status_.minSatellites = settings_.minSatellites;
  status_.fixMode = -1;
  SetCtrlVal(page_, MOVING_RESULT, "RUNNING..");
  return true;
}

void MovingRun::SetUpSimulator() {
  ResetSimulator();
  request_.gpsCount = settings_.gpsCount;
  request_.galileoCount = settings_.galileoCount;
  request_.glonassCount = settings_.glonassCount;
  request_.gpsSvids = settings_.gpsSvids;
  request_.galileoSvids = settings_.galileoSvids;
  request_.glonassSvids = settings_.glonassSvids;
  request_.pCode = 0;
  primary_ = SelectPrimarySystem(request_, kLevelDbm, kSimulationMode);
  const char* prefix = primary_.prefix.c_str();
  SetReferencePower(primary_.prefix, LevelOffset);
  SetupLocation(simulated_, TotalSatelliteCount(request_), primary_.prefix);
  EnableHybrid(primary_, request_);
  ShiftSimulationTime(primary_, settings_.timeOffset);

  const std::string& where = settings_.waypoints;
  if (!where.empty() && where[0] == '/') {
    Dut_Command(SimulatorSession, GetString("%s:LOCation:SELect 'Waypoints'", prefix));
    Dut_Command(SimulatorSession,
                GetString("%s:LOCation:WAYPoints:FILE '%s'", prefix, where.c_str()));
    Dut_Command(SimulatorSession, GetString("%s:LOCation:WAYPoints:ROMode CYCL", prefix));
  } else {
    // Latitude, longitude, altitude as the operator writes them; the
    // simulator takes longitude first.
    double position[3];
    if (ReadThreeNumbers(where.c_str(), position) < 3)
      StdErrReason(
          FormatC("moving receiver test: the position '%s' has fewer than three "
                  "numbers; the missing ones are 0",
                  where.c_str()));
    Dut_Command(SimulatorSession, GetString("%s:LOCation:SELect \"User Defined\"", prefix));
    Dut_Command(SimulatorSession, GetString("%s:LOC:COORdinates:DECimal %lf,%lf,%lf", prefix,
                                            position[1], position[0], position[2]));
  }
  AssignSatellites(primary_, request_);
  StartSimulation(primary_.prefix);
}

void MovingRun::QueryStartPoint() {
  const char* prefix = primary_.prefix.c_str();
  My_Query(SimulatorSession, GetString("%s:NAVigation:SIMulation:TIME?", prefix), reply_);
  int time[3];
  ReadThreeIntegers(reply_, time);
  My_Query(SimulatorSession, GetString("%s:LOCation:COORdinates:DECimal?", prefix), reply_);
  double location[3];
  startPointKnown_ = ReadThreeNumbers(reply_, location) == 3;
  if (!startPointKnown_)
    StdErrReason(
        FormatC("moving receiver test: the start point answer '%s' is incomplete; the "
                "first complete real-time location becomes the reference",
                reply_));
  startPoint_.longitude = location[0];
  startPoint_.latitude = location[1];
  startPoint_.altitude = location[2];
  GeodeticToEcef(startPoint_);
  Logged(
      FormatC("\nStart Point info:\n  time: %d:%d:%d  LAT=%f  LONG=%f  ALT=%f  \n\n", time[0],
              time[1], time[2], startPoint_.latitude, startPoint_.longitude, startPoint_.altitude),
      FormatC("\nStart Point info:\n  time: %d:%d:%d  LAT=%f  LONG=%f  ALT=%f<br>\n\n", time[0],
              time[1], time[2], startPoint_.latitude, startPoint_.longitude, startPoint_.altitude),
      nullptr);
}

bool MovingRun::StartReceiver() {
  if (InitReceiver(settings_.glonassCount) == 0) {
    Logged("ERROR! Could not send cold start to receiver!", "red");
    return false;
  }
  Logged(
      FormatC("Monitoring FIX with minimum of (%d) satellites...\n", settings_.minSatellites),
      FormatC("Monitoring FIX with minimum of (%d) satellites...<br>\n", settings_.minSatellites),
      nullptr);
  startTime_ = Timer();
  loopTime_ = startTime_;
  ProgressBegin("Moving Receiver", settings_.duration, true, panel_, MOVRUN_PROGRESS);
  SetCtrlVal(page_, MOVING_NO_FIX_TIME, FormatC("%.2f", noFixTime_).c_str());
  SerialPurge(ReceiverPort, kSerialPurgeReceive);
  SerialPurge(ReceiverPort, kSerialPurgeBoth);
  ResetMovingDisplays();
  return true;
}

void MovingRun::Monitor() {
  while (settings_.duration > loopTime_ - startTime_) {
    if (AbortFlag) break;
    Pass();
  }
}

// One monitoring pass; a `return` before the end drops the pass.
void MovingRun::Pass() {
  loopTime_ = Timer();
  ClearTrackIfDue(loopTime_);
  const double elapsed = loopTime_ - startTime_;
  inIgnoreWindow_ = elapsed <= settings_.ignoreTime;
  ++pass_;
  record_ = MovingPassResult{};
  record_.pass = pass_;
  record_.elapsed = elapsed;
  record_.inIgnoreWindow = inIgnoreWindow_;
  Indicate(MOVRUN_REMAINING, FormatC("%d", static_cast<int>(settings_.duration - elapsed)));

  WaitSeconds(kPassWaitSeconds);
  timingMark_ = Timer();
  ReadNextFix(satellites_, status_, &inView_, fix_, *buffer_, AbortFlag,
              GalileoSpreadRule::kLeaveToCaller);

  if (status_.usedCount < 0 || status_.usedCount > kUsedCountMax)
    return RecordPass(ResultsOutcome::kDropped, "used_count_out_of_range");

  // Before the first good fix a Galileo C/N0 spread restarts the receiver;
  // afterwards the drive goes on with it.
  if (lastGoodFix_ == -1.0 && (status_.fixMode == 2 || status_.fixMode == 3) &&
      GalileoSpreadCallsForHotStart(status_, satellites_)) {
    Logged(kGalileoHotStartMessage);
    HotStartAfterGalileoSpread(*buffer_);
    return RecordPass(ResultsOutcome::kDropped, "galileo_hot_start");
  }

  const int entries = std::clamp(status_.inViewCount, 0, kSatelliteTableSize);
  usable_ = 0;
  for (int i = 0; i < entries; ++i) {
    const SatelliteEntry& s = satellites_[static_cast<std::size_t>(i)];
    if (s.cn0 >= kUsableCn0Min && s.prn >= 0 && s.usedFlag == 'U') ++usable_;
  }

  if (status_.fixMode < 0 || status_.fixMode > 3) {
    StdPrintf("Ignoring receiver point, NavMode=%d...\n", status_.fixMode);
    return RecordPass(ResultsOutcome::kDropped, "fix_mode_out_of_range");
  }

  const bool plausible = (status_.fixMode == 2 || status_.fixMode == 3) && fix_.hdop < kDopLimit &&
                         fix_.vdop < kDopLimit && fix_.year >= kFirstPlausibleYear &&
                         fix_.year < kFirstImplausibleYear && fix_.month > 0 && fix_.day > 0;
  degraded_ = false;
  if (status_.fixMode <= 1 || usable_ < settings_.minSatellites) {
    if (lastGoodFix_ != -1.0) {
      const double now = Timer();
      noFixTime_ += now - lastGoodFix_;
      lastGoodFix_ = now;
      Indicate(MOVRUN_NO_FIX_TIME, FormatC("%.2f", noFixTime_));
    }
    if (status_.fixMode >= 2 && usable_ < settings_.minSatellites && plausible) {
      Logged(FormatC("Warning! Only tracking %d SATs out of %d required!\n", usable_,
                     settings_.minSatellites),
             "orange");
      degraded_ = true;
    }
  }

  record_.satellitesUsable = usable_;
  record_.degraded = degraded_;
  record_.goodFix = plausible && usable_ >= settings_.minSatellites;
  if (status_.fixMode >= 2) record_.fix = ResultsFixOf(fix_, status_, satellites_);
  if (plausible) {
    if (usable_ >= settings_.minSatellites) {
      lastGoodFix_ = Timer();
      if (firstGoodFix_ == -1.0) {
        firstGoodFix_ = lastGoodFix_;
        Logged("Got first good fix!\n");
      }
    }
    // The truth at the UTC second the receiver stamped on its fix, not at
    // the time of reading.
    My_Query(SimulatorSession,
             GetString("%s:RT:RLOCation:COORdinates:DECimal? UTC,%d,%d,%d,%d,%d,%d",
                       primary_.prefix.c_str(), fix_.year, fix_.month, fix_.day, fix_.hour,
                       fix_.minute, fix_.second),
             reply_);
    double truth[3];
    const bool truthComplete = ReadThreeNumbers(reply_, truth) == 3;
    simulated_.longitude = truth[0];
    simulated_.latitude = truth[1];
    simulated_.altitude = truth[2];
    if (truthComplete && !startPointKnown_) {
      startPoint_ = simulated_;
      GeodeticToEcef(startPoint_);
      startPointKnown_ = true;
    }
    ComputePositionErrors(fix_.position, simulated_, startPoint_, error3d_, error2d_);
    record_.truth = ResultsPositionOf(simulated_);
    // An incomplete truth is no truth: dropped like a measurement beyond reason.
    if (error3d_ > kDroppedErrorAbove || !truthComplete)
      return RecordPass(ResultsOutcome::kDropped,
                        truthComplete ? "error_above_99999_m" : "truth_incomplete");
    record_.errors = ResultsErrorsOf(fix_.position, simulated_, error2d_, error3d_);

    UpdateTrackDisplay(simulated_, fix_.position);
    Indicate(MOVRUN_ERR_2D, FormatC("%f", error2d_));
    Indicate(MOVRUN_ERR_3D, FormatC("%f", error3d_));
    if (!inIgnoreWindow_) {
      if (error2d_ >= k2dErrorLimit)
        Logged(FormatC("2D Error exceeded Max allowed! (%f)\n", error2d_), "orange");
      if (error3d_ >= k3dErrorLimit)
        Logged(FormatC("3D Error exceeded Max allowed! (%f)\n", error3d_), "orange");
    }

    if (average2d_ == -1.0 && !inIgnoreWindow_) {
      average2d_ = previousAverage2d_ = error2d_;
      average3d_ = previousAverage3d_ = error3d_;
    } else if (!degraded_ && !inIgnoreWindow_) {
      average2d_ = (previousAverage2d_ * samples_ + error2d_) / (samples_ + 1);
      average3d_ = (previousAverage3d_ * samples_ + error3d_) / (samples_ + 1);
      ++samples_;
      PlotAverageStep(pass_, previousAverage2d_, average2d_, previousAverage3d_, average3d_);
      previousAverage2d_ = average2d_;
      previousAverage3d_ = average3d_;
    }
    if (previousError2d_ != -1.0)
      PlotErrorStep(pass_, previousError2d_, error2d_, previousError3d_, error3d_);
    previousError2d_ = error2d_;
    previousError3d_ = error3d_;
    if (pass_ % kRedrawEvery == 0) RedrawErrorGraphs();
  }
  if (record_.errors.present)
    RecordPass(ResultsOutcome::kSampled);
  else if (status_.fixMode <= 1 || usable_ < settings_.minSatellites)
    RecordPass(ResultsOutcome::kNoFix);
  else
    RecordPass(ResultsOutcome::kDropped, "implausible_fix");

  ProgressUpdate(static_cast<int>(elapsed), error2d_, error3d_, "");
  Indicate(MOVRUN_T_READ, FormatC("%f", Timer() - timingMark_));
  Indicate(MOVRUN_RX_TIME, FormatC("%02d:%02d:%02d", fix_.hour, fix_.minute, fix_.second));
  timingMark_ = Timer();
  AddSatelliteRow(satellites_, status_.inViewCount, usable_, status_.fixMode);

  if (pass_ % kReportEvery == 0) PeriodicReport();
  if (pass_ % kPicturesEvery == 0) {
    SaveMovingGraphPictures(kRow);
    TrimSatelliteTable();
  }

  Indicate(MOVRUN_T_UPDATE, FormatC("%f", Timer() - timingMark_));
  timingMark_ = Timer();
  ProcessSystemEvents();
  Indicate(MOVRUN_T_EVENTS, FormatC("%f", Timer() - timingMark_));
  loopTime_ = Timer();
  WaitSeconds(kPassWaitSeconds);
}

void MovingRun::PeriodicReport() {
  if (status_.fixMode == 2) Logged(FormatC("2D FIX with %d satellites\n", usable_));
  if (status_.fixMode == 3) Logged(FormatC("3D FIX with %d satellites\n", usable_));
  if (status_.fixMode > 1) {
    std::string line = FormatC("SATs in Fix (%d), SVIDs:", usable_);
    const int entries = std::clamp(status_.inViewCount, 0, kSatelliteTableSize);
    for (int i = 0; i < entries; ++i) {
      const SatelliteEntry& s = satellites_[static_cast<std::size_t>(i)];
      if (s.prn >= 1 && s.prn <= kSatelliteNumberMax && s.cn0 >= kUsableCn0Min && s.usedFlag == 'U')
        line += FormatC(" [%d: %d ]", s.prn, s.cn0);
    }
    Logged(line + "\n");
  } else {
    Logged("No Fix!\n", "orange");
  }
  if (inIgnoreWindow_) Logged("Inside ignore time window...\n");
  Logged(FormatC("Periodic report %d: 2D_ERR=%.3f   3D_ERR=%.3f   HDOP=%.2f   VDOP=%.2f\n",
                 pass_ / kReportEvery, error2d_, error3d_, status_.hdop, status_.vdop),
         "blue");
  std::string time = FormatC("Receiver Time: %d.%d.%d , %d:%d:%d \n", fix_.day, fix_.month,
                             fix_.year, fix_.hour, fix_.minute, fix_.second);
  time.pop_back();  // the line feed
  Logged(time, "blue");
}

void MovingRun::Verdict() {
  SetResult("PASS", VAL_GREEN);
  const double sinceFirstGoodFix = loopTime_ - firstGoodFix_;
  if (firstGoodFix_ == -1.0) {
    SetResult("FAIL", VAL_RED);
    Logged("ERROR! Never got a sufficiently good fix!", "red");
  } else if (sinceFirstGoodFix > 0 && noFixTime_ / sinceFirstGoodFix >= kNoFixShareLimit) {
    SetResult("FAIL", VAL_RED);
    Logged("ERROR! Lost good fix for more than 20 percent of time after the first good fix!",
           "red");
  } else if (average2d_ == -1.0) {
    // Good fixes but not one error measured (all in the ignore window, or all
    // beyond reason): nothing shows the receiver is accurate.
    SetResult("FAIL", VAL_RED);
    StdErrReason("moving receiver test: FAIL: no position error was averaged");
  }
  Logged(FormatC("\n\nAverage: 3D-Error = %f m, 2D-Error = %f m\n\n\n", average3d_, average2d_));
  SetCtrlVal(page_, MOVING_AVG_2D, average2d_);
  SetCtrlVal(page_, MOVING_AVG_3D, average3d_);
  if (average2d_ > k2dErrorLimit) {
    Logged("Average 2D error exceeded maximum allowed! (2D ERR)\n", "red");
    SetResult("2D ERR", VAL_RED);
  }
  if (average3d_ > k3dErrorLimit) {
    Logged("Average 3D error exceeded maximum allowed! (3D ERR)\n", "red");
    SetResult("3D ERR", VAL_RED);
  }
  SetCtrlVal(page_, MOVING_NO_FIX_TIME, FormatC("%lf", noFixTime_).c_str());
}

void MovingRun::Finish() {
  std::string result;
  GetCtrlVal(page_, MOVING_RESULT, &result);
  ProgressEnd(result.c_str());
  Shown(FormatC("Test Row %d Result:           %s\n\n", kRow, result.c_str()));
  WriteMovingRowResult(htmlLog_, kRow, result.c_str());
  Shown("******************************************\n");
  Shown("************END OF TEST ROW*************\n");
  WriteMovingRowEnd(htmlLog_, kRow);
  CloseReceiverPort();
  EndNmeaCapture();
  if (const int error = CloseFile(htmlLog_); error != 0) {
    StdErrReason(ErrnoText("LOG/" + RunLogDirectory + "/GNSS_001.html is incomplete", error));
    RunLogIncomplete = true;
  }
  htmlLog_ = nullptr;
  ResultsEndTest(result,
                 {NumberField("average_2d_m", average2d_), NumberField("average_3d_m", average3d_),
                  NumberField("no_fix_time_s", noFixTime_),
                  NumberField("first_good_fix_s",
                              firstGoodFix_ == -1.0 ? kNoValue : firstGoodFix_ - startTime_),
                  NumberField("passes", pass_)});
  StdWrite("Moving receiver test complete!\n");
  Shown("Moving receiver test complete!\n");
  AppendMovingSummary(kRow);
  DiscardPanel(panel_);
  RunPanelHandle = 0;
  if (StatusLogPanel == panel_) StatusLogPanel = 0;
  MovingRunPanel = 0;
}

}  // namespace

void RunMovingReceiverTest() {
  // The run state lives for one call only.
  MovingRun().Run();
}
