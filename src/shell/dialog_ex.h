// CDialogEx: the program's own dialog base (side panels and task dialogs derive from it), and the
// helpers that give a window its icon.
#pragma once
#include "platform/ui/dialog.h"

namespace velmora {

class CDialogEx : public CDialog {
 public:
  using CDialog::CDialog;
};

// Makes the image "<program folder>images/<name>" the window's icon; false when the file is
// missing (the icon is then left as it was). The window keeps the name (the front end reads the
// picture from the images folder, as it does for every image name).
bool SetWindowIconFromImage(CWnd* window, const char* name);
// Sets the window's big and small icon from an icon resource id. The program's icon resources
// are pictures of the images folder: 126 (the application icon) is "icon.png"; other ids carry
// no picture.
void SetWindowIconFromResource(CWnd* window, int resource_id);
// The picture of an icon resource id ("" for none).
const char* IconResourceImage(int resource_id);

}  // namespace velmora
