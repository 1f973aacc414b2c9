// The virtual receiver seen from its port, as a station sees it: qarn-emu at a
// small time scale, a scenario set up over SCPI, the NMEA read from the COM
// link. Truth is the emulator's own location answer; expectations about the
// stream come from NMEA 0183 and from what the station relies on.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "vreceiver_lab.h"

namespace {

using vrx::Epoch;
using vrx::Sentence;

constexpr double kNoise = 5.0;
constexpr double kColdTtff = 20.0;
constexpr double kHotTtff = 3.0;
constexpr int kGps = 6, kGalileo = 4, kGlonass = 3;
constexpr double kLon = 11.5, kLat = 48.1, kAlt = 520.0;
// Wall-clock bound of every wait for the receiver (the lab runs 20x).
constexpr double kWaitSeconds = 15.0;

class ReceiverTest : public testing::Test {
 protected:
  void SetUp() override {
    lab_ = std::make_unique<vrx::Lab>();
    const std::vector<std::string> args{"--ttff",     std::to_string(kColdTtff),
                                        "--hot-ttff", std::to_string(kHotTtff),
                                        "--noise",    std::to_string(kNoise)};
    std::string error;
    ASSERT_TRUE(lab_->Start(args, "0.05", &error)) << error;
    lab_->Scenario(kGps, kGalileo, kGlonass, kLon, kLat, kAlt);
    port_ = std::make_unique<vrx::PortReader>(lab_->Link());
    ASSERT_TRUE(port_->IsOpen()) << lab_->Link();
  }

  // Reads epochs until one has a fix; false when none came in time.
  // Waits for an epoch with a fix; `fixTime` gets its UTC second.
  bool WaitForFix(double* fixTime = nullptr) {
    const auto end = vrx::Clock::now() + std::chrono::duration<double>(kWaitSeconds);
    while (vrx::Clock::now() < end) {
      for (const Epoch& e : port_->Epochs(1, 1.0)) {
        if (e.Quality() >= 1) {
          if (fixTime) *fixTime = e.Time();
          return true;
        }
      }
    }
    return false;
  }

  // Epochs that left the emulator after everything sent so far took effect.
  // Up to two epochs may wait in the emulator's line queue and more in the
  // port: those are drained, and two more skipped in case the lab is slow.
  std::vector<Epoch> Fresh(size_t count) {
    port_->Drain(0.15);
    std::vector<Epoch> epochs = port_->Epochs(count + 2, kWaitSeconds);
    epochs.erase(epochs.begin(), epochs.begin() + std::min<size_t>(2, epochs.size()));
    return epochs;
  }

  std::unique_ptr<vrx::Lab> lab_;
  std::unique_ptr<vrx::PortReader> port_;
};

std::map<std::string, int> InViewByTalker(const Epoch& e) {
  std::map<std::string, int> n;
  for (const Sentence* s : e.Of("GSV")) n[s->talker] = std::atoi(s->fields[2].c_str());
  return n;
}

// (prn, C/N0) of every satellite of the epoch's GSV groups; C/N0 -1 when empty.
std::vector<std::pair<int, int>> Satellites(const Epoch& e) {
  std::vector<std::pair<int, int>> out;
  for (const Sentence* s : e.Of("GSV")) {
    const auto& f = s->fields;
    const int here = std::clamp(std::atoi(f[2].c_str()) - 4 * (std::atoi(f[1].c_str()) - 1), 0, 4);
    for (int k = 0; k < here && 6 + 4 * static_cast<size_t>(k) < f.size(); ++k) {
      const size_t at = 3 + 4 * static_cast<size_t>(k);
      out.emplace_back(std::atoi(f[at].c_str()),
                       f[at + 3].empty() ? -1 : std::atoi(f[at + 3].c_str()));
    }
  }
  return out;
}

std::vector<int> UsedPrns(const Epoch& e) {
  std::vector<int> out;
  for (const Sentence* s : e.Of("GSA"))
    for (size_t f = 2; f < 14 && f < s->fields.size(); ++f)
      if (!s->fields[f].empty()) out.push_back(std::atoi(s->fields[f].c_str()));
  return out;
}

int GsaMode(const Epoch& e) { return std::atoi(e.Of("GSA").at(0)->fields[1].c_str()); }

long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

long ZdaDay(const Epoch& e) {
  const auto zda = e.Of("ZDA");
  if (zda.empty()) return 0;
  const auto& f = zda[0]->fields;
  return DaysFromCivil(std::atoi(f[3].c_str()), std::atoi(f[2].c_str()), std::atoi(f[1].c_str()));
}

TEST_F(ReceiverTest, FixedReceiverStream) {
  ASSERT_TRUE(WaitForFix());
  const vrx::Truth truth = lab_->Location();
  ASSERT_NEAR(truth.latitude, kLat, 1e-6);
  const std::vector<Epoch> epochs = Fresh(8);
  ASSERT_EQ(epochs.size(), 8u);
  EXPECT_EQ(port_->badLines, 0u);
  EXPECT_EQ(port_->noiseBytes, 0u);

  for (size_t i = 0; i < epochs.size(); ++i) {
    SCOPED_TRACE("epoch " + std::to_string(i));
    const Epoch& e = epochs[i];
    std::vector<std::string> order;
    for (const Sentence& s : e.sentences)
      if (order.empty() || order.back() != s.type) order.push_back(s.type);
    EXPECT_EQ(order, (std::vector<std::string>{"GGA", "GSA", "GSV", "RMC", "ZDA"}));
    // Several systems: the solution and the GSA chain speak as GN, the
    // satellites in view per system.
    for (const char* type : {"GGA", "GSA", "RMC", "ZDA"})
      for (const Sentence* s : e.Of(type)) EXPECT_EQ(s->talker, "GN") << s->text;
    EXPECT_EQ(e.Of("GSA").size(), 3u);
    EXPECT_EQ(InViewByTalker(e),
              (std::map<std::string, int>{{"GP", kGps}, {"GL", kGlonass}, {"GA", kGalileo}}));
    EXPECT_LE(e.bytes, 960u) << "an epoch must fit one second of 9600 baud";

    // Satellite numbers: GPS 1-32, GLONASS 65-96, Galileo 211-246; all used.
    const auto sats = Satellites(e);
    ASSERT_EQ(sats.size(), static_cast<size_t>(kGps + kGalileo + kGlonass));
    std::vector<int> galileoCn0;
    for (const auto& [prn, cn0] : sats) {
      EXPECT_TRUE((prn >= 1 && prn <= 32) || (prn >= 65 && prn <= 96) || (prn >= 211 && prn <= 246))
          << prn;
      EXPECT_GE(cn0, 20) << prn;
      if (prn > 203) galileoCn0.push_back(cn0);
    }
    ASSERT_EQ(galileoCn0.size(), static_cast<size_t>(kGalileo));
    // A station hot-starts a receiver whose Galileo C/N0 differ by 4 dB.
    EXPECT_LT(*std::max_element(galileoCn0.begin(), galileoCn0.end()) -
                  *std::min_element(galileoCn0.begin(), galileoCn0.end()),
              4);
    std::vector<int> used = UsedPrns(e), inView;
    for (const auto& sat : sats) inView.push_back(sat.first);
    std::sort(used.begin(), used.end());
    std::sort(inView.begin(), inView.end());
    EXPECT_EQ(used, inView);
    EXPECT_EQ(GsaMode(e), 3);
    EXPECT_EQ(std::atoi(e.Gga().fields[6].c_str()), kGps + kGalileo + kGlonass);

    // Position within the noise bound of the truth: horizontally and
    // vertically (altitude = sea level + geoid separation, as GGA defines).
    const auto& g = e.Gga().fields;
    const double lat = vrx::Degrees(g[1], g[2], 2), lon = vrx::Degrees(g[3], g[4], 3);
    const double alt = std::atof(g[8].c_str()) + std::atof(g[10].c_str());
    double distance = 0;
    GeographicLib::Geodesic::WGS84().Inverse(truth.latitude, truth.longitude, lat, lon, distance);
    EXPECT_LE(distance, kNoise + 0.05);
    EXPECT_LE(std::fabs(alt - truth.altitude), kNoise + 0.15);

    // One epoch a second, RMC and ZDA agreeing with GGA on the time.
    if (i > 0) EXPECT_NEAR(e.Time() - epochs[i - 1].Time(), 1.0, 1e-6);
    const auto& rmc = e.Of("RMC").at(0)->fields;
    const auto& zda = e.Of("ZDA").at(0)->fields;
    EXPECT_EQ(rmc[0], g[0]);
    EXPECT_EQ(zda[0], g[0]);
    EXPECT_EQ(rmc[1], "A");
    EXPECT_EQ(rmc[8], zda[1] + zda[2] + zda[3].substr(2));
  }
}

// Time to first fix: the restart drops the fix at once, and it comes back
// after about the configured time (in the receiver's own time stamps, from
// the first epoch after the restart), not before.
struct StartCase {
  const char* name;
  std::string bytes;
  double ttff;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class StartTest : public ReceiverTest, public testing::WithParamInterface<StartCase> {};

TEST_P(StartTest, NoFixBeforeTheTimeToFirstFix) {
  double lastFixBefore = -1;
  ASSERT_TRUE(WaitForFix(&lastFixBefore));
  port_->Write(GetParam().bytes);
  // The restart fell after the last fix seen before it and no later than the
  // first epoch without a fix. A busy machine may make the lab drop whole
  // epochs, so each bound uses the side of that interval it can rely on.
  double restarted = -1, firstFix = -1;
  const auto end = vrx::Clock::now() + std::chrono::duration<double>(kWaitSeconds);
  while (firstFix < 0 && vrx::Clock::now() < end) {
    for (const Epoch& e : port_->Epochs(1, 1.0)) {
      if (e.Quality() == 0) {
        if (restarted < 0) restarted = e.Time();
        EXPECT_EQ(GsaMode(e), 1);
        EXPECT_EQ(e.Of("RMC").at(0)->fields[1], "V");
      } else if (restarted >= 0) {
        firstFix = e.Time();
      } else {
        lastFixBefore = e.Time();  // sent before the command took effect
      }
    }
  }
  ASSERT_GE(restarted, 0) << "the fix never went";
  ASSERT_GE(firstFix, 0) << "no fix after the restart";
  EXPECT_GE(firstFix - lastFixBefore, GetParam().ttff - 1.0);
  // Loose above: a busy machine may delay the lab, never hasten it.
  EXPECT_LE(firstFix - restarted, GetParam().ttff + 8.0);
}

INSTANTIATE_TEST_SUITE_P(
    Restarts, StartTest,
    testing::Values(
        StartCase{
            "ubx_cold",
            vrx::HexBytes("0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0xFF, 0x07, 0x02, 0x00, 0x16, 0x79"),
            kColdTtff},
        StartCase{"nmea_cold", "$PORST,F*20\r\n", kColdTtff},
        // A hot start with nothing known yet is no quicker than the cold one.
        StartCase{"cold_then_hot",
                  "$PORST,F*20\r\n" + vrx::HexBytes("0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, "
                                                    "0x00, 0x00, 0x02, 0x00, 0x10, 0x68"),
                  kColdTtff},
        StartCase{
            "ubx_hot",
            vrx::HexBytes("0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00, 0x02, 0x00, 0x10, 0x68"),
            kHotTtff}),
    [](const auto& info) { return std::string(info.param.name); });

// No fix without a usable signal; the fix comes back when the signal does.
struct SignalCase {
  const char* name;
  std::string off;
  std::string on;
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class SignalTest : public ReceiverTest, public testing::WithParamInterface<SignalCase> {};

TEST_P(SignalTest, NoFixWithoutSignal) {
  ASSERT_TRUE(WaitForFix());
  lab_->scpi->Run({GetParam().off});
  const std::vector<Epoch> epochs = Fresh(5);
  ASSERT_EQ(epochs.size(), 5u);
  for (const Epoch& e : epochs) {
    EXPECT_EQ(e.Quality(), 0) << e.Gga().text;
    EXPECT_EQ(GsaMode(e), 1);
    EXPECT_TRUE(UsedPrns(e).empty());
  }
  lab_->scpi->Run({GetParam().on});
  EXPECT_TRUE(WaitForFix());
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalTest,
                         testing::Values(SignalCase{"rf_off", "OUTP:STAT OFF", "OUTP:STAT ON"},
                                         SignalCase{"baseband_off", "SOUR:BB:GPS:STAT OFF",
                                                    "SOUR:BB:GPS:STAT ON;:SOUR:BB:GPS:TRIG:EXEC"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceiverTest, CarrierToNoiseFollowsTheReferencePower) {
  ASSERT_TRUE(WaitForFix());
  auto mean = [](const std::vector<Epoch>& epochs) {
    double sum = 0;
    int n = 0;
    for (const Epoch& e : epochs)
      for (const auto& sat : Satellites(e)) {
        sum += sat.second;
        ++n;
      }
    return n ? sum / n : 0.0;
  };
  const double strong = mean(Fresh(4));
  lab_->scpi->Run({"SOUR:BB:GPS:POWER:REF -130"});
  const double weaker = mean(Fresh(4));
  EXPECT_NEAR(strong - weaker, 10.0, 1.0);
}

// A receiver on a route reports, for each epoch, where the simulator says it
// was at that epoch's own UTC second (what the moving test pairs it with),
// and the route's speed and course in RMC.
TEST_F(ReceiverTest, MovingReceiverMatchesTheRouteAtEachEpoch) {
  ASSERT_TRUE(WaitForFix());
  // Six waypoints 0.004 degrees of longitude apart, ten seconds each: due
  // east at about 29.8 m/s.
  vrx::fs::create_directories(lab_->Dir() + "/qarn-storage");
  {
    std::FILE* f = std::fopen((lab_->Dir() + "/qarn-storage/east.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "# due east along 48.1 N\nRESOLUTION: 10\n");
    for (int k = 0; k < 6; ++k) std::fprintf(f, "%.3f,%.4f,%.1f\n", kLon + 0.004 * k, kLat, kAlt);
    std::fclose(f);
  }
  lab_->scpi->Run({"SOUR:BB:GPS:LOC:SEL \"Waypoints\"", "SOUR:BB:GPS:LOC:WAYP:FILE \"east.txt\"",
                   "SOUR:BB:GPS:TRIG:EXEC"});
  ASSERT_EQ(lab_->scpi->Query("SYST:ERR?"), "0,\"No error\"");
  double metresPerSecond = 0;
  GeographicLib::Geodesic::WGS84().Inverse(kLat, kLon, kLat, kLon + 0.004, metresPerSecond);
  metresPerSecond /= 10.0;

  int checked = 0;
  for (const Epoch& e : Fresh(6)) {
    if (e.Quality() < 1 || e.Of("ZDA").empty()) continue;
    const auto& g = e.Gga().fields;
    const auto& z = e.Of("ZDA")[0]->fields;
    const std::string when = "UTC," + z[3] + "," + z[2] + "," + z[1] + "," + g[0].substr(0, 2) +
                             "," + g[0].substr(2, 2) + "," + g[0].substr(4);
    const vrx::Truth truth =
        vrx::ParseLocation(lab_->scpi->Query("SOUR:BB:GPS:RT:RLOC:COOR:DEC? " + when));
    double distance = 0;
    GeographicLib::Geodesic::WGS84().Inverse(truth.latitude, truth.longitude,
                                             vrx::Degrees(g[1], g[2], 2),
                                             vrx::Degrees(g[3], g[4], 3), distance);
    EXPECT_LE(distance, kNoise + 0.05) << e.Gga().text;
    const auto& rmc = e.Of("RMC").at(0)->fields;
    EXPECT_NEAR(std::atof(rmc[6].c_str()) * 1852.0 / 3600.0, metresPerSecond, 0.5) << rmc[6];
    EXPECT_NEAR(std::atof(rmc[7].c_str()), 90.0, 1.0) << rmc[7];
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

// Faults arranged over SCPI, each checked on the epochs that follow it.
struct FaultCase {
  const char* name;
  std::string command;
  std::function<void(const std::vector<Epoch>& before, const std::vector<Epoch>& after,
                     const vrx::PortReader& port)>
      check;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultTest : public ReceiverTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, AppearsInTheStream) {
  ASSERT_TRUE(WaitForFix());
  const std::vector<Epoch> before = Fresh(2);
  ASSERT_EQ(before.size(), 2u);
  lab_->scpi->Run({GetParam().command});
  EXPECT_EQ(lab_->scpi->Query("SYST:ERR?"), "0,\"No error\"");
  const std::vector<Epoch> after = Fresh(4);
  ASSERT_EQ(after.size(), 4u);
  GetParam().check(before, after, *port_);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    testing::Values(
        FaultCase{"no_date", "EMULator:RECeiver:FAULt:NODate ON",
                  [](const auto&, const auto& after, const auto&) {
                    for (const Epoch& e : after) {
                      EXPECT_TRUE(e.Of("ZDA").empty());
                      EXPECT_TRUE(e.Of("RMC").empty());
                      EXPECT_EQ(e.Quality(), 1);
                    }
                  }},
        FaultCase{"garbage", "EMUL:REC:FAUL:GARB ON",
                  [](const auto&, const auto& after, const auto& port) {
                    EXPECT_GT(port.noiseBytes, 0u);
                    EXPECT_EQ(port.badLines, 0u);  // the sentences themselves stay intact
                    for (const Epoch& e : after) EXPECT_EQ(e.Of("ZDA").size(), 1u);
                  }},
        FaultCase{"galileo_spread", "EMUL:REC:FAUL:GALS 6",
                  [](const auto&, const auto& after, const auto&) {
                    for (const Epoch& e : after) {
                      std::vector<int> cn0;
                      for (const auto& [prn, c] : Satellites(e))
                        if (prn > 203) cn0.push_back(c);
                      ASSERT_EQ(cn0.size(), static_cast<size_t>(kGalileo));
                      EXPECT_GE(*std::max_element(cn0.begin(), cn0.end()) -
                                    *std::min_element(cn0.begin(), cn0.end()),
                                6);
                    }
                  }},
        FaultCase{
            "three_unusable", "EMUL:REC:FAUL:UNUS 3",
            [](const auto&, const auto& after, const auto&) {
              for (const Epoch& e : after) {
                EXPECT_EQ(UsedPrns(e).size(), static_cast<size_t>(kGps + kGalileo + kGlonass - 3));
                EXPECT_EQ(std::atoi(e.Gga().fields[6].c_str()), kGps + kGalileo + kGlonass - 3);
                EXPECT_EQ(GsaMode(e), 3);
              }
            }},
        FaultCase{"three_usable_is_2d",
                  "EMUL:REC:FAUL:UNUS " + std::to_string(kGps + kGalileo + kGlonass - 3),
                  [](const auto&, const auto& after, const auto&) {
                    for (const Epoch& e : after) {
                      EXPECT_EQ(UsedPrns(e).size(), 3u);
                      EXPECT_EQ(GsaMode(e), 2);
                      EXPECT_EQ(e.Quality(), 1);
                    }
                  }},
        FaultCase{"two_usable_no_fix",
                  "EMUL:REC:FAUL:UNUS " + std::to_string(kGps + kGalileo + kGlonass - 2),
                  [](const auto&, const auto& after, const auto&) {
                    for (const Epoch& e : after) {
                      EXPECT_EQ(GsaMode(e), 1);
                      EXPECT_EQ(e.Quality(), 0);
                    }
                  }},
        // Shares of the epochs, spread evenly: every other one here.
        FaultCase{"half_the_fixes_lost", "EMUL:REC:FAUL:LOSS 50",
                  [](const auto&, const auto& after, const auto&) {
                    int lost = 0;
                    for (size_t i = 0; i < after.size(); ++i) {
                      lost += after[i].Quality() == 0;
                      if (i > 0) EXPECT_NE(after[i].Quality() == 0, after[i - 1].Quality() == 0);
                    }
                    EXPECT_EQ(lost, 2);
                  }},
        FaultCase{"half_the_fixes_degraded", "EMUL:REC:FAUL:DEGR 50,2",
                  [](const auto&, const auto& after, const auto&) {
                    int degraded = 0;
                    for (const Epoch& e : after) {
                      const size_t used = UsedPrns(e).size();
                      EXPECT_TRUE(used == kGps + kGalileo + kGlonass ||
                                  used == kGps + kGalileo + kGlonass - 2)
                          << used;
                      degraded += used == kGps + kGalileo + kGlonass - 2;
                      EXPECT_EQ(GsaMode(e), 3);
                    }
                    EXPECT_EQ(degraded, 2);
                  }},
        FaultCase{"hundred_metres_north", "EMUL:REC:FAUL:OFFS 0,100",
                  [](const auto&, const auto& after, const auto&) {
                    for (const Epoch& e : after) {
                      const auto& g = e.Gga().fields;
                      const double north = (vrx::Degrees(g[1], g[2], 2) - kLat) * 111195.0;
                      EXPECT_NEAR(north, 100.0, kNoise + 1.0) << e.Gga().text;
                    }
                  }},
        FaultCase{"date_1024_weeks_back", "EMUL:REC:FAUL:DATE -7168",
                  [](const auto& before, const auto& after, const auto&) {
                    const long today = ZdaDay(before.back());
                    for (const Epoch& e : after) {
                      const long day = ZdaDay(e);
                      EXPECT_TRUE(day == today - 7168 || day == today + 1 - 7168) << day;
                      const auto& rmcDate = e.Of("RMC").at(0)->fields[8];
                      const auto& z = e.Of("ZDA").at(0)->fields;
                      EXPECT_EQ(rmcDate, z[1] + z[2] + z[3].substr(2));
                    }
                  }},
        FaultCase{
            "gsv_groups_of_12", "EMUL:REC:FAUL:GSVL 12",
            [](const auto&, const auto& after, const auto&) {
              for (const Epoch& e : after) {
                std::map<std::string, std::vector<int>> numbers;
                for (const Sentence* s : e.Of("GSV")) {
                  if (s->talker == "GP") EXPECT_EQ(s->fields[0], "12");
                  numbers[s->talker].push_back(std::atoi(s->fields[1].c_str()));
                }
                // The first group, and it alone: all of them would not fit the line.
                EXPECT_EQ(numbers["GP"], (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
                EXPECT_EQ(numbers["GL"], (std::vector<int>{1}));
                EXPECT_EQ(
                    InViewByTalker(e),
                    (std::map<std::string, int>{{"GP", kGps}, {"GL", kGlonass}, {"GA", kGalileo}}));
              }
            }}),
    [](const auto& info) { return std::string(info.param.name); });

// An epoch leaves the receiver the set latency after the instant it
// describes and keeps that instant's stamp: after the setting nothing
// arrives for that long, then the epochs go on in order.
TEST_F(ReceiverTest, LatencyDelaysEpochsAndKeepsTheirInstants) {
  ASSERT_TRUE(WaitForFix());
  lab_->scpi->Run({"EMUL:REC:LAT 20"});  // 1 s at this scale
  EXPECT_EQ(lab_->scpi->Query("EMUL:REC:LAT?"), "20");
  port_->Drain(0.1);  // the epoch on the line when the setting came
  EXPECT_EQ(port_->ReadFor(0.3).find("GGA"), std::string::npos);
  const std::vector<Epoch> later = port_->Epochs(4, kWaitSeconds);
  ASSERT_EQ(later.size(), 4u);
  for (size_t i = 1; i < later.size(); ++i) EXPECT_GT(later[i].Time(), later[i - 1].Time());
}

TEST_F(ReceiverTest, SilentReceiverSendsNothingUntilTheFaultEnds) {
  ASSERT_TRUE(WaitForFix());
  lab_->scpi->Run({"EMUL:REC:FAUL:SIL ON"});
  port_->Drain(0.15);
  EXPECT_EQ(port_->ReadFor(1.0), "") << "twenty epochs of silence";
  lab_->scpi->Run({"EMUL:REC:FAUL:SIL OFF"});
  EXPECT_EQ(port_->Epochs(2, kWaitSeconds).size(), 2u);
}

// Unplugged: the port goes away under its reader and the link disappears;
// a later command plugs it in again (as a new device).
TEST_F(ReceiverTest, UnpluggedPortComesBackOnCommand) {
  ASSERT_TRUE(WaitForFix());
  for (const char* replug : {"EMUL:REC:FAUL:UNPL OFF", "EMULator:RESet"}) {
    SCOPED_TRACE(replug);
    lab_->scpi->Run({"EMUL:REC:FAUL:UNPL ON"});
    bool hungUp = false;
    port_->ReadFor(2.0, &hungUp);
    EXPECT_TRUE(hungUp);
    EXPECT_FALSE(vrx::fs::exists(vrx::fs::symlink_status(lab_->Link())));
    EXPECT_EQ(lab_->scpi->Query("EMUL:REC:FAUL:UNPL?"), "1");

    lab_->scpi->Run({replug});
    ASSERT_TRUE(vrx::fs::is_symlink(lab_->Link()));
    port_ = std::make_unique<vrx::PortReader>(lab_->Link());
    ASSERT_TRUE(port_->IsOpen());
    EXPECT_EQ(port_->Epochs(2, kWaitSeconds).size(), 2u);
  }
}

// A reader that closes the port in the middle of an epoch leaves nothing
// behind: a pseudo-terminal would keep the rest for the next reader, which
// a closed serial port does not. The next reader, coming a few epochs later,
// starts at the beginning of a sentence.
TEST_F(ReceiverTest, NextReaderStartsWithAWholeSentence) {
  ASSERT_TRUE(WaitForFix());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::string seen;
    const auto end = vrx::Clock::now() + std::chrono::duration<double>(kWaitSeconds);
    while (seen.find("GSV,") == std::string::npos && vrx::Clock::now() < end)
      seen += port_->ReadFor(0.001);
    ASSERT_NE(seen.find("GSV,"), std::string::npos);
    // Mid-epoch, the reader stops reading (more of the epoch arrives unread)
    // and closes the port.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // over one pacing step
    port_.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    port_ = std::make_unique<vrx::PortReader>(lab_->Link());
    ASSERT_TRUE(port_->IsOpen());
    const std::string next = port_->ReadFor(0.2);
    ASSERT_FALSE(next.empty());
    EXPECT_EQ(next[0], '$') << next.substr(0, 40);
  }
}

// A command written just before the writer closes the port still reaches
// the receiver.
TEST_F(ReceiverTest, CommandOfAWriterThatLeftAtOnceTakesEffect) {
  ASSERT_TRUE(WaitForFix());
  port_.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the receiver sees it gone
  {
    vrx::PortReader writer(lab_->Link());
    ASSERT_TRUE(writer.IsOpen());
    writer.Write("$PORST,F*20\r\n");
  }
  const auto end = vrx::Clock::now() + std::chrono::duration<double>(kWaitSeconds);
  std::string fix;
  while ((fix = lab_->scpi->Query("EMUL:REC:FIX?")) != "1" && vrx::Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fix, "1") << "the cold start was lost";
}

// Configuration messages of the station's receiver profiles: CFG-MSG turns a
// sentence off (and is acknowledged); CFG-GNSS switches systems, that of the
// GLONASS profile GPS off (Galileo, which it does not name, stays), a second
// one Galileo too, so the solution speaks as GL; CFG-CFG brings the defaults
// back.
TEST_F(ReceiverTest, ConfigurationMessagesTakeEffect) {
  ASSERT_TRUE(WaitForFix());
  const std::string zdaOff =
      vrx::HexBytes("0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x08, 0x00, 0x02, 0x1F");
  const std::string ackMsg("\xB5\x62\x05\x01\x02\x00\x06\x01\x0F\x38", 10);
  port_->Write(zdaOff);
  EXPECT_NE(port_->ReadFor(0.3).find(ackMsg), std::string::npos);
  for (const Epoch& e : Fresh(3)) {
    EXPECT_TRUE(e.Of("ZDA").empty());
    EXPECT_EQ(e.Of("RMC").size(), 1u);
  }

  port_->Write(vrx::HexBytes(
      "0xB5, 0x62, 0x06, 0x3E, 0x24, 0x00, 0x00, 0x00, 0x10, 0x04, 0x00, 0x04, 0xFF, 0x00, 0x00, "
      "0x00, 0x00, 0x00, 0x01, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x00, "
      "0x00, 0x00, 0x00, 0x00, 0x06, 0x08, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x9B, 0x1C"));
  for (const Epoch& e : Fresh(3)) {
    EXPECT_EQ(InViewByTalker(e), (std::map<std::string, int>{{"GL", kGlonass}, {"GA", kGalileo}}));
    EXPECT_EQ(UsedPrns(e).size(), static_cast<size_t>(kGlonass + kGalileo));
    EXPECT_EQ(e.Gga().talker, "GN");
  }
  port_->Write(
      vrx::HexBytes("0xB5, 0x62, 0x06, 0x3E, 0x0C, 0x00, 0x00, 0x00, 0x10, 0x01, 0x02, 0x04, 0x08, "
                    "0x00, 0x00, 0x00, 0x00, 0x00, 0x6F, 0xAF"));
  for (const Epoch& e : Fresh(3)) {
    EXPECT_EQ(e.Gga().talker, "GL");
    for (const Sentence& s : e.sentences) EXPECT_EQ(s.talker, "GL") << s.text;
    EXPECT_EQ(UsedPrns(e).size(), static_cast<size_t>(kGlonass));
    EXPECT_EQ(GsaMode(e), 2);  // three satellites
  }

  port_->Write(
      vrx::HexBytes("0xB5, 0x62, 0x06, 0x09, 0x0D, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, "
                    "0x00, 0xFF, 0xFF, 0x00, 0x00, 0x17, 0x2F, 0xAE"));
  for (const Epoch& e : Fresh(3)) {
    EXPECT_EQ(e.Of("ZDA").size(), 1u);
    EXPECT_EQ(InViewByTalker(e).size(), 3u);
  }
}

// A Galileo spread arranged for once ends with the receiver's restart, as
// the station's hot start expects.
TEST_F(ReceiverTest, GalileoSpreadOnceEndsWithTheHotStart) {
  ASSERT_TRUE(WaitForFix());
  auto spread = [](const Epoch& e) {
    std::vector<int> cn0;
    for (const auto& [prn, c] : Satellites(e))
      if (prn > 203) cn0.push_back(c);
    return *std::max_element(cn0.begin(), cn0.end()) - *std::min_element(cn0.begin(), cn0.end());
  };
  lab_->scpi->Run({"EMUL:REC:FAUL:GALS 5,ONCE"});
  for (const Epoch& e : Fresh(2)) EXPECT_GE(spread(e), 5);
  port_->Write(
      vrx::HexBytes("0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00, 0x02, 0x00, 0x10, 0x68"));
  ASSERT_TRUE(WaitForFix());
  for (const Epoch& e : Fresh(3)) EXPECT_LT(spread(e), 4);
  EXPECT_EQ(lab_->scpi->Query("EMUL:REC:FAUL:GALS?"), "0");
}

// Thirty-two satellites do not fit one second of 9600 baud with every GSV
// group: the groups take turns, every epoch still reports satellites in
// view, and no epoch is lost.
TEST(ReceiverBudgetTest, FullSkyFitsTheLine) {
  vrx::Lab lab;
  std::string error;
  ASSERT_TRUE(lab.Start({"--ttff", "1"}, "0.05", &error)) << error;
  lab.Scenario(12, 10, 10, kLon, kLat, kAlt);
  vrx::PortReader port(lab.Link());
  ASSERT_TRUE(port.IsOpen());
  port.Drain(0.5);
  const std::vector<Epoch> epochs = port.Epochs(6, kWaitSeconds);
  ASSERT_EQ(epochs.size(), 6u);
  std::set<std::string> talkersSeen;
  for (size_t i = 0; i < epochs.size(); ++i) {
    SCOPED_TRACE("epoch " + std::to_string(i));
    const Epoch& e = epochs[i];
    EXPECT_LE(e.bytes, 960u);
    EXPECT_FALSE(e.Of("GSV").empty());
    EXPECT_EQ(e.Quality(), 1);
    if (i > 0) EXPECT_NEAR(e.Time() - epochs[i - 1].Time(), 1.0, 1e-6);
    // Only whole groups: each starts at message 1 and runs to its count.
    std::map<std::string, int> last;
    for (const Sentence* s : e.Of("GSV")) {
      EXPECT_EQ(std::atoi(s->fields[1].c_str()), last[s->talker] + 1) << s->text;
      last[s->talker] = std::atoi(s->fields[1].c_str());
    }
    for (const Sentence* s : e.Of("GSV"))
      if (std::atoi(s->fields[1].c_str()) == std::atoi(s->fields[0].c_str()))
        talkersSeen.insert(s->talker);
  }
  EXPECT_EQ(talkersSeen, (std::set<std::string>{"GP", "GL", "GA"}));
}

// With --log the bytes the receiver gets join the SCPI transcript, marked.
TEST(ReceiverLogTest, ReceivedBytesAreInTheTranscript) {
  vrx::Lab lab;
  std::string error;
  ASSERT_TRUE(lab.Start({"--log"}, "0.05", &error)) << error;
  vrx::PortReader port(lab.Link());
  ASSERT_TRUE(port.IsOpen());
  port.Drain(0.2);  // the receiver notices its reader at the next epoch
  port.Write("$PORST,F*20\r\n");
  EXPECT_TRUE(lab.emu.WaitForOutput("[COM3] <- $PORST,F*20\\x0D\\x0A", 5)) << lab.emu.Output();
  EXPECT_TRUE(lab.emu.WaitForOutput("cold start", 5));
  lab.scpi->Query("*IDN?");
  EXPECT_TRUE(lab.emu.WaitForOutput("*IDN?", 5));
}

// Where the link goes: ./COM by default, $GNSS_COM_DIR when set, --com-dir
// over both; --com picks the number. It points at a terminal device and
// leaves with the emulator.
struct LinkCase {
  const char* name;
  std::vector<std::string> args;
  std::string environment;  // GNSS_COM_DIR relative to the working directory, "" for unset
  std::string expected;     // relative to the working directory
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class LinkTest : public testing::TestWithParam<LinkCase> {};

TEST_P(LinkTest, PlacedWhereAskedAndRemovedAtExit) {
  char pattern[] = "/tmp/vreceiver-link-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::vector<std::string> args{QARN_EMU_PATH, "--port", "0"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  std::vector<std::string> env{"GNSS_TIME_SCALE=0.05", "GNSS_COM_DIR="};
  if (!GetParam().environment.empty()) env.back() += dir + "/" + GetParam().environment;
  const std::string link = dir + "/" + GetParam().expected;
  {
    vrx::Child emu;
    std::string error;
    ASSERT_TRUE(emu.Spawn(args, env, dir, &error)) << error;
    ASSERT_TRUE(emu.WaitForOutput("listening on port ", 10)) << emu.Output();
    ASSERT_TRUE(vrx::fs::is_symlink(link)) << link;
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_TRUE(fd >= 0 && ::isatty(fd));
    if (fd >= 0) ::close(fd);
    emu.Stop();
  }
  EXPECT_FALSE(vrx::fs::exists(vrx::fs::symlink_status(link)));
  std::error_code ignored;
  vrx::fs::remove_all(dir, ignored);
}

INSTANTIATE_TEST_SUITE_P(Links, LinkTest,
                         testing::Values(LinkCase{"default", {}, "", "COM/COM3"},
                                         LinkCase{"environment", {}, "ports", "ports/COM3"},
                                         LinkCase{"option_over_environment",
                                                  {"--com-dir", "mine", "--com", "7"},
                                                  "ports",
                                                  "mine/COM7"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
