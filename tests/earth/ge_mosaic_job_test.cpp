// The snapshot mosaic job's files byte for byte, every truncation of them refused, the project
// file's text, the grid over rectangles (across 180 degrees, empty ones refused), the disk need
// and the world file of the joined picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "earth/ge_mosaic_job.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

GeMosaicJob SampleJob() {
  GeMosaicJob job;
  job.output_path = "/tmp/地图/out.jpg";
  job.full_screen = 1;
  job.delay_ms = 500;
  job.carried[0] = 7;
  job.carried[1] = 9;
  job.coordinates = 1;
  job.left = 116.25f;
  job.top = 40.5f;
  job.right = 117.75f;
  job.bottom = 39.25f;
  job.altitude = 3000.5f;
  job.next_lng = 116.5f;
  job.next_lat = 40.0f;
  job.column = 3;
  job.row = 2;
  return job;
}

void AppendU32(std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }
void AppendF32(std::string& s, float v) { s.append(reinterpret_cast<const char*>(&v), 4); }

TEST(GeMosaicJobTest, ResumeAndListFilesByteForByte) {
  test::TempDir dir;
  const GeMosaicJob job = SampleJob();
  ASSERT_TRUE(WriteGeResumeFile(dir.File("ge.exp"), job));
  const std::string bytes = test::ReadTestFile(dir.File("ge.exp"));
  // The path as an archive string (GBK bytes behind their length), then the fields in order.
  const std::string fields_start = "out.jpg";
  const size_t at = bytes.find(fields_start);
  ASSERT_NE(at, std::string::npos);
  std::string tail;
  for (uint32_t v : {1u, 500u, 7u, 9u, 1u}) AppendU32(tail, v);
  for (float v : {116.25f, 40.5f, 117.75f, 39.25f, 3000.5f, 116.5f, 40.0f}) AppendF32(tail, v);
  AppendU32(tail, 3);
  AppendU32(tail, 2);
  EXPECT_EQ(bytes.substr(at + fields_start.size()), tail);

  GeMosaicJob back;
  ASSERT_TRUE(ReadGeResumeFile(dir.File("ge.exp"), &back));
  EXPECT_EQ(back.output_path, job.output_path);
  EXPECT_EQ(back.altitude, job.altitude);
  EXPECT_EQ(back.next_lat, job.next_lat);
  EXPECT_EQ(back.column, 3u);
  EXPECT_EQ(back.row, 2u);
  EXPECT_EQ(back.carried[1], 9u);
  // Every truncation and a trailing byte: refused with a reason, the fields untouched.
  for (size_t n = 0; n <= bytes.size(); ++n) {
    std::string damaged = n < bytes.size() ? bytes.substr(0, n) : bytes + "x";
    test::WriteTestFile(dir.File("bad.exp"), damaged);
    GeMosaicJob kept = SampleJob();
    std::string error;
    EXPECT_FALSE(ReadGeResumeFile(dir.File("bad.exp"), &kept, &error)) << n;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(kept.column, 3u);
  }

  GeMosaicList list{4, 3, 0, "/data/a.tif", 1500.0f, 250};
  ASSERT_TRUE(WriteGeListFile(dir.File("ge.lst"), list));
  const std::string lst = test::ReadTestFile(dir.File("ge.lst"));
  std::string head;
  for (uint32_t v : {4u, 3u, 0u}) AppendU32(head, v);
  EXPECT_EQ(lst.substr(0, 12), head);
  std::string end;
  AppendF32(end, 1500.0f);
  AppendU32(end, 250);
  EXPECT_EQ(lst.substr(lst.size() - 8), end);
  GeMosaicList read;
  ASSERT_TRUE(ReadGeListFile(dir.File("ge.lst"), &read));
  EXPECT_EQ(read.columns, 4u);
  EXPECT_EQ(read.output_path, "/data/a.tif");
  EXPECT_EQ(read.delay_ms, 250u);
  for (size_t n = 0; n < lst.size(); ++n) {
    test::WriteTestFile(dir.File("bad.lst"), lst.substr(0, n));
    EXPECT_FALSE(ReadGeListFile(dir.File("bad.lst"), &read)) << n;
  }
  // A list of no shots is broken too.
  ASSERT_TRUE(WriteGeListFile(dir.File("zero.lst"), GeMosaicList{0, 3, 0, "x.jpg", 1, 1}));
  EXPECT_FALSE(ReadGeListFile(dir.File("zero.lst"), &read));

  const double record[6] = {116.5, 40.0, 116.49, 40.01, 117.1, 39.6};
  ASSERT_TRUE(WriteGeShotRecord(GeShotRecordPath(dir.path(), 1, 2), record));
  EXPECT_EQ(std::filesystem::file_size(dir.File("ge_1_2.dat")), 48u);
  double r[6];
  ASSERT_TRUE(ReadGeShotRecord(dir.File("ge_1_2.dat"), r));
  EXPECT_EQ(std::memcmp(r, record, sizeof r), 0);
}

TEST(GeMosaicJobTest, ProjectFileAndLogHeader) {
  const GeMosaicJob job = SampleJob();
  EXPECT_EQ(GeProjectFileText(job),
            "NAME: out.jpg\nLAYER: GE\nDELAY: 500\nFULLSCREEN: 1\nCOORD: 1\n"
            "BOUND: 116.250000,40.500000;117.750000,39.250000;116.500000,40.000000,3000.500000;3,2");
  EXPECT_EQ(GeJobLogHeader(job), ";116.250000,40.500000 => 117.750000,39.250000; 116.500000,40.000000");
  const std::string kep = GeProjectFilePath("/d/out.jpg", 0);
  EXPECT_EQ(kep.substr(0, 7), "/d/out ");
  EXPECT_EQ(kep.substr(kep.size() - 4), ".kep");
  EXPECT_EQ(kep.size(), std::string("/d/out 70-01-01 00-00-00.kep").size());
}

TEST(GeMosaicJobTest, GridAcross180AndEmptyRectangles) {
  GeMosaicJob job = SampleJob();
  std::optional<GeRect> rect = GeJobRect(job);
  ASSERT_TRUE(rect);
  // A capture a third of the rectangle wide and half of it high (in Mercator pixels).
  const double third = (117.75 - 116.25) / 3;
  std::optional<GeGrid> grid = GeGridSize(*rect, 116.25, 40.5, 116.25 + third * 0.999, 39.875);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->columns, 4);  // 3.003 rounded up
  EXPECT_GE(grid->rows, 2);
  // A rectangle from 179 E to 179 W is 2 degrees wide, not 358.
  job.left = 179.0f;
  job.right = -179.0f;
  rect = GeJobRect(job);
  ASSERT_TRUE(rect);
  EXPECT_DOUBLE_EQ(rect->right - rect->left, 2.0);
  grid = GeGridSize(*rect, 179.0, 40.5, 179.5, 39.25);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->columns, 4);
  EXPECT_DOUBLE_EQ(WrapLongitude(180.5), -179.5);
  EXPECT_DOUBLE_EQ(WrapLongitude(-180.0), -180.0);
  // Empty or broken rectangles and captures.
  job = SampleJob();
  job.right = job.left;
  EXPECT_FALSE(GeJobRect(job));
  job = SampleJob();
  job.bottom = job.top;
  EXPECT_FALSE(GeJobRect(job));
  job = SampleJob();
  job.top = NAN;
  EXPECT_FALSE(GeJobRect(job));
  EXPECT_FALSE(GeGridSize(*GeJobRect(SampleJob()), 116.0, 40.0, 116.0, 39.0));
  // Tiny captures over a large rectangle: 80,000 columns of some 38,000 shots would overflow the
  // jobs' int count.
  GeRect wide{0.0, 60.0, 100.0, -60.0};
  EXPECT_FALSE(GeGridSize(wide, 0.0, 60.0, 0.00125, 59.998));
  std::optional<GeGrid> fits = GeGridSize(wide, 0.0, 60.0, 0.5, 59.5);
  ASSERT_TRUE(fits);
  EXPECT_NEAR(fits->columns, 200, 1);
}

TEST(GeMosaicJobTest, DiskNeedAndWorldFile) {
  EXPECT_EQ(GeDiskNeeded(936, 605, 4), uint64_t(936) * 605 * 4 * 4 + 104857600ull);
  const double record[6] = {0, 0, 10.0, 20.0, 11.0, 19.0};
  double wf[6];
  const double step = 1e-4;  // degrees per pixel
  ASSERT_TRUE(GeWorldFileValues(record, step, wf));
  const double pixel = step * 111319.49079327357;  // metres of 1e-4 degree on the sphere's equator
  EXPECT_NEAR(wf[0], pixel, 1e-9);
  EXPECT_EQ(wf[1], 0);
  EXPECT_EQ(wf[2], 0);
  EXPECT_NEAR(wf[3], -pixel, 1e-9);
  // 10 E, 20 N in spherical Mercator metres (EPSG:3857), plus half a pixel into the picture.
  EXPECT_NEAR(wf[4], 1113194.9079327357 + pixel / 2, 1e-3);
  EXPECT_NEAR(wf[5], 2273030.926987689 - pixel / 2, 1e-3);
  EXPECT_FALSE(GeWorldFileValues(record, 0.0, wf));
  EXPECT_FALSE(GeWorldFileValues(record, NAN, wf));
}

}  // namespace
}  // namespace velmora
