// Writers of height files of each kind from a function of longitude and latitude. The program
// only reads height files; these make the files that tests, benchmarks and the make_height_files
// tool need.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Where the samples of one height file lie: sample (col, row) of the file, row 0 first, stands for
// longitude west + col * cell and latitude north - row * cell, which is exactly the position the
// reader snaps to when it returns that sample.
struct HeightGridLayout {
  int width = 0;
  int height = 0;
  double west = 0;
  double north = 0;
  double cell = 0;
  double Lon(int col) const { return west + col * cell; }
  double Lat(int row) const { return north - row * cell; }
};

HeightGridLayout HeightLayout1s(int lon_cell, int lat_cell);
HeightGridLayout HeightLayout3s(int tile_col, int tile_row);
// The coarse world grid: 1622 columns and the 541 rows that reach 59.95 S.
HeightGridLayout HeightLayoutCoarse();

// Metres at a longitude and latitude.
using HeightFunction = std::function<double(double lon, double lat)>;

// A height rounded to whole metres and clamped to the 16-bit range; -9999 for a value that is not
// a number.
int16_t HeightSampleFromValue(double metres);

// The samples of a layout, row by row.
std::vector<int16_t> BuildHeightGrid(const HeightGridLayout& layout, const HeightFunction& fn);

// Writes samples as 16-bit little-endian values, atomically. False (reason in *error) on failure.
bool WriteHeightSamples(const std::string& path, const std::vector<int16_t>& samples, std::string* error = nullptr);

// Builds and writes one file into `folder` (ending '/') under the name the elevation store opens:
// "<tile>.amh" of the 1-degree cell, "<tile>.smh" of the 5-degree tile, "1.smh". Return the path,
// or "" on failure (reason in *error).
std::string WriteHeightFile1s(const std::string& folder, int lon_cell, int lat_cell, const HeightFunction& fn,
                              std::string* error = nullptr);
std::string WriteHeightFile3s(const std::string& folder, int tile_col, int tile_row, const HeightFunction& fn,
                              std::string* error = nullptr);
std::string WriteCoarseHeightFile(const std::string& folder, const HeightFunction& fn, std::string* error = nullptr);

// Named synthetic terrains for the tool: "hills" (smooth hills and valleys between -50 and
// 3000 m), "plane" (round(lat * 100 + lon * 10)), "flat=<metres>". An empty function for an
// unknown name.
HeightFunction NamedHeightFunction(std::string_view name);

}  // namespace velmora
