// Windows that draw themselves. CModelCanvas lets a model window paint its client area into a
// CBitmap (CWnd::OnPaint) and draws that bitmap on the widget without copying it: the bitmap's
// premultiplied ARGB words are wrapped as a QImage. The input helpers turn Qt's mouse, wheel and
// key events into the window model's messages with client-area pixels.
//
// CCustomWindowWidget shows any window that is not one of the standard controls: it paints what
// the window draws (nothing when it draws nothing), passes it the mouse, wheel and keys, tells it
// its size (MoveWindow, then WM_SIZE), and holds the widgets of its child windows.
#pragma once
#include <QWidget>

#include "frontend/model_binding.h"
#include "platform/gfx/bitmap.h"

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

namespace velmora {

class CModelCanvas {
 public:
  // Inside a paintEvent of `widget`: sizes the canvas to the widget, clears it, lets the window
  // paint and draws the result. False (nothing drawn) when the window does not draw itself.
  bool Paint(CWnd& window, QWidget& widget);
  // True when the last Paint drew.
  bool Drew() const { return drew_; }

 private:
  CBitmap bitmap_;
  bool drew_ = false;
};

// Mouse, wheel and key events as window messages, the button message picked from the event's
// button, the point in client pixels and the MK_ flags of the buttons and keys down.
void SendMousePress(CWnd& window, QMouseEvent* event, bool double_click);
void SendMouseRelease(CWnd& window, QMouseEvent* event);
void SendMouseMove(CWnd& window, QMouseEvent* event);
void SendWheel(CWnd& window, QWheelEvent* event);
// WM_KEYDOWN (when the key has a virtual-key code) and WM_CHAR for each character typed.
void SendKeyPress(CWnd& window, QKeyEvent* event);
void SendKeyRelease(CWnd& window, QKeyEvent* event);
// The virtual-key code of a Qt key (0 when it has none).
UINT VirtualKeyOf(int qt_key, bool keypad);

class CCustomWindowWidget : public QWidget {
 public:
  explicit CCustomWindowWidget(QWidget* parent);
  void SetBinding(CModelBinding* binding) { binding_ = binding; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  CWnd* Model() const { return binding_ ? binding_->Model() : nullptr; }
  CModelBinding* binding_ = nullptr;
  CModelCanvas canvas_;
};

class CCustomWindowBinding : public CModelBinding {
 public:
  CCustomWindowBinding(CWnd& window, QWidget* parent);
  void SyncFromModel() override;
  QWidget* ChildContainer() override { return Widget(); }

 private:
  unsigned painted_count_ = ~0u;
};

}  // namespace velmora
