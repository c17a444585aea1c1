// CHeightFile and its three kinds: the local height files of the elevation store. Each is a grid
// of signed 16-bit little-endian heights in whole metres:
//   CHeightFile1s      "<tile>.amh"  3600 x 3600, 1 arc-second, one 1-degree cell, first row northernmost
//   CHeightFile3s      "<tile>.smh"  6000 x 6000, 3 arc-seconds, one 5-degree tile of the grid that
//                                    starts at 180 W, 60 N
//   CHeightFileCoarse  "1.smh"       1622 columns of 0.2217 degrees, the coarse world grid
// The whole file is mapped read-only once and never moves, so reads take no lock; the kernel pages
// in only what is read.
#pragma once
#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/mapped_file.h"

namespace velmora {

// The sample value of "no data" (also the answer for a missing file or a read outside the file).
inline constexpr int kNoHeightSample = -9999;

// File kinds of the constructor.
inline constexpr int kHeightFileSmh = 0;  // "%d.smh": 3-arc-second tiles and the coarse file
inline constexpr int kHeightFileAmh = 1;  // "%d.amh": 1-arc-second cells

// Grid constants.
inline constexpr int k1sGridSize = 3600;
inline constexpr int k3sGridSize = 6000;
inline constexpr int k3sSamplesPerDegree = 1200;
inline constexpr double k3sTileDegrees = 5.0;
inline constexpr int32_t kCoarseTile = 1;
inline constexpr int kCoarseColumns = 1622;
inline constexpr double kCoarseCellDegrees = 0.221717492443;
inline constexpr double kCoarseCellsPerDegree = 4.510244045165195;
inline constexpr double kCoarseNorth = 59.9491634137;
inline constexpr double kCoarseWest = -179.6481325997;

class CHeightFile {
 public:
  // Opens "<folder><tile>.amh" (kind 1) or "<folder><tile>.smh" (kind 0). The first form takes
  // the folder "data/" under the program folder. A missing or unreadable file leaves the object
  // unopened: every sample of it is then -9999.
  CHeightFile(int32_t tile, int kind);
  CHeightFile(int32_t tile, int kind, const std::string& folder);
  virtual ~CHeightFile() = default;
  CHeightFile(const CHeightFile&) = delete;
  CHeightFile& operator=(const CHeightFile&) = delete;

  // The height at a position given in the kind's own terms (offsets inside the tile, or longitude
  // and latitude for the coarse file), snapping the position in place to the sample read. The
  // base class has no grid and answers -9999.
  virtual int32_t Sample(float* x, float* y) const;

  // The signed 16-bit sample at a byte offset from the start of the file; -9999 when the two
  // bytes do not lie wholly inside the file (a short or truncated file) or the file is not open.
  // Inline: it is the inner step of every raster walk.
  [[gnu::always_inline]] int16_t MapView(uint32_t offset) const {
    // One comparison: end_ is size - 1 (0 for a file too short for any sample).
    if (offset >= end_) return static_cast<int16_t>(kNoHeightSample);
    const uint8_t* p = data_ + offset;
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
  }

  bool IsOpen() const { return file_.IsOpen(); }
  int32_t Tile() const { return tile_; }
  uint64_t FileSize() const { return file_.Size(); }

  // "%d.amh" or "%d.smh".
  static std::string FileName(int32_t tile, int kind);
  // The folder the height files lie in: "data/" under the program folder.
  static std::string DefaultFolder();

 private:
  int32_t tile_;
  CMappedFile file_;
  // The mapping, fixed once the file is open.
  const uint8_t* data_ = nullptr;
  uint64_t end_ = 0;  // a sample at byte offset o lies wholly inside when o < end_
};

namespace height_grid {
// The grid index of an offset: trunc(offset * per_unit). An offset that float rounding carried
// onto the far edge (index == size) reads the last sample; anything further out, or not a number,
// has no sample (-1).
inline int Index(float offset, double per_unit, int size) {
  const double v = static_cast<double>(offset) * per_unit;
  if (!(v >= 0.0 && v < size + 1.0)) return -1;
  const int i = static_cast<int>(v);  // truncation, in range by the test above
  return i == size ? size - 1 : i;
}
// index / 3600 and index / 1200 as floats: the snapped offsets, looked up rather than divided
// for every sample.
extern const std::array<float, k1sGridSize> kSnap1s;
extern const std::array<float, k3sGridSize> kSnap3s;

// trunc(v) for |v| < 2^63: a plain conversion instruction instead of the library call.
inline double Trunc(double v) { return static_cast<double>(static_cast<int64_t>(v)); }

// fmod(x, 5) for 0 <= x <= 360, exactly: x - 5q is exact for such x, and the quotient from the
// product with 0.2 is corrected where it rounded up to the next integer.
inline double Mod5(double x) {
  double r = x - 5.0 * Trunc(x * 0.2);
  if (r < 0.0) r += 5.0;
  return r;
}

// floor(v) for |v| <= 180.
inline int Floor(float v) {
  const int i = static_cast<int>(v);
  return static_cast<float>(i) > v ? i - 1 : i;
}

// One axis of a position's look-up: the tile (3-arc-second tile column or row, from 1; or the
// 1-degree cell plus 180 or 90) and the sample index inside it. Each axis has its defining
// computation (Axis3sPlain, Axis1sPlain), and a short one for coordinates whose float spacing
// makes every step of the definition exact. A test holds the two equal for every grid-aligned
// coordinate, its float neighbours and many random floats; the elevation benchmark measures what
// the short forms save.
struct GridAxis {
  int tile;
  int index;
  bool operator==(const GridAxis&) const = default;
};

// The definitions, straight: 3-arc-second axis of d = lon + 180 or 60 - lat in [0, 360], and
// 1-arc-second axis of v in [-limit, limit].
inline GridAxis Axis3sPlain(double d) {
  return {static_cast<int>(std::trunc(d * 0.2 + 1.0)),
          Index(static_cast<float>(std::fmod(d, k3sTileDegrees)), k3sSamplesPerDegree, k3sGridSize)};
}
inline GridAxis Axis1sPlain(float v, int limit) {
  const int cell = static_cast<int>(std::floor(v));
  return {cell + limit, Index(v - static_cast<float>(cell), k1sGridSize, k1sGridSize)};
}

// 3-arc-second axis of v (longitude or latitude), with d = lon + 180 or 60 - lat in [0, 360]:
// tile = trunc(d * 0.2 + 1); index = trunc(float(fmod(d, 5)) * 1200), where float rounding may
// carry the remainder onto the far edge (index 6000 reads 5999). From |v| >= 4 on, v is a
// multiple of 2^-21, so d is exact and a multiple of 2^-21 as well, d * 1200 is exact (at most
// 37 significant bits), fmod(d, 5) is a float without rounding and stays below 5, and the tile
// and index are the quotient and remainder of floor(d * 1200) by 6000.
[[gnu::always_inline]] inline GridAxis Axis3s(float v, double d) {
  if (std::fabs(v) >= 4.0f) [[likely]] {
    const auto g = static_cast<uint32_t>(d * k3sSamplesPerDegree);
    const uint32_t tile = g / k3sGridSize;
    return {static_cast<int>(tile) + 1, static_cast<int>(g - tile * k3sGridSize)};
  }
  // Never -1: the remainder lies in [0, 5].
  return {static_cast<int>(d * 0.2 + 1.0), Index(static_cast<float>(Mod5(d)), k3sSamplesPerDegree, k3sGridSize)};
}

// 1-arc-second axis of v in [-limit, limit] (limit 180 or 90): cell = floor(v); index =
// trunc(float(v - cell) * 3600), where float rounding may carry the offset to 1 (index 3600
// reads 3599). From |v| >= 1 on, v - cell is a float without rounding, v * 3600 and
// v * 3600 + limit * 3600 are exact (at most 40 significant bits), and the cell plus limit and
// the index are the quotient and remainder of floor((v + limit) * 3600) by 3600.
[[gnu::always_inline]] inline GridAxis Axis1s(float v, int limit) {
  if (std::fabs(v) >= 1.0f) [[likely]] {
    const auto g = static_cast<uint32_t>(static_cast<double>(v) * k1sGridSize + limit * k1sGridSize);
    const uint32_t cell = g / k1sGridSize;
    return {static_cast<int>(cell), static_cast<int>(g - cell * k1sGridSize)};
  }
  const int cell = Floor(v);
  // Never -1: the offset lies in [0, 1].
  return {cell + limit, Index(static_cast<float>(static_cast<double>(v) - cell), k1sGridSize, k1sGridSize)};
}
}  // namespace height_grid

// 1-arc-second cell. Tile number: (floor(lat) << 16) | (floor(lon) & 0xFFFF). Sample takes the
// offsets in degrees from the cell's south-west corner. The samples are inline and the class final
// so that the elevation store's raster walks compile to straight code.
class CHeightFile1s final : public CHeightFile {
 public:
  using CHeightFile::CHeightFile;
  int32_t Sample(float* x, float* y) const override {
    const int col = height_grid::Index(*x, k1sGridSize, k1sGridSize);
    const int row = height_grid::Index(*y, k1sGridSize, k1sGridSize);
    if (col < 0 || row < 0) return kNoHeightSample;
    *x = height_grid::kSnap1s[col];
    *y = height_grid::kSnap1s[row];
    return SampleAt(col, row);
  }
  // The sample of grid column and row (0-3599, row 0 southernmost), without snapping.
  [[gnu::always_inline]] int32_t SampleAt(int col, int row) const {
    // Rows are stored from the north: row 0 of the file is the cell's northernmost.
    return MapView(static_cast<uint32_t>((k1sGridSize - 1 - row) * k1sGridSize + col) * 2u);
  }
  static int32_t TileNumber(int lon_cell, int lat_cell) {
    return static_cast<int32_t>((static_cast<uint32_t>(lat_cell) << 16) | (static_cast<uint32_t>(lon_cell) & 0xFFFFu));
  }
};

// 3-arc-second 5-degree tile. Tile number: (tileRow << 16) | tileCol, both counted from 1 at
// 180 W, 60 N. Sample takes the offsets in degrees east and south of the tile's north-west corner.
class CHeightFile3s final : public CHeightFile {
 public:
  using CHeightFile::CHeightFile;
  int32_t Sample(float* x, float* y) const override {
    const int col = height_grid::Index(*x, k3sSamplesPerDegree, k3sGridSize);
    const int row = height_grid::Index(*y, k3sSamplesPerDegree, k3sGridSize);
    if (col < 0 || row < 0) return kNoHeightSample;
    *x = height_grid::kSnap3s[col];
    *y = height_grid::kSnap3s[row];
    return SampleAt(col, row);
  }
  // The sample of grid column and row (0-5999, row 0 northernmost), without snapping.
  [[gnu::always_inline]] int32_t SampleAt(int col, int row) const {
    return MapView(static_cast<uint32_t>(row * k3sGridSize + col) * 2u);
  }
  static int32_t TileNumber(int tile_col, int tile_row) {
    return static_cast<int32_t>((static_cast<uint32_t>(tile_row) << 16) | static_cast<uint32_t>(tile_col));
  }
};

// The coarse world grid, file number 1. Sample takes longitude and latitude.
class CHeightFileCoarse final : public CHeightFile {
 public:
  using CHeightFile::CHeightFile;
  int32_t Sample(float* x, float* y) const override;
};

}  // namespace velmora
