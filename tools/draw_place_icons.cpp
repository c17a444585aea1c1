// draw_place_icons: draws the place search's pictures into a folder; the ones in data/images were
// made with it. They are simple shapes of our own:
//   place_kind_0.png .. place_kind_10.png  (16x16) the kinds of search hits, by AddressTypeImage's
//       index: 0 any place, 1 a stored search, 2 province, 3 city, 4 county, 5 locality,
//       6 district, 7 point of interest, 8 train station, 9 subway station, 10 bus station;
//   address.png (32x32) the local address search dialog's icon.
//   draw_place_icons <folder>
#include <string>
#include <vector>

#include "icon_writer.h"

namespace {

using velmora::Argb;
using velmora::CBitmap;
using velmora::CGraphics;
using velmora::GfxPoint;
using velmora::GfxRect;
using velmora::Pen;

constexpr Argb kOutline = 0xFF2B3A4Au;
constexpr Argb kRed = 0xFFD93A3Au;
constexpr Argb kBlue = 0xFF3A78C8u;
constexpr Argb kGreen = 0xFF4F9E4Cu;
constexpr Argb kOrange = 0xFFE08A2Eu;
constexpr Argb kGrey = 0xFF8A939Cu;
constexpr Argb kWhite = 0xFFFFFFFFu;

// A map pin with its point at (x, y + 7).
void Pin(CGraphics& g, float x, float y, Argb color) {
  GfxPoint tip[] = {{x - 4.2f, y + 0.8f}, {x + 4.2f, y + 0.8f}, {x, y + 7.5f}};
  g.FillPolygon(color, tip, 3);
  g.FillEllipse(color, GfxRect{x - 4.5f, y - 4.5f, 9, 9});
  g.FillEllipse(kWhite, GfxRect{x - 1.6f, y - 1.6f, 3.2f, 3.2f});
}

void House(CGraphics& g, float x, float y, float w, Argb wall, Argb roof) {
  g.FillRectangle(wall, GfxRect{x, y + w * 0.45f, w, w * 0.55f});
  GfxPoint top[] = {{x - 1, y + w * 0.5f}, {x + w / 2, y}, {x + w + 1, y + w * 0.5f}};
  g.FillPolygon(roof, top, 3);
}

void Province(CGraphics& g) {
  GfxPoint land[] = {{2, 5}, {6, 2}, {11, 3}, {14, 6}, {13, 11}, {9, 14}, {4, 13}, {1, 9}};
  g.FillPolygon(0xFFB9D9B0u, land, 8);
  g.DrawPolygon(Pen{kGreen, 1.2f}, land, 8);
  GfxPoint star[] = {{8, 4.5f}, {9.1f, 7.3f}, {12, 7.4f}, {9.7f, 9.1f}, {10.5f, 12}, {8, 10.3f}, {5.5f, 12}, {6.3f, 9.1f}, {4, 7.4f}, {6.9f, 7.3f}};
  g.FillPolygon(kRed, star, 10);
}

void City(CGraphics& g) {
  g.FillRectangle(kBlue, GfxRect{2, 6, 4, 9});
  g.FillRectangle(0xFF5B8FD6u, GfxRect{6, 2, 5, 13});
  g.FillRectangle(kBlue, GfxRect{11, 8, 3, 7});
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 2; ++col)
      g.FillRectangle(kWhite, GfxRect{7.0f + col * 2.2f, 3.5f + row * 2.6f, 1.2f, 1.3f});
  g.DrawLine(Pen{kOutline, 1}, 1, 15, 15, 15);
}

void Locality(CGraphics& g) {
  House(g, 3, 3, 10, 0xFFF4E2C0u, kOrange);
  g.FillRectangle(0xFF8A5A2Bu, GfxRect{7, 10, 2.5f, 3.5f});
}

void County(CGraphics& g) {
  House(g, 1, 6, 7, 0xFFF4E2C0u, kGreen);
  House(g, 8, 3, 7, 0xFFF4E2C0u, kOrange);
}

void District(CGraphics& g) {
  g.FillRectangle(0xFFEAF0F6u, GfxRect{1.5f, 1.5f, 13, 13});
  g.DrawRectangle(Pen{kBlue, 1}, GfxRect{1.5f, 1.5f, 13, 13});
  g.DrawLine(Pen{kBlue, 1}, 8, 1.5f, 8, 14.5f);
  g.DrawLine(Pen{kBlue, 1}, 1.5f, 8, 14.5f, 8);
  g.FillRectangle(kOrange, GfxRect{9, 9, 5, 5});
}

void Stored(CGraphics& g) {
  g.DrawEllipse(Pen{kOutline, 1.6f}, GfxRect{2, 2, 8, 8});
  g.DrawLine(Pen{kOutline, 2.2f}, 9, 9, 14, 14);
}

void Train(CGraphics& g) {
  g.FillRectangle(kBlue, GfxRect{3, 2, 10, 10});
  g.FillRectangle(kWhite, GfxRect{4.5f, 3.5f, 7, 3.5f});
  g.FillEllipse(kWhite, GfxRect{4.5f, 8.5f, 2, 2});
  g.FillEllipse(kWhite, GfxRect{9.5f, 8.5f, 2, 2});
  g.DrawLine(Pen{kOutline, 1.2f}, 5, 12, 3, 15);
  g.DrawLine(Pen{kOutline, 1.2f}, 11, 12, 13, 15);
}

void Subway(CGraphics& g) {
  g.FillEllipse(kRed, GfxRect{1, 1, 14, 14});
  GfxPoint m[] = {{4.5f, 11.5f}, {4.5f, 4.5f}, {8, 8.5f}, {11.5f, 4.5f}, {11.5f, 11.5f}};
  g.DrawLines(Pen{kWhite, 1.6f}, m, 5);
}

void Bus(CGraphics& g) {
  g.FillRectangle(kGreen, GfxRect{2, 2, 12, 10});
  g.FillRectangle(kWhite, GfxRect{3.5f, 3.5f, 9, 4});
  g.FillEllipse(kOutline, GfxRect{3.5f, 11, 3, 3});
  g.FillEllipse(kOutline, GfxRect{9.5f, 11, 3, 3});
}

void AddressIcon(CGraphics& g) {
  g.FillRectangle(0xFFF4F1E6u, GfxRect{3, 4, 22, 25});
  g.DrawRectangle(Pen{kOutline, 1.2f}, GfxRect{3.5f, 4.5f, 21, 24});
  for (int i = 0; i < 5; ++i) g.DrawLine(Pen{kGrey, 1.4f}, 7, 10.0f + i * 4, 20, 10.0f + i * 4);
  g.ScaleTransform(1.3f, 1.3f);
  Pin(g, 19, 6, kRed);
}

}  // namespace

int main(int argc, char** argv) {
  using velmora::tools::Icon;
  const std::vector<Icon> icons = {
      {"place_kind_0.png", 16, [](CGraphics& g) { Pin(g, 8, 6, kGrey); }},
      {"place_kind_1.png", 16, Stored},
      {"place_kind_2.png", 16, Province},
      {"place_kind_3.png", 16, City},
      {"place_kind_4.png", 16, County},
      {"place_kind_5.png", 16, Locality},
      {"place_kind_6.png", 16, District},
      {"place_kind_7.png", 16, [](CGraphics& g) { Pin(g, 8, 6, kRed); }},
      {"place_kind_8.png", 16, Train},
      {"place_kind_9.png", 16, Subway},
      {"place_kind_10.png", 16, Bus},
      {"address.png", 32, AddressIcon},
  };
  return velmora::tools::WriteIcons(argc, argv, "draw_place_icons", icons);
}
