// Pictures from the program folder.
#include "frontend/images.h"

#include <QHash>
#include <QImageReader>

#include "core/settings.h"
#include "platform/ui/image_list.h"

namespace velmora {
namespace {

QHash<QString, QPixmap>& Cache() {
  static QHash<QString, QPixmap> cache;  // UI thread only
  return cache;
}

}  // namespace

QPixmap LoadProgramImage(const std::string& name) {
  if (name.empty()) return QPixmap();
  const QString key = QString::fromStdString(name);
  auto& cache = Cache();
  if (auto it = cache.find(key); it != cache.end()) return *it;
  QString path = QString::fromStdString(AppOptions().program_dir + "images/" + name);
  QPixmap pixmap;
  QImageReader reader(path);
  QImage image = reader.read();
  if (!image.isNull()) pixmap = QPixmap::fromImage(image);
  cache.insert(key, pixmap);  // a missing file is looked for once
  return pixmap;
}

QPixmap LoadProgramImage(const std::string& name, QSize size) {
  QPixmap pixmap = LoadProgramImage(name);
  if (pixmap.isNull()) {
    QPixmap blank(size);
    blank.fill(Qt::transparent);
    return blank;
  }
  if (pixmap.size() != size) pixmap = pixmap.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return pixmap;
}

QPixmap ImageListPixmap(const CImageList* list, int index) {
  if (!list || index < 0 || index >= list->GetImageCount()) return QPixmap();
  return LoadProgramImage(list->GetName(index), QSize(list->Width(), list->Height()));
}

QIcon ProgramIcon(const std::string& name) {
  QPixmap pixmap = LoadProgramImage(name);
  return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

void ClearProgramImages() { Cache().clear(); }

}  // namespace velmora
