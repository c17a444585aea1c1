// Mouse capture of the window model followed on Qt.
#include "frontend/drag_tracker.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

#include "frontend/model_binding.h"
#include "platform/ui/window_drag.h"

namespace velmora {
namespace {

// The model window shown by the widget or its nearest parent that shows one; `local` becomes
// the point in that widget.
QWidget* WidgetUnder(const QPoint& global) {
  if (QWidget* w = QApplication::widgetAt(global)) return w;
  // Platforms that cannot tell the window under a point (offscreen): the visible top window
  // whose area holds it, the active one first.
  QWidget* active = QApplication::activeWindow();
  QWidgetList windows = QApplication::topLevelWidgets();
  if (active) windows.prepend(active);
  for (QWidget* top : windows) {
    if (!top->isVisible() || !top->geometry().contains(global)) continue;
    QWidget* child = top->childAt(top->mapFromGlobal(global));
    return child ? child : top;
  }
  return nullptr;
}

CWnd* ModelUnder(const QPoint& global, POINT* client) {
  for (QWidget* w = WidgetUnder(global); w; w = w->parentWidget()) {
    auto* binding = w->findChild<CModelBinding*>(QString(), Qt::FindDirectChildrenOnly);
    if (binding && binding->Model()) {
      QPoint p = w->mapFromGlobal(global);
      *client = POINT{p.x(), p.y()};
      return binding->Model();
    }
  }
  return nullptr;
}

class CDragFilter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) return QObject::eventFilter(watched, event);
    if (!qobject_cast<QWidget*>(watched) || !GetCapture()) return QObject::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonRelease && mouse->button() != Qt::LeftButton) return true;
    const QPoint global = mouse->globalPosition().toPoint();
    POINT client;
    CWnd* target = ModelUnder(global, &client);
    const POINT screen{global.x(), global.y()};
    if (type == QEvent::MouseMove)
      DragPointerMoved(target, client, screen);
    else
      DragPointerReleased(target, client, screen);
    return true;  // the capture takes the pointer: the widgets under it do not see these
  }
};

CDragFilter* g_filter = nullptr;  // UI thread only
bool g_cursor = false;

void SetPointer(bool on, CursorKind kind) {
  if (g_cursor) QApplication::restoreOverrideCursor();
  g_cursor = on;
  if (on) QApplication::setOverrideCursor(QCursor(kind == CursorKind::kCross ? Qt::DragCopyCursor : Qt::ForbiddenCursor));
}

void OnCapture(CWnd* capture) {
  if (!QApplication::instance()) return;
  if (capture && !g_filter) {
    g_filter = new CDragFilter;
    QApplication::instance()->installEventFilter(g_filter);
  } else if (!capture && g_filter) {
    QApplication::instance()->removeEventFilter(g_filter);
    g_filter->deleteLater();
    g_filter = nullptr;
  }
  SetPointer(capture != nullptr, GetCaptureCursor());
}

}  // namespace

void InstallDragTracker() { SetCaptureObserver(&OnCapture); }

void RemoveDragTracker() {
  SetCaptureObserver(nullptr);
  OnCapture(nullptr);
}

}  // namespace velmora
