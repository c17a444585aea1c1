// CWnd: life, state, children, message routing.
#include "platform/ui/window.h"

#include <algorithm>
#include <charconv>

#include "platform/ui/controls.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"

namespace velmora {
namespace {
CWnd* g_focus = nullptr;  // UI thread only
std::atomic<IWindowObserver*> g_observer{nullptr};
}  // namespace

void SetWindowObserver(IWindowObserver* observer) { g_observer.store(observer); }

void CWnd::Invalidate() {
  ++invalidated_;
  if (IWindowObserver* observer = g_observer.load(std::memory_order_acquire)) observer->OnWindowChanged();
}

void CWnd::MoveWindow(const RECT& rect) {
  if (rect_ == rect) return;
  rect_ = rect;
  Invalidate();
}

CWnd* GetFocusWindow() { return g_focus; }

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (g_focus == this) g_focus = nullptr;
  // Owned children are complete objects and get their normal destruction.
  for (auto& child : owned_) child->DestroyWindow();
  if (hwnd_ != 0) {
    if (IWindowObserver* observer = g_observer.load()) observer->OnWindowDestroyed(*this);
    UiDispatcher().Unregister(hwnd_);
    hwnd_ = 0;
  }
  for (CWnd* child : children_)
    if (child->parent_ == this) child->parent_ = nullptr;
  children_.clear();
  owned_.clear();
  if (parent_) parent_->DetachChild(this);
}

CWnd* CWnd::SetParent(CWnd* parent) {
  CWnd* old = parent_;
  if (!IsWindow() || parent == old || parent == this) return old;
  IWindowObserver* observer = g_observer.load();
  // To the observer the window leaves the old parent and is made under the new one.
  if (observer) observer->OnWindowDestroyed(*this);
  if (old) old->DetachChild(this);
  parent_ = parent;
  if (parent_) parent_->AttachChild(this);
  if (observer) observer->OnWindowCreated(*this);
  Invalidate();
  return old;
}

bool CWnd::Create(CWnd* parent, int id, const std::string& text, uint32_t style, const RECT& rect) {
  if (hwnd_ != 0) return false;
  if (parent_ && parent_ != parent) parent_->DetachChild(this);
  if (had_window_) ResetWindowState();
  had_window_ = true;
  hwnd_ = UiDispatcher().Register(this);
  parent_ = parent;
  id_ = id;
  text_ = text;
  style_ = style;
  rect_ = rect;
  visible_ = (style & WS_VISIBLE) != 0;
  enabled_ = (style & WS_DISABLED) == 0;
  if (parent_) parent_->AttachChild(this);
  if (WindowProc(WM_CREATE, 0, 0) == -1) {
    DestroyWindow();
    return false;
  }
  if (IWindowObserver* observer = g_observer.load()) observer->OnWindowCreated(*this);
  return true;
}

void CWnd::DestroyWindow() {
  if (hwnd_ == 0) return;
  PreDestroyWindow();
  std::vector<CWnd*> children = children_;
  for (auto it = children.rbegin(); it != children.rend(); ++it) (*it)->DestroyWindow();
  WindowProc(WM_DESTROY, 0, 0);
  if (g_focus == this) g_focus = nullptr;
  if (IWindowObserver* observer = g_observer.load()) observer->OnWindowDestroyed(*this);
  UiDispatcher().Unregister(hwnd_);
  hwnd_ = 0;
  visible_ = false;
}

bool CWnd::SubclassDlgItem(int id, CWnd* parent) {
  if (!parent) return false;
  CWnd* old = parent->GetDlgItem(id);
  if (old == this) return true;
  std::string text;
  uint32_t style = WS_CHILD | WS_VISIBLE;
  RECT rect;
  bool enabled = true;
  if (old) {
    text = old->text_;
    style = old->style_;
    rect = old->rect_;
    enabled = old->enabled_;
    old->DestroyWindow();
    parent->DetachChild(old);
    auto it = std::find_if(parent->owned_.begin(), parent->owned_.end(),
                           [old](const std::unique_ptr<CWnd>& p) { return p.get() == old; });
    if (it != parent->owned_.end()) {
      (*it)->parent_ = nullptr;
      parent->owned_.erase(it);
    }
  }
  if (hwnd_ != 0) DestroyWindow();
  if (!Create(parent, id, text, style, rect)) return false;
  enabled_ = enabled;
  PreSubclassWindow();
  return true;
}

void CWnd::SetWindowText(const std::string& text) {
  if (text_ == text) return;
  text_ = text;
  Invalidate();
}

void CWnd::EnableWindow(bool enable) {
  if (enabled_ == enable) return;
  enabled_ = enable;
  Invalidate();
  if (hwnd_ != 0) WindowProc(WM_ENABLE, enable ? 1 : 0, 0);
}

void CWnd::ShowWindow(int cmd) {
  bool show = cmd != SW_HIDE;
  if (visible_ == show) return;
  visible_ = show;
  if (show)
    style_ |= WS_VISIBLE;
  else
    style_ &= ~WS_VISIBLE;
  Invalidate();
  if (hwnd_ != 0) WindowProc(WM_SHOWWINDOW, show ? 1 : 0, 0);
}

void CWnd::SetFocus() { g_focus = this; }
bool CWnd::HasFocus() const { return g_focus == this; }

void CWnd::SetIcon(const std::string& image_name, int resource_id) {
  icon_name_ = image_name;
  icon_resource_ = resource_id;
  Invalidate();
}

void CWnd::SetWindowCursor(CursorKind kind) {
  if (cursor_ == kind) return;
  cursor_ = kind;
  Invalidate();
}

CWnd* CWnd::GetDlgItem(int id) const {
  for (CWnd* child : children_)
    if (child->id_ == id) return child;
  return nullptr;
}

std::vector<CWnd*> CWnd::Children() const { return children_; }

CWnd* CWnd::AdoptChild(std::unique_ptr<CWnd> child) {
  CWnd* raw = child.get();
  owned_.push_back(std::move(child));
  return raw;
}

void CWnd::AttachChild(CWnd* child) {
  if (std::find(children_.begin(), children_.end(), child) == children_.end()) children_.push_back(child);
}

void CWnd::DetachChild(CWnd* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}

std::string CWnd::GetDlgItemText(int id) const {
  CWnd* w = GetDlgItem(id);
  return w ? w->GetWindowText() : std::string();
}

void CWnd::SetDlgItemText(int id, const std::string& text) {
  if (CWnd* w = GetDlgItem(id)) w->SetWindowText(text);
}

std::optional<long long> CWnd::GetDlgItemInt(int id) const {
  std::string text = GetDlgItemText(id);
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  const char* first = text.data() + b;
  const char* last = text.data() + e + 1;
  if (*first == '+') ++first;
  long long value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

void CWnd::SetDlgItemInt(int id, long long value) { SetDlgItemText(id, std::to_string(value)); }

void CWnd::CheckDlgButton(int id, int check) {
  if (auto* b = GetDlgItemAs<CButton>(id)) b->SetCheck(check);
}

int CWnd::IsDlgButtonChecked(int id) const {
  auto* b = GetDlgItemAs<CButton>(id);
  return b ? b->GetCheck() : 0;
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (hwnd_ == 0) return 0;
  if (UiDispatcher().IsUiThread()) return WindowProc(msg, wparam, lparam);
  return UiDispatcher().SendMessage(hwnd_, msg, wparam, lparam).value_or(0);
}

bool CWnd::PostMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  return hwnd_ != 0 && UiDispatcher().PostMessage(hwnd_, msg, wparam, lparam);
}

bool CWnd::SetTimer(UINT_PTR id, unsigned elapse_ms) {
  return hwnd_ != 0 && UiDispatcher().SetTimer(hwnd_, id, elapse_ms);
}

bool CWnd::KillTimer(UINT_PTR id) { return hwnd_ != 0 && UiDispatcher().KillTimer(hwnd_, id); }

int CWnd::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  return GetUiHost().MessageBox(this, text, caption, type);
}

void CWnd::MapCommand(UINT id, std::function<void()> handler) { commands_[id] = std::move(handler); }

void CWnd::MapCommandRange(UINT first, UINT last, std::function<void(UINT)> handler) {
  command_ranges_.emplace_back(first, last, std::move(handler));
}

void CWnd::MapUpdateCommandUI(UINT id, std::function<void(CCmdUI&)> handler) {
  update_ui_[id] = std::move(handler);
}

void CWnd::MapControlNotify(UINT id, unsigned code, std::function<void()> handler) {
  control_notify_[{id, code}] = std::move(handler);
}

void CWnd::MapNotify(UINT id, int code, NotifyHandler handler) { notify_[{id, code}] = std::move(handler); }

void CWnd::MapTimer(UINT_PTR id, std::function<void()> handler) { timers_[id] = std::move(handler); }

void CWnd::MapMessage(UINT msg, MessageHandler handler) { messages_[msg] = std::move(handler); }

void CWnd::UpdateCommandUI(CCmdUI& cmd) {
  auto it = update_ui_.find(cmd.Id());
  if (it != update_ui_.end()) it->second(cmd);
}

bool CWnd::HandlesCommand(UINT id) const {
  if (commands_.count(id)) return true;
  for (const auto& [first, last, handler] : command_ranges_)
    if (id >= first && id <= last) return true;
  return false;
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (auto it = messages_.find(msg); it != messages_.end()) return it->second(wparam, lparam);
  switch (msg) {
    case WM_CREATE:
      return OnCreate();
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_COMMAND: {
      UINT id = LOWORD(wparam);
      unsigned code = HIWORD(wparam);
      if (auto it = control_notify_.find({id, code}); it != control_notify_.end()) {
        it->second();
        return 0;
      }
      // Menu commands (code 0) and button clicks (BN_CLICKED is 0 too) reach the command map.
      if (code == 0 || code == 1) {
        if (auto it = commands_.find(id); it != commands_.end()) {
          it->second();
          return 0;
        }
        for (auto& [first, last, handler] : command_ranges_) {
          if (id >= first && id <= last) {
            handler(id);
            return 0;
          }
        }
      }
      return OnCommand(wparam, lparam) ? 0 : DefWindowProc(msg, wparam, lparam);
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lparam);
      if (!hdr) return 0;
      if (auto it = notify_.find({static_cast<UINT>(hdr->idFrom), hdr->code}); it != notify_.end())
        return it->second(hdr);
      return OnNotify(hdr);
    }
    case WM_TIMER:
      if (auto it = timers_.find(wparam); it != timers_.end()) {
        it->second();
        return 0;
      }
      OnTimer(wparam);
      return 0;
    default:
      return DefWindowProc(msg, wparam, lparam);
  }
}

bool CWnd::OnCommand(WPARAM, LPARAM) { return false; }
LRESULT CWnd::OnNotify(NMHDR*) { return 0; }
void CWnd::OnTimer(UINT_PTR) {}
LRESULT CWnd::DefWindowProc(UINT, WPARAM, LPARAM) { return 0; }

void CWnd::NotifyParentCommand(unsigned code) {
  if (parent_ && parent_->IsWindow())
    parent_->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id_), code), static_cast<LPARAM>(hwnd_));
}

LRESULT CWnd::NotifyParent(NMHDR* hdr, int code) {
  hdr->hwndFrom = hwnd_;
  hdr->idFrom = static_cast<UINT_PTR>(id_);
  hdr->code = code;
  if (!parent_ || !parent_->IsWindow()) return 0;
  return parent_->SendMessage(WM_NOTIFY, static_cast<WPARAM>(id_), reinterpret_cast<LPARAM>(hdr));
}

}  // namespace velmora

namespace velmora {

void CWnd::ClearOwnedChildren() {
  for (auto& child : owned_) {
    child->DestroyWindow();
    DetachChild(child.get());
    child->parent_ = nullptr;
  }
  owned_.clear();
}

}  // namespace velmora
