// The profile chart: layout, the rendered picture, hover, jumps and the hiking summary.
#include "terrain/ui/profile_chart.h"

#include <cmath>

#include "core/format.h"
#include "core/settings.h"
#include "platform/gfx/graphics.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_host.h"
#include "shapes/polyline_shape.h"
#include "shell/kovra_home_ex_app.h"
#include "terrain/elevation_store.h"
#include "terrain/ui/elevation_sampling_ui.h"
#include "view/child_view.h"

namespace velmora {

CProfileChart::CProfileChart() = default;

CProfileChart::~CProfileChart() { DestroyWindow(); }

int CProfileChart::OnCreate() {
  RECT r = GetWindowRect();
  width_ = r.Width();
  height_ = r.Height();
  tip_.Create(this);
  tip_.SetAutoPopDelay(kToolTipDelay);
  DrawAxes();
  return 0;
}

void CProfileChart::OnDestroy() { bitmap_.Reset(); }

bool CProfileChart::LoadTrack(const CMapShape& shape) {
  if (shape.GetType() != kShapePolyline && shape.GetType() != kShapeLabelPolyline) return false;
  const auto& line = static_cast<const CPolylineShape&>(shape);
  std::vector<ShapePoint> points = line.Points();
  std::vector<float> heights = line.Values();
  if (heights.size() != points.size()) {
    CElevationStore& store = store_ ? *store_ : ElevationStore();
    const int resolution = CurrentMapResolution();
    std::vector<float> sampled;
    const bool done = RunElevationSampling("高程剖面", this, [&](const SampleControl& control) {
      return SampleLineHeights(store, points, resolution, &sampled, control);
    });
    if (!done) return false;
    heights = std::move(sampled);
  }
  SetLine(line.Name(), std::move(points), std::move(heights));
  return true;
}

void CProfileChart::SetLine(std::string name, std::vector<ShapePoint> points, std::vector<float> heights) {
  name_ = std::move(name);
  points_ = std::move(points);
  heights_ = std::move(heights);
  hovered_ = -1;
  tip_.Hide();
  DrawAxes();
}

void CProfileChart::DrawAxes() {
  layout_ = LayoutProfile(points_, heights_, width_, height_);
  if (hovered_ >= static_cast<int>(layout_.points.size())) hovered_ = -1;
  Render();
  Invalidate();
}

void CProfileChart::Render() {
  if (width_ <= 0 || height_ <= 0 || !bitmap_.Create(width_, height_, kBackColor)) {
    bitmap_.Reset();
    return;
  }
  if (!layout_.has_height) return;  // nothing to show: the chart stays black
  CGraphics g(bitmap_);
  g.SetAntialias(false);  // one-pixel lines on whole pixels, as a chart's grid should be
  const float w = static_cast<float>(width_), h = static_cast<float>(height_);

  // The profile, broken where a point has no data.
  const Pen profile{kProfileColor, 1.0f, LineDash::kSolid};
  std::vector<GfxPoint> run;
  auto flush = [&] {
    if (run.size() >= 2) g.DrawLines(profile, run.data(), run.size());
    run.clear();
  };
  for (const ProfileScreenPoint& p : layout_.points) {
    if (std::isnan(p.y)) {
      flush();
      continue;
    }
    run.push_back(GfxPoint{p.x, p.y});
  }
  flush();

  // The grid with its labels.
  const Pen grid{kGridColor, 1.0f, LineDash::kDot};
  const CFont font("Arial", kLabelPixels);
  for (int x = kGridSpacing; x < width_; x += kGridSpacing) {
    const float fx = static_cast<float>(x);
    g.DrawLine(grid, fx + 0.5f, 0, fx + 0.5f, h);
    const double metres = fx * layout_.total_length / w;
    g.DrawString(FormatC("%.1fm", metres), font, kDistanceColor, fx - 15, h - 15);
  }
  for (int k = kGridSpacing; k < height_; k += kGridSpacing) {
    const float y = h - static_cast<float>(k);
    g.DrawLine(grid, 0, y + 0.5f, w, y + 0.5f);
    const double height = k * layout_.range / h + layout_.lowest;
    g.DrawString(FormatC("%.1fm", height), font, kHeightColor, 0, y);
  }
  g.DrawString(FormatC("%.1fm", layout_.lowest), font, kHeightColor, 0, h - 15);
}

bool CProfileChart::OnPaint(CBitmap& canvas) {
  if (canvas.Width() != width_ || canvas.Height() != height_) {
    width_ = canvas.Width();
    height_ = canvas.Height();
    layout_ = LayoutProfile(points_, heights_, width_, height_);
    Render();
  }
  CGraphics g(canvas);
  if (!g.IsValid()) return true;
  g.Clear(kBackColor);
  if (!bitmap_.IsEmpty()) g.DrawImage(bitmap_, 0, 0);
  g.SetAntialias(false);
  if (mouse_x_ >= 0 && mouse_y_ >= 0) {
    const Pen cross{kCrosshairColor, 1.0f, LineDash::kDot};
    g.DrawLine(cross, static_cast<float>(mouse_x_) + 0.5f, 0, static_cast<float>(mouse_x_) + 0.5f,
               static_cast<float>(canvas.Height()));
    g.DrawLine(cross, 0, static_cast<float>(mouse_y_) + 0.5f, static_cast<float>(canvas.Width()),
               static_cast<float>(mouse_y_) + 0.5f);
  }
  if (hovered_ >= 0 && hovered_ < static_cast<int>(layout_.points.size())) {
    const ProfileScreenPoint& p = layout_.points[hovered_];
    g.SetAntialias(true);
    g.DrawEllipse(Pen{kMarkColor, 2.0f, LineDash::kSolid}, GfxRect{p.x - 2, p.y - 2, 5, 5});
  }
  return true;
}

std::string CProfileChart::TipText(int point) const {
  if (point < 0 || point >= static_cast<int>(points_.size()) || point >= static_cast<int>(heights_.size())) return {};
  const ShapePoint& p = points_[point];
  return FormatC("%f,%f:%gm", static_cast<double>(p.lng), static_cast<double>(p.lat),
                 static_cast<double>(heights_[point]));
}

void CProfileChart::OnMouseMove(int x, int y) {
  mouse_x_ = x;
  mouse_y_ = y;
  hovered_ = FindProfilePoint(layout_, x, y, kHoverSlop);
  if (hovered_ >= 0) {
    tip_.UpdateTipText(TipText(hovered_));
    tip_.ShowAt(x, y);
  } else {
    tip_.Hide();
  }
  Invalidate();
}

void CProfileChart::OnDoubleClick() {
  if (hovered_ < 0 || hovered_ >= static_cast<int>(points_.size())) return;
  IChildView* view = view_;
  if (!view) {
    CKovraHomeExApp* app = GetApp();
    view = app ? app->GetCurrentView() : nullptr;
  }
  if (!view) return;
  double lng = 0, lat = 0, level = 0;
  view->GetCamera(&lng, &lat, &level);
  const ShapePoint& p = points_[hovered_];
  view->SetCamera(p.lng, p.lat, level, false);
}

void CProfileChart::OnContextMenu(int screen_x, int screen_y) {
  CMenu menu;
  menu.CreatePopupMenu();
  // The summary needs a height; a line without any has nothing to report.
  menu.AppendMenu(MF_STRING | (layout_.has_height ? MF_ENABLED : MF_GRAYED), ID_HIKING_ANALYSIS, kHikingMenuText);
  const int chosen = menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, screen_x, screen_y, this);
  if (chosen == static_cast<int>(ID_HIKING_ANALYSIS)) OnHikingAnalysis();
}

bool CProfileChart::OnHikingAnalysis() {
  if (points_.empty()) return false;
  std::string path;
  const HikingFileStatus status = WriteHikingSummary(AppOptions().data_dir + "walk/", name_, points_, heights_, &path);
  if (status == HikingFileStatus::kNoHeight) return false;
  if (status == HikingFileStatus::kCannotCreate) {
    MessageBox(kCannotCreateFile, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  GetUiHost().OpenDocument(path);
  return true;
}

LRESULT CProfileChart::WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  const int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
  switch (msg) {
    case WM_SIZE:
      width_ = static_cast<int>(LOWORD(static_cast<WPARAM>(lparam)));
      height_ = static_cast<int>(HIWORD(static_cast<WPARAM>(lparam)));
      DrawAxes();
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(x, y);
      return 0;
    case WM_LBUTTONDBLCLK:
      OnMouseMove(x, y);
      OnDoubleClick();
      return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(x, y);
      return 0;
    default:
      break;
  }
  return CStatic::WindowProc(msg, wparam, lparam);
}

}  // namespace velmora
