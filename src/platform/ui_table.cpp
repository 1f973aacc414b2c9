// Tables of the panel layer on QTableWidget. Rows and columns are numbered
// from 1 here and from 0 in Qt; cells are text items made on first use.
#include <QBrush>
#include <QColor>
#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>
#include <string>

#include "platform/ui.h"
#include "platform/ui_internal.h"

using namespace ui_internal;

namespace {

QTableWidget* Table(int panel, int control, const char* operation) {
  QWidget* w = ControlWidget(panel, control);
  if (w == nullptr) {
    Fail(kErrBadControl, std::string(operation) + ": " + UiLastError());
    return nullptr;
  }
  auto* table = qobject_cast<QTableWidget*>(w);
  if (table == nullptr) {
    Fail(kErrNotSupported,
         std::string(operation) + ": " + w->objectName().toStdString() + " is not a table");
  }
  return table;
}

enum class Axis { kRows, kColumns };

const char* Noun(Axis axis) { return axis == Axis::kRows ? "row" : "column"; }

int Count(QTableWidget* table, Axis axis) {
  return axis == Axis::kRows ? table->rowCount() : table->columnCount();
}

// Inserts `count` rows or columns before number `index` (count + 1 or -1:
// after the last one).
int Insert(int panel, int control, Axis axis, int index, int count, const char* operation) {
  QTableWidget* table = Table(panel, control, operation);
  if (table == nullptr) return kErrBadControl;
  const int total = Count(table, axis);
  if (index != -1 && (index < 1 || index > total + 1)) {
    return Fail(kErrBadValue, std::string(operation) + ": no " + Noun(axis) + " " +
                                  std::to_string(index) + " to insert at (1.." +
                                  std::to_string(total + 1) + ")");
  }
  if (count < 0) return Fail(kErrBadValue, std::string(operation) + ": negative count");
  if (count == 0) return 0;
  const int at = index == -1 ? total : index - 1;
  QAbstractItemModel* model = table->model();
  const bool done =
      axis == Axis::kRows ? model->insertRows(at, count) : model->insertColumns(at, count);
  return done ? 0 : Fail(kErrBadValue, std::string(operation) + ": the table refused the insert");
}

// Deletes `count` rows or columns from number `index` on; count -1 (or more
// than there are) deletes to the end.
int Delete(int panel, int control, Axis axis, int index, int count, const char* operation) {
  QTableWidget* table = Table(panel, control, operation);
  if (table == nullptr) return kErrBadControl;
  const int total = Count(table, axis);
  if (index < 1 || index > total) {
    return Fail(kErrBadValue, std::string(operation) + ": no " + Noun(axis) + " " +
                                  std::to_string(index) + " (the table has " +
                                  std::to_string(total) + ")");
  }
  if (count < -1) return Fail(kErrBadValue, std::string(operation) + ": negative count");
  const int from = index - 1;
  const int n = count == -1 ? total - from : std::min(count, total - from);
  if (n == 0) return 0;
  QAbstractItemModel* model = table->model();
  if (axis == Axis::kRows)
    model->removeRows(from, n);
  else
    model->removeColumns(from, n);
  return 0;
}

// The item of cell (row, column), made when missing; nullptr (reported)
// outside the table.
QTableWidgetItem* Cell(QTableWidget* table, int row, int column, const char* operation) {
  if (row < 1 || row > table->rowCount() || column < 1 || column > table->columnCount()) {
    Fail(kErrBadValue, std::string(operation) + ": no cell (" + std::to_string(row) + ", " +
                           std::to_string(column) + ") in a table of " +
                           std::to_string(table->rowCount()) + " x " +
                           std::to_string(table->columnCount()));
    return nullptr;
  }
  QTableWidgetItem* item = table->item(row - 1, column - 1);
  if (item == nullptr) {
    item = new QTableWidgetItem();
    table->setItem(row - 1, column - 1, item);
  }
  return item;
}

QColor Rgb(int color) { return QColor(QRgb(static_cast<unsigned>(color) & 0xFFFFFFu)); }

}  // namespace

int InsertTableRows(int panel, int control, int index, int count) {
  return Insert(panel, control, Axis::kRows, index, count, "InsertTableRows");
}

int DeleteTableRows(int panel, int control, int index, int count) {
  return Delete(panel, control, Axis::kRows, index, count, "DeleteTableRows");
}

int InsertTableColumns(int panel, int control, int index, int count) {
  return Insert(panel, control, Axis::kColumns, index, count, "InsertTableColumns");
}

int DeleteTableColumns(int panel, int control, int index, int count) {
  return Delete(panel, control, Axis::kColumns, index, count, "DeleteTableColumns");
}

int GetNumTableRows(int panel, int control, int* rows) {
  QTableWidget* table = Table(panel, control, "GetNumTableRows");
  if (table == nullptr) return kErrBadControl;
  *rows = table->rowCount();
  return 0;
}

int GetNumTableColumns(int panel, int control, int* columns) {
  QTableWidget* table = Table(panel, control, "GetNumTableColumns");
  if (table == nullptr) return kErrBadControl;
  *columns = table->columnCount();
  return 0;
}

int SetTableCellVal(int panel, int control, int row, int column, const char* text) {
  QTableWidget* table = Table(panel, control, "SetTableCellVal");
  if (table == nullptr) return kErrBadControl;
  QTableWidgetItem* item = Cell(table, row, column, "SetTableCellVal");
  if (item == nullptr) return kErrBadValue;
  item->setText(FromStationText(text));
  return 0;
}

int GetTableCellVal(int panel, int control, int row, int column, std::string* text) {
  QTableWidget* table = Table(panel, control, "GetTableCellVal");
  if (table == nullptr) return kErrBadControl;
  if (row < 1 || row > table->rowCount() || column < 1 || column > table->columnCount()) {
    return Fail(kErrBadValue, "GetTableCellVal: no cell (" + std::to_string(row) + ", " +
                                  std::to_string(column) + ")");
  }
  const QTableWidgetItem* item = table->item(row - 1, column - 1);
  *text = item ? item->text().toStdString() : std::string();
  return 0;
}

int SetTableCellBackground(int panel, int control, int row, int column, int color) {
  QTableWidget* table = Table(panel, control, "SetTableCellBackground");
  if (table == nullptr) return kErrBadControl;
  QTableWidgetItem* item = Cell(table, row, column, "SetTableCellBackground");
  if (item == nullptr) return kErrBadValue;
  item->setBackground(QBrush(Rgb(color)));
  return 0;
}

int SetTableRowLabel(int panel, int control, int row, const char* label) {
  QTableWidget* table = Table(panel, control, "SetTableRowLabel");
  if (table == nullptr) return kErrBadControl;
  if (row < 1 || row > table->rowCount())
    return Fail(kErrBadValue, "SetTableRowLabel: no row " + std::to_string(row));
  table->setVerticalHeaderItem(row - 1, new QTableWidgetItem(FromStationText(label)));
  return 0;
}

int SetTableColumnLabel(int panel, int control, int column, const char* label) {
  QTableWidget* table = Table(panel, control, "SetTableColumnLabel");
  if (table == nullptr) return kErrBadControl;
  if (column < 1 || column > table->columnCount())
    return Fail(kErrBadValue, "SetTableColumnLabel: no column " + std::to_string(column));
  table->setHorizontalHeaderItem(column - 1, new QTableWidgetItem(FromStationText(label)));
  return 0;
}

int FitTableToContents(int panel, int control) {
  QTableWidget* table = Table(panel, control, "FitTableToContents");
  if (table == nullptr) return kErrBadControl;
  // Sized to the cells in view and the labels: measuring every cell of the
  // satellite map (300 x 32) costs three times as much on every pass, and its
  // cells are alike (a mark or nothing).
  table->horizontalHeader()->setResizeContentsPrecision(0);
  table->verticalHeader()->setResizeContentsPrecision(0);
  table->resizeColumnsToContents();
  table->resizeRowsToContents();
  return 0;
}
