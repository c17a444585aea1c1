// The front end installed for a scope, and the desktop program.
#include "frontend/desktop_session.h"

#include <time.h>

#include <QEvent>
#include <QFont>
#include <QLibraryInfo>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

#include "core/log.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/earth_page.h"
#include "frontend/desktop.h"
#include "frontend/dialog_units.h"
#include "frontend/drag_tracker.h"
#include "frontend/images.h"
#include "frontend/splash_screen.h"
#include "frontend/web_view_loader.h"
#include "frontend/wait_cursor_hook.h"
#include "frontend/window_mirror.h"
#include "platform/gfx/font.h"
#include "platform/ui/ui_host.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "shell/stop_signal.h"

namespace velmora {
namespace {

void OnStatusBarChanged() { CQtDispatcherBridge::Wake(); }

bool EnvSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// For the start-up benchmark: prints the monotonic time of the main window's first paint and
// ends the program.
class CFirstPaintReport : public QObject {
 public:
  explicit CFirstPaintReport(CKovraHomeExApp& app) : app_(app) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !reported_) {
      reported_ = true;
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("first-paint-ns %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
      std::fflush(stdout);
      app_.RequestQuit(0);
    }
    return false;
  }

 private:
  CKovraHomeExApp& app_;
  bool reported_ = false;
};

}  // namespace

QFont CDesktopSession::ApplicationFont(const AppFontDesc& desc) {
  QFont font(QString::fromStdString(MapFaceName(desc.face)));
  font.setPixelSize(std::max(9, desc.height < 0 ? -desc.height : desc.height));
  font.setWeight(desc.weight >= 700 ? QFont::Bold : QFont::Normal);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

CDesktopSession::CDesktopSession(int& argc, char** argv) {
  PrepareWebViews();  // before the QApplication, as the web engine requires
  if (!QApplication::instance()) own_app_ = std::make_unique<QApplication>(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // the frame's WM_CLOSE ends the program
  if (QScreen* screen = QGuiApplication::primaryScreen())  // the earth mosaic sizes itself by it
    SetGeMosaicScreenSize(screen->size().width(), screen->size().height());
  // The program speaks Chinese: so do Qt's own dialogs (when the translations are installed).
  translator_ = std::make_unique<QTranslator>();
  if (translator_->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(translator_.get());
  else
    translator_.reset();
  CKovraHomeExApp* app = GetApp();
  QFont font = ApplicationFont(app ? app->AppFont() : AppFontDesc{});
  QApplication::setFont(font);
  CDialogUnits::SetFont(font);
  ClearProgramImages();
  bridge_ = std::make_unique<CQtDispatcherBridge>();
  CWindowMirror::Get().Install();
  SetUiHost(&host_);
  MapStatusBar().SetChangeHook(&OnStatusBarChanged);
  CSplashScreen::Install();
  InstallWebViews();
  InstallWaitCursorHook();
  InstallDragTracker();
}

CDesktopSession::~CDesktopSession() {
  RemoveDragTracker();
  CloseEarthApplication();  // its page belongs to the web engine, which goes with the application
  UninstallWebViews();
  DestroyMainWindow();
  RemoveWaitCursorHook();
  CSplashScreen::Uninstall();
  MapStatusBar().SetChangeHook(nullptr);
  SetUiHost(nullptr);
  CWindowMirror::Get().Uninstall();
  bridge_.reset();
  CQtUiHost::SetMainWidget(nullptr);
  if (translator_) QApplication::removeTranslator(translator_.get());
  translator_.reset();
  own_app_.reset();
}

CQtMainWindow* CDesktopSession::CreateMainWindow(CMainFrame& frame) {
  if (!main_window_) main_window_ = new CQtMainWindow(frame);
  return main_window_;
}

void CDesktopSession::DestroyMainWindow() {
  if (!main_window_) return;
  main_window_->SaveGeometry();
  delete main_window_;
  main_window_ = nullptr;
}

// ---- the desktop program ----

bool DesktopWanted() { return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY") || EnvSet("QT_QPA_PLATFORM"); }

int RunDesktopProgram(CKovraHomeExApp& app, int& argc, char** argv) {
  // Qt starts threads of its own: they must inherit the blocked stop signals.
  CStopSignal::BlockStopSignals();
  CDesktopSession session(argc, argv);
  CFirstPaintReport report(app);

  AppStep window;
  window.name = "main window";
  window.phase = AppPhase::kFrame;
  window.start = [&session, &report](CKovraHomeExApp& a) {
    CQtMainWindow* main = session.CreateMainWindow(*a.MainFrame());
    if (EnvSet("VELMORA_REPORT_FIRST_PAINT")) main->installEventFilter(&report);
    return true;
  };
  window.stop = [&session](CKovraHomeExApp&) { session.DestroyMainWindow(); };
  app.RegisterStep(std::move(window));
  app.SetMessageLoop([&session] { return session.Bridge().Exec(); }, "showing the main window");
  int code = app.RunProgram();
  app.SetMessageLoop({});
  return code;
}

}  // namespace velmora
