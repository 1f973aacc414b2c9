// Pictures of data for the station's pages: a chart drawn off-screen with
// Qt Charts and saved as PNG. The caller describes the chart in plain data;
// nothing of Qt shows through. Needs the user-interface run-time (started by
// the station, or by a test).
#pragma once

#include <limits>
#include <string>
#include <vector>

struct PlotSeries {
  enum class Style { kLine, kPoints, kColumns };
  std::string name;  // legend text; "" keeps it out of the legend
  Style style = Style::kLine;
  std::string colour = "#1f77b4";  // "#rrggbb"
  double width = 2.0;              // line width or point size, pixels
  bool dashed = false;
  std::vector<double> x;  // kColumns: ignored (one column per category)
  std::vector<double> y;
};

struct PlotSpec {
  std::string title;
  std::string xTitle;
  std::string yTitle;
  std::vector<PlotSeries> series;
  // kColumns series share these labels, one per column.
  std::vector<std::string> categories;
  // Axis ranges; NaN takes the range from the data.
  double xMin = std::numeric_limits<double>::quiet_NaN();
  double xMax = std::numeric_limits<double>::quiet_NaN();
  double yMin = std::numeric_limits<double>::quiet_NaN();
  double yMax = std::numeric_limits<double>::quiet_NaN();
  bool equalScales = false;  // one metre is as long on both axes (a map)
  int width = 800;           // pixels
  int height = 500;
};

// Draws the chart and writes it to `path` as PNG. False with the reason in
// *error (no run-time, a file that cannot be written).
bool SavePlotPng(const std::string& path, const PlotSpec& plot, std::string* error);
