// Images of controls: a grab of the widget kept under a handle until it is
// saved as JPEG and discarded. Works off-screen as well.
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPixmap>
#include <QSaveFile>
#include <QWidget>
#include <algorithm>
#include <map>
#include <string>

#include "platform/ui.h"
#include "platform/ui_internal.h"

using namespace ui_internal;

namespace {

struct Bitmaps {
  std::map<int, QImage> images;
  int nextHandle = 1;
};

Bitmaps& Table() {
  static Bitmaps bitmaps;
  return bitmaps;
}

}  // namespace

int GetCtrlDisplayBitmap(int panel, int control, int /*includeLabel*/, int* bitmap) {
  // Our controls carry no label of their own: the image is the widget.
  QWidget* w = ControlWidget(panel, control);
  if (w == nullptr) return Fail(kErrBadControl, "GetCtrlDisplayBitmap: " + UiLastError());
  if (bitmap == nullptr) return Fail(kErrBadValue, "GetCtrlDisplayBitmap: no place for the handle");
  // What the control still has to draw (a graph's new points) is drawn first.
  QCoreApplication::sendPostedEvents(w, 0);
  QImage image = w->grab().toImage();
  if (image.isNull())
    return Fail(kErrBadValue, "GetCtrlDisplayBitmap: " + w->objectName().toStdString() +
                                  " has no image (zero size?)");
  Bitmaps& table = Table();
  const int handle = table.nextHandle++;
  table.images.emplace(handle, std::move(image));
  *bitmap = handle;
  return 0;
}

int SaveBitmapToJPEGFile(int bitmap, const char* path, int quality) {
  Bitmaps& table = Table();
  auto it = table.images.find(bitmap);
  if (it == table.images.end())
    return Fail(kErrBadValue, "SaveBitmapToJPEGFile: no bitmap " + std::to_string(bitmap));
  const QString file = QString::fromUtf8(path ? path : "");
  if (file.isEmpty()) return Fail(kErrFile, "SaveBitmapToJPEGFile: no file name");
  // Written beside and renamed into place: a failed save leaves an older
  // picture whole instead of a truncated one.
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly)) {
    return Fail(kErrFile, "SaveBitmapToJPEGFile: " + file.toStdString() + ": " +
                              out.errorString().toStdString());
  }
  QImageWriter writer(&out, "jpg");
  writer.setQuality(std::clamp(quality, 0, 100));
  if (!writer.write(it->second.convertToFormat(QImage::Format_RGB32))) {
    out.cancelWriting();
    return Fail(kErrFile, "SaveBitmapToJPEGFile: " + file.toStdString() + ": " +
                              writer.errorString().toStdString());
  }
  if (!out.commit()) {
    return Fail(kErrFile, "SaveBitmapToJPEGFile: " + file.toStdString() + ": " +
                              out.errorString().toStdString());
  }
  return 0;
}

int DiscardBitmap(int bitmap) {
  if (Table().images.erase(bitmap) == 0)
    return Fail(kErrBadValue, "DiscardBitmap: no bitmap " + std::to_string(bitmap));
  return 0;
}

int FileExists(const char* path, int* size) {
  const QFileInfo info(QString::fromUtf8(path ? path : ""));
  const bool exists = path != nullptr && *path != '\0' && info.exists();
  if (size != nullptr) {
    // Sizes beyond an int are reported as the largest int.
    *size = exists ? static_cast<int>(std::min<qint64>(info.size(), 2147483647)) : -1;
  }
  return exists ? 1 : 0;
}
