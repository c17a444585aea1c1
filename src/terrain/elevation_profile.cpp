// Profile and preview sampling, the profile chart's layout, the hiking summary and its file.
#include "terrain/elevation_profile.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "core/format.h"
#include "core/geodesy.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "terrain/contour_grid.h"
#include "terrain/elevation_store.h"

namespace velmora {
namespace {

constexpr double kEquatorMetres = 40075016.68557849;
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

double LineLengthKm(const std::vector<ShapePoint>& points) {
  static_assert(sizeof(ShapePoint) == 2 * sizeof(float));
  return PolylineLength(reinterpret_cast<const float*>(points.data()), points.size());
}

}  // namespace

int ProfileResolution(double zoom) {
  double z = std::isnan(zoom) ? 0.0 : std::clamp(std::trunc(zoom), 0.0, 30.0);
  const int64_t pixels = int64_t{256} << static_cast<int>(z);
  const double metres = std::trunc(kEquatorMetres / static_cast<double>(pixels));
  return std::max(1, static_cast<int>(metres));
}

bool SampleLineHeights(CElevationStore& store, const std::vector<ShapePoint>& points, int resolution,
                       std::vector<float>* heights, const SampleControl& control) {
  heights->assign(points.size(), kNoElevation);
  for (size_t i = 0; i < points.size(); ++i) {
    if (control.Stopped()) return false;
    float pos[2] = {points[i].lng, points[i].lat};
    float h = kNoElevation;
    store.GetElevation(pos, &h, resolution);
    (*heights)[i] = h;
    if (control.progress) control.progress(static_cast<float>(i + 1) / static_cast<float>(points.size()));
  }
  return !control.Stopped();
}

// ---- profile chart layout -------------------------------------------------------------------

ProfileLayout LayoutProfile(const std::vector<ShapePoint>& points, const std::vector<float>& heights, int width,
                            int height) {
  ProfileLayout layout;
  if (points.size() < 2 || heights.size() != points.size()) return layout;
  double lowest = 2147483647.0;
  double highest = -2147483648.0;
  for (float h : heights) {
    if (!HasElevation(h) || !std::isfinite(h)) continue;
    layout.has_height = true;
    lowest = std::min(lowest, static_cast<double>(h));
    highest = std::max(highest, std::trunc(static_cast<double>(h)));
  }
  if (!layout.has_height) return layout;
  layout.lowest = lowest;
  layout.range = highest - lowest;
  layout.total_length = LineLengthKm(points) * 1000.0;

  const double w = std::max(width, 0);
  const double hgt = std::max(height, 0);
  const bool flat = !(layout.range > 0);
  const bool no_length = !(layout.total_length > 0);
  layout.points.resize(points.size());
  double along = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    if (i > 0) {
      along += GreatCircleDistance(points[i - 1].lng, points[i - 1].lat, points[i].lng, points[i].lat) * 1000.0;
    }
    const float h = heights[i];
    ProfileScreenPoint& p = layout.points[i];
    p.x = static_cast<float>(no_length ? w / 2 : (i == 0 ? 0.0 : w * along / layout.total_length));
    if (!HasElevation(h) || !std::isfinite(h)) {
      p.y = std::numeric_limits<float>::quiet_NaN();
    } else if (flat) {
      p.y = static_cast<float>(hgt / 2);
    } else {
      p.y = static_cast<float>((layout.range - h + layout.lowest) * hgt / layout.range);
    }
  }
  return layout;
}

int FindProfilePoint(const ProfileLayout& layout, int x, int y, int slop) {
  for (size_t i = 0; i < layout.points.size(); ++i) {
    const ProfileScreenPoint& p = layout.points[i];
    if (std::isnan(p.y)) continue;
    if (std::fabs(p.x - static_cast<float>(x)) <= static_cast<float>(slop) &&
        std::fabs(p.y - static_cast<float>(y)) <= static_cast<float>(slop))
      return static_cast<int>(i);
  }
  return -1;
}

// ---- hiking summary -------------------------------------------------------------------------

double HikingChordKm(double lng1, double lat1, double h1, double lng2, double lat2, double h2) {
  auto xyz = [](double lng, double lat, double h, double out[3]) {
    const double r = kEarthRadiusKm + h * 0.001;
    const double lo = lng * kDegToRad, la = lat * kDegToRad;
    out[0] = r * std::cos(la) * std::cos(lo);
    out[1] = r * std::sin(la);
    out[2] = r * std::cos(la) * std::sin(lo);
  };
  double a[3], b[3];
  xyz(lng1, lat1, h1, a);
  xyz(lng2, lat2, h2, b);
  const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

HikingSummary ComputeHikingSummary(const std::vector<ShapePoint>& points, const std::vector<float>& heights) {
  HikingSummary s;
  const size_t n = std::min(points.size(), heights.size());
  for (size_t i = 0; i < n; ++i) {
    if (!HasElevation(heights[i]) || !std::isfinite(heights[i])) continue;
    if (!s.has_height) {
      s.has_height = true;
      s.highest = s.lowest = i;
    } else {
      if (heights[i] > heights[s.highest]) s.highest = i;
      if (heights[i] < heights[s.lowest]) s.lowest = i;
    }
  }
  if (!s.has_height) return s;
  s.length_km = LineLengthKm(points);
  for (size_t i = 1; i < n; ++i) {
    const float a = heights[i - 1], b = heights[i];
    if (!HasElevation(a) || !HasElevation(b) || !std::isfinite(a) || !std::isfinite(b)) continue;
    const double d = HikingChordKm(points[i - 1].lng, points[i - 1].lat, a, points[i].lng, points[i].lat, b);
    if (b > a) {
      s.uphill_km += d;
    } else if (b < a) {
      s.downhill_km += d;
    } else {
      s.level_km += d;
    }
  }
  return s;
}

std::string HikingFileName(std::string_view line_name) {
  std::string name = line_name.empty() ? std::string("walk") : std::string(line_name);
  for (char& c : name) {
    if (c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
      c = '-';
  }
  // Each pair of hyphens becomes one, left to right in one pass.
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    out.push_back(name[i]);
    if (name[i] == '-' && i + 1 < name.size() && name[i + 1] == '-') ++i;
  }
  return out;
}

std::string FormatHikingSummary(std::string_view name, const std::vector<ShapePoint>& points,
                                const std::vector<float>& heights, const HikingSummary& s) {
  std::string text = std::string(name) + " 徒步统计\n\n";
  if (!s.has_height) return text;
  const ShapePoint& hi = points[s.highest];
  const ShapePoint& lo = points[s.lowest];
  const double hh = heights[s.highest], lh = heights[s.lowest];
  text += FormatC("最高点：%f, %f: %gm\n", static_cast<double>(hi.lng), static_cast<double>(hi.lat), hh);
  text += FormatC("最低点：%f, %f: %gm\n", static_cast<double>(lo.lng), static_cast<double>(lo.lat), lh);
  text += FormatC("落  差：%gm\n", hh - lh);
  text += "\n";
  text += FormatC("平面距离：%.3f km\n", s.length_km);
  text += FormatC("上    坡：%.3f km\n", s.uphill_km);
  text += FormatC("下    坡：%.3f km\n", s.downhill_km);
  text += FormatC("平    地：%.3f km\n", s.level_km);
  text += "\n";
  return text;
}

HikingFileStatus WriteHikingSummary(const std::string& walk_folder, std::string_view line_name,
                                    const std::vector<ShapePoint>& points, const std::vector<float>& heights,
                                    std::string* path) {
  const HikingSummary summary = ComputeHikingSummary(points, heights);
  if (!summary.has_height) return HikingFileStatus::kNoHeight;
  const std::string name = HikingFileName(line_name);
  const std::string folder = WithTrailingSlash(walk_folder);
  const std::string file = folder + name + ".txt";
  if (path) *path = file;
  if (!EnsureFolder(folder)) return HikingFileStatus::kCannotCreate;
  const std::string bytes = Utf8ToAnsi(FormatHikingSummary(name, points, heights, summary));
  if (!WriteFileAtomic(file, bytes.data(), bytes.size())) return HikingFileStatus::kCannotCreate;
  return HikingFileStatus::kWritten;
}

// ---- preview grid ---------------------------------------------------------------------------

ShapePoint ElevationGrid::GridToLngLat(float x, float y) const {
  const double lng = static_cast<double>(x) * step_lon + left;
  const double lat = (static_cast<double>(rows) - y - 1.0) * step_lat + bottom;
  return ShapePoint{static_cast<float>(lng), static_cast<float>(lat)};
}

bool PlanElevationGrid(float left, float top, float right, float bottom, int columns_wanted, int rows_wanted,
                       ElevationGrid* grid) {
  if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) || !std::isfinite(bottom)) return false;
  if (!(right > left) || !(top > bottom)) return false;
  if (columns_wanted < 1 || rows_wanted < 1 || columns_wanted > kMaxSampleSide || rows_wanted > kMaxSampleSide)
    return false;
  const double width = static_cast<double>(right) - left;
  const double height = static_cast<double>(top) - bottom;
  const float step_lon = std::max(static_cast<float>(width / columns_wanted), kMinSampleStep);
  const float step_lat = std::max(static_cast<float>(height / rows_wanted), kMinSampleStep);
  // The step is a float: a side of exactly n steps divides back to n within rounding, which the
  // small allowance keeps from truncating to n - 1.
  const int columns = static_cast<int>(std::min(std::trunc(width / step_lon + 1e-4), double{kMaxSampleSide}));
  const int rows = static_cast<int>(std::min(std::trunc(height / step_lat + 1e-4), double{kMaxSampleSide}));
  if (columns < 2 || rows < 2) return false;
  *grid = ElevationGrid();
  grid->columns = columns;
  grid->rows = rows;
  grid->step_lon = step_lon;
  grid->step_lat = step_lat;
  grid->left = left;
  grid->bottom = bottom;
  return true;
}

bool SampleElevationGrid(CElevationStore& store, float left, float top, float right, float bottom,
                         int columns_wanted, int rows_wanted, int resolution, ElevationGrid* grid,
                         const SampleControl& control) {
  ElevationGrid g;
  if (!PlanElevationGrid(left, top, right, bottom, columns_wanted, rows_wanted, &g)) return false;
  try {
    g.heights.assign(static_cast<size_t>(g.rows), std::vector<float>(static_cast<size_t>(g.columns), kNoElevation));
    g.positions.assign(static_cast<size_t>(g.rows), std::vector<ShapePoint>(static_cast<size_t>(g.columns)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int r = 0; r < g.rows; ++r) {
    for (int c = 0; c < g.columns; ++c) {
      if (control.Stopped()) return false;
      const ShapePoint at = g.GridToLngLat(static_cast<float>(c), static_cast<float>(r));
      float pos[2] = {at.lng, at.lat};
      float h = kNoElevation;
      store.GetElevation(pos, &h, resolution);
      g.heights[r][c] = h;
      g.positions[r][c] = at;
      if (HasElevation(h) && std::isfinite(h)) {
        g.lowest = std::min(g.lowest, h);
        g.highest = std::max(g.highest, h);
      }
    }
    if (control.progress) control.progress(static_cast<float>(r + 1) / static_cast<float>(g.rows));
  }
  *grid = std::move(g);
  return true;
}

bool FillContourGrid(const ElevationGrid& grid, CContourGrid& contour) {
  if (grid.heights.size() != static_cast<size_t>(grid.rows) || grid.positions.size() != grid.heights.size())
    return false;
  for (size_t r = 0; r < grid.heights.size(); ++r) {
    if (grid.heights[r].size() != static_cast<size_t>(grid.columns) ||
        grid.positions[r].size() != static_cast<size_t>(grid.columns))
      return false;
  }
  if (!contour.Allocate(grid.columns, grid.rows)) return false;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int r = 0; r < grid.rows; ++r) {
    float* row = contour.Row(r);
    for (int c = 0; c < grid.columns; ++c) {
      const float h = grid.heights[r][c];
      row[c] = HasElevation(h) && std::isfinite(h) ? h : nan;
      const ShapePoint& p = grid.positions[r][c];
      contour.NodePosition(r, c) = ContourPoint{p.lng, p.lat};
    }
  }
  if (grid.HasData()) {
    contour.SetValueRange(grid.lowest, grid.highest);
  } else {
    contour.SetValueRange(0, 0);
  }
  return true;
}

}  // namespace velmora
