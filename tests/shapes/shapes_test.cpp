// Map shapes drawn with cairo and read back pixel by pixel, hit tests, points that must be
// refused, shapes without points or with a million, far-off points at the deepest zoom, lines
// across the antimeridian, the stored form and its damage, KML placemarks, contour lines and
// the free region's pixel ring.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/gfx/graphics.h"
#include "shapes/map_projector.h"
#include "shapes/mark_shape.h"
#include "shapes/polygon_shape.h"
#include "shapes/polyline_shape.h"
#include "shapes/text_shape.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

constexpr Argb kWhite = 0xFFFFFFFFu;

struct Scene {
  CBitmap canvas;
  CMapProjector p;
  Scene(double lng, double lat, double zoom, int w = 400, int h = 300, int kind = 1) : p(kind, zoom, lng, lat, w, h) {
    canvas.Create(w, h, kWhite);
  }
  void Draw(const CMapShape& s) {
    CGraphics g(canvas);
    s.Draw(g, p);
  }
  Argb At(double x, double y) const { return canvas.GetPixel(int(std::floor(x)), int(std::floor(y))); }
  int CountNot(Argb c) const {
    int n = 0;
    for (int y = 0; y < canvas.Height(); ++y)
      for (int x = 0; x < canvas.Width(); ++x) n += canvas.Row(y)[x] != Premultiply(c);
    return n;
  }
};

std::string ReadAll(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

TEST(Shapes, PolylineDrawsWhereItsPointsAreAndIsHitThere) {
  Scene s(120.0, 36.0, 12);
  CPolylineShape line;
  line.line_color = 0xFF0000FFu;
  line.line_width = 3;
  ASSERT_TRUE(line.AddPoint(119.98f, 36.0f));
  ASSERT_TRUE(line.AddPoint(120.02f, 36.0f));
  s.Draw(line);
  PixelPoint a = s.p.ToScreen(119.98, 36.0), b = s.p.ToScreen(120.02, 36.0);
  EXPECT_NEAR(a.y, 150, 1e-3);
  // Along the line blue, a few pixels off it white.
  for (double t : {0.1, 0.5, 0.9}) {
    double x = a.x + t * (b.x - a.x);
    EXPECT_EQ(s.At(x, a.y), 0xFF0000FFu) << t;
    EXPECT_EQ(s.At(x, a.y + 6), kWhite) << t;
    EXPECT_TRUE(line.HitTest(s.p, x, a.y + 3));
    EXPECT_FALSE(line.HitTest(s.p, x, a.y + 9));
  }
  EXPECT_FALSE(line.HitTest(s.p, b.x + 20, b.y));
  // Shown only within its zoom range.
  line.min_zoom = 13;
  EXPECT_FALSE(line.HitTest(s.p, (a.x + b.x) / 2, a.y));
  Scene hidden(120.0, 36.0, 12);
  hidden.Draw(line);
  EXPECT_EQ(hidden.CountNot(kWhite), 0);
}

TEST(Shapes, PolygonFillsItsInsideAndHitsInsideOrOnItsEdge) {
  Scene s(10.0, 50.0, 10);
  CPolygonShape poly;
  poly.fill_color = 0xFF00FF00u;
  poly.line_color = 0xFFFF0000u;
  poly.line_width = 4;
  for (auto [lng, lat] : {std::pair{9.95f, 50.03f}, {10.05f, 50.03f}, {10.05f, 49.97f}, {9.95f, 49.97f}})
    poly.AddPoint(lng, lat);
  s.Draw(poly);
  PixelPoint c = s.p.ToScreen(10.0, 50.0);
  EXPECT_EQ(s.At(c.x, c.y), 0xFF00FF00u);
  PixelPoint corner = s.p.ToScreen(10.05, 50.03);
  EXPECT_EQ(s.At(corner.x, corner.y + 20), 0xFFFF0000u);  // the right edge
  EXPECT_EQ(s.At(corner.x + 10, corner.y - 10), kWhite);
  EXPECT_TRUE(poly.HitTest(s.p, c.x, c.y));
  EXPECT_TRUE(poly.HitTest(s.p, corner.x + 3, corner.y + 20));
  EXPECT_FALSE(poly.HitTest(s.p, corner.x + 20, corner.y + 20));
  poly.filled = false;
  EXPECT_FALSE(poly.HitTest(s.p, c.x, c.y));
}

TEST(Shapes, BadPointsAreRefusedAndEmptyShapesDrawNothing) {
  CPolylineShape line;
  const float nan = std::nanf(""), inf = INFINITY;
  EXPECT_FALSE(line.AddPoint(nan, 10));
  EXPECT_FALSE(line.AddPoint(10, nan));
  EXPECT_FALSE(line.AddPoint(inf, 10));
  EXPECT_FALSE(line.AddPoint(10, 90.5f));
  EXPECT_FALSE(line.AddPoint(600, 10));
  EXPECT_TRUE(line.AddPoint(-180, -90));
  EXPECT_EQ(line.PointCount(), 1u);
  EXPECT_EQ(line.SetPoints({{1, 1}, {nan, 2}, {3, 95}, {4, 4}}), 2u);
  EXPECT_EQ(line.Points(), (std::vector<ShapePoint>{{1, 1}, {4, 4}}));

  Scene s(0, 0, 5);
  for (int type : {kShapePolyline, kShapePolygon, kShapeMark, kShapeText, kShapeLabelPolyline, kShapeRegion}) {
    std::unique_ptr<CMapShape> shape = CreateShape(type);
    ASSERT_TRUE(shape);
    EXPECT_TRUE(shape->Bounds().Empty());
    s.Draw(*shape);
    EXPECT_FALSE(shape->HitTest(s.p, 200, 150));
    EXPECT_FALSE(shape->ExportKml(nullptr));
  }
  EXPECT_EQ(s.CountNot(kWhite), 0);
  // The codes the program does not draw make no shape.
  EXPECT_EQ(CreateShape(kShapePicture), nullptr);
  EXPECT_EQ(CreateShape(12345), nullptr);
  // A NaN click hits nothing.
  CMarkShape mark;
  mark.AddPoint(0, 0);
  EXPECT_FALSE(mark.HitTest(s.p, std::nan(""), 150));
}

TEST(Shapes, AMillionPointLineDrawsAndHitTests) {
  CPolylineShape line;
  std::vector<ShapePoint> pts;
  pts.reserve(1000000);
  for (int i = 0; i < 1000000; ++i) {
    float t = float(i) / 1000000.0f;
    pts.push_back({-10.0f + 20.0f * t, 5.0f * std::sin(t * 40.0f)});
  }
  EXPECT_EQ(line.SetPoints(pts), 0u);
  line.line_color = 0xFF000000u;
  Scene s(0, 0, 4, 800, 600);
  s.Draw(line);
  EXPECT_GT(s.CountNot(kWhite), 500);
  PixelPoint mid = s.p.ToScreen(pts[500000].lng, pts[500000].lat);
  EXPECT_TRUE(line.HitTest(s.p, mid.x, mid.y));
  EXPECT_FALSE(line.HitTest(s.p, mid.x, mid.y - 200));
  // Stored and rebuilt whole.
  std::unique_ptr<CMapShape> back = CMapShape::FromStored(kShapePolyline, line.Store());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->PointCount(), 1000000u);
  EXPECT_EQ(back->Points()[777777], line.Points()[777777]);
}

TEST(Shapes, FarPointsAtTheDeepestZoomAndTheAntimeridian) {
  // At zoom 22.9 the far end of this line lies a billion pixels away: it must be clipped in
  // doubles, not wrapped by cairo's fixed point into a stray stroke.
  Scene s(116.0, 40.0, 22.9);
  CPolylineShape line;
  line.line_width = 2;
  line.line_color = 0xFF0000FFu;
  line.AddPoint(116.0f, 40.0f);
  line.AddPoint(-60.0f, 40.0f);
  s.Draw(line);
  PixelPoint origin = s.p.ToScreen(116.0, 40.0);
  EXPECT_EQ(s.At(origin.x - 50, origin.y), 0xFF0000FFu);
  EXPECT_EQ(s.At(origin.x + 50, origin.y), kWhite);
  EXPECT_EQ(s.At(origin.x - 50, origin.y - 20), kWhite);

  // A line from 179° to 181° (past the antimeridian) drawn around a camera at -180°.
  Scene a(-180.0, 0.0, 8);
  CPolylineShape across;
  across.line_color = 0xFF00AA00u;
  across.line_width = 3;
  across.AddPoint(179.5f, 0.0f);
  across.AddPoint(180.5f, 0.0f);
  a.Draw(across);
  EXPECT_EQ(a.At(200 - 60, 150), 0xFF00AA00u);
  EXPECT_EQ(a.At(200 + 60, 150), 0xFF00AA00u);
  EXPECT_TRUE(across.HitTest(a.p, 200, 150));
  // A mark near the antimeridian shows on the side of the camera.
  CMarkShape mark;
  mark.AddPoint(179.9f, 0);
  PixelPoint m = a.p.ToScreen(179.9, 0);
  EXPECT_NEAR(m.x, 200 - 0.1 / 360 * a.p.WorldWidth(), 1e-6);
  // A world narrower than the window: the shape shows on each copy.
  Scene wide(0.0, 0.0, 2, 2600, 300);
  CPolylineShape short_line;
  short_line.line_color = 0xFF000000u;
  short_line.line_width = 3;
  short_line.AddPoint(-1, 0);
  short_line.AddPoint(1, 0);
  wide.Draw(short_line);
  for (int k : {-1, 0, 1}) EXPECT_EQ(wide.At(1300 + k * 1024, 150), 0xFF000000u) << k;
}

TEST(Shapes, MarksAndTextsDrawAndHit) {
  Scene s(2.35, 48.85, 14);
  CMarkShape mark;
  mark.SetName("巴黎");
  mark.icon_index = 9;  // wraps round the palette
  mark.label_shown = 1;
  mark.label_style.color = 0xFF000000u;
  ASSERT_TRUE(mark.AddPoint(2.35f, 48.85f));
  ASSERT_TRUE(mark.AddPoint(2.36f, 48.85f));  // moves it
  EXPECT_EQ(mark.PointCount(), 1u);
  mark.AddPoint(2.35f, 48.85f);
  s.Draw(mark);
  EXPECT_EQ(s.At(200, 150 - 4), CMarkShape::IconColor(9));
  EXPECT_EQ(CMarkShape::IconColor(9), CMarkShape::IconColor(1));
  EXPECT_TRUE(mark.HitTest(s.p, 200, 140));
  EXPECT_TRUE(mark.HitTest(s.p, 220, 135));  // the label
  EXPECT_FALSE(mark.HitTest(s.p, 150, 150));

  Scene t(0, 0, 6);
  CTextShape text;
  ASSERT_TRUE(text.InitWithText("等高线 100", 0, 0));
  text.rotation = 90;
  text.text_color = 0xFFAA0000u;
  text.bold = true;
  text.halo = true;
  text.RebuildStyle();
  EXPECT_EQ(text.style.color, 0xFFAA0000u);
  EXPECT_EQ(text.style.flags, CTextStyle::kBold | CTextStyle::kHalo);
  t.Draw(text);
  EXPECT_GT(t.CountNot(kWhite), 50);
  // Turned upright: tall, not wide.
  EXPECT_TRUE(text.HitTest(t.p, 200, 150 + 20));
  EXPECT_FALSE(text.HitTest(t.p, 200 + 30, 150));
}

TEST(Shapes, StoredFormRoundTripsAndDamageIsRefused) {
  CMarkShape mark;
  mark.SetName("张三,李四");
  mark.popup_html = "<div>卡片</div>\r\n<div>]]></div>";
  mark.icon_index = 3;
  mark.label_shown = 1;
  mark.label_text = "标签";
  mark.label_style.face = "宋体";
  mark.label_style.size = 10.5f;
  mark.AddPoint(121.5f, 31.2f);
  std::vector<uint8_t> bytes = mark.Store();
  std::string error;
  std::unique_ptr<CMapShape> back = CMapShape::FromStored(kShapeMark, bytes, &error);
  ASSERT_TRUE(back) << error;
  auto* m = dynamic_cast<CMarkShape*>(back.get());
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Name(), mark.Name());
  EXPECT_EQ(m->popup_html, mark.popup_html);
  EXPECT_EQ(m->label_text, "标签");
  EXPECT_EQ(m->label_style, mark.label_style);
  EXPECT_EQ(m->Points(), mark.Points());

  CLabelPolylineShape labelled;
  labelled.label = "G15";
  labelled.AddPoint(1, 2);
  labelled.AddPoint(3, 4);
  labelled.Values() = {5, 6};
  labelled.min_zoom = 4;
  auto lb = CMapShape::FromStored(kShapeLabelPolyline, labelled.Store());
  ASSERT_TRUE(lb);
  EXPECT_EQ(static_cast<CLabelPolylineShape&>(*lb).label, "G15");
  EXPECT_EQ(static_cast<CLabelPolylineShape&>(*lb).Values(), (std::vector<float>{5, 6}));
  EXPECT_EQ(lb->min_zoom, 4);

  // Another type than the row says, cut short, a huge count, an unknown schema: refused.
  EXPECT_EQ(CMapShape::FromStored(kShapePolygon, bytes, &error), nullptr);
  EXPECT_NE(error.find("type"), std::string::npos);
  for (size_t cut : {size_t(0), size_t(3), size_t(10), bytes.size() - 1}) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + long(cut));
    EXPECT_EQ(CMapShape::FromStored(kShapeMark, part, &error), nullptr) << cut;
  }
  std::vector<uint8_t> huge = bytes;
  size_t count_at = 4 + 4 + 1 + mark.Name().size();  // schema, type, name length byte and bytes
  huge[count_at] = 0xFF, huge[count_at + 1] = 0xFF, huge[count_at + 2] = 0xFF, huge[count_at + 3] = 0x7F;
  EXPECT_EQ(CMapShape::FromStored(kShapeMark, huge, &error), nullptr);
  std::vector<uint8_t> schema = bytes;
  schema[0] = 9;
  EXPECT_EQ(CMapShape::FromStored(kShapeMark, schema, &error), nullptr);

  // A NaN written into the stored points is dropped on the way back.
  CPolylineShape line;
  line.AddPoint(1, 1);
  line.AddPoint(2, 2);
  std::vector<uint8_t> lb2 = line.Store();
  size_t first_point = 4 + 4 + 1 + 0 + 4;
  float nan = std::nanf("");
  std::memcpy(&lb2[first_point], &nan, 4);
  size_t dropped = 0;
  auto fixed = CMapShape::FromStored(kShapePolyline, lb2, &error, &dropped);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(dropped, 1u);
  EXPECT_EQ(fixed->Points(), (std::vector<ShapePoint>{{2, 2}}));
}

TEST(Shapes, KmlPlacemarksAndContourLines) {
  test::TempDir dir;
  FILE* f = std::fopen(dir.File("out.kml").c_str(), "w+");
  ASSERT_TRUE(f);
  CPolygonShape poly;
  poly.SetName("A & <B>");
  poly.line_color = 0xFF112233u;
  poly.fill_color = 0x80445566u;
  poly.line_width = 2.5f;
  poly.AddPoint(120.1f, 30.2f);
  poly.AddPoint(120.3f, 30.2f);
  poly.AddPoint(120.3f, 30.4f);
  EXPECT_TRUE(poly.ExportKml(f));
  CTextShape text;
  text.InitWithText("高程\x01 500", 100, 20);
  EXPECT_TRUE(text.ExportKml(f));
  CMarkShape mark;
  mark.popup_html = "a]]>b";
  mark.AddPoint(1, 2);
  EXPECT_TRUE(mark.ExportKml(f));
  std::string kml = ReadAll(f);
  std::fclose(f);
  EXPECT_NE(kml.find("<name>A &amp; &lt;B&gt;</name>"), std::string::npos);
  EXPECT_NE(kml.find("<color>ff332211</color><width>2.5</width>"), std::string::npos);
  EXPECT_NE(kml.find("<PolyStyle><color>80665544</color><fill>1</fill>"), std::string::npos);
  // The outer ring is closed.
  EXPECT_NE(kml.find("<coordinates>120.1,30.2,0 120.3,30.2,0 120.3,30.4,0 120.1,30.2,0</coordinates>"),
            std::string::npos)
      << kml;
  EXPECT_NE(kml.find("<name>高程 500</name>"), std::string::npos);  // control character dropped
  EXPECT_NE(kml.find("<![CDATA[a]]]]><![CDATA[>b]]>"), std::string::npos);

  CPolylineShape contour;
  contour.InitFromContour("100", {{1, 1}, {2, std::nanf("")}, {3, 3}}, 100.0f);
  EXPECT_EQ(contour.Name(), "100");
  EXPECT_EQ(contour.PointCount(), 2u);
  EXPECT_EQ(contour.Values(), (std::vector<float>{100, 100}));
  EXPECT_EQ(contour.Level(), 100.0f);
  EXPECT_FALSE(contour.editable);
}

TEST(Shapes, FreeRegionKeepsItsPixelsAndClosesBothRings) {
  CRegionShape region;
  EXPECT_EQ(region.Name(), "任选区域");
  EXPECT_EQ(region.GetType(), kShapeRegion);
  region.AddPixelPoint(10, 10);
  region.AddPixelPoint(50, 10);
  region.AddPixelPoint(50, 40);
  region.AddPixelPoint(std::nanf(""), 1);  // ignored
  region.AddPoint(1, 1);
  region.AddPoint(2, 1);
  region.AddPoint(2, 2);
  const std::vector<ShapePoint>& ring = region.ClosePixelRing();
  EXPECT_TRUE(region.IsClosed());
  ASSERT_EQ(ring.size(), 4u);
  EXPECT_EQ(ring.back(), ring.front());
  ASSERT_EQ(region.PixelPoints().size(), 4u);
  EXPECT_EQ(region.PixelPoints().back().x, 10);
  // Closing again adds nothing.
  region.ClosePixelRing();
  EXPECT_EQ(region.PointCount(), 4u);
  EXPECT_EQ(region.PixelPoints().size(), 4u);
  // Drawn as a polygon once closed.
  Scene s(1.5, 1.5, 8);
  s.Draw(region);
  PixelPoint inside = s.p.ToScreen(1.8, 1.2);
  EXPECT_NE(s.At(inside.x, inside.y), kWhite);
}

}  // namespace
}  // namespace velmora
