// The plug-in snapshot export's files and shot geometry.
#include "earth/gp_export_files.h"

#include <cmath>

#include "core/archive.h"
#include "core/format.h"
#include "core/geodesy.h"

namespace velmora {

namespace {

constexpr int32_t kMaxShotIndex = 99999;

bool Finite(std::initializer_list<double> values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace

bool WriteGpResumeFile(const std::string& path, const GpExportState& state, std::string* error) {
  ArchiveWriter out;
  out.I32(state.column);
  out.I32(state.row);
  out.U32(state.delay_ms);
  out.F32(state.left);
  out.F32(state.top);
  out.F32(state.right);
  out.F32(state.bottom);
  out.U32(state.flags);
  out.F32(state.lng_step);
  out.F32(state.mercator_step);
  out.F64(state.altitude);
  return out.SaveToFile(path, error);
}

bool ReadGpResumeFile(const std::string& path, GpExportState* state, std::string* error) {
  GpExportState read;
  if (!ReadMosaicArchive(path, error, [&](ArchiveReader& in) {
        read.column = in.I32();
        read.row = in.I32();
        read.delay_ms = in.U32();
        read.left = in.F32();
        read.top = in.F32();
        read.right = in.F32();
        read.bottom = in.F32();
        read.flags = in.U32();
        read.lng_step = in.F32();
        read.mercator_step = in.F32();
        read.altitude = in.F64();
      }))
    return false;
  const char* why = nullptr;
  if (read.column < 0 || read.row < 0 || read.column > kMaxShotIndex || read.row > kMaxShotIndex)
    why = "the position lies outside the job";
  else if (!Finite({read.lng_step, read.mercator_step, read.altitude}) || !(read.altitude > 0) ||
           !((read.lng_step > 0 && read.mercator_step > 0) ||
             (read.lng_step == 0 && read.mercator_step == 0 && read.column == 0 && read.row == 0)))
    why = "the steps or the altitude are not usable";
  else if (!GpStateRect(read))
    why = "the rectangle is empty";
  if (why) {
    if (error) *error = path + ": " + why;
    return false;
  }
  *state = read;
  return true;
}

bool WriteGpShotRecord(const std::string& path, const GpShotRecord& record, std::string* error) {
  ArchiveWriter out;
  out.F64(record.altitude);
  out.F32(record.target_lng);
  out.F32(record.target_lat);
  out.F64(record.left);
  out.F64(record.top);
  out.F64(record.right);
  out.F64(record.bottom);
  return out.SaveToFile(path, error);
}

bool ReadGpShotRecord(const std::string& path, GpShotRecord* record, std::string* error) {
  GpShotRecord read;
  if (!ReadMosaicArchive(path, error, [&](ArchiveReader& in) {
        read.altitude = in.F64();
        read.target_lng = in.F32();
        read.target_lat = in.F32();
        read.left = in.F64();
        read.top = in.F64();
        read.right = in.F64();
        read.bottom = in.F64();
      }))
    return false;
  if (!Finite({read.altitude, read.target_lng, read.target_lat, read.left, read.top, read.right, read.bottom})) {
    if (error) *error = path + ": values that are not numbers";
    return false;
  }
  *record = read;
  return true;
}

std::string GpShotFile(const std::string& folder, int column, int row, const char* extension) {
  return folder + FormatC("%s_%d_%d%s", kGpShotPrefix, column, row, extension);
}

std::optional<GpDemGrid> GpDemGridFor(int capture_width, int capture_height) {
  if (capture_width < kDemSampleStep || capture_height < kDemSampleStep) return std::nullopt;
  GpDemGrid grid;
  grid.width = capture_width;
  grid.height = capture_height;
  grid.columns = capture_width / kDemSampleStep;
  grid.rows = capture_height / kDemSampleStep;
  return grid;
}

bool WriteDemTile(const std::string& path, const GpDemTile& tile, std::string* error) {
  if (tile.grid.columns < 1 || tile.grid.rows < 1 || tile.altitudes.size() != tile.grid.SampleCount()) {
    if (error) *error = path + ": the samples do not fit the grid";
    return false;
  }
  ArchiveWriter out;
  out.F32(tile.left);
  out.F32(tile.top);
  out.F32(tile.right);
  out.F32(tile.bottom);
  for (float a : tile.altitudes) out.F32(a);
  return out.SaveToFile(path, error);
}

bool LoadDemTile(const std::string& path, const GpDemGrid& grid, GpDemTile* tile, std::string* error) {
  GpDemTile read;
  read.grid = grid;
  if (grid.columns < 1 || grid.rows < 1) {
    if (error) *error = path + ": no sample grid";
    return false;
  }
  if (!ReadMosaicArchive(path, error, [&](ArchiveReader& in) {
        if (in.Remaining() != (4 + grid.SampleCount()) * 4)
          throw ArchiveError(FormatC("%zu bytes where %zu were expected", in.Remaining(), (4 + grid.SampleCount()) * 4));
        read.left = in.F32();
        read.top = in.F32();
        read.right = in.F32();
        read.bottom = in.F32();
        read.altitudes.resize(grid.SampleCount());
        for (float& a : read.altitudes) a = in.F32();
      }))
    return false;
  for (float v : read.altitudes)
    if (!std::isfinite(v)) {
      if (error) *error = path + ": an altitude that is not a number";
      return false;
    }
  if (!Finite({read.left, read.top, read.right, read.bottom})) {
    if (error) *error = path + ": bounds that are not numbers";
    return false;
  }
  *tile = std::move(read);
  return true;
}

void GpShotCorner(const GpExportState& state, int column, int row, double* lng, double* lat) {
  *lng = double(state.left) + column * double(state.lng_step);
  *lat = MercatorYToLat(MercatorLatToY(state.top, 20) + row * double(state.mercator_step), 20);
}

std::optional<GeRect> GpStateRect(const GpExportState& state) {
  GeMosaicJob job;
  job.left = state.left;
  job.top = state.top;
  job.right = state.right;
  job.bottom = state.bottom;
  return GeJobRect(job);
}

std::optional<GeGrid> GpGridSize(const GpExportState& state, double slack) {
  const std::optional<GeRect> rect = GpStateRect(state);
  if (!rect || !(state.lng_step > 0) || !(state.mercator_step > 0)) return std::nullopt;
  const double capture_bottom = MercatorYToLat(MercatorLatToY(rect->top, 20) + state.mercator_step, 20);
  return GeGridSize(*rect, rect->left, rect->top, rect->left + state.lng_step, capture_bottom, slack);
}

}  // namespace velmora
