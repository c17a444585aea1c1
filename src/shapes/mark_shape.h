// CMarkShape (type 40030): a mark at one point: a pin whose colour comes from its icon index, an
// optional label beside it and the pop-up HTML shown when it is clicked (the address book's
// cards, a search hit's details).
#pragma once
#include <string>

#include "shapes/map_shape.h"

namespace velmora {

class CMarkShape : public CMapShape {
 public:
  // Pixels from the point to the pin's top.
  static constexpr float kPinHeight = 24.0f;

  CMarkShape() : CMapShape(kShapeMark) {}

  std::string popup_html;   // the pop-up's HTML (cards joined with "\r\n")
  int icon_index = 0;
  int label_shown = 0;      // non-zero shows the label beside the pin
  std::string label_text;   // the label; the name when empty
  CTextStyle label_style;

  // The mark's position (replaces the one point); false when the point is not valid.
  bool AddPoint(float lng, float lat) override;
  // The pin's colour for an icon index (a fixed palette, repeated).
  static Argb IconColor(int icon_index);

  void Draw(CGraphics& g, const CMapProjector& p) const override;
  // The pin's area (and the label's when shown).
  bool HitTest(const CMapProjector& p, double x, double y, double tolerance = kHitTolerance) const override;
  // A point placemark with the pop-up HTML as its description.
  bool ExportKml(FILE* file) const override;

 protected:
  void StoreFields(ArchiveWriter& ar) const override;
  void LoadFields(ArchiveReader& ar, int schema) override;
};

}  // namespace velmora
