// Image files: round trips of every format, files read by GDAL and written by GDAL, detection by
// content, EXIF and TIFF text properties, and bad files refused cleanly.
#include <gdal.h>
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::TempDir;

// An opaque picture with smooth gradients, hard edges and odd dimensions (row padding).
CBitmap TestPicture(int w = 97, int h = 61) {
  CBitmap b;
  b.Create(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y, MakeArgb(255, uint8_t(x * 255 / w), uint8_t(y * 255 / h),
                                uint8_t(128 + 100 * std::sin(x / 7.0) * std::cos(y / 5.0))));
  CGraphics g(b);
  g.FillRectangle(0xFF2040C0, GfxRect{10, 10, 30, 20});
  return b;
}

// Few colours (fits a GIF palette), with fully transparent pixels.
CBitmap PalettePicture() {
  CBitmap b;
  b.Create(40, 30, 0xFFFFFFFF);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      if ((x / 5 + y / 5) % 3 == 0) b.SetPixel(x, y, 0xFFC03020);
      if (x > 30 && y > 20) b.SetPixel(x, y, 0x00000000);
    }
  return b;
}

bool SamePixels(const CBitmap& a, const CBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  return std::memcmp(a.Pixels(), b.Pixels(), a.ByteSize()) == 0;
}

double Psnr(const CBitmap& a, const CBitmap& b) {
  double se = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      Argb p = a.GetPixel(x, y), q = b.GetPixel(x, y);
      for (int s : {0, 8, 16}) {
        double d = double((p >> s) & 0xFF) - double((q >> s) & 0xFF);
        se += d * d;
      }
    }
  double mse = se / (3.0 * a.Width() * a.Height());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::vector<uint8_t> Encode(const CBitmap& b, ImageType t, int quality = 90) {
  std::vector<uint8_t> out;
  std::string error;
  EncodeOptions o;
  o.jpeg_quality = quality;
  EXPECT_TRUE(EncodeImage(b, t, &out, o, &error)) << error;
  return out;
}

CBitmap Decode(const std::vector<uint8_t>& bytes) {
  CBitmap b;
  std::string error;
  EXPECT_TRUE(DecodeImage(bytes, &b, &error)) << error;
  return b;
}

// The picture as GDAL reads the file (RGB or RGBA bands), as straight ARGB.
CBitmap ReadWithGdal(const std::string& path) {
  GDALAllRegister();
  CBitmap b;
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) {
    ADD_FAILURE() << "GDAL cannot open " << path;
    return b;
  }
  int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds), bands = GDALGetRasterCount(ds);
  b.Create(w, h);
  std::vector<uint8_t> plane(size_t(w) * h);
  std::vector<std::vector<uint8_t>> channels;
  for (int i = 1; i <= bands; ++i) {
    GDALRasterBandH band = GDALGetRasterBand(ds, i);
    GDALColorTableH table = GDALGetRasterColorTable(band);
    EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, w, h, plane.data(), w, h, GDT_Byte, 0, 0), CE_None);
    if (table) {  // a paletted band (GIF, 8-bit BMP): expand
      int nodata_ok = 0;
      int nodata = int(GDALGetRasterNoDataValue(band, &nodata_ok));
      std::vector<uint8_t> r(plane.size()), g(plane.size()), bl(plane.size()), a(plane.size());
      for (size_t k = 0; k < plane.size(); ++k) {
        const GDALColorEntry* e = GDALGetColorEntry(table, plane[k]);
        r[k] = uint8_t(e->c1), g[k] = uint8_t(e->c2), bl[k] = uint8_t(e->c3);
        a[k] = nodata_ok && plane[k] == nodata ? 0 : 255;
      }
      channels = {r, g, bl, a};
      break;
    }
    channels.push_back(plane);
  }
  GDALClose(ds);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      size_t k = size_t(y) * w + x;
      uint8_t a = channels.size() >= 4 ? channels[3][k] : 255;
      b.SetPixel(x, y, MakeArgb(a, channels[0][k], channels[1][k], channels[2][k]));
    }
  return b;
}

TEST(GfxCodec, LosslessFormatsRoundTripExactly) {
  CBitmap picture = TestPicture();
  for (ImageType t : {ImageType::kBmp, ImageType::kPng, ImageType::kTiff}) {
    SCOPED_TRACE(ImageTypeExtension(t));
    CBitmap back = Decode(Encode(picture, t));
    EXPECT_TRUE(SamePixels(picture, back));
  }
  CBitmap palette = PalettePicture();
  for (ImageType t : {ImageType::kBmp, ImageType::kPng, ImageType::kTiff, ImageType::kGif}) {
    SCOPED_TRACE(ImageTypeExtension(t));
    CBitmap back = Decode(Encode(palette, t));
    EXPECT_TRUE(SamePixels(palette, back));
    EXPECT_EQ(back.GetPixel(35, 25), 0u);  // transparency kept
  }
}

TEST(GfxCodec, TranslucentPixelsSurviveAlphaFormats) {
  CBitmap b;
  b.Create(64, 4);
  for (int x = 0; x < 64; ++x)
    for (int y = 0; y < 4; ++y) b.SetPixel(x, y, MakeArgb(uint8_t(x * 4 + y), uint8_t(200 - x), uint8_t(x * 3), 90));
  for (ImageType t : {ImageType::kBmp, ImageType::kPng, ImageType::kTiff}) {
    SCOPED_TRACE(ImageTypeExtension(t));
    EXPECT_TRUE(SamePixels(b, Decode(Encode(b, t))));  // premultiplied values come back as they were
  }
}

TEST(GfxCodec, LossyFormatsStayClose) {
  CBitmap picture = TestPicture(256, 256);
  CBitmap jpeg = Decode(Encode(picture, ImageType::kJpeg, 90));
  EXPECT_GT(Psnr(picture, jpeg), 32.0);
  // More colours than a GIF palette holds: reduced, but still the same picture.
  CBitmap gif = Decode(Encode(picture, ImageType::kGif));
  EXPECT_GT(Psnr(picture, gif), 24.0);
  // The quality option reaches the encoder.
  EXPECT_LT(Encode(picture, ImageType::kJpeg, 30).size(), Encode(picture, ImageType::kJpeg, 95).size());
}

TEST(GfxCodec, GdalReadsWhatWeWrite) {
  TempDir dir;
  CBitmap picture = TestPicture();
  for (ImageType t : {ImageType::kBmp, ImageType::kPng, ImageType::kTiff, ImageType::kJpeg}) {
    SCOPED_TRACE(ImageTypeExtension(t));
    std::string path = dir.File(std::string("a.") + ImageTypeExtension(t));
    std::string error;
    ASSERT_TRUE(SaveImageFile(picture, path, ImageType::kUnknown, {}, &error)) << error;
    CBitmap seen = ReadWithGdal(path);
    if (t == ImageType::kJpeg) EXPECT_GT(Psnr(picture, seen), 32.0);
    else EXPECT_TRUE(SamePixels(picture, seen));
  }
  std::string gif = dir.File("a.gif");
  CBitmap palette = PalettePicture();
  ASSERT_TRUE(SaveImageFile(palette, gif));
  EXPECT_TRUE(SamePixels(palette, ReadWithGdal(gif)));
  // A 32-bit BMP with transparency opens in GDAL too (which shows its colour, not its alpha).
  std::string bmp = dir.File("alpha.bmp");
  ASSERT_TRUE(SaveImageFile(palette, bmp));
  CBitmap seen = ReadWithGdal(bmp);
  ASSERT_EQ(seen.Width(), palette.Width());
  for (int y = 0; y < palette.Height(); ++y)
    for (int x = 0; x < palette.Width(); ++x)
      if (ArgbA(palette.GetPixel(x, y)) == 255) {
        EXPECT_EQ(seen.GetPixel(x, y), palette.GetPixel(x, y));
      }
}

TEST(GfxCodec, ReadsFilesGdalWrote) {
  TempDir dir;
  CBitmap picture = TestPicture();
  std::string png = dir.File("src.png");
  ASSERT_TRUE(SaveImageFile(picture, png));
  GDALAllRegister();
  GDALDatasetH src = GDALOpen(png.c_str(), GA_ReadOnly);
  ASSERT_TRUE(src);
  for (const char* driver : {"BMP", "GTiff", "JPEG"}) {
    SCOPED_TRACE(driver);
    std::string out = dir.File(std::string("gdal.") + driver);
    GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName(driver), out.c_str(), src, FALSE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(copy);
    GDALClose(copy);
    CBitmap back;
    std::string error;
    ASSERT_TRUE(LoadImageFile(out, &back, &error)) << error;
    if (std::string(driver) == "JPEG") EXPECT_GT(Psnr(picture, back), 32.0);
    else EXPECT_TRUE(SamePixels(picture, back));
  }
  GDALClose(src);
}

TEST(GfxCodec, TypeComesFromContentNotExtension) {
  TempDir dir;
  CBitmap picture = TestPicture();
  std::vector<uint8_t> png = Encode(picture, ImageType::kPng);
  test::WriteTestFile(dir.File("lies.jpg"), std::string(png.begin(), png.end()));
  CBitmap back;
  std::string error;
  ASSERT_TRUE(LoadImageFile(dir.File("lies.jpg"), &back, &error)) << error;
  EXPECT_TRUE(SamePixels(picture, back));
  EXPECT_EQ(DetectImageType(png.data(), png.size()), ImageType::kPng);
  for (ImageType t : {ImageType::kBmp, ImageType::kJpeg, ImageType::kGif, ImageType::kTiff}) {
    auto bytes = Encode(PalettePicture(), t);
    EXPECT_EQ(DetectImageType(bytes.data(), bytes.size()), t);
  }
  // An extension that names no encoder is refused when saving.
  EXPECT_FALSE(SaveImageFile(picture, dir.File("x.webp"), ImageType::kUnknown, {}, &error));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.webp")));
  EXPECT_EQ(ImageTypeFromMime("IMAGE/JPEG"), ImageType::kJpeg);
  EXPECT_EQ(ImageTypeFromExtension(".TIFF"), ImageType::kTiff);
}

TEST(GfxCodec, JpegPropertiesAreExifThatLibexifReads) {
  CBitmap picture = TestPicture();
  picture.SetProperty(kPropertyCopyright, "Velmora");
  picture.SetProperty(kPropertyMake, "Maker");
  picture.SetProperty(kPropertyModel, "Model 2");
  picture.SetProperty(kPropertyDateTimeOriginal, "2024:05:06 07:08:09");
  std::vector<uint8_t> jpeg = Encode(picture, ImageType::kJpeg);

  ExifData* ed = exif_data_new_from_data(jpeg.data(), unsigned(jpeg.size()));
  ASSERT_TRUE(ed);
  auto text = [&](ExifIfd ifd, ExifTag tag) {
    ExifEntry* e = exif_content_get_entry(ed->ifd[ifd], tag);
    if (!e || e->format != EXIF_FORMAT_ASCII) return std::string("<missing>");
    return std::string(reinterpret_cast<const char*>(e->data));
  };
  EXPECT_EQ(text(EXIF_IFD_0, EXIF_TAG_COPYRIGHT), "Velmora");
  EXPECT_EQ(text(EXIF_IFD_0, EXIF_TAG_MAKE), "Maker");
  EXPECT_EQ(text(EXIF_IFD_0, EXIF_TAG_MODEL), "Model 2");
  EXPECT_EQ(text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "2024:05:06 07:08:09");
  exif_data_unref(ed);

  CBitmap back = Decode(jpeg);  // and our own reader gets them back
  ASSERT_TRUE(back.GetProperty(kPropertyDateTimeOriginal));
  EXPECT_EQ(*back.GetProperty(kPropertyDateTimeOriginal), "2024:05:06 07:08:09");
  EXPECT_EQ(*back.GetProperty(kPropertyModel), "Model 2");
}

TEST(GfxCodec, TiffPropertiesAreTagsThatLibtiffReads) {
  TempDir dir;
  CBitmap picture = TestPicture();
  picture.SetProperty(kPropertyCopyright, "Velmora");
  picture.SetProperty(kPropertyMake, "Maker");
  picture.SetProperty(kPropertyModel, "Model 2");
  picture.SetProperty(kPropertyDateTimeOriginal, "2024:05:06 07:08:09");
  std::string path = dir.File("p.tif");
  ASSERT_TRUE(SaveImageFile(picture, path));

  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_TRUE(tif);
  auto text = [&](uint32_t tag) {
    const char* v = nullptr;
    return TIFFGetField(tif, tag, &v) == 1 && v ? std::string(v) : std::string("<missing>");
  };
  EXPECT_EQ(text(TIFFTAG_COPYRIGHT), "Velmora");
  EXPECT_EQ(text(TIFFTAG_MAKE), "Maker");
  EXPECT_EQ(text(TIFFTAG_MODEL), "Model 2");
  toff_t exif = 0;
  ASSERT_EQ(TIFFGetField(tif, TIFFTAG_EXIFIFD, &exif), 1);
  ASSERT_TRUE(TIFFReadEXIFDirectory(tif, exif));
  EXPECT_EQ(text(EXIFTAG_DATETIMEORIGINAL), "2024:05:06 07:08:09");
  TIFFClose(tif);

  CBitmap back;
  ASSERT_TRUE(LoadImageFile(path, &back));
  EXPECT_TRUE(SamePixels(picture, back));  // the rewritten directory still points at the pixels
  ASSERT_TRUE(back.GetProperty(kPropertyDateTimeOriginal));
  EXPECT_EQ(*back.GetProperty(kPropertyDateTimeOriginal), "2024:05:06 07:08:09");
}

TEST(GfxCodec, HandMadeBmpVariantsDecode) {
  auto u16 = [](std::string& s, uint16_t v) { s += char(v & 0xFF); s += char(v >> 8); };
  auto u32 = [&](std::string& s, uint32_t v) { u16(s, uint16_t(v)); u16(s, uint16_t(v >> 16)); };
  auto header = [&](int32_t w, int32_t h, uint16_t bpp, uint32_t comp, uint32_t colors, uint32_t extra) {
    std::string s = "BM";
    u32(s, 0);
    u32(s, 0);
    u32(s, 14 + 40 + extra);
    u32(s, 40);
    u32(s, uint32_t(w));
    u32(s, uint32_t(h));
    u16(s, 1);
    u16(s, bpp);
    u32(s, comp);
    u32(s, 0);
    u32(s, 0);
    u32(s, 0);
    u32(s, colors);
    u32(s, 0);
    return s;
  };
  auto decode = [](const std::string& s) {
    CBitmap b;
    std::string error;
    EXPECT_TRUE(DecodeImage(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &b, &error)) << error;
    return b;
  };
  {  // 1-bit palette, bottom-up, 3 x 2: the first stored row is the bottom one
    std::string s = header(3, 2, 1, 0, 2, 8);
    u32(s, 0x00000000);  // black
    u32(s, 0x00FF0000);  // red
    s += std::string("\xA0\0\0\0", 4);  // bottom row: 1 0 1
    s += std::string("\x40\0\0\0", 4);  // top row: 0 1 0
    CBitmap b = decode(s);
    EXPECT_EQ(b.GetPixel(0, 1), 0xFFFF0000u);
    EXPECT_EQ(b.GetPixel(1, 1), 0xFF000000u);
    EXPECT_EQ(b.GetPixel(1, 0), 0xFFFF0000u);
  }
  {  // 8-bit RLE: a run, an absolute run, end of line, end of picture
    std::string s = header(6, 2, 8, 1, 3, 12);
    u32(s, 0x000000FF);
    u32(s, 0x0000FF00);
    u32(s, 0x00FF0000);
    s += std::string("\x03\x01\x00\x03\x02\x00\x01\x00\x00\x00\x06\x02\x00\x01", 14);
    CBitmap b = decode(s);
    EXPECT_EQ(b.GetPixel(0, 1), 0xFF00FF00u);
    EXPECT_EQ(b.GetPixel(3, 1), 0xFFFF0000u);
    EXPECT_EQ(b.GetPixel(4, 1), 0xFF0000FFu);
    EXPECT_EQ(b.GetPixel(0, 0), 0xFFFF0000u);
  }
  {  // 16-bit 5-6-5 masks, top-down
    std::string s = header(2, -1, 16, 3, 0, 12);
    u32(s, 0xF800);
    u32(s, 0x07E0);
    u32(s, 0x001F);
    u16(s, 0xF800);
    u16(s, 0x07E0);
    CBitmap b = decode(s);
    EXPECT_EQ(b.GetPixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(b.GetPixel(1, 0), 0xFF00FF00u);
  }
}

TEST(GfxCodec, BadFilesAreRefusedCleanly) {
  CBitmap picture = TestPicture(64, 48);
  for (ImageType t : {ImageType::kBmp, ImageType::kJpeg, ImageType::kPng, ImageType::kGif, ImageType::kTiff}) {
    SCOPED_TRACE(ImageTypeExtension(t));
    std::vector<uint8_t> whole = t == ImageType::kGif ? Encode(PalettePicture(), t) : Encode(picture, t);
    // Truncated anywhere: refused (the tail of a GIF is only its trailer byte).
    for (size_t keep : {size_t(0), size_t(3), size_t(20), whole.size() / 3, whole.size() / 2, whole.size() - 8}) {
      CBitmap b;
      std::string error;
      EXPECT_FALSE(DecodeImage(whole.data(), keep, &b, &error)) << "kept " << keep;
      EXPECT_TRUE(b.IsEmpty());
      EXPECT_FALSE(error.empty());
    }
    // Damaged bytes: refused or decoded, never a crash or an overrun (the sanitizer build checks).
    for (size_t at = 8; at < whole.size(); at += whole.size() / 13 + 1) {
      std::vector<uint8_t> bad = whole;
      for (size_t k = at; k < std::min(bad.size(), at + 6); ++k) bad[k] ^= 0xA5;
      CBitmap b;
      DecodeImage(bad, &b);
    }
  }
  CBitmap b;
  std::string error;
  EXPECT_FALSE(DecodeImage(std::vector<uint8_t>{'<', 'h', 't', 'm', 'l', '>'}, &b, &error));
  EXPECT_FALSE(DecodeImage(nullptr, 0, &b, &error));
  EXPECT_FALSE(LoadImageFile("/nonexistent/x.png", &b, &error));
}

TEST(GfxCodec, HugeClaimedSizesAreRefusedBeforeAllocating) {
  // A BMP header claiming 30000 x 30000 pixels with a few bytes of data.
  std::string s = "BM";
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF); };
  u32(0), u32(0), u32(54), u32(40), u32(30000), u32(30000);
  s += std::string("\x01\x00\x18\x00", 4);
  u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
  s += std::string(64, '\0');
  CBitmap b;
  std::string error;
  EXPECT_FALSE(DecodeImage(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &b, &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  // A JPEG whose frame header claims 60000 x 60000 (a progressive one would make the library
  // buffer all of it before the first row).
  std::vector<uint8_t> jpeg = Encode(TestPicture(), ImageType::kJpeg);
  for (size_t i = 0; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = jpeg[i + 7] = 0xEA;
      jpeg[i + 6] = jpeg[i + 8] = 0x60;
      break;
    }
  EXPECT_FALSE(DecodeImage(jpeg, &b, &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  // A real picture over a caller's smaller limit.
  std::vector<uint8_t> png = Encode(TestPicture(), ImageType::kPng);
  DecodeOptions small;
  small.max_pixels = 1000;
  EXPECT_FALSE(DecodeImage(png, &b, &error, small));
  EXPECT_TRUE(b.IsEmpty());
}

}  // namespace
}  // namespace velmora
