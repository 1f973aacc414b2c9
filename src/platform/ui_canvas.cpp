// Canvases of the panel layer: a widget over a white backing image in which
// the drawing operations paint, pixel-exact (no antialiasing), so that a
// point lands on the pixel the procedures computed.
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <string>

#include "platform/ui.h"
#include "platform/ui_internal.h"

using namespace ui_internal;

namespace {

constexpr QRgb kBackground = 0xFFFFFFFFu;
// A canvas the resource gives no size: room for the basic test's circle of
// radius 90 around (110, 110).
constexpr int kDefaultSide = 221;

class StationCanvas : public QWidget {
 public:
  explicit StationCanvas(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The procedures place points in pixels of a known size: a layout does
    // not stretch a canvas unless the resource says so.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  }

  QColor pen = Qt::black;
  int penWidth = 1;

  // The backing image, at least the widget's size (or its minimum size while
  // a layout has not sized it yet). Growing keeps what is drawn.
  QImage& Image() {
    const QSize wanted = size().expandedTo(minimumSize()).expandedTo(QSize(1, 1));
    if (image_.isNull() || image_.width() < wanted.width() || image_.height() < wanted.height()) {
      QImage grown(wanted.expandedTo(image_.size()), QImage::Format_RGB32);
      grown.fill(kBackground);
      if (!image_.isNull()) {
        QPainter painter(&grown);
        painter.drawImage(0, 0, image_);
      }
      image_ = std::move(grown);
    }
    return image_;
  }

  QSize sizeHint() const override {
    return minimumSize().isEmpty() ? QSize(kDefaultSide, kDefaultSide) : minimumSize();
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor(kBackground));
    painter.drawImage(event->rect().topLeft(), Image(), event->rect());
  }

 private:
  QImage image_;
};

StationCanvas* Canvas(int panel, int control, const char* operation) {
  QWidget* w = ControlWidget(panel, control);
  if (w == nullptr) {
    Fail(kErrBadControl, std::string(operation) + ": " + UiLastError());
    return nullptr;
  }
  auto* canvas = dynamic_cast<StationCanvas*>(w);
  if (canvas == nullptr) {
    Fail(kErrNotSupported,
         std::string(operation) + ": " + w->objectName().toStdString() + " is not a canvas");
  }
  return canvas;
}

// A rectangle of the canvas; a height or width of -1 reaches the far edge.
QRect Area(const QImage& image, const Rect& rect) {
  const int width = rect.width < 0 ? image.width() - rect.left : rect.width;
  const int height = rect.height < 0 ? image.height() - rect.top : rect.height;
  return QRect(rect.left, rect.top, width, height);
}

}  // namespace

namespace ui_internal {

void RegisterCanvasWidget() {
  RegisterWidgetClass("StationCanvas",
                      [](QWidget* parent, const QString&) { return new StationCanvas(parent); });
  static const bool hooked = [] {
    RegisterAttributeHook([](QWidget* widget, int attribute, int value) {
      auto* canvas = dynamic_cast<StationCanvas*>(widget);
      if (canvas == nullptr) return false;
      if (attribute == ATTR_PEN_COLOR) {
        canvas->pen = QColor(QRgb(static_cast<unsigned>(value) & 0xFFFFFFu));
        return true;
      }
      if (attribute == ATTR_PEN_WIDTH) {
        canvas->penWidth = std::clamp(value, 1, 255);
        return true;
      }
      return false;
    });
    return true;
  }();
  (void)hooked;
}

int CanvasPixel(int panel, int control, int x, int y) {
  StationCanvas* canvas = Canvas(panel, control, "CanvasPixel");
  if (canvas == nullptr) return kErrBadControl;
  const QImage& image = canvas->Image();
  if (!image.valid(x, y))
    return Fail(kErrBadValue, "CanvasPixel: (" + std::to_string(x) + ", " + std::to_string(y) +
                                  ") is outside the canvas");
  return static_cast<int>(image.pixel(x, y) & 0xFFFFFFu);
}

}  // namespace ui_internal

int CanvasClear(int panel, int control, Rect rect) {
  StationCanvas* canvas = Canvas(panel, control, "CanvasClear");
  if (canvas == nullptr) return kErrBadControl;
  QImage& image = canvas->Image();
  const QRect area = Area(image, rect) & image.rect();
  QPainter painter(&image);
  painter.fillRect(area, QColor(kBackground));
  canvas->update(area);
  return 0;
}

int CanvasDrawOval(int panel, int control, Rect rect, int drawMode) {
  StationCanvas* canvas = Canvas(panel, control, "CanvasDrawOval");
  if (canvas == nullptr) return kErrBadControl;
  if (drawMode != VAL_DRAW_FRAME)
    return Fail(kErrNotSupported,
                "CanvasDrawOval: only the outline (VAL_DRAW_FRAME) is drawn, not mode " +
                    std::to_string(drawMode));
  QImage& image = canvas->Image();
  const QRect area = Area(image, rect);
  QPainter painter(&image);
  painter.setPen(QPen(canvas->pen, canvas->penWidth));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(area);
  const int margin = canvas->penWidth;
  canvas->update(area.adjusted(-margin, -margin, margin, margin));
  return 0;
}

int CanvasDrawPoint(int panel, int control, Point point) {
  StationCanvas* canvas = Canvas(panel, control, "CanvasDrawPoint");
  if (canvas == nullptr) return kErrBadControl;
  // A square dot as wide as the pen, centred on the point.
  const int width = canvas->penWidth;
  const QRect dot(point.x - (width - 1) / 2, point.y - (width - 1) / 2, width, width);
  QImage& image = canvas->Image();
  QPainter painter(&image);
  painter.fillRect(dot, canvas->pen);
  canvas->update(dot);
  return 0;
}
