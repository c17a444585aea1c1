// Height files read back from files the writer made: file names, rows from the north, offsets and
// positions outside a file, short and odd-sized files, and the colour ramp. Samples at
// hand-computed points of every kind are checked through the elevation store's tests.
#include "terrain/height_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/temp_dir.h"
#include "terrain/height_file_writer.h"
#include "terrain/height_to_color.h"

namespace velmora {
namespace {

// A value that differs between any two neighbouring samples: row and column of the sample in a
// grid of `per_degree` samples from 180 W / 90 S.
int Distinct(double lon, double lat, double per_degree) {
  const long c = std::lround((lon + 180.0) * per_degree);
  const long r = std::lround((lat + 90.0) * per_degree);
  return static_cast<int>((c * 31 + r * 17) % 30000) - 15000;
}

// Writes the first `rows` rows of a layout only: a short file.
std::string WriteShort(const std::string& path, HeightGridLayout layout, int rows, const HeightFunction& fn) {
  layout.height = rows;
  EXPECT_TRUE(WriteHeightSamples(path, BuildHeightGrid(layout, fn)));
  return path;
}

TEST(HeightFile, FileNamesAndTileNumbers) {
  EXPECT_EQ(CHeightFile::FileName(CHeightFile1s::TileNumber(0, -1), kHeightFileAmh), "-65536.amh");
  EXPECT_EQ(CHeightFile::FileName(CHeightFile1s::TileNumber(-1, 0), kHeightFileAmh), "65535.amh");
  EXPECT_EQ(CHeightFile1s::TileNumber(116, 39), (39 << 16) | 116);
  EXPECT_EQ(CHeightFile::FileName(CHeightFile3s::TileNumber(60, 5), kHeightFileSmh), "327740.smh");
  EXPECT_EQ(CHeightFile::FileName(kCoarseTile, kHeightFileSmh), "1.smh");
}

TEST(HeightFile, OneArcSecondRowsRunFromTheNorth) {
  test::TempDir dir;
  const auto fn = [](double lon, double lat) { return Distinct(lon, lat, 3600); };
  // Only the 3 northernmost rows of cell (116, 39) are written.
  WriteShort(dir.File("2556020.amh"), HeightLayout1s(116, 39), 3, fn);
  CHeightFile1s file(CHeightFile1s::TileNumber(116, 39), kHeightFileAmh, dir.path());
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.FileSize(), 3u * 3600u * 2u);

  // Offsets 0.25 east, 0.9999 north: row trunc(3599.64) = 3599, file row 0.
  float x = 0.25f, y = 0.9999f;
  EXPECT_EQ(file.Sample(&x, &y), fn(116.25, 39 + 3599.0 / 3600));
  EXPECT_FLOAT_EQ(x, 0.25f);
  EXPECT_FLOAT_EQ(y, static_cast<float>(3599.0 / 3600));
  // Row 3597 is the file's row 2, the last one written; row 3596 lies past the end.
  x = 0.0f;
  y = static_cast<float>(3597.5 / 3600);
  EXPECT_EQ(file.Sample(&x, &y), fn(116.0, 39 + 3597.0 / 3600));
  y = static_cast<float>(3596.5 / 3600);
  EXPECT_EQ(file.Sample(&x, &y), kNoHeightSample);

  // Past the far edge (the edge itself: the elevation store's tests), or not a number: no sample
  // and the offsets stay.
  for (float bad : {1.01f, -0.01f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    x = bad;
    y = 0.9999f;
    EXPECT_EQ(file.Sample(&x, &y), kNoHeightSample);
    EXPECT_TRUE(std::isnan(bad) ? std::isnan(x) : x == bad);
  }
}

TEST(HeightFile, CoarseGridBoundsAndSnap) {
  test::TempDir dir;
  const auto fn = [](double lon, double lat) {
    const long c = std::lround((lon - kCoarseWest) / kCoarseCellDegrees);
    const long r = std::lround((kCoarseNorth - lat) / kCoarseCellDegrees);
    return static_cast<double>(c * 7 + r * 3 - 2000);
  };
  ASSERT_EQ(WriteCoarseHeightFile(dir.path(), fn), dir.File("1.smh"));
  CHeightFileCoarse file(kCoarseTile, kHeightFileSmh, dir.path());
  EXPECT_EQ(file.FileSize(), 1622u * 541u * 2u);
  // The corners of the coverage read (a point inside: the elevation store's tests); one step
  // outside does not, and the position stays.
  float lon = static_cast<float>(kCoarseWest) + 1e-4f;
  float lat = static_cast<float>(-kCoarseNorth) + 1e-4f;
  EXPECT_EQ(file.Sample(&lon, &lat), 0 * 7 + 540 * 3 - 2000);
  lon = 179.64f;
  lat = 59.94f;
  EXPECT_EQ(file.Sample(&lon, &lat), 1620 * 7 + 0 * 3 - 2000);
  for (auto [a, b] : {std::pair{179.65f, 0.0f},
                      {0.0f, -59.95f},
                      {0.0f, 59.95f},
                      {-179.65f, 0.0f},
                      {std::numeric_limits<float>::quiet_NaN(), 0.0f}}) {
    lon = a;
    lat = b;
    EXPECT_EQ(file.Sample(&lon, &lat), kNoHeightSample) << a << " " << b;
    EXPECT_EQ(lat, b);
  }
}

TEST(HeightFile, MissingOddAndEmptyFilesNeverReadOutside) {
  test::TempDir dir;
  CHeightFile3s missing(CHeightFile3s::TileNumber(1, 1), kHeightFileSmh, dir.path());
  EXPECT_FALSE(missing.IsOpen());
  float x = 1.0f, y = 1.0f;
  EXPECT_EQ(missing.Sample(&x, &y), kNoHeightSample);
  EXPECT_EQ(missing.MapView(0), kNoHeightSample);

  test::WriteTestFile(dir.File("65537.smh"), std::string("\x10\x27\x7f", 3));  // 10000, then one byte
  CHeightFile3s odd(CHeightFile3s::TileNumber(1, 1), kHeightFileSmh, dir.path());
  EXPECT_EQ(odd.MapView(0), 10000);
  EXPECT_EQ(odd.MapView(2), kNoHeightSample);  // only one of its two bytes exists
  EXPECT_EQ(odd.MapView(0xFFFFFFFEu), kNoHeightSample);

  test::WriteTestFile(dir.File("65538.smh"), "");
  CHeightFile3s empty(CHeightFile3s::TileNumber(2, 1), kHeightFileSmh, dir.path());
  EXPECT_EQ(empty.MapView(0), kNoHeightSample);

  CHeightFile base(7, kHeightFileSmh, dir.path());
  EXPECT_EQ(base.Sample(&x, &y), kNoHeightSample);
}

TEST(HeightFileWriter, SampleValuesAndLayouts) {
  EXPECT_EQ(HeightSampleFromValue(12.5), 13);
  EXPECT_EQ(HeightSampleFromValue(-12.5), -13);
  EXPECT_EQ(HeightSampleFromValue(1e9), 32767);
  EXPECT_EQ(HeightSampleFromValue(-1e9), -32768);
  EXPECT_EQ(HeightSampleFromValue(std::nan("")), kNoHeightSample);

  // (The layouts are checked by reading the files back above.)
  ASSERT_TRUE(NamedHeightFunction("flat=12"));
  EXPECT_EQ(NamedHeightFunction("flat=12")(1, 2), 12.0);
  EXPECT_FALSE(NamedHeightFunction("flat=x"));
  EXPECT_FALSE(NamedHeightFunction("nothing"));
}

TEST(HeightToColor, TellingRowsAndRange) {
  const RgbColor base{56, 123, 44};
  EXPECT_EQ(HeightToColor(0), base);
  EXPECT_EQ(HeightToColor(-9999), base);
  EXPECT_EQ(HeightToColor(std::numeric_limits<float>::quiet_NaN()), base);
  EXPECT_EQ(HeightToColor(7000), (RgbColor{200, 200, 200}));
  EXPECT_EQ(HeightToColor(6670), (RgbColor{191, 191, 191}));
  const std::pair<int, RgbColor> rows[] = {{-24, {182, 227, 230}}, {-12, {162, 244, 255}}, {-1, {185, 254, 207}},
                                           {1, {65, 128, 23}},     {68, {243, 236, 0}},    {136, {148, 83, 1}}};
  for (const auto& [index, color] : rows) EXPECT_EQ(HeightColorEntry(index), color) << index;
  // Land: trunc(h * 0.029385172).
  EXPECT_EQ(HeightToColor(35), HeightColorEntry(1));
  EXPECT_EQ(HeightToColor(2315), HeightColorEntry(68));
  EXPECT_EQ(HeightToColor(6669.9f), HeightColorEntry(195));
  // Water: trunc((h + 392) * -0.06122449).
  EXPECT_EQ(HeightToColor(-1), HeightColorEntry(-23));
  EXPECT_EQ(HeightToColor(-200), HeightColorEntry(-11));
  EXPECT_EQ(HeightToColor(-380), HeightColorEntry(0));

  // Deeper than -392 m stays water (the formula would run into the land colours), higher than
  // 8848 m stays a light grey (the byte would wrap to black).
  for (float depth : {-393.0f, -1000.0f, -11000.0f, -std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(HeightToColor(depth), HeightColorEntry(-1)) << depth;
  }
  EXPECT_EQ(HeightToColor(8848), (RgbColor{255, 255, 255}));
  for (float peak : {8900.0f, 20000.0f, 1e30f, std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(HeightToColor(peak), (RgbColor{255, 255, 255})) << peak;
  }
  // Out-of-range indexes clamp.
  EXPECT_EQ(HeightColorEntry(-1000), HeightColorEntry(-24));
  EXPECT_EQ(HeightColorEntry(1000), HeightColorEntry(196));
}

}  // namespace
}  // namespace velmora
