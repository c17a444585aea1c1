// Imaging helpers of exports: the encoder table, world and projection side files read by GDAL,
// property stamping, the program-icon stamp, and the shared text renderer.
#include "core/imaging.h"

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <cmath>
#include <filesystem>

#include "core/format.h"
#include "core/gdip_text_renderer.h"
#include "core/settings.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

using test::TempDir;

// The program folder is the source tree's data folder, where the icon ships.
const TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

// The geotransform and coordinate system GDAL sees for a picture with its side files.
bool OpenWithGdal(const std::string& path, double gt[6], std::string* wkt) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  bool ok = GDALGetGeoTransform(ds, gt) == CE_None;
  *wkt = GDALGetProjectionRef(ds);
  GDALClose(ds);
  return ok;
}

CBitmap Grey(int w, int h) {
  CBitmap b;
  b.Create(w, h, 0xFF808080);
  return b;
}

TEST(Imaging, EncoderTableAndWorldFiles) {
  EXPECT_EQ(ImageTypeToMime("JPG"), "image/jpeg");
  EXPECT_EQ(ImageTypeToMime("kmz"), "");
  ImageType t;
  EXPECT_EQ(GetEncoderClsid("image/png", &t), 4);
  EXPECT_EQ(t, ImageType::kPng);
  EXPECT_EQ(GetEncoderClsid("image/x-icon"), -1);
  EXPECT_EQ(WorldFileExt("gif"), "gfw");
  EXPECT_EQ(WorldFileExt("x"), "");
  EXPECT_EQ(WorldFilePath("/out/地图.v1.jpg"), "/out/地图.v1.jpw");
  EXPECT_EQ(WorldFilePath("/out.d/noext"), "");

  // Six "%.17f" lines whatever the locale; a value that is not a number writes no file.
  TempDir dir;
  const double values[6] = {0.5, 0, 0, -0.5, 120.123456789, -36.5};
  ASSERT_TRUE(WriteWorldFile(dir.File("a.jpw"), values));
  std::string expected;
  for (double v : values) expected += FormatC("%.17f\n", v);
  EXPECT_EQ(test::ReadTestFile(dir.File("a.jpw")), expected);
  const double bad[6] = {NAN, 0, 0, -1, 0, 0};
  std::string error;
  EXPECT_FALSE(WriteWorldFile(dir.File("b.jpw"), bad, &error));
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.jpw")));
}

TEST(Imaging, WorldAndSideFilesPlaceThePictureInGdal) {
  TempDir dir;
  // A 256 x 128 picture, 2.5 m pixels, top-left pixel centre at (13358338.89519283, 4163881.14406415).
  const double values[6] = {2.5, 0, 0, -2.5, 13358338.895192832, 4163881.144064151};
  for (const char* ext : {"jpg", "tif"}) {
    SCOPED_TRACE(ext);
    std::string image = dir.File(std::string("mosaic.") + ext);
    ASSERT_TRUE(SaveImageByExtension(Grey(256, 128), image));
    std::string error, wkt;
    ASSERT_TRUE(WriteWorldFile(WorldFilePath(image), values, &error)) << error;
    ASSERT_TRUE(WriteProjSideFiles(image, &error)) << error;
    double gt[6];
    ASSERT_TRUE(OpenWithGdal(image, gt, &wkt));
    // GDAL's origin is the corner of the top-left pixel, half a pixel from the world file's centre.
    EXPECT_NEAR(gt[0], values[4] - 1.25, 1e-6);
    EXPECT_NEAR(gt[3], values[5] + 1.25, 1e-6);
    EXPECT_NEAR(gt[5], -2.5, 1e-12);
    EXPECT_NE(wkt.find("Pseudo-Mercator"), std::string::npos) << wkt;
  }
  // The ".prj" beside the picture is the ESRI form of the same system.
  OGRSpatialReferenceH prj = OSRNewSpatialReference(nullptr), web = OSRNewSpatialReference(nullptr);
  ASSERT_EQ(OSRSetFromUserInput(prj, dir.File("mosaic.prj").c_str()), OGRERR_NONE);
  ASSERT_EQ(OSRImportFromEPSG(web, 3857), OGRERR_NONE);
  EXPECT_TRUE(OSRIsSame(prj, web));
  OSRDestroySpatialReference(prj);
  OSRDestroySpatialReference(web);
}

// The codec tests show that properties reach the file's EXIF; here the stamp and the options.
TEST(Imaging, StampedPropertiesAndTheQualityOption) {
  TempDir dir;
  CBitmap image = Grey(64, 32);
  StampImageProperties(image);
  ASSERT_TRUE(image.GetProperty(kPropertyCopyright) && image.GetProperty(kPropertyModel));
  EXPECT_EQ(*image.GetProperty(kPropertyCopyright), "Velmora");
  EXPECT_EQ(*image.GetProperty(kPropertyModel), "Velmora map workstation");
  const std::string* when = image.GetProperty(kPropertyDateTimeOriginal);
  ASSERT_TRUE(when);
  std::string shape = *when;
  for (char& c : shape) c = (c >= '0' && c <= '9') ? '9' : c;
  EXPECT_EQ(shape, "9999:99:99 99:99:99") << *when;
  // The JPEG quality option reaches the encoder.
  std::vector<uint8_t> low, high;
  CBitmap busy;
  busy.Create(64, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) busy.SetPixel(x, y, MakeArgb(255, uint8_t(x * 4), uint8_t(x * y), uint8_t(y * 4)));
  {
    ScopedAppOptions quality([](CAppOptions& o) { o.jpeg_quality = 20; });
    ASSERT_TRUE(EncodeImageByMime(busy, "image/jpeg", &low));
  }
  {
    ScopedAppOptions quality([](CAppOptions& o) { o.jpeg_quality = 95; });
    ASSERT_TRUE(EncodeImageByMime(busy, "image/jpeg", &high));
  }
  EXPECT_LT(low.size(), high.size());
  std::string error;
  EXPECT_FALSE(SaveImageByExtension(busy, dir.File("x.kmz"), &error));
  EXPECT_FALSE(EncodeImageByMime(busy, "text/html", &low, &error));
  // By MIME type the extension does not matter; the content says what the file is.
  ASSERT_TRUE(SaveImageByMime(busy, dir.File("shot.tmp"), "image/bmp", &error)) << error;
  CBitmap back;
  ASSERT_TRUE(LoadImageFile(dir.File("shot.tmp"), &back, &error)) << error;
  EXPECT_EQ(back.GetPixel(10, 20), busy.GetPixel(10, 20));
}

TEST(Imaging, IconStampedOncePerTileOrOnceInTheCentre) {
  const CBitmap& icon = ProgramIcon();
  ASSERT_FALSE(icon.IsEmpty());
  // The icon's white background is keyed out: its corner leaves the picture as it was.
  ASSERT_EQ(icon.GetPixel(0, 0), 0xFFFFFFFFu);

  // Pixels changed in the 32 x 32 square around (cx, 128).
  auto changed = [](const CBitmap& image, int cx) {
    int n = 0;
    for (int y = 128 - 16; y < 128 + 16; ++y)
      for (int x = cx - 16; x < cx + 16; ++x) n += image.GetPixel(x, y) != 0xFF808080u;
    return n;
  };
  CBitmap image = Grey(512, 256);
  ASSERT_TRUE(StampLogo(image, 2, 1));
  EXPECT_GT(changed(image, 128), 200);
  EXPECT_GT(changed(image, 384), 200);
  EXPECT_EQ(image.GetPixel(128 - 16, 128 - 16), 0xFF808080u);  // keyed corner
  EXPECT_EQ(changed(image, 256), 0);

  ProgramSettings().SetInt("StampMode", 1);
  CBitmap once = Grey(512, 256);
  ASSERT_TRUE(StampLogo(once, 2, 1));
  ProgramSettings().SetInt("StampMode", 0);
  EXPECT_EQ(changed(once, 128), 0);
  EXPECT_GT(changed(once, 256), 200);
}

// Drawing itself is the graphics layer's; here the renderer's colour and its 512-character limit.
TEST(Imaging, SharedRendererDrawsAtMost512CharactersInItsColour) {
  CGdipTextRenderer& r = SharedTextRenderer();
  std::string long_text(600, 'x');
  TextExtent cut = r.Measure(long_text.substr(0, 512).c_str());
  ASSERT_LT(cut.width, 3900);
  CBitmap wide;
  wide.Create(4000, 20, 0xFFFFFFFF);
  r.SelectColor(0xFFFF0000);
  {
    CGraphics w(wide);
    r.DrawTextF(w, 0, 0, "%s", long_text.c_str());
  }
  r.SelectColor(0xFF000000);
  int rightmost = -1, red = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 4000; ++x) {
      Argb c = wide.GetPixel(x, y);
      if (c != 0xFFFFFFFF) rightmost = std::max(rightmost, x);
      red += ArgbR(c) == 255 && ArgbG(c) < 128;
    }
  EXPECT_GT(red, 100);
  // Ink ends where the first 512 characters end.
  EXPECT_GT(rightmost, int(cut.width) - 12);
  EXPECT_LE(rightmost, int(cut.width) + 1);
}

}  // namespace
}  // namespace velmora
