// The program's pictures for widgets: files in "<program folder>images/" loaded once and kept. A
// missing or unreadable file is a blank (a null pixmap, or a transparent one of the asked size),
// never an error.
#pragma once
#include <QIcon>
#include <QPixmap>
#include <string>

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
// Forgets the loaded pictures (tests that change the program folder).
void ClearProgramImages();

}  // namespace velmora
