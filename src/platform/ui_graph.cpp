// Graphs of the panel layer on Qt Charts. A graph keeps one line series per
// colour and run of connected segments: a line that starts where the last
// line of its colour ended extends that series, so a curve plotted segment by
// segment costs one point per call, not one series. New points wait in the
// graph and reach the series in one batch: on the next turn of the event loop
// (the first moment the graph can be seen redrawn), before its image is
// taken, or, while it redraws only on RefreshGraph, then.
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QEvent>
#include <QLineSeries>
#include <QPointF>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_internal.h"

using namespace ui_internal;

namespace {

constexpr const char* kDefaultXLabel = "sample";
constexpr const char* kDefaultYLabel = "error [m]";
const QEvent::Type kFlushEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class StationGraph : public QChartView {
 public:
  explicit StationGraph(QWidget* parent) : QChartView(parent) {
    auto* chart = new QChart();
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    xAxis_ = new QValueAxis(chart);
    yAxis_ = new QValueAxis(chart);
    xAxis_->setLabelFormat("%g");
    yAxis_->setLabelFormat("%g");
    chart->addAxis(xAxis_, Qt::AlignBottom);
    chart->addAxis(yAxis_, Qt::AlignLeft);
    // The view made a chart of its own; setChart lets go of it without
    // deleting it.
    QChart* const made = this->chart();
    setChart(chart);
    delete made;
    setRenderHint(QPainter::Antialiasing);
    UpdateTitles();
    ResetRanges();
  }

  int Plot(double x1, double y1, double x2, double y2, int color) {
    const int handle = nextHandle_++;
    lines_.push_back({x1, y1, x2, y2, color, handle});
    Extend(lines_.back());
    if (autoRefresh_ && !flushPosted_) {
      // Each batch costs a layout of the whole series: one per turn of the
      // event loop, not one per line.
      flushPosted_ = true;
      QCoreApplication::postEvent(this, new QEvent(kFlushEvent));
    }
    return handle;
  }

  // Every plot (handle -1) or one of them; false when there is no such plot.
  bool Delete(int handle) {
    if (handle == VAL_ALL_OBJECTS) {
      lines_.clear();
      ClearSeries();
      ResetRanges();
      return true;
    }
    auto it = std::find_if(lines_.begin(), lines_.end(),
                           [handle](const Line& line) { return line.handle == handle; });
    if (it == lines_.end()) return false;
    // Rare: the runs are rebuilt from the lines that remain.
    lines_.erase(it);
    ClearSeries();
    ResetRanges();
    for (const Line& line : lines_) Extend(line);
    Flush();
    return true;
  }

  void SetAutoRefresh(bool on) {
    autoRefresh_ = on;
    if (on) Flush();
  }

  // Pushes the waiting points to their series and fits the axes.
  void Flush() {
    for (Run& run : runs_) {
      if (run.pending.isEmpty()) continue;
      if (run.series == nullptr) {
        run.series = new QLineSeries();
        chart()->addSeries(run.series);
        // After adding: the chart's theme colours a series as it is added.
        run.series->setColor(QColor(QRgb(static_cast<unsigned>(run.color) & 0xFFFFFFu)));
        run.series->attachAxis(xAxis_);
        run.series->attachAxis(yAxis_);
      }
      // One replace, not an append: the series' append of a list adds the
      // points one by one, and the chart lays out every point again for each.
      run.series->replace(run.series->points() + run.pending);
      run.pending.clear();
    }
    FitAxes();
    viewport()->update();
  }

 protected:
  bool event(QEvent* event) override {
    // The panel resource gives the axis titles as dynamic properties, set
    // after the loader made the widget.
    if (event->type() == QEvent::DynamicPropertyChange) UpdateTitles();
    if (event->type() == kFlushEvent) {
      flushPosted_ = false;
      if (autoRefresh_) Flush();
      return true;
    }
    return QChartView::event(event);
  }

 private:
  struct Line {
    double x1, y1, x2, y2;
    int color;
    int handle;
  };
  // A run of connected segments of one colour; `pending` holds its points
  // not yet in the series (all of them while the series does not exist).
  struct Run {
    int color = 0;
    QLineSeries* series = nullptr;
    QList<QPointF> pending;
    QPointF end;
  };

  void Extend(const Line& line) {
    const QPointF from(line.x1, line.y1), to(line.x2, line.y2);
    auto last = lastRunOfColor_.find(line.color);
    if (last != lastRunOfColor_.end() && runs_[last->second].end == from) {
      Run& run = runs_[last->second];
      run.pending.append(to);
      run.end = to;
    } else {
      Run run;
      run.color = line.color;
      run.pending = {from, to};
      run.end = to;
      runs_.push_back(std::move(run));
      lastRunOfColor_[line.color] = runs_.size() - 1;
    }
    Include(from);
    Include(to);
  }

  void Include(const QPointF& p) {
    minX_ = std::min(minX_, p.x());
    maxX_ = std::max(maxX_, p.x());
    minY_ = std::min(minY_, p.y());
    maxY_ = std::max(maxY_, p.y());
  }

  void ClearSeries() {
    chart()->removeAllSeries();
    runs_.clear();
    lastRunOfColor_.clear();
  }

  void ResetRanges() {
    minX_ = maxX_ = minY_ = maxY_ = 0.0;
    shownMinX_ = shownMinY_ = 0.0;
    shownMaxX_ = shownMaxY_ = -1.0;  // forces the next fit
    FitAxes();
  }

  // Ticks at 1, 2 or 5 times a power of ten from 0, about five of them: a fixed
  // tick count over a nice range still labels 100 in thirds (33.3333).
  // Fixed ticks while the range moves: dynamic ticks at the old, small step
  // over a new, large range would make an axis item per step (a 10,000-pass
  // drive stalled on that).
  static void SetRangeAtRoundSteps(QValueAxis* axis, double min, double max) {
    axis->setTickType(QValueAxis::TicksFixed);
    axis->setRange(min, max);
    axis->applyNiceNumbers();
    TickAtRoundSteps(axis);
  }

  static void TickAtRoundSteps(QValueAxis* axis) {
    const double range = axis->max() - axis->min();
    if (!(range > 0.0)) return;
    const double raw = range / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
      step = factor * magnitude;
      if (step >= raw) break;
    }
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    axis->setTickInterval(step);
  }

  // The axes start at 0 (or below it, for negative data) and grow to the
  // data; they are rounded to readable ticks only when the data leaves them,
  // and start again from nothing when the plots are deleted.
  void FitAxes() {
    const double maxX = std::max(maxX_, 1.0), maxY = std::max(maxY_, 1.0);
    if (minX_ < shownMinX_ || maxX > shownMaxX_) {
      SetRangeAtRoundSteps(xAxis_, minX_, maxX);
      shownMinX_ = xAxis_->min();
      shownMaxX_ = xAxis_->max();
    }
    if (minY_ < shownMinY_ || maxY > shownMaxY_) {
      SetRangeAtRoundSteps(yAxis_, minY_, maxY * 1.05);
      shownMinY_ = yAxis_->min();
      shownMaxY_ = yAxis_->max();
    }
  }

  void UpdateTitles() {
    const QString x = property("xLabel").toString();
    const QString y = property("yLabel").toString();
    xAxis_->setTitleText(x.isEmpty() ? QString(kDefaultXLabel) : x);
    yAxis_->setTitleText(y.isEmpty() ? QString(kDefaultYLabel) : y);
  }

  QValueAxis* xAxis_ = nullptr;
  QValueAxis* yAxis_ = nullptr;
  std::vector<Line> lines_;  // every plot, for deleting one of them
  std::deque<Run> runs_;
  std::unordered_map<int, std::size_t> lastRunOfColor_;
  bool autoRefresh_ = true;
  bool flushPosted_ = false;
  int nextHandle_ = 1;
  double minX_ = 0, maxX_ = 0, minY_ = 0, maxY_ = 0;
  double shownMinX_ = 0, shownMaxX_ = -1, shownMinY_ = 0, shownMaxY_ = -1;
};

StationGraph* Graph(int panel, int control, const char* operation) {
  QWidget* w = ControlWidget(panel, control);
  if (w == nullptr) {
    Fail(kErrBadControl, std::string(operation) + ": " + UiLastError());
    return nullptr;
  }
  auto* graph = dynamic_cast<StationGraph*>(w);
  if (graph == nullptr) {
    Fail(kErrNotSupported,
         std::string(operation) + ": " + w->objectName().toStdString() + " is not a graph");
  }
  return graph;
}

}  // namespace

namespace ui_internal {

void RegisterGraphWidget() {
  RegisterWidgetClass("StationGraph",
                      [](QWidget* parent, const QString&) { return new StationGraph(parent); });
  static const bool hooked = [] {
    RegisterAttributeHook([](QWidget* widget, int attribute, int value) {
      auto* graph = dynamic_cast<StationGraph*>(widget);
      if (graph == nullptr || attribute != ATTR_REFRESH_GRAPH) return false;
      graph->SetAutoRefresh(value != 0);
      return true;
    });
    return true;
  }();
  (void)hooked;
}

}  // namespace ui_internal

int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh) {
  StationGraph* graph = Graph(panel, control, "DeleteGraphPlot");
  if (graph == nullptr) return kErrBadControl;
  if (!graph->Delete(plotHandle))
    return Fail(kErrBadValue, "DeleteGraphPlot: no plot " + std::to_string(plotHandle));
  if (refresh == VAL_IMMEDIATE_DRAW) graph->viewport()->update();
  return 0;
}

int PlotLine(int panel, int control, double x1, double y1, double x2, double y2, int color) {
  StationGraph* graph = Graph(panel, control, "PlotLine");
  if (graph == nullptr) return kErrBadControl;
  // A NaN or infinite error would stretch the axes to nothing readable.
  if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
    return Fail(kErrBadValue, "PlotLine: a coordinate is not a finite number");
  return graph->Plot(x1, y1, x2, y2, color);
}

int RefreshGraph(int panel, int control) {
  StationGraph* graph = Graph(panel, control, "RefreshGraph");
  if (graph == nullptr) return kErrBadControl;
  graph->Flush();
  return 0;
}
