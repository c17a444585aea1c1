// CWnd: a window of the toolkit-neutral model. It has a handle registered with the UI dispatcher,
// a parent, an id, a text, enabled/visible flags and child controls found by id. Handlers for
// commands, notifications, timers and messages are mapped by id in the constructor of a derived
// class (the message map); the virtual operations give the default handling.
// Windows are created, changed and destroyed on the user-interface thread. Other threads use a
// window's handle, taken on the UI thread, with UiDispatcher().PostMessage / SendMessage; only
// Invalidate may be called on the object itself from any thread.
#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ui/ui_types.h"

namespace velmora {

class CBitmap;

// Window styles that the model keeps (only as flags; a front end may honour them).
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_DISABLED = 0x08000000;
constexpr uint32_t WS_BORDER = 0x00800000;
constexpr uint32_t WS_EX_CLIENTEDGE = 0x00000200;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWMAXIMIZED = 3;

class CWnd {
 public:
  using MessageHandler = std::function<LRESULT(WPARAM, LPARAM)>;
  using NotifyHandler = std::function<LRESULT(NMHDR*)>;

  CWnd();
  // Unregisters the window without calling OnDestroy or mapped handlers (the derived parts are
  // gone by then): a class that needs its OnDestroy calls DestroyWindow in its own destructor.
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // ---- life ----
  // Registers the window, adds it to the parent's children under `id`, and sends WM_CREATE
  // (OnCreate). False when OnCreate returns -1 (the window is then destroyed again) or the window
  // already exists.
  bool Create(CWnd* parent, int id, const std::string& text, uint32_t style = WS_CHILD | WS_VISIBLE,
              const RECT& rect = {});
  // Destroys the children first, then calls OnDestroy and unregisters. Objects stay alive and
  // keep their data (texts, rows, check states) so that callers may read them afterwards.
  void DestroyWindow();
  bool IsWindow() const { return hwnd_ != 0; }
  HWND GetSafeHwnd() const { return hwnd_; }
  CWnd* GetParent() const { return parent_; }
  int GetDlgCtrlID() const { return id_; }
  // Takes over an existing child of `parent` with this id: the child's text, rectangle and style
  // pass to this object, which replaces it under the same id. Calls PreSubclassWindow.
  bool SubclassDlgItem(int id, CWnd* parent);
  // Moves the window (one without children of its own) under another parent, keeping its id,
  // rectangle and state; returns the old parent. The front end makes its widget anew inside the
  // new parent's. A window that does not exist stays where it is.
  CWnd* SetParent(CWnd* parent);
  // Called when the object was bound to its dialog control (SubclassDlgItem or a dialog's
  // BindControl), for controls that set their looks then.
  virtual void PreSubclassWindow() {}
  // Called by DestroyWindow before the children go: a window that holds a child of someone else's
  // (re-parented into it) gives it back here.
  virtual void PreDestroyWindow() {}

  // ---- state ----
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const { return text_; }
  void EnableWindow(bool enable = true);
  bool IsWindowEnabled() const { return enabled_; }
  void ShowWindow(int cmd);
  bool IsWindowVisible() const { return visible_; }
  uint32_t GetStyle() const { return style_; }
  void ModifyStyle(uint32_t remove, uint32_t add) { style_ = (style_ & ~remove) | add; }
  uint32_t GetExStyle() const { return ex_style_; }
  void ModifyStyleEx(uint32_t remove, uint32_t add) { ex_style_ = (ex_style_ & ~remove) | add; }
  RECT GetWindowRect() const { return rect_; }
  void MoveWindow(const RECT& rect);
  void SetFocus();
  bool HasFocus() const;
  // The window's icon: an image name or a resource id (0 when none).
  void SetIcon(const std::string& image_name, int resource_id = 0);
  const std::string& IconName() const { return icon_name_; }
  int IconResource() const { return icon_resource_; }
  // The pointer shape over the window (kDefault: the control's own).
  void SetWindowCursor(CursorKind kind);
  CursorKind WindowCursor() const { return cursor_; }
  // Thread-safe: counts the repaints asked for; a front end repaints a window whose count moved.
  // Every change of what a window shows (text, states, rows, items) goes through it, so the
  // count is also the window's change count, and the window observer hears of it.
  void Invalidate();
  // A window that draws itself (the map, a colour or font sample, a task's progress picture)
  // paints its whole client area into `canvas`, which the front end sized to the window, and
  // returns true. The default draws nothing and returns false (the front end draws the control
  // from its kind and state). Called on the user-interface thread. Mouse and keys reach such a
  // window as WM_MOUSEMOVE, WM_LBUTTONDOWN, ..., WM_MOUSEWHEEL, WM_KEYDOWN through WindowProc,
  // with client-area pixels; its size as WM_SIZE (MAKELPARAM(width, height)) after MoveWindow.
  virtual bool OnPaint(CBitmap& canvas) {
    (void)canvas;
    return false;
  }
  unsigned InvalidateCount() const { return invalidated_.load(); }

  // ---- children ----
  CWnd* GetDlgItem(int id) const;
  template <class T>
  T* GetDlgItemAs(int id) const {
    return dynamic_cast<T*>(GetDlgItem(id));
  }
  std::vector<CWnd*> Children() const;
  // A child created and owned by this window (used for template controls).
  CWnd* AdoptChild(std::unique_ptr<CWnd> child);
  std::string GetDlgItemText(int id) const;
  void SetDlgItemText(int id, const std::string& text);
  std::optional<long long> GetDlgItemInt(int id) const;
  void SetDlgItemInt(int id, long long value);
  void CheckDlgButton(int id, int check);
  int IsDlgButtonChecked(int id) const;

  // ---- messages ----
  LRESULT SendMessage(UINT msg, WPARAM wparam = 0, LPARAM lparam = 0);  // on the UI thread: a direct call
  bool PostMessage(UINT msg, WPARAM wparam = 0, LPARAM lparam = 0);
  bool SetTimer(UINT_PTR id, unsigned elapse_ms);
  bool KillTimer(UINT_PTR id);
  int MessageBox(const std::string& text, const std::string& caption = kAppTitle, UINT type = MB_OK);

  // The dispatcher's entry point: routes the message through the message map and the virtual
  // handlers.
  virtual LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam);

  // ---- message map (fill in the constructor) ----
  void MapCommand(UINT id, std::function<void()> handler);
  void MapCommandRange(UINT first, UINT last, std::function<void(UINT)> handler);
  void MapUpdateCommandUI(UINT id, std::function<void(CCmdUI&)> handler);
  void MapControlNotify(UINT id, unsigned code, std::function<void()> handler);  // WM_COMMAND code
  void MapNotify(UINT id, int code, NotifyHandler handler);                      // WM_NOTIFY
  void MapTimer(UINT_PTR id, std::function<void()> handler);
  void MapMessage(UINT msg, MessageHandler handler);

  // Asks the command's enable/check state through the map (enabled when nobody answers).
  void UpdateCommandUI(CCmdUI& cmd);
  // True when the message map has a handler (or a range) for the command / an update handler.
  bool HandlesCommand(UINT id) const;
  bool HasUpdateCommandUI(UINT id) const { return update_ui_.count(id) != 0; }

 protected:
  virtual int OnCreate() { return 0; }
  virtual void OnDestroy() {}
  // WM_COMMAND not handled by the map. Returns true when handled (the default handles nothing).
  virtual bool OnCommand(WPARAM wparam, LPARAM lparam);
  virtual LRESULT OnNotify(NMHDR* hdr);
  virtual void OnTimer(UINT_PTR id);
  virtual LRESULT DefWindowProc(UINT msg, WPARAM wparam, LPARAM lparam);
  // A window created again starts as a new window does: controls drop the rows, items and
  // states of their previous window (the object kept them for reading after the close).
  virtual void ResetWindowState() {}
  // Drops the children this window created (a dialog that is created again makes new ones).
  void ClearOwnedChildren();
  // Sends WM_COMMAND(id, code) for this control to its parent.
  void NotifyParentCommand(unsigned code);
  // Sends WM_NOTIFY to the parent with the header filled for this control.
  LRESULT NotifyParent(NMHDR* hdr, int code);

 private:
  void AttachChild(CWnd* child);
  void DetachChild(CWnd* child);

  HWND hwnd_ = 0;
  bool had_window_ = false;
  CWnd* parent_ = nullptr;
  int id_ = 0;
  std::string text_;
  bool enabled_ = true;
  bool visible_ = false;
  uint32_t style_ = 0;
  uint32_t ex_style_ = 0;
  RECT rect_;
  std::string icon_name_;
  int icon_resource_ = 0;
  CursorKind cursor_ = CursorKind::kDefault;
  std::atomic<unsigned> invalidated_{0};
  std::vector<CWnd*> children_;                  // in creation order
  std::vector<std::unique_ptr<CWnd>> owned_;     // children this window created
  std::map<UINT, std::function<void()>> commands_;
  std::vector<std::tuple<UINT, UINT, std::function<void(UINT)>>> command_ranges_;
  std::map<UINT, std::function<void(CCmdUI&)>> update_ui_;
  std::map<std::pair<UINT, unsigned>, std::function<void()>> control_notify_;
  std::map<std::pair<UINT, int>, NotifyHandler> notify_;
  std::map<UINT_PTR, std::function<void()>> timers_;
  std::map<UINT, MessageHandler> messages_;
};

// The window that has the keyboard focus (UI thread), or null.
CWnd* GetFocusWindow();

// The one observer of window life and changes: a front end that mirrors the windows on a screen
// installs it. The model keeps no list of its mirrors; it only tells the observer.
class IWindowObserver {
 public:
  virtual ~IWindowObserver() = default;
  // Any thread, often: some window's change count moved (CWnd::Invalidate). Must be cheap and
  // thread-safe; the observer brings its mirrors up to date later on the UI thread.
  virtual void OnWindowChanged() = 0;
  // UI thread: the window was created (after WM_CREATE succeeded) and is its parent's child.
  virtual void OnWindowCreated(CWnd& window) = 0;
  // UI thread: the window goes away, after its children. Called from DestroyWindow (the object
  // is whole) or from ~CWnd (only the CWnd part is left): use the reference as a key only.
  virtual void OnWindowDestroyed(CWnd& window) = 0;
};
// Installs the observer (not owned; null removes it).
void SetWindowObserver(IWindowObserver* observer);

}  // namespace velmora
