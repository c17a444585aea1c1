// CPolygonShape (type 40022): a closed ring with an outline and an optional fill;
// CRegionShape (40025): the free-selection region "任选区域" a person draws click by click,
// which keeps the window pixels of its ring beside its longitude/latitude points.
#pragma once
#include <string>
#include <vector>

#include "platform/gfx/graphics.h"
#include "shapes/map_shape.h"

namespace velmora {

class CPolygonShape : public CMapShape {
 public:
  CPolygonShape();

  void Draw(CGraphics& g, const CMapProjector& p) const override;
  // Inside the ring (even-odd rule) when filled, else near its outline.
  bool HitTest(const CMapProjector& p, double x, double y, double tolerance = kHitTolerance) const override;
  // One Placemark with a line and a polygon style and the outer boundary ring (closed).
  bool ExportKml(FILE* file) const override;

 protected:
  explicit CPolygonShape(int type);
};

class CRegionShape : public CPolygonShape {
 public:
  static constexpr const char* kDefaultName = "任选区域";

  CRegionShape();

  // Appends a window pixel to the ring being drawn. The caller appends the matching
  // longitude/latitude with AddPoint.
  void AddPixelPoint(float x, float y);
  const std::vector<GfxPoint>& PixelPoints() const { return pixels_; }
  // Closes the ring: the first pixel and the first point are appended when they differ from the
  // last ones. Returns the points.
  const std::vector<ShapePoint>& ClosePixelRing();
  bool IsClosed() const { return closed_; }

  // While the ring is open: the pixels drawn so far as a line (the view's rubber line).
  void DrawPixelRing(CGraphics& g) const;

 private:
  std::vector<GfxPoint> pixels_;
  bool closed_ = false;
};

}  // namespace velmora
