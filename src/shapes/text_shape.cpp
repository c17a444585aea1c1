// Text shapes: drawn centred on their point and turned about it; hit-tested in the text's own
// turned frame; exported as a KML point placemark.
#include "shapes/text_shape.h"

#include <cmath>
#include <numbers>

#include "platform/gfx/font.h"
#include "platform/gfx/graphics.h"

namespace velmora {

bool CTextShape::InitWithText(const std::string& text, float lng, float lat) {
  text_ = text;
  SetName(text);
  return AddPoint(lng, lat);
}

bool CTextShape::AddPoint(float lng, float lat) {
  if (!IsValidPoint(lng, lat)) return false;
  points_.assign(1, ShapePoint{lng, lat});
  Touch();
  return true;
}

void CTextShape::RebuildStyle() {
  style.color = text_color;
  style.flags = (style.flags & ~(CTextStyle::kBold | CTextStyle::kHalo)) | (bold ? CTextStyle::kBold : 0u) |
                (halo ? CTextStyle::kHalo : 0u);
}

void CTextShape::Draw(CGraphics& g, const CMapProjector& p) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.empty() || text_.empty()) return;
  PixelPoint at = p.ToScreen(points_[0].lng, points_[0].lat);
  CFont font = FontOfStyle(style);
  TextExtent e = g.MeasureString(text_, font);
  double reach = std::hypot(e.width, e.height);
  if (at.x < -reach || at.y < -reach || at.x > p.Width() + reach || at.y > p.Height() + reach) return;
  g.Save();
  g.TranslateTransform(float(at.x), float(at.y));
  if (std::isfinite(rotation) && rotation != 0) g.RotateTransform(rotation);
  g.DrawString(text_, font, style.color, -e.width / 2, -e.height / 2);
  g.Restore();
}

bool CTextShape::HitTest(const CMapProjector& p, double x, double y, double tolerance) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.empty() || text_.empty()) return false;
  PixelPoint at = p.ToScreen(points_[0].lng, points_[0].lat);
  TextExtent e = MeasureText(text_, FontOfStyle(style));
  // The click in the text's own frame: undo the turn about the point.
  double a = (std::isfinite(rotation) ? rotation : 0) * std::numbers::pi / 180.0;
  double dx = x - at.x, dy = y - at.y;
  double lx = dx * std::cos(a) + dy * std::sin(a);
  double ly = -dx * std::sin(a) + dy * std::cos(a);
  return std::fabs(lx) <= e.width / 2 + tolerance && std::fabs(ly) <= e.height / 2 + tolerance;
}

bool CTextShape::ExportKml(FILE* file) const {
  if (!file || points_.empty()) return false;
  std::string text = "<Placemark><name>" + KmlEscape(text_) + "</name><Style><IconStyle><scale>0</scale>"
                     "</IconStyle><LabelStyle><color>" + KmlColor(style.color) +
                     "</color></LabelStyle></Style><Point><coordinates>" + KmlCoordinates(points_, false) +
                     "</coordinates></Point></Placemark>\n";
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

void CTextShape::StoreFields(ArchiveWriter& ar) const {
  ar.RawString(text_);
  ar.F32(rotation);
  ar.U32(text_color);
  ar.U8(bold ? 1 : 0);
  ar.U8(halo ? 1 : 0);
  style.Serialize(ar);
}

void CTextShape::LoadFields(ArchiveReader& ar, int) {
  text_ = ar.RawString();
  rotation = ar.F32();
  if (!std::isfinite(rotation)) rotation = 0;
  text_color = ar.U32();
  bold = ar.U8() != 0;
  halo = ar.U8() != 0;
  style.Serialize(ar);
}

}  // namespace velmora
