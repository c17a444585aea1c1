// Pictures from the program folder, decoded by the program's own codecs.
#include "frontend/images.h"

#include <QHash>
#include <QImage>

#include "core/settings.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
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
  // Our own decoders (the formats the program ships), not Qt's image plugins: loading those
  // costs a start-up more than all the pictures.
  QPixmap pixmap;
  CBitmap bitmap;
  if (LoadImageFile(AppOptions().program_dir + "images/" + name, &bitmap) && !bitmap.IsEmpty()) {
    QImage view(reinterpret_cast<const uchar*>(bitmap.Pixels()), bitmap.Width(), bitmap.Height(),
                static_cast<qsizetype>(bitmap.Stride()), QImage::Format_ARGB32_Premultiplied);
    pixmap = QPixmap::fromImage(view.copy());
  }
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

QCursor ProgramCursor(CursorKind kind) {
  // The program's own cursors: 32-pixel pictures whose hot spot is the centre of the cross
  // drawn in their top-left quarter.
  auto own = [](const char* name) {
    QPixmap pixmap = LoadProgramImage(name);
    return pixmap.isNull() ? QCursor(Qt::CrossCursor) : QCursor(pixmap, 7, 7);
  };
  switch (kind) {
    case CursorKind::kDefault:
    case CursorKind::kArrow: return QCursor(Qt::ArrowCursor);
    case CursorKind::kWait: return QCursor(Qt::WaitCursor);
    case CursorKind::kHand: return QCursor(Qt::PointingHandCursor);
    case CursorKind::kCross: return QCursor(Qt::CrossCursor);
    case CursorKind::kSizeNS: return QCursor(Qt::SizeVerCursor);
    case CursorKind::kSizeWE: return QCursor(Qt::SizeHorCursor);
    case CursorKind::kFreeRegion: return own("cursor_free_region.png");
    case CursorKind::kSelection: return own("cursor_selection.png");
  }
  return QCursor(Qt::ArrowCursor);
}

void ClearProgramImages() { Cache().clear(); }

}  // namespace velmora
