// The elevation preview: sampling, the picture and the lines.
#include "terrain/ui/elev_profile_ctrl.h"

#include "terrain/elevation_store.h"
#include "terrain/height_to_color.h"
#include "terrain/ui/elevation_sampling_ui.h"

namespace velmora {

CElevProfileCtrl::CElevProfileCtrl() = default;

CElevProfileCtrl::~CElevProfileCtrl() { DestroyWindow(); }

bool CElevProfileCtrl::SampleProfile(float left, float top, float right, float bottom, int columns, int rows) {
  ElevationGrid plan;
  if (!PlanElevationGrid(left, top, right, bottom, columns, rows, &plan)) return false;
  CElevationStore& store = store_ ? *store_ : ElevationStore();
  const int resolution = CurrentMapResolution();
  ElevationGrid sampled;
  const bool done = RunElevationSampling("等高线", this, [&](const SampleControl& control) {
    return SampleElevationGrid(store, left, top, right, bottom, columns, rows, resolution, &sampled, control);
  });
  if (!done) return false;
  if (!FillContourGrid(sampled, grid_)) return false;
  samples_ = std::move(sampled);
  lines_.clear();
  selected_ = -1;
  RenderImage();
  Invalidate();
  return true;
}

void CElevProfileCtrl::RenderImage() {
  if (!image_.Create(samples_.columns, samples_.rows, kBackColor)) {
    image_.Reset();
    return;
  }
  for (int r = 0; r < samples_.rows; ++r) {
    for (int c = 0; c < samples_.columns; ++c) {
      const RgbColor color = HeightToColor(samples_.heights[r][c]);
      image_.SetPixel(c, r, MakeArgb(0xFF, color.r, color.g, color.b));
    }
  }
}

void CElevProfileCtrl::UpdateLines() {
  lines_.clear();
  for (const auto& line : grid_.Lines()) lines_.push_back(line->points);
  selected_ = -1;
  Invalidate();
}

std::vector<ShapePoint> CElevProfileCtrl::LineToLngLat(const ContourLine& line) const {
  std::vector<ShapePoint> out;
  out.reserve(line.points.size());
  for (const ContourPoint& p : line.points) out.push_back(GridToLngLat(p.x, p.y));
  return out;
}

void CElevProfileCtrl::SetSelectedLine(int index) {
  if (index < -1 || index >= static_cast<int>(lines_.size())) index = -1;
  if (selected_ == index) return;
  selected_ = index;
  Invalidate();
}

GfxPoint CElevProfileCtrl::GridToScreen(const ContourPoint& p, int width, int height) const {
  if (samples_.columns <= 0 || samples_.rows <= 0) return GfxPoint{};
  return GfxPoint{(p.x + 0.5f) * static_cast<float>(width) / static_cast<float>(samples_.columns),
                  (p.y + 0.5f) * static_cast<float>(height) / static_cast<float>(samples_.rows)};
}

bool CElevProfileCtrl::OnPaint(CBitmap& canvas) {
  CGraphics g(canvas);
  if (!g.IsValid()) return true;
  g.Clear(kBackColor);
  const int w = canvas.Width(), h = canvas.Height();
  if (!image_.IsEmpty()) {
    g.SetInterpolation(Interpolation::kNearest);
    g.DrawImage(image_, GfxRect{0, 0, static_cast<float>(w), static_cast<float>(h)});
  }
  g.SetAntialias(false);
  std::vector<GfxPoint> screen;
  auto draw = [&](size_t k, Argb color) {
    screen.clear();
    for (const ContourPoint& p : lines_[k]) screen.push_back(GridToScreen(p, w, h));
    if (screen.size() >= 2) g.DrawLines(Pen{color, 1.0f, LineDash::kSolid}, screen.data(), screen.size());
  };
  for (size_t k = 0; k < lines_.size(); ++k)
    if (static_cast<int>(k) != selected_) draw(k, kLineColor);
  if (selected_ >= 0) draw(static_cast<size_t>(selected_), kSelectedColor);  // on top of the others
  return true;
}

}  // namespace velmora
