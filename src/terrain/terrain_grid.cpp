// The terrain grid: step counts, the grid of the map area or the whole earth, and its vertices.
#include "terrain/terrain_grid.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "core/geodesy.h"
#include "platform/r3d/d3dx_mesh.h"
#include "terrain/elevation_store.h"
#include "terrain/height_to_color.h"

namespace velmora {

int GridStepCount(double span, double step) {
  if (!(span > 0) || !(step > 0) || !std::isfinite(span) || !std::isfinite(step)) return 0;
  double q = span / step;
  if (!(q < 2147483647.0)) return 0;
  const double up = std::ceil(q);
  if (up - q <= 1e-6 * up) q = up;
  return static_cast<int>(q);
}

bool PlanTerrainGrid(const MapCamera& camera, const float top_left[2], const float bottom_right[2], int samples,
                     TerrainGrid* grid, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  TerrainGrid g;
  g.kind = camera.kind;
  if (!std::isfinite(camera.zoom)) return fail("地图缩放级别无效");
  g.zoom = static_cast<int>(std::clamp(camera.zoom, 0.0, 30.0));
  const double world_metres = 40075016.68557849 / (256.0 * std::ldexp(1.0, g.zoom));
  g.resolution = std::max(1, static_cast<int>(world_metres));

  if (camera.zoom < kWholeEarthZoom) {
    g.whole_earth = true;
    g.centre_lng = camera.lng;
    g.centre_lat = camera.lat;
    g.columns = kWholeEarthSteps + 1;
    g.rows = kWholeEarthSteps / 2 + 1;
    g.step = 360.0 / kWholeEarthSteps;
    g.west = -180.0;
    g.north = 90.0;
    const PixelPoint world = KindWorldPixels(g.kind, g.zoom);
    g.texture_width = world.x;
    g.texture_height = world.y;
  } else {
    if (camera.width <= 0 || camera.height <= 0) return fail("地图窗口没有大小");
    if (samples < kMinDemSample || samples > kMaxDemSample) return fail("地形采样数应在2到4096之间");
    const double lon1 = top_left[0], lat1 = top_left[1], lon2 = bottom_right[0], lat2 = bottom_right[1];
    if (!std::isfinite(lon1) || !std::isfinite(lat1) || !std::isfinite(lon2) || !std::isfinite(lat2))
      return fail("地图范围无效");
    g.centre_lng = (lon1 + lon2) / 2;
    g.centre_lat = (lat1 + lat2) / 2;
    const int64_t width = camera.width, height = camera.height;
    if (width < height) {
      const double span = std::fabs(lon1 - lon2);
      g.step = std::max(span / samples, kMinTerrainStep);
      g.columns = GridStepCount(span, g.step);
      g.rows = static_cast<int>(std::min<int64_t>(height * g.columns / width, INT32_MAX));
    } else {
      const double span = std::fabs(lat1 - lat2);
      g.step = std::max(span / samples, kMinTerrainStep);
      g.rows = GridStepCount(span, g.step);
      g.columns = static_cast<int>(std::min<int64_t>(width * g.rows / height, INT32_MAX));
    }
    if (g.columns <= 0 || g.rows <= 0) return fail("地图范围太小, 没有地形网格");
    g.west = g.centre_lng - g.columns * g.step / 2;
    g.north = g.centre_lat + g.rows * g.step / 2;
    const double east = g.centre_lng + g.columns * g.step / 2, south = g.centre_lat - g.rows * g.step / 2;
    const PixelPoint se = LngLatToPixel(east, south, g.kind, g.zoom);
    const PixelPoint nw = LngLatToPixel(g.west, g.north, g.kind, g.zoom);
    g.texture_width = se.x - nw.x;
    g.texture_height = se.y - nw.y;
  }
  // One strip of 2·columns indices per pair of rows; the saved mesh needs the same vertices.
  if (g.columns < 2 || g.rows < 2) return fail("地图范围太小, 没有地形网格");
  if (g.VertexCount() > kMaxMeshVertices || uint64_t(g.rows - 1) * uint64_t(g.columns - 1) * 2 > kMaxMeshFaces)
    return fail("地形网格过大, 超出三维设备的限度, 请减小采样数");
  const PixelPoint origin = LngLatToPixel(g.west, g.north, g.kind, g.zoom);
  g.px0 = origin.x;
  g.py0 = origin.y < -2000 ? 0.0 : origin.y;
  if (!(g.texture_width > 0)) g.texture_width = 1;
  if (!(g.texture_height > 0)) g.texture_height = 1;
  *grid = g;
  return true;
}

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

// What each column and each row share: the sine and cosine of the longitude and the texture u,
// the sine and cosine of the latitude and v. The products below are those of LngLatToXYZ, in the
// same order, so the vertices come out the same to the bit.
struct GridAxes {
  std::vector<float> lng, lat;
  std::vector<double> cos_lng, sin_lng, u, cos_lat, sin_lat, v;
};

GridAxes MakeAxes(const TerrainGrid& grid) {
  GridAxes a;
  const KindTransforms& t = TransformsOfKind(grid.kind);
  auto fraction = [](double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0; };
  for (int c = 0; c < grid.columns; ++c) {
    const double lon = grid.west + c * grid.step;
    const float f = static_cast<float>(lon);
    a.lng.push_back(f);
    a.cos_lng.push_back(std::cos(f * kDegToRad));
    a.sin_lng.push_back(std::sin(f * kDegToRad));
    a.u.push_back(fraction((t.lng_to_x(lon, grid.zoom) - grid.px0) / grid.texture_width));
  }
  for (int r = 0; r < grid.rows; ++r) {
    const double lat = grid.north - r * grid.step;
    const float f = static_cast<float>(lat);
    a.lat.push_back(f);
    a.cos_lat.push_back(std::cos(f * kDegToRad));
    a.sin_lat.push_back(std::sin(f * kDegToRad));
    a.v.push_back(fraction((t.lat_to_y(lat, grid.zoom) - grid.py0) / grid.texture_height));
  }
  return a;
}

// The vertices of rows [first, last) into `out`.
void ComputeRows(const TerrainGrid& grid, const GridAxes& axes, IntPair factor, CElevationStore& elevation, int first,
                 int last, std::vector<TerrainVertex>& out, const std::atomic<bool>* cancel, std::atomic<int>& rows_done,
                 std::atomic<float>* progress) {
  const double a = factor.a, b = factor.b;
  for (int r = first; r < last; ++r) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return;
    for (int c = 0; c < grid.columns; ++c) {
      float pos[2] = {axes.lng[size_t(c)], axes.lat[size_t(r)]};
      float h = kNoElevation;
      elevation.GetElevation(pos, &h, grid.resolution);
      if (h == kNoElevation || !std::isfinite(h)) h = 0;
      TerrainVertex& v = out[size_t(r) * size_t(grid.columns) + size_t(c)];
      const double radius = kEarthRadiusKm + static_cast<float>((a * h + b) * 0.001);
      v.x = static_cast<float>(radius * axes.cos_lat[size_t(r)] * axes.cos_lng[size_t(c)]);
      v.y = static_cast<float>(radius * axes.sin_lat[size_t(r)]);
      v.z = static_cast<float>(radius * axes.cos_lat[size_t(r)] * axes.sin_lng[size_t(c)]);
      const RgbColor rgb = HeightToColor(h);
      v.color = 0xFF000000u | (uint32_t(rgb.r) << 16) | (uint32_t(rgb.g) << 8) | uint32_t(rgb.b);
      v.u = static_cast<float>(axes.u[size_t(c)]);
      v.v = static_cast<float>(axes.v[size_t(r)]);
    }
    const int done = rows_done.fetch_add(1, std::memory_order_relaxed) + 1;
    if (progress) progress->store(float(done) / float(grid.rows), std::memory_order_relaxed);
  }
}

}  // namespace

bool ComputeTerrainVertices(const TerrainGrid& grid, IntPair factor, CElevationStore& elevation,
                            std::vector<TerrainVertex>* out, const std::atomic<bool>* cancel,
                            std::atomic<float>* progress) {
  out->assign(grid.VertexCount(), TerrainVertex{});
  const GridAxes axes = MakeAxes(grid);
  std::atomic<int> rows_done{0};
  // Large grids are shared out by rows among a few threads (the store's look-ups take no lock
  // once a file is open); each thread writes its own rows.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int parts = grid.rows >= 64 ? static_cast<int>(std::min(4u, cores)) : 1;
  std::vector<std::thread> helpers;
  const int per_part = (grid.rows + parts - 1) / parts;
  for (int part = 1; part < parts; ++part) {
    const int first = part * per_part, last = std::min(grid.rows, first + per_part);
    if (first >= last) break;
    helpers.emplace_back([&, first, last] {
      ComputeRows(grid, axes, factor, elevation, first, last, *out, cancel, rows_done, progress);
    });
  }
  ComputeRows(grid, axes, factor, elevation, 0, std::min(grid.rows, per_part), *out, cancel, rows_done, progress);
  for (std::thread& t : helpers) t.join();
  return rows_done.load() == grid.rows && !(cancel && cancel->load());
}

std::vector<uint32_t> TerrainStripIndices(int columns, int rows) {
  std::vector<uint32_t> out;
  if (columns < 1 || rows < 2) return out;
  out.reserve(size_t(rows - 1) * size_t(columns) * 2);
  for (int r = 0; r + 1 < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      out.push_back(uint32_t(r + 1) * uint32_t(columns) + uint32_t(c));
      out.push_back(uint32_t(r) * uint32_t(columns) + uint32_t(c));
    }
  return out;
}

}  // namespace velmora
