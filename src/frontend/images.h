// The program's pictures for widgets: files in "<program folder>images/" loaded once and kept. A
// missing or unreadable file is a blank (a null pixmap, or a transparent one of the asked size),
// never an error.
#pragma once
#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <string>

#include "platform/ui/ui_types.h"

namespace velmora {

class CImageList;

// The picture, or a null pixmap when the name is empty or the file is missing.
QPixmap LoadProgramImage(const std::string& name);
// The picture scaled to `size` when it is another size; a transparent pixmap of that size when
// the file is missing.
QPixmap LoadProgramImage(const std::string& name, QSize size);
// Image `index` of an image list (the list holds names), or a null pixmap.
QPixmap ImageListPixmap(const CImageList* list, int index);
QIcon ProgramIcon(const std::string& name);
// The pointer shape of a cursor kind: the desktop's standard shapes, and the program's own
// pictures "cursor_free_region.png" and "cursor_selection.png" (a cross when they are missing).
QCursor ProgramCursor(CursorKind kind);
// Forgets the loaded pictures (tests that change the program folder).
void ClearProgramImages();

}  // namespace velmora
