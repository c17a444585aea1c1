// The boundary panel.
#include "places/ui/dlg_lb_poly_admin.h"

#include <algorithm>

#include "core/log.h"
#include "core/settings.h"
#include "places/ui/dlg_boundary_prop.h"
#include "places/ui/map_tool_views.h"
#include "platform/text.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "platform/ui/wait_cursor.h"
#include "shapes/polygon_shape.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using K = ControlKind;

DialogTemplate PolyAdminTemplate() {
  DialogTemplate t;
  t.id = CDlgLBPolyAdmin::kTemplateId;
  t.caption = "行政边界";
  t.cx = 160;
  t.cy = 300;
  t.controls = {
      {K::kComboBox, CDlgLBPolyAdmin::kIdSource, "", 2, 2, 40, 60, 0},
      {K::kEdit, CDlgLBPolyAdmin::kIdName, "", 44, 2, 82, 12, 0},
      {K::kButton, CDlgLBPolyAdmin::kIdGet, "获取", 128, 2, 30, 12, 0},
      {K::kCheckBox, CDlgLBPolyAdmin::kIdCentre, "居中", 2, 17, 40, 10, 0},
      {K::kCheckBox, CDlgLBPolyAdmin::kIdClear, "清除历史", 44, 17, 60, 10, 0},
      {K::kTreeView, CDlgLBPolyAdmin::kIdTree, "", 2, 30, 156, 128, 0},
      {K::kListView, CDlgLBPolyAdmin::kIdList, "", 2, 162, 156, 136, 0},
  };
  return t;
}

constexpr int kGap = 4;  // pixels between the tree and the list: the divider

}  // namespace

CDlgLBPolyAdmin::CDlgLBPolyAdmin(CWnd* parent, CPDView* view) : CDialogEx(PolyAdminTemplate(), parent), view_(view) {
  BindControl(kIdTree, tree_);
  BindControl(kIdList, list_);
  BindControl(kIdName, edit_);
  MapCommand(kIdGet, [this] { OnGet(); });
  MapControlNotify(kIdSource, CBN_SELCHANGE, [this] {
    WriteProfileInt(kPolygonSection, "source", GetDlgItemAs<CComboBox>(kIdSource)->GetCurSel());
  });
  MapControlNotify(kIdCentre, BN_CLICKED, [this] { WriteProfileInt(kPolygonSection, "relaygon", IsDlgButtonChecked(kIdCentre)); });
  MapControlNotify(kIdClear, BN_CLICKED, [this] { WriteProfileInt(kPolygonSection, "clear", IsDlgButtonChecked(kIdClear)); });
  MapMessage(kMsgRefreshList, [this](WPARAM, LPARAM) {
    if (list_.IsWindow()) list_.Refresh();
    return LRESULT{0};
  });
  MapMessage(kMsgRestDone, [this](WPARAM, LPARAM) {
    OnRestDone();
    return LRESULT{0};
  });
  MapTimer(kPollTimer, [this] { OnPoll(); });
  MapNotify(kIdList, NM_DBLCLK, [this](NMHDR*) {
    OpenProperties(list_.GetNextItem(-1, LVNI_SELECTED));
    return LRESULT{0};
  });
  MapNotify(kIdList, NM_RCLICK, [this](NMHDR* hdr) {
    OnListMenu(reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem);
    return LRESULT{0};
  });
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM l) {
    Layout(GET_X_LPARAM(l), GET_Y_LPARAM(l));
    return LRESULT{0};
  });
  // The divider between tree and list: a drag with the left button moves it.
  MapMessage(WM_LBUTTONDOWN, [this](WPARAM, LPARAM l) {
    const int y = GET_Y_LPARAM(l);
    if (divider_ >= 0 && y >= divider_ - kGap && y < divider_) dragging_ = true;
    return LRESULT{0};
  });
  MapMessage(WM_MOUSEMOVE, [this](WPARAM flags, LPARAM l) {
    const int y = GET_Y_LPARAM(l);
    const bool over = divider_ >= 0 && y >= divider_ - kGap && y < divider_;
    SetWindowCursor(over || dragging_ ? CursorKind::kSizeNS : CursorKind::kDefault);
    if (dragging_ && (flags & MK_LBUTTON)) {
      const RECT tree = tree_.GetWindowRect();
      divider_ = std::clamp(y + kGap / 2, tree.top + kGap + 1, std::max(tree.top + kGap + 1, height_ - kDividerMinBottom));
      Layout(width_, height_);
    }
    return LRESULT{0};
  });
  MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM) {
    dragging_ = false;
    return LRESULT{0};
  });
}

CDlgLBPolyAdmin::~CDlgLBPolyAdmin() {
  worker_.Stop(kInfinite);
  script_.DestroyHidden();
}

CPDView* CDlgLBPolyAdmin::View() const { return view_ ? view_ : MapToolView(); }

bool CDlgLBPolyAdmin::OnInitDialog() {
  CComboBox* source = GetDlgItemAs<CComboBox>(kIdSource);
  for (const char* s : {"default", "省", "市", "县"}) source->AddString(s);
  int index = GetProfileInt(kPolygonSection, "source", 0);
  source->SetCurSel(index >= 0 && index < 4 ? index : 0);
  CheckDlgButton(kIdCentre, GetProfileInt(kPolygonSection, "relaygon", 1) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kIdClear, GetProfileInt(kPolygonSection, "clear", 1) ? BST_CHECKED : BST_UNCHECKED);
  edit_.cue_text = kCue;
  edit_.ShowCueText();
  // The region list shows the view's boundaries, in the boundary layer's order.
  CPDView* view = View();
  CRegionList::SetViewRegionSource([view] {
    std::vector<SavedRegion> regions;
    if (!view) return regions;
    std::vector<CMapShape*> shapes;
    view->Engine().Boundaries().GetShapesByType(kAllShapeTypes, shapes);
    for (const CMapShape* s : shapes) {
      SavedRegion r;
      r.name = s->Name();
      for (const ShapePoint& p : s->Points()) r.points.push_back(PointF{p.lng, p.lat});
      r.line_color = s->line_color;
      r.fill_color = s->fill_color;
      r.line_width = static_cast<int32_t>(s->line_width);
      r.fill = s->filled;
      regions.push_back(std::move(r));
    }
    return regions;
  });
  source_set_ = true;
  list_.Refresh();
  const RECT r = GetWindowRect();
  width_ = r.Width(), height_ = r.Height();
  divider_ = list_.GetWindowRect().top;
  return true;
}

void CDlgLBPolyAdmin::OnDestroy() {
  KillTimer(kPollTimer);
  // The worker only posts to the panel: stopping it here never waits on this thread.
  worker_.Stop(kInfinite);
  script_.DestroyHidden();
  querying_ = false;
  if (source_set_) CRegionList::SetViewRegionSource({});
  source_set_ = false;
  CDialogEx::OnDestroy();
}

void CDlgLBPolyAdmin::Layout(int cx, int cy) {
  if (cx <= 0 || cy <= 0 || !tree_.IsWindow() || !list_.IsWindow()) return;
  width_ = cx, height_ = cy;
  const RECT tree = tree_.GetWindowRect();
  if (divider_ < 0) divider_ = list_.GetWindowRect().top;
  divider_ = std::clamp(divider_, tree.top + kGap + 1, std::max(tree.top + kGap + 1, cy - kDividerMinBottom));
  tree_.MoveWindow(RECT{tree.left, tree.top, cx - tree.left, divider_ - kGap});
  list_.MoveWindow(RECT{tree.left, divider_, cx - tree.left, cy});
}

void CDlgLBPolyAdmin::OnGet() {
  const std::string name(TrimAscii(edit_.GetWindowText()));
  if (name.empty() || name == kCue || querying_) return;
  CWaitCursor busy;
  const int source = GetDlgItemAs<CComboBox>(kIdSource)->GetCurSel();
  query_name_ = name;
  if (source <= kBoundaryScript) {
    if (!script_.IsWindow() && !script_.CreateHidden(2)) {
      AppLog("boundary: the script window cannot be made");
      return;
    }
    querying_ = true;
    script_asked_ = script_.FunctionId(CHtmlWnd::kQuerPolygon) != 0 && script_.QuerPolygon(name);
    polls_ = 0;
    SetTimer(kPollTimer, kPollMs);
    return;
  }
  querying_ = true;
  worker_.Stop(kInfinite);
  const HWND hwnd = GetSafeHwnd();
  worker_.Start("BoundaryQuery", [this, hwnd, source, name] {
    worker_.SignalReady();
    std::optional<std::string> reply = FetchBoundary(source, name, CWorkThread::CurrentQuitFlag());
    {
      std::lock_guard lock(result_mutex_);
      result_ = std::move(reply);
    }
    UiDispatcher().PostMessage(hwnd, kMsgRestDone, 0, 0);
  });
}

void CDlgLBPolyAdmin::OnPoll() {
  if (!querying_) {
    KillTimer(kPollTimer);
    return;
  }
  if (++polls_ > kMaxPolls) {
    KillTimer(kPollTimer);
    querying_ = false;
    AppLog("boundary: no answer for \"%s\"", query_name_.c_str());
    return;
  }
  // The page may still be loading when the query is made: ask once its functions are there.
  if (!script_asked_) {
    if (script_.FunctionId(CHtmlWnd::kQuerPolygon) == 0) return;
    script_asked_ = script_.QuerPolygon(query_name_);
    return;
  }
  std::string text;
  if (!script_.GetPolygonQueryResult(text)) return;
  KillTimer(kPollTimer);
  querying_ = false;
  if (!text.empty()) Show(query_name_, text);
}

void CDlgLBPolyAdmin::OnRestDone() {
  worker_.OnExit();
  std::optional<std::string> reply;
  {
    std::lock_guard lock(result_mutex_);
    reply = std::move(result_);
    result_.reset();
  }
  querying_ = false;
  if (reply) Show(query_name_, *reply);
}

void CDlgLBPolyAdmin::Show(const std::string& name, const std::string& reply) {
  std::vector<BoundaryRing> rings = NameBoundaryRings(ParseBoundaryRings(reply), name);
  if (rings.empty()) return;
  CPDView* view = View();
  if (!view) return;
  std::vector<std::unique_ptr<CPolygonShape>> polygons;
  for (BoundaryRing& ring : rings) {
    auto polygon = std::make_unique<CPolygonShape>();
    polygon->SetName(ring.name);
    std::vector<ShapePoint> points;
    points.reserve(ring.points.size());
    for (const PointF& p : ring.points) points.push_back(ShapePoint{p.x, p.y});
    polygon->SetPoints(points);
    polygon->line_color = 0xFFE04040u;
    polygon->fill_color = 0x20E04040u;
    polygons.push_back(std::move(polygon));
  }
  view->ShowBoundary(std::move(polygons), IsDlgButtonChecked(kIdClear) != 0, IsDlgButtonChecked(kIdCentre) != 0);
  PostMessage(kMsgRefreshList);
}

CPolygonShape* CDlgLBPolyAdmin::PolygonOfRow(int row) const {
  CPDView* view = View();
  if (!view || row < 0) return nullptr;
  std::vector<CMapShape*> shapes;
  view->Engine().Boundaries().GetShapesByType(kAllShapeTypes, shapes);
  if (row >= static_cast<int>(shapes.size())) return nullptr;
  return dynamic_cast<CPolygonShape*>(shapes[static_cast<size_t>(row)]);
}

bool CDlgLBPolyAdmin::SaveRow(int row) {
  const SavedRegion* region = list_.GetRegion(row);
  if (!region) return false;
  const HTREEITEM selected = tree_.GetSelectedItem();
  if (selected == 0) return tree_.AddRegion(*region, TVI_ROOT) != 0;
  switch (MessageBox(kSaveQuestion, kAppTitle, MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES: return tree_.AddRegion(*region, selected) != 0;
    case IDNO:
      if (tree_.IsFolder(selected)) return tree_.AddRegion(*region, selected) != 0;
      return tree_.ReplaceRegion(selected, *region);
    default: return false;
  }
}

void CDlgLBPolyAdmin::OpenProperties(int row) {
  CPolygonShape* polygon = PolygonOfRow(row);
  if (!polygon) return;
  CDlgBoundaryProp dialog(polygon, View(), this);
  if (dialog.DoModal() == IDOK) list_.Refresh();
}

void CDlgLBPolyAdmin::OnListMenu(int row) {
  if (!list_.GetRegion(row)) return;
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, kCmdSave, "保存到区域");
  menu.AppendMenu(MF_STRING, kCmdProperties, "边界详细设置...");
  switch (static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 0, 0, this))) {
    case kCmdSave: SaveRow(row); break;
    case kCmdProperties: OpenProperties(row); break;
    default: break;
  }
}

}  // namespace velmora
