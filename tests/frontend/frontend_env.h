// What the front-end test programs share: the desktop session for the whole program (Qt on the
// offscreen platform, no X server), the application step that opens its main window, pumping until
// a condition holds, widgets by control id, grabbed pictures saved under the build tree, and the
// check that texts were really drawn.
#pragma once
#include "velmora_build_paths.h"
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "frontend/desktop_session.h"
#include "frontend/dialog_window.h"
#include "frontend/window_mirror.h"
#include "platform/ui/window.h"
#include "shell/kovra_home_ex_app.h"
#include "support/isolated_folders.h"

namespace velmora::test {

inline const TempDir& kFrontendFolders = IsolatedFolders(VELMORA_BUILD_DIR "/data/");

// The session lives from the first test to the end of the program.
class FrontendEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "frontend_test";
    static char* argv[] = {name, nullptr};
    session_ = std::make_unique<CDesktopSession>(argc, argv);
  }
  void TearDown() override { session_.reset(); }
  static CDesktopSession& Session() { return *session_; }

 private:
  static inline std::unique_ptr<CDesktopSession> session_;
};

inline ::testing::Environment* const kFrontendEnvironment =
    ::testing::AddGlobalTestEnvironment(new FrontendEnvironment());

// The application's "main window" step, as the program registers it: the session's main window
// over the application's main frame, opened with the frame and closed (its place saved) at exit.
inline AppStep MainWindowStep() {
  AppStep window;
  window.name = "main window";
  window.phase = AppPhase::kFrame;
  window.start = [](CKovraHomeExApp& a) {
    return FrontendEnvironment::Session().CreateMainWindow(*a.MainFrame()) != nullptr;
  };
  window.stop = [](CKovraHomeExApp&) { FrontendEnvironment::Session().DestroyMainWindow(); };
  return window;
}

// Runs Qt's loop until `done` (at most `ms`); true when it held.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

// Lets every pending event and sync pass run.
inline void Settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// Runs `act` once `ready` holds, polled by a timer in whichever event loop runs then (a modal
// dialog's, a menu's), so that the step may open nested loops of its own.
inline void When(std::function<bool()> ready, std::function<void()> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, ready, act] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    act();
  });
  timer->start();
}

// The modal dialog shown now when its title is `title`, else null.
inline CDialogWindow* ModalTitled(const char* title) {
  auto* w = dynamic_cast<CDialogWindow*>(QApplication::activeModalWidget());
  return w && w->isVisible() && w->windowTitle() == QString::fromUtf8(title) ? w : nullptr;
}

inline QMenu* Popup() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

// Chooses the item of the open pop-up menu with the keyboard.
inline void Choose(QMenu* menu, const char* text) {
  for (QAction* a : menu->actions())
    if (a->text() == QString::fromUtf8(text)) menu->setActiveAction(a);
  QTest::keyClick(menu, Qt::Key_Return);
}

template <class W = QWidget>
W* WidgetOf(const CWnd* window) {
  return qobject_cast<W*>(CWindowMirror::Get().WidgetOf(window));
}

template <class W = QWidget>
W* ControlWidget(const CWnd& dialog, int id) {
  return WidgetOf<W>(dialog.GetDlgItem(id));
}

// Types text as a person does, one key press per character (Chinese too).
inline void TypeText(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

// Saves the picture as <build>/test-artefacts/frontend/<name>.png.
inline std::string SaveArtefact(const QImage& image, const std::string& name) {
  QString folder = QStringLiteral(VELMORA_BUILD_DIR "/test-artefacts/frontend");
  QDir().mkpath(folder);
  QString path = folder + QLatin1Char('/') + QString::fromStdString(name) + QStringLiteral(".png");
  image.save(path);
  return path.toStdString();
}

// Every visible text of the window (labels, buttons, group boxes, tabs, the menu bar) that holds
// Chinese characters was drawn: its font has a glyph
// for each character (no empty boxes), and the picture has ink where the text stands. Returns the
// texts that fail (empty when all are there) and counts the texts checked.
inline std::vector<std::string> TextsNotDrawn(QWidget* window, const QImage& grab, int* checked = nullptr) {
  std::vector<std::string> missing;
  int count = 0;
  auto has_cjk = [](const QString& s) {
    for (QChar c : s)
      if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
    return false;
  };
  auto check = [&](QWidget* w, const QString& text, QRect local) {
    if (!has_cjk(text) || !w->isVisibleTo(window)) return;
    ++count;
    QFontMetrics fm(w->font());
    for (char32_t c : text.toUcs4()) {
      if (c >= 0x4E00 && c <= 0x9FFF && !fm.inFontUcs4(c)) {
        missing.push_back(text.toStdString() + " (no glyph)");
        return;
      }
    }
    QRect area = QRect(w->mapTo(window, local.topLeft()), local.size()).intersected(grab.rect());
    QRgb background = grab.pixel(area.topLeft());
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) {
        QRgb p = grab.pixel(x, y);
        int d = std::abs(qGray(p) - qGray(background));
        if (d > 40) ++ink;
      }
    if (ink < 8) missing.push_back(text.toStdString() + " (no ink)");
  };
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (auto* label = qobject_cast<QLabel*>(w)) check(w, label->text(), label->rect());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) check(w, button->text(), button->rect());
    if (auto* group = qobject_cast<QGroupBox*>(w)) check(w, group->title(), QRect(0, 0, w->width(), w->fontMetrics().height() + 4));
    if (auto* bar = qobject_cast<QMenuBar*>(w))
      for (QAction* a : bar->actions()) check(w, a->text(), bar->actionGeometry(a));
    if (auto* tabs = qobject_cast<QTabBar*>(w))
      for (int i = 0; i < tabs->count(); ++i) check(w, tabs->tabText(i), tabs->tabRect(i));
  }
  if (checked) *checked = count;
  return missing;
}

}  // namespace velmora::test
