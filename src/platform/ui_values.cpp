// Control values, attributes, list operations and the automation helpers of
// the panel layer. Numeric kinds are permissive: an integer read from a real
// control is rounded, a number read from a text control is parsed in the C
// locale, a text read from a numeric control is its formatted value.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextCursor>
#include <QTimer>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "platform/ui.h"
#include "platform/ui_internal.h"
#include "platform/ui_panels.h"

namespace ui_internal {

namespace {
std::vector<AttributeHook>& AttributeHooks() {
  static std::vector<AttributeHook> hooks;
  return hooks;
}
}  // namespace

void RegisterAttributeHook(AttributeHook hook) { AttributeHooks().push_back(std::move(hook)); }

QString FromStationText(const char* text) {
  const QByteArrayView bytes(text ? text : "");
  if (bytes.isValidUtf8()) return QString::fromUtf8(bytes);
  // Windows-1252 is Latin-1 but for 0x80..0x9F, where it has printable
  // characters (0x95 is the bullet) instead of control codes.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  QString out = QString::fromLatin1(bytes);
  for (QChar& c : out) {
    if (c.unicode() >= 0x80 && c.unicode() <= 0x9F) c = QChar(kHigh[c.unicode() - 0x80]);
  }
  return out;
}

}  // namespace ui_internal

using namespace ui_internal;

namespace {

// Texts are UTF-8; bytes that are not (a file written on another system) are
// taken as Windows-1252 rather than replaced, so no character is lost.
QString FromUtf8(const char* text) { return FromStationText(text); }

// Whole-text number parsing in the C locale (the station keeps LC_NUMERIC "C").
bool ParseLong(const std::string& text, long* value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  *value = parsed;
  return true;
}

bool ParseDouble(const std::string& text, double* value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(begin, &end);
  if (end == begin || errno == ERANGE || !std::isfinite(parsed)) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  *value = parsed;
  return true;
}

int ClampToInt(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return 2147483647;
  if (value <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(std::lround(value));
}

QString FormatReal(QDoubleSpinBox* spin) {
  return QString::number(spin->value(), 'f', spin->decimals());
}

QString FormatReal(double value) { return QString::number(value, 'g', 15); }

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }

// A table hidden while it changes and shown again before any event is
// processed (a row added on each pass of the moving test) is never drawn in
// between, so there it is only kept from painting: hiding and showing it for
// real laid the panel out again and measured every row label twice a pass.
// Should it still be hidden when the events come, it is hidden then. Either
// way ATTR_VISIBLE reads back what was set.
constexpr const char* kHidingProperty = "stationHiding";

bool Hiding(const QWidget* w) { return w->property(kHidingProperty).toBool(); }

void SetVisible(QWidget* w, bool visible) {
  if (Hiding(w)) {
    if (!visible) return;
    w->setProperty(kHidingProperty, false);
    w->setUpdatesEnabled(true);
    return;
  }
  if (!visible && w->isVisible() && qobject_cast<QTableWidget*>(w) != nullptr) {
    w->setProperty(kHidingProperty, true);
    w->setUpdatesEnabled(false);
    QMetaObject::invokeMethod(
        w,
        [w] {
          if (!Hiding(w)) return;
          w->setProperty(kHidingProperty, false);
          w->setUpdatesEnabled(true);
          w->hide();
        },
        Qt::QueuedConnection);
    return;
  }
  w->setHidden(!visible);
}

// A growing log follows its end until the operator scrolls away from it, and
// again once they scroll back to the end. (Comparing the bar's value with its
// maximum at each append is not enough: the range grows after the layout,
// which a hidden or busy window does later.)
constexpr const char* kHeldByOperator = "stationHeldByOperator";

void FollowEndUnlessHeld(QPlainTextEdit* box) {
  if (box->property("stationFollowWatched").toBool()) return;
  box->setProperty("stationFollowWatched", true);
  QScrollBar* bar = box->verticalScrollBar();
  QObject::connect(bar, &QAbstractSlider::actionTriggered, box, [box, bar](int) {
    // The action has not moved the bar yet: judge where it ends up.
    QTimer::singleShot(
        0, box, [box, bar] { box->setProperty(kHeldByOperator, bar->value() < bar->maximum()); });
  });
}

// A text box's contents change without the operator: not an edit to commit.
void AppendToTextBox(QPlainTextEdit* box, const QString& text) {
  FollowEndUnlessHeld(box);
  QTextCursor cursor(box->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
  box->document()->setModified(false);
  if (!box->property(kHeldByOperator).toBool()) {
    QScrollBar* bar = box->verticalScrollBar();
    bar->setValue(bar->maximum());
  }
}

int GetText(QWidget* w, QString* out) {
  if (auto* line = qobject_cast<QLineEdit*>(w))
    *out = line->text();
  else if (auto* box = qobject_cast<QPlainTextEdit*>(w))
    *out = box->toPlainText();
  else if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w))
    *out = FormatReal(dspin);
  else if (auto* spin = qobject_cast<QSpinBox*>(w))
    *out = QString::number(spin->value());
  else if (auto* ring = qobject_cast<QComboBox*>(w))
    *out = ring->currentText();
  else if (auto* label = qobject_cast<QLabel*>(w))
    *out = label->text();
  else if (auto* list = qobject_cast<QListWidget*>(w))
    *out = list->currentItem() ? list->currentItem()->text() : QString();
  else if (auto* button = qobject_cast<QAbstractButton*>(w))
    *out = button->text();
  else if (auto* group = qobject_cast<QGroupBox*>(w))
    *out = group->title();
  else
    return Fail(kErrNotSupported, "control " + Utf8(w->objectName()) + " has no text value");
  return 0;
}

int GetNumber(QWidget* w, double* out) {
  if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w))
    *out = dspin->value();
  else if (auto* spin = qobject_cast<QSpinBox*>(w))
    *out = spin->value();
  else if (auto* ring = qobject_cast<QComboBox*>(w)) {
    const QVariant data = ring->currentData();
    *out = data.isValid() && data.canConvert<int>() ? data.toInt() : ring->currentIndex();
  } else if (auto* list = qobject_cast<QListWidget*>(w))
    *out = list->currentRow();
  else if (auto* tab = qobject_cast<QTabWidget*>(w))
    *out = tab->currentIndex();
  else if (auto* slider = qobject_cast<QAbstractSlider*>(w))
    *out = slider->value();
  else if (auto* bar = qobject_cast<QProgressBar*>(w))
    *out = bar->value();
  else if (auto* button = qobject_cast<QAbstractButton*>(w))
    *out = button->isChecked() ? 1 : 0;
  else {
    QString text;
    if (GetText(w, &text) != 0) return kErrNotSupported;
    *out = std::atof(text.toUtf8().constData());
  }
  return 0;
}

int SetNumber(QWidget* w, double value, bool integral) {
  if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w))
    dspin->setValue(value);
  else if (auto* spin = qobject_cast<QSpinBox*>(w))
    spin->setValue(ClampToInt(value));
  else if (auto* ring = qobject_cast<QComboBox*>(w)) {
    const int byData = ring->findData(ClampToInt(value));
    ring->setCurrentIndex(byData >= 0 ? byData : ClampToInt(value));
  } else if (auto* list = qobject_cast<QListWidget*>(w))
    list->setCurrentRow(ClampToInt(value));
  else if (auto* tab = qobject_cast<QTabWidget*>(w))
    tab->setCurrentIndex(ClampToInt(value));
  else if (auto* slider = qobject_cast<QAbstractSlider*>(w))
    slider->setValue(ClampToInt(value));
  else if (auto* bar = qobject_cast<QProgressBar*>(w))
    bar->setValue(ClampToInt(value));
  else if (auto* button = qobject_cast<QAbstractButton*>(w); button && button->isCheckable())
    button->setChecked(value != 0);
  else {
    const QString text = integral ? QString::number(ClampToInt(value)) : FormatReal(value);
    if (auto* line = qobject_cast<QLineEdit*>(w))
      line->setText(text);
    else if (auto* box = qobject_cast<QPlainTextEdit*>(w))
      AppendToTextBox(box, text);
    else if (auto* label = qobject_cast<QLabel*>(w))
      label->setText(text);
    else
      return Fail(kErrNotSupported, "control " + Utf8(w->objectName()) + " takes no number");
  }
  return 0;
}

int SetText(QWidget* w, const QString& text) {
  if (auto* line = qobject_cast<QLineEdit*>(w))
    line->setText(text);
  else if (auto* box = qobject_cast<QPlainTextEdit*>(w))
    AppendToTextBox(box, text);
  else if (auto* label = qobject_cast<QLabel*>(w))
    label->setText(text);
  else if (auto* ring = qobject_cast<QComboBox*>(w)) {
    const int index = ring->findText(text);
    if (index >= 0)
      ring->setCurrentIndex(index);
    else if (ring->isEditable())
      ring->setEditText(text);
    else
      return Fail(kErrBadValue, "ring " + Utf8(w->objectName()) + " has no item " + Utf8(text));
  } else if (auto* list = qobject_cast<QListWidget*>(w)) {
    const auto items = list->findItems(text, Qt::MatchExactly);
    if (items.isEmpty())
      return Fail(kErrBadValue, "list " + Utf8(w->objectName()) + " has no item " + Utf8(text));
    list->setCurrentItem(items.first());
  } else {
    return SetNumber(w, std::atof(text.toUtf8().constData()),
                     qobject_cast<QSpinBox*>(w) != nullptr);
  }
  return 0;
}

QWidget* Control(int panel, int control, const char* operation) {
  QWidget* w = ControlWidget(panel, control);
  if (w == nullptr) Fail(kErrBadControl, std::string(operation) + ": " + UiLastError());
  return w;
}

// Rings and list boxes both hold items.
struct ItemControl {
  QListWidget* list = nullptr;
  QComboBox* ring = nullptr;
  int Count() const { return list ? list->count() : ring->count(); }
};

bool Items(int panel, int control, const char* operation, ItemControl* items) {
  QWidget* w = Control(panel, control, operation);
  if (w == nullptr) return false;
  items->list = qobject_cast<QListWidget*>(w);
  items->ring = qobject_cast<QComboBox*>(w);
  if (items->list == nullptr && items->ring == nullptr) {
    Fail(kErrNotSupported,
         std::string(operation) + ": " + Utf8(w->objectName()) + " is not a list or ring");
    return false;
  }
  return true;
}

}  // namespace

// ---- Values -------------------------------------------------------------------------

int GetCtrlVal(int panel, int control, int* value) {
  QWidget* w = Control(panel, control, "GetCtrlVal");
  if (w == nullptr) return kErrBadControl;
  double number = 0.0;
  const int rc = GetNumber(w, &number);
  if (rc == 0) *value = ClampToInt(number);
  return rc;
}

int GetCtrlVal(int panel, int control, double* value) {
  QWidget* w = Control(panel, control, "GetCtrlVal");
  if (w == nullptr) return kErrBadControl;
  return GetNumber(w, value);
}

int GetCtrlVal(int panel, int control, char* text, std::size_t capacity) {
  if (text == nullptr || capacity == 0)
    return Fail(kErrBadValue, "GetCtrlVal: no room for the text");
  text[0] = '\0';
  std::string value;
  const int rc = GetCtrlVal(panel, control, &value);
  if (rc != 0) return rc;
  const std::size_t length = std::min(value.size(), capacity - 1);
  std::memcpy(text, value.data(), length);
  text[length] = '\0';
  return 0;
}

int GetCtrlVal(int panel, int control, std::string* text) {
  QWidget* w = Control(panel, control, "GetCtrlVal");
  if (w == nullptr) return kErrBadControl;
  QString value;
  const int rc = GetText(w, &value);
  if (rc == 0) *text = Utf8(value);
  return rc;
}

int SetCtrlVal(int panel, int control, int value) {
  QWidget* w = Control(panel, control, "SetCtrlVal");
  return w ? SetNumber(w, value, true) : kErrBadControl;
}

int SetCtrlVal(int panel, int control, double value) {
  QWidget* w = Control(panel, control, "SetCtrlVal");
  return w ? SetNumber(w, value, false) : kErrBadControl;
}

int SetCtrlVal(int panel, int control, const char* text) {
  QWidget* w = Control(panel, control, "SetCtrlVal");
  return w ? SetText(w, FromUtf8(text)) : kErrBadControl;
}

int ResetTextBox(int panel, int control, const char* text) {
  QWidget* w = Control(panel, control, "ResetTextBox");
  if (w == nullptr) return kErrBadControl;
  if (auto* box = qobject_cast<QPlainTextEdit*>(w)) {
    box->setPlainText(FromUtf8(text));
    box->document()->setModified(false);
    return 0;
  }
  if (auto* line = qobject_cast<QLineEdit*>(w)) {
    line->setText(FromUtf8(text));
    return 0;
  }
  return Fail(kErrNotSupported, "ResetTextBox: " + Utf8(w->objectName()) + " is not a text box");
}

// ---- Attributes -----------------------------------------------------------------------

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
  QWidget* w = Control(panel, control, "SetCtrlAttribute");
  if (w == nullptr) return kErrBadControl;
  for (const AttributeHook& hook : AttributeHooks()) {
    if (hook(w, attribute, value)) return 0;
  }
  switch (attribute) {
    case ATTR_VISIBLE:
      SetVisible(w, value != 0);
      return 0;
    case ATTR_DIMMED:
      w->setEnabled(value == 0);
      return 0;
    case ATTR_TEXT_COLOR: {
      const QColor color(QRgb(static_cast<unsigned>(value) & 0xFFFFFFu));
      QPalette palette = w->palette();
      for (QPalette::ColorRole role :
           {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
      }
      w->setPalette(palette);
      return 0;
    }
    case ATTR_BACK_COLOR: {
      // Base is the field of an input (spin box, line edit), Window the
      // ground of the rest; a label paints its ground only when asked to.
      const QColor color(QRgb(static_cast<unsigned>(value) & 0xFFFFFFu));
      QPalette palette = w->palette();
      for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window}) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
        palette.setColor(QPalette::Disabled, role, color);
      }
      w->setPalette(palette);
      if (qobject_cast<QLabel*>(w)) w->setAutoFillBackground(true);
      return 0;
    }
    case ATTR_CTRL_VAL:
      return SetNumber(w, value, true);
    default:
      return Fail(kErrNotSupported, "SetCtrlAttribute: attribute " + std::to_string(attribute) +
                                        " is not supported on " + Utf8(w->objectName()));
  }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
  QWidget* w = Control(panel, control, "SetCtrlAttribute");
  if (w == nullptr) return kErrBadControl;
  const QString text = FromUtf8(value);
  if (attribute == ATTR_CTRL_VAL) return SetText(w, text);
  if (attribute != ATTR_LABEL_TEXT) {
    return Fail(kErrNotSupported,
                "SetCtrlAttribute: attribute " + std::to_string(attribute) + " takes no text");
  }
  if (auto* button = qobject_cast<QAbstractButton*>(w))
    button->setText(text);
  else if (auto* group = qobject_cast<QGroupBox*>(w))
    group->setTitle(text);
  else if (auto* label = qobject_cast<QLabel*>(w))
    label->setText(text);
  else {
    // The label whose buddy the control is.
    QWidget* top = w->window();
    for (QLabel* label : top->findChildren<QLabel*>()) {
      if (label->buddy() == w) {
        label->setText(text);
        return 0;
      }
    }
    return Fail(kErrNotSupported, "SetCtrlAttribute: " + Utf8(w->objectName()) + " has no label");
  }
  return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
  QWidget* w = Control(panel, control, "GetCtrlAttribute");
  if (w == nullptr) return kErrBadControl;
  switch (attribute) {
    case ATTR_VISIBLE:
      *value = w->isHidden() || Hiding(w) ? 0 : 1;
      return 0;
    case ATTR_DIMMED:
      *value = w->isEnabled() ? 0 : 1;
      return 0;
    case ATTR_TEXT_COLOR:
      *value = static_cast<int>(w->palette().color(QPalette::Text).rgb() & 0xFFFFFFu);
      return 0;
    case ATTR_BACK_COLOR:
      *value = static_cast<int>(w->palette().color(QPalette::Base).rgb() & 0xFFFFFFu);
      return 0;
    case ATTR_CTRL_VAL:
      return GetCtrlVal(panel, control, value);
    default:
      return Fail(kErrNotSupported, "GetCtrlAttribute: attribute " + std::to_string(attribute) +
                                        " is not supported on " + Utf8(w->objectName()));
  }
}

// ---- Lists and rings ----------------------------------------------------------------

int ClearListCtrl(int panel, int control) {
  ItemControl items;
  if (!Items(panel, control, "ClearListCtrl", &items)) return kErrBadControl;
  if (items.list)
    items.list->clear();
  else
    items.ring->clear();
  return 0;
}

int InsertListItem(int panel, int control, int index, const char* label) {
  ItemControl items;
  if (!Items(panel, control, "InsertListItem", &items)) return kErrBadControl;
  const int count = items.Count();
  if (index < -1 || index > count) {
    return Fail(kErrBadValue, "InsertListItem: index " + std::to_string(index) + " outside 0.." +
                                  std::to_string(count));
  }
  const int at = index == -1 ? count : index;
  if (items.list)
    items.list->insertItem(at, FromUtf8(label));
  else
    items.ring->insertItem(at, FromUtf8(label));
  return 0;
}

int GetNumListItems(int panel, int control, int* count) {
  ItemControl items;
  if (!Items(panel, control, "GetNumListItems", &items)) return kErrBadControl;
  *count = items.Count();
  return 0;
}

int GetLabelFromIndex(int panel, int control, int index, std::string* label) {
  ItemControl items;
  if (!Items(panel, control, "GetLabelFromIndex", &items)) return kErrBadControl;
  if (index < 0 || index >= items.Count()) {
    return Fail(kErrBadValue, "GetLabelFromIndex: no item " + std::to_string(index));
  }
  *label = Utf8(items.list ? items.list->item(index)->text() : items.ring->itemText(index));
  return 0;
}

int GetLabelFromIndex(int panel, int control, int index, char* label, std::size_t capacity) {
  if (label == nullptr || capacity == 0)
    return Fail(kErrBadValue, "GetLabelFromIndex: no room for the label");
  label[0] = '\0';
  std::string text;
  const int rc = GetLabelFromIndex(panel, control, index, &text);
  if (rc != 0) return rc;
  const std::size_t length = std::min(text.size(), capacity - 1);
  std::memcpy(label, text.data(), length);
  label[length] = '\0';
  return 0;
}

int GetCtrlIndex(int panel, int control, int* index) {
  ItemControl items;
  if (!Items(panel, control, "GetCtrlIndex", &items)) return kErrBadControl;
  *index = items.list ? items.list->currentRow() : items.ring->currentIndex();
  if (*index >= items.Count()) *index = -1;
  return 0;
}

int SetCtrlIndex(int panel, int control, int index) {
  ItemControl items;
  if (!Items(panel, control, "SetCtrlIndex", &items)) return kErrBadControl;
  if (index < -1 || index >= items.Count()) {
    return Fail(kErrBadValue, "SetCtrlIndex: no item " + std::to_string(index));
  }
  if (items.list)
    items.list->setCurrentRow(index);
  else
    items.ring->setCurrentIndex(index);
  return 0;
}

int DeleteListItem(int panel, int control, int index, int count) {
  ItemControl items;
  if (!Items(panel, control, "DeleteListItem", &items)) return kErrBadControl;
  const int total = items.Count();
  if (index < 0 || index >= total)
    return Fail(kErrBadValue, "DeleteListItem: no item " + std::to_string(index));
  const int last = count < 0 ? total : std::min(total, index + count);
  for (int i = last - 1; i >= index; --i) {
    if (items.list)
      delete items.list->takeItem(i);
    else
      items.ring->removeItem(i);
  }
  return 0;
}

// ---- Automation -----------------------------------------------------------------------

namespace {
// The front end reports these itself: no second line on stderr.
int Refuse(int code, const std::string& message) {
  State().lastError = message;
  return code;
}
}  // namespace

bool FindControlByName(const std::string& name, int* panel, int* control) {
  for (auto& [handle, info] : State().panels) {
    for (auto& [id, entry] : info.controls) {
      if (entry.name == name && !entry.widget.isNull()) {
        *panel = handle;
        *control = id;
        return true;
      }
    }
  }
  return false;
}

int SetCtrlValFromText(int panel, int control, const std::string& text) {
  QWidget* w = ControlWidget(panel, control);
  if (w == nullptr) return kErrBadControl;
  const QString qtext = QString::fromStdString(text);
  const std::string name = Utf8(w->objectName());
  if (auto* box = qobject_cast<QPlainTextEdit*>(w)) {
    // Line ends of a text box travel as "\n", the way CtrlValueAsText's
    // callers print them.
    box->setPlainText(QString(qtext).replace(QLatin1String("\\n"), QLatin1String("\n")));
    box->document()->setModified(false);
    return 0;
  }
  if (auto* line = qobject_cast<QLineEdit*>(w)) {
    line->setText(qtext);
    return 0;
  }
  if (auto* spin = qobject_cast<QSpinBox*>(w)) {
    long value = 0;
    if (!ParseLong(text, &value))
      return Refuse(kErrBadValue, name + " takes an integer, not \"" + text + "\"");
    if (value < spin->minimum() || value > spin->maximum()) {
      return Refuse(kErrBadValue, name + ": " + text + " is outside " +
                                      std::to_string(spin->minimum()) + ".." +
                                      std::to_string(spin->maximum()));
    }
    spin->setValue(static_cast<int>(value));
    return 0;
  }
  if (auto* dspin = qobject_cast<QDoubleSpinBox*>(w)) {
    double value = 0.0;
    if (!ParseDouble(text, &value))
      return Refuse(kErrBadValue, name + " takes a number, not \"" + text + "\"");
    if (value < dspin->minimum() || value > dspin->maximum()) {
      return Refuse(kErrBadValue, name + ": " + text + " is outside " +
                                      Utf8(FormatReal(dspin->minimum())) + ".." +
                                      Utf8(FormatReal(dspin->maximum())));
    }
    dspin->setValue(value);
    return 0;
  }
  if (auto* ring = qobject_cast<QComboBox*>(w)) {
    long index = 0;
    int found = ring->findText(qtext);
    if (found < 0 && ParseLong(text, &index) && index >= 0 && index < ring->count())
      found = static_cast<int>(index);
    if (found < 0) return Refuse(kErrBadValue, name + " has no item \"" + text + "\"");
    ring->setCurrentIndex(found);
    return 0;
  }
  if (auto* list = qobject_cast<QListWidget*>(w)) {
    long index = 0;
    const auto items = list->findItems(qtext, Qt::MatchExactly);
    if (!items.isEmpty())
      index = list->row(items.first());
    else if (!ParseLong(text, &index) || index < -1 || index >= list->count()) {
      return Refuse(kErrBadValue, name + " has no item \"" + text + "\"");
    }
    list->setCurrentRow(static_cast<int>(index));
    return 0;
  }
  if (auto* tab = qobject_cast<QTabWidget*>(w)) {
    long index = -1;
    for (int i = 0; i < tab->count(); ++i) {
      if (tab->widget(i)->objectName() == qtext || tab->tabText(i) == qtext) index = i;
    }
    if (index < 0 && (!ParseLong(text, &index) || index < 0 || index >= tab->count())) {
      return Refuse(kErrBadValue, name + " has no page \"" + text + "\"");
    }
    tab->setCurrentIndex(static_cast<int>(index));
    return 0;
  }
  if (auto* button = qobject_cast<QAbstractButton*>(w); button && button->isCheckable()) {
    long on = 0;
    if (!ParseLong(text, &on))
      return Refuse(kErrBadValue, name + " takes 0 or 1, not \"" + text + "\"");
    button->setChecked(on != 0);
    return 0;
  }
  if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(qtext);
    return 0;
  }
  return Refuse(kErrNotSupported, name + " cannot be set (press it instead)");
}

bool CtrlIsList(int panel, int control) {
  return qobject_cast<QListWidget*>(ControlWidget(panel, control)) != nullptr;
}

std::string CtrlValueAsText(int panel, int control) {
  QWidget* w = ControlWidget(panel, control);
  if (w == nullptr) return std::string();
  if (auto* list = qobject_cast<QListWidget*>(w)) {
    std::string items;
    for (int i = 0; i < list->count(); ++i) {
      if (i > 0) items += '\n';
      items += Utf8(list->item(i)->text());
    }
    return items;
  }
  if (qobject_cast<QComboBox*>(w) || qobject_cast<QTabWidget*>(w) ||
      (qobject_cast<QAbstractButton*>(w) && qobject_cast<QAbstractButton*>(w)->isCheckable())) {
    int value = 0;
    GetCtrlVal(panel, control, &value);
    return std::to_string(value);
  }
  std::string text;
  GetCtrlVal(panel, control, &text);
  return text;
}

bool CommitControl(int panel, int control) {
  int owner = 0;
  ControlInfo* info = FindControl(panel, control, &owner);
  if (info == nullptr) {
    Refuse(kErrBadControl, "CommitControl: " + UiLastError());
    return false;
  }
  if (info->callback == nullptr) {
    Refuse(kErrBadControl, info->name + " has no callback");
    return false;
  }
  // What the operator cannot reach cannot be pressed.
  if (!info->widget->isEnabled()) {
    Refuse(kErrBadControl, info->name + " is dimmed");
    return false;
  }
  if (!info->widget->isVisibleTo(info->widget->window())) {
    Refuse(kErrBadControl, info->name + " is hidden");
    return false;
  }
  // A button goes through its own click, exactly as the operator's.
  if (auto* button = qobject_cast<QAbstractButton*>(info->widget.data())) {
    button->click();
    return true;
  }
  Dispatch(owner, info->id, EVENT_COMMIT);
  return true;
}
