// Height files of two ramps for the elevation tests: longitude (east-west) and latitude
// (south-north), 10 m per 0.001 degree, in the 3-arc-second tile (60, 5) (115-120 E, 35-40 N);
// the tile (61, 5) east of it is missing. Each ramp has a data folder of its own.
#pragma once
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "terrain/height_file_writer.h"

namespace velmora::test {

inline double EastWest(double lon, double) { return (lon - 117.0) * 10000.0; }
inline double SouthNorth(double, double lat) { return (lat - 36.0) * 10000.0; }

struct RampFiles {
  RampFiles() {
    EXPECT_NE(WriteHeightFile3s(east_west.File("data/"), 60, 5, EastWest), "");
    EXPECT_NE(WriteHeightFile3s(south_north.File("data/"), 60, 5, SouthNorth), "");
  }
  TempDir east_west, south_north;
};

// Written once for the program (a tile holds 72 MB).
inline const RampFiles& Ramps() {
  static RampFiles files;
  return files;
}

}  // namespace velmora::test
