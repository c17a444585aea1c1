// draw_icons: draws the front end's toolbar icons (24x24 PNG) into a folder; the pictures in
// data/images were made with it. They are simple shapes of our own.
//   draw_icons <folder>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"

namespace {

using velmora::Argb;
using velmora::CBitmap;
using velmora::CGraphics;
using velmora::GfxPoint;
using velmora::GfxRect;
using velmora::Pen;

constexpr Argb kOutline = 0xFF2B3A4Au;
constexpr Argb kWater = 0xFF4A90D9u;
constexpr Argb kLand = 0xFF5DAE5Bu;
constexpr Argb kPaper = 0xFFF4F1E6u;

void Globe(CGraphics& g, float cx, float cy, float r) {
  g.FillEllipse(kWater, GfxRect{cx - r, cy - r, 2 * r, 2 * r});
  // Two land masses and the grid.
  GfxPoint land1[] = {{cx - r * 0.6f, cy - r * 0.5f}, {cx - r * 0.1f, cy - r * 0.7f}, {cx, cy - r * 0.1f},
                      {cx - r * 0.4f, cy + r * 0.2f}};
  GfxPoint land2[] = {{cx + r * 0.2f, cy + r * 0.1f}, {cx + r * 0.7f, cy}, {cx + r * 0.5f, cy + r * 0.6f},
                      {cx + r * 0.1f, cy + r * 0.5f}};
  g.FillPolygon(kLand, land1, 4);
  g.FillPolygon(kLand, land2, 4);
  Pen grid{0x90FFFFFFu, 0.8f};
  g.DrawEllipse(grid, GfxRect{cx - r * 0.45f, cy - r, r * 0.9f, 2 * r});
  g.DrawLine(grid, cx - r, cy, cx + r, cy);
  g.DrawLine(grid, cx, cy - r, cx, cy + r);
  g.DrawEllipse(Pen{kOutline, 1.2f}, GfxRect{cx - r, cy - r, 2 * r, 2 * r});
}

void Map2D(CGraphics& g) {
  // A folded map: three panels, a road and a pin.
  GfxPoint panels[3][4] = {{{2, 5}, {9, 3}, {9, 20}, {2, 22}}, {{9, 3}, {15, 5}, {15, 22}, {9, 20}},
                           {{15, 5}, {22, 3}, {22, 20}, {15, 22}}};
  Argb shades[3] = {0xFFE8F2DCu, 0xFFD6E8C6u, 0xFFE8F2DCu};
  for (int i = 0; i < 3; ++i) {
    g.FillPolygon(shades[i], panels[i], 4);
    g.DrawPolygon(Pen{kOutline, 1.0f}, panels[i], 4);
  }
  GfxPoint road[] = {{3, 17}, {8, 13}, {13, 15}, {20, 8}};
  g.DrawLines(Pen{0xFFE07B39u, 1.6f}, road, 4);
  g.FillEllipse(0xFFD93A3Au, GfxRect{15.5f, 5.5f, 5, 5});
}

void Tiles3D(CGraphics& g) {
  // Tiles stacked in perspective.
  for (int layer = 0; layer < 3; ++layer) {
    float y = 15.0f - layer * 5.0f;
    GfxPoint tile[] = {{12, y - 4}, {21, y}, {12, y + 4}, {3, y}};
    g.FillPolygon(layer == 2 ? kLand : (layer == 1 ? 0xFF8CC084u : 0xFFB9D9B0u), tile, 4);
    g.DrawPolygon(Pen{kOutline, 1.0f}, tile, 4);
  }
}

void EarthApp(CGraphics& g) {
  Globe(g, 12, 12, 8);
  g.DrawEllipse(Pen{0xFFE0A030u, 1.4f}, GfxRect{1.5f, 8.5f, 21, 7});
}

void EarthPlugin(CGraphics& g) {
  g.FillRectangle(kPaper, GfxRect{2, 3, 20, 18});
  g.FillRectangle(0xFF7A8CA0u, GfxRect{2, 3, 20, 4});
  g.DrawRectangle(Pen{kOutline, 1.0f}, GfxRect{2.5f, 3.5f, 19, 17});
  Globe(g, 12, 14, 5.5f);
}

void WebMap(CGraphics& g) {
  g.FillRectangle(kPaper, GfxRect{2, 3, 20, 18});
  g.FillRectangle(0xFF7A8CA0u, GfxRect{2, 3, 20, 4});
  g.DrawRectangle(Pen{kOutline, 1.0f}, GfxRect{2.5f, 3.5f, 19, 17});
  GfxPoint road[] = {{4, 18}, {9, 12}, {14, 15}, {20, 10}};
  g.DrawLines(Pen{kLand, 2.0f}, road, 4);
  GfxPoint pin[] = {{12, 19}, {9, 13}, {12, 9}, {15, 13}};
  g.FillPolygon(0xFFD93A3Au, pin, 4);
  g.FillEllipse(0xFFFFFFFFu, GfxRect{11, 11.5f, 2, 2});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_icons <folder>\n");
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const std::vector<std::pair<const char*, std::function<void(CGraphics&)>>> icons = {
      {"view_map2d.png", Map2D},      {"view_globe3d.png", [](CGraphics& g) { Globe(g, 12, 12, 9); }},
      {"view_tiles3d.png", Tiles3D},  {"view_earth_app.png", EarthApp},
      {"view_earth_plugin.png", EarthPlugin}, {"view_web_map.png", WebMap},
  };
  for (const auto& [name, draw] : icons) {
    CBitmap icon;
    if (!icon.Create(24, 24)) return 1;
    {
      CGraphics g(icon);
      draw(g);
    }
    if (!velmora::SaveImageFile(icon, folder + name, velmora::ImageType::kPng)) {
      std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name);
      return 1;
    }
  }
  return 0;
}
