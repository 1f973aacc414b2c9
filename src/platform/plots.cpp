#include "platform/plots.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QImageWriter>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {

QColor ColourOf(const std::string& text) {
  QColor colour(QString::fromStdString(text));
  return colour.isValid() ? colour : QColor(Qt::black);
}

struct Range {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  void Add(double v) {
    if (!std::isfinite(v)) return;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  // A range with room around the data, never empty.
  void Settle(double fixedLow, double fixedHigh) {
    if (!(low <= high)) low = 0.0, high = 1.0;
    if (high - low < 1e-9) {
      const double pad = std::max(std::fabs(high) * 0.1, 0.5);
      low -= pad;
      high += pad;
    } else {
      const double pad = (high - low) * 0.04;
      low -= pad;
      high += pad;
    }
    if (std::isfinite(fixedLow)) low = fixedLow;
    if (std::isfinite(fixedHigh)) high = fixedHigh;
    if (!(low < high)) high = low + 1.0;
  }
};

}  // namespace

bool SavePlotPng(const std::string& path, const PlotSpec& plot, std::string* error) {
  if (QApplication::instance() == nullptr) {
    if (error) *error = path + ": no user-interface run-time to draw with";
    return false;
  }
  const int width = std::clamp(plot.width, 100, 4000);
  const int height = std::clamp(plot.height, 100, 4000);

  // The scene owns the chart and deletes it with everything in it.
  QGraphicsScene scene;
  auto* chart = new QChart();
  scene.addItem(chart);
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->setTitle(QString::fromStdString(plot.title));
  chart->setBackgroundRoundness(0);
  chart->resize(width, height);

  bool hasColumns = false;
  Range xs, ys;
  for (const PlotSeries& s : plot.series) {
    if (s.style == PlotSeries::Style::kColumns) {
      hasColumns = true;
      ys.Add(0.0);
      for (double v : s.y) ys.Add(v);
      continue;
    }
    const std::size_t n = std::min(s.x.size(), s.y.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (std::isfinite(s.x[i]) && std::isfinite(s.y[i])) {
        xs.Add(s.x[i]);
        ys.Add(s.y[i]);
      }
    }
  }
  xs.Settle(plot.xMin, plot.xMax);
  ys.Settle(plot.yMin, plot.yMax);
  if (plot.equalScales) {
    // The plot area is about the chart less its margins; widen the shorter
    // span so that a circle stays round.
    const double areaW = width - 120.0, areaH = height - 120.0;
    const double perPixel = std::max((xs.high - xs.low) / areaW, (ys.high - ys.low) / areaH);
    const double cx = (xs.low + xs.high) / 2, cy = (ys.low + ys.high) / 2;
    xs.low = cx - perPixel * areaW / 2, xs.high = cx + perPixel * areaW / 2;
    ys.low = cy - perPixel * areaH / 2, ys.high = cy + perPixel * areaH / 2;
  }

  QAbstractAxis* axisX = nullptr;
  auto* axisY = new QValueAxis();
  axisY->setRange(ys.low, ys.high);
  axisY->setTitleText(QString::fromStdString(plot.yTitle));
  axisY->setLabelFormat("%.3g");
  // Round tick values, except where the scales must stay equal.
  if (!plot.equalScales) axisY->applyNiceNumbers();
  if (hasColumns) {
    auto* categories = new QBarCategoryAxis();
    for (const std::string& c : plot.categories) categories->append(QString::fromStdString(c));
    axisX = categories;
  } else {
    auto* values = new QValueAxis();
    values->setRange(xs.low, xs.high);
    values->setLabelFormat("%.3g");
    if (!plot.equalScales) values->applyNiceNumbers();
    axisX = values;
  }
  axisX->setTitleText(QString::fromStdString(plot.xTitle));
  chart->addAxis(axisX, Qt::AlignBottom);
  chart->addAxis(axisY, Qt::AlignLeft);

  for (const PlotSeries& s : plot.series) {
    QAbstractSeries* series = nullptr;
    const QColor colour = ColourOf(s.colour);
    if (s.style == PlotSeries::Style::kColumns) {
      auto* bars = new QBarSeries();
      auto* set = new QBarSet(QString::fromStdString(s.name));
      for (double v : s.y) *set << (std::isfinite(v) ? v : 0.0);
      set->setColor(colour);
      set->setBorderColor(colour.darker());
      bars->append(set);
      bars->setBarWidth(0.9);
      series = bars;
    } else {
      QXYSeries* xy = nullptr;
      if (s.style == PlotSeries::Style::kPoints) {
        // A line series with its points shown and no line: a scatter series
        // makes a graphics item per point, which takes seconds for a drive.
        auto* points = new QLineSeries();
        QPen pen(colour);
        pen.setStyle(Qt::NoPen);
        points->setPen(pen);
        points->setPointsVisible(true);
        points->setMarkerSize(std::max(2.0, s.width));
        xy = points;
      } else {
        auto* line = new QLineSeries();
        QPen pen(colour);
        pen.setWidthF(s.width);
        if (s.dashed) pen.setStyle(Qt::DashLine);
        line->setPen(pen);
        xy = line;
      }
      const std::size_t n = std::min(s.x.size(), s.y.size());
      QList<QPointF> points;
      points.reserve(static_cast<qsizetype>(n));
      for (std::size_t i = 0; i < n; ++i)
        if (std::isfinite(s.x[i]) && std::isfinite(s.y[i])) points.append(QPointF(s.x[i], s.y[i]));
      xy->replace(points);
      series = xy;
    }
    series->setName(QString::fromStdString(s.name));
    chart->addSeries(series);
    series->attachAxis(axisX);
    series->attachAxis(axisY);
  }
  // Unnamed series (marks, circles) stay out of the legend.
  const auto markers = chart->legend()->markers();
  for (QLegendMarker* marker : markers)
    if (marker->label().isEmpty()) marker->setVisible(false);
  int named = 0;
  for (const PlotSeries& s : plot.series) named += s.name.empty() ? 0 : 1;
  chart->legend()->setVisible(named > 1);
  chart->legend()->setAlignment(Qt::AlignBottom);

  // Lay the chart out now: nothing else runs the event loop here.
  QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  chart->resize(width, height);
  if (plot.equalScales) {
    // Now that the plot area is known, give both axes the same metres per
    // pixel around the middle of the data.
    const QRectF area = chart->plotArea();
    if (area.width() > 10 && area.height() > 10) {
      const double perPixel =
          std::max((xs.high - xs.low) / area.width(), (ys.high - ys.low) / area.height());
      const double cx = (xs.low + xs.high) / 2, cy = (ys.low + ys.high) / 2;
      axisX->setRange(cx - perPixel * area.width() / 2, cx + perPixel * area.width() / 2);
      axisY->setRange(cy - perPixel * area.height() / 2, cy + perPixel * area.height() / 2);
      QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
  }

  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(0, 0, width, height), QRectF(0, 0, width, height));
  }
  QImageWriter writer(QString::fromStdString(path), "png");
  if (!writer.write(image)) {
    if (error) *error = path + ": " + writer.errorString().toStdString();
    return false;
  }
  return true;
}
