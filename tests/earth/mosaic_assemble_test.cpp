// Joining mosaic shots, read back by GDAL (an independent reader): every shot where its column
// and row put it, shots decoded by content whatever their type, a shorter row left white, every
// other missing, unreadable or odd-sized shot refused with the output untouched, the EXIF
// properties of JPEG and TIFF, and the mapped BMP when the picture does not fit in memory.
#include <gdal.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "core/settings.h"
#include "earth/mosaic_assemble.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

constexpr int kShotW = 40, kShotH = 30;

Argb ShotColour(int c, int r) { return MakeArgb(255, uint8_t(40 + 80 * c), uint8_t(30 + 90 * r), uint8_t(200 - 50 * c)); }

// A shot of one colour with a black pixel at its top-left, in the given format.
void WriteShot(const test::TempDir& dir, int c, int r, ImageType type = ImageType::kBmp, int w = kShotW, int h = kShotH) {
  CBitmap shot;
  ASSERT_TRUE(shot.Create(w, h, ShotColour(c, r)));
  shot.SetPixel(0, 0, 0xFF000000u);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(EncodeImage(shot, type, &bytes));
  test::WriteTestFile(MosaicShotPath(dir.path(), "ge", c, r), std::string(bytes.begin(), bytes.end()));
}

struct Raster {
  int width = 0, height = 0;
  std::vector<std::array<uint8_t, 3>> rgb;
  std::string make;  // EXIF make (JPEG) or the TIFF copyright tag, as GDAL reports them
  std::array<uint8_t, 3> At(int x, int y) const { return rgb[size_t(y) * width + x]; }
};

std::optional<Raster> ReadWithGdal(const std::string& path) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return std::nullopt;
  Raster r;
  r.width = GDALGetRasterXSize(ds);
  r.height = GDALGetRasterYSize(ds);
  r.rgb.resize(size_t(r.width) * r.height);
  for (int b = 0; b < 3 && b < GDALGetRasterCount(ds); ++b) {
    std::vector<uint8_t> band(size_t(r.width) * r.height);
    if (GDALRasterIO(GDALGetRasterBand(ds, b + 1), GF_Read, 0, 0, r.width, r.height, band.data(), r.width, r.height,
                     GDT_Byte, 0, 0) != CE_None) {
      GDALClose(ds);
      return std::nullopt;
    }
    for (size_t i = 0; i < band.size(); ++i) r.rgb[i][size_t(b)] = band[i];
  }
  if (const char* make = GDALGetMetadataItem(ds, "EXIF_Make", nullptr)) r.make = make;
  if (const char* copyright = GDALGetMetadataItem(ds, "TIFFTAG_COPYRIGHT", nullptr)) r.make = copyright;
  GDALClose(ds);
  return r;
}

void ExpectColour(const Raster& r, int x, int y, Argb want, int tolerance, const std::string& what) {
  const auto got = r.At(x, y);
  EXPECT_NEAR(got[0], ArgbR(want), tolerance) << what;
  EXPECT_NEAR(got[1], ArgbG(want), tolerance) << what;
  EXPECT_NEAR(got[2], ArgbB(want), tolerance) << what;
}

// Every shot's colour in the middle of its place, and its black corner pixel where it starts.
void ExpectShots(const Raster& r, int columns, int rows, int tolerance) {
  for (int c = 0; c < columns; ++c)
    for (int row = 0; row < rows; ++row) {
      const std::string what = "shot " + std::to_string(c) + "_" + std::to_string(row);
      ExpectColour(r, c * kShotW + kShotW / 2, row * kShotH + kShotH / 2, ShotColour(c, row), tolerance, what);
      if (tolerance == 0) ExpectColour(r, c * kShotW, row * kShotH, 0xFF000000u, 0, what + " corner");
    }
}

MosaicAssembleOptions Options(const test::TempDir& dir) {
  MosaicAssembleOptions o;
  o.folder = dir.path();
  return o;
}

TEST(MosaicAssembleTest, JoinsShotsOfAnyTypeByTheirPlace) {
  test::TempDir dir;
  // A whole job writes BMP shots; a retake writes the output's type under the same name.
  WriteShot(dir, 0, 0);
  WriteShot(dir, 1, 0, ImageType::kPng);
  WriteShot(dir, 0, 1);
  WriteShot(dir, 1, 1, ImageType::kTiff);
  int progress = 0;
  MosaicAssembleOptions o = Options(dir);
  o.progress = [&](int done, int total) {
    EXPECT_EQ(total, 4);
    progress = done;
  };
  for (const char* ext : {"png", "tif", "bmp"}) {
    const std::string out = dir.File(std::string("out.") + ext);
    std::string written, error;
    ASSERT_EQ(MosaicAssemble(out, "ge", 2, 2, o, &written, &error), MosaicResult::kWritten) << error;
    EXPECT_EQ(written, out);
    EXPECT_EQ(progress, 4);
    std::optional<Raster> r = ReadWithGdal(out);
    ASSERT_TRUE(r) << out;
    EXPECT_EQ(r->width, 2 * kShotW);
    EXPECT_EQ(r->height, 2 * kShotH);
    ExpectShots(*r, 2, 2, 0);
    if (std::string(ext) == "tif") {
      EXPECT_FALSE(r->make.empty()) << "no EXIF make in the TIFF";
    }
  }
  // A single shot (a rectangle smaller than one capture).
  o.progress = nullptr;
  std::string error;
  ASSERT_EQ(MosaicAssemble(dir.File("one.png"), "ge", 1, 1, o, nullptr, &error), MosaicResult::kWritten) << error;
  std::optional<Raster> one = ReadWithGdal(dir.File("one.png"));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->width, kShotW);
  EXPECT_EQ(one->height, kShotH);
}

TEST(MosaicAssembleTest, JpegTakesTheQualityAndTheExifProperties) {
  test::TempDir dir;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 2; ++r) WriteShot(dir, c, r);
  MosaicAssembleOptions o = Options(dir);
  o.jpeg_quality = 95;
  ASSERT_EQ(MosaicAssemble(dir.File("high.jpg"), "ge", 3, 2, o), MosaicResult::kWritten);
  o.jpeg_quality = 10;
  ASSERT_EQ(MosaicAssemble(dir.File("low.jpg"), "ge", 3, 2, o), MosaicResult::kWritten);
  EXPECT_LT(std::filesystem::file_size(dir.File("low.jpg")), std::filesystem::file_size(dir.File("high.jpg")));
  std::optional<Raster> r = ReadWithGdal(dir.File("high.jpg"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->width, 3 * kShotW);
  ExpectShots(*r, 3, 2, 12);
  EXPECT_FALSE(r->make.empty()) << "no EXIF make in the JPEG";
}

TEST(MosaicAssembleTest, ShorterRowsStayBlankOtherGapsFail) {
  test::TempDir dir;
  // Row 0 spans three shots, row 1 only two: the picture is three shots wide, 2_1 white.
  for (int c = 0; c < 3; ++c) WriteShot(dir, c, 0);
  for (int c = 0; c < 2; ++c) WriteShot(dir, c, 1);
  MosaicAssembleOptions o = Options(dir);
  std::string error;
  ASSERT_EQ(MosaicAssemble(dir.File("rows.png"), "ge", 4, 2, o, nullptr, &error), MosaicResult::kWritten) << error;
  std::optional<Raster> r = ReadWithGdal(dir.File("rows.png"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->width, 3 * kShotW);
  ExpectShots(*r, 2, 2, 0);
  ExpectColour(*r, 2 * kShotW + 5, kShotH + 5, 0xFFFFFFFFu, 0, "the blank end of row 1");

  // A gap inside a row, an unreadable shot, a shot of another size: refused, the old output kept.
  const std::string kept = test::ReadTestFile(dir.File("rows.png"));
  auto refused = [&](const std::string& why) {
    std::string e;
    EXPECT_EQ(MosaicAssemble(dir.File("rows.png"), "ge", 3, 2, o, nullptr, &e), MosaicResult::kFailed) << why;
    EXPECT_FALSE(e.empty()) << why;
    EXPECT_EQ(test::ReadTestFile(dir.File("rows.png")), kept) << why;
  };
  std::filesystem::remove(MosaicShotPath(dir.path(), "ge", 1, 0));
  refused("gap");
  test::WriteTestFile(MosaicShotPath(dir.path(), "ge", 1, 0), "not a picture");
  refused("unreadable");
  WriteShot(dir, 1, 0, ImageType::kBmp, kShotW + 1, kShotH);
  refused("odd size");
  std::filesystem::remove(MosaicShotPath(dir.path(), "ge", 0, 0));
  refused("no first shot");
  EXPECT_EQ(MosaicAssemble(dir.File("x.png"), "ge", 0, 2, o), MosaicResult::kFailed);
}

TEST(MosaicAssembleTest, TooLargeForMemoryAsksForAMappedBmp) {
  test::TempDir dir;
  for (int c = 0; c < 2; ++c)
    for (int r = 0; r < 2; ++r) WriteShot(dir, c, r);
  MosaicAssembleOptions o = Options(dir);
  o.memory_limit = 1000;  // smaller than any picture here
  int asked = 0;
  o.ask_bmp = [&] {
    ++asked;
    return false;
  };
  EXPECT_EQ(MosaicAssemble(dir.File("big.jpg"), "ge", 2, 2, o), MosaicResult::kDeclined);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("big.jpg")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("big.bmp")));

  o.ask_bmp = [&] {
    ++asked;
    return true;
  };
  std::string written, error;
  ASSERT_EQ(MosaicAssemble(dir.File("big.jpg"), "ge", 2, 2, o, &written, &error), MosaicResult::kWritten) << error;
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(written, dir.File("big.bmp"));
  std::optional<Raster> r = ReadWithGdal(written);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->width, 2 * kShotW);
  EXPECT_EQ(r->height, 2 * kShotH);
  ExpectShots(*r, 2, 2, 0);
  // A BMP output is not asked about; no temporary file stays behind.
  ASSERT_EQ(MosaicAssemble(dir.File("direct.bmp"), "ge", 2, 2, o), MosaicResult::kWritten);
  EXPECT_EQ(asked, 2);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace velmora
