// CWindowMirror: the model's windows shown as Qt widgets. It is the window model's observer:
// creations mark the parent's binding for a children pass, destructions detach the binding and
// delete its widget later, and every change (CWnd::Invalidate, from any thread) schedules a sync
// pass on the Qt event loop. The sync pass visits every binding and brings those whose window's
// change count moved up to date, then makes bindings for new children. Nothing polls: when the
// model does not change, the pass does not run.
#pragma once
#include <QWidget>
#include <set>
#include <unordered_map>

#include "platform/ui/window.h"

namespace velmora {

class CModelBinding;
class CDialog;

class CWindowMirror : public IWindowObserver {
 public:
  static CWindowMirror& Get();

  // Observes the window model (SetWindowObserver); Uninstall stops and forgets every binding.
  void Install();
  void Uninstall();

  // Makes the widget for `window` inside `parent`, with widgets for its children; returns its
  // binding (the existing one when the window is already shown). `geometry_from_model` false
  // lets the caller's layout place the widget. A dialog's template controls are moved from
  // dialog units to pixels once, at their first showing, as the original platform does when it
  // creates a dialog.
  CModelBinding* Bind(CWnd& window, QWidget* parent, bool geometry_from_model = true);
  CModelBinding* Find(const CWnd* window) const;
  QWidget* WidgetOf(const CWnd* window) const;

  // The sync pass (UI thread). Re-entrant calls only mark another pass.
  void SyncAll();
  bool SyncPending() const { return sync_again_; }

  // Bindings register themselves (constructor / destructor).
  void Add(CWnd* window, CModelBinding* binding);
  void Remove(CWnd* window, CModelBinding* binding);

  // ---- IWindowObserver ----
  void OnWindowChanged() override;
  void OnWindowCreated(CWnd& window) override;
  void OnWindowDestroyed(CWnd& window) override;

 private:
  CModelBinding* MakeBinding(CWnd& window, QWidget* parent);
  void ConvertTemplateRects(CDialog& dialog);

  std::unordered_map<const CWnd*, CModelBinding*> bindings_;
  std::set<HWND> converted_;  // dialogs whose template rectangles became pixels
  bool installed_ = false;
  int syncing_ = 0;
  bool sync_again_ = false;
};

// True for a dialog that is a window of its own (modal, modeless) rather than a part of its
// parent: it is shown by the UiHost, never placed inside the parent's widget.
bool IsTopLevelDialog(const CWnd& window);

}  // namespace velmora
