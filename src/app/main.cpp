// gnss-station: parses the command line and hands over to start-up.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/Compare.h"
#include "app/DecodeNmea.h"
#include "app/GNSS_MAIN.h"
#include "platform/files.h"
#include "platform/stdio.h"

int main(int argc, char* argv[]) {
  // A file-size limit reached while writing a log must fail that write
  // (EFBIG, reported like a full disk), not kill the station.
  std::signal(SIGXFSZ, SIG_IGN);
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
    StdErrReason(ErrnoText("cannot enter --workdir " + options.workdir, errno));
    return kExitUsage;
  }
  // Decoding a log and comparing runs need no user interface.
  if (!options.decodeNmeaFile.empty()) return RunDecodeNmea(options.decodeNmeaFile.c_str());
  if (!options.compareRuns.empty()) {
    std::vector<CompareTolerance> tolerances;
    if (!options.tolerances.empty() && !ParseTolerances(options.tolerances, &tolerances, &error)) {
      std::fprintf(stderr, "gnss-station: %s\n", error.c_str());
      return kExitUsage;
    }
    return RunCompare(options.compareRuns[0], options.compareRuns[1], tolerances);
  }
  return StationMain(argc, argv, options);
}
