// Writers of synthetic height files.
#include "terrain/height_file_writer.h"

#include <cmath>

#include "core/format.h"
#include "platform/fs.h"
#include "terrain/height_file.h"

namespace velmora {

HeightGridLayout HeightLayout1s(int lon_cell, int lat_cell) {
  const double cell = 1.0 / k1sGridSize;
  // File row 0 is the cell's northernmost sample row, (3600 - 1) rows north of its south edge.
  return HeightGridLayout{k1sGridSize, k1sGridSize, static_cast<double>(lon_cell), lat_cell + (k1sGridSize - 1) * cell,
                          cell};
}

HeightGridLayout HeightLayout3s(int tile_col, int tile_row) {
  return HeightGridLayout{k3sGridSize, k3sGridSize, (tile_col - 1) * k3sTileDegrees - 180.0,
                          60.0 - (tile_row - 1) * k3sTileDegrees, 1.0 / k3sSamplesPerDegree};
}

HeightGridLayout HeightLayoutCoarse() {
  const int rows = static_cast<int>(std::trunc(2 * kCoarseNorth * kCoarseCellsPerDegree)) + 1;
  return HeightGridLayout{kCoarseColumns, rows, kCoarseWest, kCoarseNorth, kCoarseCellDegrees};
}

int16_t HeightSampleFromValue(double metres) {
  if (std::isnan(metres)) return static_cast<int16_t>(kNoHeightSample);
  const double r = std::round(metres);
  if (r <= -32768.0) return -32768;
  if (r >= 32767.0) return 32767;
  return static_cast<int16_t>(r);
}

std::vector<int16_t> BuildHeightGrid(const HeightGridLayout& layout, const HeightFunction& fn) {
  std::vector<int16_t> samples(static_cast<size_t>(layout.width) * static_cast<size_t>(layout.height));
  size_t i = 0;
  for (int row = 0; row < layout.height; ++row) {
    const double lat = layout.Lat(row);
    for (int col = 0; col < layout.width; ++col) samples[i++] = HeightSampleFromValue(fn(layout.Lon(col), lat));
  }
  return samples;
}

bool WriteHeightSamples(const std::string& path, const std::vector<int16_t>& samples, std::string* error) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<uint16_t>(samples[i]);
    bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return WriteFileAtomic(path, bytes, error);
}

namespace {

std::string WriteLayout(const std::string& folder, const std::string& name, const HeightGridLayout& layout,
                        const HeightFunction& fn, std::string* error) {
  const std::string path = WithTrailingSlash(folder) + name;
  return WriteHeightSamples(path, BuildHeightGrid(layout, fn), error) ? path : std::string();
}

}  // namespace

std::string WriteHeightFile1s(const std::string& folder, int lon_cell, int lat_cell, const HeightFunction& fn,
                              std::string* error) {
  return WriteLayout(folder, CHeightFile::FileName(CHeightFile1s::TileNumber(lon_cell, lat_cell), kHeightFileAmh),
                     HeightLayout1s(lon_cell, lat_cell), fn, error);
}

std::string WriteHeightFile3s(const std::string& folder, int tile_col, int tile_row, const HeightFunction& fn,
                              std::string* error) {
  return WriteLayout(folder, CHeightFile::FileName(CHeightFile3s::TileNumber(tile_col, tile_row), kHeightFileSmh),
                     HeightLayout3s(tile_col, tile_row), fn, error);
}

std::string WriteCoarseHeightFile(const std::string& folder, const HeightFunction& fn, std::string* error) {
  return WriteLayout(folder, CHeightFile::FileName(kCoarseTile, kHeightFileSmh), HeightLayoutCoarse(), fn, error);
}

HeightFunction NamedHeightFunction(std::string_view name) {
  if (name == "hills") {
    return [](double lon, double lat) {
      constexpr double kRad = 3.14159265358979323846 / 180.0;
      return 1475.0 + 900.0 * std::sin(lon * 7.0 * kRad) * std::cos(lat * 5.0 * kRad) +
             600.0 * std::sin((lon + lat) * 31.0 * kRad) + 25.0 * std::cos(lon * 613.0 * kRad);
    };
  }
  if (name == "plane") return [](double lon, double lat) { return lat * 100.0 + lon * 10.0; };
  if (name.substr(0, 5) == "flat=") {
    const std::optional<double> v = ParseDouble(name.substr(5));
    if (!v) return {};
    const double h = *v;
    return [h](double, double) { return h; };
  }
  return {};
}

}  // namespace velmora
