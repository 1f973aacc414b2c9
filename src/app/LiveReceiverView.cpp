#include "app/LiveReceiverView.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <system_error>

#include "panels/GNSS_UI_LIVE_uir.h"
#include "platform/serial.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "platform/ui_sky.h"
#include "platform/ui_timer.h"
#include "receiver/Epoch.h"
#include "receiver/Nmea.h"
#include "receiver/ReceiverLink.h"
#include "receiver/ReceiverProfile.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPollMilliseconds = 100;
// A read takes what the event loop has already collected from the port and
// waits for no more than this: the receiver's next bytes come with the next
// tick.
constexpr int kLiveReadMilliseconds = 1;
// Epochs decoded in one tick at most (a receiver sends one or a few a second).
constexpr int kEpochsPerPoll = 16;
// The GSV groups of a full sky take turns at 9,600 baud: a satellite stays in
// the view until it has been missing from this many epochs.
constexpr long kSatelliteMemoryEpochs = 5;
// A receiver that has sent no epoch for this long is reported as silent.
constexpr double kSilentSeconds = 3.0;

using SteadyClock = std::chrono::steady_clock;

struct RememberedSatellite {
  SatelliteEntry entry;
  long lastEpoch = 0;
};

struct LiveView {
  int panel = 0;
  int timer = 0;
  int port = kInvalidSerialHandle;  // the handle the view opened
  std::string portName;
  bool busy = false;  // opening or sending: those wait, and process events meanwhile
  std::vector<LivePortChoice> ports;
  std::unique_ptr<ReceiveBuffer> buffer = std::make_unique<ReceiveBuffer>();
  EpochState state;
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
  std::map<int, RememberedSatellite> sky;
  long epochs = 0;
  SteadyClock::time_point lastEpochAt;  // or the opening, before the first epoch
  bool silent = false;
};

LiveView& View() {
  static LiveView view;
  return view;
}

SkySystem SystemOfPrn(int prn) {
  if (prn >= 1 && prn <= 32) return SkySystem::kGps;
  if ((prn >= 33 && prn <= 64) || (prn >= 120 && prn <= 158)) return SkySystem::kSbas;
  if (prn >= 65 && prn <= 96) return SkySystem::kGlonass;
  if (prn > kGalileoPrnAbove && prn <= kGalileoPrnAbove + 50) return SkySystem::kGalileo;
  return SkySystem::kOther;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

void SetStatus(const std::string& text) {
  if (View().panel > 0) SetCtrlVal(View().panel, LIVE_STATUS, text.c_str());
}

bool HoldsPort() {
  const LiveView& v = View();
  return v.port != kInvalidSerialHandle && ReceiverPort == v.port;
}

void ShowProfileLabel() {
  LiveView& v = View();
  if (v.panel <= 0) return;
  SetCtrlVal(
      v.panel, LIVE_PROFILE,
      Format("Commands of receiver type %d (chosen on the receiver page)", SelectedReceiverType)
          .c_str());
}

void RefreshPorts() {
  LiveView& v = View();
  v.ports = FindLivePorts(SerialComDirectory());
  ClearListCtrl(v.panel, LIVE_PORTS);
  for (const LivePortChoice& choice : v.ports)
    InsertListItem(v.panel, LIVE_PORTS, -1, choice.label.c_str());
  if (!v.ports.empty()) SetCtrlIndex(v.panel, LIVE_PORTS, 0);
  if (!HoldsPort()) {
    SetStatus(v.ports.empty() ? "No serial port found (COM directory " + SerialComDirectory() +
                                    ", /dev/serial/by-id, /dev/ttyUSB*, /dev/ttyACM*)"
                              : Format("%zu serial ports found; no port open", v.ports.size()));
  }
}

void ClearFixDisplay() {
  const int panel = View().panel;
  for (int control : {LIVE_UTC, LIVE_POSITION, LIVE_FIXMODE, LIVE_USED, LIVE_DOPS})
    SetCtrlVal(panel, control, "");
  ClearListCtrl(panel, LIVE_SATELLITES);
  SetSkySatellites(panel, LIVE_SKY, nullptr, 0);
  SetSkySatellites(panel, LIVE_CN0, nullptr, 0);
}

// Stops reading; closes the port when the view still holds it.
void StopReading(const std::string& status) {
  LiveView& v = View();
  if (v.timer > 0) CancelPeriodicCallback(v.timer);
  v.timer = 0;
  if (HoldsPort()) CloseReceiverPort();
  v.port = kInvalidSerialHandle;
  if (!status.empty()) SetStatus(status);
}

std::string Dop(double value) { return value < 0 ? std::string("–") : Format("%.1f", value); }

void RememberEpoch() {
  LiveView& v = View();
  ++v.epochs;
  for (const SatelliteEntry& entry : v.table) {
    if (entry.prn <= 0) continue;
    v.sky[entry.prn] = {entry, v.epochs};
  }
  std::erase_if(v.sky, [&](const auto& item) {
    return v.epochs - item.second.lastEpoch >= kSatelliteMemoryEpochs;
  });
}

// The station's own rule: a satellite is used when its number is in the
// latest GSA chain and its C/N0 is at least 20 dB-Hz.
bool IsUsed(const SatelliteEntry& entry) {
  const FixStatus& status = View().status;
  const int count = std::min<int>(status.usedCount, kUsedPrnSlots);
  for (int i = 0; i < count; ++i) {
    if (status.usedPrn[static_cast<std::size_t>(i)] == entry.prn) return entry.cn0 >= kUsedCn0Min;
  }
  return false;
}

void ShowFix() {
  LiveView& v = View();
  const int panel = v.panel;
  const FixRecord& fix = v.fix;
  const FixStatus& status = v.status;
  if (fix.year > 0) {
    SetCtrlVal(panel, LIVE_UTC,
               Format("%04d-%02d-%02d %02d:%02d:%02d UTC", fix.year, fix.month, fix.day, fix.hour,
                      fix.minute, fix.second)
                   .c_str());
  } else {
    SetCtrlVal(
        panel, LIVE_UTC,
        Format("%02d:%02d:%02d UTC (no date: ZDA or RMC missing)", fix.hour, fix.minute, fix.second)
            .c_str());
  }
  const GeoPoint& at = fix.position;
  const bool noPosition =
      status.fixMode == 1 || (status.fixMode == 0 && at.latitude == 0.0 && at.longitude == 0.0);
  const std::string position =
      noPosition
          ? std::string("no position")
          : Format("%.6f° %c  %.6f° %c  %.1f m", std::abs(at.latitude), at.latitude < 0 ? 'S' : 'N',
                   std::abs(at.longitude), at.longitude < 0 ? 'W' : 'E', at.altitude);
  SetCtrlVal(panel, LIVE_POSITION, position.c_str());
  const char* mode = status.fixMode == 3   ? "3D fix"
                     : status.fixMode == 2 ? "2D fix"
                     : status.fixMode == 1 ? "no fix"
                                           : "unknown (no GSA sentence)";
  SetCtrlVal(panel, LIVE_FIXMODE, mode);

  std::vector<SkySatellite> satellites;
  for (const auto& [prn, remembered] : v.sky) {
    const SatelliteEntry& e = remembered.entry;
    satellites.push_back({prn, e.elevation, e.azimuth, e.cn0, IsUsed(e), SystemOfPrn(prn)});
  }
  std::stable_sort(satellites.begin(), satellites.end(), [](const auto& a, const auto& b) {
    return static_cast<int>(a.system) < static_cast<int>(b.system);
  });
  SetCtrlVal(panel, LIVE_USED,
             Format("%d used, %zu in view", std::min<int>(status.usedCount, kUsedPrnSlots),
                    satellites.size())
                 .c_str());
  SetCtrlVal(
      panel, LIVE_DOPS,
      ("PDOP " + Dop(status.pdop) + "   HDOP " + Dop(status.hdop) + "   VDOP " + Dop(status.vdop))
          .c_str());

  ClearListCtrl(panel, LIVE_SATELLITES);
  for (const SkySatellite& s : satellites) {
    InsertListItem(panel, LIVE_SATELLITES, -1,
                   Format("%-7s %3d  el %2d  az %3d  C/N0 %2d%s", SkySystemName(s.system), s.prn,
                          s.elevation, s.azimuth, s.cn0, s.used ? "  used" : "")
                       .c_str());
  }
  SetSkySatellites(panel, LIVE_SKY, satellites.data(), static_cast<int>(satellites.size()));
  SetSkySatellites(panel, LIVE_CN0, satellites.data(), static_cast<int>(satellites.size()));
  SetStatus(Format("%s open: %ld epochs, last %02d:%02d:%02d UTC", v.portName.c_str(), v.epochs,
                   fix.hour, fix.minute, fix.second));
}

// The receiver's text for the NMEA box: printable characters and line ends;
// carriage returns and binary answers (UBX acknowledgements) are left out.
std::string PrintableText(const char* data, std::size_t count) {
  std::string text;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '\n' || (c >= 0x20 && c < 0x7F)) text += static_cast<char>(c);
  }
  return text;
}

void PollLiveReceiver(void*) {
  LiveView& v = View();
  if (v.busy || v.port == kInvalidSerialHandle || v.panel <= 0) return;
  if (!HoldsPort()) {
    StopReading(v.portName + " was taken over (a test opened the receiver port); reading stopped");
    return;
  }
  ReceiveBuffer& buffer = *v.buffer;
  if (buffer.length >= kReceiveBufferFullMark || buffer.length < 0) buffer.length = 0;
  const std::size_t room = static_cast<std::size_t>(kReceiveBufferCapacity - buffer.length);
  std::size_t n = 0;
  if (!SerialRead(ReceiverPort, buffer.text + buffer.length,
                  std::min<std::size_t>(room, kReadChunkMax), &n)) {
    const int error = SerialLastError();
    StopReading("Reading " + v.portName + " failed: " + std::strerror(error) + "; port closed");
    StdErrWrite("gnss-station: live receiver view: reading " + v.portName +
                " failed: " + std::strerror(error) + "\n");
    return;
  }
  if (n == 0) {
    // Say so when the receiver has gone quiet; the last epoch stays shown.
    const double quiet = std::chrono::duration<double>(SteadyClock::now() - v.lastEpochAt).count();
    if (quiet >= kSilentSeconds && !v.silent) {
      v.silent = true;
      SetStatus(Format("%s open: nothing received for %.0f s", v.portName.c_str(), quiet) +
                (v.epochs > 0 ? Format(" (last epoch %02d:%02d:%02d UTC)", v.fix.hour, v.fix.minute,
                                       v.fix.second)
                              : std::string()));
    }
    return;
  }
  int paused = 0;
  GetCtrlVal(v.panel, LIVE_PAUSE, &paused);
  if (!paused) {
    const std::string text = PrintableText(buffer.text + buffer.length, n);
    if (!text.empty()) SetCtrlVal(v.panel, LIVE_NMEA, text.c_str());
  }
  buffer.length += static_cast<int>(n);

  bool decoded = false;
  for (int i = 0; i < kEpochsPerPoll; ++i) {
    BeginEpochPass(v.state, v.table, v.status);
    const StreamStep step = DecodeBufferedEpoch(buffer, v.fix, v.status, v.table, v.state);
    if (step == StreamStep::kNeedMore) break;
    if (step == StreamStep::kLostStart) continue;
    RememberEpoch();
    decoded = true;
  }
  if (decoded) {
    v.lastEpochAt = SteadyClock::now();
    v.silent = false;
    ShowFix();
  }
}

// Runs a command send of the view. The sends wait between messages (and
// InitReceiver 3 s at its end) while events run; reading pauses meanwhile.
void SendFromView(const std::string& what, const std::function<int()>& send) {
  LiveView& v = View();
  if (v.busy) return;
  ShowProfileLabel();
  if (!HoldsPort()) {
    SetStatus("Open a port first: " + what + " goes to the open receiver port");
    return;
  }
  v.busy = true;
  SetStatus(Format("Sending %s of receiver type %d to ", what.c_str(), SelectedReceiverType) +
            v.portName + "...");
  const int sent = send();
  v.busy = false;
  if (!HoldsPort()) return;  // the view or the port was closed meanwhile
  // What the receiver said before and during the send is not worth decoding.
  v.buffer->length = 0;
  SetStatus(sent ? Format("%s of receiver type %d sent to ", what.c_str(), SelectedReceiverType) +
                       v.portName
                 : what + ": a write to " + v.portName + " failed (" +
                       std::strerror(SerialLastError()) + ")");
}

}  // namespace

std::vector<LivePortChoice> FindLivePorts(const std::string& comDirectory,
                                          const std::string& devRoot) {
  std::vector<LivePortChoice> com, byId, devices;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(comDirectory, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos || name.size() > 6)
      continue;
    LivePortChoice choice;
    choice.comNumber = std::stoi(name.substr(3));
    if (choice.comNumber <= 0) continue;
    choice.label = name;
    std::error_code linkError;
    if (entry.is_symlink(linkError)) {
      choice.label += " -> " + fs::read_symlink(entry.path(), linkError).string();
      if (!fs::exists(entry.path(), linkError)) choice.label += " (missing)";
    }
    com.push_back(choice);
  }
  std::sort(com.begin(), com.end(),
            [](const auto& a, const auto& b) { return a.comNumber < b.comNumber; });

  const fs::path byIdDir = fs::path(devRoot) / "serial" / "by-id";
  for (const fs::directory_entry& entry : fs::directory_iterator(byIdDir, ec)) {
    LivePortChoice choice;
    choice.path = entry.path().string();
    std::error_code linkError;
    const fs::path target = fs::canonical(entry.path(), linkError);
    choice.label = "serial/by-id/" + entry.path().filename().string() +
                   (linkError ? " (missing)" : " -> " + target.string());
    byId.push_back(choice);
  }
  std::sort(byId.begin(), byId.end(),
            [](const auto& a, const auto& b) { return a.label < b.label; });

  for (const fs::directory_entry& entry : fs::directory_iterator(devRoot, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("ttyUSB", 0) != 0 && name.rfind("ttyACM", 0) != 0) continue;
    devices.push_back({entry.path().string(), 0, entry.path().string()});
  }
  std::sort(devices.begin(), devices.end(),
            [](const auto& a, const auto& b) { return a.label < b.label; });

  std::vector<LivePortChoice> all = std::move(com);
  all.insert(all.end(), byId.begin(), byId.end());
  all.insert(all.end(), devices.begin(), devices.end());
  return all;
}

void OpenLiveReceiverView() {
  LiveView& v = View();
  if (v.panel <= 0) {
    RegisterSkyWidgets();
    const int panel = LoadPanel(0, "GNSS_UI_LIVE.uir", LIVEPANEL);
    if (panel < 0) {
      StdErrWrite("gnss-station: cannot open the live receiver view: " + UiLastError() + "\n");
      return;
    }
    v.panel = panel;
    RefreshPorts();
  }
  ShowProfileLabel();
  DisplayPanel(v.panel);
}

void CloseLiveReceiverView() {
  LiveView& v = View();
  StopReading("");
  if (v.panel > 0) DiscardPanel(v.panel);
  v.panel = 0;
}

int callbackOpenLiveView(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT) OpenLiveReceiverView();
  return 0;
}

int CMD_LIVE_RESCAN(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT && View().panel > 0) RefreshPorts();
  return 0;
}

int CMD_LIVE_OPEN(int, int, int event, void*, int, int) {
  LiveView& v = View();
  if (event != EVENT_COMMIT || v.busy || v.panel <= 0) return 0;
  int index = -1;
  GetCtrlIndex(v.panel, LIVE_PORTS, &index);
  if (index < 0 || index >= static_cast<int>(v.ports.size())) {
    SetStatus("No port chosen");
    return 0;
  }
  const LivePortChoice choice = v.ports[static_cast<std::size_t>(index)];
  StopReading("");
  // The one receiver port is a test's while it holds it (its waits let this
  // button run): the view never takes it away.
  if (ReceiverPort != kInvalidSerialHandle) {
    SetStatus("The receiver port is in use by a test; open it here when the test has ended");
    return 0;
  }
  const std::string name =
      choice.comNumber > 0 ? "COM" + std::to_string(choice.comNumber) : choice.path;
  SetStatus("Opening " + name + "...");
  // A missing entry or device is named as such: the configuration steps that
  // the opening runs on no port would leave a bad-handle error instead.
  const fs::path device =
      choice.comNumber > 0 ? fs::path(SerialComDirectory()) / name : fs::path(choice.path);
  std::error_code missing;
  const bool present = fs::exists(device, missing);
  v.busy = true;
  const int rc = !present               ? -2
                 : choice.comNumber > 0 ? OpenReceiverPort(choice.comNumber)
                                        : OpenReceiverPortPath(choice.path.c_str());
  v.busy = false;
  if (rc != 0) {
    const std::string reason = std::strerror(present ? SerialLastError() : ENOENT);
    CloseReceiverPort();
    SetStatus("Cannot open " + choice.label + ": " + reason);
    StdErrWrite("gnss-station: live receiver view: cannot open " + choice.label + ": " + reason +
                "\n");
    return 0;
  }
  if (v.panel <= 0) {  // the view was closed while the port opened
    CloseReceiverPort();
    return 0;
  }
  v.port = ReceiverPort;
  v.portName = name;
  SerialSetTimeouts(ReceiverPort, kLiveReadMilliseconds, kReceiverWritePerByteMilliseconds,
                    kReceiverWriteConstantMilliseconds);
  v.buffer->length = 0;
  v.fix = FixRecord{};
  v.status = FixStatus{};
  BeginEpochCall(v.state, v.table);
  v.sky.clear();
  v.epochs = 0;
  v.lastEpochAt = SteadyClock::now();
  v.silent = false;
  ClearFixDisplay();
  ResetTextBox(v.panel, LIVE_NMEA, "");
  v.timer = SetPeriodicCallback(v.panel, kPollMilliseconds, PollLiveReceiver, nullptr);
  SetStatus(name + " open; waiting for the receiver's first epoch");
  return 0;
}

int CMD_LIVE_CLOSE(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT && View().panel > 0 && !View().busy) {
    const bool held = HoldsPort();
    const std::string name = View().portName;
    StopReading(held ? name + " closed" : "No port open");
  }
  return 0;
}

int CMD_LIVE_COLDSTART(int, int, int event, void*, int, int) {
  if (event != EVENT_COMMIT) return 0;
  SendFromView("cold start", [] {
    const int type = SelectedReceiverType;
    if (type < 0 || type >= kReceiverTypeCapacity) return 0;
    return SendHexCommands(ReceiverProfiles[type].coldStart);
  });
  return 0;
}

int CMD_LIVE_INIT_GPS(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT) SendFromView("GPS initialisation", [] { return InitReceiver(0); });
  return 0;
}

int CMD_LIVE_INIT_GLN(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT) SendFromView("GLONASS initialisation", [] { return InitReceiver(1); });
  return 0;
}

int CMD_LIVE_DONE(int, int, int event, void*, int, int) {
  if (event == EVENT_COMMIT) CloseLiveReceiverView();
  return 0;
}
