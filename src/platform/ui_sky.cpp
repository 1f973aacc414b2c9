// The sky plot and the C/N0 bar chart of ui_sky.h, painted with QPainter.
#include "platform/ui_sky.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_internal.h"

using namespace ui_internal;

namespace {

constexpr double kPi = 3.14159265358979323846;
// The bar chart's scale: strong signals of a simulator reach about 55 dB-Hz.
constexpr int kCn0ScaleMax = 60;
// From this C/N0 on the station counts a satellite as usable (used flag).
constexpr int kCn0UsableMark = 20;

QColor SystemColor(SkySystem system) { return QColor(QRgb(SkySystemColor(system))); }

const SkySystem kLegendSystems[] = {SkySystem::kGps, SkySystem::kGlonass, SkySystem::kGalileo,
                                    SkySystem::kSbas};

// Width of the legend: a square and the longest entry.
int LegendWidth(const QFontMetrics& metrics) {
  return metrics.horizontalAdvance("not used") + metrics.height() + 12;
}

// Legend in the top right corner: one coloured square per system, then what
// a filled and a hollow mark mean.
void DrawLegend(QPainter& p, const QRect& area) {
  const QFontMetrics metrics(p.font());
  const int line = metrics.height();
  int y = area.top() + 4;
  const int x = area.right() - LegendWidth(metrics);
  for (SkySystem system : kLegendSystems) {
    p.setPen(Qt::NoPen);
    p.setBrush(SystemColor(system));
    p.drawRect(x, y + 2, line - 4, line - 4);
    p.setPen(Qt::black);
    p.drawText(x + line, y + metrics.ascent(), SkySystemName(system));
    y += line;
  }
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(x, y + 2, line - 4, line - 4);
  p.drawText(x + line, y + metrics.ascent(), "not used");
}

class SkyView : public QWidget {
 public:
  explicit SkyView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(160, 120);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
  }
  void SetSatellites(std::vector<SkySatellite> satellites) {
    satellites_ = std::move(satellites);
    update();
  }

 protected:
  std::vector<SkySatellite> satellites_;
};

class SkyPlot : public SkyView {
 public:
  using SkyView::SkyView;
  QSize sizeHint() const override { return {320, 320}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(p.font());
    const int margin = metrics.height() + 4;
    const int radius = std::max(10, std::min(width(), height()) / 2 - margin);
    const QPointF centre(width() / 2.0, height() / 2.0);

    // Horizon, 30° and 60° rings, the cross of the cardinal directions.
    p.setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 1));
    p.setBrush(QColor(0xF4, 0xF8, 0xFF));
    p.drawEllipse(centre, radius, radius);
    p.setBrush(Qt::NoBrush);
    for (int elevation : {30, 60}) {
      const double r = radius * (90 - elevation) / 90.0;
      p.drawEllipse(centre, r, r);
      p.drawText(QPointF(centre.x() + 3, centre.y() - r + metrics.ascent()),
                 QString::number(elevation) + "°");
    }
    p.drawLine(QPointF(centre.x() - radius, centre.y()), QPointF(centre.x() + radius, centre.y()));
    p.drawLine(QPointF(centre.x(), centre.y() - radius), QPointF(centre.x(), centre.y() + radius));
    p.setPen(Qt::black);
    const struct {
      const char* name;
      double dx, dy;
    } kCardinal[] = {{"N", 0, -1}, {"E", 1, 0}, {"S", 0, 1}, {"W", -1, 0}};
    for (const auto& c : kCardinal) {
      const QString text = c.name;
      const double x = centre.x() + c.dx * (radius + 4 + metrics.horizontalAdvance(text) / 2.0) -
                       metrics.horizontalAdvance(text) / 2.0;
      const double y =
          centre.y() + c.dy * (radius + 4 + metrics.ascent() / 2.0) + metrics.ascent() / 2.0 - 1;
      p.drawText(QPointF(x, y), text);
    }

    // Satellites: a disc per satellite, filled when used, its number beside it.
    const double dot = std::max(5.0, radius / 22.0);
    for (const SkySatellite& s : satellites_) {
      if (s.elevation < 0 || s.elevation > 90 || s.azimuth < 0) continue;
      const double r = radius * (90 - s.elevation) / 90.0;
      const double a = (s.azimuth % 360) * kPi / 180.0;
      const QPointF at(centre.x() + r * std::sin(a), centre.y() - r * std::cos(a));
      const QColor colour = SystemColor(s.system);
      p.setPen(QPen(colour.darker(130), 2));
      p.setBrush(s.used ? QBrush(colour) : QBrush(Qt::white));
      p.drawEllipse(at, dot, dot);
      p.setPen(Qt::black);
      p.drawText(QPointF(at.x() + dot + 2, at.y() + metrics.ascent() / 2.0 - 1),
                 QString::number(s.prn));
    }
    DrawLegend(p, rect());
  }
};

class Cn0BarChart : public SkyView {
 public:
  using SkyView::SkyView;
  QSize sizeHint() const override { return {600, 200}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QFontMetrics metrics(p.font());
    const int left = metrics.horizontalAdvance("60") + 8;
    const int bottom = height() - metrics.height() - 4;
    const int top = metrics.height() + 4;
    // The legend stands right of the bars, never over them.
    const int right = width() - LegendWidth(metrics) - 16;
    const int plotHeight = std::max(10, bottom - top);
    auto yOf = [&](int cn0) {
      return bottom - plotHeight * std::clamp(cn0, 0, kCn0ScaleMax) / kCn0ScaleMax;
    };

    // Scale lines every 10 dB-Hz; the mark from which a satellite counts as used.
    for (int v = 0; v <= kCn0ScaleMax; v += 10) {
      p.setPen(QPen(QColor(0xD8, 0xD8, 0xD8), 1));
      p.drawLine(left, yOf(v), right, yOf(v));
      p.setPen(Qt::black);
      p.drawText(QRect(0, yOf(v) - metrics.height() / 2, left - 4, metrics.height()),
                 Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    p.setPen(QPen(QColor(0xC0, 0x40, 0x40), 1, Qt::DashLine));
    p.drawLine(left, yOf(kCn0UsableMark), right, yOf(kCn0UsableMark));
    p.setPen(Qt::black);
    p.drawText(QPoint(left + 2, top - 4), "C/N0 [dB-Hz]");

    const int n = static_cast<int>(satellites_.size());
    if (n > 0) {
      const double slot = static_cast<double>(right - left) / n;
      const double bar = std::max(2.0, std::min(slot * 0.7, 40.0));
      for (int i = 0; i < n; ++i) {
        const SkySatellite& s = satellites_[static_cast<std::size_t>(i)];
        const double x = left + slot * i + (slot - bar) / 2.0;
        const QColor colour = SystemColor(s.system);
        if (s.cn0 > 0) {
          const QRectF shape(x, yOf(s.cn0), bar, bottom - yOf(s.cn0));
          p.setPen(QPen(colour.darker(130), 2));
          p.setBrush(s.used ? QBrush(colour) : QBrush(colour.lighter(170), Qt::BDiagPattern));
          p.drawRect(shape);
          p.setPen(Qt::black);
          p.drawText(QRectF(x - 10, yOf(s.cn0) - metrics.height(), bar + 20, metrics.height()),
                     Qt::AlignHCenter | Qt::AlignBottom, QString::number(s.cn0));
        }
        p.setPen(Qt::black);
        p.drawText(QRectF(left + slot * i, bottom + 2, slot, metrics.height()),
                   Qt::AlignHCenter | Qt::AlignTop, QString::number(s.prn));
      }
    }
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(left, bottom, right, bottom);
    DrawLegend(p, QRect(0, top, width() - 8, height() - top));
  }
};

}  // namespace

void RegisterSkyWidgets() {
  RegisterWidgetClass(
      "SkyPlot", [](QWidget* parent, const QString&) -> QWidget* { return new SkyPlot(parent); });
  RegisterWidgetClass("Cn0BarChart", [](QWidget* parent, const QString&) -> QWidget* {
    return new Cn0BarChart(parent);
  });
}

int SetSkySatellites(int panel, int control, const SkySatellite* satellites, int count) {
  QWidget* widget = ControlWidget(panel, control);
  if (widget == nullptr) return Fail(kErrBadControl, "SetSkySatellites: " + UiLastError());
  auto* view = dynamic_cast<SkyView*>(widget);
  if (view == nullptr) {
    return Fail(kErrNotSupported, "SetSkySatellites: " + widget->objectName().toStdString() +
                                      " is not a SkyPlot or Cn0BarChart");
  }
  if (count < 0 || (count > 0 && satellites == nullptr))
    return Fail(kErrBadValue, "SetSkySatellites: no satellites to show");
  view->SetSatellites(std::vector<SkySatellite>(satellites, satellites + count));
  return 0;
}

const char* SkySystemName(SkySystem system) {
  switch (system) {
    case SkySystem::kGps:
      return "GPS";
    case SkySystem::kSbas:
      return "SBAS";
    case SkySystem::kGlonass:
      return "GLONASS";
    case SkySystem::kGalileo:
      return "Galileo";
    case SkySystem::kOther:
      break;
  }
  return "other";
}

int SkySystemColor(SkySystem system) {
  switch (system) {
    case SkySystem::kGps:
      return 0x1F5FD0;  // blue
    case SkySystem::kSbas:
      return 0xE08A00;  // orange
    case SkySystem::kGlonass:
      return 0xD02828;  // red
    case SkySystem::kGalileo:
      return 0x1E9E4A;  // green
    case SkySystem::kOther:
      break;
  }
  return 0x808080;
}
