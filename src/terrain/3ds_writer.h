// C3dsWriter: the terrain of a rectangular area as a 3D Studio (.3ds) model that other 3D programs
// open: a grid of elevations on the earth sphere (kilometres, the frame of LngLatToXYZ) or flat
// (Mercator kilometres, heights as z), cut into objects "vmobj<n>" of whole columns that share
// their edge columns, all with the one material "vmramaterial" whose texture is a JPEG beside the
// model (TextureNameFor). The settings "REG_DEM_SAMPLE", "REG_DEM_FACTOR" and "Exp3dsPlain" of the
// program settings choose the grid, the height formula and the form.
//
// The file is built in memory with each chunk's length patched once its content is complete, then
// written to a temporary file renamed over the path. Areas that give no grid, a model whose
// counts cannot be held by the format or whose file would pass 4 GiB are refused with a message
// and nothing is written.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"

namespace velmora {

class CElevationStore;

// "Exp3dsPlain": 0 on the sphere, 1 flat.
inline constexpr const char kExp3dsPlainKey[] = "Exp3dsPlain";
// The writer's sample count when "REG_DEM_SAMPLE" is not set.
inline constexpr int kDefault3dsSamples = 1500;
// The most columns of one object before the format's 16-bit counts are considered.
inline constexpr int k3dsBlockVertices = 32768;
// The format's 16-bit counts of vertices and faces per object.
inline constexpr int k3dsMaxCount = 65535;
inline constexpr const char k3dsMaterialName[] = "vmramaterial";

// The grid of an export: NC columns of steps (NC + 1 vertex columns), NR vertex rows, and blocks
// of K columns each.
struct ThreeDsGrid {
  double west = 0, north = 0, east = 0, south = 0;
  double lon_step = 0, lat_step = 0;
  int columns = 0;    // NC
  int rows = 0;       // NR
  int block = 0;      // K
  int resolution = 90;  // metres, for the elevation look-ups
  int BlockCount() const { return block > 0 ? (columns + block - 1) / block : 0; }
};

// The grid of an area for `samples` steps across, with the finest step of 3 arc seconds unless
// `one_second` (the 1-arc-second files): counts by GridStepCount, and the block width K =
// min(NC, 32768 div (NR - 1)) lowered until an object's vertices (K + 1)·NR and faces
// 2·K·(NR - 1) both fit in 16 bits. False (reason in *error) for corners that are not numbers or
// are swapped, an area without a step, fewer than two rows or one column, or more rows than one
// object can hold.
bool PlanThreeDsGrid(double west, double north, double east, double south, int samples, bool one_second,
                     ThreeDsGrid* grid, std::string* error);

// The texture's file name for a model path: the file name with the extension after its last dot
// replaced by "jpg" (".jpg" appended when it has none).
std::string TextureNameFor(const std::string& path);

class C3dsWriter {
 public:
  // `elevation` null: the global elevation store.
  explicit C3dsWriter(CElevationStore* elevation = nullptr);
  virtual ~C3dsWriter();

  // Writes the model of the area (degrees) to `path`. False with LastError() when the area is
  // refused, the export was cancelled or the file cannot be written; nothing is then left at the
  // path (an older file there stays as it was).
  bool Write(const std::string& path, double west, double north, double east, double south);
  // The grid Write would make of the area with the settings of now (Grid()); false with
  // LastError() when the area is refused.
  bool Plan(double west, double north, double east, double south);

  // Checked between rows; a set flag ends Write with false.
  void SetCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // Receives the part done, 0 to 1.
  void SetProgress(std::function<void(float)> progress) { progress_ = std::move(progress); }

  const std::string& LastError() const { return error_; }
  // The grid of the last Write (after its planning succeeded).
  const ThreeDsGrid& Grid() const { return grid_; }

  static constexpr const char* kNotWritable = "无法创建文件";
  static constexpr const char* kCancelled = "导出已取消";

 private:
  bool Build(bool flat, IntPair factor, const std::string& texture, std::vector<uint8_t>* out);

  CElevationStore* elevation_;
  const std::atomic<bool>* cancel_ = nullptr;
  std::function<void(float)> progress_;
  std::string error_;
  ThreeDsGrid grid_;
};

}  // namespace velmora
