// The splash window.
#include "frontend/splash_screen.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPointer>
#include <QSplashScreen>
#include <QThread>
#include <string>

#include "frontend/dispatcher_bridge.h"
#include "frontend/images.h"
#include "frontend/text_fit.h"
#include "frontend/window_mirror.h"
#include "platform/ui/ui_types.h"
#include "shell/splash_wnd.h"

namespace velmora {
namespace {

QPointer<QSplashScreen> g_splash;  // UI thread only
std::string g_shown;
int g_listener = 0;

QPixmap SplashPicture() {
  QPixmap pixmap(420, 240);
  QPainter p(&pixmap);
  QLinearGradient sky(0, 0, 0, 240);
  sky.setColorAt(0, QColor(24, 74, 128));
  sky.setColorAt(1, QColor(12, 36, 70));
  p.fillRect(pixmap.rect(), sky);
  QPixmap logo = LoadProgramImage("logo.png", QSize(96, 96));
  p.drawPixmap(24, 40, logo);
  QFont title = QApplication::font();
  title.setPixelSize(40);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(136, 52, 270, 60), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(kAppTitle));
  return pixmap;
}

bool OnUiThread() { return qApp && QThread::currentThread() == qApp->thread(); }

void OnSplashChanged() {
  if (OnUiThread())
    CSplashScreen::Update();
  else
    CQtDispatcherBridge::Wake();
}

}  // namespace

void CSplashScreen::Install() {
  SplashWnd().SetChangeHook(&OnSplashChanged);
  if (CQtDispatcherBridge* bridge = CQtDispatcherBridge::Instance(); bridge && !g_listener)
    g_listener = bridge->AddListener([] { Update(); });
  Update();
}

void CSplashScreen::Uninstall() {
  SplashWnd().SetChangeHook(nullptr);
  if (CQtDispatcherBridge* bridge = CQtDispatcherBridge::Instance(); bridge && g_listener) bridge->RemoveListener(g_listener);
  g_listener = 0;
  delete g_splash.data();
  g_shown.clear();
}

void CSplashScreen::Update() {
  CSplashWnd& model = SplashWnd();
  if (model.IsShown()) {
    if (!g_splash) {
      g_splash = new QSplashScreen(SplashPicture());
      g_splash->setObjectName(QStringLiteral("Splash"));
      g_splash->show();
    }
    std::string text = model.Text();
    if (text != g_shown) {
      g_shown = text;
      // Painted at once: the start-up that sets it runs before the event loop.
      g_splash->showMessage(Qs(text), Qt::AlignLeft | Qt::AlignBottom, Qt::white);
    }
  } else if (g_splash) {
    // The main window first, so that nothing flickers between the two.
    CWindowMirror::Get().SyncAll();
    g_splash->close();
    g_splash->deleteLater();
    g_splash = nullptr;
    g_shown.clear();
  }
}

const char* CSplashScreen::ShownText() { return g_splash ? g_shown.c_str() : ""; }

}  // namespace velmora
