// Self-drawing windows: the bitmap canvas and the input messages.
#include "frontend/custom_window.h"

#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>

namespace velmora {
namespace {

UINT MouseKeys(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
  UINT mk = 0;
  if (buttons & Qt::LeftButton) mk |= MK_LBUTTON;
  if (buttons & Qt::RightButton) mk |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) mk |= MK_MBUTTON;
  if (mods & Qt::ShiftModifier) mk |= MK_SHIFT;
  if (mods & Qt::ControlModifier) mk |= MK_CONTROL;
  return mk;
}

LPARAM ClientPoint(const QPointF& p) {
  return MAKELPARAM(static_cast<int>(p.x()), static_cast<int>(p.y()));
}

// Enter, Escape and Tab in a dialog belong to the dialog (default button, cancel, next control).
bool DialogKey(QWidget* widget, int key) {
  return qobject_cast<QDialog*>(widget->window()) &&
         (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape || key == Qt::Key_Tab ||
          key == Qt::Key_Backtab);
}

}  // namespace

// ---- canvas ----

bool CModelCanvas::Paint(CWnd& window, QWidget& widget) {
  int w = widget.width(), h = widget.height();
  drew_ = false;
  if (w <= 0 || h <= 0) return false;
  if (bitmap_.Width() != w || bitmap_.Height() != h) {
    if (!bitmap_.Create(w, h)) return false;
  } else {
    std::memset(bitmap_.Pixels(), 0, bitmap_.ByteSize());
  }
  if (!window.OnPaint(bitmap_)) return false;
  drew_ = true;
  // The same memory, seen by Qt: native-endian 0xAARRGGBB premultiplied is Qt's ARGB32_Premultiplied.
  QImage image(reinterpret_cast<const uchar*>(bitmap_.Pixels()), w, h, static_cast<qsizetype>(bitmap_.Stride()),
               QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&widget);
  painter.drawImage(0, 0, image);
  return true;
}

// ---- input ----

void SendMousePress(CWnd& window, QMouseEvent* event, bool double_click) {
  UINT msg;
  switch (event->button()) {
    case Qt::LeftButton: msg = double_click ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN; break;
    case Qt::RightButton: msg = WM_RBUTTONDOWN; break;
    case Qt::MiddleButton: msg = WM_MBUTTONDOWN; break;
    default: return;
  }
  window.SendMessage(msg, MouseKeys(event->buttons(), event->modifiers()), ClientPoint(event->position()));
}

void SendMouseRelease(CWnd& window, QMouseEvent* event) {
  UINT msg;
  switch (event->button()) {
    case Qt::LeftButton: msg = WM_LBUTTONUP; break;
    case Qt::RightButton: msg = WM_RBUTTONUP; break;
    case Qt::MiddleButton: msg = WM_MBUTTONUP; break;
    default: return;
  }
  HWND hwnd = window.GetSafeHwnd();
  window.SendMessage(msg, MouseKeys(event->buttons(), event->modifiers()), ClientPoint(event->position()));
  // After the right button comes up the window is asked for its context menu, at the screen
  // point, as the original platform does (unless the button's handler destroyed it).
  if (msg == WM_RBUTTONUP && window.IsWindow() && window.GetSafeHwnd() == hwnd) {
    QPointF global = event->globalPosition();
    window.SendMessage(WM_CONTEXTMENU, hwnd, ClientPoint(global));
  }
}

void SendMouseMove(CWnd& window, QMouseEvent* event) {
  window.SendMessage(WM_MOUSEMOVE, MouseKeys(event->buttons(), event->modifiers()), ClientPoint(event->position()));
}

void SendWheel(CWnd& window, QWheelEvent* event) {
  int delta = event->angleDelta().y();
  if (delta == 0) return;
  delta = std::clamp(delta, -32768, 32767);
  WPARAM w = MAKEWPARAM(MouseKeys(event->buttons(), event->modifiers()), static_cast<unsigned>(delta) & 0xFFFFu);
  window.SendMessage(WM_MOUSEWHEEL, w, ClientPoint(event->position()));
}

UINT VirtualKeyOf(int key, bool keypad) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<UINT>('A' + (key - Qt::Key_A));
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<UINT>('0' + (key - Qt::Key_0));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + static_cast<UINT>(key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Plus: return keypad ? VK_ADD : VK_OEM_PLUS;
    case Qt::Key_Equal: return VK_OEM_PLUS;  // the '+' key without shift
    case Qt::Key_Minus: return keypad ? VK_SUBTRACT : VK_OEM_MINUS;
    default: return 0;
  }
}

void SendKeyPress(CWnd& window, QKeyEvent* event) {
  HWND hwnd = window.GetSafeHwnd();
  if (UINT vk = VirtualKeyOf(event->key(), event->modifiers() & Qt::KeypadModifier))
    window.SendMessage(WM_KEYDOWN, vk, event->isAutoRepeat() ? (1 << 30) : 0);
  const QString text = event->text();
  for (char32_t c : text.toUcs4()) {
    if (!window.IsWindow() || window.GetSafeHwnd() != hwnd) return;
    window.SendMessage(WM_CHAR, c, 0);
  }
}

void SendKeyRelease(CWnd& window, QKeyEvent* event) {
  if (UINT vk = VirtualKeyOf(event->key(), event->modifiers() & Qt::KeypadModifier))
    window.SendMessage(WM_KEYUP, vk, 0);
}

// ---- widget ----

CCustomWindowWidget::CCustomWindowWidget(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setContextMenuPolicy(Qt::PreventContextMenu);  // WM_CONTEXTMENU follows WM_RBUTTONUP instead
}

void CCustomWindowWidget::paintEvent(QPaintEvent*) {
  if (CWnd* w = Model()) {
    canvas_.Paint(*w, *this);
    // A window that draws itself takes the keyboard; a plain container does not.
    setFocusPolicy(canvas_.Drew() ? Qt::StrongFocus : Qt::NoFocus);
  }
}

void CCustomWindowWidget::resizeEvent(QResizeEvent*) {
  if (binding_) binding_->ReportGeometry(geometry());
}

void CCustomWindowWidget::moveEvent(QMoveEvent*) {
  if (binding_) binding_->ReportGeometry(geometry());
}

void CCustomWindowWidget::mousePressEvent(QMouseEvent* event) {
  if (canvas_.Drew()) setFocus(Qt::MouseFocusReason);
  if (CWnd* w = Model()) SendMousePress(*w, event, false);
}

void CCustomWindowWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (CWnd* w = Model()) SendMousePress(*w, event, true);
}

void CCustomWindowWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (CWnd* w = Model()) SendMouseRelease(*w, event);
}

void CCustomWindowWidget::mouseMoveEvent(QMouseEvent* event) {
  if (CWnd* w = Model()) SendMouseMove(*w, event);
}

void CCustomWindowWidget::wheelEvent(QWheelEvent* event) {
  if (CWnd* w = Model()) SendWheel(*w, event);
}

void CCustomWindowWidget::keyPressEvent(QKeyEvent* event) {
  if (CWnd* w = Model()) SendKeyPress(*w, event);
  if (DialogKey(this, event->key())) event->ignore();
}

void CCustomWindowWidget::keyReleaseEvent(QKeyEvent* event) {
  if (CWnd* w = Model()) SendKeyRelease(*w, event);
  if (DialogKey(this, event->key())) event->ignore();
}

void CCustomWindowWidget::focusInEvent(QFocusEvent*) {
  if (CWnd* w = Model()) w->SetFocus();
}

// ---- binding ----

CCustomWindowBinding::CCustomWindowBinding(CWnd& window, QWidget* parent)
    : CModelBinding(window, new CCustomWindowWidget(parent)) {
  static_cast<CCustomWindowWidget*>(Widget())->SetBinding(this);
}

void CCustomWindowBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  CWnd* w = Model();
  if (!w) return;
  // Invalidate counts the repaints asked for: repaint when it moved.
  unsigned count = w->InvalidateCount();
  if (count != painted_count_) {
    painted_count_ = count;
    Widget()->update();
  }
}

}  // namespace velmora
