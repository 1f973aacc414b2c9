// A whole scenario set-up against qarn-emu: every command the station sends is
// understood (the error queue stays empty) and the simulator ends up in the
// requested state.
#include <gtest/gtest.h>

#include <string>

#include "SessionFixture.h"
#include "instrument/DUT_IP_Control.h"
#include "instrument/ScenarioSetup.h"
#include "platform/clock.h"
#include "support/EmulatorProcess.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

void NoWait(double) {}

std::string Answer(const std::string& query) {
  char answer[kQueryAnswerSize];
  My_Query(SimulatorSession, query.c_str(), answer);
  return answer;
}

TEST(ScenarioAgainstEmulator, SetUpIsUnderstoodAndTakesEffect) {
  EmulatorProcess emulator(STATION_BINARY_DIR "/bin/qarn-emu");
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  ViSession manager = VI_NULL;
  viOpenDefaultRM(&manager);
  const std::string resource = "TCPIP::" + emulator.Address();
  ASSERT_EQ(viOpen(manager, resource.c_str(), VI_NO_LOCK, 0, &SimulatorSession), VI_SUCCESS);
  ResourceManagerSession = manager;
  viSetAttribute(SimulatorSession, VI_ATTR_TMO_VALUE, 5000);

  struct Case {
    const char* name;
    ConstellationRequest request;
    double timeOffset;
  };
  const Case cases[] = {
      {"GPS with Galileo, explicit lists, P code", {3, 2, 0, "1,3,5", "11,12", "", 1}, 20.0},
      {"GLONASS alone", {0, 0, 2, "", "", "4,6", 0}, 90061.5},
  };
  ScenarioSettleWait = NoWait;
  for (const Case& c : cases) {
    GeoPoint point;
    point.longitude = 8.5;
    point.latitude = 47.25;
    point.altitude = 400.0;
    CaptureStdout();
    ResetSimulator();
    const PrimarySystem primary = SelectPrimarySystem(c.request, -105.0, "USER");
    SetReferencePower(primary.prefix, "5");
    SetupLocation(point, TotalSatelliteCount(c.request), primary.prefix);
    EnableHybrid(primary, c.request);
    ShiftSimulationTime(primary, c.timeOffset);
    AssignSatellites(primary, c.request);
    if (c.request.gpsCount >= 1 && c.request.pCode == 1) {
      SelectPCodeSignals(primary.prefix, TotalSatelliteCount(c.request));
    }
    StartSimulation(primary.prefix);
    CheckSimulatorErrors(SimulatorSession, nullptr);
    const std::string screen = GetCapturedStdout();
    EXPECT_EQ(screen.find("DUT INFO ERR"), std::string::npos) << c.name << ":\n" << screen;

    // The requested SVIDs sit on the slots in list order, systems one after another.
    const std::string p = primary.prefix;
    int slot = 1;
    auto expectSlots = [&](const std::string& list, const char* standard) {
      for (std::size_t start = 0; start < list.size();) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        const int svid = std::stoi(list.substr(start, end - start));
        int got = -1;
        My_QueryInt(SimulatorSession, (p + ":SAT" + std::to_string(slot) + ":SVID?").c_str(), &got);
        EXPECT_EQ(got, svid) << c.name << " slot " << slot;
        EXPECT_TRUE(Answer(p + ":SAT" + std::to_string(slot) + ":STAN?").starts_with(standard))
            << c.name << " slot " << slot;
        ++slot;
        start = end + 1;
      }
    };
    if (c.request.gpsCount >= 1) expectSlots(c.request.gpsSvids, "GPS");
    if (c.request.galileoCount >= 1) expectSlots(c.request.galileoSvids, "GAL");
    if (c.request.glonassCount >= 1) expectSlots(c.request.glonassSvids, "GLO");
  }
  ScenarioSettleWait = WaitSeconds;
  CloseSessions();
}

}  // namespace
