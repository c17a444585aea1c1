// The boundary details dialog.
#include "places/ui/dlg_boundary_prop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/format.h"
#include "platform/gfx/graphics.h"
#include "shapes/polygon_shape.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using K = ControlKind;
constexpr const char* kMarkOverlay = "boundary-point";

DialogTemplate BoundaryPropTemplate() {
  DialogTemplate t;
  t.id = CDlgBoundaryProp::kTemplateId;
  t.caption = "边界详细设置";
  t.cx = 220;
  t.cy = 200;
  t.controls = {
      {K::kListView, CDlgBoundaryProp::kIdPoints, "", 4, 4, 120, 192, 0},
      {K::kStatic, -1, "名称:", 130, 6, 24, 8, 0},
      {K::kEdit, CDlgBoundaryProp::kIdName, "", 156, 4, 60, 12, 0},
      {K::kStatic, -1, "填充色:", 130, 24, 30, 8, 0},
      {K::kCustom, CDlgBoundaryProp::kIdFill, "", 164, 22, 40, 12, 0},
      {K::kStatic, -1, "线色:", 130, 42, 30, 8, 0},
      {K::kCustom, CDlgBoundaryProp::kIdLine, "", 164, 40, 40, 12, 0},
      {K::kStatic, -1, "线宽:", 130, 60, 30, 8, 0},
      {K::kComboBox, CDlgBoundaryProp::kIdWidth, "", 164, 58, 40, 80, 0},
      {K::kCheckBox, CDlgBoundaryProp::kIdFilled, "填充", 130, 78, 60, 10, 0},
      {K::kCheckBox, CDlgBoundaryProp::kIdShowPoint, "显示选中点", 130, 94, 80, 10, 0},
      {K::kDefButton, IDOK, "确定", 130, 180, 40, 14, 0},
      {K::kButton, IDCANCEL, "取消", 176, 180, 40, 14, 0},
  };
  return t;
}

}  // namespace

CDlgBoundaryProp::CDlgBoundaryProp(CPolygonShape* polygon, CPDView* view, CWnd* parent)
    : CDialogEx(BoundaryPropTemplate(), parent), polygon_(polygon), view_(view) {
  BindControl(kIdPoints, points_);
  BindControl(kIdFill, fill_);
  BindControl(kIdLine, line_);
  MapControlNotify(kIdFill, CSN_COLORCHANGED, [this] {
    if (polygon_) polygon_->fill_color = fill_.GetColor();
    Redraw();
  });
  MapControlNotify(kIdLine, CSN_COLORCHANGED, [this] {
    if (polygon_) polygon_->line_color = line_.GetColor();
    Redraw();
  });
  MapControlNotify(kIdShowPoint, BN_CLICKED, [this] { MarkSelectedPoint(); });
  MapNotify(kIdPoints, LVN_ITEMCHANGED, [this](NMHDR*) {
    MarkSelectedPoint();
    return LRESULT{0};
  });
}

CDlgBoundaryProp::~CDlgBoundaryProp() = default;

bool CDlgBoundaryProp::OnInitDialog() {
  if (!polygon_) return true;
  SetDlgItemText(kIdName, polygon_->Name());
  fill_.SetColor(polygon_->fill_color);
  line_.SetColor(polygon_->line_color);
  CComboBox* width = GetDlgItemAs<CComboBox>(kIdWidth);
  width->AddString("无");
  for (int i = 1; i <= 10; ++i) width->AddString(std::to_string(i));
  width->SetCurSel(std::clamp(static_cast<int>(std::lround(polygon_->line_width)), 0, 10));
  CheckDlgButton(kIdFilled, polygon_->filled ? BST_CHECKED : BST_UNCHECKED);
  points_.InsertColumn(0, "序号", LVCFMT_LEFT, 40);
  points_.InsertColumn(1, "经度", LVCFMT_LEFT, 90);
  points_.InsertColumn(2, "纬度", LVCFMT_LEFT, 90);
  const std::vector<ShapePoint> points = polygon_->Points();
  points_.SetDisplayCallbacks([points](int item, int sub) -> std::string {
    if (item < 0 || item >= static_cast<int>(points.size())) return {};
    if (sub == 0) return std::to_string(item + 1);
    return FormatC("%.6f", static_cast<double>(sub == 1 ? points[size_t(item)].lng : points[size_t(item)].lat));
  });
  points_.SetItemCountEx(static_cast<int>(points.size()));
  return true;
}

void CDlgBoundaryProp::OnDestroy() {
  if (view_) view_->Engine().SetOverlayPainter(kMarkOverlay, {});
  CDialogEx::OnDestroy();
}

void CDlgBoundaryProp::Redraw() {
  if (view_) view_->Invalidate();
}

void CDlgBoundaryProp::MarkSelectedPoint() {
  if (!view_ || !polygon_) return;
  const int row = points_.GetNextItem(-1, LVNI_SELECTED);
  if (!IsDlgButtonChecked(kIdShowPoint) || row < 0 || row >= static_cast<int>(polygon_->PointCount())) {
    view_->Engine().SetOverlayPainter(kMarkOverlay, {});
  } else {
    const ShapePoint p = polygon_->Points()[static_cast<size_t>(row)];
    view_->Engine().SetOverlayPainter(kMarkOverlay, [p](CGraphics& g, const CMapProjector& proj) {
      const PixelPoint s = proj.ToScreen(p.lng, p.lat);
      g.DrawEllipse(Pen{0xFFFF00FFu, 2.0f}, GfxRect{float(s.x) - 6, float(s.y) - 6, 12, 12});
    });
  }
  Redraw();
}

void CDlgBoundaryProp::OnOK() {
  if (polygon_) {
    polygon_->SetName(GetDlgItemText(kIdName));
    polygon_->line_width = static_cast<float>(std::max(0, GetDlgItemAs<CComboBox>(kIdWidth)->GetCurSel()));
    polygon_->filled = IsDlgButtonChecked(kIdFilled) != 0;
    Redraw();
  }
  CDialogEx::OnOK();
}

}  // namespace velmora
