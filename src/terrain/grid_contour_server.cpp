// The run of the gridding and contouring program over the panel's points.
#include "terrain/grid_contour_server.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "terrain/dem_files.h"
#include "terrain/dxf_reader.h"
#include "terrain/gdal_grid_server.h"
#include "terrain/height_to_color.h"

namespace velmora {
namespace {

void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

GridContourResult Failed(IGridContourServer* server, std::string reason) {
  GridContourResult result;
  result.error = std::move(reason);
  if (server) server->Quit();
  return result;
}

}  // namespace

double GridSpacingOf(const CDemGrid& grid, bool projected) {
  if (grid.mode != kDemModeRegion || grid.sample_distance < 1) return 0;
  return projected ? static_cast<double>(grid.sample_distance)
                   : static_cast<double>(static_cast<float>(grid.sample_distance) * kDemGridDegreesPerMetre);
}

Argb GridLevelColor(const DemPageOptions& options, int index, double level) {
  switch (options.contour_color_mode) {
    case 1:
      return options.interval_count > 0 && index % options.interval_count == 0 ? options.interval_color
                                                                               : options.line_color;
    case 2: return DemCycleColor(static_cast<size_t>(index) % 7);
    case 3: {
      const RgbColor c = HeightToColor(static_cast<float>(level));
      return 0xFF000000u | (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
    }
    default: return options.line_color;
  }
}

bool GridLevelLabelled(const DemPageOptions& options, int index, double level) {
  if (!options.labels_on) return false;
  const int n = std::max(1, options.label_interval);
  if (options.labels_whole_multiples) return std::fmod(level, static_cast<double>(n)) == 0;
  return index % n == 0;
}

GridContourResult ContourWithServer(const CDemGrid& grid, const GridContourJob& job, const GridServerFactory& make,
                                    CContourLineSet* set, std::vector<DemLabel>* labels) {
  const std::string dat = job.work_dir + kGridDataFile;
  const std::string bln = job.work_dir + kGridBlankFile;
  const std::string grd = job.work_dir + kGridFile;
  const std::string lines_dxf = job.work_dir + kGridLinesFile;
  const std::string labelled = job.work_dir + (job.projected ? kGridLabelledProjectedFile : kGridLabelledFile);
  // Every output of an earlier run goes first: a run that fails or writes no labels must not
  // leave an older run's files to be read as its own.
  for (const char* name : {kGridDataFile, kGridBlankFile, kGridFile, kGridLinesFile, kGridLabelledFile,
                           kGridLabelledProjectedFile})
    Remove(job.work_dir + name);

  std::string error;
  // The coordinates are written in decimal whatever the display format is.
  if (!ExportText(dat, grid.points, 0, &error)) return Failed(nullptr, error);
  bool blank = false;
  if (!grid.polygon.empty() && !job.projected) blank = WriteBlnFile(bln, grid, 0, &error);

  std::unique_ptr<IGridContourServer> server = make ? make(&error) : nullptr;
  if (!server) return Failed(nullptr, error.empty() ? "no gridding program" : error);
  server->SetGridSpacing(job.spacing);
  if (!server->GridData(dat, 1, 2, 3, grd)) return Failed(server.get(), server->LastError());
  if (blank && !server->GridBlank(grd, bln, grd)) return Failed(server.get(), server->LastError());
  if (!server->AddContourMap(grd)) return Failed(server.get(), server->LastError());

  const double interval = grid.interval;
  const double zmin = grid.tracer.z_range.min, zmax = grid.tracer.z_range.max;
  if (!(interval > 0) || !std::isfinite(zmin) || !std::isfinite(zmax))
    return Failed(server.get(), "no contour interval");
  float start = static_cast<float>(std::trunc(zmin / interval) * interval);
  if (start > zmin) start = static_cast<float>(start - interval);
  if (!server->SetLevels(start, zmax, interval)) return Failed(server.get(), server->LastError());

  const DemPageOptions& o = job.options;
  server->SetLabelFrequency(1, 1, std::max(1, o.label_interval) - 1);
  if (o.labels_on) {
    // Label height: two grid cells (a cell from the points' density when the spacing is not
    // known) times the DXF label scale option.
    double cell = job.spacing;
    if (!(cell > 0)) {
      const double w = grid.tracer.x_range.max - grid.tracer.x_range.min;
      const double h = grid.tracer.y_range.max - grid.tracer.y_range.min;
      cell = grid.points.empty() ? 1 : std::sqrt(std::max(w * h, 1e-18) / static_cast<double>(grid.points.size()));
    }
    server->SetLabelFont(o.label_color, 2 * cell * o.dxf_label_scale);
    server->SetLabelFormatType(5);
  }
  for (int i = 0; i < server->LevelCount(); ++i) {
    const double level = server->LevelValue(i);
    server->SetLevelLabel(i, GridLevelLabelled(o, i, level));
    server->SetLevelColor(i, GridLevelColor(o, i, level));
  }
  if (!server->ExportContours(lines_dxf)) return Failed(server.get(), server->LastError());
  if (o.labels_on && !server->ExportDocument(labelled, kGridExportOptions))
    return Failed(server.get(), server->LastError());
  server->Quit();

  CContourLineSet read;
  std::vector<DemLabel> read_labels;
  CDxfReader reader(&read, &read_labels, grid.tracer.x_range, grid.tracer.y_range, job.width, job.height);
  if (!reader.Load(lines_dxf, &error)) return Failed(nullptr, "cannot read " + lines_dxf + ": " + error);
  if (o.labels_on) reader.Load(labelled);
  Remove(dat);
  Remove(grd);
  Remove(lines_dxf);

  *set = std::move(read);
  *labels = std::move(read_labels);
  GridContourResult result;
  result.ok = true;
  if (o.labels_on) result.labelled_file = labelled;
  return result;
}

bool PutPointsOnLattice(CDemGrid* grid) {
  if (grid->mode != kDemModeRegion || grid->sample_distance < 1 || grid->points.empty()) return false;
  const float step = static_cast<float>(grid->sample_distance) * kDemGridDegreesPerMetre;
  const int64_t nx = DemAxisCount(static_cast<double>(grid->box.east) - grid->box.west, step);
  const int64_t ny = DemAxisCount(static_cast<double>(grid->box.north) - grid->box.south, step);
  if (nx < 2 || ny < 2 || static_cast<uint64_t>(nx) * static_cast<uint64_t>(ny) > kMaxContourGridNodes) return false;
  // A node within a hundredth of a step: the samples were taken at the node positions.
  const double tolerance = 0.01 * step;
  std::vector<std::pair<size_t, float>> nodes;
  nodes.reserve(grid->points.size());
  for (const Point3D& p : grid->points) {
    const double fc = (p.x - grid->box.west) / step, fr = (p.y - grid->box.south) / step;
    const double c = std::round(fc), r = std::round(fr);
    if (std::fabs(fc - c) * step > tolerance || std::fabs(fr - r) * step > tolerance || c < 0 || r < 0 ||
        c >= static_cast<double>(nx) || r >= static_cast<double>(ny))
      return false;
    nodes.push_back({static_cast<size_t>(r) * static_cast<size_t>(nx) + static_cast<size_t>(c), static_cast<float>(p.z)});
  }
  CContourTracer& t = grid->tracer;
  const ContourRange z = t.z_range;
  t.Reset();
  if (!t.AllocGrid(static_cast<int>(ny), static_cast<int>(nx))) return false;
  for (int r = 0; r < ny; ++r) std::fill_n(t.Row(r), nx, std::numeric_limits<float>::quiet_NaN());
  for (const auto& [index, value] : nodes) t.Row(static_cast<int>(index / nx))[index % nx] = value;
  t.x_range = {static_cast<double>(grid->box.west), grid->box.west + static_cast<double>(nx - 1) * step};
  t.y_range = {static_cast<double>(grid->box.south), grid->box.south + static_cast<double>(ny - 1) * step};
  t.z_range = z;
  return true;
}

bool GridWithServer(CDemGrid* grid, const GridContourJob& job, const GridServerFactory& make, std::string* error) {
  const std::string dat = job.work_dir + kGridDataFile;
  const std::string bln = job.work_dir + kGridBlankFile;
  const std::string grd = job.work_dir + kGridFile;
  for (const char* name : {kGridDataFile, kGridBlankFile, kGridFile}) Remove(job.work_dir + name);
  if (!ExportText(dat, grid->points, 0, error)) return false;
  const bool blank = !grid->polygon.empty() && WriteBlnFile(bln, *grid, 0, error);
  std::unique_ptr<IGridContourServer> server = make ? make(error) : nullptr;
  if (!server) return false;
  server->SetGridSpacing(job.spacing);
  bool ok = server->GridData(dat, 1, 2, 3, grd) && (!blank || server->GridBlank(grd, bln, grd));
  if (!ok && error) *error = server->LastError();
  server->Quit();
  if (ok) ok = ReadGridFile(grd, &grid->tracer, error);
  Remove(dat);
  Remove(grd);
  return ok;
}

}  // namespace velmora
