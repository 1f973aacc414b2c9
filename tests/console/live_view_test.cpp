// The live receiver view in the station's own process, off-screen: the ports
// it offers, and the sky of qarn-emu's virtual receiver read back from its
// controls (the satellites the emulator radiates by its SCPI slot table, their
// C/N0 from the reference level), pausing, closing, and a test taking the
// port over.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "app/LiveReceiverView.h"
#include "panels/GNSS_UI_LIVE_uir.h"
#include "platform/serial.h"
#include "platform/ui.h"
#include "platform/ui_timer.h"
#include "receiver/ReceiverLink.h"
#include "receiver/ReceiverProfile.h"
#include "tests/console/ScpiClient.h"
#include "tests/support/EmulatorProcess.h"
#include "tests/support/HeadlessRuntime.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/gnss-console-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST(LivePorts, ComEntriesByNumberThenByIdThenUsbAndAcmDevices) {
  TempDir com, dev;
  fs::create_directories(dev.path() / "serial/by-id");
  for (const char* name : {"ttyUSB0", "ttyACM1", "ttyS0", "null"})
    std::ofstream(dev.path() / name) << "";
  fs::create_symlink("../../ttyUSB0", dev.path() / "serial/by-id/usb-Lab_GNSS_Receiver-if00");
  fs::create_symlink(dev.path() / "ttyACM1", com.path() / "COM12");
  fs::create_symlink("/dev/gone-receiver", com.path() / "COM3");
  std::ofstream(com.path() / "COM4.txt") << "";
  std::ofstream(com.path() / "notes") << "";

  const std::vector<LivePortChoice> ports = FindLivePorts(com.path(), dev.path());
  ASSERT_EQ(ports.size(), 5u);
  EXPECT_EQ(ports[0].label, "COM3 -> /dev/gone-receiver (missing)");
  EXPECT_EQ(ports[0].comNumber, 3);
  EXPECT_EQ(ports[1].label, "COM12 -> " + (dev.path() / "ttyACM1").string());
  EXPECT_EQ(ports[1].comNumber, 12);
  EXPECT_EQ(ports[2].label,
            "serial/by-id/usb-Lab_GNSS_Receiver-if00 -> " + (dev.path() / "ttyUSB0").string());
  EXPECT_EQ(ports[2].path, (dev.path() / "serial/by-id/usb-Lab_GNSS_Receiver-if00").string());
  EXPECT_EQ(ports[3].path, (dev.path() / "ttyACM1").string());
  EXPECT_EQ(ports[4].path, (dev.path() / "ttyUSB0").string());
  for (std::size_t i = 2; i < ports.size(); ++i) EXPECT_EQ(ports[i].comNumber, 0);

  EXPECT_TRUE(FindLivePorts("/nonexistent/com", "/nonexistent/dev").empty());
}

// The periodic callback that the view polls on: it runs from the event loop,
// is not entered again while a call processes events itself, and stops with
// its panel or when cancelled.
struct Ticks {
  int calls = 0, depth = 0, deepest = 0;
};

void CountTick(void* data) {
  Ticks& t = *static_cast<Ticks*>(data);
  ++t.calls;
  t.deepest = std::max(t.deepest, ++t.depth);
  if (t.calls == 1) {  // the first call waits, processing events, over several ticks
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < end) ProcessSystemEvents();
  }
  --t.depth;
}

TEST(PeriodicCallback, RunsFromTheLoopNeverNestedAndEndsWithItsPanel) {
  ASSERT_TRUE(StartHeadlessRuntimeOnce("console_tests"));
  const int panel = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", 1);
  ASSERT_GT(panel, 0) << UiLastError();
  auto runEvents = [](int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
      ProcessSystemEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  };
  Ticks kept, cancelled;
  EXPECT_LT(SetPeriodicCallback(panel, 0, CountTick, &kept), 0);
  ASSERT_GT(SetPeriodicCallback(panel, 10, CountTick, &kept), 0);
  const int timer = SetPeriodicCallback(panel, 10, CountTick, &cancelled);
  ASSERT_GT(timer, 0);
  runEvents(400);
  EXPECT_GT(kept.calls, 3);
  EXPECT_EQ(kept.deepest, 1) << "a tick inside a running call is skipped";
  CancelPeriodicCallback(timer);
  const int cancelledCalls = cancelled.calls;
  DiscardPanel(panel);
  const int keptCalls = kept.calls;
  runEvents(100);
  EXPECT_EQ(cancelled.calls, cancelledCalls);
  EXPECT_EQ(kept.calls, keptCalls) << "the timer went with its panel";
  CancelPeriodicCallback(timer);  // twice: no harm
}

struct ShownSatellite {
  std::string system;
  int elevation = -1, azimuth = -1, cn0 = -1;
  bool used = false;
};

std::string Text(const char* control) {
  int panel = 0, id = 0;
  if (!FindControlByName(control, &panel, &id)) return "<no " + std::string(control) + ">";
  return CtrlValueAsText(panel, id);
}

// LIVE_SATELLITES as the operator reads it: "GPS  5  el 45  az 120  C/N0 47  used".
std::map<int, ShownSatellite> ShownSky() {
  std::map<int, ShownSatellite> sky;
  int panel = 0, id = 0;
  if (!FindControlByName("LIVE_SATELLITES", &panel, &id)) return sky;
  int count = 0;
  GetNumListItems(panel, id, &count);
  for (int i = 0; i < count; ++i) {
    std::string item;
    GetLabelFromIndex(panel, id, i, &item);
    char system[16] = {};
    int prn = 0;
    ShownSatellite s;
    if (std::sscanf(item.c_str(), "%15s %d el %d az %d C/N0 %d", system, &prn, &s.elevation,
                    &s.azimuth, &s.cn0) == 5) {
      s.system = system;
      s.used = item.find("used") != std::string::npos;
      sky[prn] = s;
    }
  }
  return sky;
}

template <class Done>
bool RunEventsUntil(Done done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    ProcessSystemEvents();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

std::string Item(const char* control, int index) {
  int panel = 0, id = 0;
  std::string label;
  if (FindControlByName(control, &panel, &id)) GetLabelFromIndex(panel, id, index, &label);
  return label;
}

bool Press(const char* control) {
  int panel = 0, id = 0;
  return FindControlByName(control, &panel, &id) && CommitControl(panel, id);
}

class LiveViewAgainstTheLab : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string emulator = STATION_BINARY_DIR "/bin/qarn-emu";
    if (!fs::exists(emulator)) GTEST_SKIP() << "no qarn-emu at " << emulator;
    ASSERT_TRUE(StartHeadlessRuntimeOnce("console_tests"));
    home_ = fs::current_path();
    // The view's panel resource is found in the working directory.
    fs::create_symlink(STATION_SOURCE_DIR "/ui/GNSS_UI_LIVE.uir",
                       work_.path() / "GNSS_UI_LIVE.uir");
    fs::current_path(work_.path());
    setenv("GNSS_COM_DIR", com_.path().c_str(), 1);
    emu_ = std::make_unique<EmulatorProcess>(
        emulator, "0.05",
        std::vector<std::string>{"--com-dir", com_.path().string(), "--com", "3", "--ttff", "2",
                                 "--log"});
    std::string error;
    ASSERT_TRUE(emu_->Start(&error)) << error;
  }
  void TearDown() override {
    CloseLiveReceiverView();
    CloseReceiverPort();
    if (emu_) emu_->Stop();
    unsetenv("GNSS_COM_DIR");
    if (!home_.empty()) fs::current_path(home_);
  }

  TempDir work_, com_;
  fs::path home_;
  std::unique_ptr<EmulatorProcess> emu_;
};

TEST_F(LiveViewAgainstTheLab, ShowsTheRadiatedSkyPausesClosesAndYieldsToATest) {
  // GPS with Galileo and GLONASS as hybrids, 12 satellites shared out by the
  // simulator, at -125 dBm: C/N0 47 dB-Hz (reference level + 172 dB) and up.
  ScpiClient scpi(emu_->Port());
  for (const char* command :
       {"SOUR:BB:GPS:HYBR:GAL ON", "SOUR:BB:GPS:HYBR:GLON ON", "SOUR:BB:GPS:SAT:COUNT 12",
        "SOUR:BB:GPS:GOC", "SOUR:BB:GPS:POW:REF -125", "SOUR:BB:GPS:LOC:SEL \"User Defined\"",
        "SOUR:BB:GPS:LOC:COOR:DEC 11.516700,48.117300,520.0", "SOUR:BB:GPS:TRIG:SEQ AUTO",
        "OUTP ON", "SOUR:BB:GPS:STAT ON"}) {
    ASSERT_TRUE(scpi.Command(command)) << command;
  }
  // The radiated sky by the simulator's slot table, numbered as receivers
  // number them in NMEA: GPS 1-32, GLONASS 65-96, Galileo 211-246.
  std::map<int, std::string> radiated;
  for (int slot = 1; slot <= 12; ++slot) {
    const std::string prefix = "SOUR:BB:GPS:SAT" + std::to_string(slot);
    if (scpi.Query(prefix + ":STAT?") != "1") continue;
    const std::string standard = scpi.Query(prefix + ":STAN?");
    const int svid = std::atoi(scpi.Query(prefix + ":SVID?").c_str());
    if (standard.rfind("GPS", 0) == 0) radiated[svid] = "GPS";
    if (standard.rfind("GAL", 0) == 0) radiated[210 + svid] = "Galileo";
    if (standard.rfind("GLO", 0) == 0) radiated[64 + svid] = "GLONASS";
  }
  ASSERT_EQ(radiated.size(), 12u);

  OpenLiveReceiverView();
  ASSERT_EQ(Item("LIVE_PORTS", 0).rfind("COM3 -> ", 0), 0u) << Item("LIVE_PORTS", 0);
  ASSERT_TRUE(Press("LIVE_OPEN")) << UiLastError();
  EXPECT_NE(ReceiverPort, kInvalidSerialHandle);

  std::map<int, ShownSatellite> sky;
  const bool sawSky = RunEventsUntil(
      [&] {
        sky = ShownSky();
        if (sky.size() != radiated.size() || Text("LIVE_FIXMODE") != "3D fix") return false;
        for (const auto& [prn, s] : sky) {
          if (!s.used) return false;
        }
        return true;
      },
      60);
  EXPECT_TRUE(sawSky) << Text("LIVE_STATUS");
  for (const auto& [prn, system] : radiated) {
    ASSERT_TRUE(sky.count(prn)) << system << " " << prn << " missing";
    const ShownSatellite& s = sky[prn];
    EXPECT_EQ(s.system, system) << prn;
    // The level plus up to 2 dB towards the zenith and 1 dB of jitter.
    EXPECT_GE(s.cn0, 47) << prn;
    EXPECT_LE(s.cn0, 50) << prn;
    EXPECT_TRUE(s.elevation >= 0 && s.elevation <= 90) << prn;
    EXPECT_TRUE(s.azimuth >= 0 && s.azimuth < 360) << prn;
  }
  EXPECT_EQ(Text("LIVE_USED"), "12 used, 12 in view");
  EXPECT_NE(Text("LIVE_UTC").find(" UTC"), std::string::npos);
  EXPECT_EQ(Text("LIVE_UTC").find("no date"), std::string::npos) << Text("LIVE_UTC");
  // Where the simulator puts the receiver, within the receiver's few metres
  // of noise; the altitude above the ellipsoid.
  double latitude = 0, longitude = 0, altitude = 0;
  char north = 0, east = 0;
  ASSERT_EQ(std::sscanf(Text("LIVE_POSITION").c_str(), "%lf° %c %lf° %c %lf m", &latitude, &north,
                        &longitude, &east, &altitude),
            5)
      << Text("LIVE_POSITION");
  EXPECT_EQ(north, 'N');
  EXPECT_EQ(east, 'E');
  EXPECT_NEAR(latitude, 48.1173, 0.0005);
  EXPECT_NEAR(longitude, 11.5167, 0.0005);
  EXPECT_NEAR(altitude, 520.0, 30.0);
  EXPECT_EQ(Text("LIVE_DOPS").rfind("PDOP ", 0), 0u);
  const std::string nmea = Text("LIVE_NMEA");
  EXPECT_NE(nmea.find("GGA,"), std::string::npos);
  EXPECT_EQ(nmea.find('\r'), std::string::npos);

  // Paused, the sentences stop scrolling while the epochs go on.
  int panel = 0, id = 0;
  ASSERT_TRUE(FindControlByName("LIVE_PAUSE", &panel, &id));
  SetCtrlValFromText(panel, id, "1");
  RunEventsUntil([] { return false; }, 0.3);
  const std::string frozen = Text("LIVE_NMEA");
  const std::string statusBefore = Text("LIVE_STATUS");
  RunEventsUntil([&] { return Text("LIVE_STATUS") != statusBefore; }, 10);
  RunEventsUntil([] { return false; }, 0.5);
  EXPECT_NE(Text("LIVE_STATUS"), statusBefore) << "epochs go on while paused";
  EXPECT_EQ(Text("LIVE_NMEA"), frozen);
  SetCtrlValFromText(panel, id, "0");
  EXPECT_TRUE(RunEventsUntil([&] { return Text("LIVE_NMEA") != frozen; }, 10));

  // The command buttons send the selected type's texts (type 0: UBX), which
  // the virtual receiver acts on; reading goes on afterwards.
  SetDefaultReceiverProfiles();
  SelectedReceiverType = 0;
  ASSERT_TRUE(Press("LIVE_COLDSTART"));
  EXPECT_EQ(Text("LIVE_STATUS"), "cold start of receiver type 0 sent to COM3");
  EXPECT_TRUE(RunEventsUntil(
      [&] { return emu_->Transcript().find("[COM3] -- cold start (") != std::string::npos; }, 5))
      << emu_->Transcript().substr(0, 2000);
  ASSERT_TRUE(Press("LIVE_INIT_GPS"));
  EXPECT_EQ(Text("LIVE_STATUS"), "GPS initialisation of receiver type 0 sent to COM3");
  EXPECT_TRUE(RunEventsUntil(
      [&] {
        return emu_->Transcript().find("[COM3] -- default configuration restored") !=
               std::string::npos;
      },
      5));
  EXPECT_TRUE(
      RunEventsUntil([] { return Text("LIVE_STATUS").find("epochs") != std::string::npos; }, 30))
      << Text("LIVE_STATUS");

  ASSERT_TRUE(Press("LIVE_CLOSE"));
  EXPECT_EQ(ReceiverPort, kInvalidSerialHandle);
  EXPECT_EQ(Text("LIVE_STATUS"), "COM3 closed");

  // A test that opens the receiver port while the view reads: the view stops
  // and leaves the test's port alone.
  ASSERT_TRUE(Press("LIVE_OPEN"));
  ASSERT_TRUE(RunEventsUntil([] { return !ShownSky().empty(); }, 30));
  ASSERT_EQ(OpenReceiverPort(3), 0);
  const int testPort = ReceiverPort;
  EXPECT_TRUE(
      RunEventsUntil([] { return Text("LIVE_STATUS").find("taken over") != std::string::npos; }, 5))
      << Text("LIVE_STATUS");
  EXPECT_EQ(ReceiverPort, testPort);
  // While the test holds the port, the view does not take it away.
  ASSERT_TRUE(Press("LIVE_OPEN"));
  EXPECT_EQ(ReceiverPort, testPort);
  EXPECT_EQ(Text("LIVE_STATUS").rfind("The receiver port is in use by a test", 0), 0u)
      << Text("LIVE_STATUS");
  CloseReceiverPort();

  // A receiver that falls silent is reported as such; one that is unplugged
  // ends the reading with the reason.
  ASSERT_TRUE(Press("LIVE_OPEN"));
  ASSERT_TRUE(RunEventsUntil([] { return !ShownSky().empty(); }, 30));
  ASSERT_TRUE(scpi.Command("EMULator:RECeiver:FAULt:SILent ON"));
  EXPECT_TRUE(RunEventsUntil(
      [] { return Text("LIVE_STATUS").find("nothing received for") != std::string::npos; }, 10))
      << Text("LIVE_STATUS");
  EXPECT_NE(ShownSky().size(), 0u) << "the last epoch stays shown";
  ASSERT_TRUE(scpi.Command("EMULator:RECeiver:FAULt:SILent OFF"));
  ASSERT_TRUE(scpi.Command("EMULator:RECeiver:FAULt:UNPLug ON"));
  EXPECT_TRUE(
      RunEventsUntil([] { return Text("LIVE_STATUS").rfind("Reading COM3 failed: ", 0) == 0; }, 10))
      << Text("LIVE_STATUS");
  EXPECT_EQ(ReceiverPort, kInvalidSerialHandle);
  ASSERT_TRUE(scpi.Command("EMULator:RECeiver:FAULt:UNPLug OFF"));

  // Closing the view while it reads closes its port.
  ASSERT_TRUE(Press("LIVE_OPEN"));
  EXPECT_NE(ReceiverPort, kInvalidSerialHandle);
  CloseLiveReceiverView();
  EXPECT_EQ(ReceiverPort, kInvalidSerialHandle);
  EXPECT_FALSE(FindControlByName("LIVE_PORTS", &panel, &id));
}

TEST_F(LiveViewAgainstTheLab, AMissingPortIsReportedWithItsReason) {
  fs::create_symlink("/dev/no-such-receiver", com_.path() / "COM7");
  OpenLiveReceiverView();
  int panel = 0, id = 0;
  ASSERT_TRUE(FindControlByName("LIVE_PORTS", &panel, &id));
  ASSERT_TRUE(Press("LIVE_RESCAN"));
  ASSERT_EQ(SetCtrlValFromText(panel, id, "COM7 -> /dev/no-such-receiver (missing)"), 0)
      << UiLastError();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Press("LIVE_OPEN"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReceiverPort, kInvalidSerialHandle);
  EXPECT_EQ(Text("LIVE_STATUS"),
            "Cannot open COM7 -> /dev/no-such-receiver (missing): No such file or directory");
  EXPECT_NE(err.find("gnss-station: live receiver view: cannot open COM7"), std::string::npos)
      << err;
}

}  // namespace
