// Where the run panel's canvases put a point, and the summary section's
// cells, from the documented geometry and table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "procedures/X47_GNSS_BasicDisplays.h"

namespace {

TEST(BasicDisplays, CanvasPixels) {
  const struct {
    const char* name;
    CanvasPixel pixel;
    int x, y;
  } cases[] = {
      {"50 m north, radius 100 m", SimulatedPointPixel(0.0, 50.0, 100), 110, 70},
      {"at the radius east", SimulatedPointPixel(250.0, 0.0, 250), 190, 110},
      {"rounded down, not toward zero", SimulatedPointPixel(-0.1, 0.1, 100), 109, 109},
      // Below 1 m the radius in whole metres is 0: drawn on the scale of 1 m.
      {"radius 0, at the reference", SimulatedPointPixel(0.0, 0.0, 0), 110, 110},
      {"radius 0, 0.4 m south-west", SimulatedPointPixel(-0.4, -0.4, 0), 78, 142},
      {"receiver 25 m east", PointErrorPixel(25.0, 0.0), 190, 110},
      {"receiver 12.5 m west", PointErrorPixel(-12.5, 0.0), 70, 110},
      {"receiver 40 m east, outside the circle", PointErrorPixel(40.0, 0.0), 238, 110},
      {"receiver 1000 km off, far off the canvas", PointErrorPixel(0.0, -1.0e6), 110, 1000000},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(c.pixel.drawable) << c.name;
    EXPECT_EQ(c.pixel.x, c.x) << c.name;
    EXPECT_EQ(c.pixel.y, c.y) << c.name;
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(PointErrorPixel(nan, 0.0).drawable);
  EXPECT_FALSE(SimulatedPointPixel(0.0, nan, 10).drawable);
}

TEST(BasicDisplays, SummaryCells) {
  BasicTestSettings s;
  s.iterations = 20;
  s.gpsCount = 8;
  s.pCode = 3;  // not 0: "ON"
  s.galileoCount = 2;
  s.glonassCount = 0;
  s.minSatellites = 5;
  s.gpsSvids = "1,5,7";
  s.galileoSvids = "AUTO";
  s.glonassSvids = "";
  s.maxFixTime = 120.5;
  s.refLatitude = -33.9;
  s.refLongitude = 151.2;
  s.refAltitude = 58.25;
  s.radius = 999.6;
  s.timeOffset = -3600.4;
  const std::string section = BasicSummarySection(1, s, 12.3456, -1.0, "PASS(1!)");
  const std::string row =
      "<tr><td>1</td>\n<td>20</td>\n<td>8</td>\n<td>ON</td>\n<td>2</td>\n<td>0</td>\n"
      "<td>5</td>\n<td>1,5,7</td>\n<td>AUTO</td>\n<td></td>\n<td>120.500000</td>\n"
      "<td>-33.900000</td>\n<td>151.200000</td>\n<td>58.250000</td>\n<td>1000</td>\n"
      "<td>-3600</td>\n<td>12.346</td><td>-1.000</td>"
      "<td><font color='green'><b>PASS(1!)</b></font></td>"
      "<td><a href='GNSS_000.html#row1'>LINK</a></td>\n"
      "<td><img width='210px' src='GNSS_000_2DERR_1.jpg' /></td>\n"
      "<td><img width='210px' src='GNSS_000_3DERR_1.jpg' /></td>\n</tr>\n";
  EXPECT_NE(section.find(row), std::string::npos) << section;
  EXPECT_TRUE(section.ends_with("</table>\n<br><hr><hr><br>"));

  // The result's colour goes by its first four characters.
  const struct {
    const char* result;
    const char* cell;
  } colours[] = {
      {"PASS", "<td><font color='green'><b>PASS</b></font></td>"},
      {"PASSED", "<td><font color='green'><b>PASSED</b></font></td>"},
      {"FAIL(2)", "<td><font color='red'><b>FAIL(2)</b></font></td>"},
      {"2D ERR", "<td><font color='red'><b>2D ERR</b></font></td>"},
      {"PAS", "<td><font color='red'><b>PAS</b></font></td>"},
      {"", "<td><font color='red'><b></b></font></td>"},
  };
  for (const auto& c : colours) {
    EXPECT_NE(BasicSummarySection(1, s, 0, 0, c.result).find(c.cell), std::string::npos)
        << c.result;
  }
}

}  // namespace
