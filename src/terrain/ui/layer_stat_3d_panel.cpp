// The 3D layer statistics panel.
#include "terrain/ui/layer_stat_3d_panel.h"

#include "core/settings.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "terrain/d3d_context.h"
#include "terrain/tile_coverage.h"

namespace velmora {

CLayerStat3DPanel::CLayerStat3DPanel() : mode_3d_(ProgramSettings().GetInt(kLayerStat3DKey, 0)) {}

CLayerStat3DPanel::~CLayerStat3DPanel() { DestroyWindow(); }

void CLayerStat3DPanel::PreSubclassWindow() {
  CTileStatStatic::PreSubclassWindow();
  globe_.Create(72, 36);
  const D3DXVECTOR3 centre = globe_.Centre();
  const float c[3] = {centre.x, centre.y, centre.z}, angles[2] = {0, 0};
  arcball_.Init(c, globe_.BoundingSize(), angles);
}

void CLayerStat3DPanel::DrawCoverage(const std::vector<TileKey>& keys, int kind) {
  keys_ = keys;
  kind_ = kind;
  Compose();
  Invalidate();
}

bool CLayerStat3DPanel::Compose() {
  coverage_.reset();
  auto picture = std::make_unique<CBitmap>();
  if (!LoadImageFile(AppOptions().program_dir + "images/world.jpg", picture.get())) return false;
  DrawTileCoverage(*picture, keys_, kind_, static_cast<int>(Viewport().Width));
  coverage_ = std::move(picture);
  if (Is3D()) globe_.SetPicture(*coverage_);
  return true;
}

bool CLayerStat3DPanel::OnPaint(CBitmap& canvas) {
  if (canvas.IsEmpty()) return false;
  if (uint32_t(canvas.Width()) != Viewport().Width || uint32_t(canvas.Height()) != Viewport().Height) {
    Resize(uint32_t(canvas.Width()), uint32_t(canvas.Height()));
    if (coverage_) Compose();
  }
  if (Is3D()) return PaintScene(canvas);
  if (!coverage_) return false;
  CGraphics g(canvas);
  g.DrawImage(*coverage_, GfxRect{0, 0, float(canvas.Width()), float(canvas.Height())});
  return true;
}

void CLayerStat3DPanel::DrawScene() {
  IDirect3DDevice9* d = g_pD3DDevice;
  if (!d) return;
  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  d->SetRenderState(D3DRS_LIGHTING, 0);
  globe_.Draw();
}

void CLayerStat3DPanel::OnMouseMove(UINT flags, int x, int y) {
  if (Is3D()) CTileStatStatic::OnMouseMove(flags, x, y);
}

}  // namespace velmora
