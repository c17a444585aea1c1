// Dialog creation from templates, modal runs through the UiHost, modeless life.
#include "platform/ui/dialog.h"

#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"

namespace velmora {
namespace {

std::shared_ptr<const DialogTemplate> TemplateOrEmpty(int id) {
  auto t = FindDialogTemplate(id);
  if (t) return t;
  DialogTemplate empty;
  empty.id = id;
  return std::make_shared<const DialogTemplate>(std::move(empty));
}

CButton::Kind ButtonKind(ControlKind kind) {
  switch (kind) {
    case ControlKind::kDefButton: return CButton::Kind::kDefPush;
    case ControlKind::kCheckBox: return CButton::Kind::kCheckBox;
    case ControlKind::kRadio: return CButton::Kind::kRadio;
    case ControlKind::kGroupBox: return CButton::Kind::kGroupBox;
    default: return CButton::Kind::kPush;
  }
}

bool IsButtonKind(ControlKind kind) {
  return kind == ControlKind::kButton || kind == ControlKind::kDefButton || kind == ControlKind::kCheckBox ||
         kind == ControlKind::kRadio || kind == ControlKind::kGroupBox;
}

}  // namespace

CDialog::CDialog(int template_id, CWnd* parent) : template_(TemplateOrEmpty(template_id)), owner_(parent) {}

CDialog::CDialog(DialogTemplate tmpl, CWnd* parent)
    : template_(std::make_shared<const DialogTemplate>(std::move(tmpl))), owner_(parent) {}

CDialog::~CDialog() = default;

void CDialog::SetTemplate(DialogTemplate tmpl) {
  template_ = std::make_shared<const DialogTemplate>(std::move(tmpl));
}

void CDialog::BindControl(int id, CWnd& control) {
  for (auto& [bound_id, window] : bound_) {
    if (bound_id == id) {
      window = &control;
      return;
    }
  }
  bound_.emplace_back(id, &control);
}

bool CDialog::CreateDialogWindow(bool modal) {
  if (IsWindow()) return false;
  modal_ = modal;
  ended_ = false;
  result_ = 0;
  ClearOwnedChildren();
  uint32_t style = modal ? WS_VISIBLE : 0;
  RECT rect{0, 0, template_->cx, template_->cy};
  if (!CWnd::Create(owner_, template_->id, template_->caption, style, rect)) return false;
  auto bound_for = [this](int id) -> CWnd* {
    if (id == -1) return nullptr;
    for (auto& [bound_id, window] : bound_)
      if (bound_id == id) return window;
    return nullptr;
  };
  for (const ControlTemplate& c : template_->controls) {
    RECT r{c.x, c.y, c.x + c.cx, c.y + c.cy};
    uint32_t cstyle = WS_CHILD | WS_VISIBLE | c.style;
    if (CWnd* member = bound_for(c.id)) {
      if (auto* button = dynamic_cast<CButton*>(member); button && IsButtonKind(c.kind))
        button->SetKind(ButtonKind(c.kind));
      member->DestroyWindow();
      member->Create(this, c.id, c.text, cstyle, r);
      member->EnableWindow((c.style & WS_DISABLED) == 0);
      member->PreSubclassWindow();
    } else {
      CWnd* control = AdoptChild(MakeControl(c));
      control->Create(this, c.id, c.text, cstyle, r);
    }
  }
  // Members bound to ids the template does not have (dialogs without a template of their own).
  for (auto& [id, member] : bound_) {
    if (template_->FindControl(id)) continue;
    member->DestroyWindow();
    member->Create(this, id, member->GetWindowText(), WS_CHILD | WS_VISIBLE, {});
    member->PreSubclassWindow();
  }
  OnInitDialog();
  return true;
}

INT_PTR CDialog::DoModal() {
  if (IsWindow()) return -1;
  if (!CreateDialogWindow(true)) return -1;
  if (!ended_) GetUiHost().RunModal(*this);
  if (!ended_) {
    OnCancel();  // the person closed the dialog
    if (!ended_) EndDialog(IDCANCEL);
  }
  DestroyWindow();
  return result_;
}

bool CDialog::Create(CWnd* parent) {
  if (IsWindow()) return true;
  if (parent) owner_ = parent;
  return CreateDialogWindow(false);
}

void CDialog::EndDialog(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  if (!modal_) DestroyWindow();
  UiDispatcher().Wake();  // a modal pump re-checks its dialog at once
}

bool CDialog::OnCommand(WPARAM wparam, LPARAM) {
  unsigned code = HIWORD(wparam);
  if (code != 0 && code != 1) return false;
  switch (LOWORD(wparam)) {
    case IDOK:
      OnOK();
      return true;
    case IDCANCEL:
      OnCancel();
      return true;
    default:
      return false;
  }
}

LRESULT CDialog::DefWindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CLOSE) {
    OnCancel();
    return 0;
  }
  return CWnd::DefWindowProc(msg, wparam, lparam);
}

}  // namespace velmora
