// WGS-84 conversions, local east/north/up offsets, random test points and the
// 2D/3D position errors by which every test judges a receiver.
//
// Every routine returns 0. Angles in GeoPoint are degrees, converted with the
// station's value of pi (kPi) everywhere, so figures match the logs of earlier
// runs to the last digit.
#pragma once

#include <ctime>

namespace geo {
inline constexpr double kSemiMajorAxis = 6378137.0;               // a, metres
inline constexpr double kEccentricitySquared = 0.00669437999014;  // e^2
inline constexpr double kPi = 3.1415926536;
}  // namespace geo

// One position in two representations that are NOT kept in step: a routine
// says which fields it reads and writes. east/north/up are offsets from the
// reference point the last writer used.
struct GeoPoint {
  double ecefX = 0.0;      // m, towards latitude 0, longitude 0
  double ecefY = 0.0;      // m, towards latitude 0, longitude 90 E
  double ecefZ = 0.0;      // m, towards the north pole
  double longitude = 0.0;  // degrees, east positive
  double latitude = 0.0;   // degrees, north positive
  double altitude = 0.0;   // m above the ellipsoid
  double east = 0.0;       // m
  double north = 0.0;      // m
  double up = 0.0;         // m
};

// Reads longitude, latitude, altitude; writes ecefX/Y/Z.
int GeodeticToEcef(GeoPoint& point);

// Reads ecefX/Y/Z; writes latitude, longitude, altitude (Bowring, one step).
int EcefToGeodetic(GeoPoint& point);

// Rotates an ECEF difference into the tangent plane at the reference's
// latitude/longitude.
int EcefToEnu(const GeoPoint& reference, double dx, double dy, double dz, double& east,
              double& north, double& up);

// Target = reference's ECEF fields AS THEY STAND plus the rotated offsets; then
// its geodetic fields from EcefToGeodetic. Run GeodeticToEcef on the
// reference first.
int EnuToGeodetic(const GeoPoint& reference, double east, double north, double up,
                  GeoPoint& target);

// A random point within `radius` metres of the reference, 0..200 m above it,
// geodetic fields quantised to 1e-4 degree and 0.1 m. The generator is
// re-seeded from the calendar time in whole seconds at every call, so two
// calls within one second give the same point. Refreshes the reference's ECEF
// fields; writes every field of the target (east/north/up unquantised).
int RandomPointInRadius(GeoPoint& reference, double radius, GeoPoint& target);

// Where RandomPointInRadius takes its seed from (default std::time). The
// station points it at its own (possibly scaled) calendar clock; tests fix it.
using GeoTimeSource = std::time_t (*)();
void SetRandomSeedTimeSource(GeoTimeSource source);

// 3D error (straight-line ECEF distance) and 2D error (east/north distance in
// the reference's tangent plane). Side effects the displays rely on: ECEF of
// all three refreshed; east/north/up of measured and truth = their offsets from
// the reference; the reference's own east/north/up = 0.
int ComputePositionErrors(GeoPoint& measured, GeoPoint& truth, GeoPoint& reference, double& error3d,
                          double& error2d);
