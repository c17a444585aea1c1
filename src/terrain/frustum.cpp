// The view frustum's planes and the cube test.
#include "terrain/frustum.h"

#include <cmath>

#include "terrain/d3d_context.h"

namespace velmora {

void CFrustum::Build(const D3DXMATRIX* projection, const D3DXMATRIX* view) {
  D3DXMATRIX p, v;
  if (!projection || !view) {
    if (!g_pD3DDevice) return;
    g_pD3DDevice->GetTransform(D3DTS_PROJECTION, &p);
    g_pD3DDevice->GetTransform(D3DTS_VIEW, &v);
  }
  if (projection) p = *projection;
  if (view) v = *view;
  const D3DXMATRIX m = v * p;
  for (int i = 0; i < 4; ++i) {
    const float c1 = m(i, 0), c2 = m(i, 1), c3 = m(i, 2), c4 = m(i, 3);
    planes_[kRight][i] = c4 - c1;
    planes_[kLeft][i] = c4 + c1;
    planes_[kBottom][i] = c4 + c2;
    planes_[kTop][i] = c4 - c2;
    planes_[kFar][i] = c4 - c3;
    planes_[kNear][i] = c4 + c3;
  }
  for (auto& plane : planes_) {
    const float len = std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]);
    if (len > 0)
      for (float& c : plane) c /= len;
  }
}

bool CFrustum::CubeInFrustum(float x, float y, float z, float s) const {
  for (const auto& p : planes_) {
    bool any_inside = false;
    for (int corner = 0; corner < 8 && !any_inside; ++corner) {
      const float cx = x + ((corner & 1) ? s : -s);
      const float cy = y + ((corner & 2) ? s : -s);
      const float cz = z + ((corner & 4) ? s : -s);
      any_inside = p[0] * cx + p[1] * cy + p[2] * cz + p[3] > 0;
    }
    if (!any_inside) return false;
  }
  return true;
}

}  // namespace velmora
