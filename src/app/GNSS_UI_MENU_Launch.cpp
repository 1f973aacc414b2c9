// Test launch: each test button makes a fresh run-log directory, connects to
// the signal simulator, records its identification there, copies the level
// offset, resets the simulator where the test wants it, and runs the test.
// Also the run panels' abort and exit buttons.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/GNSS_UI_MENU.h"
#include "app/LaunchActivity.h"
#include "app/LiveReceiverView.h"
#include "instrument/DUT_IP_Control.h"
#include "instrument/ScenarioSetup.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "platform/visa.h"
#include "procedures/X47_GNSS.h"
#include "receiver/ReceiverProfile.h"
#include "report/ProgressLog.h"
#include "report/Results.h"
#include "state/StationState.h"

namespace {

constexpr std::size_t kRunLogDirectoryMax = 127;
// Launches in one second beyond this many share the last name.
constexpr int kRunLogDirectorySuffixMax = 999;
// "%Y-%m-%d_%H.%M.%S" is 19 characters for any four-digit year; a wider
// year still fits.
constexpr std::size_t kRunLogTimeSize = 64;
constexpr std::size_t kLevelOffsetMax = 255;
// viScanf's "%t" fills at most this many bytes.
constexpr std::size_t kIdentificationSize = 1024;

// Every step runs whatever the one before it did: an abort ends only the test
// that is running (each test clears AbortFlag when it starts).
void RunTestSequence() {
  RunBasicTest();
  StdWrite("Basic test complete.\n");
  StdWrite("Running Moving Receiver test...\n");
  RunMovingReceiverTest();
  StdWrite("Moving receiver test complete.\n");
  StdWrite("Running AUTO HO test...\n");
  RunAutoHoTest();
  StdWrite("AUTO HO test complete.\n");
  StdWrite("Running Semi AUTO test...\n");
  RunSemiAutoTest();
  StdWrite("Semi AUTO test complete.\n");
  StdWrite("Running Carrier Phase Multipath test...\n");
  RunCarrierPhaseTest();
  StdWrite("Carrier Phase Multipath test complete.\n");
  StdWrite("Running relative power test...\n");
  RunRelativePowerTest();
  StdWrite("Relative power test complete.\n");
}

// ---- The launch table ---------------------------------------------------------

struct Launch {
  const char* name = nullptr;              // for the status line and the error output
  const char* failureText = nullptr;       // on standard output, exactly as given
  bool failureInMessageBox = false;        // instead: a box titled "Error" with kBoxFailureText
  const char* connectionReport = nullptr;  // standard output; nullptr: none
  bool printsIdentification = false;
  bool copiesLevelOffset = false;
  bool resetsSimulator = false;
  void (*procedure)() = nullptr;
};

constexpr const char* kFailureColon = "Error: Can not connect to QARN. Check IP address!";
constexpr const char* kFailureComma = "Error, Can not connect to QARN. Check IP address!";
constexpr const char* kBoxFailureText = "Can not connect to QARN. Check IP address!\n";

// clang-format off
constexpr Launch kTest000 = {
    .name = "test 000",
    .failureText = kFailureColon,
    .connectionReport = "Basic Localization: Connected to QARN...\n"
                        "Running basic localization looping test...\n",
    .copiesLevelOffset = true, .resetsSimulator = true,
    .procedure = RunBasicTest};
constexpr Launch kTest001 = {
    .name = "test 001",
    .failureText = kFailureComma,
    .connectionReport = "Moving Receiver: Connected to QARN...\n"
                        "Running moving receiver test...\n",
    .copiesLevelOffset = true,
    .procedure = RunMovingReceiverTest};
constexpr Launch kTest003 = {
    .name = "test 003",
    .failureText = kFailureComma,
    .connectionReport = "Carrier Phase: Connected to QARN...\n"
                        "Running Carrier Phase test...\n",
    .copiesLevelOffset = true,
    .procedure = RunCarrierPhaseTest};
constexpr Launch kTest004 = {
    .name = "test 004",
    .failureText = kFailureComma,
    .connectionReport = "Relative Power: Connected to QARN...\n"
                        "Running relative power test...\n",
    .copiesLevelOffset = true,
    .procedure = RunRelativePowerTest};
constexpr Launch kTest009 = {
    .name = "test 009",
    .failureInMessageBox = true,
    .connectionReport = "Basic Localization: Connected to QARN...\n"
                        "Running AUTO HO test...\n",
    .copiesLevelOffset = true, .resetsSimulator = true,
    .procedure = RunAutoHoTest};
constexpr Launch kTest010 = {
    .name = "test 010",
    .failureText = "Error, Can not connect to QARN. Check IP address!\n",
    .connectionReport = "Absolute power with ZEL: Connected to QARN & ZEL...\n"
                        "Running absolute power test...\n",
    .copiesLevelOffset = true,
    .procedure = RunAbsolutePowerTest};
// Test 011 reports its connection by printing the identification, and runs
// with the level offset of the last launch that copied one.
constexpr Launch kTest011 = {
    .name = "test 011",
    .failureInMessageBox = true,
    .printsIdentification = true,
    .procedure = RunScopeCaptureTest};
constexpr Launch kTest012 = {
    .name = "test 012",
    .failureText = kFailureComma,
    .connectionReport = "SEMI-AUTO: Connected to QARN...\n"
                        "Running SEMI-AUTO test...\n",
    .copiesLevelOffset = true,
    .procedure = RunSemiAutoTest};
// The sequence, like test 011, keeps the level offset it finds.
constexpr Launch kTestSequence = {
    .name = "the test sequence",
    .failureText = "Error: Can not connect to QARN. Check IP address!\n",
    .connectionReport = "Connected to QARN...\n"
                        "Running basic localization looping test...\n",
    .resetsSimulator = true,
    .procedure = RunTestSequence};
// clang-format on

// A new launch replaces the sessions of the one before; closing them first
// keeps one connection to the instrument instead of one per launch.
void CloseEarlierSessions() {
  if (SimulatorSession != VI_NULL) viClose(SimulatorSession);
  if (ResourceManagerSession != VI_NULL) viClose(ResourceManagerSession);
  SimulatorSession = VI_NULL;
  ResourceManagerSession = VI_NULL;
}

// The reason of the last failure on `object` (a session or the resource
// manager): what viStatusDesc adds in parentheses to the status's own text
// (the refused address, the name that does not resolve, ...), else that text.
std::string StatusReason(ViObject object, ViStatus status) {
  char description[256] = "";
  viStatusDesc(object, status, description);
  const std::string text = description;
  const auto open = text.find(" (");
  if (open == std::string::npos || text.back() != ')') return text;
  return text.substr(open + 2, text.size() - open - 3);
}

int RunLaunch(const Launch& launch) {
  // The launch buttons are dimmed while a test runs; no other caller may
  // start a launch inside one either.
  if (LaunchRunning()) return 0;
  // The live view must not hold the receiver port the test opens.
  CloseLiveReceiverView();
  const LaunchActivity activity(launch.name);
  // An abort left over from an earlier test must not cut this one short.
  AbortFlag = 0;
  CreateRunLogDirectory();

  std::string address;
  GetCtrlVal(MainPanelHandle, MAIN_DUTIP, &address);
  const std::string resource = "TCPIP::" + address;

  CloseEarlierSessions();
  viOpenDefaultRM(&ResourceManagerSession);
  SetBOLE(0);
  ViSession session = VI_NULL;
  const ViStatus status =
      viOpen(ResourceManagerSession, resource.c_str(), VI_NO_LOCK, VI_NULL, &session);
  SetBOLE(1);
  if (status != VI_SUCCESS) {
    StdErrReason("cannot connect to the simulator at " + resource + ": " +
                 StatusReason(ResourceManagerSession, status));
    if (launch.failureInMessageBox) {
      MessagePopup("Error", kBoxFailureText);
    } else {
      StdWrite(launch.failureText);
    }
    viClose(ResourceManagerSession);
    ResourceManagerSession = VI_NULL;
    return 0;
  }
  SimulatorSession = session;
  viSetAttribute(SimulatorSession, VI_ATTR_TMO_VALUE, kSimulatorTimeoutMs);

  // A simulator that does not answer leaves the text empty.
  static const char kIdentify[] = "*idn?\n";
  ViUInt32 written = 0;
  viWrite(SimulatorSession, reinterpret_cast<const ViByte*>(kIdentify), sizeof kIdentify - 1,
          &written);
  char identification[kIdentificationSize] = "";
  const ViStatus identified = viScanf(SimulatorSession, "%t", identification);
  identification[kIdentificationSize - 1] = '\0';
  if (identified < 0) {
    StdErrReason("the simulator at " + resource +
                 " did not answer *idn?: " + StatusReason(SimulatorSession, identified));
  }

  if (launch.printsIdentification) {
    StdWrite(identification);
    StdWrite("\n");
  }
  WriteFirmwareVersion(RunLogDirectory.c_str(), identification);
  int comPort = 0;
  GetCtrlVal(MainPanelHandle, MAIN_COMPORT, &comPort);
  ResultsBeginRun(identification, SelectedReceiverType, comPort);
  if (launch.copiesLevelOffset) {
    GetCtrlVal(MainPanelHandle, MAIN_LEVEL_OFFSET, &LevelOffset);
    if (LevelOffset.size() > kLevelOffsetMax) LevelOffset.resize(kLevelOffsetMax);
  }
  if (launch.connectionReport != nullptr) StdWrite(launch.connectionReport);
  if (launch.resetsSimulator) ResetSimulator();
  // Aborted while connecting (the main panel's abort button): no test.
  if (AbortFlag != 0) {
    StdErrReason(std::string(launch.name) + " aborted before it started");
    return 0;
  }
  launch.procedure();
  return 0;
}

}  // namespace

void CreateRunLogDirectory() {
  const std::time_t now = CalendarTime();
  std::tm local{};
  localtime_r(&now, &local);
  char time[kRunLogTimeSize];
  std::strftime(time, sizeof time, "%Y-%m-%d_%H.%M.%S", &local);
  RunLogIncomplete = false;
  std::string name = std::string("KELMAR_LOGS_") + time;
  if (name.size() > kRunLogDirectoryMax) name.resize(kRunLogDirectoryMax);
  RunLogDirectory = name;
  // The launch goes on: the files of the run then report that they cannot
  // be created. The reason goes beside, on stderr.
  if (const int error = MakeDirectories("LOG"); error != 0) {
    StdErrReason(ErrnoText("cannot create LOG/" + RunLogDirectory, error));
    RunLogIncomplete = true;
    return;
  }
  // A name already taken (a launch earlier in the same second, or another
  // station in the same working directory) gets a suffix: no run writes into
  // another's directory. mkdir fails on a name that exists, so two launches
  // at once cannot both have it.
  for (int n = 1; n <= kRunLogDirectorySuffixMax; ++n) {
    RunLogDirectory = n == 1 ? name : name + "_" + std::to_string(n);
    const std::string path = "LOG/" + RunLogDirectory;
    if (::mkdir(path.c_str(), 0777) == 0) return;
    if (errno != EEXIST) {
      StdErrReason(ErrnoText("cannot create " + path, errno));
      RunLogIncomplete = true;
      return;
    }
  }
  StdErrReason("cannot create LOG/" + name + ": every name up to the suffix _" +
               std::to_string(kRunLogDirectorySuffixMax) + " is taken");
}

void WriteFirmwareVersion(const char* directory, const char* text) {
  std::string path = std::string("LOG/") + directory + "/Firmware_Version.txt";
  ReplaceChar(path.data(), ':', '.');
  if (const int error = WriteFileAtomically(path, text); error != 0) {
    StdErrReason(ErrnoText("cannot write " + path, error));
    RunLogIncomplete = true;
  }
}

#define LAUNCH_CALLBACK(name, launch)              \
  int name(int, int, int event, void*, int, int) { \
    if (event != EVENT_COMMIT) return 0;           \
    return RunLaunch(launch);                      \
  }
LAUNCH_CALLBACK(callbackRunTest000, kTest000)
LAUNCH_CALLBACK(callbackRunTest001, kTest001)
LAUNCH_CALLBACK(callbackRunTest003, kTest003)
LAUNCH_CALLBACK(callbackRunTest004, kTest004)
LAUNCH_CALLBACK(callbackRunTest009, kTest009)
LAUNCH_CALLBACK(callbackRunTest010, kTest010)
LAUNCH_CALLBACK(callbackRunTest011, kTest011)
LAUNCH_CALLBACK(callbackRunTest012, kTest012)
LAUNCH_CALLBACK(callbackRunTestSeq, kTestSequence)
#undef LAUNCH_CALLBACK

// ---- Run panel buttons ----------------------------------------------------------

int callbackAbortTest(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT) AbortFlag = 1;
  return 0;
}

// Closes the basic test's panel but lets the test run on: its lines then go to
// standard output and its files are written as usual.
int CALLBK_CMDEXITTEST000(int, int, int event, void*, int, int) {
  if (event != EVENT_COMMIT || RunPanelHandle == 0) return 0;
  const int panel = RunPanelHandle;
  RunPanelHandle = 0;
  if (StatusLogPanel == panel) StatusLogPanel = 0;
  DiscardPanel(panel);
  return 0;
}
