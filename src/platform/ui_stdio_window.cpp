// The "Standard I/O" window of the GUI: a read-only text view with line
// numbers that keeps the last lines the station printed. It appears with the
// first text and is not brought to the front when written to (unless asked).
#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QThread>

#include "platform/stdio_window.h"
#include "platform/ui.h"

namespace {

struct StdioOptions {
  int maxLines = 10000;
  bool bringToFront = false;
  bool lineNumbers = true;
};

StdioOptions& Options() {
  static StdioOptions options;
  return options;
}

class StdioView;

class LineNumberArea : public QWidget {
 public:
  explicit LineNumberArea(StdioView* view);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  StdioView* view_;
};

class StdioView : public QPlainTextEdit {
 public:
  StdioView() : numbers_(new LineNumberArea(this)) {
    setWindowTitle("Standard I/O");
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setMaximumBlockCount(Options().maxLines);
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(720, 360);
    numbers_->setVisible(Options().lineNumbers);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateMargin(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
      if (dy != 0)
        numbers_->scroll(0, dy);
      else
        numbers_->update(0, rect.y(), numbers_->width(), rect.height());
    });
    UpdateMargin();
  }

  void Append(const QString& text) {
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    linesWritten_ += text.count('\n');
    if (atEnd) bar->setValue(bar->maximum());
  }

  // Numbers keep counting once the oldest lines have been dropped.
  long long FirstLineNumber() const { return linesWritten_ + 1 - blockCount() + 1; }

  int MarginWidth() const {
    if (!Options().lineNumbers) return 0;
    const QString widest = QString::number(FirstLineNumber() + blockCount());
    return 8 + fontMetrics().horizontalAdvance(QString(widest.size(), QChar('9')));
  }

  void PaintNumbers(QPaintEvent* event) {
    QPainter painter(numbers_);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    const long long first = FirstLineNumber();
    while (block.isValid() && top <= event->rect().bottom()) {
      const int height = qRound(blockBoundingRect(block).height());
      if (block.isVisible() && top + height >= event->rect().top()) {
        painter.drawText(0, top, numbers_->width() - 4, fontMetrics().height(), Qt::AlignRight,
                         QString::number(first + block.blockNumber()));
      }
      block = block.next();
      top += height;
    }
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QPlainTextEdit::resizeEvent(event);
    const QRect area = contentsRect();
    numbers_->setGeometry(QRect(area.left(), area.top(), MarginWidth(), area.height()));
  }

 private:
  void UpdateMargin() {
    setViewportMargins(MarginWidth(), 0, 0, 0);
    const QRect area = contentsRect();
    numbers_->setGeometry(QRect(area.left(), area.top(), MarginWidth(), area.height()));
    numbers_->update();
  }

  LineNumberArea* numbers_;
  long long linesWritten_ = 0;
};

LineNumberArea::LineNumberArea(StdioView* view) : QWidget(view), view_(view) {}
QSize LineNumberArea::sizeHint() const { return QSize(view_->MarginWidth(), 0); }
void LineNumberArea::paintEvent(QPaintEvent* event) { view_->PaintNumbers(event); }

QPointer<StdioView>& Window() {
  static QPointer<StdioView> window;
  return window;
}

}  // namespace

int SetStdioWindowOptions(int maxLines, int bringToFront, int showLineNumbers) {
  StdioOptions& options = Options();
  options.maxLines = maxLines > 0 ? maxLines : 10000;
  options.bringToFront = bringToFront != 0;
  options.lineNumbers = showLineNumbers != 0;
  if (StdioView* view = Window()) view->setMaximumBlockCount(options.maxLines);
  return 0;
}

void StdioWindowAppend(std::string_view text) {
  // Only the user-interface thread may touch the window; standard output has
  // the text in any case.
  if (qApp == nullptr || IsHeadless() || text.empty() || QThread::currentThread() != qApp->thread())
    return;
  QPointer<StdioView>& window = Window();
  if (window.isNull()) window = new StdioView();
  window->Append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  if (!window->isVisible()) window->show();
  if (Options().bringToFront) window->raise();
}
