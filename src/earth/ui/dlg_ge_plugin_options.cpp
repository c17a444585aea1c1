// The "地球插件" panel: its controls, their handlers and the switch to the plug-in view.
#include "earth/ui/dlg_ge_plugin_options.h"

#include <algorithm>
#include <memory>
#include <string>

#include "earth/ui/ge_plugin_view.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/tree_ctrl.h"
#include "platform/ui/ui_host.h"
#include "shell/kovra_home_ex_app.h"

namespace velmora {

namespace {

// Dialog units to the panel's pixels (the panel is no dialog: its children are placed in pixels).
int PxX(int du) { return du * 3 / 2; }
int PxY(int du) { return du * 13 / 8; }

DialogTemplate MakeTemplate(int id, bool with_choices) {
  DialogTemplate t;
  t.id = id;
  t.caption = "地球插件";
  t.cx = 130;
  t.cy = 300;
  t.controls.push_back({ControlKind::kStatic, 1234, "谷歌地球: ?\n地球插件: ?", 4, 4, 122, 18, 0});
  struct Box {
    int id;
    const char* text;
  };
  const Box boxes[] = {{1235, "状态栏"}, {1236, "历史影像"}, {1237, "太阳"}, {1238, "国家和地区边界"},
                       {1239, "道路和道路名称"}, {1240, "地形"}, {1241, "3D建筑"}, {1242, "3D树木"},
                       {1243, "网格线"}, {1244, "大气"}, {1245, "灰色建筑"}, {1246, "比例尺"},
                       {1247, "鹰眼图"}, {1248, "立刻"}};
  int i = 0;
  for (const Box& b : boxes) {
    t.controls.push_back({ControlKind::kCheckBox, b.id, b.text, (i % 2) ? 66 : 4, 26 + (i / 2) * 11, 60, 10, 0});
    ++i;
  }
  int y = 106;
  if (with_choices) {
    struct Choice {
      int id;
      const char* label;
    };
    const Choice choices[] = {{1225, "模式"}, {1226, "导航控件"}, {1227, "定位速度档"}, {1228, "地形提升"}};
    for (const Choice& c : choices) {
      t.controls.push_back({ControlKind::kStatic, -1, c.label, 4, y + 2, 48, 10, 0});
      t.controls.push_back({ControlKind::kComboBox, c.id, "", 54, y, 72, 80, 0});
      y += 14;
    }
  }
  t.controls.push_back({ControlKind::kTreeView, 1268, "", 0, y + 2, 130, 120, 0});
  t.controls.push_back({ControlKind::kButton, 1278, "视角重置", 4, y + 126, 58, 14, 0});
  t.controls.push_back({ControlKind::kButton, 1279, "重新载入", 68, y + 126, 58, 14, 0});
  return t;
}

}  // namespace

void RegisterGEPluginOptionsTemplates() {
  RegisterDialogTemplate(MakeTemplate(CDlgGEPluginOptions::IDD, true));
  RegisterDialogTemplate(MakeTemplate(CDlgGEPluginOptions::IDD_SHORT, false));
}

CDlgGEPluginOptions::CDlgGEPluginOptions() {
  for (int id = IDC_FIRST_BOX; id <= IDC_LAST_BOX; ++id)
    MapControlNotify(id, BN_CLICKED, [this, id] {
      if (CGEPluginView* view = EnsurePluginView()) view->SetOption(id, IsDlgButtonChecked(id));
    });
  auto on_choice = [this](int id, auto apply) {
    MapControlNotify(id, CBN_SELCHANGE, [this, id, apply] {
      auto* combo = GetDlgItemAs<CComboBox>(id);
      if (!combo || combo->GetCurSel() < 0) return;
      if (CGEPluginView* view = EnsurePluginView()) apply(*view, combo->GetCurSel());
    });
  };
  on_choice(IDC_MAP_MODE, [](CGEPluginView& v, int index) { v.SetMapMode(index); });
  on_choice(IDC_NAVIGATION, [](CGEPluginView& v, int index) { v.SetNavigationControl(index); });
  on_choice(IDC_FLY_SPEED, [](CGEPluginView& v, int index) { v.SetFlyToSpeed(index); });
  on_choice(IDC_EXAGGERATION, [](CGEPluginView& v, int index) { v.SetTerrainExaggeration(index); });
  MapNotify(IDC_TREE, NM_CLICK, [this](NMHDR* hdr) -> LRESULT {
    auto* tree = GetDlgItemAs<CTreeCtrl>(IDC_TREE);
    const HTREEITEM item = hdr ? reinterpret_cast<NMTREEVIEW*>(hdr)->itemNew : 0;
    if (!tree || !item) return 0;
    if (CGEPluginView* view = EnsurePluginView()) view->ToggleFeature(*tree, item);
    return 0;
  });
  MapControlNotify(IDC_LOOK_RESET, BN_CLICKED, [this] {
    if (CGEPluginView* view = EnsurePluginView()) view->LookReset();
  });
  MapControlNotify(IDC_RELOAD, BN_CLICKED, [this] {
    if (CGEPluginView* view = EnsurePluginView()) view->Reload();
  });
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM) -> LRESULT {
    Layout();
    return 0;
  });
}

bool CDlgGEPluginOptions::CreatePanel(CWnd* parent) {
  if (IsWindow()) return true;
  RegisterGEPluginOptionsTemplates();
  std::shared_ptr<const DialogTemplate> t = FindDialogTemplate(IDD);
  if (!t || !Create(parent, kPanelId, GetPanelName(), WS_CHILD | WS_VISIBLE, RECT{0, 0, PxX(t->cx), PxY(t->cy)}))
    return false;
  for (const ControlTemplate& c : t->controls) {
    std::unique_ptr<CWnd> control = MakeControl(c);
    if (!control) continue;
    CWnd* made = AdoptChild(std::move(control));
    made->Create(this, c.id, c.text, WS_CHILD | WS_VISIBLE | c.style,
                 RECT{PxX(c.x), PxY(c.y), PxX(c.x + c.cx), PxY(c.y + c.cy)});
  }
  auto fill = [this](int id, std::initializer_list<const char*> items) {
    if (auto* combo = GetDlgItemAs<CComboBox>(id))
      for (const char* item : items) combo->AddString(item);
  };
  fill(IDC_MAP_MODE, {"地球", "天空"});
  fill(IDC_NAVIGATION, {"显示", "自动", "隐藏"});
  fill(IDC_FLY_SPEED, {"0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0", "3.5", "4.0", "4.5", "5.0"});
  fill(IDC_EXAGGERATION, {"1.0", "1.2", "1.4", "1.6", "1.8", "2.0", "2.2", "2.4", "2.6", "2.8", "3.0"});
  for (int id : {IDC_MAP_MODE, IDC_NAVIGATION, IDC_FLY_SPEED, IDC_EXAGGERATION})
    if (auto* combo = GetDlgItemAs<CComboBox>(id)) combo->SetCurSel(0);
  Layout();
  return true;
}

void CDlgGEPluginOptions::Layout() {
  CWnd* tree = GetDlgItem(IDC_TREE);
  CWnd* reset = GetDlgItem(IDC_LOOK_RESET);
  CWnd* reload = GetDlgItem(IDC_RELOAD);
  if (!tree || !reset || !reload) return;
  const RECT own = GetWindowRect();
  const RECT t = tree->GetWindowRect();
  const int button_h = PxY(14);
  const int button_top = std::max(t.top + 20, static_cast<int>(own.Height()) - button_h - 4);
  // The tree takes the panel's width and the height left above the buttons.
  tree->MoveWindow(RECT{0, t.top, own.Width(), button_top - 4});
  const RECT r1 = reset->GetWindowRect(), r2 = reload->GetWindowRect();
  reset->MoveWindow(RECT{r1.left, button_top, r1.right, button_top + button_h});
  reload->MoveWindow(RECT{r2.left, button_top, r2.right, button_top + button_h});
}

CGEPluginView* CDlgGEPluginOptions::EnsurePluginView() {
  CKovraHomeExApp* app = GetApp();
  IChildView* current = app ? app->GetCurrentView() : nullptr;
  if (app && (!current || current->GetViewKind() != kViewEarthPlugin)) current = app->SwitchView(kViewEarthPlugin);
  auto* view = current && current->GetViewKind() == kViewEarthPlugin ? dynamic_cast<CGEPluginView*>(current) : nullptr;
  if (!view) ShowMessageBox(kNeedPluginView, MB_OK | MB_ICONINFORMATION);
  return view;
}

}  // namespace velmora
