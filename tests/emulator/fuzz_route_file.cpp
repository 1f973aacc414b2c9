// Fuzzes the route-file reader of qarn-emu (a file an operator or a test
// puts in the instrument's storage): any text either loads as a route whose
// waypoints are in range or is refused with a reason, and a loaded route
// answers a position at any moment, for every way of playing it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "WaypointRoute.h"

namespace {

bool Plausible(const emu::GeoPosition& p) {
  return std::isfinite(p.latitude) && std::isfinite(p.longitude) && std::isfinite(p.altitude) &&
         std::fabs(p.latitude) <= 90.0 + 1e-9 && std::fabs(p.longitude) <= 180.0 + 1e-9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto route = emu::WaypointRoute::Parse(text, &error);
  if (!route) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (route->WaypointCount() == 0 || !(route->SecondsPerWaypoint() > 0.0)) std::abort();
  // Moments: a few fixed ones around the route's length, and one from the
  // input's last eight bytes.
  const double length = route->SecondsPerWaypoint() * static_cast<double>(route->WaypointCount());
  double fromInput = 0.0;
  if (size >= sizeof fromInput)
    std::memcpy(&fromInput, data + size - sizeof fromInput, sizeof fromInput);
  if (!std::isfinite(fromInput)) fromInput = 0.0;
  const double moments[] = {-1.0, 0.0, 0.25, length * 0.5, length, length * 1.5, 1e9, fromInput};
  for (const auto readout : {emu::WaypointRoute::Readout::Cyclic, emu::WaypointRoute::Readout::Once,
                             emu::WaypointRoute::Readout::RoundTrip}) {
    const auto played = route->WithReadout(readout);
    for (const double t : moments)
      if (!Plausible(played->PositionAt(t))) std::abort();
  }
  return 0;
}
