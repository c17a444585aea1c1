// CPolylineShape (type 40021): an open line through its points, with a value per point (the
// level of a contour line, a height along a track); CLabelPolylineShape (40024): the same with
// a label drawn along it.
#pragma once
#include <string>
#include <vector>

#include "shapes/map_shape.h"

namespace velmora {

class CPolylineShape : public CMapShape {
 public:
  CPolylineShape() : CMapShape(kShapePolyline) {}

  // A contour line: its name, points and level; every point carries the level as its value,
  // the line is not editable with the mouse tools. Points that are not valid are dropped.
  void InitFromContour(const std::string& name, const std::vector<ShapePoint>& points, float level);
  float Level() const { return level_; }

  // One value per point (empty when the line has none).
  std::vector<float>& Values() { return values_; }
  const std::vector<float>& Values() const { return values_; }

  void Draw(CGraphics& g, const CMapProjector& p) const override;
  bool HitTest(const CMapProjector& p, double x, double y, double tolerance = kHitTolerance) const override;
  bool ExportKml(FILE* file) const override;

 protected:
  explicit CPolylineShape(int type) : CMapShape(type) {}
  void StoreFields(ArchiveWriter& ar) const override;
  void LoadFields(ArchiveReader& ar, int schema) override;
  // The line's runs on screen (every world copy in view), for the line and its label.
  std::vector<std::vector<ScreenPoint>> VisibleRuns(const CMapProjector& p) const;

 private:
  std::vector<float> values_;
  float level_ = 0;
};

class CLabelPolylineShape : public CPolylineShape {
 public:
  CLabelPolylineShape() : CPolylineShape(kShapeLabelPolyline) {}

  std::string label;     // drawn at the middle of the longest visible run; the name when empty
  CTextStyle label_style;

  void Draw(CGraphics& g, const CMapProjector& p) const override;

 protected:
  void StoreFields(ArchiveWriter& ar) const override;
  void LoadFields(ArchiveReader& ar, int schema) override;
};

}  // namespace velmora
