// C3DSatellite: one satellite in a 3D scene: its orbit track (360 points over one period, a third
// of it behind the present), its icon drawn as a point sprite at its position, and an optional
// model placed there. The 3D globe view moves it on every pass of its orbit thread; positions are
// kilometres in the earth-centred frame of LngLatToXYZ (CSatOrbit::GetXYZ).
#pragma once
#include <cstdint>
#include <memory>

#include "platform/r3d/device.h"
#include "terrain/3d_line.h"
#include "terrain/3d_model.h"
#include "terrain/3d_object.h"
#include "terrain/sat_orbit.h"

namespace velmora {

inline constexpr int kSatelliteTrackPoints = 360;
// The icon's point size: a sixteenth of the earth's diameter, in kilometres.
inline constexpr float kSatelliteIconSize = 797.2671508789062f;

class C3DSatellite : public C3DObject {
 public:
  explicit C3DSatellite(const SatElements& elements);
  // Releases the buffers, the icon and the model.
  ~C3DSatellite() override;
  C3DSatellite(const C3DSatellite&) = delete;
  C3DSatellite& operator=(const C3DSatellite&) = delete;

  // The track for the present moment (UpdatePosition(JulianDateNow())).
  void UpdatePosition();
  // The track around the Julian date `jd`: 360 points one 360th of a period apart, starting 120
  // steps before `jd`, in the elements' track colour; the icon is read again from the elements'
  // icon path. False when the elements give no period (mean motion not positive) or no position:
  // the track is then left as it was.
  bool UpdatePosition(double jd);
  // Places the satellite: the model matrix becomes a translation to (x, y, z), and the icon's
  // point moves there.
  void SetPosition(float x, float y, float z);

  // Lighting off, the object's world matrix; the track as a line strip; the icon as a point
  // sprite of 797.27 km (alpha-tested at 0x80); the model at the model matrix when there is one.
  void Draw() override;

  const SatElements& Elements() const { return elements_; }
  void SetElements(const SatElements& elements) { elements_ = elements; }
  // The model (the satellite owns it; null for none).
  void SetModel(std::unique_ptr<C3DModel> model) { model_ = std::move(model); }
  C3DModel* Model() const { return model_.get(); }
  const D3DXMATRIX& ModelMatrix() const { return model_matrix_; }
  IDirect3DVertexBuffer9* TrackBuffer() const { return track_; }
  IDirect3DVertexBuffer9* PositionBuffer() const { return position_; }
  IDirect3DTexture9* Icon() const { return icon_; }
  D3DXVECTOR3 Position() const { return D3DXVECTOR3(pos_[0], pos_[1], pos_[2]); }
  bool HasTrack() const { return has_track_; }

 private:
  bool EnsureBuffers();

  SatElements elements_;
  IDirect3DVertexBuffer9* track_ = nullptr;
  std::unique_ptr<C3DModel> model_;
  D3DXMATRIX model_matrix_;
  IDirect3DTexture9* icon_ = nullptr;
  IDirect3DVertexBuffer9* position_ = nullptr;
  float pos_[3] = {0, 0, 0};
  bool has_track_ = false;
};

}  // namespace velmora
