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
  int16_t MapView(uint32_t offset) const {
    if (size_ < 2 || offset > size_ - 2) return static_cast<int16_t>(kNoHeightSample);
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
  uint64_t size_ = 0;
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
