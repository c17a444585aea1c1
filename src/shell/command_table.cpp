// The command table of the menus and toolbar.
#include "shell/command_table.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "shell/kovra_home_ex_app.h"

namespace velmora {
namespace {

std::string TopMenuOf(const std::string& path) {
  size_t slash = path.find('/');
  return slash == std::string::npos ? path : path.substr(0, slash);
}

}  // namespace

std::string AppCommand::StatusPrompt() const {
  size_t nl = prompt.find('\n');
  return nl == std::string::npos ? prompt : prompt.substr(0, nl);
}

std::string AppCommand::ToolTip() const {
  size_t nl = prompt.find('\n');
  return nl == std::string::npos ? std::string() : prompt.substr(nl + 1);
}

void CCommandTable::Register(AppCommand command) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(commands_.begin(), commands_.end(), [&](const AppCommand& c) { return c.id == command.id; });
  if (it != commands_.end())
    *it = std::move(command);
  else
    commands_.push_back(std::move(command));
  ++revision_;
}

void CCommandTable::Unregister(UINT id) {
  std::lock_guard lock(mutex_);
  auto end = std::remove_if(commands_.begin(), commands_.end(), [id](const AppCommand& c) { return c.id == id; });
  if (end == commands_.end()) return;
  commands_.erase(end, commands_.end());
  ++revision_;
}

bool CCommandTable::Contains(UINT id) const { return Find(id).has_value(); }

std::optional<AppCommand> CCommandTable::Find(UINT id) const {
  std::lock_guard lock(mutex_);
  for (const AppCommand& c : commands_)
    if (c.id == id) return c;
  return std::nullopt;
}

int CCommandTable::MenuOrder(const std::string& top) const {
  if (auto it = menu_order_.find(top); it != menu_order_.end()) return it->second;
  static const std::map<std::string, int> kKnown = {{"文件", 0}, {"编辑", 10}, {"视图", 20}, {"工具", 50}, {"帮助", 90}};
  if (auto it = kKnown.find(top); it != kKnown.end()) return it->second;
  return 60;
}

std::vector<AppCommand> CCommandTable::Commands() const {
  std::lock_guard lock(mutex_);
  std::vector<AppCommand> out = commands_;
  std::stable_sort(out.begin(), out.end(), [this](const AppCommand& a, const AppCommand& b) {
    int ma = MenuOrder(TopMenuOf(a.menu)), mb = MenuOrder(TopMenuOf(b.menu));
    if (ma != mb) return ma < mb;
    return a.order < b.order;
  });
  return out;
}

std::vector<std::string> CCommandTable::TopMenus() const {
  std::vector<std::string> tops;
  for (const AppCommand& c : Commands()) {
    std::string top = TopMenuOf(c.menu);
    if (!top.empty() && std::find(tops.begin(), tops.end(), top) == tops.end()) tops.push_back(top);
  }
  return tops;
}

void CCommandTable::SetMenuOrder(const std::string& top_menu, int order) {
  std::lock_guard lock(mutex_);
  menu_order_[top_menu] = order;
  ++revision_;
}

bool CCommandTable::Execute(UINT id) const {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    for (const AppCommand& c : commands_)
      if (c.id == id) handler = c.handler;
  }
  if (!handler) return false;
  handler();  // outside the lock: a handler may register commands
  return true;
}

bool CCommandTable::QueryState(CCmdUI& cmd) const {
  std::function<void(CCmdUI&)> update;
  {
    std::lock_guard lock(mutex_);
    for (const AppCommand& c : commands_)
      if (c.id == cmd.Id()) update = c.update;
  }
  if (!update) return false;
  update(cmd);
  return true;
}

uint64_t CCommandTable::Revision() const {
  std::lock_guard lock(mutex_);
  return revision_;
}

void CCommandTable::Clear() {
  std::lock_guard lock(mutex_);
  commands_.clear();
  menu_order_.clear();
  ++revision_;
}

CCommandTable& AppCommands() {
  static CCommandTable* table = new CCommandTable();  // registered into from anywhere, any order
  return *table;
}

void RegisterCommandStep(CKovraHomeExApp& app, std::string name, std::vector<AppCommand> commands,
                         std::function<void()> on_stop) {
  auto shared = std::make_shared<const std::vector<AppCommand>>(std::move(commands));
  AppStep step;
  step.name = std::move(name);
  step.phase = AppPhase::kFrame;
  step.start = [shared](CKovraHomeExApp&) {
    for (const AppCommand& command : *shared) AppCommands().Register(command);
    return true;
  };
  step.stop = [shared, on_stop = std::move(on_stop)](CKovraHomeExApp&) {
    for (const AppCommand& command : *shared) AppCommands().Unregister(command.id);
    if (on_stop) on_stop();
  };
  app.RegisterStep(std::move(step));
}

}  // namespace velmora
