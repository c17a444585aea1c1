// The arcball camera.
#include "terrain/arc_ball.h"

#include <cmath>

#include "tiles/map_view_state.h"

namespace velmora {
namespace {
constexpr float kDegree = 3.14159265358979323846f / 180.0f;
}

CArcBall::CArcBall() {
  D3DXMatrixIdentity(&rotation_);
  D3DXMatrixIdentity(&scratch_);
}

void CArcBall::Init(const float* centre3, float radius, const float* angles2) {
  Reset();
  D3DXMatrixIdentity(&rotation_);
  centre_[0] = centre3[0];
  centre_[1] = centre3[1];
  centre_[2] = centre3[2];
  radius_ = radius * 1.05f;
  D3DXMatrixRotationY(&rotation_, (angles2[0] + 90.0f) * kDegree);
  const IMapViewState* map = CurrentMapView();
  const double zoom = map ? map->GetCamera().zoom : 0.0;
  const float pitch = zoom >= 6.0 ? 45.0f - angles2[1] : -angles2[1];
  D3DXMatrixRotationX(&scratch_, pitch * kDegree);
  D3DXMatrixMultiply(&rotation_, &rotation_, &scratch_);
}

void CArcBall::Reset() {
  D3DXQuaternionIdentity(&quat_);
  D3DXQuaternionIdentity(&start_quat_);
  start_ = D3DXVECTOR3(0, 0, 0);
  current_ = D3DXVECTOR3(0, 0, 0);
}

void CArcBall::SetWindowSize(int width, int height) {
  width_ = width;
  height_ = height;
}

D3DXVECTOR3 CArcBall::ScreenToSphere(int x, int y) const {
  if (width_ <= 0 || height_ <= 0) return D3DXVECTOR3(0, 0, 1);
  const float sx = float(width_ / 2 - x) / (float(width_) * 0.5f);
  const float sy = float(y - height_ / 2) / (float(height_) * 0.5f);
  const float d = sx * sx + sy * sy;
  if (d <= 1.0f) return D3DXVECTOR3(sx, sy, std::sqrt(1.0f - d));
  const float len = std::sqrt(d);
  return D3DXVECTOR3(sx / len, sy / len, 0.0f);
}

D3DXQUATERNION CArcBall::QuatFromVectors(const float* a, const float* b) {
  return D3DXQUATERNION{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0],
                        a[0] * b[0] + a[1] * b[1] + a[2] * b[2]};
}

void CArcBall::BeginDrag(int x, int y) {
  start_quat_ = quat_;
  start_ = current_ = ScreenToSphere(x, y);
}

void CArcBall::Drag(int x, int y) {
  current_ = ScreenToSphere(x, y);
  const D3DXQUATERNION q = QuatFromVectors(&start_.x, &current_.x);
  D3DXQuaternionMultiply(&quat_, &start_quat_, &q);
  D3DXMatrixRotationQuaternion(&scratch_, &quat_);
  D3DXMatrixMultiply(&rotation_, &rotation_, &scratch_);
  Reset();
  BeginDrag(x, y);
}

void CArcBall::Zoom(bool outward) { radius_ *= outward ? 1.1f : 0.9f; }

void CArcBall::Pan(float dx, float dy) {
  centre_[0] += dx * radius_;
  centre_[1] += dy * radius_;
}

void CArcBall::GetViewMatrix(D3DXMATRIX* out) {
  D3DXMatrixTranslation(out, -centre_[0], -centre_[1], -centre_[2]);
  D3DXMatrixMultiply(out, out, &rotation_);
  D3DXMatrixTranslation(&scratch_, 0, 0, radius_);
  D3DXMatrixMultiply(out, out, &scratch_);
}

}  // namespace velmora
