#include "report/StatisticsPage.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

#include "platform/files.h"
#include "platform/plots.h"
#include "report/HtmlText.h"
#include "report/ProgressLog.h"
#include "text/CText.h"

namespace {

constexpr int kCircleSegments = 180;
constexpr std::size_t kCdfSteps = 800;
constexpr int kTtffBins = 10;
const char kColour2d[] = "#1f77b4";
const char kColour3d[] = "#d62728";
const char kColourMark[] = "#555555";
const char kColourCep50[] = "#2ca02c";
const char kColourCep95[] = "#ff7f0e";

// Text from outside (the identification, test names) as HTML text.
std::string Html(const std::string& text) { return EscapeHtmlAttribute(text); }

std::string Metres(double v) { return std::isfinite(v) ? FormatC("%.2f m", v) : "n/a"; }
std::string Seconds(double v) { return std::isfinite(v) ? FormatC("%.1f s", v) : "n/a"; }

struct Figure {
  std::string file;  // STAT_<id>_<view>.png
  std::string alt;
  std::string definition;  // the line under it
  PlotSpec plot;
  bool drawn = false;
  std::string failure;
};

struct Samples {
  std::vector<double> e2, e3, east, north;
  std::vector<double> time, time2d, time3d;  // moving: elapsed of each sample
};

Samples SamplesOf(const TestResults& t) {
  Samples s;
  const auto add = [&](const ResultsErrors& e) {
    s.e2.push_back(e.error2d);
    s.e3.push_back(e.error3d);
    s.east.push_back(e.east);
    s.north.push_back(e.north);
  };
  for (const BasicPointResult& p : t.points)
    if (p.outcome == ResultsOutcome::kSampled && p.errors.present) add(p.errors);
  for (const MovingPassResult& p : t.passes)
    if (p.outcome == ResultsOutcome::kSampled && p.errors.present && p.goodFix &&
        !p.inIgnoreWindow) {
      add(p.errors);
      s.time.push_back(p.elapsed);
    }
  return s;
}

// The empirical distribution as a staircase: share (%) at or below each value.
PlotSeries CdfSeries(std::vector<double> values, const std::string& name, const char* colour) {
  std::sort(values.begin(), values.end());
  PlotSeries s;
  s.name = name;
  s.colour = colour;
  const std::size_t n = values.size();
  // Beyond kCdfSteps samples every step would be finer than a pixel: the
  // staircase keeps every kCdfSteps-th part of the samples (and the last).
  const std::size_t stride = std::max<std::size_t>(1, (n + kCdfSteps - 1) / kCdfSteps);
  double below = 0.0;
  s.x.push_back(0.0);
  s.y.push_back(0.0);
  for (std::size_t i = stride - 1; i < n + stride - 1; i += stride) {
    const std::size_t k = std::min(i, n - 1);
    s.x.push_back(values[k]);
    s.y.push_back(below);
    below = 100.0 * static_cast<double>(k + 1) / static_cast<double>(n);
    s.x.push_back(values[k]);
    s.y.push_back(below);
  }
  return s;
}

PlotSeries Mark(const char* colour, std::vector<double> x, std::vector<double> y,
                std::string name = "") {
  PlotSeries s;
  s.name = std::move(name);
  s.colour = colour;
  s.dashed = true;
  s.width = 1.5;
  s.x = std::move(x);
  s.y = std::move(y);
  return s;
}

PlotSeries Circle(double radius, const char* colour, const std::string& name) {
  PlotSeries s;
  s.name = name;
  s.colour = colour;
  s.width = 2.0;
  for (int i = 0; i <= kCircleSegments; ++i) {
    const double a = 2.0 * std::numbers::pi * i / kCircleSegments;
    s.x.push_back(radius * std::cos(a));
    s.y.push_back(radius * std::sin(a));
  }
  return s;
}

std::vector<Figure> FiguresOf(const TestResults& t) {
  std::vector<Figure> figures;
  const Samples s = SamplesOf(t);
  const AccuracyStatistics& a = t.accuracy;
  const std::string stem = "STAT_" + t.id + "_";
  if (!s.e2.empty()) {
    Figure cdf;
    cdf.file = stem + "cdf.png";
    cdf.alt = "Cumulative distribution of the 2D and 3D errors";
    cdf.definition =
        "Share of the samples whose error is at or below the value on the horizontal axis, for "
        "the horizontal (2D) and the 3D error; dashed: the 50 % and 95 % levels and the CEP50 "
        "and CEP95 they give.";
    cdf.plot.title = "Cumulative distribution of the position errors";
    cdf.plot.xTitle = "error [m]";
    cdf.plot.yTitle = "samples at or below [%]";
    cdf.plot.series.push_back(CdfSeries(s.e2, "2D error", kColour2d));
    cdf.plot.series.push_back(CdfSeries(s.e3, "3D error", kColour3d));
    const double xMax = std::max(a.max2d, a.max3d) * 1.05;
    cdf.plot.xMin = 0.0;
    cdf.plot.yMin = 0.0;
    cdf.plot.yMax = 100.0;
    cdf.plot.series.push_back(Mark(kColourMark, {0.0, xMax}, {50.0, 50.0}));
    cdf.plot.series.push_back(Mark(kColourMark, {0.0, xMax}, {95.0, 95.0}));
    cdf.plot.series.push_back(
        Mark(kColourCep50, {a.cep50, a.cep50}, {0.0, 50.0}, "CEP50 " + Metres(a.cep50)));
    cdf.plot.series.push_back(
        Mark(kColourCep95, {a.cep95, a.cep95}, {0.0, 95.0}, "CEP95 " + Metres(a.cep95)));
    figures.push_back(std::move(cdf));

    Figure scatter;
    scatter.file = stem + "scatter.png";
    scatter.alt = "East and north errors with the CEP50 and CEP95 circles";
    scatter.definition =
        "Each sample's horizontal error as east and north offset of the fix from the truth; the "
        "circles around the truth have the radius CEP50 (half the samples inside) and CEP95.";
    scatter.plot.title = "Horizontal errors";
    scatter.plot.xTitle = "east error [m]";
    scatter.plot.yTitle = "north error [m]";
    scatter.plot.equalScales = true;
    scatter.plot.height = 600;
    PlotSeries points;
    points.name = "fix - truth";
    points.style = PlotSeries::Style::kPoints;
    points.colour = kColour2d;
    points.width = 5.0;
    points.x = s.east;
    points.y = s.north;
    scatter.plot.series.push_back(std::move(points));
    scatter.plot.series.push_back(Circle(a.cep50, kColourCep50, "CEP50 " + Metres(a.cep50)));
    scatter.plot.series.push_back(Circle(a.cep95, kColourCep95, "CEP95 " + Metres(a.cep95)));
    figures.push_back(std::move(scatter));
  }

  if (t.kind == ResultsTestKind::kBasic) {
    std::vector<double> ttff;
    for (const BasicPointResult& p : t.points)
      if (std::isfinite(p.timeToFix)) ttff.push_back(p.timeToFix);
    if (!ttff.empty()) {
      Figure histogram;
      histogram.file = stem + "ttff.png";
      histogram.alt = "Histogram of the times to fix";
      histogram.definition =
          "Number of points whose first wait reached an accepted 3D fix within each interval of "
          "time since the receiver was initialised; points without such a fix are not shown.";
      histogram.plot.title = "Time to fix";
      histogram.plot.xTitle = "time to fix [s]";
      histogram.plot.yTitle = "points";
      histogram.plot.yMin = 0.0;
      const double largest = *std::max_element(ttff.begin(), ttff.end());
      const double width = std::max(1.0, std::ceil(largest / kTtffBins));
      const int bins = std::max(1, static_cast<int>(std::floor(largest / width)) + 1);
      PlotSeries columns;
      columns.name = "points";
      columns.style = PlotSeries::Style::kColumns;
      columns.colour = kColour2d;
      columns.y.assign(static_cast<std::size_t>(bins), 0.0);
      for (double v : ttff) {
        const int bin = std::clamp(static_cast<int>(std::floor(v / width)), 0, bins - 1);
        columns.y[static_cast<std::size_t>(bin)] += 1.0;
      }
      for (int i = 0; i < bins; ++i)
        histogram.plot.categories.push_back(FormatC("%g-%g", i * width, (i + 1) * width));
      histogram.plot.series.push_back(std::move(columns));
      figures.push_back(std::move(histogram));
    }
  } else if (!s.time.empty()) {
    Figure along;
    along.file = stem + "time.png";
    along.alt = "Position errors along the drive";
    along.definition =
        "The 2D and 3D error of every good fix outside the ignore window against the time since "
        "the monitoring started; the dashed line is the CEP95 of each tenth of the drive.";
    along.plot.title = "Errors along the drive";
    along.plot.xTitle = "time since start [s]";
    along.plot.yTitle = "error [m]";
    along.plot.xMin = 0.0;
    along.plot.yMin = 0.0;
    PlotSeries e2;
    e2.name = "2D error";
    e2.style = PlotSeries::Style::kPoints;
    e2.colour = kColour2d;
    e2.width = 3.0;
    e2.x = s.time;
    e2.y = s.e2;
    PlotSeries e3 = e2;
    e3.name = "3D error";
    e3.colour = kColour3d;
    e3.y = s.e3;
    along.plot.series.push_back(std::move(e3));
    along.plot.series.push_back(std::move(e2));
    // One level per window, so that windows without a sample leave a gap.
    bool named = false;
    for (const DriveWindow& w : t.drive.windows) {
      if (w.samples == 0) continue;
      along.plot.series.push_back(Mark(kColourCep95, {w.start, w.end}, {w.cep95, w.cep95},
                                       named ? "" : "CEP95 per window"));
      named = true;
    }
    figures.push_back(std::move(along));
  }
  return figures;
}

void Row(std::string& out, const std::string& name, const std::string& value,
         const std::string& definition) {
  out += "<tr><th>" + Html(name) + "</th><td>" + Html(value) + "</td><td>" + Html(definition) +
         "</td></tr>\n";
}

void TestSection(std::string& out, const TestResults& t, const std::vector<Figure>& figures) {
  out += "<section id='test" + Html(t.id) + "'>\n<h2>Test " + Html(t.id) + ": " + Html(t.name) +
         " &mdash; <span class='" + (t.passed ? "pass" : "fail") + "'>" + Html(t.verdict) +
         "</span></h2>\n";
  const AccuracyStatistics& a = t.accuracy;
  out += "<table>\n<tr><th>figure</th><th>value</th><th>definition</th></tr>\n";
  Row(out, "samples", std::to_string(a.samples),
      t.kind == ResultsTestKind::kBasic
          ? "points whose errors were measured"
          : "good fixes with measured errors outside the ignore window");
  Row(out, "CEP50", Metres(a.cep50), "50th percentile of the horizontal (2D) errors");
  Row(out, "CEP95", Metres(a.cep95), "95th percentile of the horizontal errors");
  Row(out, "2DRMS", Metres(a.drms2), "twice the root mean square of the horizontal errors");
  Row(out, "vertical 95 %", Metres(a.vertical95), "95th percentile of the absolute up errors");
  Row(out, "SEP50", Metres(a.sep50), "50th percentile of the 3D errors");
  Row(out, "mean 2D / largest 2D", Metres(a.mean2d) + " / " + Metres(a.max2d),
      "arithmetic mean and maximum of the horizontal errors");
  Row(out, "mean 3D / largest 3D", Metres(a.mean3d) + " / " + Metres(a.max3d),
      "arithmetic mean and maximum of the 3D errors");
  if (t.kind == ResultsTestKind::kBasic) {
    const TimeToFixStatistics& f = t.timeToFix;
    Row(out, "points with a fix / without", FormatC("%d / %d", f.fixes, f.withoutFix),
        "first waits that reached an accepted 3D fix, and those that did not");
    Row(out, "time to fix: mean / median", Seconds(f.mean) + " / " + Seconds(f.median),
        "seconds from the receiver's initialisation to its first accepted 3D fix");
    Row(out, "time to fix: 95th percentile / largest", Seconds(f.p95) + " / " + Seconds(f.max),
        "over the points with a fix");
  } else {
    const DriveStatistics& d = t.drive;
    Row(out, "availability",
        std::isfinite(d.availability) ? FormatC("%.1f %% (%d of %d passes)", 100.0 * d.availability,
                                                d.goodFixPasses, d.passes)
                                      : "n/a",
        "share of the monitoring passes outside the ignore window with a good fix (plausible, "
        "enough usable satellites)");
  }
  out += "</table>\n";

  if (t.kind == ResultsTestKind::kMoving) {
    out +=
        "<h3>Errors over time</h3>\n<table>\n<tr><th>window [s]</th><th>passes</th>"
        "<th>good fixes</th><th>samples</th><th>CEP50</th><th>CEP95</th><th>3D 95 %</th>"
        "</tr>\n";
    for (const DriveWindow& w : t.drive.windows) {
      out += FormatC("<tr><td>%g&ndash;%g</td><td>%d</td><td>%d</td><td>%d</td>", w.start, w.end,
                     w.passes, w.goodFixPasses, w.samples);
      out += "<td>" + Metres(w.cep50) + "</td><td>" + Metres(w.cep95) + "</td><td>" +
             Metres(w.p95_3d) + "</td></tr>\n";
    }
    out +=
        "</table>\n<p class='definition'>The drive cut into ten equal windows of time since "
        "the monitoring started; percentiles over the good fixes of each window.</p>\n";
  }

  if (figures.empty()) out += "<p>No sample was measured: no figure.</p>\n";
  for (const Figure& f : figures) {
    out += "<figure>\n";
    if (f.drawn)
      out += FormatC("<img src='%s' alt='%s' width='%d' height='%d'>\n", Html(f.file).c_str(),
                     Html(f.alt).c_str(), f.plot.width, f.plot.height);
    else
      out += "<p class='fail'>" + Html(f.alt) + ": not drawn (" + Html(f.failure) + ")</p>\n";
    out += "<figcaption>" + Html(f.definition) + "</figcaption>\n</figure>\n";
  }
  out += "</section>\n";
}

}  // namespace

int WriteStatisticsPage(const ResultsRun& run, const std::string& directory, std::string* error) {
  std::string out;
  out.reserve(16384);
  out += "<!DOCTYPE html>\n<html lang='en'>\n<head>\n<meta charset='utf-8'>\n<title>Statistics " +
         Html(run.directory) +
         "</title>\n<style>\nbody{font-family:sans-serif;margin:2em;max-width:60em}\n"
         "table{border-collapse:collapse;margin:1em 0}\n"
         "th,td{border:1px solid #999;padding:0.2em 0.6em;text-align:left}\n"
         ".pass{color:#008000}.fail{color:#c00000}\n"
         "figure{margin:1.5em 0}figcaption,.definition{font-size:0.9em;color:#333}\n"
         "img{max-width:100%;height:auto}\n</style>\n</head>\n<body>\n";
  out += "<h1>Statistics of " + Html(run.directory) + "</h1>\n<p>Station " +
         Html(StationVersion()) + "; simulator " + Html(run.simulatorIdentification) +
         "; receiver type " + std::to_string(run.receiverType) + " on port " +
         std::to_string(run.receiverPort) +
         ". Machine-readable: <a href='results.json'>"
         "results.json</a>.</p>\n";
  out +=
      "<p class='definition'>Percentiles are by nearest rank: the P-th percentile of n "
      "values is the ceil(P/100 &times; n)-th smallest, so that at least P % of the values "
      "are at or below it. Errors are fix minus truth; horizontal (2D) errors lie in the "
      "tangent plane of the test's reference point.</p>\n";

  int status = 0;
  std::string failures;
  for (const TestResults& t : run.tests) {
    if (!t.ended) continue;
    // An earlier test's figures do not change: in a sequence only the test
    // that just ended is drawn (a missing picture is drawn again).
    const bool latest = &t == &run.tests.back();
    std::vector<Figure> figures = FiguresOf(t);
    for (Figure& f : figures) {
      std::string path = directory + "/" + f.file;
      ReplaceChar(path.data(), ':', '.');
      std::error_code ignored;
      if (!latest && std::filesystem::is_regular_file(path, ignored)) {
        f.drawn = true;
        continue;
      }
      f.drawn = SavePlotPng(path, f.plot, &f.failure);
      if (!f.drawn) {
        if (!failures.empty()) failures += "; ";
        failures += f.failure;
        if (status == 0) status = EIO;
      }
    }
    TestSection(out, t, figures);
  }
  out += "</body>\n</html>\n";

  std::string path = directory + "/STATISTICS.html";
  ReplaceChar(path.data(), ':', '.');
  const int written = WriteFileAtomically(path, out);
  if (written != 0) {
    if (error) *error = ErrnoText(path, written);
    return written;
  }
  if (status != 0 && error) *error = failures;
  return status;
}
