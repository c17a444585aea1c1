// CQtUiHost: the UiHost of the desktop. Message boxes, file and folder choosers, pop-up menus
// and dialogs are real Qt windows; the answer is what the person clicked. Modal dialogs run a
// nested Qt loop that keeps serving the UI dispatcher (workers' sends, timers) and ends when the
// dialog ends; a dialog closed by the window manager gets its WM_CLOSE, which cancels it. A message
// box or the clipboard asked for from another thread is served on the UI thread (the caller waits).
#pragma once
#include <QWidget>
#include <string>

#include "platform/ui/ui_host.h"

namespace velmora {

class CQtUiHost : public UiHost {
 public:
  int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) override;
  bool ChooseFile(CFileDialog& dialog) override;
  bool ChooseFolder(const std::string& title, const std::string& initial, std::string* folder) override;
  UINT TrackPopupMenu(const CMenu& menu, int x, int y, CWnd* owner) override;
  void RunModal(CDialog& dialog) override;
  void ShowModeless(CDialog& dialog) override;
  void SetClipboardText(const std::string& text) override;
  std::string GetClipboardText() override;
  bool OpenDocument(const std::string& path) override;
  // Qt's colour dialog (its own widgets, as the file choosers, in Chinese), with the alpha
  // channel: the program's colours are ARGB.
  bool ChooseColor(CWnd* owner, uint32_t* argb) override;

  // The top widget that windows asked for by `owner` belong to: the owner's own window when it
  // is shown, else the active modal window, the active window or the main window.
  static QWidget* OwnerWidget(CWnd* owner);
  // The main window, the owner of last resort (set by the main frame's front end).
  static void SetMainWidget(QWidget* widget);

  // The Qt name filter of one entry of a "label|*.a;*.b|" filter: "label (*.a *.b)".
  static QString NameFilter(const std::string& label, const std::vector<std::string>& patterns);
};

}  // namespace velmora
