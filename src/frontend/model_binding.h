// CModelBinding: ties one window of the model (a CWnd) to the Qt widget that shows it. The
// binding is a child object of its widget, so it lives exactly as long as the widget; the window
// mirror (window_mirror.h) finds it by the window. When the model window goes away first, the
// binding forgets it (Model() becomes null) and the widget is deleted later, so no widget ever
// reaches a freed window.
//
// Model -> widget: SyncFromModel runs on the UI thread when the window's change count moved.
// Widget -> model: the widget's signals call the model's own helpers (Click, Type, Select, ...)
// or send it messages, as a person's action does in the headless tests.
#pragma once
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include "platform/ui/window.h"

namespace velmora {

class CModelBinding : public QObject {
 public:
  // `widget` becomes the binding's parent (the binding dies with it).
  CModelBinding(CWnd& window, QWidget* widget);
  ~CModelBinding() override;

  // The window, or null once it was destroyed.
  CWnd* Model() const { return model_; }
  template <class T>
  T* ModelAs() const {
    return dynamic_cast<T*>(model_);
  }
  HWND Handle() const { return hwnd_; }
  QWidget* Widget() const { return widget_; }

  // Brings the widget up to the model: the base sets the enabled and visible states and, for
  // bindings whose place comes from the model, the geometry. Derived classes call it first.
  virtual void SyncFromModel();
  // The widget into which the model's child windows are placed; null for controls that have
  // no children of their own.
  virtual QWidget* ChildContainer() { return nullptr; }
  // Makes bindings for the children of the model that have none yet (containers only). The
  // default places them in ChildContainer at their model rectangles.
  virtual void SyncChildren();
  // Where a child window goes inside this container (the default: ChildContainer).
  virtual QWidget* ContainerFor(CWnd& child);

  // Geometry: true when the widget's place and visibility are the model's rectangle in pixels
  // and visible flag (controls in dialogs); false when a layout of the front end decides both
  // (views, panels, the address control, a dialog's content in its top window).
  void SetGeometryFromModel(bool on) { geometry_from_model_ = on; }
  bool GeometryFromModel() const { return geometry_from_model_; }
  // The front end moved or sized the widget: the model's rectangle follows (and a window that
  // draws itself gets WM_SIZE).
  void ReportGeometry(const QRect& rect);

  // The change count last synced.
  unsigned SeenCount() const { return seen_; }
  void MarkSeen(unsigned count) { seen_ = count; }
  void MarkChildrenDirty() { children_dirty_ = true; }
  bool TakeChildrenDirty() {
    bool d = children_dirty_;
    children_dirty_ = false;
    return d;
  }

  // The model window is gone: called by the mirror before the widget is deleted.
  virtual void Detach();

 protected:
  // True while the binding itself changes its widget (signals from programmatic changes are
  // then ignored).
  bool Syncing() const { return syncing_ > 0; }
  struct SyncScope {
    explicit SyncScope(CModelBinding* b) : b(b) { ++b->syncing_; }
    ~SyncScope() { --b->syncing_; }
    CModelBinding* b;
  };

 private:
  CWnd* model_;
  const CWnd* key_;  // the window this binding stands for in the mirror, also after Detach
  HWND hwnd_;
  QPointer<QWidget> widget_;
  bool geometry_from_model_ = true;
  bool children_dirty_ = true;
  unsigned seen_ = ~0u;
  int syncing_ = 0;
  RECT applied_rect_{-1, -1, -1, -1};
  CursorKind applied_cursor_ = CursorKind::kDefault;
};

// Model RECT <-> QRect.
QRect ToQRect(const RECT& r);
RECT ToRect(const QRect& r);

}  // namespace velmora
