// The virtual GNSS receiver: it "sees" what the simulator model radiates and
// answers on a pseudo-terminal (linked as COM<n>) with NMEA at its epoch rate,
// takes UBX and NMEA commands (cold, warm and hot starts, sentence rates,
// systems), and plays the faults that EMULator:RECeiver: commands arrange.
//
// Options: --com-dir DIR (else $GNSS_COM_DIR, else ./COM), --com N (3),
// --rate HZ (1), --noise M (3), --ttff S (30), --hot-ttff S (3), --baud (9600),
// --latency S (0: an epoch's bytes leave at the instant it describes).
// Times are lab seconds: GNSS_TIME_SCALE shortens them like every other.
//
// SCPI (EMULator:RECeiver:...), each setting also as a query:
//   PORT? LINK? FIX?            slave device, COM link, last fix mode (1/2/3)
//   COLD | WARM | HOT           restart as the receiver's own commands do
//   TTFF[:COLD] s, TTFF:HOT s, NOISe m, RATE hz
//   FAULt:NODate ON|OFF         neither ZDA nor RMC
//   FAULt:GARBage ON|OFF        random bytes between sentences
//   FAULt:SILent ON|OFF         nothing at all on the port
//   FAULt:UNPLug ON|OFF         port closed and link removed / back (new device)
//   FAULt:UNPLug:STARt ON|OFF   unplugged when the next simulation starts (radiating)
//   FAULt:NOFix n               no fix during the next n simulations started
//   FAULt:GALSpread dB[,ONCE]   used Galileo C/N0 that far apart (ONCE: until a restart)
//   FAULt:UNUSable n            n tracked satellites kept out of the solution
//   FAULt:DATE days             dates reported that many days off
//   FAULt:GSVLength n           the first GSV group claims n messages
//   FAULt:LOSS percent          that share of the epochs without a fix
//   FAULt:DEGRade percent[,n]   that share with n (2) fewer satellites in the solution
//   FAULt:OFFSet e,n[,u]        positions that many metres east, north, up of the truth
//   LATency s                   from the instant an epoch describes to its first byte
//   FAULt:CLEar                 all off and plugged in
// EMULator:RESet clears the faults and takes the settings and the receiver's
// configuration (sentence rates, systems) back to those it started with.
// The faults survive *RST: a station resets the simulator at every launch.
#pragma once

#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "NmeaOut.h"
#include "Pty.h"
#include "VirtualReceiverInput.h"

namespace emu {

class SimulatorModel;

struct VirtualReceiverOptions {
  std::string comDirectory = "COM";
  int comPort = 3;
  int rateHz = 1;                 // epochs per (simulated) second, 1..10
  double noiseMetres = 3.0;       // bound of the horizontal and of the vertical error
  double coldTtffSeconds = 30.0;  // time to first fix after a cold start (lab seconds)
  double hotTtffSeconds = 3.0;    // after a hot start or a short loss of signal
  int baud = 9600;                // line speed the output is paced at
  double latencySeconds = 0.0;    // truth instant to the epoch's first byte (lab seconds)
  bool log = false;               // received bytes and events to standard output
};

struct ReceiverFaults {
  // Counted by simulation starts (a test point each): no fix while the next
  // noFixStarts simulations run; unplugged at the next start.
  int noFixStarts = 0;
  bool unplugAtStart = false;
  bool noDate = false;             // neither ZDA nor RMC
  bool garbage = false;            // random bytes between sentences
  bool silent = false;             // nothing at all on the port
  bool unplugged = false;          // pseudo-terminal closed, link removed
  double galileoSpreadDb = 0;      // C/N0 spread forced on the used Galileo satellites
  bool galileoSpreadOnce = false;  // the spread ends at the next receiver reset
  int unusable = 0;                // tracked satellites kept out of the solution
  int dateOffsetDays = 0;          // reported dates are off by this many days
  int gsvMessages = 0;             // the first GSV group claims this many messages (0: as needed)
  // During a drive: shares of the epochs (percent, spread evenly) without a
  // fix, and with satellites kept out of the solution; a steady position error.
  double lossPercent = 0;
  double degradedPercent = 0;
  int degradedSatellites = 2;
  double offsetEast = 0, offsetNorth = 0, offsetUp = 0;  // metres
};

// Whether epoch `index` is one of the `percent` share that a fault picks:
// spread evenly, so 30 % is 3 epochs in every 10.
bool ShareSelects(long long index, double percent);

class VirtualReceiver {
 public:
  using Clock = std::chrono::steady_clock;

  VirtualReceiver(SimulatorModel& model, VirtualReceiverOptions options);
  ~VirtualReceiver();
  VirtualReceiver(const VirtualReceiver&) = delete;
  VirtualReceiver& operator=(const VirtualReceiver&) = delete;

  // Opens the pseudo-terminal, places the link and starts the epochs.
  bool Start(QString* error);

  void Reset(ResetKind kind, const char* why);
  void Plug(bool plugged);
  void ClearFaults();
  void ResetLab();
  ReceiverFaults& Faults() { return faults_; }
  VirtualReceiverOptions& Options() { return options_; }
  int LastFixMode() const { return lastFixMode_; }
  std::string SlavePath() const { return pty_.SlavePath(); }
  std::string LinkPath() const { return link_.Path(); }

 private:
  struct TrackedSatellite {
    GnssSystem system;
    SatelliteView view;
  };

  double LabSeconds() const;
  double RequiredTtff() const;
  void RestoreDefaults();
  void ScheduleEpoch();
  void OnEpoch();
  EpochReport BuildEpoch(double gpsSeconds);
  std::vector<TrackedSatellite> SeeSky(double gpsSeconds);
  void Emit(const EpochReport& epoch);
  void Queue(const std::string& bytes);
  void Pump();
  bool ReaderPresent();
  void OnReadable();
  bool ReadInput();
  void Act(const ReceiverCommand& command);
  bool OpenPort(QString* error);
  void ClosePort();
  void Log(const char* direction, const std::string& text) const;
  void OnSimulationChange();

  SimulatorModel& model_;
  const VirtualReceiverOptions startOptions_;
  VirtualReceiverOptions options_;
  ReceiverFaults faults_;
  Pty pty_;
  ComLink link_;
  std::unique_ptr<QSocketNotifier> readNotifier_;
  QTimer epochTimer_;
  QTimer paceTimer_;
  std::string outQueue_;
  bool readerWasPresent_ = false;
  ReceiverInputParser parser_;
  int listenerId_ = 0;
  int startListenerId_ = 0;
  Clock::time_point start_ = Clock::now();

  // Navigation state.
  std::optional<double> acquisitionStart_;       // lab seconds since signals were seen
  ResetKind acquisitionKind_ = ResetKind::Cold;  // power-on: nothing known
  bool hadFix_ = false;
  bool wasRadiating_ = false;    // the simulator radiated at the last change
  bool noFixThisStart_ = false;  // FAULt:NOFix holds the running simulation
  bool gnssStopped_ = false;
  int lastFixMode_ = 1;
  unsigned systemsEnabled_ = kAllSystems;
  std::map<std::string, int> sentenceRates_;
  long long epochCount_ = 0;
  long long gsvTurn_ = 0;  // which GSV group leads when not all fit
  double lastEpochGps_ = -1.0;

  // Position error: a slowly wandering offset (east, north, up), metres.
  std::mt19937 random_{20261210u};
  double errorEast_ = 0.0, errorNorth_ = 0.0, errorUp_ = 0.0;
};

}  // namespace emu
