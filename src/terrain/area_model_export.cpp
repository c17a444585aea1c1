// The area model export.
#include "terrain/area_model_export.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/geodesy.h"
#include "core/log.h"
#include "exchange/tiles_export_ctrl.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "terrain/3ds_writer.h"

namespace velmora {
namespace {

bool Cancelled(const AreaExportHooks& hooks) { return hooks.cancel && hooks.cancel->load(); }

// The picture of the area, top row north, from the map's tiles.
std::unique_ptr<CBitmap> Compose(const AreaExportJob& job, CTileManager& tiles, int width, int height,
                                 std::string* error) {
  CTilesExportCtrl composer(tiles, job.layers);
  std::unique_ptr<CBitmap> picture = composer.ComposeAreaImage(job.west, job.north, job.east, job.south, width, height);
  if (!picture) *error = "无法生成地图图片: " + composer.LastError();
  return picture;
}

// The picture's rows follow the y of the base layer's projection; the model's texture coordinates
// are linear in latitude. Each row of the result takes the row under its latitude.
CBitmap RowsLinearInLatitude(const CBitmap& picture, int kind, double north, double south) {
  const KindTransforms& t = TransformsOfKind(kind);
  const int h = picture.Height(), w = picture.Width();
  const double y0 = t.lat_to_y(north, 0), y1 = t.lat_to_y(south, 0);
  CBitmap out;
  if (!out.CreateForOverwrite(w, h)) return out;
  for (int j = 0; j < h; ++j) {
    const double lat = north - (j + 0.5) / h * (north - south);
    const double y = (t.lat_to_y(lat, 0) - y0) / (y1 - y0) * h;
    const int row = std::clamp(static_cast<int>(std::floor(y)), 0, h - 1);
    std::copy_n(picture.Row(row), w, out.Row(j));
  }
  return out;
}

int BaseKind(const std::vector<MapLayer>& layers) {
  for (const MapLayer& l : layers)
    if (l.visible) return l.kind;
  return kKindMercator;
}

}  // namespace

void AreaPictureSize(double west, double north, double east, double south, int longest, int* width, int* height) {
  const double dx = std::fabs(east - west), dy = std::fabs(north - south);
  longest = std::max(longest, 16);
  if (dx >= dy) {
    *width = longest;
    *height = std::max(16, static_cast<int>(std::lround(longest * (dx > 0 ? dy / dx : 1.0))));
  } else {
    *height = longest;
    *width = std::max(16, static_cast<int>(std::lround(longest * dx / dy)));
  }
}

bool ExportAreaModel(const AreaExportJob& job, CTileManager& tiles, CElevationStore* elevation,
                     const AreaExportHooks& hooks, std::string* error) {
  C3dsWriter writer(elevation);
  // A refused area is told before the picture is composed.
  if (!writer.Plan(job.west, job.north, job.east, job.south)) {
    *error = writer.LastError();
    return false;
  }
  if (hooks.progress) hooks.progress(0);
  int width = 0, height = 0;
  AreaPictureSize(job.west, job.north, job.east, job.south, job.texture_size, &width, &height);
  std::unique_ptr<CBitmap> picture = Compose(job, tiles, width, height, error);
  if (!picture) return false;
  if (hooks.progress) hooks.progress(0.1f);
  if (Cancelled(hooks)) {
    *error = C3dsWriter::kCancelled;
    return false;
  }
  const CBitmap texture = RowsLinearInLatitude(*picture, BaseKind(job.layers), job.north, job.south);
  picture.reset();
  std::vector<uint8_t> jpeg;
  std::string why;
  if (texture.Width() == 0 || !EncodeImage(texture, ImageType::kJpeg, &jpeg, {}, &why)) {
    *error = "无法生成地图图片: " + why;
    return false;
  }
  if (hooks.progress) hooks.progress(0.2f);
  writer.SetCancel(hooks.cancel);
  if (hooks.progress) writer.SetProgress([&](float p) { hooks.progress(0.2f + 0.8f * p); });
  if (!writer.Write(job.path, job.west, job.north, job.east, job.south)) {
    *error = writer.LastError();
    return false;
  }
  const std::string texture_path =
      (std::filesystem::path(job.path).parent_path() / TextureNameFor(job.path)).string();
  if (Cancelled(hooks) || !WriteFileAtomic(texture_path, jpeg, &why)) {
    // The model without its texture is taken back.
    std::error_code ec;
    std::filesystem::remove(job.path, ec);
    if (Cancelled(hooks)) {
      *error = C3dsWriter::kCancelled;
    } else {
      AppLog("3ds export: %s", why.c_str());
      *error = std::string(C3dsWriter::kNotWritable) + ": " + texture_path;
    }
    return false;
  }
  if (hooks.progress) hooks.progress(1);
  return true;
}

bool ExportAreaPicture(const AreaExportJob& job, CTileManager& tiles, const AreaExportHooks& hooks,
                       std::string* error) {
  if (!std::isfinite(job.west) || !std::isfinite(job.north) || !std::isfinite(job.east) ||
      !std::isfinite(job.south) || !(job.east > job.west) || !(job.north > job.south)) {
    *error = "导出区域无效: 西边应小于东边, 南边应小于北边";
    return false;
  }
  int width = 0, height = 0;
  AreaPictureSize(job.west, job.north, job.east, job.south, job.texture_size, &width, &height);
  std::unique_ptr<CBitmap> picture = Compose(job, tiles, width, height, error);
  if (!picture) return false;
  if (hooks.progress) hooks.progress(0.1f);
  if (Cancelled(hooks)) {
    *error = C3dsWriter::kCancelled;
    return false;
  }
  std::string why;
  if (!SaveImageFile(*picture, job.path, ImageType::kUnknown, {}, &why)) {
    AppLog("area picture export: %s", why.c_str());
    *error = std::string(C3dsWriter::kNotWritable) + ": " + job.path;
    return false;
  }
  if (hooks.progress) hooks.progress(1);
  return true;
}

}  // namespace velmora
