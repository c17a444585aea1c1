// Satellites in a 3D scene: track, icon sprite and model.
#include "terrain/3d_satellite.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "platform/r3d/d3dx_texture.h"
#include "terrain/d3d_context.h"

namespace velmora {
namespace {

constexpr double kTwoPi = 6.283185307179586;
uint32_t FloatState(float v) { return std::bit_cast<uint32_t>(v); }

}  // namespace

C3DSatellite::C3DSatellite(const SatElements& elements) : elements_(elements) {
  D3DXMatrixIdentity(&model_matrix_);
  SetName(elements.name);
}

C3DSatellite::~C3DSatellite() {
  if (track_) track_->Release();
  if (position_) position_->Release();
  if (icon_) icon_->Release();
}

bool C3DSatellite::EnsureBuffers() {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device) return false;
  if (!track_ && FAILED(device->CreateVertexBuffer(kSatelliteTrackPoints * sizeof(LineVertex), 0, kLineFvf,
                                                   D3DPOOL_MANAGED, &track_)))
    track_ = nullptr;
  if (!position_ && FAILED(device->CreateVertexBuffer(12, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &position_)))
    position_ = nullptr;
  return track_ && position_;
}

void C3DSatellite::UpdatePosition() { UpdatePosition(JulianDateNow()); }

bool C3DSatellite::UpdatePosition(double jd) {
  if (!EnsureBuffers()) return false;
  const double n = elements_.mean_motion;  // radians per minute
  if (!(n > 0) || !std::isfinite(n) || !std::isfinite(jd)) return false;
  CSatOrbit orbit(elements_);
  const double step = kTwoPi / n / 1440.0 / kSatelliteTrackPoints;  // days
  double t = jd - 120 * step;
  LineVertex track[kSatelliteTrackPoints];
  bool any = false;
  for (int i = 0; i < kSatelliteTrackPoints; ++i, t += step) {
    // A date the model gives no position for repeats the last point.
    if (orbit.ComputeAt(t)) any = true;
    if (!any) return false;
    orbit.GetXYZ(&track[i].x, &track[i].y, &track[i].z);
    track[i].color = elements_.color;
  }
  void* data = nullptr;
  if (FAILED(track_->Lock(0, 0, &data, 0))) return false;
  std::memcpy(data, track, sizeof track);
  track_->Unlock();
  has_track_ = true;

  if (icon_) icon_->Release();
  icon_ = nullptr;
  if (!elements_.icon_path.empty() &&
      FAILED(D3DXCreateTextureFromFileA(g_pD3DDevice, elements_.icon_path.c_str(), &icon_)))
    icon_ = nullptr;
  return true;
}

void C3DSatellite::SetPosition(float x, float y, float z) {
  D3DXMatrixTranslation(&model_matrix_, x, y, z);
  pos_[0] = x, pos_[1] = y, pos_[2] = z;
  if (!EnsureBuffers()) return;
  void* data = nullptr;
  if (FAILED(position_->Lock(0, 0, &data, 0))) return;
  std::memcpy(data, pos_, 12);
  position_->Unlock();
}

void C3DSatellite::Draw() {
  IDirect3DDevice9* d = g_pD3DDevice;
  if (!d) return;
  d->SetRenderState(D3DRS_LIGHTING, 0);
  d->SetTransform(D3DTS_WORLD, &world_);
  if (track_ && has_track_) {
    d->SetStreamSource(0, track_, 0, sizeof(LineVertex));
    d->SetFVF(kLineFvf);
    d->SetTexture(0, nullptr);
    d->DrawPrimitive(D3DPT_LINESTRIP, 0, kSatelliteTrackPoints - 1);
  }
  if (position_) {
    uint32_t size = 0, size_min = 0;
    d->GetRenderState(D3DRS_POINTSIZE, &size);
    d->GetRenderState(D3DRS_POINTSIZE_MIN, &size_min);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    d->SetRenderState(D3DRS_ALPHAREF, 0x80);
    if (icon_) {
      d->SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
      d->SetRenderState(D3DRS_POINTSCALEENABLE, 1);
      d->SetRenderState(D3DRS_POINTSIZE, FloatState(kSatelliteIconSize));
      d->SetRenderState(D3DRS_POINTSIZE_MIN, FloatState(1.0f));
      d->SetRenderState(D3DRS_POINTSCALE_A, FloatState(0.0f));
      d->SetRenderState(D3DRS_POINTSCALE_B, FloatState(0.0f));
      d->SetRenderState(D3DRS_POINTSCALE_C, FloatState(1.0f));
    } else {
      // Without its icon the satellite is a plain point of a few pixels.
      d->SetRenderState(D3DRS_POINTSIZE, FloatState(6.0f));
    }
    d->SetTexture(0, icon_);
    d->SetStreamSource(0, position_, 0, 12);
    d->SetFVF(D3DFVF_XYZ);
    d->DrawPrimitive(D3DPT_POINTLIST, 0, 1);
    d->SetRenderState(D3DRS_POINTSPRITEENABLE, 0);
    d->SetRenderState(D3DRS_POINTSCALEENABLE, 0);
    d->SetRenderState(D3DRS_POINTSIZE, size);
    d->SetRenderState(D3DRS_POINTSIZE_MIN, size_min);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
    d->SetTexture(0, nullptr);
  }
  if (model_) model_->DrawWith(model_matrix_);
}

}  // namespace velmora
