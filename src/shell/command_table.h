// CCommandTable: the commands of the main frame's menus and toolbar. Each module registers the
// commands it handles (id, menu path, text, the string-table text "status-bar prompt\ntool tip",
// toolbar icon, handler and update handler); the front end builds the menu bar and toolbar from
// the table, so a command that no built module registers does not appear at all.
//
// A chosen command reaches the main frame as WM_COMMAND; the frame gives it to the current view
// when the view maps it, else to the frame's own map, else to the table's handler. The enabled and
// checked state is asked the same way (a command nobody handles is greyed).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui_types.h"

namespace velmora {

struct AppCommand {
  UINT id = 0;
  // Menu path of the item, top menu first, '/' between levels ("工具", "视图/工具栏和停靠窗口");
  // empty for a command that is only a toolbar button.
  std::string menu;
  std::string text;    // the item's text ("地图服务(&M)...")
  std::string prompt;  // "status-bar prompt\ntool tip"
  std::string icon;    // image file in the program's images folder; "" none
  int order = 0;       // position in its menu, lower first (ties keep registration order)
  bool toolbar = false;           // also a toolbar button (with its icon)
  bool separator_before = false;  // a separator above it in the menu (and the toolbar)
  std::function<void()> handler;  // empty: a view or the frame handles the command
  std::function<void(CCmdUI&)> update;  // empty: enabled when someone handles it, unchecked

  // The two halves of `prompt`.
  std::string StatusPrompt() const;
  std::string ToolTip() const;
};

class CCommandTable {
 public:
  // Adds the command, or replaces the one with the same id.
  void Register(AppCommand command);
  void Unregister(UINT id);
  bool Contains(UINT id) const;
  std::optional<AppCommand> Find(UINT id) const;
  // Every command, grouped by top menu (in menu order), then by order within the menu.
  std::vector<AppCommand> Commands() const;
  // Top menus in the order the menu bar shows them.
  std::vector<std::string> TopMenus() const;
  // Position of a top menu on the menu bar ("文件" 0, "编辑" 10, "视图" 20, "工具" 50, "帮助" 90;
  // an unknown menu 60 unless set).
  void SetMenuOrder(const std::string& top_menu, int order);

  // Runs the handler (on the calling thread, the UI thread); false when the command has none.
  bool Execute(UINT id) const;
  // Asks the update handler; false when the command has none (the state is left as it was).
  bool QueryState(CCmdUI& cmd) const;
  // Counts registrations and removals: a front end rebuilds its menus when it moved.
  uint64_t Revision() const;
  void Clear();

 private:
  int MenuOrder(const std::string& top) const;

  mutable std::mutex mutex_;
  std::vector<AppCommand> commands_;  // registration order
  std::map<std::string, int> menu_order_;
  uint64_t revision_ = 0;
};

// The program's command table.
CCommandTable& AppCommands();

class CKovraHomeExApp;
// A start-up step of the frame phase named `name` that puts `commands` into the program's
// command table when the main frame is made and, when it stops, takes them out again and then
// runs `on_stop` (empty: nothing more).
void RegisterCommandStep(CKovraHomeExApp& app, std::string name, std::vector<AppCommand> commands,
                         std::function<void()> on_stop = {});

// The frame's own command ids (the framework's standard ones) and the view-switch commands.
constexpr UINT ID_APP_ABOUT = 0xE140;
constexpr UINT ID_APP_EXIT = 0xE141;
constexpr UINT ID_VIEW_TOOLBAR = 0xE800;
constexpr UINT ID_VIEW_STATUS_BAR = 0xE801;
constexpr UINT ID_VIEW_SIDEBAR = 0xE804;
// Shows the child view of kind k (0-5): ID_VIEW_KIND_FIRST + k.
constexpr UINT ID_VIEW_KIND_FIRST = 0x8E00;
// "工具/选项": the options sheet.
constexpr UINT ID_TOOLS_OPTIONS = 0x8E10;

}  // namespace velmora
