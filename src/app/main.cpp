// gnss-station: parses the command line and hands over to start-up.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/GNSS_MAIN.h"

#if __has_include("app/DecodeNmea.h")
#include "app/DecodeNmea.h"
#define STATION_HAS_DECODE_NMEA 1
#endif

int main(int argc, char* argv[]) {
  StationOptions options;
  std::string error;
  if (!ParseStationArguments(argc, argv, &options, &error)) {
    std::fprintf(stderr, "gnss-station: %s\n%s", error.c_str(), StationUsage());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(StationUsage(), stdout);
    return 0;
  }
  if (!options.workdir.empty() && chdir(options.workdir.c_str()) != 0) {
    std::fprintf(stderr, "gnss-station: cannot enter --workdir %s: %s\n", options.workdir.c_str(),
                 std::strerror(errno));
    return kExitUsage;
  }
  if (!options.decodeNmeaFile.empty()) {
#ifdef STATION_HAS_DECODE_NMEA
    return RunDecodeNmea(options.decodeNmeaFile.c_str());
#else
    std::fprintf(stderr, "gnss-station: --decode-nmea is not available in this build\n");
    return kExitUsage;
#endif
  }
  if (!options.runTest.empty()) {
    std::fprintf(stderr, "gnss-station: --run is not available in this build\n");
    return kExitUsage;
  }
  return StationMain(argc, argv, options);
}
