#include "VirtualReceiver.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/LocalCartesian.hpp>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "EmuModule.h"
#include "ScpiInstrument.h"
#include "SimulatorModel.h"
#include "TextFormat.h"

namespace emu {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;
constexpr double kKnotsPerMetreSecond = 3600.0 / 1852.0;
// Serial framing: 8N1 is ten bit times per byte.
constexpr int kBitsPerByte = 10;
// The pacing timer's period (real time): small enough that a reader sees a
// stream rather than bursts, large enough to cost nothing.
constexpr int kPaceMilliseconds = 20;
// Epochs of line time the output may lag behind: beyond this a new epoch is
// dropped whole, as a receiver's transmit buffer overflows, rather than
// reaching the reader seconds late.
constexpr std::size_t kQueuedEpochs = 2;
// One read from the pseudo-terminal, and the most reads of one wake-up (the
// rest waits for the next, so a flood cannot hold the event loop).
constexpr std::size_t kReadChunk = 4096;
constexpr int kReadsPerWake = 16;
// C/N0 of a satellite radiated at the reference power P: P + 174 dBm/Hz
// (thermal noise) less about 2 dB of receiver noise figure and losses.
constexpr double kCn0OverReferencePower = 172.0;
constexpr int kTrackCn0 = 15;  // weaker satellites are not tracked at all
constexpr int kUseCn0 = 20;    // weaker ones are tracked but not used
// Correlation time of the position error (simulated seconds).
constexpr double kErrorCorrelationSeconds = 10.0;
constexpr std::array<const char*, 5> kSentences = {"GGA", "GSA", "GSV", "RMC", "ZDA"};

// Receivers list GPS, then GLONASS, then Galileo.
bool ReportedBefore(GnssSystem a, GnssSystem b) { return Row(a).reportOrder < Row(b).reportOrder; }

// The systems of a receiver mask, in report order, separated by spaces.
std::string EnabledNames(unsigned mask) {
  std::array<GnssSystem, kGnssSystemCount> order{};
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = kGnssSystems[i].system;
  std::sort(order.begin(), order.end(), ReportedBefore);
  std::string names;
  for (GnssSystem s : order) {
    if ((mask & Row(s).receiverBit) == 0) continue;
    if (!names.empty()) names += ' ';
    names += Row(s).name;
  }
  return names;
}

// A fixed sky plot that turns slowly: azimuths spread by the golden angle so
// that any few satellites give a usable geometry, elevations between 15 and
// 85 degrees, both drifting over hours of simulated time. No ephemerides.
void SkyPosition(GnssSystem system, int svid, double gpsSeconds, int* elevation, int* azimuth) {
  constexpr double kGoldenAngle = 137.508;
  constexpr double kTurnSeconds = 12.0 * 3600.0;
  const int order = Row(system).reportOrder;
  const double phase = 2.0 * std::numbers::pi * std::fmod(gpsSeconds, kTurnSeconds) / kTurnSeconds;
  const double az = std::fmod(svid * kGoldenAngle + order * 40.0 + phase * kDegrees, 360.0);
  const double el0 = 15.0 + std::fmod(svid * 47.0 + order * 23.0, 70.0);
  const double el = std::clamp(el0 + 5.0 * std::sin(phase + svid), 5.0, 89.0);
  *elevation = static_cast<int>(std::lround(el));
  *azimuth = static_cast<int>(std::lround(az)) % 360;
}

// A smooth stand-in for the geoid undulation (metres). Consumers add the GGA
// separation back to the sea-level altitude, so only the sum has to be true;
// a non-zero value catches a consumer that forgets it.
double GeoidSeparation(double latitude, double longitude) {
  const double phi = latitude / kDegrees, lambda = longitude / kDegrees;
  return 30.0 * std::cos(phi) * std::sin(lambda + 0.5) + 15.0 * std::sin(2.0 * phi) - 5.0;
}

}  // namespace

VirtualReceiver::VirtualReceiver(SimulatorModel& model, VirtualReceiverOptions options)
    : model_(model), startOptions_(options), options_(std::move(options)) {
  RestoreDefaults();
  epochTimer_.setSingleShot(true);
  epochTimer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&epochTimer_, &QTimer::timeout, [this] { OnEpoch(); });
  paceTimer_.setInterval(kPaceMilliseconds);
  QObject::connect(&paceTimer_, &QTimer::timeout, [this] { Pump(); });
}

VirtualReceiver::~VirtualReceiver() {
  if (listenerId_ != 0) model_.Unsubscribe(listenerId_);
  if (startListenerId_ != 0) model_.Unsubscribe(startListenerId_);
  ClosePort();
}

bool VirtualReceiver::Start(QString* error) {
  if (!OpenPort(error)) return false;
  // A change of the simulation time moves the epoch boundaries.
  listenerId_ = model_.Subscribe([this] { ScheduleEpoch(); });
  startListenerId_ = model_.Subscribe([this] { OnSimulationChange(); });
  ScheduleEpoch();
  return true;
}

// A simulation starts when the simulator begins to radiate: the faults that
// count starts (one per test point) act here.
void VirtualReceiver::OnSimulationChange() {
  const bool radiating = model_.Radiating();
  const bool started = radiating && !wasRadiating_;
  wasRadiating_ = radiating;
  if (!started) return;
  noFixThisStart_ = faults_.noFixStarts > 0;
  if (noFixThisStart_) --faults_.noFixStarts;
  if (faults_.unplugAtStart) {
    faults_.unplugAtStart = false;
    faults_.unplugged = true;
    Plug(false);
  }
}

double VirtualReceiver::LabSeconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count() / model_.TimeScale();
}

bool VirtualReceiver::OpenPort(QString* error) {
  std::string message;
  if (!pty_.Open(&message)) {
    *error = QString::fromStdString(message);
    return false;
  }
  if (!link_.Place(options_.comDirectory, options_.comPort, pty_.SlavePath(), &message)) {
    pty_.Close();
    *error = QString::fromStdString(message);
    return false;
  }
  readNotifier_ = std::make_unique<QSocketNotifier>(pty_.MasterFd(), QSocketNotifier::Read);
  QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
  // Nobody has the slave open yet: the master would report a hang-up at once.
  readNotifier_->setEnabled(false);
  Log("--", "port " + link_.Path() + " -> " + pty_.SlavePath());
  return true;
}

void VirtualReceiver::ClosePort() {
  readNotifier_.reset();
  readerWasPresent_ = false;
  paceTimer_.stop();
  outQueue_.clear();
  link_.Remove();
  pty_.Close();
}

void VirtualReceiver::Plug(bool plugged) {
  faults_.unplugged = !plugged;
  if (plugged == pty_.IsOpen()) return;
  if (!plugged) {
    Log("--", "unplugged");
    ClosePort();
    return;
  }
  QString error;
  if (!OpenPort(&error)) Log("--", "cannot plug the port in again: " + error.toStdString());
}

bool ShareSelects(long long index, double percent) {
  if (!(percent > 0.0) || index < 0) return false;
  const auto share = [percent](long long n) {
    return static_cast<long long>(std::floor(static_cast<double>(n) * percent / 100.0));
  };
  return share(index + 1) > share(index);
}

void VirtualReceiver::ClearFaults() {
  faults_ = ReceiverFaults{};
  noFixThisStart_ = false;
  Plug(true);
}

void VirtualReceiver::RestoreDefaults() {
  for (const char* s : kSentences) sentenceRates_[s] = 1;
  systemsEnabled_ = kAllSystems;
}

void VirtualReceiver::ResetLab() {
  ClearFaults();
  options_ = startOptions_;
  RestoreDefaults();
}

void VirtualReceiver::Reset(ResetKind kind, const char* why) {
  // A hot start needs what an earlier fix left behind; without it the
  // receiver starts over the way it was already going to.
  if (kind != ResetKind::Hot || hadFix_) acquisitionKind_ = kind;
  // The clock starts now; an epoch without any satellite stops it again.
  acquisitionStart_ = LabSeconds();
  if (kind != ResetKind::Hot) hadFix_ = false;
  gnssStopped_ = false;
  errorEast_ = errorNorth_ = errorUp_ = 0.0;
  if (faults_.galileoSpreadOnce) {
    faults_.galileoSpreadDb = 0.0;
    faults_.galileoSpreadOnce = false;
  }
  static constexpr const char* kNames[] = {"hot", "warm", "cold"};
  Log("--", std::string(kNames[static_cast<int>(kind)]) + " start (" + why + ")");
}

double VirtualReceiver::RequiredTtff() const {
  switch (acquisitionKind_) {
    case ResetKind::Cold:
      return options_.coldTtffSeconds;
    // Ephemerides gone but time and position kept: a little quicker than cold.
    case ResetKind::Warm:
      return std::max(options_.hotTtffSeconds, 0.8 * options_.coldTtffSeconds);
    case ResetKind::Hot:
      return options_.hotTtffSeconds;
  }
  return options_.coldTtffSeconds;
}

void VirtualReceiver::ScheduleEpoch() {
  // Epochs fall on whole multiples of the epoch period of simulated time, so
  // a fix's UTC time names the instant whose truth it reports.
  const double gps = model_.GpsSecondsNow();
  const double rate = options_.rateHz;
  const double next = (std::floor(gps * rate) + 1.0) / rate;
  const double realSeconds = (next - gps) * model_.TimeScale();
  epochTimer_.start(std::max(1, static_cast<int>(std::ceil(realSeconds * 1000.0))));
}

void VirtualReceiver::OnEpoch() {
  const double rate = options_.rateHz;
  const double gps = std::round(model_.GpsSecondsNow() * rate) / rate;
  ScheduleEpoch();
  if (gps == lastEpochGps_) return;  // woken early; this epoch is done
  lastEpochGps_ = gps;
  const EpochReport epoch = BuildEpoch(gps);
  lastFixMode_ = epoch.fixMode;
  ++epochCount_;
  if (!pty_.IsOpen()) return;
  // What a reader wrote just before it closed the port still reaches the
  // receiver, as bytes on a wire do.
  ReadInput();
  // A reader that went away is not read from until one comes back; what a
  // receiver sends into a closed port is lost.
  if (!ReaderPresent()) return;
  readNotifier_->setEnabled(true);
  if (faults_.silent) return;
  // A receiver reports an instant a little after it: the bytes leave later,
  // the stamp stays the instant's.
  const double delay = options_.latencySeconds * model_.TimeScale();
  if (delay <= 0.0) {
    Emit(epoch);
    return;
  }
  QTimer::singleShot(static_cast<int>(std::lround(delay * 1000.0)), &epochTimer_, [this, epoch] {
    if (pty_.IsOpen() && !faults_.silent && ReaderPresent()) Emit(epoch);
  });
}

bool VirtualReceiver::ReaderPresent() {
  if (pty_.PeerOpen()) {
    readerWasPresent_ = true;
    return true;
  }
  readNotifier_->setEnabled(false);
  outQueue_.clear();
  if (std::exchange(readerWasPresent_, false)) pty_.DiscardUnread();
  return false;
}

std::vector<VirtualReceiver::TrackedSatellite> VirtualReceiver::SeeSky(double gpsSeconds) {
  std::vector<TrackedSatellite> seen;
  if (gnssStopped_ || !model_.Radiating()) return seen;
  const int baseCn0 =
      static_cast<int>(std::lround(model_.Settings().referencePowerDbm + kCn0OverReferencePower));
  std::uniform_int_distribution<int> jitter(0, 1);
  for (const RadiatedSatellite& r : model_.RadiatedSatellites()) {
    const GnssSystem system = r.system;
    if ((systemsEnabled_ & Row(system).receiverBit) == 0) continue;
    TrackedSatellite t{system, {}};
    t.view.prn = NmeaSatelliteNumber(system, r.svid);
    SkyPosition(system, r.svid, gpsSeconds, &t.view.elevation, &t.view.azimuth);
    // Up to 2 dB more towards the zenith and 1 dB of jitter: any two
    // satellites stay within 3 dB, as the simulator radiates them alike.
    const int cn0 = baseCn0 + static_cast<int>(std::lround(2.0 * (t.view.elevation - 5) / 84.0)) +
                    jitter(random_);
    t.view.cn0 = cn0 >= kTrackCn0 ? std::min(cn0, 99) : -1;
    seen.push_back(t);
  }
  std::stable_sort(seen.begin(), seen.end(),
                   [](const TrackedSatellite& a, const TrackedSatellite& b) {
                     return ReportedBefore(a.system, b.system);
                   });

  // Arranged Galileo inconsistency: the first Galileo satellite stands out.
  if (faults_.galileoSpreadDb > 0.0) {
    std::vector<SatelliteView*> galileo;
    for (auto& t : seen)
      if (t.system == GnssSystem::Galileo && t.view.cn0 >= kUseCn0) galileo.push_back(&t.view);
    if (galileo.size() >= 2) {
      int lowest = 99;
      for (std::size_t k = 1; k < galileo.size(); ++k) lowest = std::min(lowest, galileo[k]->cn0);
      galileo[0]->cn0 =
          std::min(99, lowest + static_cast<int>(std::lround(faults_.galileoSpreadDb)));
    }
  }
  return seen;
}

EpochReport VirtualReceiver::BuildEpoch(double gpsSeconds) {
  EpochReport e;
  const std::vector<TrackedSatellite> seen = SeeSky(gpsSeconds);
  const bool inSky = std::any_of(seen.begin(), seen.end(),
                                 [](const TrackedSatellite& t) { return t.view.cn0 >= 0; });
  const double now = LabSeconds();
  if (!inSky) {
    // Lost the sky: what was known makes the next acquisition a hot one.
    if (acquisitionStart_ && hadFix_) acquisitionKind_ = ResetKind::Hot;
    acquisitionStart_.reset();
  } else if (!acquisitionStart_) {
    acquisitionStart_ = now;
  }
  // An arranged loss takes this epoch's fix and nothing else.
  const bool acquired = inSky && now - *acquisitionStart_ >= RequiredTtff() &&
                        !ShareSelects(epochCount_, faults_.lossPercent);

  // Satellites in the solution: usable signal, minus those arranged unusable.
  std::vector<SatelliteView> used;
  int unusableLeft = faults_.unusable;
  // Degraded epochs are picked half a cycle after the lost ones.
  if (ShareSelects(epochCount_ + 5, faults_.degradedPercent))
    unusableLeft += faults_.degradedSatellites;
  std::vector<TrackedSatellite> views = seen;
  for (auto it = views.rbegin(); it != views.rend(); ++it) {
    if (!acquired || it->view.cn0 < kUseCn0) continue;
    if (unusableLeft > 0) {
      --unusableLeft;
      continue;
    }
    it->view.used = true;
  }
  for (const auto& t : views)
    if (t.view.used) used.push_back(t.view);
  // An arranged no-fix simulation: nothing goes into the solution.
  if (noFixThisStart_) {
    used.clear();
    for (auto& t : views) t.view.used = false;
  }
  const int usedCount = static_cast<int>(used.size());
  e.fixMode = usedCount >= 4 ? 3 : usedCount == 3 ? 2 : 1;
  if (e.fixMode >= 2) hadFix_ = true;

  // Systems reported: those radiated and enabled, even before tracking.
  std::vector<GnssSystem> systems;
  if (!gnssStopped_) {
    for (GnssSystem s : model_.RadiatedSystems()) {
      if ((systemsEnabled_ & Row(s).receiverBit) != 0) systems.push_back(s);
    }
  }
  std::sort(systems.begin(), systems.end(), ReportedBefore);
  for (GnssSystem s : systems) {
    SystemView v{s, {}};
    for (const auto& t : views)
      if (t.system == s) v.satellites.push_back(t.view);
    e.systems.push_back(std::move(v));
  }

  if (inSky) {
    const double dateShift = faults_.dateOffsetDays * 86400.0;
    const CalendarTime utc = SimulatorModel::GpsToUtcCalendar(gpsSeconds + dateShift);
    e.timeValid = true;
    e.year = utc.year;
    e.month = utc.month;
    e.day = utc.day;
    e.hour = utc.hour;
    e.minute = utc.minute;
    e.second = utc.second;
  }
  if (e.fixMode < 2) return e;

  const Dops dops = ComputeDops(used, e.fixMode == 3);
  e.pdop = dops.pdop;
  e.hdop = dops.hdop;
  e.vdop = dops.vdop;

  // Truth at the epoch's own instant, plus a wandering error bounded by the
  // noise setting horizontally and vertically.
  const GeoPosition truth = model_.ReceiverPositionAt(gpsSeconds);
  const double bound = std::max(0.0, options_.noiseMetres);
  const double a = std::exp(-1.0 / (options_.rateHz * kErrorCorrelationSeconds));
  const double sigma = bound / 2.0;
  std::normal_distribution<double> normal(0.0, 1.0);
  const double drive = std::sqrt(1.0 - a * a) * sigma;
  errorEast_ = a * errorEast_ + drive * normal(random_);
  errorNorth_ = a * errorNorth_ + drive * normal(random_);
  errorUp_ = a * errorUp_ + drive * normal(random_);
  const double horizontal = std::hypot(errorEast_, errorNorth_);
  if (horizontal > bound) {
    errorEast_ *= bound / horizontal;
    errorNorth_ *= bound / horizontal;
  }
  errorUp_ = std::clamp(errorUp_, -bound, bound);
  const GeographicLib::LocalCartesian local(truth.latitude, truth.longitude, truth.altitude);
  double lat = 0.0, lon = 0.0, h = 0.0;
  local.Reverse(errorEast_ + faults_.offsetEast, errorNorth_ + faults_.offsetNorth,
                errorUp_ + faults_.offsetUp, lat, lon, h);
  e.latitude = lat;
  e.longitude = lon;
  e.geoidSeparation = GeoidSeparation(lat, lon);
  e.altitudeMsl = h - e.geoidSeparation;

  // Speed and course over ground from the truth one second earlier.
  const GeoPosition before = model_.ReceiverPositionAt(gpsSeconds - 1.0);
  double distance = 0.0, azimuth1 = 0.0, azimuth2 = 0.0;
  GeographicLib::Geodesic::WGS84().Inverse(before.latitude, before.longitude, truth.latitude,
                                           truth.longitude, distance, azimuth1, azimuth2);
  if (distance > 0.05) {
    e.speedKnots = distance * kKnotsPerMetreSecond;
    e.courseDegrees = std::fmod(azimuth2 + 360.0, 360.0);
  }
  return e;
}

namespace {

// The sentences of a text, each with its CR LF, so that garbage can go
// between any two of them.
std::vector<std::string> SplitSentences(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    const std::size_t stop = end == std::string::npos ? text.size() : end + 2;
    out.push_back(text.substr(start, stop - start));
    start = stop;
  }
  return out;
}

}  // namespace

void VirtualReceiver::Emit(const EpochReport& epoch) {
  auto due = [&](const char* sentence) {
    const int rate = sentenceRates_[sentence];
    return rate > 0 && epochCount_ % rate == 0;
  };
  std::string head, tail;
  if (due("GGA")) head += FormatGga(epoch);
  if (due("GSA")) head += FormatGsa(epoch);
  if (!faults_.noDate) {
    if (due("RMC")) tail += FormatRmc(epoch);
    if (due("ZDA")) tail += FormatZda(epoch);
  }

  // What the line carries in one epoch. When not every system's GSV group
  // fits, the groups take turns, so that every epoch still reports some
  // satellites in view and each system comes round every few epochs.
  const std::size_t budget =
      static_cast<std::size_t>(options_.baud / kBitsPerByte / options_.rateHz);
  std::size_t used = head.size() + tail.size();
  std::string gsv;
  if (due("GSV")) {
    const std::vector<std::string> groups = FormatGsvGroups(epoch, faults_.gsvMessages);
    std::size_t all = 0;
    for (const auto& g : groups) all += g.size();
    if (used + all <= budget) {
      for (const auto& g : groups) gsv += g;
    } else {
      const std::size_t first =
          static_cast<std::size_t>(gsvTurn_++ % static_cast<long long>(groups.size()));
      std::vector<bool> take(groups.size(), false);
      for (std::size_t k = 0; k < groups.size(); ++k) {
        const std::size_t i = (first + k) % groups.size();
        if (used + groups[i].size() > budget) break;
        used += groups[i].size();
        take[i] = true;
      }
      for (std::size_t i = 0; i < groups.size(); ++i)
        if (take[i]) gsv += groups[i];  // in the usual system order
    }
  }
  const std::vector<std::string> sentences = SplitSentences(head + gsv + tail);

  std::string bytes;
  std::uniform_int_distribution<int> length(2, 12);
  std::uniform_int_distribution<int> value(0, 255);
  for (const auto& s : sentences) {
    bytes += s;
    if (!faults_.garbage) continue;
    for (int n = length(random_); n > 0; --n) {
      char c = static_cast<char>(value(random_));
      if (c == '$') c = '#';  // noise, not a false sentence start
      bytes.push_back(c);
    }
  }
  if (!outQueue_.empty() && outQueue_.size() + bytes.size() > kQueuedEpochs * budget) return;
  Queue(bytes);
}

void VirtualReceiver::Queue(const std::string& bytes) {
  outQueue_ += bytes;
  if (!paceTimer_.isActive()) {
    Pump();
    if (!outQueue_.empty()) paceTimer_.start();
  }
}

void VirtualReceiver::Pump() {
  // A reader that closed the port mid-epoch gets nothing more: the master
  // would still take the bytes, and the next reader would find them stale.
  if (outQueue_.empty() || !pty_.IsOpen() || !ReaderPresent()) {
    paceTimer_.stop();
    return;
  }
  // Bytes the line carries in one pacing period at the lab's pace.
  const double perSecond = static_cast<double>(options_.baud) / kBitsPerByte / model_.TimeScale();
  const std::size_t chunk = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::ceil(perSecond * kPaceMilliseconds / 1000.0)));
  const long n = pty_.Write(outQueue_.data(), std::min(chunk, outQueue_.size()));
  if (n < 0) {
    // The reader closed the port; the rest is lost like bytes on an open line.
    outQueue_.clear();
  } else {
    // A full input queue (n == 0) is an overrun at the reader: those bytes
    // are lost, and the stream goes on with the next ones.
    outQueue_.erase(0, n == 0 ? std::min(chunk, outQueue_.size()) : static_cast<std::size_t>(n));
  }
  if (outQueue_.empty()) paceTimer_.stop();
}

void VirtualReceiver::OnReadable() {
  if (ReadInput()) return;
  // The reader closed the slave (or the port failed): stop listening until
  // an epoch finds a reader again, or the hang-up would wake us without end.
  readNotifier_->setEnabled(false);
  ReaderPresent();
}

bool VirtualReceiver::ReadInput() {
  std::array<char, kReadChunk> buffer{};
  for (int k = 0; k < kReadsPerWake; ++k) {
    const long n = pty_.Read(buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) return true;
    const std::size_t size = static_cast<std::size_t>(n);
    Log("<-", Printable(buffer.data(), size));
    for (const ReceiverCommand& c : parser_.Feed(buffer.data(), size)) Act(c);
  }
  return true;
}

void VirtualReceiver::Act(const ReceiverCommand& c) {
  using Kind = ReceiverCommand::Kind;
  switch (c.kind) {
    case Kind::Reset:
      Reset(c.reset, c.text.c_str());
      break;
    case Kind::StopGnss:
      gnssStopped_ = true;
      Log("--", "GNSS stopped");
      break;
    case Kind::StartGnss:
      gnssStopped_ = false;
      Log("--", "GNSS started");
      break;
    case Kind::RestoreDefaults:
      RestoreDefaults();
      Log("--", "default configuration restored");
      break;
    case Kind::SentenceRate:
      if (sentenceRates_.count(c.sentence) != 0) {
        sentenceRates_[c.sentence] = std::clamp(c.rate, 0, 255);
        Log("--", c.sentence + " every " + std::to_string(c.rate) + " epoch(s)");
      }
      break;
    case Kind::EnableSystems:
      systemsEnabled_ = (systemsEnabled_ & ~c.systemsNamed) | c.systemMask;
      Log("--", "systems enabled: " + EnabledNames(systemsEnabled_));
      break;
    case Kind::BadChecksum:
      Log("--", "ignored, bad checksum: " + Printable(c.text.data(), c.text.size()));
      break;
    case Kind::OtherUbx:
    case Kind::OtherNmea:
      break;
  }
  if (c.wantsAck && !faults_.silent && pty_.IsOpen()) {
    Queue(UbxFrame(0x05, 0x01, {c.ubxClass, c.ubxId}));  // ACK-ACK
  }
}

void VirtualReceiver::Log(const char* direction, const std::string& text) const {
  if (!options_.log) return;
  std::printf("[COM%d] %s %s\n", options_.comPort, direction, text.c_str());
  std::fflush(stdout);
}

// ---- the qarn-emu module: options and EMULator:RECeiver: commands ----------

namespace {

class VirtualReceiverModule : public EmuModule {
 public:
  const char* Name() const override { return "receiver"; }

  void AddOptions(QCommandLineParser& parser) override {
    parser.addOption(
        {"com-dir", "Directory of the COM<n> links (default $GNSS_COM_DIR, else COM).", "dir"});
    parser.addOption({"com", "Number n of the receiver's link COM<n> (default 3).", "n", "3"});
    parser.addOption({"rate",
                      "Receiver epochs per second, 1 to 10 (default 1); above 1 Hz a full "
                      "epoch needs a faster line than 9600 baud (--baud).",
                      "hz", "1"});
    parser.addOption({"noise",
                      "Bound of the receiver's position error in metres, horizontal and "
                      "vertical (default 3).",
                      "m", "3"});
    parser.addOption(
        {"ttff", "Seconds from a cold start to the first fix (default 30).", "s", "30"});
    parser.addOption({"hot-ttff", "Seconds from a hot start to the fix (default 3).", "s", "3"});
    parser.addOption(
        {"baud", "Line speed the receiver's output is paced at (default 9600).", "bd", "9600"});
    parser.addOption({"latency",
                      "Seconds from the instant an epoch describes (its UTC stamp) to its "
                      "first byte on the port (default 0).",
                      "s", "0"});
  }

  void RegisterCommands(ScpiInstrument& instrument) override;

  bool Start(EmuContext& context, QString* error) override {
    const QCommandLineParser& p = context.options;
    VirtualReceiverOptions o;
    QString dir = p.value("com-dir");
    if (dir.isEmpty()) dir = qEnvironmentVariable("GNSS_COM_DIR");
    if (dir.isEmpty()) dir = "COM";
    o.comDirectory = QDir::cleanPath(QDir::current().absoluteFilePath(dir)).toStdString();
    bool ok = true;
    auto number = [&](const char* name, double low, double high) {
      bool good = false;
      const double v = p.value(name).toDouble(&good);
      if (!good || v < low || v > high) {
        if (ok) *error = QString("invalid --%1 '%2'").arg(name, p.value(name));
        ok = false;
      }
      return v;
    };
    o.comPort = static_cast<int>(number("com", 1, 255));
    o.rateHz = static_cast<int>(number("rate", 1, 10));
    o.noiseMetres = number("noise", 0, 100000);
    o.coldTtffSeconds = number("ttff", 0, 86400);
    o.hotTtffSeconds = number("hot-ttff", 0, 86400);
    o.baud = static_cast<int>(number("baud", 300, 4000000));
    o.latencySeconds = number("latency", 0, 60);
    o.log = context.logTranscript;
    if (!ok) return false;
    receiver_ = std::make_unique<VirtualReceiver>(context.model, o);
    return receiver_->Start(error);
  }

 private:
  // Runs a handler against the receiver; before Start there is none.
  template <typename F>
  ScpiHandler With(F f) {
    return [this, f](ScpiCall& c) {
      if (receiver_) f(c, *receiver_);
    };
  }

  std::unique_ptr<VirtualReceiver> receiver_;
};

void VirtualReceiverModule::RegisterCommands(ScpiInstrument& instrument) {
  ScpiCommandTable& t = instrument.Commands();
  instrument.AddLabResetHook([this] {
    if (receiver_) receiver_->ResetLab();
  });
  using R = VirtualReceiver;

  auto flag = [&](const char* pattern, bool ReceiverFaults::*member,
                  std::function<void(R&, bool)> after) {
    t.Add(pattern, With([member, after](ScpiCall& c, R& r) {
            if (auto on = c.Boolean(0)) {
              r.Faults().*member = *on;
              if (after) after(r, *on);
            }
          }));
    t.Add(std::string(pattern) + "?",
          With([member](ScpiCall& c, R& r) { c.Reply(r.Faults().*member ? "1" : "0"); }));
  };
  auto integer = [&](const char* pattern, long low, long high, std::function<void(R&, long)> set,
                     std::function<long(R&)> get) {
    t.Add(pattern, With([low, high, set](ScpiCall& c, R& r) {
            if (auto v = c.IntegerIn(0, low, high)) set(r, *v);
          }));
    t.Add(std::string(pattern) + "?",
          With([get](ScpiCall& c, R& r) { c.Reply(std::to_string(get(r))); }));
  };
  auto real = [&](const char* pattern, double low, double high,
                  double VirtualReceiverOptions::*member) {
    t.Add(pattern, With([low, high, member](ScpiCall& c, R& r) {
            if (auto v = c.NumberIn(0, low, high)) r.Options().*member = *v;
          }));
    t.Add(std::string(pattern) + "?",
          With([member](ScpiCall& c, R& r) { c.Reply(Format("%g", r.Options().*member)); }));
  };

  // Where the port is, and what the receiver reports now.
  t.Add("EMULator:RECeiver:PORT?",
        With([](ScpiCall& c, R& r) { c.Reply("\"" + r.SlavePath() + "\""); }));
  t.Add("EMULator:RECeiver:LINK?",
        With([](ScpiCall& c, R& r) { c.Reply("\"" + r.LinkPath() + "\""); }));
  t.Add("EMULator:RECeiver:FIX?",
        With([](ScpiCall& c, R& r) { c.Reply(std::to_string(r.LastFixMode())); }));
  // Restarts as the receiver's own commands make them.
  t.Add("EMULator:RECeiver:COLD",
        With([](ScpiCall&, R& r) { r.Reset(ResetKind::Cold, "EMULator"); }));
  t.Add("EMULator:RECeiver:WARM",
        With([](ScpiCall&, R& r) { r.Reset(ResetKind::Warm, "EMULator"); }));
  t.Add("EMULator:RECeiver:HOT",
        With([](ScpiCall&, R& r) { r.Reset(ResetKind::Hot, "EMULator"); }));
  // Settings that the command line gives, changeable at run time.
  real("EMULator:RECeiver:TTFF[:COLD]", 0, 86400, &VirtualReceiverOptions::coldTtffSeconds);
  real("EMULator:RECeiver:TTFF:HOT", 0, 86400, &VirtualReceiverOptions::hotTtffSeconds);
  real("EMULator:RECeiver:NOISe", 0, 100000, &VirtualReceiverOptions::noiseMetres);
  real("EMULator:RECeiver:LATency", 0, 60, &VirtualReceiverOptions::latencySeconds);
  integer(
      "EMULator:RECeiver:RATE", 1, 10,
      [](R& r, long v) { r.Options().rateHz = static_cast<int>(v); },
      [](R& r) { return static_cast<long>(r.Options().rateHz); });

  // Faults.
  flag("EMULator:RECeiver:FAULt:NODate", &ReceiverFaults::noDate, nullptr);
  flag("EMULator:RECeiver:FAULt:GARBage", &ReceiverFaults::garbage, nullptr);
  flag("EMULator:RECeiver:FAULt:SILent", &ReceiverFaults::silent, nullptr);
  flag("EMULator:RECeiver:FAULt:UNPLug", &ReceiverFaults::unplugged,
       [](R& r, bool on) { r.Plug(!on); });
  flag("EMULator:RECeiver:FAULt:UNPLug:STARt", &ReceiverFaults::unplugAtStart, nullptr);
  integer(
      "EMULator:RECeiver:FAULt:NOFix", 0, 1000000,
      [](R& r, long v) { r.Faults().noFixStarts = static_cast<int>(v); },
      [](R& r) { return static_cast<long>(r.Faults().noFixStarts); });
  // GALSpread <dB>[,ONCE]: the used Galileo satellites' C/N0 differ by this
  // much; with ONCE only until the receiver's next restart.
  t.Add("EMULator:RECeiver:FAULt:GALSpread", With([](ScpiCall& c, R& r) {
          auto db = c.Number(0);
          if (!db || !c.AtMost(2) || !c.InRange(*db, 0.0, 60.0)) return;
          bool once = false;
          if (c.ParamCount() == 2) {
            auto word = c.Keyword(1);
            if (!word) return;
            if (*word != "ONCE") {
              c.Error(scpi_error::kIllegalParameterValue, "Illegal parameter value");
              return;
            }
            once = true;
          }
          r.Faults().galileoSpreadDb = *db;
          r.Faults().galileoSpreadOnce = once;
        }));
  t.Add("EMULator:RECeiver:FAULt:GALSpread?",
        With([](ScpiCall& c, R& r) { c.Reply(Format("%g", r.Faults().galileoSpreadDb)); }));
  integer(
      "EMULator:RECeiver:FAULt:UNUSable", 0, kSlotCapacity,
      [](R& r, long v) { r.Faults().unusable = static_cast<int>(v); },
      [](R& r) { return static_cast<long>(r.Faults().unusable); });
  integer(
      "EMULator:RECeiver:FAULt:DATE", -100000, 100000,
      [](R& r, long v) { r.Faults().dateOffsetDays = static_cast<int>(v); },
      [](R& r) { return static_cast<long>(r.Faults().dateOffsetDays); });
  integer(
      "EMULator:RECeiver:FAULt:GSVLength", 0, 99,
      [](R& r, long v) { r.Faults().gsvMessages = static_cast<int>(v); },
      [](R& r) { return static_cast<long>(r.Faults().gsvMessages); });
  // During a drive: lost fixes, degraded fixes, a steady position error.
  t.Add("EMULator:RECeiver:FAULt:LOSS", With([](ScpiCall& c, R& r) {
          if (auto v = c.NumberIn(0, 0.0, 100.0)) r.Faults().lossPercent = *v;
        }));
  t.Add("EMULator:RECeiver:FAULt:LOSS?",
        With([](ScpiCall& c, R& r) { c.Reply(Format("%g", r.Faults().lossPercent)); }));
  t.Add("EMULator:RECeiver:FAULt:DEGRade", With([](ScpiCall& c, R& r) {
          if (!c.AtMost(2)) return;
          auto percent = c.NumberIn(0, 0.0, 100.0);
          if (!percent) return;
          long satellites = 2;
          if (c.ParamCount() == 2) {
            auto n = c.IntegerIn(1, 1, kSlotCapacity);
            if (!n) return;
            satellites = *n;
          }
          r.Faults().degradedPercent = *percent;
          r.Faults().degradedSatellites = static_cast<int>(satellites);
        }));
  t.Add("EMULator:RECeiver:FAULt:DEGRade?", With([](ScpiCall& c, R& r) {
          c.Reply(Format("%g,%d", r.Faults().degradedPercent, r.Faults().degradedSatellites));
        }));
  t.Add("EMULator:RECeiver:FAULt:OFFSet", With([](ScpiCall& c, R& r) {
          if (!c.AtMost(3)) return;
          double metres[3] = {0, 0, 0};
          for (std::size_t i = 0; i < 3; ++i) {
            if (i == 2 && c.ParamCount() < 3) break;
            auto v = c.NumberIn(i, -100000.0, 100000.0);
            if (!v) return;
            metres[i] = *v;
          }
          r.Faults().offsetEast = metres[0];
          r.Faults().offsetNorth = metres[1];
          r.Faults().offsetUp = metres[2];
        }));
  t.Add("EMULator:RECeiver:FAULt:OFFSet?", With([](ScpiCall& c, R& r) {
          const ReceiverFaults& f = r.Faults();
          c.Reply(Format("%g,%g,%g", f.offsetEast, f.offsetNorth, f.offsetUp));
        }));
  t.Add("EMULator:RECeiver:FAULt:CLEar", With([](ScpiCall&, R& r) { r.ClearFaults(); }));
}

}  // namespace

QARN_EMU_MODULE(VirtualReceiverModule)

}  // namespace emu
