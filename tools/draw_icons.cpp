// draw_icons: draws the program's icons into a folder: the toolbar icons (24x24 PNG), the
// pictures of the shared image lists (16x16: service states, point states, check states, map
// marks, saved-region items), the satellite icons (24x24), the map tools' toolbar icons (24x24)
// and the two cursors of the views
// (32x32, hot spot at 7,7). The pictures in data/images were made with it; they are simple
// shapes of our own.
//   draw_icons <folder>
#include <cmath>
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

// ---- 16-pixel pictures of the image lists ----

void Disc(CGraphics& g, Argb fill) {
  g.FillEllipse(fill, GfxRect{1, 1, 14, 14});
  g.DrawEllipse(Pen{0xFF404040u, 1.0f}, GfxRect{1.5f, 1.5f, 13, 13});
}

void CheckMark(CGraphics& g, Argb color, float width) {
  GfxPoint tick[] = {{4, 8.5f}, {7, 11.5f}, {12.5f, 4.5f}};
  g.DrawLines(Pen{color, width}, tick, 3);
}

void ServiceRunning(CGraphics& g) {
  Disc(g, 0xFF3BA55Cu);
  GfxPoint play[] = {{6, 4.5f}, {12, 8}, {6, 11.5f}};
  g.FillPolygon(0xFFFFFFFFu, play, 3);
}

void ServiceStopped(CGraphics& g) {
  Disc(g, 0xFFD64541u);
  g.FillRectangle(0xFFFFFFFFu, GfxRect{5, 5, 6, 6});
}

void PointNew(CGraphics& g) { Disc(g, 0xFFB0B0B0u); }

void PointWeb(CGraphics& g) {
  Disc(g, 0xFF3C82D2u);
  GfxPoint arrow[] = {{8, 12}, {4.5f, 7.5f}, {6.8f, 7.5f}, {6.8f, 4}, {9.2f, 4}, {9.2f, 7.5f}, {11.5f, 7.5f}};
  g.FillPolygon(0xFFFFFFFFu, arrow, 7);
}

void PointFailed(CGraphics& g) {
  Disc(g, 0xFFD64541u);
  g.DrawLine(Pen{0xFFFFFFFFu, 2.0f}, 5, 5, 11, 11);
  g.DrawLine(Pen{0xFFFFFFFFu, 2.0f}, 11, 5, 5, 11);
}

void PointQuota(CGraphics& g) {
  Disc(g, 0xFFE8962Eu);
  g.FillRectangle(0xFFFFFFFFu, GfxRect{7, 3.5f, 2, 6});
  g.FillRectangle(0xFFFFFFFFu, GfxRect{7, 10.5f, 2, 2});
}

void PointCache(CGraphics& g) {
  Disc(g, 0xFF3BA55Cu);
  CheckMark(g, 0xFFFFFFFFu, 2.0f);
}

void Box(CGraphics& g, Argb fill) {
  g.FillRectangle(fill, GfxRect{2, 2, 12, 12});
  g.DrawRectangle(Pen{0xFF5A6470u, 1.0f}, GfxRect{2.5f, 2.5f, 11, 11});
}

void CheckOff(CGraphics& g) { Box(g, 0xFFFFFFFFu); }
void CheckOn(CGraphics& g) {
  Box(g, 0xFFFFFFFFu);
  CheckMark(g, 0xFF1F6FC5u, 2.0f);
}
void CheckNone(CGraphics& g) { Box(g, 0xFFD8D8D8u); }
void CheckPart(CGraphics& g) {
  Box(g, 0xFFFFFFFFu);
  g.FillRectangle(0xFF1F6FC5u, GfxRect{5, 5, 6, 6});
}

// A map pin of a colour.
void Pin(CGraphics& g, Argb color) {
  GfxPoint body[] = {{8, 15}, {3.5f, 8}, {4, 4}, {8, 1.5f}, {12, 4}, {12.5f, 8}};
  g.FillPolygon(color, body, 6);
  g.DrawPolygon(Pen{0xFF303030u, 1.0f}, body, 6);
  g.FillEllipse(0xFFFFFFFFu, GfxRect{6, 4, 4, 4});
}

void MarkStar(CGraphics& g) {
  GfxPoint star[10];
  for (int i = 0; i < 10; ++i) {
    double a = -3.141592653589793 / 2 + i * 3.141592653589793 / 5;
    float r = i % 2 == 0 ? 7.0f : 3.0f;
    star[i] = {8 + r * static_cast<float>(std::cos(a)), 8.5f + r * static_cast<float>(std::sin(a))};
  }
  g.FillPolygon(0xFFF2C12Eu, star, 10);
  g.DrawPolygon(Pen{0xFF806010u, 1.0f}, star, 10);
}

void MarkFlag(CGraphics& g) {
  g.DrawLine(Pen{0xFF303030u, 1.5f}, 4, 1, 4, 15);
  GfxPoint flag[] = {{4.5f, 2}, {13, 4.5f}, {4.5f, 8}};
  g.FillPolygon(0xFFD64541u, flag, 3);
}

void MarkSquare(CGraphics& g) {
  g.FillRectangle(0xFF3C82D2u, GfxRect{3, 3, 10, 10});
  g.DrawRectangle(Pen{0xFF1E3F66u, 1.0f}, GfxRect{3.5f, 3.5f, 9, 9});
}

void MarkTriangle(CGraphics& g) {
  GfxPoint tri[] = {{8, 2}, {14, 13.5f}, {2, 13.5f}};
  g.FillPolygon(0xFF3BA55Cu, tri, 3);
  g.DrawPolygon(Pen{0xFF1D5A30u, 1.0f}, tri, 3);
}

void MarkTarget(CGraphics& g) {
  g.FillEllipse(0xFFFFFFFFu, GfxRect{1.5f, 1.5f, 13, 13});
  g.DrawEllipse(Pen{0xFFD64541u, 2.0f}, GfxRect{2.5f, 2.5f, 11, 11});
  g.FillEllipse(0xFFD64541u, GfxRect{6, 6, 4, 4});
}

void RegionFolder(CGraphics& g) {
  GfxPoint folder[] = {{1.5f, 3.5f}, {6, 3.5f}, {7.5f, 5}, {14.5f, 5}, {14.5f, 13.5f}, {1.5f, 13.5f}};
  g.FillPolygon(0xFFF0C75Eu, folder, 6);
  g.DrawPolygon(Pen{0xFF8A6A1Eu, 1.0f}, folder, 6);
}

void RegionPolygon(CGraphics& g) {
  GfxPoint shape[] = {{2, 6}, {7, 2}, {14, 5}, {12, 13}, {5, 14}};
  g.FillPolygon(0x603C82D2u, shape, 5);
  g.DrawPolygon(Pen{0xFF1F5FA5u, 1.2f}, shape, 5);
}

// ---- satellites (24 pixels) ----

void Satellite(CGraphics& g, Argb body) {
  g.Save();
  g.TranslateTransform(12, 12);
  g.RotateTransform(-30);
  Argb panel = 0xFF2F5D9Eu;
  for (float x : {-11.0f, 4.0f}) {
    g.FillRectangle(panel, GfxRect{x, -3, 7, 6});
    g.DrawRectangle(Pen{0xFF9FB8D8u, 0.8f}, GfxRect{x + 0.5f, -2.5f, 6, 5});
  }
  g.DrawLine(Pen{0xFF606060u, 1.2f}, -4, 0, 4, 0);
  g.FillRectangle(body, GfxRect{-3.5f, -4.5f, 7, 9});
  g.DrawRectangle(Pen{0xFF303030u, 1.0f}, GfxRect{-3.5f, -4.5f, 7, 9});
  g.DrawLine(Pen{0xFF303030u, 1.0f}, 0, -4.5f, 0, -8);
  g.Restore();
}

// ---- cursors (32 pixels, hot spot 7,7) ----

void CursorCross(CGraphics& g) {
  // White under black so that the cross shows on any map.
  for (auto [color, width] : {std::pair<Argb, float>{0xFFFFFFFFu, 3.0f}, {0xFF000000u, 1.0f}}) {
    g.DrawLine(Pen{color, width}, 7.5f, 0, 7.5f, 15);
    g.DrawLine(Pen{color, width}, 0, 7.5f, 15, 7.5f);
  }
}

void CursorFreeRegion(CGraphics& g) {
  CursorCross(g);
  GfxPoint shape[] = {{14, 20}, {20, 13}, {29, 16}, {27, 27}, {18, 29}};
  g.FillPolygon(0x503C82D2u, shape, 5);
  g.DrawPolygon(Pen{0xFFFFFFFFu, 3.0f}, shape, 5);
  g.DrawPolygon(Pen{0xFF1F5FA5u, 1.5f}, shape, 5);
}

void CursorSelection(CGraphics& g) {
  CursorCross(g);
  g.DrawRectangle(Pen{0xFFFFFFFFu, 3.0f}, GfxRect{13.5f, 13.5f, 15, 12});
  g.DrawRectangle(Pen{0xFF000000u, 1.0f, velmora::LineDash::kDash}, GfxRect{13.5f, 13.5f, 15, 12});
}

// ---- the map tools (24 pixels) ----

void ToolBrowse(CGraphics& g) {
  // Four arrows out of the centre: the map moves under the mouse.
  Pen shaft{kOutline, 1.6f};
  g.DrawLine(shaft, 12, 4, 12, 20);
  g.DrawLine(shaft, 4, 12, 20, 12);
  GfxPoint heads[4][3] = {{{12, 1.5f}, {8.5f, 6}, {15.5f, 6}},
                          {{12, 22.5f}, {8.5f, 18}, {15.5f, 18}},
                          {{1.5f, 12}, {6, 8.5f}, {6, 15.5f}},
                          {{22.5f, 12}, {18, 8.5f}, {18, 15.5f}}};
  for (auto& head : heads) g.FillPolygon(kWater, head, 3);
  g.FillEllipse(0xFFFFFFFFu, GfxRect{9.5f, 9.5f, 5, 5});
  g.DrawEllipse(Pen{kOutline, 1.0f}, GfxRect{9.5f, 9.5f, 5, 5});
}

void ToolBox(CGraphics& g) {
  // A band drawn over tiles.
  for (int x = 0; x < 2; ++x)
    for (int y = 0; y < 2; ++y)
      g.FillRectangle((x + y) % 2 ? 0xFFD6E8C6u : 0xFFE8F2DCu, GfxRect{2.0f + x * 10, 2.0f + y * 10, 10, 10});
  g.FillRectangle(0x403C82D2u, GfxRect{5.5f, 6.5f, 14, 11});
  g.DrawRectangle(Pen{0xFF1F5FA5u, 1.2f, velmora::LineDash::kDash}, GfxRect{5.5f, 6.5f, 14, 11});
}

void ToolRegion(CGraphics& g) {
  // A free polygon with its corners.
  GfxPoint shape[] = {{3, 9}, {10, 3}, {21, 7}, {18, 20}, {7, 21}};
  g.FillPolygon(0x503C82D2u, shape, 5);
  g.DrawPolygon(Pen{0xFF1F5FA5u, 1.4f}, shape, 5);
  for (const GfxPoint& p : shape) {
    g.FillRectangle(0xFFFFFFFFu, GfxRect{p.x - 1.5f, p.y - 1.5f, 3, 3});
    g.DrawRectangle(Pen{kOutline, 1.0f}, GfxRect{p.x - 1.5f, p.y - 1.5f, 3, 3});
  }
}

}  // namespace

int main(int argc, char** argv) {
  using velmora::tools::Icon;
  std::vector<Icon> icons = {
      {"view_map2d.png", 24, Map2D},      {"view_globe3d.png", 24, [](CGraphics& g) { Globe(g, 12, 12, 9); }},
      {"view_tiles3d.png", 24, Tiles3D},  {"view_earth_app.png", 24, EarthApp},
      {"view_earth_plugin.png", 24, EarthPlugin}, {"view_web_map.png", 24, WebMap},
      {"service_running.png", 16, ServiceRunning}, {"service_stopped.png", 16, ServiceStopped},
      {"point_new.png", 16, PointNew},    {"point_web.png", 16, PointWeb},
      {"point_failed.png", 16, PointFailed}, {"point_quota.png", 16, PointQuota},
      {"point_cache.png", 16, PointCache},
      {"check_off.png", 16, CheckOff},    {"check_on.png", 16, CheckOn},
      {"check_none.png", 16, CheckNone},  {"check_part.png", 16, CheckPart},
      {"region_folder.png", 16, RegionFolder}, {"region_polygon.png", 16, RegionPolygon},
      {"mark_5.png", 16, MarkStar},       {"mark_6.png", 16, MarkFlag},
      {"mark_7.png", 16, MarkSquare},     {"mark_8.png", 16, MarkTriangle},
      {"mark_9.png", 16, MarkTarget},
      {"cursor_free_region.png", 32, CursorFreeRegion}, {"cursor_selection.png", 32, CursorSelection},
      {"tool_browse.png", 24, ToolBrowse}, {"tool_box.png", 24, ToolBox}, {"tool_region.png", 24, ToolRegion},
  };
  const Argb pins[] = {0xFFD64541u, 0xFF3C82D2u, 0xFF3BA55Cu, 0xFFE8962Eu, 0xFF8E5BC2u};
  for (int i = 0; i < 5; ++i)
    icons.push_back({"mark_" + std::to_string(i) + ".png", 16, [color = pins[i]](CGraphics& g) { Pin(g, color); }});
  const Argb bodies[] = {0xFFD8B04Au, 0xFFC0C0C0u, 0xFFD64541u, 0xFF3BA55Cu, 0xFFE8962Eu};
  for (int i = 0; i < 5; ++i)
    icons.push_back({"sat" + std::to_string(i) + ".png", 24, [body = bodies[i]](CGraphics& g) { Satellite(g, body); }});
  return velmora::tools::WriteIcons(argc, argv, "draw_icons", icons);
}
