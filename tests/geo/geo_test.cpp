// Geodesy checked against GeographicLib. The station converts degrees with
// pi = 3.1415926536; the oracle is handed the same angle in its own degrees
// (OracleDegrees), so the comparison checks the formulae, not that constant.
#include "geo/Geo.h"

#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>
#include <GeographicLib/Math.hpp>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

constexpr double kTrueToStation = M_PI / geo::kPi;

double OracleDegrees(double stationDegrees) { return stationDegrees / kTrueToStation; }
double StationDegrees(double oracleDegrees) { return oracleDegrees * kTrueToStation; }

const GeographicLib::Geocentric& Earth() {
  static const GeographicLib::Geocentric earth(geo::kSemiMajorAxis,
                                               1.0 - std::sqrt(1.0 - geo::kEccentricitySquared));
  return earth;
}

GeoPoint Geodetic(double latitude, double longitude, double altitude) {
  GeoPoint p;
  p.latitude = latitude;
  p.longitude = longitude;
  p.altitude = altitude;
  return p;
}

// Metres between two geodetic positions given in station degrees, per axis.
struct MetricGap {
  double north, east, up;
};
MetricGap Gap(const GeoPoint& a, const GeoPoint& b) {
  const double radius = geo::kSemiMajorAxis + std::abs(a.altitude);
  const double toRad = geo::kPi / 180.0;
  // Longitudes compared as angles: 180 and its wrapped -180 are one meridian.
  const double dLon = std::remainder((a.longitude - b.longitude) * toRad, 2.0 * M_PI);
  return {(a.latitude - b.latitude) * toRad * radius, dLon * radius * std::cos(a.latitude * toRad),
          a.altitude - b.altitude};
}

const std::vector<double> kLatitudes = {-89.9, -60.0, -33.8688, 0.0, 12.5, 45.0, 48.1173, 89.9};
const std::vector<double> kLongitudes = {-179.9, -122.0838, 0.0, 11.516667, 90.0, 180.0};
const std::vector<double> kAltitudes = {-1000.0, 0.0, 545.4, 20000.0};

TEST(GeoConversion, AgreesWithGeographicLibBothWays) {
  for (double lat : kLatitudes) {
    for (double lon : kLongitudes) {
      for (double h : kAltitudes) {
        SCOPED_TRACE(testing::Message() << "lat " << lat << " lon " << lon << " h " << h);
        double x, y, z;
        Earth().Forward(OracleDegrees(lat), OracleDegrees(lon), h, x, y, z);

        GeoPoint ours = Geodetic(lat, lon, h);
        GeodeticToEcef(ours);
        EXPECT_NEAR(ours.ecefX, x, 1e-4);
        EXPECT_NEAR(ours.ecefY, y, 1e-4);
        EXPECT_NEAR(ours.ecefZ, z, 1e-4);

        GeoPoint back;
        back.ecefX = x;
        back.ecefY = y;
        back.ecefZ = z;
        EcefToGeodetic(back);
        const MetricGap gap = Gap(back, Geodetic(lat, lon, h));
        EXPECT_NEAR(gap.north, 0.0, 1e-4);
        EXPECT_NEAR(gap.east, 0.0, 1e-4);
        EXPECT_NEAR(gap.up, 0.0, 1e-4);

        GeoPoint roundTrip = ours;
        EcefToGeodetic(roundTrip);
        const MetricGap trip = Gap(roundTrip, ours);
        EXPECT_NEAR(trip.north, 0.0, 1e-5);
        EXPECT_NEAR(trip.east, 0.0, 1e-5);
        EXPECT_NEAR(trip.up, 0.0, 1e-5);
      }
    }
  }
}

TEST(GeoConversion, EquatorAndPole) {
  const double b =
      std::sqrt(geo::kSemiMajorAxis * geo::kSemiMajorAxis * (1.0 - geo::kEccentricitySquared));
  for (double h : kAltitudes) {
    SCOPED_TRACE(testing::Message() << "h " << h);
    GeoPoint equator = Geodetic(0.0, 0.0, h);
    GeodeticToEcef(equator);
    EXPECT_DOUBLE_EQ(equator.ecefX, geo::kSemiMajorAxis + h);
    EXPECT_EQ(equator.ecefY, 0.0);
    EXPECT_EQ(equator.ecefZ, 0.0);

    // cos(90 degrees) is not 0 with this pi: X and Y are tiny, and the way
    // back must take the polar branch of the altitude formula.
    GeoPoint pole = Geodetic(90.0, 0.0, h);
    GeodeticToEcef(pole);
    EXPECT_NEAR(pole.ecefX, 0.0, 1e-4);
    EXPECT_NEAR(pole.ecefY, 0.0, 1e-4);
    EXPECT_NEAR(pole.ecefZ, b + h, 1e-6);
    EcefToGeodetic(pole);
    EXPECT_NEAR(pole.altitude, h, 1e-6);
    EXPECT_NEAR(pole.latitude, 90.0, 1e-9);
  }
}

TEST(GeoEnu, EnuToGeodeticUsesTheReferenceEcefAsItStands) {
  GeoPoint reference = Geodetic(0.0, 0.0, 0.0);  // ECEF left at 0 on purpose
  GeoPoint target;
  EnuToGeodetic(reference, 1.0, 2.0, 3.0, target);
  EXPECT_DOUBLE_EQ(target.ecefX, 3.0);
  EXPECT_DOUBLE_EQ(target.ecefY, 1.0);
  EXPECT_DOUBLE_EQ(target.ecefZ, 2.0);
}

// Measured and truth placed around each reference with GeographicLib, up to
// 10 km away; our errors and the offsets left in the records must agree with
// its local Cartesian frame.
TEST(GeoErrors, AgreeWithGeographicLibLocalFrame) {
  struct Reference {
    double lat, lon, h;
  };
  const Reference references[] = {{48.1173, 11.516667, 545.4}, {-33.8688, 151.2093, 20.0},
                                  {37.386, -122.0838, -30.0},  {0.0, 0.0, 0.0},
                                  {89.0, 45.0, 1000.0},        {-70.0, -170.0, 3000.0}};
  struct Enu {
    double e, n, u;
  };
  const Enu offsets[] = {{0, 0, 0},         {3000, -4000, 50},   {-2500, 1200, -30},
                         {7000, 7000, 100}, {-9990, 0, 0},       {0.5, -0.25, 900},
                         {0, 0, -60},       {-4000, -6000, 2000}};

  for (const Reference& r : references) {
    const GeographicLib::LocalCartesian frame(OracleDegrees(r.lat), OracleDegrees(r.lon), r.h,
                                              Earth());
    auto place = [&](const Enu& o) {
      double lat, lon, h;
      frame.Reverse(o.e, o.n, o.u, lat, lon, h);
      return Geodetic(StationDegrees(lat), StationDegrees(lon), h);
    };
    for (const Enu& m : offsets) {
      for (const Enu& t : offsets) {
        SCOPED_TRACE(testing::Message()
                     << "ref " << r.lat << "," << r.lon << " measured " << m.e << "," << m.n << ","
                     << m.u << " truth " << t.e << "," << t.n << "," << t.u);
        GeoPoint measured = place(m);
        GeoPoint truth = place(t);
        GeoPoint reference = Geodetic(r.lat, r.lon, r.h);
        reference.east = reference.north = reference.up = 123.0;
        double error3d = -1.0, error2d = -1.0;
        ComputePositionErrors(measured, truth, reference, error3d, error2d);

        EXPECT_NEAR(error3d,
                    std::sqrt((m.e - t.e) * (m.e - t.e) + (m.n - t.n) * (m.n - t.n) +
                              (m.u - t.u) * (m.u - t.u)),
                    1e-3);
        EXPECT_NEAR(error2d, std::hypot(m.e - t.e, m.n - t.n), 1e-3);
        EXPECT_NEAR(measured.east, m.e, 1e-3);
        EXPECT_NEAR(measured.north, m.n, 1e-3);
        EXPECT_NEAR(measured.up, m.u, 1e-3);
        EXPECT_NEAR(truth.east, t.e, 1e-3);
        EXPECT_NEAR(truth.north, t.n, 1e-3);
        EXPECT_NEAR(truth.up, t.u, 1e-3);
        EXPECT_EQ(reference.east, 0.0);
        EXPECT_EQ(reference.north, 0.0);
        EXPECT_EQ(reference.up, 0.0);
      }
    }
  }
}

std::time_t g_fakeNow = 0;
std::time_t FakeNow() { return g_fakeNow; }

class RandomPoint : public testing::Test {
 protected:
  void SetUp() override { SetRandomSeedTimeSource(&FakeNow); }
  void TearDown() override { SetRandomSeedTimeSource(nullptr); }
};

bool SamePoint(const GeoPoint& a, const GeoPoint& b) {
  return a.ecefX == b.ecefX && a.ecefY == b.ecefY && a.ecefZ == b.ecefZ &&
         a.longitude == b.longitude && a.latitude == b.latitude && a.altitude == b.altitude &&
         a.east == b.east && a.north == b.north && a.up == b.up;
}

TEST_F(RandomPoint, SameSecondGivesSamePointNextSecondAnother) {
  GeoPoint reference = Geodetic(48.1173, 11.516667, 545.4);
  GeoPoint first, second, later;
  g_fakeNow = 1'800'000'000;
  RandomPointInRadius(reference, 1000.0, first);
  RandomPointInRadius(reference, 1000.0, second);
  g_fakeNow += 1;
  RandomPointInRadius(reference, 1000.0, later);
  EXPECT_TRUE(SamePoint(first, second));
  EXPECT_FALSE(SamePoint(first, later));
}

// Over many seconds: inside the radius, 0..200 m up, quantised by truncation
// toward zero from the unquantised point (placed by GeographicLib from the
// offsets the call reports), ECEF matching the quantised coordinates.
TEST_F(RandomPoint, StaysInsideTheRadiusAndTruncatesTowardZero) {
  struct Case {
    double lat, lon, h, radius;
  };
  const Case cases[] = {{48.1173, 11.516667, 545.4, 5000.0},
                        {-33.8688, -70.6, -400.0, 250.0},
                        {0.00005, -0.00005, 0.0, 20.0}};
  for (const Case& c : cases) {
    const GeographicLib::LocalCartesian frame(OracleDegrees(c.lat), OracleDegrees(c.lon), c.h,
                                              Earth());
    for (std::time_t second = 0; second < 300; ++second) {
      SCOPED_TRACE(testing::Message() << "ref " << c.lat << "," << c.lon << " second " << second);
      g_fakeNow = 1'700'000'000 + second * 7919;
      GeoPoint reference = Geodetic(c.lat, c.lon, c.h);
      GeoPoint out;
      out.east = 1e9;
      RandomPointInRadius(reference, c.radius, out);

      GeoPoint expectedReference = Geodetic(c.lat, c.lon, c.h);
      GeodeticToEcef(expectedReference);
      EXPECT_EQ(reference.ecefX, expectedReference.ecefX);

      EXPECT_LT(std::hypot(out.east, out.north), c.radius);
      EXPECT_GE(out.up, 0.0);
      EXPECT_LT(out.up, 200.0);

      double lat, lon, h;
      frame.Reverse(out.east, out.north, out.up, lat, lon, h);
      auto towardZero = [](double quantised, double exact, double step) {
        EXPECT_LE(std::abs(quantised), std::abs(exact) + 1e-9);
        EXPECT_GT(std::abs(quantised), std::abs(exact) - step);
        EXPECT_NEAR(quantised / step, std::round(quantised / step), 1e-6);
      };
      towardZero(out.latitude, StationDegrees(lat), 1e-4);
      towardZero(out.longitude, StationDegrees(lon), 1e-4);
      towardZero(out.altitude, h, 0.1);

      GeoPoint refreshed = out;
      GeodeticToEcef(refreshed);
      EXPECT_EQ(out.ecefX, refreshed.ecefX);
      EXPECT_EQ(out.ecefY, refreshed.ecefY);
      EXPECT_EQ(out.ecefZ, refreshed.ecefZ);
    }
  }
}

TEST_F(RandomPoint, ZeroRadiusStaysAboveTheReference) {
  g_fakeNow = 1'234'567'890;
  GeoPoint reference = Geodetic(48.123456, -11.98765, 523.78);
  GeoPoint out;
  RandomPointInRadius(reference, 0.0, out);
  EXPECT_EQ(out.east, 0.0);
  EXPECT_EQ(out.north, 0.0);
  EXPECT_DOUBLE_EQ(out.latitude, 48.1234);
  EXPECT_DOUBLE_EQ(out.longitude, -11.9876);
  EXPECT_NEAR(out.altitude, std::trunc((523.78 + out.up) * 10.0) / 10.0, 1e-9);
}

// Quantising goes through a 32-bit integer; a value beyond its range
// saturates instead of overflowing the conversion.
TEST_F(RandomPoint, QuantisingBeyondThe32BitRangeSaturates) {
  g_fakeNow = 1'234'567'890;
  GeoPoint reference = Geodetic(10.0, 20.0, 3.0e8);
  GeoPoint out;
  RandomPointInRadius(reference, 0.0, out);
  EXPECT_DOUBLE_EQ(out.altitude, 2147483647 / 10.0);
}

}  // namespace
