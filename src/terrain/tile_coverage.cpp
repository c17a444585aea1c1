// The tile coverage picture.
#include "terrain/tile_coverage.h"

#include <algorithm>
#include <cmath>

#include "core/geodesy.h"

namespace velmora {
namespace {

// Pixels whose centres lie in [from, from + size), clipped to [0, limit).
void Span(double from, double size, int limit, int* first, int* end) {
  *first = std::clamp(static_cast<int>(std::ceil(from - 0.5)), 0, limit);
  *end = std::clamp(static_cast<int>(std::ceil(from + size - 0.5)), *first, limit);
}

}  // namespace

Argb CoverageColor(const std::vector<TileKey>& keys) {
  return !keys.empty() && TileKeyZoom(keys.front()) > 9 ? kCoverageOpaque : kCoverageHalf;
}

void DrawTileCoverage(CBitmap& world, const std::vector<TileKey>& keys, int kind, int viewport_width) {
  if (world.IsEmpty() || keys.empty()) return;
  const int width = world.Width(), height = world.Height();
  const double k = width / 360.0;
  // Three screen pixels of a 1024-pixel picture shown viewport_width pixels wide, in the
  // picture's own pixels.
  const double shown = viewport_width > 0 ? viewport_width : width;
  const double m = 3.0 * 1024.0 / shown * (width / 1024.0);
  const Argb color = CoverageColor(keys);
  const uint32_t alpha = color >> 24, keep = 255 - alpha;
  const uint32_t cr = (color >> 16) & 0xFF, cg = (color >> 8) & 0xFF, cb = color & 0xFF;
  const KindTransforms& t = TransformsOfKind(kind);
  for (TileKey key : keys) {
    const TileKeyParts p = SplitTileKey(key);
    const double z = p.zoom;
    const double tiles = std::ldexp(1.0, p.zoom);
    // Longitude is linear in x for every kind; taken directly so that the last column does not
    // wrap to -180.
    const double lon0 = p.x * 360.0 / tiles - 180.0, lon1 = (p.x + 1) * 360.0 / tiles - 180.0;
    const double lat0 = t.y_to_lat(256.0 * p.y, z), lat1 = t.y_to_lat(256.0 * (p.y + 1), z);
    const double left = (lon0 + 180.0) * k, top = (90.0 - lat0) * k;
    const double w = std::max((lon1 + 180.0) * k - left, m), h = std::max((90.0 - lat1) * k - top, m);
    int x0, x1, y0, y1;
    Span(left, w, width, &x0, &x1);
    Span(top, h, height, &y0, &y1);
    for (int y = y0; y < y1; ++y) {
      Argb* row = world.Row(y);
      for (int x = x0; x < x1; ++x) {
        if (alpha == 255) {
          row[x] = color;
          continue;
        }
        const Argb d = row[x];
        const uint32_t da = d >> 24, dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF;
        const uint32_t a = alpha + (da * keep + 127) / 255;
        const uint32_t r = (cr * alpha + dr * keep + 127) / 255, g = (cg * alpha + dg * keep + 127) / 255,
                       b = (cb * alpha + db * keep + 127) / 255;
        row[x] = (a << 24) | (r << 16) | (g << 8) | b;
      }
    }
  }
}

}  // namespace velmora
