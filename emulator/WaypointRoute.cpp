#include "WaypointRoute.h"

#include <GeographicLib/Geodesic.hpp>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace emu {

namespace {

// A route file bigger than this is not a route (a day at 10 Hz is ~3 MB).
constexpr std::streamsize kMaxRouteFileBytes = 16 * 1024 * 1024;
// Far above any orbit: beyond it, the altitude between two waypoints could
// overflow to infinity.
constexpr double kMaxAltitudeMetres = 1e8;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool ParseDouble(std::string_view text, double* value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(*value);
}

}  // namespace

std::shared_ptr<WaypointRoute> WaypointRoute::Parse(std::string_view text, std::string* error) {
  auto route = std::shared_ptr<WaypointRoute>(new WaypointRoute());
  int lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    const auto fail = [&](const std::string& why) {
      if (error) *error = "line " + std::to_string(lineNumber) + ": " + why;
      return nullptr;
    };
    if (line.rfind("RESOLUTION:", 0) == 0) {
      double seconds = 0.0;
      if (!ParseDouble(line.substr(11), &seconds) || seconds <= 0.0) return fail("bad RESOLUTION");
      route->resolution_ = seconds;
      continue;
    }
    double values[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      const size_t comma = i < 2 ? line.find(',', start) : line.size();
      if (comma == std::string_view::npos) return fail("expected longitude,latitude,altitude");
      if (!ParseDouble(line.substr(start, comma - start), &values[i])) return fail("not a number");
      start = comma + 1;
    }
    if (std::fabs(values[0]) > 180.0 || std::fabs(values[1]) > 90.0 ||
        std::fabs(values[2]) > kMaxAltitudeMetres)
      return fail("coordinates out of range");
    route->points_.push_back({values[0], values[1], values[2]});
  }
  if (route->points_.empty()) {
    if (error) *error = "no waypoints";
    return nullptr;
  }
  const GeographicLib::Geodesic& wgs84 = GeographicLib::Geodesic::WGS84();
  for (size_t i = 1; i < route->points_.size(); ++i) {
    const GeoPosition& a = route->points_[i - 1];
    const GeoPosition& b = route->points_[i];
    Segment s;
    double azimuthAtEnd;
    wgs84.Inverse(a.latitude, a.longitude, b.latitude, b.longitude, s.length, s.azimuth,
                  azimuthAtEnd);
    route->segments_.push_back(s);
  }
  return route;
}

std::shared_ptr<WaypointRoute> WaypointRoute::Load(const std::string& path, std::string* error) {
  // Opening a pipe would block the whole lab until a writer came.
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) {
    if (error) *error = "cannot open " + path + ": not a regular file";
    return nullptr;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = "cannot open " + path;
    return nullptr;
  }
  std::string text(static_cast<size_t>(kMaxRouteFileBytes) + 1, '\0');
  file.read(text.data(), kMaxRouteFileBytes + 1);
  if (file.gcount() > kMaxRouteFileBytes) {
    if (error) *error = path + " is too big for a route";
    return nullptr;
  }
  text.resize(static_cast<size_t>(file.gcount()));
  std::string why;
  auto route = Parse(text, &why);
  if (!route && error) *error = path + ": " + why;
  return route;
}

std::shared_ptr<WaypointRoute> WaypointRoute::WithReadout(Readout readout) const {
  auto copy = std::shared_ptr<WaypointRoute>(new WaypointRoute(*this));
  copy->readout_ = readout;
  return copy;
}

GeoPosition WaypointRoute::PositionAt(double secondsSinceStart) const {
  if (points_.size() == 1 || !(secondsSinceStart > 0.0)) return points_.front();
  const double duration = resolution_ * static_cast<double>(segments_.size());
  double t = secondsSinceStart;
  switch (readout_) {
    case Readout::Cyclic:
      t = std::fmod(t, duration);
      break;
    case Readout::Once:
      t = std::min(t, duration);
      break;
    case Readout::RoundTrip: {
      t = std::fmod(t, 2.0 * duration);
      if (t > duration) t = 2.0 * duration - t;
      break;
    }
  }
  const double position = t / resolution_;
  size_t index = static_cast<size_t>(position);
  if (index >= segments_.size()) return points_.back();
  const double fraction = position - static_cast<double>(index);
  const GeoPosition& a = points_[index];
  const GeoPosition& b = points_[index + 1];
  GeoPosition p;
  GeographicLib::Geodesic::WGS84().Direct(a.latitude, a.longitude, segments_[index].azimuth,
                                          fraction * segments_[index].length, p.latitude,
                                          p.longitude);
  p.altitude = a.altitude + fraction * (b.altitude - a.altitude);
  return p;
}

std::string StoragePath(const std::string& storageRoot, const std::string& instrumentPath) {
  std::string path = storageRoot;
  std::stringstream parts(instrumentPath);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return {};
    path += "/" + part;
  }
  return path == storageRoot ? std::string() : path;
}

}  // namespace emu
