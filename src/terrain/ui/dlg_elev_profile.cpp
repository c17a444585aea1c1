// The profile window: the chart fitted to the client area.
#include "terrain/ui/dlg_elev_profile.h"

#include "platform/ui/dialog_template.h"
#include "platform/ui/ui_host.h"
#include "shell/dlg_worker_base.h"

namespace velmora {
namespace {

DialogTemplate ProfileTemplate() {
  DialogTemplate t;
  t.id = CDlgElevProfile::IDD;
  t.caption = "高程剖面";
  t.cx = 320;
  t.cy = 140;
  t.controls = {{ControlKind::kStatic, CDlgElevProfile::kIdChart, "", 0, 0, 320, 140, 0}};
  return t;
}

}  // namespace

CDlgElevProfile::CDlgElevProfile(CWnd* parent) : CDialogEx(ProfileTemplate(), parent) {
  BindControl(kIdChart, chart_);
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM lparam) {
    const int cx = GET_X_LPARAM(lparam), cy = GET_Y_LPARAM(lparam);
    if (chart_.IsWindow() && cx > 0 && cy > 0) {
      chart_.MoveWindow(RECT{0, 0, cx, cy});
      chart_.SendMessage(WM_SIZE, 0, MAKELPARAM(cx, cy));
    }
    return LRESULT{0};
  });
}

CDlgElevProfile::~CDlgElevProfile() { DestroyWindow(); }

bool CDlgElevProfile::OnInitDialog() {
  SetWindowIconFromImage(this, kIcon);
  return true;
}

bool CDlgElevProfile::ShowProfile(const CMapShape& shape) {
  ShowModelessDialog(this);
  if (!IsWindow()) return false;
  return chart_.LoadTrack(shape);
}

}  // namespace velmora
