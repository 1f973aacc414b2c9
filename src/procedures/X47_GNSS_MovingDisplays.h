// The moving receiver test's run panel, HTML log fragments, graph pictures
// and summary section: the operations RunMovingReceiverTest calls at fixed
// points of its procedure (X47_GNSS_Moving.cpp). Internal to procedures/.
#pragma once

#include <cstdio>
#include <string>

#include "geo/Geo.h"
#include "receiver/Nmea.h"

// The panel loaded from "GNSS_UI_AUTOHO.uir" while the test runs; 0 otherwise.
extern int MovingRunPanel;

// The eleven values of the MOVING page, read at the test's start and again
// for the summary row.
struct MovingTestSettings {
  int duration = 0;
  int gpsCount = 0;
  int galileoCount = 0;
  int glonassCount = 0;
  int minSatellites = 0;
  std::string gpsSvids;
  std::string galileoSvids;
  std::string glonassSvids;
  std::string waypoints;
  double ignoreTime = 0.0;
  double timeOffset = 0.0;
};
MovingTestSettings ReadMovingTestSettings();

// Track canvas: 400 x 330 pixels, the start point in the centre, north up.
inline constexpr int kTrackWidth = 400;
inline constexpr int kTrackHeight = 330;
// Start values of the half-widths (metres) shown between centre and edge.
inline constexpr double kTrackEastScaleStart = 100.0;
inline constexpr double kTrackNorthScaleStart = 82.0;
// The track is cleared whenever the loop time's whole seconds are a multiple of this.
inline constexpr long kTrackClearSeconds = 120;
// Satellite numbers from 0 to this one get a column of the satellite table.
inline constexpr int kSatelliteNumberMax = 9999;
// The table is cut back to this many rows once it holds more than kTableRowsTrimAbove.
inline constexpr int kTableRowsKept = 299;
inline constexpr int kTableRowsTrimAbove = 301;
inline constexpr int kPictureJpegQuality = 100;

void WriteMovingLogHeading(std::FILE* htmlLog, int monitoringSeconds);
void ResetMovingDisplays();
void ClearTrackIfDue(double loopTime);
void UpdateTrackDisplay(const GeoPoint& simulated, const GeoPoint& measured);
void PlotAverageStep(int pass, double previous2d, double new2d, double previous3d, double new3d);
void PlotErrorStep(int pass, double previous2d, double current2d, double previous3d,
                   double current3d);
void RedrawErrorGraphs();
void AddSatelliteRow(const SatelliteTable& satellites, int inViewCount, int usableSatellites,
                     int fixMode);
void SaveMovingGraphPictures(int row);
void TrimSatelliteTable();
void WriteMovingRowResult(std::FILE* htmlLog, int row, const char* result);
void WriteMovingRowEnd(std::FILE* htmlLog, int row);
void AppendMovingSummary(int row);

// Where an east/north offset (metres from the start point) lands on the track
// canvas at the given scales. Offsets beyond any canvas land outside it.
struct TrackPixel {
  int x;
  int y;
};
TrackPixel TrackPixelOf(double east, double north, double eastScale, double northScale);
// The scales as UpdateTrackDisplay grows them for a simulated and a measured
// offset; true when they grew (the canvas is cleared then).
bool GrowTrackScales(double simulatedEast, double simulatedNorth, double measuredEast,
                     double measuredNorth, double* eastScale, double* northScale);
