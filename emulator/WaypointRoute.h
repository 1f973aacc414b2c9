// A route of waypoints from a file of the instrument's storage, played from
// the moment the baseband is triggered.
//
// File format (text, one item per line):
//   # a comment; empty lines are skipped too
//   RESOLUTION: 0.5        seconds from one waypoint to the next (default 1)
//   11.5000,48.1000,520.0  longitude, latitude (degrees), altitude (m)
// Between two waypoints the receiver moves along the WGS-84 geodesic at a
// steady pace, its altitude changing linearly.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SimulatorModel.h"

namespace emu {

class WaypointRoute final : public Trajectory {
 public:
  // How the route is played once its last waypoint is reached: from the
  // start again, not at all (the receiver stays at the end), or backwards.
  enum class Readout { Cyclic, Once, RoundTrip };

  // Reads a route file; nullptr with a reason in `error` when it cannot.
  static std::shared_ptr<WaypointRoute> Load(const std::string& path, std::string* error);
  static std::shared_ptr<WaypointRoute> Parse(std::string_view text, std::string* error);

  // The same waypoints played another way.
  std::shared_ptr<WaypointRoute> WithReadout(Readout readout) const;

  GeoPosition PositionAt(double secondsSinceStart) const override;
  size_t WaypointCount() const { return points_.size(); }
  double SecondsPerWaypoint() const { return resolution_; }

 private:
  struct Segment {
    double length = 0.0;   // metres along the geodesic
    double azimuth = 0.0;  // at its start, degrees
  };
  WaypointRoute() = default;

  std::vector<GeoPosition> points_;
  std::vector<Segment> segments_;  // points_.size() - 1 of them
  double resolution_ = 1.0;
  Readout readout_ = Readout::Cyclic;
};

// Maps an instrument path ("/var/user/route.txt") into the storage folder;
// empty for a path that would leave it ("..").
std::string StoragePath(const std::string& storageRoot, const std::string& instrumentPath);

}  // namespace emu
