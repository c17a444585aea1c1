// The wait pointer on Qt.
#include "frontend/wait_cursor_hook.h"

#include <QApplication>
#include <QCursor>

#include "platform/ui/wait_cursor.h"

namespace velmora {
namespace {

bool g_shown = false;  // UI thread only

void OnWaitCursor(bool waiting) {
  if (waiting == g_shown || !QApplication::instance()) return;
  g_shown = waiting;
  if (waiting)
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else
    QApplication::restoreOverrideCursor();
}

}  // namespace

void InstallWaitCursorHook() { SetWaitCursorHook(&OnWaitCursor); }

void RemoveWaitCursorHook() {
  SetWaitCursorHook(nullptr);
  OnWaitCursor(false);
}

}  // namespace velmora
