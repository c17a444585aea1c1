// Dialogs of the window model on screen. CDialogContentBinding shows a dialog's client area (its
// template controls at their places); CDialogWindow is the top window around it for a modal or
// modeless dialog, and turns the window manager's close, Escape and Enter into the dialog's own
// WM_CLOSE, IDCANCEL and IDOK; CSheetBinding draws a property sheet's tabs and shows each page
// inside them once the page's window exists.
#pragma once
#include <QDialog>
#include <QPointer>
#include <vector>

#include "frontend/custom_window.h"

class QTabWidget;

namespace velmora {

class CDialog;
class CPropertySheet;

class CDialogContentBinding : public CCustomWindowBinding {
 public:
  CDialogContentBinding(CDialog& dialog, QWidget* parent);
  void SyncFromModel() override;
};

class CSheetBinding : public CDialogContentBinding {
 public:
  CSheetBinding(CPropertySheet& sheet, QWidget* parent);
  void SyncFromModel() override;
  QWidget* ContainerFor(CWnd& child) override;
  QTabWidget* Tabs() const { return tabs_; }

 private:
  QTabWidget* tabs_;
  std::vector<QWidget*> slots_;
};

class CDialogWindow : public QDialog {
 public:
  // Makes the top window for `dialog` (whose window exists) with its content, owned by `owner`
  // (may be null).
  CDialogWindow(CDialog& dialog, QWidget* owner);
  ~CDialogWindow() override;

  // The window that shows this dialog, or null.
  static CDialogWindow* Of(const CDialog& dialog);
  CDialog* Dialog() const;
  QWidget* Content() const { return content_; }
  // The dialog is on its way out: the window stops talking to it.
  void Forget() { dialog_ = nullptr; }

  void reject() override;  // Escape: IDCANCEL
  // The dialog's system menu (platform/ui/system_menu.h) at the screen point: the chosen entry
  // goes to the dialog as WM_SYSCOMMAND. Alt+Space and a right click on the window's own area
  // open it (the window manager draws the title bar, whose menu Qt cannot extend). False when the
  // dialog has no entries.
  bool ShowSystemMenu(const QPoint& global);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;  // the window manager's close: WM_CLOSE
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CDialog* dialog_;
  HWND hwnd_;
  QPointer<QWidget> content_;
};

}  // namespace velmora
