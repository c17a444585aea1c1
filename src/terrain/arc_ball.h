// CArcBall: the orbiting camera of the 3D windows that look at an object from outside. A mouse
// drag turns the view about a centre on a virtual sphere, the wheel moves the camera nearer or
// farther and the arrow keys move the centre. The view matrix is
// T(-centre) · rotation · T(0, 0, radius).
#pragma once
#include "platform/r3d/d3dx_math.h"

namespace velmora {

class CArcBall {
 public:
  // Rotation identity, centre at the origin, radius 1, no drag, window 0 x 0.
  CArcBall();
  virtual ~CArcBall() = default;

  // Places the camera: centre, radius × 1.05, and the rotation RotationY(yaw + 90°) ·
  // RotationX(pitch'), where pitch' is 45 - pitch when the 2D map view's zoom is 6 or more and
  // -pitch otherwise (also when there is no map view). Angles in degrees: angles[0] yaw,
  // angles[1] pitch.
  void Init(const float* centre3, float radius, const float* angles2);
  // Both quaternions identity, both sphere points (0, 0, 0).
  void Reset();
  void SetWindowSize(int width, int height);
  // The window point (y downwards) on the unit sphere; points outside the sphere's disc land on
  // its rim (z 0). A window of no size gives the sphere's front point (0, 0, 1).
  D3DXVECTOR3 ScreenToSphere(int x, int y) const;
  // (a × b, a · b): the rotation from a to b as an unnormalised quaternion.
  static D3DXQUATERNION QuatFromVectors(const float* from3, const float* to3);
  void BeginDrag(int x, int y);
  // Folds the turn from the drag's start to (x, y) into the rotation and starts again there.
  void Drag(int x, int y);
  // Radius × 1.1 outward, × 0.9 inward; no bound.
  void Zoom(bool outward);
  // Centre x += dx × radius, centre y += dy × radius.
  void Pan(float dx, float dy);
  void GetViewMatrix(D3DXMATRIX* out);

  const D3DXMATRIX& Rotation() const { return rotation_; }
  D3DXVECTOR3 Centre() const { return D3DXVECTOR3(centre_[0], centre_[1], centre_[2]); }
  float Radius() const { return radius_; }
  const D3DXQUATERNION& Quaternion() const { return quat_; }
  const D3DXVECTOR3& DragStart() const { return start_; }

 private:
  D3DXMATRIX rotation_;
  float centre_[3] = {0, 0, 0};
  float radius_ = 1.0f;
  D3DXMATRIX scratch_;
  D3DXVECTOR3 start_{0, 0, 0};
  D3DXVECTOR3 current_{0, 0, 0};
  int width_ = 0;
  int height_ = 0;
  D3DXQUATERNION quat_{0, 0, 0, 1};
  D3DXQUATERNION start_quat_{0, 0, 0, 1};
};

}  // namespace velmora
