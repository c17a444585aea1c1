// CMapShape: the base of the map objects drawn over the 2D map (polylines, polygons, regions,
// texts, marks), their type codes and the factory that makes a shape from its code.
//
// A shape keeps its points as single-float longitude/latitude pairs, a name, colours, a line
// width and the zoom range in which it is shown. It draws itself with cairo through a
// CMapProjector, answers hit tests in window pixels, exports itself as KML and stores itself as
// a byte record (the drawn-item database's "data" column). Points are checked on the way in: a
// NaN, an infinity or a latitude beyond the poles is refused, so stored shapes stay drawable.
//
// Shapes are not thread-safe: the view draws and edits them on the user-interface thread and
// other threads reach them only through the view's lock (CObjectLayer).
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/archive.h"
#include "core/text_style.h"
#include "platform/gfx/bitmap.h"
#include "shapes/map_projector.h"

namespace velmora {

class CGraphics;

// Type codes of the shape family.
enum ShapeType : int {
  kShapeEllipse = 40020,
  kShapePolyline = 40021,
  kShapePolygon = 40022,
  kShapeRectangle = 40023,
  kShapeLabelPolyline = 40024,
  kShapeRegion = 40025,
  kShapeText = 40026,
  kShapeSound = 40027,  // "声音": the sound object's record type is 40027
  kShapePicture = 40028,
  kShapeFlowLine = 40029,
  kShapeMark = 40030,
  kShapeArrow = 40031,
  kShapeReserved = 40032,
};
inline constexpr int kFirstShapeType = kShapeEllipse;
inline constexpr int kLastShapeType = kShapeReserved;
// GetShapesByType's "every type".
inline constexpr int kAllShapeTypes = -1;

class CMapShape {
 public:
  // Points beyond this count are refused (a polyline of 16 million points takes 128 MiB).
  static constexpr size_t kMaxPoints = size_t(1) << 24;
  // Pixels within which a click hits a line.
  static constexpr float kHitTolerance = 4.0f;

  virtual ~CMapShape() = default;
  CMapShape(const CMapShape&) = delete;
  CMapShape& operator=(const CMapShape&) = delete;

  int GetType() const { return type_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // ---- points ----
  // Appends a point; false (nothing changes) for a non-finite value, a latitude outside
  // [-90, 90], a longitude outside [-540, 540] (lines may run on past the antimeridian) or a
  // shape that is full. A mark's AddPoint sets its one position instead.
  virtual bool AddPoint(float lng, float lat);
  bool AddPoint(const ShapePoint& p) { return AddPoint(p.lng, p.lat); }
  // Replaces the points with the valid ones of `points`; returns how many were refused.
  size_t SetPoints(const std::vector<ShapePoint>& points);
  const std::vector<ShapePoint>& Points() const { return points_; }
  // Appends the points to `out` as longitude/latitude pairs.
  void GetPoints(std::vector<ShapePoint>& out) const;
  size_t PointCount() const { return points_.size(); }
  void ClearPoints();
  // The box around the points (empty for a shape without points).
  GeoBox Bounds() const;

  // ---- looks ----
  Argb line_color = 0xFFFF0000u;   // straight ARGB
  float line_width = 2.0f;
  Argb fill_color = 0x40FF0000u;
  bool filled = false;
  // Shown while the view's zoom lies in [min_zoom, max_zoom].
  float min_zoom = 0.0f;
  float max_zoom = 30.0f;
  bool visible = true;
  // Editable with the mouse tools; generated shapes (contour lines) clear it.
  bool editable = true;
  // Row of the drawn-item database that holds the shape, 0 when it is not stored.
  int64_t db_id = 0;

  bool IsShownAtZoom(double zoom) const { return visible && zoom >= min_zoom && zoom <= max_zoom; }

  // ---- drawing and hit testing ----
  // Draws the shape (nothing when it is hidden at the projector's zoom or has too few points).
  virtual void Draw(CGraphics& g, const CMapProjector& p) const = 0;
  // True when the window pixel (x, y) touches the shape within `tolerance` pixels.
  virtual bool HitTest(const CMapProjector& p, double x, double y, double tolerance = kHitTolerance) const = 0;

  // ---- KML ----
  // Writes one Placemark to an open KML file; false when the shape has nothing to write or the
  // write failed.
  virtual bool ExportKml(FILE* file) const = 0;

  // ---- stored form ----
  // The shape as bytes (the drawn-item database's "data" column).
  std::vector<uint8_t> Store() const;
  // A new shape rebuilt from its stored bytes, or null (reason in *error) when the bytes are
  // damaged or name another type or one the program does not draw. Stored points that are not
  // valid (NaN, beyond the poles) are dropped and counted in *dropped_points.
  static std::unique_ptr<CMapShape> FromStored(int type, const std::vector<uint8_t>& bytes,
                                               std::string* error = nullptr,
                                               size_t* dropped_points = nullptr);

  // Increases whenever the points change (caches of projected points key on it).
  uint64_t Revision() const { return revision_; }

 protected:
  explicit CMapShape(int type) : type_(type) {}
  static bool IsValidPoint(float lng, float lat);
  void Touch() { ++revision_; }

  // The subclass's own fields after the common ones.
  virtual void StoreFields(ArchiveWriter& ar) const { (void)ar; }
  virtual void LoadFields(ArchiveReader& ar, int schema) { (void)ar, (void)schema; }

  // Normalised positions of the points for the projector's kind, computed once per kind and
  // revision (a million-point line is projected once, not on every repaint).
  const std::vector<double>& Normalised(const CMapProjector& p) const;
  // The world copies (whole worlds east or west) at which the shape shows in the window plus
  // `pad` pixels: one near the centre, more when the window is wider than the world.
  std::vector<double> Copies(const CMapProjector& p, double pad) const;

  // Screen runs of the points (split at gaps), clipped to the window plus `pad` pixels, with
  // points closer than half a pixel to the previous one dropped.
  std::vector<std::vector<ScreenPoint>> ScreenRuns(const CMapProjector& p, double copy, double pad) const;
  // The ring clipped to the window plus `pad`, for fills.
  std::vector<ScreenPoint> ScreenRing(const CMapProjector& p, double copy, double pad) const;

  std::vector<ShapePoint> points_;

 private:
  int type_;
  std::string name_;
  uint64_t revision_ = 1;
  mutable GeoBox bounds_;
  mutable uint64_t bounds_revision_ = 0;
  mutable std::vector<double> normalised_;
  mutable int normalised_kind_ = 0;
  mutable uint64_t normalised_revision_ = 0;
};

// A new empty shape of a type code; null for the codes the program does not draw.
std::unique_ptr<CMapShape> CreateShape(int type);

// The CFont of a text style (points at 96 dots per inch, its bold/italic/underline/halo flags).
class CFont;
CFont FontOfStyle(const CTextStyle& style);

// KML helpers shared by the shapes' exports: XML-escaped text, "aabbggrr" colours and
// "lng,lat,0" coordinates without the locale.
std::string KmlEscape(const std::string& text);
std::string KmlColor(Argb argb);
std::string KmlCoordinates(const std::vector<ShapePoint>& points, bool close_ring);

}  // namespace velmora
