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
// missing (the icon is then left as it was).
bool SetWindowIconFromImage(CWnd* window, const char* name);
// Sets the window's big and small icon from an icon resource id.
void SetWindowIconFromResource(CWnd* window, int resource_id);

}  // namespace velmora
