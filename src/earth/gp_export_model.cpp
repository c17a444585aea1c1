// The plug-in snapshot export's terrain models.
#include "earth/gp_export_model.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <mutex>

#include "core/format.h"
#include "core/geodesy.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "terrain/d3d_context.h"

namespace velmora {

namespace {

std::atomic<int> g_model_folder_counter{0};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "name.x" -> "name.jpg", as the .x file's material names its texture.
std::string TextureNameFor(const std::string& x_name) {
  std::string name = x_name;
  if (!name.empty()) name.pop_back();
  return name + "jpg";
}

}  // namespace

MeshVertex GpModelVertex(double lng, double lat, double altitude_m, float u, float v) {
  MeshVertex out{0, 0, 0, u, v};
  LngLatToXYZ(static_cast<float>(lng), static_cast<float>(lat), static_cast<float>(altitude_m * 0.001), &out.x,
              &out.y, &out.z);
  return out;
}

namespace {

// Longitude of sample column j and latitude of sample row i of a tile: where the sample's pixel
// lies across the capture (the pixel steps are whole, so the last sample may lie short of the
// capture's right and bottom edges).
double SampleLng(const GpDemTile& t, int j) {
  double east = t.right;
  if (east < t.left) east += 360.0;  // across 180 degrees
  return t.left + (east - t.left) * (j * (t.grid.width / t.grid.columns)) / t.grid.width;
}
double SampleLat(const GpDemTile& t, int i) {
  const double y_top = MercatorLatToY(t.top, 20), y_bottom = MercatorLatToY(t.bottom, 20);
  return MercatorYToLat(y_top + (y_bottom - y_top) * (i * (t.grid.height / t.grid.rows)) / t.grid.height, 20);
}

}  // namespace

std::vector<MeshVertex> GpDemModelVertices(const GpDemTile& tile, const GpDemTile* left, const GpDemTile* upper,
                                           const std::function<void(float altitude)>& trace) {
  const int columns = tile.grid.columns, rows = tile.grid.rows;
  // Neighbours of another grid cannot close the seam sample by sample.
  if (left && (left->grid.columns != columns || left->grid.rows != rows)) left = nullptr;
  if (upper && (upper->grid.columns != columns || upper->grid.rows != rows)) upper = nullptr;
  // Vertex column 0 lies on the left neighbour's last sample column, row 0 on the upper
  // neighbour's last sample row; without a neighbour on the shot's own first ones.
  std::vector<double> lngs(columns + 2), lats(rows + 2);
  std::vector<float> us(columns + 2), vs(rows + 2);
  for (int j = 0; j <= columns + 1; ++j) {
    double lng = j == 0 && left ? SampleLng(*left, columns) : SampleLng(tile, std::max(j - 1, 0));
    if (j == 0 && left && lng > SampleLng(tile, 0) + 180.0) lng -= 360.0;
    lngs[j] = lng;
    us[j] = float(std::max(j - 1, 0) * (tile.grid.width / columns)) / float(tile.grid.width);
  }
  for (int i = 0; i <= rows + 1; ++i) {
    lats[i] = i == 0 && upper ? SampleLat(*upper, rows) : SampleLat(tile, std::max(i - 1, 0));
    vs[i] = float(std::max(i - 1, 0) * (tile.grid.height / rows)) / float(tile.grid.height);
  }
  std::vector<MeshVertex> vertices;
  vertices.reserve(size_t(columns + 2) * size_t(rows + 2));
  for (int i = 0; i <= rows + 1; ++i)
    for (int j = 0; j <= columns + 1; ++j) {
      float altitude;
      if (i >= 1 && j >= 1)
        altitude = tile.At(i - 1, j - 1);
      else if (i >= 1)  // left seam
        altitude = left ? left->At(i - 1, columns) : tile.At(i - 1, 0);
      else if (j >= 1)  // top seam
        altitude = upper ? upper->At(rows, j - 1) : tile.At(0, j - 1);
      else  // the corner: the upper neighbour's, else the left one's, else the shot's own
        altitude = upper ? upper->At(rows, 0) : left ? left->At(0, columns) : tile.At(0, 0);
      if (trace) trace(altitude);
      vertices.push_back(GpModelVertex(lngs[j], lats[i], altitude, us[j], vs[i]));
    }
  return vertices;
}

bool SaveGpModel(const std::string& x_path, const std::vector<MeshVertex>& vertices, int columns, int rows,
                 const std::string& texture_source, int jpeg_quality, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (columns < 2 || rows < 2 || vertices.size() != size_t(columns) * size_t(rows))
    return fail(x_path + ": the vertices do not fit the grid");
  CBitmap texture;
  std::string why;
  if (!LoadImageFile(texture_source, &texture, &why)) return fail(why);

  // Both files go into a folder of their own beside the output, then each is renamed over its
  // place: the .x file names its texture by the file's own name, which a temporary name would
  // change.
  const std::string folder = FolderOf(x_path);
  const std::string x_name = NameOf(x_path), jpg_name = TextureNameFor(x_name);
  const std::string scratch =
      folder + FormatC(".velmora-model-%d-%d/", static_cast<int>(getpid()), g_model_folder_counter.fetch_add(1));
  std::error_code ec;
  std::filesystem::create_directories(scratch, ec);
  if (ec) return fail(scratch + ": " + ec.message());
  struct Scratch {
    std::string path;
    ~Scratch() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } scratch_guard{scratch};

  EncodeOptions encode;
  encode.jpeg_quality = jpeg_quality;
  if (!SaveImageFile(texture, scratch + jpg_name, ImageType::kJpeg, encode, &why)) return fail(why);
  {
    std::lock_guard<std::recursive_mutex> device_lock(g_D3DContext.DeviceLock());
    if (!g_pD3DDevice && !g_D3DContext.CreateD3DDevice(0)) return fail("no 3D device for the models");
    C3DMesh mesh;
    ID3DXMesh* grid = mesh.CreateGridMesh(columns, rows);
    if (!grid) return fail(x_path + ": the mesh cannot be made");
    void* data = nullptr;
    if (FAILED(grid->LockVertexBuffer(0, &data))) return fail(x_path + ": the mesh cannot be filled");
    std::copy(vertices.begin(), vertices.end(), static_cast<MeshVertex*>(data));
    grid->UnlockVertexBuffer();
    if (!mesh.SaveX((scratch + x_name).c_str())) return fail(x_path + ": the model cannot be written");
  }
  std::filesystem::rename(scratch + jpg_name, folder + jpg_name, ec);
  if (!ec) std::filesystem::rename(scratch + x_name, x_path, ec);
  if (ec) return fail(x_path + ": " + ec.message());
  return true;
}

std::string GpModelPath(const std::string& base, int column, int row) {
  return base + FormatC("_%d_%d.x", column, row);
}

bool MakeModelFromDem(const std::string& base, const std::string& folder, int column, int row, const GpDemGrid& grid,
                      int jpeg_quality, const std::function<void(const std::string&)>& trace, std::string* error) {
  GpDemTile tile, left, upper;
  if (!LoadDemTile(GpShotFile(folder, column, row, ".dem"), grid, &tile, error)) return false;
  const bool has_left = column > 0 && LoadDemTile(GpShotFile(folder, column - 1, row, ".dem"), grid, &left, error);
  const bool has_upper = row > 0 && LoadDemTile(GpShotFile(folder, column, row - 1, ".dem"), grid, &upper, error);
  if ((column > 0 && !has_left) || (row > 0 && !has_upper)) return false;
  const std::vector<MeshVertex> vertices =
      GpDemModelVertices(tile, has_left ? &left : nullptr, has_upper ? &upper : nullptr, [&](float altitude) {
        if (trace) trace(FormatC("alt: %f", double(altitude)));
      });
  if (trace) trace(FormatC("----------%d,%d------------", column, row));
  return SaveGpModel(GpModelPath(base, column, row), vertices, grid.columns + 2, grid.rows + 2,
                     GpShotFile(folder, column, row, ".tmp"), jpeg_quality, error);
}

}  // namespace velmora
