// Imaging helpers of exports: the encoder table, world and projection side files read by gdalinfo,
// EXIF stamping read back with libexif, the program-icon stamp, and the shared text renderer.
#include "core/imaging.h"

#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "core/format.h"
#include "core/gdip_text_renderer.h"
#include "core/settings.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::TempDir;

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The six numbers of gdalinfo's "geoTransform" array.
std::vector<double> GdalGeoTransform(const std::string& path) {
  std::string json = RunCommand("gdalinfo -json '" + path + "' 2>/dev/null");
  std::vector<double> v;
  size_t at = json.find("\"geoTransform\"");
  if (at == std::string::npos) return v;
  size_t open = json.find('[', at), close = json.find(']', at);
  std::string list = json.substr(open + 1, close - open - 1);
  for (size_t p = 0; p < list.size();) {
    size_t comma = list.find(',', p);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(p, comma - p);
    std::erase_if(item, [](char c) { return c == '\n' || c == ' '; });
    if (auto d = ParseDouble(item)) v.push_back(*d);
    p = comma + 1;
  }
  return v;
}

CBitmap Grey(int w, int h) {
  CBitmap b;
  b.Create(w, h, 0xFF808080);
  return b;
}

TEST(Imaging, EncoderTableAndWorldFileNames) {
  EXPECT_EQ(ImageTypeToMime("bmp"), "image/bmp");
  EXPECT_EQ(ImageTypeToMime("JPG"), "image/jpeg");
  EXPECT_EQ(ImageTypeToMime("jpeg"), "image/jpeg");
  EXPECT_EQ(ImageTypeToMime("gif"), "image/gif");
  EXPECT_EQ(ImageTypeToMime("tif"), "image/tiff");
  EXPECT_EQ(ImageTypeToMime("png"), "image/png");
  EXPECT_EQ(ImageTypeToMime("kmz"), "");
  ImageType t;
  EXPECT_EQ(GetEncoderClsid("image/png", &t), 4);
  EXPECT_EQ(t, ImageType::kPng);
  EXPECT_EQ(GetEncoderClsid("image/bmp"), 0);
  EXPECT_EQ(GetEncoderClsid("image/jpeg"), 1);
  EXPECT_EQ(GetEncoderClsid("image/x-icon"), -1);
  EXPECT_EQ(WorldFileExt("bmp"), "bmw");
  EXPECT_EQ(WorldFileExt("jpg"), "jpw");
  EXPECT_EQ(WorldFileExt("gif"), "gfw");
  EXPECT_EQ(WorldFileExt("tif"), "tfw");
  EXPECT_EQ(WorldFileExt("png"), "pnw");
  EXPECT_EQ(WorldFileExt("x"), "");
  EXPECT_EQ(WorldFilePath("/out/地图.v1.jpg"), "/out/地图.v1.jpw");
  EXPECT_EQ(WorldFilePath("/out.d/noext"), "");
}

TEST(Imaging, WorldAndSideFilesPlaceThePictureInGdal) {
  TempDir dir;
  // A 256 x 128 picture, 2.5 m pixels, top-left pixel centre at (13358338.89519283, 4163881.14406415).
  const double values[6] = {2.5, 0, 0, -2.5, 13358338.895192832, 4163881.144064151};
  for (const char* ext : {"jpg", "tif"}) {
    SCOPED_TRACE(ext);
    std::string image = dir.File(std::string("mosaic.") + ext);
    ASSERT_TRUE(SaveImageByExtension(Grey(256, 128), image));
    std::string error;
    ASSERT_TRUE(WriteWorldFile(WorldFilePath(image), values, &error)) << error;
    ASSERT_TRUE(WriteProjSideFiles(image, &error)) << error;
    std::vector<double> gt = GdalGeoTransform(image);
    ASSERT_EQ(gt.size(), 6u);
    // GDAL's origin is the corner of the top-left pixel, half a pixel from the world file's centre.
    EXPECT_NEAR(gt[0], values[4] - 1.25, 1e-6);
    EXPECT_NEAR(gt[1], 2.5, 1e-12);
    EXPECT_NEAR(gt[3], values[5] + 1.25, 1e-6);
    EXPECT_NEAR(gt[5], -2.5, 1e-12);
    std::string info = RunCommand("gdalinfo '" + image + "' 2>/dev/null");
    EXPECT_NE(info.find("Pseudo-Mercator"), std::string::npos) << info;
  }
  // The ".prj" beside the picture is the ESRI form of the same system.
  std::string prj = test::ReadTestFile(dir.File("mosaic.prj"));
  EXPECT_NE(prj.find("Mercator_Auxiliary_Sphere"), std::string::npos);
  std::string srs = RunCommand("gdalsrsinfo -e '" + dir.File("mosaic.prj") + "' 2>/dev/null");
  EXPECT_NE(srs.find("EPSG:3857"), std::string::npos) << srs;
}

TEST(Imaging, WorldFileHasSixFixedLines) {
  TempDir dir;
  const double values[6] = {0.5, 0, 0, -0.5, 120.123456789, -36.5};
  ASSERT_TRUE(WriteWorldFile(dir.File("a.jpw"), values));
  std::string text = test::ReadTestFile(dir.File("a.jpw"));
  std::string expected;
  for (double v : values) {
    char line[64];
    std::snprintf(line, sizeof line, "%.17f\n", v);
    expected += line;
  }
  EXPECT_EQ(text, expected);
  const double bad[6] = {NAN, 0, 0, -1, 0, 0};
  std::string error;
  EXPECT_FALSE(WriteWorldFile(dir.File("b.jpw"), bad, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.jpw")));
}

TEST(Imaging, StampedPropertiesAreReadBackWithLibexif) {
  TempDir dir;
  CBitmap image = Grey(64, 32);
  StampImageProperties(image);
  std::string path = dir.File("export.jpg");
  ASSERT_TRUE(SaveImageByExtension(image, path));
  ExifData* ed = exif_data_new_from_file(path.c_str());
  ASSERT_TRUE(ed);
  auto text = [&](ExifIfd ifd, ExifTag tag) {
    ExifEntry* e = exif_content_get_entry(ed->ifd[ifd], tag);
    return e && e->format == EXIF_FORMAT_ASCII ? std::string(reinterpret_cast<const char*>(e->data)) : "";
  };
  EXPECT_EQ(text(EXIF_IFD_0, ExifTag(33432)), "Velmora");
  EXPECT_EQ(text(EXIF_IFD_0, ExifTag(271)), "Velmora");
  EXPECT_EQ(text(EXIF_IFD_0, ExifTag(272)), "Velmora map workstation");
  // "YYYY:MM:DD HH:MM:SS"
  std::string when = text(EXIF_IFD_EXIF, ExifTag(36867));
  ASSERT_EQ(when.size(), 19u) << when;
  for (size_t i = 0; i < when.size(); ++i) {
    char expected = i == 4 || i == 7 || i == 13 || i == 16 ? ':' : i == 10 ? ' ' : '0';
    if (expected == '0') EXPECT_TRUE(std::isdigit(uint8_t(when[i]))) << when;
    else EXPECT_EQ(when[i], expected) << when;
  }
  exif_data_unref(ed);
  // The JPEG quality option reaches the encoder.
  std::vector<uint8_t> low, high;
  AppOptions().jpeg_quality = 20;
  CBitmap busy;
  busy.Create(64, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) busy.SetPixel(x, y, MakeArgb(255, uint8_t(x * 4), uint8_t(x * y), uint8_t(y * 4)));
  ASSERT_TRUE(EncodeImageByMime(busy, "image/jpeg", &low));
  AppOptions().jpeg_quality = 95;
  ASSERT_TRUE(EncodeImageByMime(busy, "image/jpeg", &high));
  AppOptions().jpeg_quality = 90;
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

class StampLogoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The icon ships in the source tree's data folder.
    AppOptions().program_dir = std::string(VELMORA_SOURCE_DIR) + "/data/";
  }
  void TearDown() override { ProgramSettings().SetInt("StampMode", 0); }
};

TEST_F(StampLogoTest, IconOncePerTileOrOnceInTheCentre) {
  const CBitmap& icon = ProgramIcon();
  ASSERT_FALSE(icon.IsEmpty());
  // The icon's white background is keyed out: its corner leaves the picture as it was.
  ASSERT_EQ(icon.GetPixel(0, 0), 0xFFFFFFFFu);

  CBitmap image = Grey(512, 256);
  ASSERT_TRUE(StampLogo(image, 2, 1));
  int cx[] = {128, 384};
  for (int x : cx) {
    int changed = 0;
    for (int y = 128 - 16; y < 128 + 16; ++y)
      for (int dx = -16; dx < 16; ++dx) changed += image.GetPixel(x + dx, y) != 0xFF808080u;
    EXPECT_GT(changed, 200) << "tile at " << x;
    EXPECT_EQ(image.GetPixel(x - 16, 128 - 16), 0xFF808080u);  // keyed corner
  }
  EXPECT_EQ(image.GetPixel(256, 128), 0xFF808080u);

  ProgramSettings().SetInt("StampMode", 1);
  CBitmap once = Grey(512, 256);
  ASSERT_TRUE(StampLogo(once, 2, 1));
  EXPECT_EQ(once.GetPixel(128, 128), 0xFF808080u);
  int changed = 0;
  for (int y = 112; y < 144; ++y)
    for (int x = 240; x < 272; ++x) changed += once.GetPixel(x, y) != 0xFF808080u;
  EXPECT_GT(changed, 200);
}

TEST(Imaging, SharedRendererDrawsFormattedText) {
  CGdipTextRenderer& r = SharedTextRenderer();
  EXPECT_EQ(&r, &SharedTextRenderer());
  CBitmap b;
  b.Create(256, 256, 0xFFFFFFFF);
  CGraphics g(b);
  r.SelectColor(0xFFFF0000);
  r.DrawTextF(g, 100, 100, "%d/%d/%d 无数据", 3, 4, 5);
  g.Flush();
  int red = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      Argb c = b.GetPixel(x, y);
      if (c != 0xFFFFFFFF) {
        EXPECT_GE(x, 100);
        EXPECT_GE(y, 100);
        red += ArgbR(c) == 255 && ArgbG(c) < 128;
      }
    }
  EXPECT_GT(red, 20);
  r.SelectColor(0xFF000000);
  // At most 512 characters are drawn: ink ends where the first 512 end.
  std::string long_text(600, 'x');
  TextExtent cut = r.Measure(long_text.substr(0, 512).c_str());
  ASSERT_LT(cut.width, 3900);
  CBitmap wide;
  wide.Create(4000, 20, 0xFFFFFFFF);
  {
    CGraphics w(wide);
    r.DrawTextW(w, 0, 0, "%s", long_text.c_str());
  }
  int rightmost = -1;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 4000; ++x)
      if (wide.GetPixel(x, y) != 0xFFFFFFFF) rightmost = std::max(rightmost, x);
  EXPECT_GT(rightmost, int(cut.width) - 12);
  EXPECT_LE(rightmost, int(cut.width) + 1);
  EXPECT_EQ(FontFromTextStyle(CTextStyle{}).Face(), "黑体");
  EXPECT_NEAR(FontFromTextStyle(CTextStyle{}).PixelSize(), 16.0f, 1e-5);
}

}  // namespace
}  // namespace velmora
