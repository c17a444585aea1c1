// Map polylines as 3D line strips.
#include "terrain/3d_line.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/r3d/d3dx_mesh.h"
#include "shapes/polyline_shape.h"
#include "terrain/d3d_context.h"

namespace velmora {

PolylinePoints PolylinePointsOf(const CPolylineShape& shape) {
  PolylinePoints out;
  out.lnglat.reserve(shape.PointCount() * 2);
  for (const ShapePoint& p : shape.Points()) {
    out.lnglat.push_back(p.lng);
    out.lnglat.push_back(p.lat);
  }
  out.heights = shape.Values();
  out.color = shape.line_color;
  return out;
}

C3DLine::C3DLine(const PolylinePoints& line) {
  const IntPair factor = ProgramSettings().GetIntPair("REG_DEM_FACTOR", IntPair{1, 0});
  std::vector<LineVertex> vertices;
  vertices.reserve(line.PointCount());
  for (size_t i = 0; i < line.PointCount(); ++i) {
    const float lng = line.lnglat[2 * i], lat = line.lnglat[2 * i + 1];
    float h = i < line.heights.size() ? line.heights[i] : 0.0f;
    if (!std::isfinite(h)) h = 0.0f;
    if (!std::isfinite(lng) || !std::isfinite(lat)) continue;
    LineVertex v;
    LngLatToXYZ(lng, lat, static_cast<float>((double(factor.a) * h + factor.b) * 0.001), &v.x, &v.y, &v.z);
    v.color = line.color;
    vertices.push_back(v);
  }
  IDirect3DDevice9* device = g_pD3DDevice;
  if (vertices.empty() || !device || vertices.size() > kMaxMeshVertices) return;
  const uint32_t bytes = static_cast<uint32_t>(vertices.size() * sizeof(LineVertex));
  if (FAILED(device->CreateVertexBuffer(bytes, 0, kLineFvf, D3DPOOL_MANAGED, &buffer_))) {
    buffer_ = nullptr;
    return;
  }
  void* data = nullptr;
  if (FAILED(buffer_->Lock(0, 0, &data, 0))) {
    buffer_->Release();
    buffer_ = nullptr;
    return;
  }
  std::memcpy(data, vertices.data(), bytes);
  buffer_->Unlock();
  count_ = static_cast<uint32_t>(vertices.size());
  D3DXVECTOR3 lo(FLT_MAX, FLT_MAX, FLT_MAX), hi(-FLT_MAX, -FLT_MAX, -FLT_MAX);
  for (const LineVertex& v : vertices) {
    lo = D3DXVECTOR3(std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z));
    hi = D3DXVECTOR3(std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z));
  }
  SetBounds(lo, hi);
}

C3DLine::~C3DLine() {
  if (buffer_) buffer_->Release();
  buffer_ = nullptr;
}

void C3DLine::Draw() {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || !buffer_ || count_ < 2) return;
  device->SetRenderState(D3DRS_LIGHTING, 0);
  device->SetTransform(D3DTS_WORLD, &world_);
  device->SetStreamSource(0, buffer_, 0, sizeof(LineVertex));
  device->SetFVF(kLineFvf);
  device->SetTexture(0, nullptr);
  device->DrawPrimitive(D3DPT_LINESTRIP, 0, count_ - 1);
}

}  // namespace velmora
