// Waypoint routes of the simulator double: the file format, how the route is
// played, and the route behind LOCation? and RT:RLOCation?.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ScpiInstrument.h"
#include "SimulatorModel.h"
#include "WaypointRoute.h"

namespace {

// Two waypoints on the equator, 0.001 degree of longitude apart (111.3 m),
// one second from each other, climbing 10 m. On the equator the geodesic is
// the equator itself, so its midpoint is exactly halfway in longitude.
constexpr const char* kEquatorRoute =
    "# equator test route\n"
    "RESOLUTION: 1.0\n"
    "0.000,0.0,100\n"
    "0.001,0.0,110\n";

TEST(WaypointRouteFile, ParsesOrSaysWhichLineIsWrong) {
  struct Case {
    const char* text;
    const char* error;  // nullptr: parses
  };
  const Case cases[] = {
      {kEquatorRoute, nullptr},
      {"\n# only a point\n11.5,48.1,520\n", nullptr},
      {"RESOLUTION: 0\n1,2,3\n", "line 1: bad RESOLUTION"},
      {"1,2\n", "line 1: expected longitude,latitude,altitude"},
      {"1,2,3\n1,x,3\n", "line 2: not a number"},
      {"181,0,0\n", "line 1: coordinates out of range"},
      // The altitude between these two was infinite (the route_file fuzz
      // target aborts on it; kept there as a regression input).
      {"0,0,-1e308\n0,0.001,1e308\n", "line 1: coordinates out of range"},
      {"# nothing\n", "no waypoints"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto route = emu::WaypointRoute::Parse(c.text, &error);
    if (c.error) {
      EXPECT_EQ(route, nullptr) << c.text;
      EXPECT_EQ(error, c.error) << c.text;
    } else {
      EXPECT_NE(route, nullptr) << c.text << error;
    }
  }
}

// A pipe in the storage folder would block the whole lab on open.
TEST(WaypointRouteFile, APipeIsRefusedWithoutWaiting) {
  char pattern[] = "/tmp/route-pipe-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string pipe = std::string(pattern) + "/route.txt";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::string error;
  EXPECT_EQ(emu::WaypointRoute::Load(pipe, &error), nullptr);
  EXPECT_EQ(error, "cannot open " + pipe + ": not a regular file");
  ::unlink(pipe.c_str());
  ::rmdir(pattern);
}

TEST(WaypointRouteFile, PlaysCyclicOnceOrThereAndBack) {
  const auto route = emu::WaypointRoute::Parse(kEquatorRoute, nullptr);
  ASSERT_NE(route, nullptr);
  struct Case {
    emu::WaypointRoute::Readout readout;
    double seconds;
    double longitude;
    double altitude;
  };
  using R = emu::WaypointRoute::Readout;
  const Case cases[] = {
      {R::Cyclic, 0.0, 0.0, 100.0},       {R::Cyclic, 0.5, 0.0005, 105.0},
      {R::Cyclic, 1.25, 0.00025, 102.5},  {R::Once, 0.5, 0.0005, 105.0},
      {R::Once, 7.0, 0.001, 110.0},       {R::RoundTrip, 1.25, 0.00075, 107.5},
      {R::RoundTrip, 2.5, 0.0005, 105.0},
  };
  for (const Case& c : cases) {
    const auto p = route->WithReadout(c.readout)->PositionAt(c.seconds);
    EXPECT_NEAR(p.longitude, c.longitude, 1e-9)
        << static_cast<int>(c.readout) << " at " << c.seconds;
    EXPECT_NEAR(p.latitude, 0.0, 1e-9);
    EXPECT_NEAR(p.altitude, c.altitude, 1e-9);
  }
}

TEST(WaypointRouteFile, InstrumentPathsStayInsideTheStorageFolder) {
  EXPECT_EQ(emu::StoragePath("/srv/store", "/var/user/route.txt"), "/srv/store/var/user/route.txt");
  EXPECT_EQ(emu::StoragePath("/srv/store", "routes//a.txt"), "/srv/store/routes/a.txt");
  EXPECT_EQ(emu::StoragePath("/srv/store", "/var/../../etc/passwd"), "");
  EXPECT_EQ(emu::StoragePath("/srv/store", "/"), "");
}

TEST(WaypointRouteScpi, RealTimeLocationFollowsTheRouteFromTheTrigger) {
  const auto storage =
      std::filesystem::temp_directory_path() / ("qarn-storage-" + std::to_string(::getpid()));
  std::filesystem::create_directories(storage / "var" / "user");
  std::ofstream(storage / "var" / "user" / "equator.txt") << kEquatorRoute;

  emu::SimulatorModel model(1.0);
  emu::ScpiInstrument instrument(model);
  emu::RegisterCommonCommands(instrument);
  emu::RegisterSimulatorCommands(instrument, storage.string());
  emu::ScpiSession session(instrument);
  const auto run = [&](const std::string& message) {
    const auto outcome = session.Execute(message);
    return outcome.hasAnswer ? outcome.answer : "<none>";
  };
  for (const char* m :
       {"SOUR:BB:GPS:LOC:SELect 'Waypoints'",
        "SOUR:BB:GPS:LOCation:WAYPoints:FILE '/var/user/equator.txt'",
        "SOUR:BB:GPS:LOCation:WAYPoints:ROMode CYCL", "SOUR:BB:GPS:NAV:SIM:DATE 2014,1,10",
        "SOUR:BB:GPS:NAV:SIM:TIME 12,0,0", "SOUR:BB:GPS:STAT ON", "SOUR:BB:GPS:TRIG:EXEC"}) {
    run(m);
  }
  EXPECT_EQ(run("SYST:ERR?"), "0,\"No error\"");
  // The route started at 12:00:00 UTC; a second later it is back at its
  // start (cyclic), and half a second is not a whole UTC second: ask for
  // 12:00:00.5 by a fractional second.
  const std::string start = run("SOUR:BB:GPS:RT:RLOC:COOR:DEC? UTC,2014,1,10,12,0,0");
  const std::string half = run("SOUR:BB:GPS:RT:RLOC:COOR:DEC? UTC,2014,1,10,12,0,0.5");
  double lon = 0, lat = 0, alt = 0;
  ASSERT_EQ(std::sscanf(start.c_str(), "%lf,%lf,%lf", &lon, &lat, &alt), 3) << start;
  EXPECT_NEAR(lon, 0.0, 1e-5);  // the trigger came a few milliseconds after 12:00:00
  ASSERT_EQ(std::sscanf(half.c_str(), "%lf,%lf,%lf", &lon, &lat, &alt), 3) << half;
  EXPECT_NEAR(lon, 0.0005, 1e-5);
  EXPECT_NEAR(alt, 105.0, 0.5);

  run("SOUR:BB:GPS:LOCation:WAYPoints:FILE '/var/../../etc/passwd'");
  EXPECT_EQ(run("SYST:ERR?"), "-256,\"File name not found\"");
  std::filesystem::remove_all(storage);
}

}  // namespace
