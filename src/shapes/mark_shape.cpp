// Marks: a pin drawn with cairo (no icon files needed), a label beside it, hit tests on the pin
// and the label, and KML point placemarks with the pop-up as their description.
#include "shapes/mark_shape.h"

#include <array>
#include <cmath>

#include "platform/gfx/font.h"
#include "platform/gfx/graphics.h"

namespace velmora {
namespace {

constexpr std::array<Argb, 8> kPinColors = {0xFFE53935u, 0xFF1E88E5u, 0xFF43A047u, 0xFFFB8C00u,
                                            0xFF8E24AAu, 0xFF00ACC1u, 0xFF6D4C41u, 0xFF546E7Au};
constexpr float kPinRadius = 8.0f;

// The pop-up inside CDATA: a "]]>" in the HTML would end the section, so it is split there.
std::string Cdata(const std::string& html) {
  std::string out = "<![CDATA[";
  size_t pos = 0;
  for (size_t hit; (hit = html.find("]]>", pos)) != std::string::npos; pos = hit + 3)
    out += html.substr(pos, hit - pos) + "]]]]><![CDATA[>";
  out += html.substr(pos) + "]]>";
  return out;
}

const std::string& LabelOf(const CMarkShape& m) { return m.label_text.empty() ? m.Name() : m.label_text; }

}  // namespace

bool CMarkShape::AddPoint(float lng, float lat) {
  if (!IsValidPoint(lng, lat)) return false;
  points_.assign(1, ShapePoint{lng, lat});
  Touch();
  return true;
}

Argb CMarkShape::IconColor(int icon_index) {
  size_t i = static_cast<size_t>(icon_index < 0 ? -(int64_t)icon_index : icon_index) % kPinColors.size();
  return kPinColors[i];
}

void CMarkShape::Draw(CGraphics& g, const CMapProjector& p) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.empty()) return;
  PixelPoint at = p.ToScreen(points_[0].lng, points_[0].lat);
  if (at.x < -300 || at.y < -kPinHeight || at.x > p.Width() + 300 || at.y > p.Height() + kPinHeight) return;
  float x = float(at.x), y = float(at.y);
  Argb color = IconColor(icon_index);
  // A teardrop: a circle above the point and a triangle down to it.
  float cy = y - kPinHeight + kPinRadius;
  GfxPoint tip[3] = {{x - kPinRadius * 0.8f, cy + kPinRadius * 0.5f}, {x + kPinRadius * 0.8f, cy + kPinRadius * 0.5f}, {x, y}};
  g.FillPolygon(color, tip, 3);
  g.FillEllipse(color, GfxRect{x - kPinRadius, cy - kPinRadius, 2 * kPinRadius, 2 * kPinRadius});
  g.DrawEllipse(Pen{0xFF202020u, 1.0f}, GfxRect{x - kPinRadius, cy - kPinRadius, 2 * kPinRadius, 2 * kPinRadius});
  g.FillEllipse(0xFFFFFFFFu, GfxRect{x - 3, cy - 3, 6, 6});
  const std::string& label = LabelOf(*this);
  if (label_shown && !label.empty()) {
    CFont font = FontOfStyle(label_style);
    g.DrawString(label, CFont(font.Face(), font.PixelSize(), font.Style() | CFont::kHalo), label_style.color,
                 x + kPinRadius + 2, cy - font.PixelSize() / 2);
  }
}

bool CMarkShape::HitTest(const CMapProjector& p, double x, double y, double tolerance) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.empty()) return false;
  PixelPoint at = p.ToScreen(points_[0].lng, points_[0].lat);
  if (x >= at.x - kPinRadius - tolerance && x <= at.x + kPinRadius + tolerance && y >= at.y - kPinHeight - tolerance &&
      y <= at.y + tolerance)
    return true;
  const std::string& label = LabelOf(*this);
  if (!label_shown || label.empty()) return false;
  CFont font = FontOfStyle(label_style);
  TextExtent e = MeasureText(label, font);
  double lx = at.x + kPinRadius + 2, ly = at.y - kPinHeight + kPinRadius - font.PixelSize() / 2;
  return x >= lx - tolerance && x <= lx + e.width + tolerance && y >= ly - tolerance && y <= ly + e.height + tolerance;
}

bool CMarkShape::ExportKml(FILE* file) const {
  if (!file || points_.empty()) return false;
  std::string text = "<Placemark><name>" + KmlEscape(Name()) + "</name>";
  if (!popup_html.empty()) text += "<description>" + Cdata(popup_html) + "</description>";
  text += "<Style><IconStyle><color>" + KmlColor(IconColor(icon_index)) + "</color></IconStyle></Style><Point><coordinates>" +
          KmlCoordinates(points_, false) + "</coordinates></Point></Placemark>\n";
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

void CMarkShape::StoreFields(ArchiveWriter& ar) const {
  ar.RawString(popup_html);
  ar.I32(icon_index);
  ar.I32(label_shown);
  ar.RawString(label_text);
  label_style.Serialize(ar);
}

void CMarkShape::LoadFields(ArchiveReader& ar, int) {
  popup_html = ar.RawString();
  icon_index = ar.I32();
  label_shown = ar.I32();
  label_text = ar.RawString();
  label_style.Serialize(ar);
}

}  // namespace velmora
