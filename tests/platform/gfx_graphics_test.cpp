// Drawing on bitmaps: exact coverage of shapes, fill rules, clipping, pictures placed, scaled and
// cut, anti-aliasing on and off, and text with the CJK font.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/gfx/graphics.h"

namespace velmora {
namespace {

constexpr Argb kWhite = 0xFFFFFFFF, kRed = 0xFFFF0000, kBlue = 0xFF0000FF;

CBitmap White(int w, int h) {
  CBitmap b;
  b.Create(w, h, kWhite);
  return b;
}

int CountNot(const CBitmap& b, Argb background, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
  if (x1 < 0) x1 = b.Width();
  if (y1 < 0) y1 = b.Height();
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += b.GetPixel(x, y) != background;
  return n;
}

TEST(GfxBitmap, PixelsArePremultipliedAndBoundsChecked) {
  CBitmap b;
  EXPECT_FALSE(b.Create(0, 5));
  EXPECT_FALSE(b.Create(CBitmap::kMaxSide + 1, 1));
  ASSERT_TRUE(b.Create(4, 3));
  b.SetPixel(1, 1, 0x80FF0000);
  EXPECT_EQ(b.Row(1)[1], 0x80800000u);  // premultiplied in memory
  EXPECT_EQ(b.GetPixel(1, 1), 0x80FF0000u);
  b.SetPixel(-1, 0, kRed);
  b.SetPixel(4, 0, kRed);
  EXPECT_EQ(b.GetPixel(9, 9), 0u);
  for (uint32_t a = 0; a < 256; a += 5)
    for (uint32_t c = 0; c <= a; c += 3) {
      Argb p = (a << 24) | (c << 16) | (c << 8) | c;
      EXPECT_EQ(Premultiply(Unpremultiply(p)), p);
    }
  CBitmap part = b.Crop(1, 1, 10, 10);  // cut to the bitmap
  EXPECT_EQ(part.Width(), 3);
  EXPECT_EQ(part.Height(), 2);
}

TEST(GfxGraphics, ShapesCoverExactPixelsWithoutAntialiasing) {
  CBitmap b = White(20, 20);
  CGraphics g(b);
  g.SetAntialias(false);
  g.FillRectangle(kRed, GfxRect{2, 3, 5, 4});
  g.Flush();
  EXPECT_EQ(CountNot(b, kWhite), 20);
  EXPECT_EQ(CountNot(b, kWhite, 2, 3, 7, 7), 20);
  // A one-pixel line along pixel centres covers exactly one row of pixels.
  g.DrawLine(Pen{kBlue, 1}, 0, 10.5f, 20, 10.5f);
  g.Flush();
  EXPECT_EQ(CountNot(b, kWhite, 0, 10, 20, 11), 20);
  EXPECT_EQ(CountNot(b, kWhite), 40);  // nothing beside the line
  EXPECT_EQ(CountNot(b, kBlue, 0, 10, 20, 11), 0);  // full colour, not blended

  // With anti-aliasing a slanted edge blends.
  g.SetAntialias(true);
  GfxPoint tri[] = {{0, 12}, {19, 13}, {0, 19}};
  g.FillPolygon(kRed, tri, 3);
  g.Flush();
  int blended = 0;
  for (int y = 12; y < 20; ++y)
    for (int x = 0; x < 20; ++x) blended += b.GetPixel(x, y) != kWhite && b.GetPixel(x, y) != kRed;
  EXPECT_GT(blended, 5);
}

TEST(GfxGraphics, FillRulesAndEllipses) {
  // A five-pointed star: its centre is outside under alternate, inside under winding.
  GfxPoint star[5];
  for (int i = 0; i < 5; ++i) {
    double a = -M_PI / 2 + i * 4 * M_PI / 5;
    star[i] = {float(50 + 40 * std::cos(a)), float(50 + 40 * std::sin(a))};
  }
  CBitmap alt = White(100, 100), wind = White(100, 100);
  {
    CGraphics g(alt);
    g.FillPolygon(kRed, star, 5, FillMode::kAlternate);
    CGraphics h(wind);
    h.FillPolygon(kRed, star, 5, FillMode::kWinding);
  }
  EXPECT_EQ(alt.GetPixel(50, 52), kWhite);
  EXPECT_EQ(wind.GetPixel(50, 52), kRed);
  EXPECT_EQ(alt.GetPixel(50, 15), kRed);  // a tip

  CBitmap e = White(50, 30);
  {
    CGraphics g(e);
    g.FillEllipse(kBlue, GfxRect{5, 5, 40, 20});
    g.DrawEllipse(Pen{kRed, 1}, GfxRect{5, 5, 40, 20});
  }
  EXPECT_EQ(e.GetPixel(25, 15), kBlue);
  EXPECT_EQ(e.GetPixel(6, 6), kWhite);  // the bounding box's corner is outside
  EXPECT_NE(e.GetPixel(25, 5), kWhite);  // the outline passes the top
}

TEST(GfxGraphics, ClippingAndTransformsAndState) {
  CBitmap b = White(30, 30);
  CGraphics g(b);
  g.SetAntialias(false);
  g.SetClip(GfxRect{10, 10, 5, 5});
  g.Clear(kRed);
  g.Flush();
  EXPECT_EQ(CountNot(b, kWhite), 25);
  g.ResetClip();
  g.Save();
  g.TranslateTransform(20, 20);
  g.FillRectangle(kBlue, GfxRect{0, 0, 2, 2});
  g.Restore();
  g.FillRectangle(kBlue, GfxRect{0, 0, 1, 1});
  g.Flush();
  EXPECT_EQ(b.GetPixel(20, 20), kBlue);
  EXPECT_EQ(b.GetPixel(21, 21), kBlue);
  EXPECT_EQ(b.GetPixel(0, 0), kBlue);
  EXPECT_EQ(b.GetPixel(1, 1), kWhite);
  // A polygon clip (a triangle) keeps drawing inside it only.
  GfxPoint tri[] = {{0, 29}, {29, 29}, {0, 0}};
  g.SetClip(tri, 3);
  g.FillRectangle(0xFF00FF00, GfxRect{0, 0, 30, 30});
  g.ResetClip();
  g.Flush();
  EXPECT_EQ(b.GetPixel(2, 27), 0xFF00FF00u);
  EXPECT_EQ(b.GetPixel(27, 2), kWhite);
  // Bad input does not break the object: NaN points are skipped, a zero scale is ignored.
  GfxPoint nan[] = {{NAN, 1}, {3, 3}, {5, 1}};
  g.DrawLines(Pen{kRed, 1}, nan, 3);
  g.ScaleTransform(0, 0);
  g.FillRectangle(kRed, GfxRect{28, 0, 2, 2});
  g.Flush();
  EXPECT_EQ(b.GetPixel(29, 1), kRed);
}

// The colour key is checked where the program uses it: the icon stamp of the imaging helpers.
TEST(GfxGraphics, PicturesPlacedScaledAndCut) {
  CBitmap tile;
  tile.Create(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) tile.SetPixel(x, y, MakeArgb(255, uint8_t(x * 60), uint8_t(y * 60), 7));
  CBitmap red;
  red.Create(2, 2, kRed);
  CBitmap b = White(24, 24);
  CGraphics g(b);
  g.SetInterpolation(Interpolation::kNearest);
  g.DrawImage(tile, 1, 1);
  g.DrawImage(tile, GfxRect{8, 0, 8, 8});                        // scaled 2x: 2 x 2 blocks
  g.DrawImage(tile, GfxRect{0, 10, 2, 2}, GfxRect{2, 1, 2, 2});  // a part of the picture
  g.DrawImage(red, GfxRect{20, 20, 2, 2}, GfxRect{0, 0, 2, 2}, nullptr, 0.5f);  // half opacity
  g.Flush();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(b.GetPixel(1 + x, 1 + y), tile.GetPixel(x, y));
  EXPECT_EQ(b.GetPixel(0, 1), kWhite);
  EXPECT_EQ(b.GetPixel(5, 1), kWhite);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(b.GetPixel(8 + x, y), tile.GetPixel(x / 2, y / 2));
  EXPECT_EQ(b.GetPixel(0, 10), tile.GetPixel(2, 1));
  EXPECT_EQ(b.GetPixel(1, 11), tile.GetPixel(3, 2));
  EXPECT_EQ(b.GetPixel(2, 12), kWhite);
  EXPECT_EQ(ArgbR(b.GetPixel(20, 20)), 255);
  EXPECT_NEAR(ArgbG(b.GetPixel(20, 20)), 128, 2);
}

TEST(GfxText, ChineseFacesMapToTheCjkFont) {
  std::string cjk = ResolveFontFile("", true);
  EXPECT_NE(cjk.find("wqy"), std::string::npos) << cjk;
  EXPECT_EQ(ResolveFontFile("Microsoft Sans Serif"), cjk);
  EXPECT_EQ(MapFaceName("DejaVu Sans"), "DejaVu Sans");
  // A Latin face asked for Chinese text draws it with the CJK font (same extent, not boxes).
  TextExtent a = MeasureText("地图发布", CFont("DejaVu Sans", 20));
  TextExtent b = MeasureText("地图发布", CFont("黑体", 20));
  EXPECT_EQ(a.width, b.width);
  EXPECT_GT(a.width, 60);
}

TEST(GfxText, ChineseTextDrawsInsideItsMeasuredBox) {
  const char* text = "硬盘空间不足 Abc 123";
  CFont font("黑体", 16);
  CBitmap b = White(300, 60);
  CGraphics g(b);
  TextExtent e = g.MeasureString(text, font);
  EXPECT_GT(e.width, 100);
  EXPECT_GE(e.height, 16);
  g.DrawString(text, font, 0xFF000000, 20, 15);
  g.Flush();
  int inside = CountNot(b, kWhite, 20, 15, 20 + int(e.width) + 1, 15 + int(e.height) + 1);
  EXPECT_GT(inside, 150);
  EXPECT_EQ(CountNot(b, kWhite), inside);  // nothing outside the box
  // Every Chinese character leaves ink in its own share of the box.
  TextExtent first = g.MeasureString("硬", font);
  EXPECT_GT(CountNot(b, kWhite, 20, 15, 20 + int(first.width), 15 + int(e.height)), 20);

  // Bold and halo change the drawing.
  CBitmap plain = White(80, 30), styled = White(80, 30);
  {
    CGraphics p(plain), s(styled);
    p.DrawString("卫星库", font, 0xFF000000, 2, 2);
    s.DrawString("卫星库", CFont("黑体", 16, CFont::kBold | CFont::kHalo | CFont::kUnderline), 0xFF000000, 2, 2,
                 0xFFFF0000);
  }
  EXPECT_GT(CountNot(styled, kWhite), CountNot(plain, kWhite));
  EXPECT_LT(CountNot(styled, kRed), 80 * 30);  // the halo's colour
}

TEST(GfxText, MalformedTextDoesNotBreakTheGraphics) {
  CBitmap b = White(60, 30);
  CGraphics g(b);
  g.DrawString(std::string("a\xFF\xC3(b\0c", 7), CFont(), 0xFF000000, 2, 2);
  g.FillRectangle(kRed, GfxRect{50, 20, 5, 5});  // cairo would refuse every call after bad UTF-8
  g.Flush();
  EXPECT_EQ(b.GetPixel(52, 22), kRed);
  EXPECT_GT(CountNot(b, kWhite, 0, 0, 45, 30), 10);
  CBitmap empty;
  CGraphics nothing(empty);
  EXPECT_FALSE(nothing.IsValid());
  nothing.DrawString("x", CFont(), 0xFF000000, 0, 0);
  nothing.FillRectangle(kRed, GfxRect{0, 0, 1, 1});
}

}  // namespace
}  // namespace velmora
