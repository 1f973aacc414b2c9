// The basic localization test's settings, its run panel displays (point and
// error canvases, error graphs), the graph pictures and its section of
// SUMMARY.html. Used by X47_GNSS_Basic.cpp only (and by the tests).
#pragma once

#include <string>

#include "geo/Geo.h"

// The settings of the BASIC page of the main panel.
struct BasicTestSettings {
  int iterations = 0;
  int gpsCount = 0;
  int pCode = 0;  // 1: GPS P code on
  int galileoCount = 0;
  int glonassCount = 0;
  int minSatellites = 0;
  std::string gpsSvids;  // "," separated or "AUTO"
  std::string galileoSvids;
  std::string glonassSvids;
  double maxFixTime = 0.0;  // s
  double refLatitude = 0.0;
  double refLongitude = 0.0;
  double refAltitude = 0.0;
  double radius = 0.0;      // m
  double timeOffset = 0.0;  // s
};

// Handle of the BASIC tab page of the main panel.
int BasicPage();
BasicTestSettings ReadBasicTestSettings();
// The three SVID lists only (read again at every point).
void ReadBasicSvidLists(BasicTestSettings& settings);

// Canvas geometry: centre (110, 110), 80 pixels per unit distance, a circle of
// 90 pixels.
inline constexpr int kCanvasCentre = 110;
inline constexpr double kCanvasScale = 80.0;
inline constexpr double kErrorCanvasUnitMetres = 25.0;

struct CanvasPixel {
  bool drawable = false;  // false for a position that is not a number
  int x = 0;
  int y = 0;
};
// Where DrawSimulatedPoint puts a point `east`, `north` metres from the
// reference with a radius of `radiusMetres` (below 1 m: drawn as 1 m).
CanvasPixel SimulatedPointPixel(double east, double north, int radiusMetres);
// Where DrawPointError puts a receiver `dEast`, `dNorth` metres from the
// simulated point.
CanvasPixel PointErrorPixel(double dEast, double dNorth);

void InitBasicDisplays();
void DrawSimulatedPoint(const GeoPoint& simulated, int radiusMetres);
void DrawPointError(const GeoPoint& received, const GeoPoint& simulated);
// From the second sampled point on: one red (error) and one blue (running
// average) segment from K - 1 to K on each graph.
void PlotErrorSegments(int sample, double previous2d, double error2d, double previousAverage2d,
                       double average2d, double previous3d, double error3d,
                       double previousAverage3d, double average3d);
void SaveErrorGraphPictures(int row);

// The section WriteBasicSummary appends to SUMMARY.html, from the settings on
// the page, the two averages and the result text shown there.
std::string BasicSummarySection(int row, const BasicTestSettings& settings, double average2d,
                                double average3d, const std::string& result);
void WriteBasicSummary(int row);

// "LOG/<RunLogDirectory>/<name>", every ":" replaced by ".".
std::string RunLogFilePath(const std::string& name);
