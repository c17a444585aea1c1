// CMapProjector: where a longitude/latitude lands in a map window and back, for one camera
// (projection kind, fractional zoom, centre, window size). Shapes draw and hit-test through it;
// the tile engine builds it from its camera. Positions are doubles all the way: at zoom 22.9 the
// world is two billion pixels wide, far beyond what a float or cairo's fixed point can hold, so
// callers clip in doubles before anything reaches the graphics layer.
#pragma once
#include <cstddef>
#include <vector>

#include "core/geodesy.h"

namespace velmora {

// A shape's point: single-float longitude and latitude, as shapes store them.
struct ShapePoint {
  float lng = 0;
  float lat = 0;
  bool operator==(const ShapePoint&) const = default;
};

// A longitude/latitude box (west <= east, south <= north); empty when west > east.
struct GeoBox {
  double west = 1, south = 1, east = -1, north = -1;
  bool Empty() const { return west > east || south > north; }
  void Add(double lng, double lat);
};

class CMapProjector {
 public:
  CMapProjector() = default;
  // The camera: kind, zoom, centre and window size. The centre's longitude is wrapped and its
  // latitude clamped to the kind's world, NaN becomes 0; the zoom is taken as given (the engine
  // clamps it). `shift_x`/`shift_y` move every screen position by that many pixels (the map
  // picture is drawn on whole pixels; shapes follow it).
  CMapProjector(int kind, double zoom, double lng, double lat, int width, int height,
                double shift_x = 0, double shift_y = 0);

  int Kind() const { return kind_; }
  double Zoom() const { return zoom_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  double WorldWidth() const { return world_w_; }
  double WorldHeight() const { return world_h_; }
  // The centre in world pixels at the zoom (x in [0, world width)).
  double CentreX() const { return cx_; }
  double CentreY() const { return cy_; }

  // Normalised world position of a point: u = (lng + 180) / 360, unwrapped (so that a line
  // crossing the antimeridian stays continuous), v = world y / world width (0..1 for the
  // Mercator kinds, 0..0.5 for kind 5). Independent of the zoom and the centre.
  void Normalise(double lng, double lat, double* u, double* v) const;
  // Screen position of a normalised point, taking the world copy `copy` (a whole number of
  // worlds east, so that shapes near the antimeridian are drawn next to the centre).
  double ScreenX(double u, double copy) const { return (u + copy) * world_w_ - cx_ + width_ * 0.5 + shift_x_; }
  double ScreenY(double v) const { return v * world_w_ - cy_ + height_ * 0.5 + shift_y_; }
  // The world copy that puts normalised x `u` nearest to the window's centre.
  double NearestCopy(double u) const;

  // Screen position of a point, on the world copy nearest to the centre.
  PixelPoint ToScreen(double lng, double lat) const;
  // Longitude (wrapped into [-180, 180)) and latitude (clamped to the world) under a pixel.
  LngLat ToLngLat(double x, double y) const;
  // Metres per screen pixel along the parallel through the centre.
  double MetresPerPixel() const;

 private:
  int kind_ = 1;
  double zoom_ = 10;
  int width_ = 0, height_ = 0;
  double world_w_ = 0, world_h_ = 0;
  double cx_ = 0, cy_ = 0;
  double centre_lat_ = 0;
  double shift_x_ = 0, shift_y_ = 0;
  const KindTransforms* t_ = nullptr;
};

// Clipping in doubles, before coordinates reach cairo (whose fixed point overflows near eight
// million pixels). A rectangle [x0, x1] x [y0, y1].
struct ClipRect {
  double x0, y0, x1, y1;
};
struct ScreenPoint {
  double x, y;
};
// Clips the segment to the rectangle (Liang-Barsky); false when nothing of it is inside.
bool ClipSegment(const ClipRect& r, ScreenPoint* a, ScreenPoint* b);
// Clips a closed ring to the rectangle (Sutherland-Hodgman); the result may be empty.
std::vector<ScreenPoint> ClipRing(const ClipRect& r, const std::vector<ScreenPoint>& ring);

}  // namespace velmora
