#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "FakeSimulator.h"
#include "SessionFixture.h"
#include "instrument/ScenarioSetup.h"
#include "platform/clock.h"
#include "support/CommaLocale.h"
#include "support/RecordingPeer.h"

namespace {

using Lines = std::vector<std::string>;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// The messages the simulator received, without the "*opc?" of each command;
// checks on the way that every command (a message not ending in "?") was
// followed by its "*opc?".
Lines WithoutOpc(RecordingPeer& peer) {
  const Lines all = peer.Messages();
  Lines out;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] == "*opc?") continue;
    out.push_back(all[i]);
    if (all[i].back() != '?') {
      EXPECT_TRUE(i + 1 < all.size() && all[i + 1] == "*opc?") << "no *opc? after " << all[i];
    }
  }
  return out;
}

Lines CommandsOnly(RecordingPeer& peer) {
  Lines out;
  for (const std::string& m : WithoutOpc(peer)) {
    if (m.back() != '?') out.push_back(m);
  }
  return out;
}

Lines SlotStates(const std::string& prefix, int from, int to, const char* state) {
  Lines out;
  const int step = from <= to ? 1 : -1;
  for (int slot = from; slot != to + step; slot += step) {
    out.push_back(prefix + ":SAT" + std::to_string(slot) + ":STAT " + state);
  }
  return out;
}

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Lines kGpsBase = {"SOUR:FREQ 1.57542GHz",      "SOUR:POW:LEV:IMM:AMPL -105.000000dBm",
                        "SOUR:BB:GPS:TRIG:SEQ ARET", "SOUR:BB:GPS:SMOD USER",
                        "SOUR:ROSC:SOUR INT",        "OUTP:STAT ON"};
const Lines kGalileoBase = {"SOUR:FREQ 1.57542GHz",      "SOUR:POW:LEV:IMM:AMPL -105.000000dBm",
                            "SOUR:BB:GAL:TRIG:SEQ ARET", "SOUR:BB:GAL:SMOD USER",
                            "SOUR:ROSC:SOUR INT",        "OUTP:STAT ON"};
const Lines kGlonassBase = {"SOUR:FREQ 1.602GHz",
                            "SOUR:POW:LEV:IMM:AMPL -105.000000dBm",
                            "SOUR:BB:GLONASS:TRIG:SEQ ARET",
                            "SOUR:BB:GLONASS:SMOD USER",
                            "SOUR:ROSC:SOUR INT",
                            "OUTP:STAT ON"};

struct ScenarioSetup : testing::Test {
  FakeSimulator simulator;
  std::unique_ptr<RecordingPeer> peer;

  void Connect() {
    peer = std::make_unique<RecordingPeer>(
        [this](const std::string& m) { return simulator.Answer(m); });
    OpenPeerSession(*peer, 2000);
  }
  void TearDown() override {
    CloseSessions();
    peer.reset();
  }
};

TEST(ScenarioSetupTable, PrimarySystemSatelliteCountAndHybrid) {
  struct Case {
    const char* name;
    ConstellationRequest request;
    Lines commands;
    int hybridMode;
    int glonassTime;
  };
  const Case cases[] = {
      {"GPS 6",
       {6, 0, 0, "", "", "", 0},
       kGpsBase + Lines{"SOUR:BB:GPS:SAT:COUNT 6", "SOUR:BB:GPS:GOConstellation"} +
           SlotStates("SOUR:BB:GPS", 1, 6, "ON"),
       kGpsAlone,
       0},
      {"GPS 6 with P code",
       {6, 0, 0, "", "", "", 1},
       kGpsBase + Lines{"SOUR:BB:GPS:SAT:COUNT 6", "SOUR:BB:GPS:GOConstellation"} +
           SlotStates("SOUR:BB:GPS", 1, 6, "ON") + Lines{"SOUR:BB:GPS:UMGPS ON"},
       kGpsAlone,
       0},
      {"GPS 4 + Galileo 3",
       {4, 3, 0, "", "", "", 0},
       kGpsBase + Lines{"SOUR:BB:GPS:SAT:COUNT 7", "SOUR:BB:GPS:GOConstellation"} +
           SlotStates("SOUR:BB:GPS", 1, 7, "ON") + Lines{"SOUR:BB:GPS:HYBRID:GAL ON"},
       kHybrid,
       0},
      {"GPS 1 + Galileo 1 + GLONASS 1 with P code",
       {1, 1, 1, "", "", "", 1},
       kGpsBase + Lines{"SOUR:BB:GPS:SAT:COUNT 4", "SOUR:BB:GPS:GOConstellation"} +
           SlotStates("SOUR:BB:GPS", 1, 3, "ON") + Lines{"SOUR:BB:GPS:SAT4:STAT OFF"} +
           Lines{"SOUR:BB:GPS:UMGPS ON", "SOUR:BB:GPS:HYBRID:GAL ON",
                 "SOUR:BB:GPS:HYBRID:GLONASS ON"},
       kHybrid,
       0},
      {"Galileo 2",
       {0, 2, 0, "", "", "", 1},
       kGalileoBase + Lines{"SOUR:BB:GAL:SAT:COUNT 4", "SOUR:BB:GAL:GOConstellation"} +
           SlotStates("SOUR:BB:GAL", 1, 2, "ON") + SlotStates("SOUR:BB:GAL", 4, 3, "OFF"),
       kGalileoAlone,
       0},
      {"Galileo 3 + GLONASS 2",
       {0, 3, 2, "", "", "", 0},
       kGalileoBase + Lines{"SOUR:BB:GAL:SAT:COUNT 5", "SOUR:BB:GAL:GOConstellation"} +
           SlotStates("SOUR:BB:GAL", 1, 5, "ON") + Lines{"SOUR:BB:GAL:HYBRID:GLONASS ON"},
       kHybrid,
       0},
      {"all zero",
       {0, 0, 0, "", "", "", 0},
       kGlonassBase + Lines{"SOUR:BB:GLONASS:SAT:COUNT 4", "SOUR:BB:GLONASS:GOConstellation"} +
           SlotStates("SOUR:BB:GLONASS", 4, 1, "OFF"),
       kGlonassOnly,
       1},
      // No slot below 1 is switched off.
      {"negative count typed on the panel",
       {-2, 0, 0, "", "", "", 0},
       kGlonassBase + Lines{"SOUR:BB:GLONASS:SAT:COUNT 4", "SOUR:BB:GLONASS:GOConstellation"} +
           SlotStates("SOUR:BB:GLONASS", 4, 1, "OFF"),
       kGlonassOnly,
       1},
  };
  for (const Case& c : cases) {
    FakeSimulator simulator;
    RecordingPeer peer([&](const std::string& m) { return simulator.Answer(m); });
    OpenPeerSession(peer, 2000);
    const PrimarySystem primary = SelectPrimarySystem(c.request, -105.0, "USER");
    SetupSatelliteCount(TotalSatelliteCount(c.request), primary.prefix);
    EnableHybrid(primary, c.request);
    EXPECT_EQ(WithoutOpc(peer), c.commands) << c.name;
    EXPECT_EQ(primary.hybridMode, c.hybridMode) << c.name;
    EXPECT_EQ(primary.glonassTime, c.glonassTime) << c.name;
    CloseSessions();
  }
}

TEST(ScenarioSetupTable, SimulationTimeShift) {
  struct Case {
    const char* name;
    PrimarySystem primary;
    FakeSimulator state;
    double offset;
    Lines messages;
  };
  auto week = [](std::string w, std::string tow) {
    FakeSimulator s;
    s.week = std::move(w);
    s.timeOfWeek = std::move(tow);
    return s;
  };
  auto calendar = [](std::string date, std::string time) {
    FakeSimulator s;
    s.date = std::move(date);
    s.time = std::move(time);
    return s;
  };
  const PrimarySystem gps{kGpsPrefix, kGpsAlone, 0};
  const PrimarySystem galileo{kGalileoPrefix, kGalileoAlone, 0};
  const PrimarySystem glonass{kGlonassPrefix, kGlonassOnly, 1};
  const Lines gpsQueries{"SOUR:BB:GPS:NAV:SIM:WNUM?", "SOUR:BB:GPS:NAV:SIM:TOW?"};
  const Lines glonassQueries{"SOUR:BB:GLONASS:NAV:SIM:DATE?", "SOUR:BB:GLONASS:NAV:SIM:TIME?"};
  const Case cases[] = {
      {"forward over the week end", gps, week("1780", "604790"), 20.0,
       gpsQueries + Lines{"SOUR:BB:GPS:NAV:SIM:WNUM 1781", "SOUR:BB:GPS:NAV:SIM:TOW 10"}},
      {"back over the week start", gps, week("1780", "5"), -10.0,
       gpsQueries + Lines{"SOUR:BB:GPS:NAV:SIM:WNUM 1779", "SOUR:BB:GPS:NAV:SIM:TOW 604795"}},
      {"several weeks, fraction dropped", gps, week("1780.0", "100.9"), 3 * 604800.0 + 0.5,
       gpsQueries + Lines{"SOUR:BB:GPS:NAV:SIM:WNUM 1783", "SOUR:BB:GPS:NAV:SIM:TOW 101"}},
      {"a hair below the week start", gps, week("1780", "0"), -1e-12,
       gpsQueries + Lines{"SOUR:BB:GPS:NAV:SIM:WNUM 1780", "SOUR:BB:GPS:NAV:SIM:TOW 0"}},
      {"replies that are not numbers count as 0", galileo, week("busy", ""), 30.0,
       Lines{"SOUR:BB:GAL:NAV:SIM:WNUM?", "SOUR:BB:GAL:NAV:SIM:TOW?", "SOUR:BB:GAL:NAV:SIM:WNUM 0",
             "SOUR:BB:GAL:NAV:SIM:TOW 30"}},
      {"calendar carry into the next day", glonass, calendar("2014, 1, 10", "12, 59, 59.0"),
       90061.5,
       glonassQueries + Lines{"SOUR:BB:GLONASS:NAV:SIM:DATE 2014,1,11",
                              "SOUR:BB:GLONASS:NAV:SIM:TIME 14,1,0.500000"}},
      // The instrument takes only real dates and times of day.
      {"calendar carry into the next month", glonass, calendar("2014,1,31", "23,59,30.0"), 45.0,
       glonassQueries + Lines{"SOUR:BB:GLONASS:NAV:SIM:DATE 2014,2,1",
                              "SOUR:BB:GLONASS:NAV:SIM:TIME 0,0,15.000000"}},
      {"calendar carry past a leap day", glonass, calendar("2016,2,28", "12,0,0.0"), 172800.0,
       glonassQueries + Lines{"SOUR:BB:GLONASS:NAV:SIM:DATE 2016,3,1",
                              "SOUR:BB:GLONASS:NAV:SIM:TIME 12,0,0.000000"}},
      {"calendar carry into the next year", glonass, calendar("2013,12,31", "23,0,0.0"), 3600.0,
       glonassQueries + Lines{"SOUR:BB:GLONASS:NAV:SIM:DATE 2014,1,1",
                              "SOUR:BB:GLONASS:NAV:SIM:TIME 0,0,0.000000"}},
      {"calendar borrow into the previous month", glonass, calendar("2014,3,1", "0,0,10.0"), -30.0,
       glonassQueries + Lines{"SOUR:BB:GLONASS:NAV:SIM:DATE 2014,2,28",
                              "SOUR:BB:GLONASS:NAV:SIM:TIME 23,59,40.000000"}},
      {"calendar borrow into the previous year", glonass, calendar("2014,1,1", "0,0,0.0"), -1.0,
       glonassQueries + Lines{"SOUR:BB:GLONASS:NAV:SIM:DATE 2013,12,31",
                              "SOUR:BB:GLONASS:NAV:SIM:TIME 23,59,59.000000"}},
      {"calendar back by a day, an hour, a minute and 1.5 s", glonass,
       calendar("2014, 1, 10", "12, 59, 59.0"), -90061.5,
       glonassQueries + Lines{"SOUR:BB:GLONASS:NAV:SIM:DATE 2014,1,9",
                              "SOUR:BB:GLONASS:NAV:SIM:TIME 11,58,57.500000"}},
  };
  for (const Case& c : cases) {
    FakeSimulator simulator = c.state;
    RecordingPeer peer([&](const std::string& m) { return simulator.Answer(m); });
    OpenPeerSession(peer, 2000);
    ShiftSimulationTime(c.primary, c.offset);
    EXPECT_EQ(WithoutOpc(peer), c.messages) << c.name;
    CloseSessions();
  }
}

TEST(ScenarioSetupTable, SatelliteAssignment) {
  struct Case {
    const char* name;
    ConstellationRequest request;
    std::map<int, SimulatorSlot> slots;
    Lines commands;
  };
  const Case cases[] = {
      {"one AUTO hands every system to the simulator",
       {4, 2, 0, "AUTO", "11,12", "", 0},
       {},
       {"SOUR:BB:GPS:GOConstellation"}},
      {"AUTO of an unused system has no effect",
       {2, 0, 0, "3,4", "AUTO", "", 0},
       {},
       {"SOUR:BB:GPS:SAT1:STAN GPS", "SOUR:BB:GPS:SAT1:SVID 3", "SOUR:BB:GPS:SAT2:STAN GPS",
        "SOUR:BB:GPS:SAT2:SVID 4"}},
      {"a placed SVID keeps its slot, the next takes the lowest free",
       {2, 0, 0, "5,7", "", "", 0},
       {{1, {9, "GPS"}}, {2, {5, "GPS"}}},
       {"SOUR:BB:GPS:SAT1:STAN GPS", "SOUR:BB:GPS:SAT1:SVID 7"}},
      {"empty pieces are skipped",
       {2, 0, 0, ",5,,7,", "", "", 0},
       {{1, {9, "GPS"}}, {2, {5, "GPS"}}},
       {"SOUR:BB:GPS:SAT1:STAN GPS", "SOUR:BB:GPS:SAT1:SVID 7"}},
      {"systems share the slots, in the primary's prefix",
       {2, 2, 0, "3,4", "11,12", "", 0},
       {},
       {"SOUR:BB:GPS:SAT1:STAN GPS", "SOUR:BB:GPS:SAT1:SVID 3", "SOUR:BB:GPS:SAT2:STAN GPS",
        "SOUR:BB:GPS:SAT2:SVID 4", "SOUR:BB:GPS:SAT3:STAN GAL", "SOUR:BB:GPS:SAT3:SVID 11",
        "SOUR:BB:GPS:SAT4:STAN GAL", "SOUR:BB:GPS:SAT4:SVID 12"}},
      {"same SVID under another standard is not a match",
       {0, 1, 0, "", "5", "", 0},
       {{1, {5, "GPS"}}},
       {"SOUR:BB:GAL:SAT1:STAN GAL", "SOUR:BB:GAL:SAT1:SVID 5"}},
      {"GLONASS compares three characters", {0, 0, 1, "", "", "3", 0}, {{1, {3, "GLONASS"}}}, {}},
      {"GLONASS writes GLON",
       {0, 0, 1, "", "", "x", 0},
       {{1, {3, "GLONASS"}}},
       {"SOUR:BB:GLONASS:SAT1:STAN GLON", "SOUR:BB:GLONASS:SAT1:SVID 0"}},
  };
  for (const Case& c : cases) {
    FakeSimulator simulator;
    simulator.slots = c.slots;
    RecordingPeer peer([&](const std::string& m) { return simulator.Answer(m); });
    OpenPeerSession(peer, 2000);
    const PrimarySystem primary{c.request.gpsCount >= 1       ? kGpsPrefix
                                : c.request.galileoCount >= 1 ? kGalileoPrefix
                                                              : kGlonassPrefix,
                                kHybrid, 0};
    AssignSatellites(primary, c.request);
    EXPECT_EQ(CommandsOnly(peer), c.commands) << c.name;
    CloseSessions();
  }
}

TEST_F(ScenarioSetup, SlotSearchAsksSvidAndStandardOfEachSlot) {
  simulator.slots = {{1, {9, "GPS"}}, {2, {5, "GPS"}}};
  Connect();
  AssignSatellites({kGpsPrefix, kGpsAlone, 0}, {2, 0, 0, "5", "", "", 0});
  EXPECT_EQ(WithoutOpc(*peer), (Lines{"SOUR:BB:GPS:SAT1:SVID?", "SOUR:BB:GPS:SAT1:STAN?",
                                      "SOUR:BB:GPS:SAT2:SVID?", "SOUR:BB:GPS:SAT2:STAN?"}));
}

TEST_F(ScenarioSetup, ListsBeyondThirtyTwoSlotsStopAtTheLastSlot) {
  std::string list;
  for (int svid = 1; svid <= 34; ++svid) list += std::to_string(svid) + ",";
  Connect();
  CaptureStdout();
  AssignSatellites({kGpsPrefix, kGpsAlone, 0}, {34, 0, 0, list, "", "", 0});
  const std::string screen = GetCapturedStdout();
  const Lines commands = CommandsOnly(*peer);
  ASSERT_EQ(commands.size(), 64u);
  EXPECT_EQ(commands.back(), "SOUR:BB:GPS:SAT32:SVID 32");
  EXPECT_NE(screen.find("SVID 33"), std::string::npos) << screen;
  EXPECT_NE(screen.find("SVID 34"), std::string::npos) << screen;
  // Slots past 32 are never asked about: an instrument without them would
  // leave every such query to its 50 s time-out.
  for (const std::string& message : peer->Messages()) {
    EXPECT_EQ(message.find("SAT33"), std::string::npos) << message;
    EXPECT_EQ(message.find("SAT34"), std::string::npos) << message;
  }
}

TEST_F(ScenarioSetup, PCodeSelectionAsksOnlyTheManagedSlots) {
  Connect();
  SelectPCodeSignals(kGpsPrefix, 34);
  int asked = 0;
  for (const std::string& message : peer->Messages()) {
    if (message.find(":STAN?") != std::string::npos) ++asked;
    EXPECT_EQ(message.find("SAT33"), std::string::npos) << message;
  }
  EXPECT_EQ(asked, 32);
}

TEST(ScenarioSetupTable, ReferencePowerFromTheLevelOffsetText) {
  const struct {
    const char* offset;
    const char* command;
  } cases[] = {
      {"5", "SOUR:BB:GPS:POWER:REF -115"},   {"abc", "SOUR:BB:GPS:POWER:REF -120"},
      {"", "SOUR:BB:GPS:POWER:REF -120"},    {"  -3dB", "SOUR:BB:GPS:POWER:REF -123"},
      {"+12", "SOUR:BB:GPS:POWER:REF -108"},
  };
  for (const auto& c : cases) {
    FakeSimulator simulator;
    RecordingPeer peer([&](const std::string& m) { return simulator.Answer(m); });
    OpenPeerSession(peer, 2000);
    SetReferencePower(kGpsPrefix, c.offset);
    EXPECT_EQ(WithoutOpc(peer), Lines{c.command}) << '"' << c.offset << '"';
    CloseSessions();
  }
}

double requestedWait = -1.0;
int waits = 0;

TEST_F(ScenarioSetup, LocationLogsSetsPointAndCountThenWaitsOneSecond) {
  Connect();
  requestedWait = -1.0;
  waits = 0;
  ScenarioSettleWait = [](double seconds) {
    requestedWait = seconds;
    ++waits;
  };
  GeoPoint point;
  point.longitude = -8.25;
  point.latitude = 47.1234567;
  point.altitude = 500.44;
  CaptureStdout();
  SetupLocation(point, 5, kGalileoPrefix);
  const std::string screen = GetCapturedStdout();
  ScenarioSettleWait = WaitSeconds;

  EXPECT_TRUE(std::regex_match(
      screen, std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}  "
                         "Setting up QARN\\.\\. This may take a couple of seconds\\.\\.\n")))
      << screen;
  const Lines expected = Lines{"SOUR:BB:GAL:LOC:SELect \"User Defined\"",
                               "SOUR:BB:GAL:LOC:COORdinates:DECimal -8.250000,47.123457,500.4",
                               "SOUR:BB:GAL:SAT:COUNT 5", "SOUR:BB:GAL:GOConstellation"} +
                         SlotStates("SOUR:BB:GAL", 1, 5, "ON");
  EXPECT_EQ(WithoutOpc(*peer), expected);
  EXPECT_EQ(waits, 1);
  EXPECT_EQ(requestedWait, 1.0);
}

TEST_F(ScenarioSetup, PCodeOnGpsSlotsStartAndReset) {
  simulator.slots = {{1, {1, "GPS"}}, {2, {11, "GAL"}}, {3, {2, "GPS"}}};
  Connect();
  ResetSimulator();
  SelectPCodeSignals(kGpsPrefix, 3);
  StartSimulation(kGpsPrefix);
  EXPECT_TRUE(peer->Bytes().starts_with("*rst;*opc?\n"));
  EXPECT_EQ(WithoutOpc(*peer),
            (Lines{"*rst;*opc?", "SOUR:BB:GPS:SAT1:STAN?", "SOUR:BB:GPS:SAT1:SIGN CAPQ",
                   "SOUR:BB:GPS:SAT2:STAN?", "SOUR:BB:GPS:SAT3:STAN?", "SOUR:BB:GPS:SAT3:SIGN CAPQ",
                   "SOUR:BB:GPS:STAT ON", "SOUR:BB:GPS:TRIG:EXEC"}));
}

// Numbers on the wire keep their "." under a decimal-comma locale.
TEST_F(ScenarioSetup, DecimalCommaLocaleChangesNoNumber) {
  simulator.time = "12,59,59.5";
  Connect();
  {
    CommaLocale comma;
    if (!comma.Active()) GTEST_SKIP() << "no decimal-comma locale";
    char probe[8];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5");
    SetupSystemBase(kSystemGps, -105.5, "USER");
    ShiftSimulationTime({kGlonassPrefix, kGlonassOnly, 1}, 0.25);
    EXPECT_EQ(ParseLeadingDouble("1.5\n"), 1.5);
  }
  const Lines messages = WithoutOpc(*peer);
  ASSERT_EQ(messages.size(), 10u);
  EXPECT_EQ(messages[1], "SOUR:POW:LEV:IMM:AMPL -105.500000dBm");
  EXPECT_EQ(messages[9], "SOUR:BB:GLONASS:NAV:SIM:TIME 12,59,59.750000");
}

}  // namespace
