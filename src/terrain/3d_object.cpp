// Base of the 3D scene objects and the texture holder.
#include "terrain/3d_object.h"

namespace velmora {

C3DObject::C3DObject() { D3DXMatrixIdentity(&world_); }

void C3DObject::SetBounds(const D3DXVECTOR3& min, const D3DXVECTOR3& max) {
  centre_[0] = (min.x + max.x) / 2;
  centre_[1] = (min.y + max.y) / 2;
  centre_[2] = (min.z + max.z) / 2;
  const D3DXVECTOR3 diagonal = max - min;
  bounding_size_ = D3DXVec3Length(&diagonal);
}

C3DTexture::~C3DTexture() {
  if (texture_) texture_->Release();
  texture_ = nullptr;
}

}  // namespace velmora
