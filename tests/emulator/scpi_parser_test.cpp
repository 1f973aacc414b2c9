// The simulator double's SCPI parser and command table, run in-process: one
// instrument, one connection's session, messages in, answers and error queue
// out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ScpiInstrument.h"
#include "SimulatorModel.h"
#include "TextFormat.h"

namespace {

class Lab {
 public:
  explicit Lab(double timeScale = 1.0)
      : model_(timeScale), instrument_(model_), session_(instrument_) {
    emu::RegisterCommonCommands(instrument_);
    emu::RegisterSimulatorCommands(instrument_);
  }
  // Runs one message; the answer, or "<none>" when it produced none.
  std::string Run(const std::string& message) {
    const auto outcome = session_.Execute(message);
    return outcome.hasAnswer ? outcome.answer : "<none>";
  }
  std::string NextError() { return Run("SYST:ERR?"); }
  emu::SimulatorModel& Model() { return model_; }
  emu::ScpiInstrument& Instrument() { return instrument_; }

 private:
  emu::SimulatorModel model_;
  emu::ScpiInstrument instrument_;
  emu::ScpiSession session_;
};

struct Row {
  const char* name;
  std::vector<std::string> messages;  // the last one's answer is checked
  const char* answer;
  const char* firstError;  // the error queue's first entry afterwards
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const char* const kNoError = "0,\"No error\"";

const Row kRows[] = {
    {"identification", {"*IDN?"}, "Emulated Lab,QARN,100001,qarn-emu 1.0", kNoError},
    {"long forms",
     {"SOURce:BB:GPS:SATellite:COUNt 6", "SOURCE:BB:GPS:SATELLITE:COUNT?"},
     "6",
     kNoError},
    {"short forms in lower case",
     {"sour:bb:gps:sat:coun 7", "sour:bb:gps:sat:coun?"},
     "7",
     kNoError},
    {"mixed case", {"SoUr:Bb:GpS:SaT:CoUnT 8", "SOUR:BB:GPS:SAT:COUNT?"}, "8", kNoError},
    {"optional nodes left out",
     {"POW -105.000000dBm", "SOUR:POW:LEV:IMM:AMPL?"},
     "-105.00",
     kNoError},
    {"frequency with a unit", {"SOUR:FREQ 1.602GHz", "FREQ?"}, "1602000000", kNoError},
    {"relative header after ;", {"SOUR:BB:GPS:SAT:COUNT 5;COUNT?"}, "5", kNoError},
    {"leading colon goes back to the root",
     {":SOUR:BB:GPS:SAT:COUNT 9;:SOUR:BB:GPS:SAT:COUNT?"},
     "9",
     kNoError},
    {"common command keeps the path", {"SOUR:BB:GPS:SAT:COUNT 6;*OPC;COUNT?"}, "6", kNoError},
    {"answers of one message joined by ;", {"SYST:ERR?;*opc?"}, "0,\"No error\";1", kNoError},
    {"unknown header", {"SOUR:BB:GPS:FOO 1"}, "<none>", "-113,\"Undefined header\""},
    {"unknown header before a good query", {"FOO?;*OPC?"}, "1", "-113,\"Undefined header\""},
    {"query of a command-only header",
     {"SOUR:BB:GPS:TRIG:EXEC?"},
     "<none>",
     "-113,\"Undefined header\""},
    {"short form that is too short", {"SOUR:BB:GP:STAT ON"}, "<none>", "-113,\"Undefined header\""},
    {"slot beyond 32",
     {"SOUR:BB:GPS:SAT33:STAT ON"},
     "<none>",
     "-114,\"Header suffix out of range\""},
    {"satellite number 0", {"SOUR:BB:GPS:SAT1:SVID 0"}, "<none>", "-222,\"Data out of range\""},
    {"missing parameter", {"SOUR:BB:GPS:SAT:COUNT"}, "<none>", "-109,\"Missing parameter\""},
    {"not a number", {"SOUR:BB:GPS:SAT:COUNT many"}, "<none>", "-104,\"Data type error\""},
    {"bad keyword", {"OUTP:STAT MAYBE"}, "<none>", "-224,\"Illegal parameter value\""},
    {"garbage bytes",
     {std::string("\x01\xff\x80 junk\0x", 11)},
     "<none>",
     "-101,\"Invalid character\""},
    {"empty parts and stray separators", {";;", " ", "*OPC?;;"}, "1", kNoError},
    {"; inside quotes",
     {"SOUR:BB:GPS:LOC:WAYP:FILE '/var/a;b.txt'", "SOUR:BB:GPS:LOC:WAYP:FILE?"},
     "'/var/a;b.txt'",
     "-256,\"File name not found\""},
    {"*RST back to defaults",
     {"SOUR:BB:GPS:SAT:COUNT 9", "OUTP ON", "*RST", "SOUR:BB:GPS:SAT:COUNT?;:OUTP?"},
     "4;0",
     kNoError},
    {"location select",
     {"SOUR:BB:GPS:LOC:SELect \"User Defined\"", "SOUR:BB:GPS:LOC:SEL?"},
     "\"User Defined\"",
     kNoError},
    {"waypoint select",
     {"SOUR:BB:GPS:LOCation:SELect 'Waypoints'", "SOUR:BB:GPS:LOC:SEL?"},
     "\"Waypoints\"",
     kNoError},
    {"fixed location (longitude first)",
     {"SOUR:BB:GPS:LOC:COORdinates:DECimal 11.500000,48.100000,520.0",
      "SOUR:BB:GPS:LOCation:COORdinates:DECimal?"},
     "11.50000000,48.10000000,520.000",
     kNoError},
    {"receiver location at a UTC second",
     {"SOUR:BB:GAL:LOC:COOR:DEC -3.7,40.4,650",
      "SOUR:BB:GAL:RT:RLOCation:COORdinates:DECimal? UTC,2014,1,10,12,0,0"},
     "-3.70000000,40.40000000,650.000",
     kNoError},
    {"latitude out of range",
     {"SOUR:BB:GPS:LOC:COOR:DEC 11.5,91,0"},
     "<none>",
     "-222,\"Data out of range\""},
    {"slot written as the station writes it",
     {"SOUR:BB:GPS:SAT2:STAN GAL", "SOUR:BB:GPS:SAT2:SVID 12", "SOUR:BB:GPS:SAT2:STAN?;SVID?"},
     "GAL;12",
     kNoError},
    {"GLONASS standard",
     {"SOUR:BB:GLONASS:SAT3:STAN GLON", "SOUR:BB:GLONASS:SAT3:STAN?"},
     "GLON",
     kNoError},
    {"P code signal", {"SOUR:BB:GPS:SAT1:SIGN CAPQ", "SOUR:BB:GPS:SAT1:SIGN?"}, "CAPQ", kNoError},
    {"reference power", {"SOUR:BB:GPS:POWER:REF -115", "SOUR:BB:GPS:POW:REF?"}, "-115", kNoError},
    // Limits that differ by system, and the bounds of the range checks.
    {"Galileo's highest satellite number",
     {"SOUR:BB:GPS:SAT1:STAN GALILEO", "SOUR:BB:GPS:SAT1:SVID 36", "SOUR:BB:GPS:SAT1:SVID?"},
     "36",
     kNoError},
    {"GLONASS has no satellite 25",
     {"SOUR:BB:GPS:SAT1:STAN glo", "SOUR:BB:GPS:SAT1:SVID 9", "SOUR:BB:GPS:SAT1:SVID 25",
      "SOUR:BB:GPS:SAT1:SVID?"},
     "9",
     "-222,\"Data out of range\""},
    {"hybrid flags apart by system",
     {"SOUR:BB:GPS:HYBR:GLON ON", "SOUR:BB:GPS:HYBR:GAL?;GLON?"},
     "0;1",
     kNoError},
    {"time of week of a whole week",
     {"SOUR:BB:GPS:NAV:SIM:TOW 604800"},
     "<none>",
     "-222,\"Data out of range\""},
    {"*OPC? delay beyond ten minutes",
     {"EMUL:OPC:DEL 600001", "EMUL:OPC:DEL?"},
     "0",
     "-222,\"Data out of range\""},
    {"drop after no message", {"EMUL:CONN:DROP:AFT 0"}, "<none>", "-222,\"Data out of range\""},
    {"emulated error entry",
     {"EMUL:ERR:ADD -200,\"Execution error\""},
     "<none>",
     "-200,\"Execution error\""},
};

class ScpiParserTable : public ::testing::TestWithParam<Row> {};

TEST_P(ScpiParserTable, AnswersAndQueuesErrors) {
  const Row& row = GetParam();
  Lab lab;
  std::string answer;
  for (const auto& message : row.messages) answer = lab.Run(message);
  EXPECT_EQ(answer, row.answer);
  EXPECT_EQ(lab.NextError(), row.firstError);
  EXPECT_EQ(lab.NextError(), kNoError) << "one entry per fault";
}

INSTANTIATE_TEST_SUITE_P(Rows, ScpiParserTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

TEST(ScpiErrorQueue, KeepsOrderAndMarksOverflow) {
  Lab lab;
  lab.Run("FOO");
  lab.Run("SOUR:BB:GPS:SAT:COUNT 99");
  EXPECT_EQ(lab.NextError(), "-113,\"Undefined header\"");
  EXPECT_EQ(lab.NextError(), "-222,\"Data out of range\"");
  for (size_t i = 0; i < emu::ErrorQueue::kCapacity + 5; ++i) lab.Run("FOO");
  std::string last;
  for (size_t i = 0; i < emu::ErrorQueue::kCapacity; ++i) last = lab.NextError();
  EXPECT_EQ(last, "-350,\"Queue overflow\"");
  EXPECT_EQ(lab.NextError(), kNoError);
}

// Texts formatted for answers, NMEA and logs are never cut short.
TEST(EmulatorText, FormatKeepsTextsOfAnyLength) {
  const std::string longText(1000, 'x');
  EXPECT_EQ(emu::Format("%s|%.3f", longText.c_str(), 1.0e300).size(), 1000u + 1u + 301u + 4u);
  EXPECT_EQ(emu::Format("%02X,%g", 0xAu, 0.5), "0A,0.5");
  EXPECT_EQ(emu::Format("%s", ""), "");
}

// ---- simulation time ----------------------------------------------------------

TEST(SimulationTime, WeekAndTimeOfWeekAndTheUtcCalendarAgree) {
  Lab lab;
  // GPS week 1775, 5 days and 18 s into it is 2014-01-17 00:00:00 UTC
  // (18 leap seconds; worked out independently with Python's datetime).
  lab.Run("SOUR:BB:GPS:NAV:SIM:WNUM 1775;TOW 432018");
  EXPECT_EQ(lab.Run("SOUR:BB:GPS:NAV:SIM:WNUM?"), "1775");
  EXPECT_EQ(lab.Run("SOUR:BB:GPS:NAV:SIM:DATE?"), "2014,1,17");
  EXPECT_THAT(lab.Run("SOUR:BB:GPS:NAV:SIM:TIME?"), ::testing::StartsWith("0,0,0."));
  // And back: a calendar date and time set through the GLONASS prefix.
  lab.Run("SOUR:BB:GLONASS:NAV:SIM:DATE 2018,5,5;TIME 23,59,42.0");
  EXPECT_EQ(lab.Run("SOUR:BB:GPS:NAV:SIM:WNUM?"), "2000");
  EXPECT_THAT(lab.Run("SOUR:BB:GPS:NAV:SIM:TOW?"), ::testing::StartsWith("0."));
  EXPECT_THAT(lab.Run("SOUR:BB:GLONASS:NAVigation:SIMulation:TIME?"),
              ::testing::StartsWith("23,59,42."));
  lab.Run("SOUR:BB:GLONASS:NAV:SIM:DATE 2014,2,30");
  EXPECT_EQ(lab.NextError(), "-222,\"Data out of range\"");
}

// A second a hair short of the next one is not shown as second 60.
TEST(SimulationTime, SecondsAnsweredBelowSixty) {
  Lab lab(1.0e9);  // the clock stands still for the test
  lab.Run("SOUR:BB:GLONASS:NAV:SIM:DATE 2014,1,10;TIME 12,59,59.9996");
  EXPECT_EQ(lab.Run("SOUR:BB:GLONASS:NAV:SIM:TIME?"), "12,59,59.999");
  lab.Run("SOUR:BB:GPS:NAV:SIM:WNUM 1780;TOW 604799.9996");
  EXPECT_EQ(lab.Run("SOUR:BB:GPS:NAV:SIM:TOW?"), "604799.999");
  EXPECT_EQ(lab.NextError(), kNoError);
}

TEST(SimulationTime, RunsAtTheLabsPace) {
  Lab lab(0.05);  // twenty times as fast
  lab.Run("SOUR:BB:GPS:NAV:SIM:WNUM 1780;TOW 604799");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // 2 s of lab time at least
  EXPECT_EQ(lab.Run("SOUR:BB:GPS:NAV:SIM:WNUM?"), "1781") << "the week rolls over";
  EXPECT_GE(std::stod(lab.Run("SOUR:BB:GPS:NAV:SIM:TOW?")), 1.0);
}

// ---- constellation --------------------------------------------------------------

TEST(Constellation, AutomaticConstellationSharesTheSlotsAmongTheRadiatedSystems) {
  Lab lab;
  for (const char* m :
       {"SOUR:BB:GPS:SAT:COUNT 7", "SOUR:BB:GPS:HYBRID:GAL ON", "SOUR:BB:GPS:GOConstellation",
        "OUTP:STAT ON", "SOUR:BB:GPS:TRIG:SEQ ARET", "SOUR:BB:GPS:STAT ON"}) {
    lab.Run(m);
  }
  EXPECT_TRUE(lab.Model().RadiatedSatellites().empty()) << "armed, not triggered yet";
  lab.Run("SOUR:BB:GPS:TRIG:EXEC");
  std::set<std::pair<std::string, int>> seen;
  int gps = 0, galileo = 0;
  for (int slot = 1; slot <= 7; ++slot) {
    const std::string prefix = "SOUR:BB:GPS:SAT" + std::to_string(slot);
    EXPECT_EQ(lab.Run(prefix + ":STAT?"), "1");
    const std::string standard = lab.Run(prefix + ":STAN?");
    const int svid = std::stoi(lab.Run(prefix + ":SVID?"));
    EXPECT_TRUE(seen.insert({standard, svid}).second)
        << "each satellite once: " << standard << svid;
    EXPECT_GE(svid, 1);
    EXPECT_LE(svid, 36);
    gps += standard == "GPS";
    galileo += standard == "GAL";
  }
  EXPECT_EQ(gps, 4);
  EXPECT_EQ(galileo, 3);
  EXPECT_EQ(lab.Run("SOUR:BB:GPS:SAT8:STAT?"), "0");
  const auto radiated = lab.Model().RadiatedSatellites();
  EXPECT_EQ(radiated.size(), 7u);
  EXPECT_EQ(lab.Model().RadiatedSystems(),
            (std::vector<emu::GnssSystem>{emu::GnssSystem::Gps, emu::GnssSystem::Galileo}));
}

TEST(Constellation, SlotsSwitchedOffOrBeyondTheCountAreNotRadiated) {
  Lab lab;
  for (const char* m :
       {"SOUR:BB:GAL:SAT:COUNT 4", "SOUR:BB:GAL:GOConstellation", "SOUR:BB:GAL:SAT4:STAT OFF",
        "SOUR:BB:GAL:SAT3:STAT OFF", "OUTP ON", "SOUR:BB:GAL:STAT ON", "SOUR:BB:GAL:TRIG:EXEC"}) {
    lab.Run(m);
  }
  const auto radiated = lab.Model().RadiatedSatellites();
  ASSERT_EQ(radiated.size(), 2u);
  EXPECT_EQ(radiated[0].system, emu::GnssSystem::Galileo);
  EXPECT_EQ(lab.Model().RadiatedSystems(), std::vector<emu::GnssSystem>{emu::GnssSystem::Galileo});
}

TEST(Location, EcefOfTheTruthComesFromWgs84) {
  // The equator at the prime meridian lies one semi-major axis from the
  // centre; the north pole one semi-minor axis (6356752.314245 m).
  const auto equator = emu::SimulatorModel::ToEcef({0.0, 0.0, 0.0});
  EXPECT_NEAR(equator.x, 6378137.0, 1e-6);
  const auto pole = emu::SimulatorModel::ToEcef({0.0, 90.0, 0.0});
  EXPECT_NEAR(pole.z, 6356752.314245, 1e-5);
}

}  // namespace

namespace {

// Messages assembled at random from pieces of real commands, separators,
// quotes, numbers and raw bytes: the parser must neither crash nor lose
// its footing (the instrument still answers afterwards).
TEST(ScpiRobustness, RandomMessagesLeaveTheInstrumentWorking) {
  Lab lab(0.05);
  const char* const pieces[] = {"SOUR",
                                ":",
                                "BB",
                                "GPS",
                                "GAL",
                                "GLONASS",
                                "SAT",
                                "SAT99999999",
                                "SAT0",
                                "SVID",
                                "STAN",
                                "STAT",
                                "?",
                                ";",
                                ",",
                                " ",
                                "\"",
                                "'",
                                "*OPC?",
                                "*RST",
                                "*IDN?",
                                "SYST:ERR?",
                                "NAV:SIM:",
                                "DATE",
                                "TIME",
                                "WNUM",
                                "TOW",
                                "LOC:COOR:DEC",
                                "RT:RLOC:COOR:DEC?",
                                "UTC",
                                "EMUL:ERR:ADD",
                                "-1e308",
                                "1e999",
                                "nan",
                                "-0",
                                "2147483648",
                                "99999999999999999999",
                                "1.5GHz",
                                "ON",
                                "OFF",
                                "\t",
                                "::",
                                "[",
                                "LOC:WAYP:FILE",
                                "/../x",
                                "HYBR:GAL",
                                "COUNT",
                                "GOC",
                                "POW:REF"};
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string message;
    const int count = static_cast<int>(random() % 12);
    for (int k = 0; k < count; ++k) {
      if (random() % 8 == 0) {
        message += static_cast<char>(random());
      } else {
        message += pieces[random() % std::size(pieces)];
      }
    }
    lab.Run(message);
  }
  lab.Instrument().Faults() = emu::LabFaults{};
  lab.Run("*CLS");
  EXPECT_EQ(lab.Run("*OPC?"), "1");
  EXPECT_EQ(lab.NextError(), kNoError);
}

}  // namespace

namespace {

// The station's messages, byte for byte as its scenario set-up, launch and
// moving test format them, are all accepted, and the answers parse with
// the patterns the station reads them with.
TEST(StationMessages, EveryCommandIsAcceptedAndEveryAnswerHasItsShape) {
  Lab lab;
  const char* const commands[] = {
      "*rst;*opc?",
      // Galileo or GLONASS as the primary system heads the same commands.
      "SOUR:BB:GAL:POWER:REF -120",
      "SOUR:BB:GLONASS:LOC:SELect \"User Defined\"",
      "SOUR:BB:GAL:LOC:COORdinates:DECimal -8.250000,47.123457,500.4",
      "SOUR:BB:GLONASS:SAT:COUNT 4",
      "SOUR:BB:GAL:GOConstellation",
      "SOUR:BB:GLONASS:SAT2:STAT ON",
      "SOUR:BB:GLONASS:SAT4:STAT OFF",
      "SOUR:BB:GAL:NAV:SIM:WNUM 1779",
      "SOUR:BB:GAL:NAV:SIM:TOW 604795",
      "SOUR:BB:GLONASS:NAV:SIM:DATE 2014,2,28",
      "SOUR:BB:GLONASS:NAV:SIM:TIME 23,59,40.000000",
      "SOUR:BB:GAL:SAT3:STAN GAL",
      "SOUR:BB:GAL:SAT3:SVID 36",
      "SOUR:BB:GLONASS:SAT2:STAN GLON",
      "SOUR:BB:GLONASS:SAT2:SVID 24",
      "SOUR:BB:GAL:STAT ON",
      "SOUR:BB:GLONASS:TRIG:EXEC",
      "SOUR:FREQ 1.57542GHz",
      "SOUR:FREQ 1.602GHz",
      "SOUR:POW:LEV:IMM:AMPL -105.000000dBm",
      "SOUR:BB:GPS:TRIG:SEQ ARET",
      "SOUR:BB:GAL:TRIG:SEQ ARET",
      "SOUR:BB:GLONASS:TRIG:SEQ ARET",
      "SOUR:BB:GPS:SMOD USER",
      "SOUR:BB:GAL:SMOD USER",
      "SOUR:BB:GLONASS:SMOD USER",
      "SOUR:ROSC:SOUR INT",
      "OUTP:STAT ON",
      "SOUR:BB:GPS:POWER:REF -115",
      "SOUR:BB:GPS:POWER:REF -120",
      "SOUR:BB:GPS:LOC:SELect \"User Defined\"",
      "SOUR:BB:GPS:LOC:COORdinates:DECimal 11.500000,48.100000,520.0",
      "SOUR:BB:GPS:SAT:COUNT 7",
      "SOUR:BB:GPS:GOConstellation",
      "SOUR:BB:GPS:SAT1:STAT ON",
      "SOUR:BB:GPS:SAT4:STAT OFF",
      "SOUR:BB:GPS:UMGPS ON",
      "SOUR:BB:GPS:HYBRID:GAL ON",
      "SOUR:BB:GPS:HYBRID:GLONASS ON",
      "SOUR:BB:GAL:HYBRID:GLONASS ON",
      "SOUR:BB:GPS:NAV:SIM:WNUM 1781",
      "SOUR:BB:GPS:NAV:SIM:TOW 10",
      "SOUR:BB:GLONASS:NAV:SIM:DATE 2014,1,11",
      "SOUR:BB:GLONASS:NAV:SIM:TIME 14,1,0.500000",
      "SOUR:BB:GPS:SAT1:STAN GPS",
      "SOUR:BB:GPS:SAT1:SVID 7",
      "SOUR:BB:GPS:SAT5:STAN GAL",
      "SOUR:BB:GPS:SAT5:SVID 11",
      "SOUR:BB:GPS:SAT6:STAN GLON",
      "SOUR:BB:GPS:SAT6:SVID 3",
      "SOUR:BB:GPS:SAT1:SIGN CAPQ",
      "SOUR:BB:GPS:LOCation:SELect 'Waypoints'",
      "SOUR:BB:GPS:LOCation:WAYPoints:ROMode CYCL",
      "SOUR:BB:GPS:LOCation:SELect \"User Defined\"",
      "SOUR:BB:GPS:LOC:COORdinates:DECimal 11.500000,48.100000,520.000000",
      "SOUR:BB:GPS:STAT ON",
      "SOUR:BB:GPS:TRIG:EXEC",
  };
  for (const char* command : commands) {
    lab.Run(command);
    EXPECT_EQ(lab.NextError(), kNoError) << command;
  }
  int a = 0, b = 0, c = 0;
  float f = 0;
  double x = 0, y = 0, z = 0;
  EXPECT_EQ(std::sscanf(lab.Run("SOUR:BB:GLONASS:NAV:SIM:DATE?").c_str(), "%d, %d, %d", &a, &b, &c),
            3);
  EXPECT_EQ(std::sscanf(lab.Run("SOUR:BB:GLONASS:NAV:SIM:TIME?").c_str(), "%d, %d, %f", &a, &b, &f),
            3);
  EXPECT_EQ(std::sscanf(lab.Run("SOUR:BB:GPS:NAVigation:SIMulation:TIME?").c_str(), "%d,%d,%d", &a,
                        &b, &c),
            3);
  EXPECT_GT(std::atof(lab.Run("SOUR:BB:GPS:NAV:SIM:WNUM?").c_str()), 1000.0);
  EXPECT_GE(std::atof(lab.Run("SOUR:BB:GPS:NAV:SIM:TOW?").c_str()), 0.0);
  EXPECT_EQ(std::atoi(lab.Run("SOUR:BB:GPS:SAT1:SVID?").c_str()), 7);
  EXPECT_EQ(lab.Run("SOUR:BB:GPS:SAT6:STAN?").substr(0, 3), "GLO");
  EXPECT_EQ(std::sscanf(lab.Run("SOUR:BB:GPS:LOCation:COORdinates:DECimal?").c_str(), "%lf,%lf,%lf",
                        &x, &y, &z),
            3);
  EXPECT_EQ(
      std::sscanf(
          lab.Run("SOUR:BB:GPS:RT:RLOCation:COORdinates:DECimal? UTC,2014,1,11,14,1,5").c_str(),
          "%lf,%lf,%lf", &x, &y, &z),
      3);
  EXPECT_DOUBLE_EQ(x, 11.5);
  EXPECT_DOUBLE_EQ(y, 48.1);
  EXPECT_NE(lab.Run("*idn?"), "<none>");
  EXPECT_THAT(lab.Run("SYST:ERR?;*opc?"), ::testing::HasSubstr("No error"));
  EXPECT_EQ(lab.Model().RadiatedSystems().size(), 3u);
}

}  // namespace
