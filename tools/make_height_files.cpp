// make_height_files: writes synthetic height files of each kind, so that the elevation store can be
// tried without real data.
//   make_height_files <folder> 1s <lon cell> <lat cell> [function]   "<tile>.amh", one 1-degree cell
//   make_height_files <folder> 3s <tile col> <tile row> [function]   "<tile>.smh", one 5-degree tile
//   make_height_files <folder> 3s-at <lon> <lat> [function]          the 5-degree tile holding a point
//   make_height_files <folder> coarse [function]                     "1.smh", the coarse world grid
// function: hills (default), plane, flat=<metres>.
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "core/format.h"
#include "terrain/height_file_writer.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: make_height_files <folder> 1s <lon cell> <lat cell> [function]\n"
               "       make_height_files <folder> 3s <tile col> <tile row> [function]\n"
               "       make_height_files <folder> 3s-at <lon> <lat> [function]\n"
               "       make_height_files <folder> coarse [function]\n"
               "function: hills (default), plane, flat=<metres>\n");
  return 2;
}

std::optional<int> IntArg(const char* text) {
  const std::optional<long long> v = velmora::ParseInt(text);
  if (!v || *v < -100000 || *v > 100000) return std::nullopt;
  return static_cast<int>(*v);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora;
  if (argc < 3) return Usage();
  const std::string folder = argv[1];
  const std::string kind = argv[2];
  const int args = kind == "coarse" ? 0 : 2;
  if (argc < 3 + args || argc > 4 + args) return Usage();
  const char* function_name = argc == 4 + args ? argv[3 + args] : "hills";
  const HeightFunction fn = NamedHeightFunction(function_name);
  if (!fn) {
    std::fprintf(stderr, "unknown function \"%s\"\n", function_name);
    return Usage();
  }

  std::string error;
  std::string path;
  if (kind == "coarse") {
    path = WriteCoarseHeightFile(folder, fn, &error);
  } else if (kind == "3s-at") {
    const std::optional<double> lon = ParseDouble(argv[3]), lat = ParseDouble(argv[4]);
    if (!lon || !lat || *lon < -180 || *lon >= 180 || *lat <= -60 || *lat > 60) {
      std::fprintf(stderr, "the point must lie in 180 W..180 E, 60 S..60 N\n");
      return 2;
    }
    const int col = static_cast<int>((*lon + 180.0) * 0.2 + 1.0);
    const int row = static_cast<int>((60.0 - *lat) * 0.2 + 1.0);
    path = WriteHeightFile3s(folder, col, row, fn, &error);
  } else {
    const std::optional<int> a = IntArg(argv[3]), b = IntArg(argv[4]);
    if (!a || !b) return Usage();
    if (kind == "1s") {
      if (*a < -180 || *a > 179 || *b < -90 || *b > 89) {
        std::fprintf(stderr, "cells run from -180 to 179 (longitude) and -90 to 89 (latitude)\n");
        return 2;
      }
      path = WriteHeightFile1s(folder, *a, *b, fn, &error);
    } else if (kind == "3s") {
      if (*a < 1 || *a > 72 || *b < 1 || *b > 24) {
        std::fprintf(stderr, "tile columns run from 1 to 72, tile rows from 1 to 24\n");
        return 2;
      }
      path = WriteHeightFile3s(folder, *a, *b, fn, &error);
    } else {
      return Usage();
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}
