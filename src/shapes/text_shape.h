// CTextShape (type 40026): a text placed at one point, turned by a rotation, in a text colour
// with its text style (contour labels, the user's notes on the map).
#pragma once
#include <string>

#include "shapes/map_shape.h"

namespace velmora {

class CTextShape : public CMapShape {
 public:
  CTextShape() : CMapShape(kShapeText) {}

  // The text and its position (the one point of the shape); false when the position is not
  // valid (the text is kept, the shape has no point then).
  bool InitWithText(const std::string& text, float lng, float lat);
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }

  float rotation = 0;              // degrees, clockwise on the screen
  Argb text_color = 0xFF000000u;   // straight ARGB
  bool bold = false;               // the two style flags
  bool halo = false;
  // The style the text is drawn with; RebuildStyle folds the colour and flags above into it.
  CTextStyle style;
  void RebuildStyle();

  bool AddPoint(float lng, float lat) override;  // sets the position
  void Draw(CGraphics& g, const CMapProjector& p) const override;
  bool HitTest(const CMapProjector& p, double x, double y, double tolerance = kHitTolerance) const override;
  bool ExportKml(FILE* file) const override;

 protected:
  void StoreFields(ArchiveWriter& ar) const override;
  void LoadFields(ArchiveReader& ar, int schema) override;

 private:
  std::string text_;
};

}  // namespace velmora
