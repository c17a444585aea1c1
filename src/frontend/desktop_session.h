// CDesktopSession: the desktop front end installed for a scope. It makes the QApplication (unless
// one exists), loads Qt's own texts in Chinese (the file dialog's labels and buttons), sets the
// application font (the shell's "Microsoft Sans Serif" mapped to the
// installed CJK font, and the dialog units from it), and installs the Qt UiHost, the window
// mirror, the dispatcher bridge and the splash window; the destructor takes them away again in
// the reverse order. The program and the front-end tests use it alike.
#pragma once
#include <QApplication>
#include <QTranslator>
#include <memory>

#include "frontend/dispatcher_bridge.h"
#include "frontend/main_window.h"
#include "frontend/qt_ui_host.h"

namespace velmora {

class CMainFrame;
struct AppFontDesc;

class CDesktopSession {
 public:
  CDesktopSession(int& argc, char** argv);
  ~CDesktopSession();
  CDesktopSession(const CDesktopSession&) = delete;
  CDesktopSession& operator=(const CDesktopSession&) = delete;

  CQtDispatcherBridge& Bridge() { return *bridge_; }
  CQtUiHost& Host() { return host_; }

  // The main window for the frame (made once); DestroyMainWindow saves its place and closes it.
  CQtMainWindow* CreateMainWindow(CMainFrame& frame);
  CQtMainWindow* MainWindow() const { return main_window_; }
  void DestroyMainWindow();

  // The application font of the shell's description.
  static QFont ApplicationFont(const AppFontDesc& desc);

 private:
  std::unique_ptr<QApplication> own_app_;
  std::unique_ptr<QTranslator> translator_;
  CQtUiHost host_;
  std::unique_ptr<CQtDispatcherBridge> bridge_;
  CQtMainWindow* main_window_ = nullptr;
};

}  // namespace velmora
