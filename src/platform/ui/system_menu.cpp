// System menus kept beside their windows, by window handle.
#include "platform/ui/system_menu.h"

#include <map>
#include <memory>

#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

std::map<HWND, std::unique_ptr<CMenu>>& Menus() {
  static std::map<HWND, std::unique_ptr<CMenu>> menus;
  return menus;
}

}  // namespace

CMenu* GetSystemMenu(CWnd& window, bool revert) {
  auto& menus = Menus();
  std::erase_if(menus, [](const auto& entry) { return UiDispatcher().FromHandle(entry.first) == nullptr; });
  if (!window.IsWindow()) return nullptr;
  auto& menu = menus[window.GetSafeHwnd()];
  if (!menu || revert) menu = std::make_unique<CMenu>();
  return menu.get();
}

const CMenu* FindSystemMenu(const CWnd& window) {
  if (!window.IsWindow()) return nullptr;
  auto it = Menus().find(window.GetSafeHwnd());
  return it == Menus().end() || it->second->GetMenuItemCount() == 0 ? nullptr : it->second.get();
}

LRESULT DefSysCommand(CWnd& window, WPARAM command) {
  if ((command & 0xFFF0) == SC_CLOSE) window.SendMessage(WM_CLOSE);
  return 0;
}

}  // namespace velmora
