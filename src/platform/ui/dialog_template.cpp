// The template registry and default controls.
#include "platform/ui/dialog_template.h"

#include <map>
#include <mutex>

#include "platform/ui/controls.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/tree_ctrl.h"

namespace velmora {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<int, std::shared_ptr<const DialogTemplate>> templates;
};

Registry& Templates() {
  static Registry* registry = new Registry();  // used by static registrations in any order
  return *registry;
}

}  // namespace

const ControlTemplate* DialogTemplate::FindControl(int control_id) const {
  for (const ControlTemplate& c : controls)
    if (c.id == control_id) return &c;
  return nullptr;
}

void RegisterDialogTemplate(const DialogTemplate& tmpl) {
  Registry& r = Templates();
  std::lock_guard lock(r.mutex);
  r.templates[tmpl.id] = std::make_shared<const DialogTemplate>(tmpl);
}

std::shared_ptr<const DialogTemplate> FindDialogTemplate(int id) {
  Registry& r = Templates();
  std::lock_guard lock(r.mutex);
  auto it = r.templates.find(id);
  return it == r.templates.end() ? nullptr : it->second;
}

std::unique_ptr<CWnd> MakeControl(const ControlTemplate& control) {
  switch (control.kind) {
    case ControlKind::kStatic: return std::make_unique<CStatic>();
    case ControlKind::kButton: return std::make_unique<CButton>(CButton::Kind::kPush);
    case ControlKind::kDefButton: return std::make_unique<CButton>(CButton::Kind::kDefPush);
    case ControlKind::kCheckBox: return std::make_unique<CButton>(CButton::Kind::kCheckBox);
    case ControlKind::kRadio: return std::make_unique<CButton>(CButton::Kind::kRadio);
    case ControlKind::kGroupBox: return std::make_unique<CButton>(CButton::Kind::kGroupBox);
    case ControlKind::kEdit: return std::make_unique<CEdit>();
    case ControlKind::kComboBox: return std::make_unique<CComboBox>();
    case ControlKind::kListView: return std::make_unique<CListCtrl>();
    case ControlKind::kTreeView: return std::make_unique<CTreeCtrl>();
    case ControlKind::kProgress: return std::make_unique<CProgressCtrl>();
    case ControlKind::kCustom: return std::make_unique<CWnd>();
  }
  return std::make_unique<CWnd>();
}

}  // namespace velmora
