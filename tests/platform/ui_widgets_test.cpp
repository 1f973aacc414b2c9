// The run panels' widgets off-screen: graphs (series merging, deletion,
// deferred redraw), canvases (pixels after draw and clear), tables, the
// background colour of indicators, and control images saved as JPEG.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLineSeries>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QValueAxis>
#include <cmath>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_internal.h"

namespace {

enum { WIDGETS = 1 };
enum { W_GRAPH = 10, W_CANVAS, W_TABLE, W_USED, W_TEXT };

constexpr ControlEntry kWidgetControls[] = {
    {WIDGETS, WIDGETS, "Widgets"}, {WIDGETS, W_GRAPH, "W_GRAPH"}, {WIDGETS, W_CANVAS, "W_CANVAS"},
    {WIDGETS, W_TABLE, "W_TABLE"}, {WIDGETS, W_USED, "W_USED"},   {WIDGETS, W_TEXT, "W_TEXT"},
};
constexpr PanelContract kWidgetContract = {"widgets.uir", kWidgetControls,
                                           std::size(kWidgetControls)};

// The graph and canvas under their own class names, declared as Qt Designer
// declares promoted widgets; the graph's y title comes from the resource,
// its x title is left to the default.
const char* kWidgetsXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>Widgets</class>
<widget class="QWidget" name="Widgets">
 <property name="geometry"><rect><x>0</x><y>0</y><width>900</width><height>700</height></rect></property>
 <layout class="QGridLayout" name="grid">
  <item row="0" column="0"><widget class="StationGraph" name="W_GRAPH">
   <property name="minimumSize"><size><width>320</width><height>240</height></size></property>
   <property name="yLabel" stdset="0"><string>2D error [m]</string></property></widget></item>
  <item row="0" column="1"><widget class="StationCanvas" name="W_CANVAS">
   <property name="minimumSize"><size><width>221</width><height>221</height></size></property></widget></item>
  <item row="1" column="0"><widget class="QTableWidget" name="W_TABLE"/></item>
  <item row="1" column="1"><widget class="QSpinBox" name="W_USED"/></item>
  <item row="2" column="1"><widget class="QLineEdit" name="W_TEXT"/></item>
 </layout></widget>
 <customwidgets>
  <customwidget><class>StationGraph</class><extends>QGraphicsView</extends><header>graph</header></customwidget>
  <customwidget><class>StationCanvas</class><extends>QWidget</extends><header>canvas</header></customwidget>
 </customwidgets></ui>
)";

class Widgets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char name[] = "ui_widgets_test";
    static char* argv[] = {name, nullptr};
    ASSERT_NE(InitUserInterfaceRuntime(1, argv, true), 0);
    RegisterPanelContract(kWidgetContract);
  }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    const std::string path = dir_.filePath("widgets.uir").toStdString();
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kWidgetsXml);
    file.close();
    panel_ = LoadPanel(0, path.c_str(), WIDGETS);
    ASSERT_GT(panel_, 0) << UiLastError();
    DisplayPanel(panel_);
    ProcessSystemEvents();
  }
  void TearDown() override {
    if (panel_ > 0) DiscardPanel(panel_);
  }

  QChart* Chart() {
    auto* view = qobject_cast<QChartView*>(ui_internal::ControlWidget(panel_, W_GRAPH));
    return view ? view->chart() : nullptr;
  }
  // The series of the graph as (colour, points).
  struct Series {
    int color;
    std::vector<QPointF> points;
  };
  std::vector<Series> Shown() {
    std::vector<Series> out;
    for (QAbstractSeries* s : Chart()->series()) {
      auto* line = qobject_cast<QLineSeries*>(s);
      if (line == nullptr) continue;
      const QList<QPointF> points = line->points();
      out.push_back({static_cast<int>(line->color().rgb() & 0xFFFFFF),
                     std::vector<QPointF>(points.begin(), points.end())});
    }
    return out;
  }
  QTableWidget* TableWidget() {
    return qobject_cast<QTableWidget*>(ui_internal::ControlWidget(panel_, W_TABLE));
  }

  QTemporaryDir dir_;
  int panel_ = 0;
};

TEST_F(Widgets, GraphJoinsConnectedLinesOfOneColourIntoOneSeries) {
  ASSERT_NE(Chart(), nullptr) << "StationGraph is a chart view";
  EXPECT_GT(PlotLine(panel_, W_GRAPH, 0, 0, 0, 0, VAL_BLACK), 0);
  // Two interleaved curves, as the error and its running average are drawn.
  const double error[] = {5, 9, 4, 7}, average[] = {5, 7, 6, 6.25};
  for (int k = 1; k < 4; ++k) {
    PlotLine(panel_, W_GRAPH, k - 1, error[k - 1], k, error[k], VAL_RED);
    PlotLine(panel_, W_GRAPH, k - 1, average[k - 1], k, average[k], VAL_BLUE);
  }
  // A red line that does not start where the red curve ended begins a new run.
  PlotLine(panel_, W_GRAPH, 10, 1, 11, 2, VAL_RED);
  ProcessSystemEvents();  // where the graph is redrawn

  const std::vector<Series> shown = Shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].color, VAL_BLACK);
  EXPECT_EQ(shown[0].points.size(), 2u) << "the zero-length line is a series of its own";
  EXPECT_EQ(shown[1].color, VAL_RED);
  EXPECT_EQ(shown[1].points, (std::vector<QPointF>{{0, 5}, {1, 9}, {2, 4}, {3, 7}}));
  EXPECT_EQ(shown[2].color, VAL_BLUE);
  EXPECT_EQ(shown[2].points.size(), 4u);
  EXPECT_EQ(shown[3].points, (std::vector<QPointF>{{10, 1}, {11, 2}}));

  // The axes start at 0 and reach the data; the titles come from the resource.
  auto* x = qobject_cast<QValueAxis*>(Chart()->axes(Qt::Horizontal).value(0));
  auto* y = qobject_cast<QValueAxis*>(Chart()->axes(Qt::Vertical).value(0));
  ASSERT_TRUE(x && y);
  EXPECT_EQ(x->min(), 0.0);
  EXPECT_GE(x->max(), 11.0);
  EXPECT_EQ(y->min(), 0.0);
  EXPECT_GE(y->max(), 9.0);
  EXPECT_EQ(x->titleText(), "sample");
  EXPECT_EQ(y->titleText(), "2D error [m]");

  EXPECT_LT(PlotLine(panel_, W_GRAPH, 0, std::nan(""), 1, 1, VAL_RED), 0);
  EXPECT_LT(PlotLine(panel_, W_TABLE, 0, 0, 1, 1, VAL_RED), 0) << "not a graph";
}

// Ticks at round steps, about five of them, also when the data leaps from a
// range of metres to a drive's thousands of passes and a dropped 99,999 m
// error (the old step over the new range once made an axis item per metre).
TEST_F(Widgets, GraphTicksStayFewWhenTheRangeLeaps) {
  ASSERT_NE(Chart(), nullptr);
  PlotLine(panel_, W_GRAPH, 0, 0, 1, 3, VAL_RED);
  ProcessSystemEvents();
  PlotLine(panel_, W_GRAPH, 1, 3, 10000, 99999, VAL_RED);
  ProcessSystemEvents();
  for (const Qt::Orientation o : {Qt::Horizontal, Qt::Vertical}) {
    auto* axis = qobject_cast<QValueAxis*>(Chart()->axes(o).value(0));
    ASSERT_NE(axis, nullptr);
    const double ticks = (axis->max() - axis->min()) / axis->tickInterval();
    EXPECT_GE(ticks, 2.0);
    EXPECT_LE(ticks, 10.0);
    const double step =
        axis->tickInterval() / std::pow(10.0, std::floor(std::log10(axis->tickInterval())));
    EXPECT_TRUE(step == 1.0 || step == 2.0 || step == 5.0) << "tick step " << axis->tickInterval();
  }
}

TEST_F(Widgets, GraphDeletesOnePlotOrAllAndDefersRedraws) {
  const int first = PlotLine(panel_, W_GRAPH, 0, 1, 1, 2, VAL_RED);
  const int second = PlotLine(panel_, W_GRAPH, 1, 2, 2, 3, VAL_RED);
  const int third = PlotLine(panel_, W_GRAPH, 2, 3, 3, 4, VAL_RED);
  EXPECT_TRUE(first > 0 && second > first && third > second);
  // Taking the middle line out splits the curve in two.
  ASSERT_EQ(DeleteGraphPlot(panel_, W_GRAPH, second, VAL_IMMEDIATE_DRAW), 0);
  std::vector<Series> shown = Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].points, (std::vector<QPointF>{{0, 1}, {1, 2}}));
  EXPECT_EQ(shown[1].points, (std::vector<QPointF>{{2, 3}, {3, 4}}));
  EXPECT_LT(DeleteGraphPlot(panel_, W_GRAPH, second, VAL_IMMEDIATE_DRAW), 0);

  ASSERT_EQ(DeleteGraphPlot(panel_, W_GRAPH, VAL_ALL_OBJECTS, VAL_IMMEDIATE_DRAW), 0);
  EXPECT_TRUE(Shown().empty());

  // Deferred: nothing reaches the chart until RefreshGraph, then all of it.
  ASSERT_EQ(SetCtrlAttribute(panel_, W_GRAPH, ATTR_REFRESH_GRAPH, 0), 0);
  for (int k = 1; k <= 100; ++k) PlotLine(panel_, W_GRAPH, k - 1, k - 1, k, k, VAL_BLUE);
  EXPECT_TRUE(Shown().empty());
  ASSERT_EQ(RefreshGraph(panel_, W_GRAPH), 0);
  shown = Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].points.size(), 101u);
  PlotLine(panel_, W_GRAPH, 100, 100, 101, 101, VAL_BLUE);
  EXPECT_EQ(Shown()[0].points.size(), 101u);
  RefreshGraph(panel_, W_GRAPH);
  EXPECT_EQ(Shown()[0].points.size(), 102u) << "a later batch extends the same series";

  // Deleting everything also drops what was waiting for a redraw.
  PlotLine(panel_, W_GRAPH, 0, 0, 5, 5, VAL_RED);
  DeleteGraphPlot(panel_, W_GRAPH, VAL_ALL_OBJECTS, VAL_DELAYED_DRAW);
  RefreshGraph(panel_, W_GRAPH);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(Widgets, CanvasPixelsAfterDrawAndClear) {
  using ui_internal::CanvasPixel;
  // The basic test's circle and centre in the initial pen colour, then red points.
  ASSERT_EQ(CanvasClear(panel_, W_CANVAS, VAL_ENTIRE_OBJECT), 0);
  ASSERT_EQ(SetCtrlAttribute(panel_, W_CANVAS, ATTR_PEN_WIDTH, 3), 0);
  ASSERT_EQ(CanvasDrawOval(panel_, W_CANVAS, MakeRect(20, 20, 180, 180), VAL_DRAW_FRAME), 0);
  ASSERT_EQ(CanvasDrawPoint(panel_, W_CANVAS, MakePoint(110, 110)), 0);
  ASSERT_EQ(SetCtrlAttribute(panel_, W_CANVAS, ATTR_PEN_COLOR, VAL_RED), 0);
  ASSERT_EQ(CanvasDrawPoint(panel_, W_CANVAS, MakePoint(110, 70)), 0);
  ASSERT_EQ(CanvasDrawPoint(panel_, W_CANVAS, MakePoint(220, 220)), 0) << "at the very corner";

  struct Pixel {
    int x, y, color;
  } expected[] = {
      {110, 110, VAL_BLACK}, {109, 111, VAL_BLACK},  // the centre dot, 3 pixels wide
      {112, 110, VAL_WHITE},                         // and no wider
      {20, 110, VAL_BLACK},  {200, 110, VAL_BLACK},  // the circle: radius 90 around (110, 110)
      {110, 20, VAL_BLACK},  {110, 200, VAL_BLACK}, {110, 25, VAL_WHITE},  // outline only
      {110, 70, VAL_RED},    {111, 71, VAL_RED},    {112, 72, VAL_WHITE},
      {220, 220, VAL_RED},   {0, 0, VAL_WHITE},
  };
  for (const Pixel& p : expected) {
    EXPECT_EQ(CanvasPixel(panel_, W_CANVAS, p.x, p.y), p.color) << "(" << p.x << ", " << p.y << ")";
  }
  EXPECT_LT(CanvasPixel(panel_, W_CANVAS, 221, 0), 0) << "the layout did not stretch the canvas";

  // A partial clear, then the whole canvas.
  ASSERT_EQ(CanvasClear(panel_, W_CANVAS, MakeRect(60, 100, 20, 20)), 0);
  EXPECT_EQ(CanvasPixel(panel_, W_CANVAS, 110, 70), VAL_WHITE);
  EXPECT_EQ(CanvasPixel(panel_, W_CANVAS, 110, 110), VAL_BLACK);
  ASSERT_EQ(CanvasClear(panel_, W_CANVAS, VAL_ENTIRE_OBJECT), 0);
  for (const Pixel& p : expected) EXPECT_EQ(CanvasPixel(panel_, W_CANVAS, p.x, p.y), VAL_WHITE);

  EXPECT_LT(CanvasDrawPoint(panel_, W_GRAPH, MakePoint(1, 1)), 0) << "not a canvas";
}

TEST_F(Widgets, TableRowsColumnsLabelsAndColours) {
  QTableWidget* table = TableWidget();
  ASSERT_NE(table, nullptr);
  int rows = -1, columns = -1;
  ASSERT_EQ(InsertTableColumns(panel_, W_TABLE, -1, 2), 0);
  ASSERT_EQ(InsertTableRows(panel_, W_TABLE, -1, 1), 0);
  SetTableCellVal(panel_, W_TABLE, 1, 1, "old");
  // A new row above the first, as the satellite map grows.
  ASSERT_EQ(InsertTableRows(panel_, W_TABLE, 1, 1), 0);
  SetTableRowLabel(panel_, W_TABLE, 1, "Thu Dec 10 14:00:00 2026");
  SetTableCellVal(panel_, W_TABLE, 1, 2, "\xE2\x80\xA2");  // the bullet, UTF-8
  SetTableCellVal(panel_, W_TABLE, 1, 1, "\x95");          // and as Windows-1252
  SetTableCellBackground(panel_, W_TABLE, 1, 2, VAL_GREEN);
  ASSERT_EQ(InsertTableColumns(panel_, W_TABLE, -1, 1), 0);
  SetTableColumnLabel(panel_, W_TABLE, 3, "17");

  GetNumTableRows(panel_, W_TABLE, &rows);
  GetNumTableColumns(panel_, W_TABLE, &columns);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(columns, 3);
  std::string text;
  GetTableCellVal(panel_, W_TABLE, 2, 1, &text);
  EXPECT_EQ(text, "old");
  GetTableCellVal(panel_, W_TABLE, 1, 2, &text);
  EXPECT_EQ(text, "\xE2\x80\xA2");
  GetTableCellVal(panel_, W_TABLE, 1, 1, &text);
  EXPECT_EQ(text, "\xE2\x80\xA2");
  GetTableCellVal(panel_, W_TABLE, 1, 3, &text);
  EXPECT_EQ(text, "") << "a cell never written is empty";
  EXPECT_EQ(table->verticalHeaderItem(0)->text(), "Thu Dec 10 14:00:00 2026");
  EXPECT_EQ(table->horizontalHeaderItem(2)->text(), "17");
  EXPECT_EQ(table->item(0, 1)->background().color(), QColor(0, 255, 0));
  SetTableCellVal(panel_, W_TABLE, 2, 3, "a cell much wider than a mark");
  EXPECT_EQ(FitTableToContents(panel_, W_TABLE), 0);
  EXPECT_GT(table->columnWidth(2), 2 * table->columnWidth(1));
  SetTableCellVal(panel_, W_TABLE, 2, 3, "");

  // Out of the table: refused, nothing changed.
  EXPECT_LT(SetTableCellVal(panel_, W_TABLE, 3, 1, "x"), 0);
  EXPECT_LT(SetTableCellVal(panel_, W_TABLE, 1, 0, "x"), 0);
  EXPECT_LT(InsertTableRows(panel_, W_TABLE, 4, 1), 0);
  EXPECT_LT(DeleteTableRows(panel_, W_TABLE, 3, 1), 0);

  // Trimming to the end, as the satellite map is cut back.
  InsertTableRows(panel_, W_TABLE, -1, 8);
  ASSERT_EQ(DeleteTableRows(panel_, W_TABLE, 4, -1), 0);
  GetNumTableRows(panel_, W_TABLE, &rows);
  EXPECT_EQ(rows, 3);
  GetTableCellVal(panel_, W_TABLE, 2, 1, &text);
  EXPECT_EQ(text, "old");
  ASSERT_EQ(DeleteTableRows(panel_, W_TABLE, 1, -1), 0);
  ASSERT_EQ(DeleteTableColumns(panel_, W_TABLE, 1, -1), 0);
  GetNumTableRows(panel_, W_TABLE, &rows);
  GetNumTableColumns(panel_, W_TABLE, &columns);
  EXPECT_EQ(rows + columns, 0);
}

// Fitting measures what changed since the last fit: a long label or cell
// widens its column, a later narrower cell leaves it as wide, a new row and a
// new column take the size of their contents, whatever was changed in between.
TEST_F(Widgets, TableFitGrowsWhatChangedAndNeverShrinks) {
  QTableWidget* table = TableWidget();
  ASSERT_NE(table, nullptr);
  const char* kMark = "\xE2\x80\xA2";
  InsertTableColumns(panel_, W_TABLE, -1, 3);
  InsertTableRows(panel_, W_TABLE, -1, 2);
  for (int c = 1; c <= 3; ++c) SetTableColumnLabel(panel_, W_TABLE, c, std::to_string(c).c_str());
  SetTableCellVal(panel_, W_TABLE, 1, 1, kMark);
  ASSERT_EQ(FitTableToContents(panel_, W_TABLE), 0);
  const int narrow = table->columnWidth(0);
  EXPECT_LT(narrow, table->horizontalHeader()->defaultSectionSize()) << "a new column fits";
  EXPECT_EQ(table->columnWidth(1), narrow) << "alike labels, alike widths";
  const int rowHeight = table->rowHeight(0);

  // A new long label widens its column; a long cell its own.
  SetTableColumnLabel(panel_, W_TABLE, 2, "a label much wider than a mark");
  SetTableCellVal(panel_, W_TABLE, 2, 3, "a cell much wider than a mark, wider still");
  FitTableToContents(panel_, W_TABLE);
  const int byLabel = table->columnWidth(1), byCell = table->columnWidth(2);
  EXPECT_GT(byLabel, 3 * narrow);
  EXPECT_GT(byCell, byLabel);
  EXPECT_EQ(table->columnWidth(0), narrow);
  EXPECT_EQ(table->rowHeight(1), rowHeight) << "one line of text, the same height";
  // The sizes Qt's own measure of every cell and label gives.
  for (int c = 0; c < 3; ++c) {
    const int fitted = table->columnWidth(c);
    table->resizeColumnToContents(c);
    EXPECT_EQ(table->columnWidth(c), fitted) << "column " << c;
  }
  for (int r = 0; r < 2; ++r) {
    const int fitted = table->rowHeight(r);
    table->resizeRowToContents(r);
    EXPECT_EQ(table->rowHeight(r), fitted) << "row " << r;
  }

  // Narrower contents later: the columns keep their widths.
  SetTableColumnLabel(panel_, W_TABLE, 2, "2");
  SetTableCellVal(panel_, W_TABLE, 2, 3, kMark);
  FitTableToContents(panel_, W_TABLE);
  EXPECT_EQ(table->columnWidth(1), byLabel);
  EXPECT_EQ(table->columnWidth(2), byCell);

  // A row on top and a column inserted between the others around changes
  // not yet fitted: the changes move with their cells.
  InsertTableRows(panel_, W_TABLE, 1, 1);
  SetTableRowLabel(panel_, W_TABLE, 1, "Thu Dec 10 14:00:00 2026");
  SetTableCellVal(panel_, W_TABLE, 3, 3, "the widest cell of all, wider than any before it");
  InsertTableColumns(panel_, W_TABLE, 2, 1);
  SetTableColumnLabel(panel_, W_TABLE, 2, "17");
  SetTableCellVal(panel_, W_TABLE, 1, 2, "a wide cell in a new column");
  InsertTableRows(panel_, W_TABLE, 1, 1);
  FitTableToContents(panel_, W_TABLE);
  EXPECT_EQ(table->columnWidth(0), narrow);
  EXPECT_GT(table->columnWidth(1), 3 * narrow) << "the new column, from its cell now in row 2";
  EXPECT_EQ(table->columnWidth(2), byLabel);
  EXPECT_GT(table->columnWidth(3), byCell) << "from the cell now in column 4";
  EXPECT_EQ(table->rowHeight(1), rowHeight);
  EXPECT_LE(table->rowHeight(0), rowHeight) << "an empty new row is no taller";
}

// Cells painted from images of cells look as the style paints them.
TEST_F(Widgets, TableCellsLookAsTheStylePaintsThem) {
  QTableWidget* table = TableWidget();
  ASSERT_NE(table, nullptr);
  InsertTableColumns(panel_, W_TABLE, -1, 4);
  InsertTableRows(panel_, W_TABLE, -1, 6);
  for (int r = 1; r <= 6; ++r) {
    SetTableRowLabel(panel_, W_TABLE, r, "Thu Dec 10 14:00:00 2026");
    for (int c = 1; c <= 4; ++c) {
      if ((r + c) % 3 == 0) continue;
      SetTableCellVal(panel_, W_TABLE, r, c, c == 4 ? "a text" : "\xE2\x80\xA2");
      if ((r + c) % 2) SetTableCellBackground(panel_, W_TABLE, r, c, VAL_GREEN);
    }
  }
  FitTableToContents(panel_, W_TABLE);
  ProcessSystemEvents();
  const QImage cached = table->grab().toImage();
  const QImage again = table->grab().toImage();
  QAbstractItemDelegate* own = table->itemDelegate();
  QStyledItemDelegate plain;
  table->setItemDelegate(&plain);
  const QImage styled = table->grab().toImage();
  table->setItemDelegate(own);
  ASSERT_EQ(cached.size(), styled.size());
  EXPECT_TRUE(cached == styled);
  EXPECT_TRUE(again == styled) << "painted from the images kept";
}

// A table hidden and shown again between two rounds of events only stops
// painting; hidden across events it is hidden for real. What was set is
// what reads back.
TEST_F(Widgets, TableHiddenWhileItChanges) {
  QTableWidget* table = TableWidget();
  ASSERT_NE(table, nullptr);
  ASSERT_TRUE(table->isVisible());
  int visible = -1;
  ASSERT_EQ(SetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, 0), 0);
  GetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, &visible);
  EXPECT_EQ(visible, 0);
  InsertTableRows(panel_, W_TABLE, 1, 1);
  SetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, 1);
  GetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, &visible);
  EXPECT_EQ(visible, 1);
  ProcessSystemEvents();
  EXPECT_TRUE(table->isVisible());
  EXPECT_TRUE(table->updatesEnabled());
  EXPECT_TRUE(table->viewport()->updatesEnabled());

  SetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, 0);
  ProcessSystemEvents();
  EXPECT_TRUE(table->isHidden()) << "still hidden when the events came";
  EXPECT_TRUE(table->updatesEnabled());
  GetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, &visible);
  EXPECT_EQ(visible, 0);
  SetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, 1);
  ProcessSystemEvents();
  EXPECT_TRUE(table->isVisible());
  GetCtrlAttribute(panel_, W_TABLE, ATTR_VISIBLE, &visible);
  EXPECT_EQ(visible, 1);
}

TEST_F(Widgets, BackgroundColourOfIndicators) {
  int color = -1;
  for (int control : {W_USED, W_TEXT}) {
    ASSERT_EQ(SetCtrlAttribute(panel_, control, ATTR_BACK_COLOR, VAL_GREEN), 0);
    GetCtrlAttribute(panel_, control, ATTR_BACK_COLOR, &color);
    EXPECT_EQ(color, VAL_GREEN);
    SetCtrlAttribute(panel_, control, ATTR_BACK_COLOR, VAL_GRAY);
    GetCtrlAttribute(panel_, control, ATTR_BACK_COLOR, &color);
    EXPECT_EQ(color, VAL_GRAY);
  }
  // And what the operator sees: the middle of the spin box's field is grey.
  int bitmap = 0;
  ASSERT_EQ(GetCtrlDisplayBitmap(panel_, W_USED, 0, &bitmap), 0);
  const QString path = QDir(dir_.path()).filePath("used.jpg");
  ASSERT_EQ(SaveBitmapToJPEGFile(bitmap, path.toUtf8().constData(), 100), 0);
  DiscardBitmap(bitmap);
  const QImage image(path);
  ASSERT_FALSE(image.isNull());
  const QColor field = image.pixelColor(image.width() / 4, image.height() / 2);
  EXPECT_NEAR(field.red(), 0xA0, 12);
  EXPECT_NEAR(field.green(), 0xA0, 12);
}

TEST_F(Widgets, ControlImageSavedAsJpeg) {
  PlotLine(panel_, W_GRAPH, 0, 0, 10, 10, VAL_RED);
  const QString path = QDir(dir_.path()).filePath("GNSS_000_2DERR_1.jpg");
  const std::string file = path.toStdString();
  int size = 0;
  EXPECT_EQ(FileExists(file.c_str(), &size), 0);
  EXPECT_EQ(size, -1);

  // An older file of the same name is replaced, with whatever it held.
  QFile old(path);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("not a picture");
  old.close();

  int bitmap = 0;
  ASSERT_EQ(GetCtrlDisplayBitmap(panel_, W_GRAPH, 0, &bitmap), 0);
  EXPECT_GT(bitmap, 0);
  ASSERT_EQ(SaveBitmapToJPEGFile(bitmap, file.c_str(), 100), 0) << UiLastError();
  ASSERT_EQ(FileExists(file.c_str(), &size), 1);
  EXPECT_GT(size, 1000);

  QImage image;
  ASSERT_TRUE(image.load(path, "JPG"));
  const QWidget* graph = ui_internal::ControlWidget(panel_, W_GRAPH);
  EXPECT_EQ(image.size(), graph->size() * graph->devicePixelRatioF());
  EXPECT_GE(image.width(), 320);
  // The line plotted just before is in the picture, though no event has run.
  int red = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 80 && c.blue() < 80) ++red;
    }
  }
  EXPECT_GT(red, 20);

  // A directory that cannot be written to fails, and leaves no file.
  const std::string missing = QDir(dir_.path()).filePath("no/such/dir/x.jpg").toStdString();
  EXPECT_LT(SaveBitmapToJPEGFile(bitmap, missing.c_str(), 100), 0);
  EXPECT_EQ(FileExists(missing.c_str(), nullptr), 0);

  ASSERT_EQ(DiscardBitmap(bitmap), 0);
  EXPECT_LT(DiscardBitmap(bitmap), 0);

  // A panel that was never shown (headless, say) is laid out as it would be.
  const int hidden = LoadPanel(0, dir_.filePath("widgets.uir").toUtf8().constData(), WIDGETS);
  ASSERT_GT(hidden, 0);
  ASSERT_EQ(GetCtrlDisplayBitmap(hidden, W_GRAPH, 0, &bitmap), 0);
  ASSERT_EQ(SaveBitmapToJPEGFile(bitmap, file.c_str(), 100), 0);
  DiscardBitmap(bitmap);
  DiscardPanel(hidden);
  ASSERT_TRUE(image.load(path, "JPG"));
  EXPECT_GT(image.width(), 400) << "its share of the panel, not a default size";
  EXPECT_GT(image.height(), 300);
  EXPECT_LT(SaveBitmapToJPEGFile(bitmap, file.c_str(), 100), 0) << "a discarded handle";
}

}  // namespace
