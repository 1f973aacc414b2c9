// Tables of the panel layer on QTableWidget. Rows and columns are numbered
// from 1 here and from 0 in Qt; cells are text items made on first use.
//
// Fitting a table to its contents measures only what changed since the last
// fit: the satellite map gets a row on top on every pass of the moving test
// and is fitted each time, and measuring its 300 x 32 cells and labels again
// cost several times the rest of the pass. Rows and columns made since the
// last fit take the size of their contents; the others only grow, so that a
// column keeps its width while its later cells are narrower.
#include <QAbstractItemModel>
#include <QBrush>
#include <QColor>
#include <QHash>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_internal.h"

using namespace ui_internal;

namespace {

// Paints a table's plain cells (text on a colour, as the satellite map's
// bullets) from images of cells already painted. The whole view is painted
// again on each pass when a row comes on top, and laying out the text of
// every cell in view cost more than the rest of the pass; the images are
// the style's own painting of the cell on the view's ground, so the panel
// looks the same. Anything else in a cell is painted as usual.
class CellPainter : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    constexpr auto kOther = QStyleOptionViewItem::HasCheckIndicator |
                            QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::Alternate;
    const QStyle::State kChanging = QStyle::State_Selected | QStyle::State_HasFocus |
                                    QStyle::State_Editing | QStyle::State_MouseOver;
    const QBrush& ground = cell.backgroundBrush;
    if ((cell.features & kOther) || (cell.state & kChanging) || option.rect.isEmpty() ||
        (ground.style() != Qt::NoBrush && ground.style() != Qt::SolidPattern)) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (cell.state & QStyle::State_Active) ? QPalette::Active
                                                                             : QPalette::Inactive;
    const QColor base = cell.palette.color(group, QPalette::Base);
    const qreal ratio = painter->device()->devicePixelRatioF();
    const ImageKey key{cell.text,
                       option.rect.size(),
                       ground.style() == Qt::NoBrush ? 0u : ground.color().rgba(),
                       cell.palette.color(group, QPalette::Text).rgba(),
                       base.rgba(),
                       cell.font,
                       static_cast<int>(cell.displayAlignment),
                       static_cast<int>(cell.features),
                       static_cast<int>(cell.state),
                       ratio};
    auto found = images_.constFind(key);
    if (found == images_.constEnd()) {
      // Cells come in few kinds; a table whose cells are all different
      // starts the collection again now and then.
      if (images_.size() >= kImagesKept) images_.clear();
      QPixmap image(option.rect.size() * ratio);
      image.setDevicePixelRatio(ratio);
      image.fill(base);
      QPainter onImage(&image);
      QStyleOptionViewItem at = option;
      at.rect.moveTo(0, 0);
      QStyledItemDelegate::paint(&onImage, at, index);
      onImage.end();
      found = images_.insert(key, image);
    }
    painter->drawPixmap(option.rect.topLeft(), *found);
  }

  // What a cell's image depends on.
  struct ImageKey {
    QString text;
    QSize size;
    QRgb ground, ink, base;
    QFont font;
    int alignment, features, state;
    qreal ratio;
    bool operator==(const ImageKey&) const = default;
    friend size_t qHash(const ImageKey& key, size_t seed = 0) {
      return qHashMulti(seed, key.text, key.size.width(), key.size.height(), key.ground, key.ink,
                        key.state, key.features);
    }
  };

 private:
  static constexpr int kImagesKept = 512;
  mutable QHash<ImageKey, QPixmap> images_;
};

// What changed in one table since its last fit, learnt from its model's
// signals so that every way of changing the table is seen. A child of the
// table, found by its object name.
class FitTracker : public QObject {
 public:
  static constexpr const char* kName = "stationFitTracker";

  explicit FitTracker(QTableWidget* table) : QObject(table), table_(table) {
    setObjectName(kName);
    if (table->itemDelegate() != nullptr &&
        table->itemDelegate()->metaObject() == &QStyledItemDelegate::staticMetaObject)
      table->setItemDelegate(new CellPainter(table));
    QAbstractItemModel* model = table->model();
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { Inserted(kRow, first, last); });
    connect(model, &QAbstractItemModel::columnsInserted, this,
            [this](const QModelIndex&, int first, int last) { Inserted(kColumn, first, last); });
    connect(model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { Removed(kRow, first, last); });
    connect(model, &QAbstractItemModel::columnsRemoved, this,
            [this](const QModelIndex&, int first, int last) { Removed(kColumn, first, last); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
              CellsChanged(from, to, roles);
            });
    connect(model, &QAbstractItemModel::headerDataChanged, this,
            [this](Qt::Orientation orientation, int first, int last) {
              auto& sections = sections_[orientation == Qt::Vertical ? kRow : kColumn];
              last = std::min(last, static_cast<int>(sections.size()) - 1);
              for (int i = std::max(first, 0); i <= last; ++i)
                sections[static_cast<std::size_t>(i)] =
                    std::max(sections[static_cast<std::size_t>(i)], kTouched);
            });
    // Measured again at the next fit, not here: a table's model also resets
    // while the table is being destroyed, when the table may not be asked
    // anything any more.
    connect(model, &QAbstractItemModel::modelReset, this, [this] { startOver_ = true; });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { startOver_ = true; });
    StartOver();
  }

  static FitTracker* Of(QTableWidget* table) {
    auto* tracker = table->findChild<QObject*>(kName, Qt::FindDirectChildrenOnly);
    return tracker ? static_cast<FitTracker*>(tracker) : new FitTracker(table);
  }

  // Sizes the changed rows and columns from their changed cells and labels.
  void Fit() {
    if (startOver_) StartOver();
    QHeaderView* headers[2] = {table_->verticalHeader(), table_->horizontalHeader()};
    const int grid = table_->showGrid() ? 1 : 0;
    std::vector<int> need[2];
    for (int axis : {kRow, kColumn}) {
      const auto& sections = sections_[axis];
      need[axis].assign(sections.size(), -1);
      if (headers[axis]->isHidden()) continue;
      for (std::size_t i = 0; i < sections.size(); ++i)
        if (sections[i] != kClean)
          need[axis][i] = headers[axis]->sectionSizeHint(static_cast<int>(i));
    }
    std::sort(cells_.begin(), cells_.end());
    cells_.erase(std::unique(cells_.begin(), cells_.end()), cells_.end());
    QAbstractItemModel* model = table_->model();
    for (const auto& [row, column] : cells_) {
      const QSize hint = table_->sizeHintForIndex(model->index(row, column));
      int& height = need[kRow][static_cast<std::size_t>(row)];
      int& width = need[kColumn][static_cast<std::size_t>(column)];
      height = std::max(height, hint.height() + grid);
      width = std::max(width, hint.width() + grid);
    }
    // Columns first: a row's height follows its cells' widths when the
    // text wraps.
    for (int axis : {kColumn, kRow}) {
      QHeaderView* header = headers[axis];
      auto& sections = sections_[axis];
      for (std::size_t i = 0; i < sections.size(); ++i) {
        const int logical = static_cast<int>(i);
        if ((sections[i] == kClean && need[axis][i] < 0) || header->isSectionHidden(logical))
          continue;
        const int current = header->sectionSize(logical);
        int size = std::max(need[axis][i], 0);
        if (sections[i] != kNew) size = std::max(size, current);
        size = std::clamp(size, header->minimumSectionSize(), header->maximumSectionSize());
        if (size != current) header->resizeSection(logical, size);
      }
      std::fill(sections.begin(), sections.end(), kClean);
    }
    cells_.clear();
  }

 private:
  enum Axis { kRow = 0, kColumn = 1 };
  // State of a row or column since the last fit, in increasing order of the
  // work it takes.
  enum State : unsigned char { kClean, kTouched, kNew };

  void Inserted(Axis axis, int first, int last) {
    if (startOver_) return;
    const int count = last - first + 1;
    auto& sections = sections_[axis];
    first = std::clamp(first, 0, static_cast<int>(sections.size()));
    sections.insert(sections.begin() + first, static_cast<std::size_t>(count), kNew);
    for (auto& cell : cells_) {
      int& at = axis == kRow ? cell.first : cell.second;
      if (at >= first) at += count;
    }
  }

  void Removed(Axis axis, int first, int last) {
    if (startOver_) return;
    auto& sections = sections_[axis];
    last = std::min(last, static_cast<int>(sections.size()) - 1);
    if (first < 0 || last < first) return;
    sections.erase(sections.begin() + first, sections.begin() + last + 1);
    const int count = last - first + 1;
    std::erase_if(cells_, [&](std::pair<int, int>& cell) {
      int& at = axis == kRow ? cell.first : cell.second;
      if (at > last) at -= count;
      return at >= first && at <= last;
    });
  }

  void CellsChanged(const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
    if (startOver_) return;
    // Colours leave the size as it is.
    if (!roles.isEmpty() && std::all_of(roles.begin(), roles.end(), [](int role) {
          return role == Qt::BackgroundRole || role == Qt::ForegroundRole;
        }))
      return;
    for (int row = from.row(); row <= to.row(); ++row)
      for (int column = from.column(); column <= to.column(); ++column)
        cells_.emplace_back(row, column);
  }

  // Everything is measured at the next fit: the table as it was made, or
  // after its model was reset or reordered.
  void StartOver() {
    startOver_ = false;
    sections_[kRow].assign(static_cast<std::size_t>(table_->rowCount()), kNew);
    sections_[kColumn].assign(static_cast<std::size_t>(table_->columnCount()), kNew);
    cells_.clear();
    for (int row = 0; row < table_->rowCount(); ++row)
      for (int column = 0; column < table_->columnCount(); ++column)
        if (table_->item(row, column) != nullptr) cells_.emplace_back(row, column);
  }

  QTableWidget* table_;
  bool startOver_ = false;  // everything is measured at the next fit
  std::vector<State> sections_[2];
  // Cells (row, column) whose contents changed.
  std::vector<std::pair<int, int>> cells_;
};

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
    return nullptr;
  }
  FitTracker::Of(table);
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

// A header label that carries its own size. A header sizes itself from its
// labels whenever a row comes or goes, measuring up to 200 of them: the row
// labels of the satellite map (300 time stamps, one new on each pass) are
// measured once, here, with the header's own measure.
void SetLabel(QTableWidget* table, Qt::Orientation orientation, int section, const char* text) {
  struct Measure : QHeaderView {
    using QHeaderView::sectionSizeFromContents;
  };
  QHeaderView* header =
      orientation == Qt::Vertical ? table->verticalHeader() : table->horizontalHeader();
  auto* item = new QTableWidgetItem(FromStationText(text));
  // Measured as the header's item, with the header's font and sort mark.
  if (orientation == Qt::Vertical)
    table->setVerticalHeaderItem(section, item);
  else
    table->setHorizontalHeaderItem(section, item);
  item->setData(Qt::SizeHintRole, (header->*(&Measure::sectionSizeFromContents))(section));
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
  SetLabel(table, Qt::Vertical, row - 1, label);
  return 0;
}

int SetTableColumnLabel(int panel, int control, int column, const char* label) {
  QTableWidget* table = Table(panel, control, "SetTableColumnLabel");
  if (table == nullptr) return kErrBadControl;
  if (column < 1 || column > table->columnCount())
    return Fail(kErrBadValue, "SetTableColumnLabel: no column " + std::to_string(column));
  SetLabel(table, Qt::Horizontal, column - 1, label);
  return 0;
}

int FitTableToContents(int panel, int control) {
  QTableWidget* table = Table(panel, control, "FitTableToContents");
  if (table == nullptr) return kErrBadControl;
  FitTracker::Of(table)->Fit();
  return 0;
}
