#include "geo/Geo.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using geo::kEccentricitySquared;
using geo::kPi;
using geo::kSemiMajorAxis;

constexpr double kDegToRad = kPi / 180.0;
constexpr double kRadToDeg = 180.0 / kPi;

// Within this of a pole cos(latitude) is too small to divide by.
constexpr double kPolarCosine = 1e-8;

constexpr double kMaxUpOffset = 200.0;  // m above the reference
constexpr double kDrawScale = 32768.0;  // 15-bit draws → [0, 1)

// The process-wide generator: the classic 15-bit linear congruential rand().
std::uint32_t g_randomState = 1;
GeoTimeSource g_timeSource = nullptr;

void SeedRandom(std::uint32_t seed) { g_randomState = seed; }

int DrawRandom15() {
  g_randomState = g_randomState * 1103515245u + 12345u;
  return static_cast<int>((g_randomState / 65536u) % 32768u);
}

double DrawUnit() { return DrawRandom15() / kDrawScale; }

double SemiMinorAxis() {
  return std::sqrt(kSemiMajorAxis * kSemiMajorAxis * (1.0 - kEccentricitySquared));
}

// trunc(value * scale) / scale through a 32-bit integer. Values beyond its
// range saturate (and NaN reads 0) instead of overflowing the conversion.
double Quantise(double value, double scale) {
  const double scaled = value * scale;
  std::int32_t whole = 0;
  if (scaled >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    whole = std::numeric_limits<std::int32_t>::max();
  } else if (scaled <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    whole = std::numeric_limits<std::int32_t>::min();
  } else if (scaled == scaled) {
    whole = static_cast<std::int32_t>(scaled);
  }
  return whole / scale;
}

}  // namespace

int GeodeticToEcef(GeoPoint& point) {
  const double phi = point.latitude * kDegToRad;
  const double lambda = point.longitude * kDegToRad;
  const double h = point.altitude;
  const double sinPhi = std::sin(phi);
  const double n = kSemiMajorAxis / std::sqrt(1.0 - kEccentricitySquared * sinPhi * sinPhi);
  point.ecefX = (n + h) * std::cos(phi) * std::cos(lambda);
  point.ecefY = (n + h) * std::cos(phi) * std::sin(lambda);
  point.ecefZ = (n * (1.0 - kEccentricitySquared) + h) * sinPhi;
  return 0;
}

int EcefToGeodetic(GeoPoint& point) {
  const double a = kSemiMajorAxis;
  const double e2 = kEccentricitySquared;
  const double b = SemiMinorAxis();
  const double x = point.ecefX;
  const double y = point.ecefY;
  const double z = point.ecefZ;
  const double p = std::sqrt(x * x + y * y);
  const double theta = std::atan2(a * z, b * p);
  const double sinTheta = std::sin(theta);
  const double cosTheta = std::cos(theta);
  const double phi = std::atan2(z + e2 * a * a * sinTheta * sinTheta * sinTheta / b,
                                p - e2 * a * cosTheta * cosTheta * cosTheta);
  point.latitude = phi * kRadToDeg;
  point.longitude = std::atan2(y, x) * kRadToDeg;

  // The altitude uses the latitude as stored, not phi.
  const double storedPhi = point.latitude * kDegToRad;
  const double sinPhi = std::sin(storedPhi);
  const double cosPhi = std::cos(storedPhi);
  const double root = std::sqrt(1.0 - e2 * sinPhi * sinPhi);
  if (cosPhi > kPolarCosine || cosPhi < -kPolarCosine) {
    point.altitude = p / cosPhi - a / root;
  } else {
    point.altitude = z / sinPhi - a * (1.0 - e2) / root;
  }
  return 0;
}

int EcefToEnu(const GeoPoint& reference, double dx, double dy, double dz, double& east,
              double& north, double& up) {
  const double phi = reference.latitude * kDegToRad;
  const double lambda = reference.longitude * kDegToRad;
  const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
  const double sinLambda = std::sin(lambda), cosLambda = std::cos(lambda);
  east = -sinLambda * dx + cosLambda * dy;
  north = -sinPhi * cosLambda * dx - sinPhi * sinLambda * dy + cosPhi * dz;
  up = cosPhi * cosLambda * dx + cosPhi * sinLambda * dy + sinPhi * dz;
  return 0;
}

int EnuToGeodetic(const GeoPoint& reference, double east, double north, double up,
                  GeoPoint& target) {
  const double phi = reference.latitude * kDegToRad;
  const double lambda = reference.longitude * kDegToRad;
  const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
  const double sinLambda = std::sin(lambda), cosLambda = std::cos(lambda);
  // Computed before writing: target may be the reference itself.
  const double x =
      reference.ecefX - sinLambda * east - sinPhi * cosLambda * north + cosPhi * cosLambda * up;
  const double y =
      reference.ecefY + cosLambda * east - sinPhi * sinLambda * north + cosPhi * sinLambda * up;
  const double z = reference.ecefZ + cosPhi * north + sinPhi * up;
  target.ecefX = x;
  target.ecefY = y;
  target.ecefZ = z;
  return EcefToGeodetic(target);
}

void SetRandomSeedTimeSource(GeoTimeSource source) { g_timeSource = source; }

int RandomPointInRadius(GeoPoint& reference, double radius, GeoPoint& target) {
  const std::time_t now = g_timeSource ? g_timeSource() : std::time(nullptr);
  SeedRandom(static_cast<std::uint32_t>(now));

  const double distance = DrawUnit() * radius;
  const double angle = DrawUnit() * 2.0 * kPi;  // from east towards north
  const double east = std::cos(angle) * distance;
  const double north = std::sin(angle) * distance;
  const double up = DrawUnit() * kMaxUpOffset;

  GeodeticToEcef(reference);
  GeoPoint point;
  EnuToGeodetic(reference, east, north, up, point);
  point.east = east;
  point.north = north;
  point.up = up;
  point.longitude = Quantise(point.longitude, 10000.0);
  point.latitude = Quantise(point.latitude, 10000.0);
  point.altitude = Quantise(point.altitude, 10.0);
  GeodeticToEcef(point);
  target = point;
  return 0;
}

int ComputePositionErrors(GeoPoint& measured, GeoPoint& truth, GeoPoint& reference, double& error3d,
                          double& error2d) {
  GeodeticToEcef(reference);
  GeodeticToEcef(measured);
  EcefToEnu(reference, measured.ecefX - reference.ecefX, measured.ecefY - reference.ecefY,
            measured.ecefZ - reference.ecefZ, measured.east, measured.north, measured.up);
  GeodeticToEcef(truth);
  EcefToEnu(reference, truth.ecefX - reference.ecefX, truth.ecefY - reference.ecefY,
            truth.ecefZ - reference.ecefZ, truth.east, truth.north, truth.up);

  const double dx = truth.ecefX - measured.ecefX;
  const double dy = truth.ecefY - measured.ecefY;
  const double dz = truth.ecefZ - measured.ecefZ;
  error3d = std::sqrt(dx * dx + dy * dy + dz * dz);
  const double de = measured.east - truth.east;
  const double dn = measured.north - truth.north;
  error2d = std::sqrt(de * de + dn * dn);

  reference.east = 0.0;
  reference.north = 0.0;
  reference.up = 0.0;
  return 0;
}
