// The gridding and contouring program on GDAL.
#include "terrain/gdal_grid_server.h"

#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>
#include <cpl_conv.h>
#include <cpl_string.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "core/format.h"
#include "core/geodesy.h"
#include "exchange/dxf_writer.h"
#include "exchange/region_raster.h"
#include "platform/fs.h"
#include "terrain/dem_files.h"

namespace velmora {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void RegisterGdal() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

// A grid of nodes: column 0 at x0, row 0 at y0 (the south), NaN for blank nodes.
struct NodeGrid {
  int nx = 0, ny = 0;
  double x0 = 0, y0 = 0, dx = 0, dy = 0;
  std::vector<float> values;
  float& At(int row, int column) { return values[static_cast<size_t>(row) * nx + column]; }
};

std::string GdalError(const std::string& what) {
  const char* message = CPLGetLastErrorMsg();
  return message && *message ? what + ": " + message : what;
}

// The lines of a text file split at tabs, commas and blanks.
std::vector<std::vector<std::string_view>> Fields(std::string_view text) {
  std::vector<std::vector<std::string_view>> rows;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == ',')) ++i;
      size_t j = i;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != ',') ++j;
      if (j > i) fields.push_back(line.substr(i, j - i));
      i = j;
    }
    if (!fields.empty() && fields[0][0] != ';') rows.push_back(std::move(fields));
  }
  return rows;
}

bool Number(std::string_view text, double* value) {
  if (text.find("°") != std::string_view::npos) return ParseDms(text, value) && std::isfinite(*value);
  const auto v = ParseDouble(text);
  if (!v || !std::isfinite(*v)) return false;
  *value = *v;
  return true;
}

bool ReadText(const std::string& path, std::string* text, std::string* error) {
  const auto bytes = ReadFileBytes(path, error);
  if (!bytes) return false;
  text->assign(bytes->begin(), bytes->end());
  return true;
}

bool WriteGrid(const std::string& path, const NodeGrid& grid, std::string* error) {
  CContourTracer tracer;
  if (!tracer.AllocGrid(grid.ny, grid.nx)) {
    if (error) *error = "the grid does not fit in memory";
    return false;
  }
  double zmin = std::numeric_limits<double>::max(), zmax = -zmin;
  for (int r = 0; r < grid.ny; ++r) {
    for (int c = 0; c < grid.nx; ++c) {
      const float v = grid.values[static_cast<size_t>(r) * grid.nx + c];
      tracer.Value(r, c) = v;
      if (std::isnan(v)) continue;
      zmin = std::min<double>(zmin, v);
      zmax = std::max<double>(zmax, v);
    }
  }
  if (zmin > zmax) zmin = zmax = 0;
  tracer.x_range = {grid.x0, grid.x0 + (grid.nx - 1) * grid.dx};
  tracer.y_range = {grid.y0, grid.y0 + (grid.ny - 1) * grid.dy};
  tracer.z_range = {zmin, zmax};
  const std::string text = FormatSurferGrid(tracer);
  return WriteFileAtomic(path, text.data(), text.size(), error);
}

GDALDatasetH OpenGrid(const std::string& path) {
  RegisterGdal();
  const char* drivers[] = {"GSAG", "GS7BG", "GSBG", nullptr};
  return GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr);
}

bool ReadGrid(const std::string& path, NodeGrid* grid, std::string* error) {
  GDALDatasetH ds = OpenGrid(path);
  if (!ds) {
    if (error) *error = GdalError("cannot open the grid " + path);
    return false;
  }
  double gt[6] = {0, 1, 0, 0, 0, 1};
  GDALGetGeoTransform(ds, gt);
  grid->nx = GDALGetRasterXSize(ds);
  grid->ny = GDALGetRasterYSize(ds);
  grid->dx = gt[1];
  grid->dy = std::fabs(gt[5]);
  grid->x0 = gt[0] + gt[1] / 2;
  grid->y0 = gt[5] < 0 ? gt[3] + gt[5] * (grid->ny - 0.5) : gt[3] + gt[5] / 2;
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  int has_nodata = 0;
  const double nodata = band ? GDALGetRasterNoDataValue(band, &has_nodata) : 0;
  bool ok = band && grid->nx > 0 && grid->ny > 0 &&
            static_cast<size_t>(grid->nx) * grid->ny <= kMaxContourGridNodes;
  if (ok) {
    grid->values.assign(static_cast<size_t>(grid->nx) * grid->ny, 0.0f);
    ok = GDALRasterIO(band, GF_Read, 0, 0, grid->nx, grid->ny, grid->values.data(), grid->nx, grid->ny, GDT_Float32,
                      0, 0) == CE_None;
  }
  if (!ok && error) *error = GdalError("cannot read the grid " + path);
  GDALClose(ds);
  if (!ok) return false;
  // GDAL's rows run from the north; ours from the south.
  if (gt[5] < 0) {
    for (int r = 0; r < grid->ny / 2; ++r)
      std::swap_ranges(grid->values.begin() + static_cast<ptrdiff_t>(r) * grid->nx,
                       grid->values.begin() + static_cast<ptrdiff_t>(r + 1) * grid->nx,
                       grid->values.begin() + static_cast<ptrdiff_t>(grid->ny - 1 - r) * grid->nx);
  }
  for (float& v : grid->values) {
    if ((has_nodata && v == static_cast<float>(nodata)) || v >= 1e38f || !std::isfinite(v)) v = NAN;
  }
  return true;
}

bool Collinear(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = x.size();
  size_t b = 1;
  while (b < n && x[b] == x[0] && y[b] == y[0]) ++b;
  if (b >= n) return true;
  const double ux = x[b] - x[0], uy = y[b] - y[0];
  const double scale = std::hypot(ux, uy);
  for (size_t i = b + 1; i < n; ++i) {
    const double cross = ux * (y[i] - y[0]) - uy * (x[i] - x[0]);
    if (std::fabs(cross) > 1e-9 * scale * std::hypot(x[i] - x[0], y[i] - y[0])) return false;
  }
  return true;
}

}  // namespace

bool InsideOutline(std::span<const PixelPoint> polygon, double x, double y, double tolerance) {
  if (PointInPolygon(polygon, x, y, RegionFillRule::kEvenOdd)) return true;
  for (size_t i = 0; i < polygon.size(); ++i) {
    const PixelPoint& a = polygon[i];
    const PixelPoint& b = polygon[(i + 1) % polygon.size()];
    const double vx = b.x - a.x, vy = b.y - a.y, len2 = vx * vx + vy * vy;
    double t = len2 > 0 ? ((x - a.x) * vx + (y - a.y) * vy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    if (std::hypot(a.x + t * vx - x, a.y + t * vy - y) <= tolerance) return true;
  }
  return false;
}

bool ReadGridFile(const std::string& path, CContourTracer* tracer, std::string* error) {
  NodeGrid g;
  if (!ReadGrid(path, &g, error)) return false;
  CContourTracer read;
  if (!read.AllocGrid(g.ny, g.nx)) {
    if (error) *error = "the grid does not fit in memory";
    return false;
  }
  double zmin = std::numeric_limits<double>::max(), zmax = -zmin;
  for (int r = 0; r < g.ny; ++r)
    for (int c = 0; c < g.nx; ++c) {
      const float v = g.At(r, c);
      read.Value(r, c) = v;
      if (std::isnan(v)) continue;
      zmin = std::min<double>(zmin, v);
      zmax = std::max<double>(zmax, v);
    }
  if (zmin > zmax) zmin = zmax = 0;
  tracer->Reset();
  if (!tracer->AllocGrid(g.ny, g.nx)) {
    if (error) *error = "the grid does not fit in memory";
    return false;
  }
  for (int r = 0; r < g.ny; ++r) std::copy_n(read.Row(r), g.nx, tracer->Row(r));
  tracer->x_range = {g.x0, g.x0 + (g.nx - 1) * g.dx};
  tracer->y_range = {g.y0, g.y0 + (g.ny - 1) * g.dy};
  tracer->z_range = {zmin, zmax};
  return true;
}

std::unique_ptr<IGridContourServer> CreateGdalGridServer(std::string*) {
  RegisterGdal();
  return std::make_unique<CGdalGridServer>();
}

bool CGdalGridServer::Fail(std::string reason) {
  error_ = std::move(reason);
  return false;
}

bool CGdalGridServer::GridData(const std::string& data, int x_column, int y_column, int z_column,
                               const std::string& grid) {
  std::string text, error;
  if (!ReadText(data, &text, &error)) return Fail(error);
  const int need = std::max({x_column, y_column, z_column});
  if (x_column < 1 || y_column < 1 || z_column < 1) return Fail("bad column numbers");
  std::vector<double> xs, ys, zs;
  for (const auto& row : Fields(text)) {
    if (static_cast<int>(row.size()) < need) continue;
    double x = 0, y = 0, z = 0;
    if (!Number(row[x_column - 1], &x) || !Number(row[y_column - 1], &y) || !Number(row[z_column - 1], &z)) continue;
    xs.push_back(x);
    ys.push_back(y);
    zs.push_back(z);
  }
  if (xs.size() < 3) return Fail("fewer than three points to grid");
  if (xs.size() > static_cast<size_t>(std::numeric_limits<GUInt32>::max())) return Fail("too many points");
  if (Collinear(xs, ys)) return Fail(kCollinear);
  blank_polygon_.clear();
  const auto [xmin_it, xmax_it] = std::minmax_element(xs.begin(), xs.end());
  const auto [ymin_it, ymax_it] = std::minmax_element(ys.begin(), ys.end());
  const double xmin = *xmin_it, ymin = *ymin_it;
  const double w = *xmax_it - xmin, h = *ymax_it - ymin;
  double step = spacing_;
  if (!(step > 0) || !std::isfinite(step)) step = std::sqrt(w * h / static_cast<double>(xs.size()));
  auto side = [step](double extent) {
    const double n = std::round(extent / step) + 1;
    return static_cast<int>(std::clamp(std::isfinite(n) ? n : 2.0, 2.0, static_cast<double>(kMaxGridSide)));
  };
  NodeGrid g;
  g.nx = side(w);
  g.ny = side(h);
  g.dx = w / (g.nx - 1);
  g.dy = h / (g.ny - 1);
  g.x0 = xmin;
  g.y0 = ymin;
  g.values.assign(static_cast<size_t>(g.nx) * g.ny, 0.0f);

  // Linear over the triangles; nodes outside the points' hull stay blank.
  GDALGridLinearOptions options{};
  options.nSizeOfStructure = sizeof(options);
  options.dfRadius = 0;
  options.dfNoDataValue = kSurferBlankValue;
  // GDAL's triangle search has fixed tolerances: the points are gridded in node units from the
  // first node (degrees far from 0 with steps of 1e-3 otherwise find no triangle at all).
  for (size_t i = 0; i < xs.size(); ++i) {
    xs[i] = (xs[i] - g.x0) / g.dx;
    ys[i] = (ys[i] - g.y0) / g.dy;
  }
  CPLErrorReset();
  // GDAL places nodes at cell centres: the bounds reach half a cell beyond the outer nodes.
  const CPLErr err = GDALGridCreate(GGA_Linear, &options, static_cast<GUInt32>(xs.size()), xs.data(), ys.data(),
                                    zs.data(), -0.5, g.nx - 0.5, -0.5, g.ny - 0.5, g.nx, g.ny, GDT_Float32,
                                    g.values.data(), nullptr, nullptr);
  if (err != CE_None) return Fail(GdalError("gridding failed"));
  for (float& v : g.values)
    if (v >= 1e38f || !std::isfinite(v)) v = NAN;
  if (!WriteGrid(grid, g, &error)) return Fail(error);
  return true;
}

bool CGdalGridServer::GridBlank(const std::string& grid, const std::string& bln, const std::string& out) {
  std::string text, error;
  if (!ReadText(bln, &text, &error)) return Fail(error);
  const auto rows = Fields(text);
  double count = 0;
  if (rows.empty() || !Number(rows[0][0], &count) || count < 3 || count > static_cast<double>(rows.size() - 1))
    return Fail("a blanking file without an outline: " + bln);
  std::vector<PixelPoint> polygon;
  for (size_t i = 1; i <= static_cast<size_t>(count); ++i) {
    PixelPoint p;
    if (rows[i].size() < 2 || !Number(rows[i][0], &p.x) || !Number(rows[i][1], &p.y))
      return Fail(FormatC("line %d of the blanking file cannot be read", static_cast<int>(i + 1)));
    polygon.push_back(p);
  }
  NodeGrid g;
  if (!ReadGrid(grid, &g, &error)) return Fail(error);
  blank_polygon_ = polygon;
  for (int r = 0; r < g.ny; ++r) {
    for (int c = 0; c < g.nx; ++c) {
      const double x = g.x0 + c * g.dx, y = g.y0 + r * g.dy;
      // Nodes on the outline stay (a rectangle's own corners and sides are on it).
      if (!InsideOutline(polygon, x, y, kBlankEdgeTolerance * std::min(g.dx, g.dy))) g.At(r, c) = NAN;
    }
  }
  if (!WriteGrid(out, g, &error)) return Fail(error);
  return true;
}

bool CGdalGridServer::AddContourMap(const std::string& grid) {
  GDALDatasetH ds = OpenGrid(grid);
  if (!ds) return Fail(GdalError("cannot open the grid " + grid));
  GDALClose(ds);
  map_grid_ = grid;
  levels_.clear();
  lines_.clear();
  traced_ = false;
  return true;
}

bool CGdalGridServer::SetLevels(double first, double last, double interval) {
  if (map_grid_.empty()) return Fail("no contour map");
  std::vector<float> values;
  const ContourStatus status = ComputeContourLevels(first, last, interval, &values);
  if (status != ContourStatus::kOk) return Fail("the contour levels cannot be made from this interval");
  levels_.clear();
  for (float v : values) levels_.push_back({v, false, 0xFF000000u});
  lines_.clear();
  traced_ = false;
  return true;
}

double CGdalGridServer::LevelValue(int index) const {
  return index >= 0 && index < LevelCount() ? levels_[static_cast<size_t>(index)].value : kNaN;
}

void CGdalGridServer::SetLabelFrequency(int first, int labelled, int skipped) {
  // The frequency marks the levels; SetLevelLabel may change each afterwards.
  const int period = std::max(1, labelled + std::max(0, skipped));
  for (int i = 0; i < LevelCount(); ++i) {
    const int k = i - (first - 1);
    levels_[static_cast<size_t>(i)].label = k >= 0 && k % period < labelled;
  }
}

void CGdalGridServer::SetLabelFont(Argb color, double height) {
  label_color_ = color;
  if (height > 0 && std::isfinite(height)) label_height_ = height;
}

void CGdalGridServer::SetLevelLabel(int index, bool shown) {
  if (index >= 0 && index < LevelCount()) levels_[static_cast<size_t>(index)].label = shown;
}

void CGdalGridServer::SetLevelColor(int index, Argb color) {
  if (index >= 0 && index < LevelCount()) levels_[static_cast<size_t>(index)].color = color;
}

bool CGdalGridServer::Trace() {
  if (traced_) return true;
  if (map_grid_.empty()) return Fail("no contour map");
  lines_.clear();
  if (levels_.empty()) return traced_ = true;
  GDALDatasetH ds = OpenGrid(map_grid_);
  if (!ds) return Fail(GdalError("cannot open the grid " + map_grid_));
  OGRSFDriverH memory = OGRGetDriverByName("Memory");
  OGRDataSourceH out = memory ? OGR_Dr_CreateDataSource(memory, "contours", nullptr) : nullptr;
  OGRLayerH layer = out ? OGR_DS_CreateLayer(out, "contour", nullptr, wkbLineString, nullptr) : nullptr;
  bool ok = layer != nullptr;
  if (ok) {
    OGRFieldDefnH id = OGR_Fld_Create("ID", OFTInteger);
    OGRFieldDefnH elev = OGR_Fld_Create("ELEV", OFTReal);
    ok = OGR_L_CreateField(layer, id, TRUE) == OGRERR_NONE && OGR_L_CreateField(layer, elev, TRUE) == OGRERR_NONE;
    OGR_Fld_Destroy(id);
    OGR_Fld_Destroy(elev);
  }
  if (ok) {
    std::string fixed = "FIXED_LEVELS=";
    for (size_t i = 0; i < levels_.size(); ++i) {
      if (i) fixed.push_back(',');
      fixed.append(FormatC("%.9g", levels_[i].value));
    }
    char** options = nullptr;
    options = CSLAddString(options, fixed.c_str());
    options = CSLAddString(options, "ID_FIELD=0");
    options = CSLAddString(options, "ELEV_FIELD=1");
    options = CSLAddString(options, FormatC("NODATA=%.9g", kSurferBlankValue).c_str());
    CPLErrorReset();
    ok = GDALContourGenerateEx(GDALGetRasterBand(ds, 1), layer, options, nullptr, nullptr) == CE_None;
    CSLDestroy(options);
    if (!ok) error_ = GdalError("contouring failed");
  } else {
    error_ = GdalError("no layer for the contours");
  }
  double gt[6] = {0, 1, 0, 0, 0, -1};
  GDALGetGeoTransform(ds, gt);
  const double cell = std::min(std::fabs(gt[1]), std::fabs(gt[5]));
  if (ok) {
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
      const double elev = OGR_F_GetFieldAsDouble(feature, 1);
      int best = 0;
      for (int i = 1; i < LevelCount(); ++i)
        if (std::fabs(levels_[i].value - elev) < std::fabs(levels_[best].value - elev)) best = i;
      OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
      const int parts = geometry ? std::max(1, OGR_G_GetGeometryCount(geometry)) : 0;
      for (int k = 0; k < parts; ++k) {
        OGRGeometryH part = OGR_G_GetGeometryCount(geometry) > 0 ? OGR_G_GetGeometryRef(geometry, k) : geometry;
        Line line;
        line.level = best;
        auto flush = [&] {
          if (line.points.size() >= 2) lines_.push_back(line);
          line.points.clear();
        };
        for (int i = 0; i < OGR_G_GetPointCount(part); ++i) {
          const double x = OGR_G_GetX(part, i), y = OGR_G_GetY(part, i);
          // Contouring reaches half a cell into the cells beside blank nodes: a blanked map's
          // lines end where they leave the outline.
          if (!blank_polygon_.empty() && !InsideOutline(blank_polygon_, x, y, kBlankEdgeTolerance * cell)) {
            flush();
            continue;
          }
          line.points.push_back({x, y});
        }
        flush();
      }
      OGR_F_Destroy(feature);
    }
    // In level order, as the set's lists are.
    std::stable_sort(lines_.begin(), lines_.end(), [](const Line& a, const Line& b) { return a.level < b.level; });
  }
  if (out) OGR_DS_Destroy(out);
  GDALClose(ds);
  traced_ = ok;
  return ok;
}

bool CGdalGridServer::ExportContours(const std::string& path) {
  if (!Trace()) return false;
  DxfContent content;
  content.layers.push_back({"Contours", 7});
  for (const Line& line : lines_) {
    const Level& level = levels_[static_cast<size_t>(line.level)];
    DxfPolyline pl;
    pl.layer = "Contours";
    const uint32_t rgb = level.color & 0xFFFFFFu;
    pl.aci = NearestAci(rgb);
    pl.true_color = rgb;
    pl.elevation = level.value;
    pl.has_elevation = true;
    for (const auto& [x, y] : line.points) pl.points.push_back({x, y, level.value});
    content.polylines.push_back(std::move(pl));
  }
  const std::string bytes = WriteDxfDocument(content);
  std::string error;
  if (!WriteFileAtomic(path, bytes.data(), bytes.size(), &error)) return Fail(error);
  return true;
}

bool CGdalGridServer::ExportDocument(const std::string& path, const std::string& /*options*/) {
  // Texts are always written as texts (the only form this program has).
  if (!Trace()) return false;
  DxfContent content;
  content.layers.push_back({"Labels", 7});
  const uint32_t rgb = label_color_ & 0xFFFFFFu;
  for (const Line& line : lines_) {
    const Level& level = levels_[static_cast<size_t>(line.level)];
    if (!level.label) continue;
    // The point halfway along the line and the direction of its segment there.
    double total = 0;
    for (size_t i = 1; i < line.points.size(); ++i)
      total += std::hypot(line.points[i].first - line.points[i - 1].first,
                          line.points[i].second - line.points[i - 1].second);
    double walked = 0, x = line.points[0].first, y = line.points[0].second, angle = 0;
    for (size_t i = 1; i < line.points.size(); ++i) {
      const auto [ax, ay] = line.points[i - 1];
      const auto [bx, by] = line.points[i];
      const double d = std::hypot(bx - ax, by - ay);
      if (d <= 0) continue;
      angle = std::atan2(by - ay, bx - ax) * 180 / M_PI;
      if (walked + d >= total / 2) {
        const double t = (total / 2 - walked) / d;
        x = ax + t * (bx - ax);
        y = ay + t * (by - ay);
        break;
      }
      walked += d;
    }
    // Upright: text never reads upside down.
    if (angle > 90) angle -= 180;
    if (angle <= -90) angle += 180;
    DxfText text;
    text.layer = "Labels";
    text.aci = NearestAci(rgb);
    text.true_color = rgb;
    text.x = text.align_x = x;
    text.y = text.align_y = y;
    text.has_align_point = true;
    text.halign = 1;  // centre
    text.valign = 2;  // middle
    text.height = label_height_;
    text.rotation = angle;
    text.text = FormatC("%g", level.value);
    content.texts.push_back(std::move(text));
  }
  const std::string bytes = WriteDxfDocument(content);
  std::string error;
  if (!WriteFileAtomic(path, bytes.data(), bytes.size(), &error)) return Fail(error);
  return true;
}

void CGdalGridServer::Quit() {
  map_grid_.clear();
  levels_.clear();
  lines_.clear();
  traced_ = false;
}

}  // namespace velmora
