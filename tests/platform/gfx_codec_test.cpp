// Image files: round trips of every format, files read by GDAL and written by GDAL (whatever their
// names), EXIF and TIFF text properties, hand-made BMP variants, and bad files refused cleanly.
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

// The picture as GDAL reads the file, handed over through a PNG that GDAL writes.
CBitmap ReadWithGdal(const std::string& path) {
  GDALAllRegister();
  CBitmap b;
  GDALDatasetH src = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!src) {
    ADD_FAILURE() << "GDAL cannot open " << path;
    return b;
  }
  const std::string png = path + ".gdal.png";
  GDALClose(GDALCreateCopy(GDALGetDriverByName("PNG"), png.c_str(), src, FALSE, nullptr, nullptr, nullptr));
  GDALClose(src);
  EXPECT_TRUE(LoadImageFile(png, &b)) << png;
  return b;
}

// True when the opaque pixels of `a` are the same in `b` (a file without alpha shows colour only).
bool SameOpaquePixels(const CBitmap& a, const CBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (ArgbA(a.GetPixel(x, y)) == 255 && a.GetPixel(x, y) != b.GetPixel(x, y)) return false;
  return true;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Little-endian fields of (value, byte count).
std::string Le(std::initializer_list<std::pair<uint32_t, int>> fields) {
  std::string s;
  for (auto [value, bytes] : fields)
    for (int i = 0; i < bytes; ++i) s += char((value >> (8 * i)) & 0xFF);
  return s;
}

// A BMP file header and 40-byte info header; `table_bytes` of colours or masks follow it.
std::string BmpHeader(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, uint32_t colors, uint32_t table_bytes) {
  return "BM" + Le({{0, 4}, {0, 4}, {54 + table_bytes, 4}, {40, 4}, {uint32_t(w), 4}, {uint32_t(h), 4}, {1, 2},
                    {bpp, 2}, {compression, 4}, {0, 4}, {0, 4}, {0, 4}, {colors, 4}, {0, 4}});
}

// A picture carrying text properties of the program.
CBitmap PictureWithProperties() {
  CBitmap picture = TestPicture();
  picture.SetProperty(kPropertyCopyright, "Velmora");
  picture.SetProperty(kPropertyModel, "Model 2");
  picture.SetProperty(kPropertyDateTimeOriginal, "2024:05:06 07:08:09");
  return picture;
}

TEST(GfxCodec, LosslessFormatsRoundTripExactly) {
  CBitmap translucent;  // premultiplied values must come back as they were
  translucent.Create(64, 4);
  for (int x = 0; x < 64; ++x)
    for (int y = 0; y < 4; ++y) translucent.SetPixel(x, y, MakeArgb(uint8_t(x * 4 + y), uint8_t(200 - x), uint8_t(x * 3), 90));
  for (ImageType t : {ImageType::kBmp, ImageType::kPng, ImageType::kTiff}) {
    SCOPED_TRACE(ImageTypeExtension(t));
    EXPECT_TRUE(SamePixels(TestPicture(), Decode(Encode(TestPicture(), t))));
    EXPECT_TRUE(SamePixels(translucent, Decode(Encode(translucent, t))));
  }
  CBitmap palette = PalettePicture();
  for (ImageType t : {ImageType::kBmp, ImageType::kPng, ImageType::kTiff, ImageType::kGif}) {
    SCOPED_TRACE(ImageTypeExtension(t));
    CBitmap back = Decode(Encode(palette, t));
    EXPECT_TRUE(SamePixels(palette, back));
    EXPECT_EQ(back.GetPixel(35, 25), 0u);  // transparency kept
  }
}

TEST(GfxCodec, LossyFormatsStayClose) {
  CBitmap picture = TestPicture(256, 256);
  EXPECT_GT(Psnr(picture, Decode(Encode(picture, ImageType::kJpeg, 90))), 32.0);
  // More colours than a GIF palette holds: reduced, but still the same picture.
  EXPECT_GT(Psnr(picture, Decode(Encode(picture, ImageType::kGif))), 24.0);
  // The quality option reaches the encoder.
  EXPECT_LT(Encode(picture, ImageType::kJpeg, 30).size(), Encode(picture, ImageType::kJpeg, 95).size());
}

TEST(GfxCodec, GdalReadsWhatWeWriteAndWeReadWhatGdalWrites) {
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
  // A GIF and a 32-bit BMP with transparency open in GDAL too (which shows their colour).
  CBitmap palette = PalettePicture();
  for (const char* name : {"p.gif", "alpha.bmp"}) {
    ASSERT_TRUE(SaveImageFile(palette, dir.File(name)));
    EXPECT_TRUE(SameOpaquePixels(palette, ReadWithGdal(dir.File(name)))) << name;
  }

  // An extension that names no encoder is refused when saving.
  std::string error;
  EXPECT_FALSE(SaveImageFile(picture, dir.File("x.webp"), ImageType::kUnknown, {}, &error));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.webp")));

  // GDAL's files, under names that say nothing: the type comes from the content.
  GDALDatasetH src = GDALOpen(dir.File("a.png").c_str(), GA_ReadOnly);
  ASSERT_TRUE(src);
  for (const char* driver : {"BMP", "GTiff", "JPEG"}) {
    SCOPED_TRACE(driver);
    std::string out = dir.File(std::string("gdal.") + driver);
    GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName(driver), out.c_str(), src, FALSE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(copy);
    GDALClose(copy);
    CBitmap back;
    ASSERT_TRUE(LoadImageFile(out, &back, &error)) << error;
    if (std::string(driver) == "JPEG") EXPECT_GT(Psnr(picture, back), 32.0);
    else EXPECT_TRUE(SamePixels(picture, back));
  }
  GDALClose(src);
}

// Properties become EXIF in a JPEG and tags in a TIFF that libexif and libtiff read, and come back.
TEST(GfxCodec, PropertiesReachJpegExifAndTiffTags) {
  TempDir dir;
  const char* const when = "2024:05:06 07:08:09";
  ASSERT_TRUE(SaveImageFile(PictureWithProperties(), dir.File("p.jpg")));
  ASSERT_TRUE(SaveImageFile(PictureWithProperties(), dir.File("p.tif")));
  ExifData* ed = exif_data_new_from_file(dir.File("p.jpg").c_str());
  ASSERT_TRUE(ed);
  auto exif = [&](ExifIfd ifd, ExifTag tag) {
    ExifEntry* e = exif_content_get_entry(ed->ifd[ifd], tag);
    return e && e->format == EXIF_FORMAT_ASCII ? std::string(reinterpret_cast<const char*>(e->data)) : "<missing>";
  };
  EXPECT_EQ(exif(EXIF_IFD_0, EXIF_TAG_COPYRIGHT), "Velmora");
  EXPECT_EQ(exif(EXIF_IFD_0, EXIF_TAG_MODEL), "Model 2");
  EXPECT_EQ(exif(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), when);
  exif_data_unref(ed);

  TIFF* tif = TIFFOpen(dir.File("p.tif").c_str(), "r");
  ASSERT_TRUE(tif);
  auto tag = [&](uint32_t id) {
    const char* v = nullptr;
    return TIFFGetField(tif, id, &v) == 1 && v ? std::string(v) : std::string("<missing>");
  };
  EXPECT_EQ(tag(TIFFTAG_COPYRIGHT), "Velmora");
  EXPECT_EQ(tag(TIFFTAG_MODEL), "Model 2");
  toff_t exif_offset = 0;
  ASSERT_EQ(TIFFGetField(tif, TIFFTAG_EXIFIFD, &exif_offset), 1);
  ASSERT_TRUE(TIFFReadEXIFDirectory(tif, exif_offset));
  EXPECT_EQ(tag(EXIFTAG_DATETIMEORIGINAL), when);
  TIFFClose(tif);

  CBitmap jpg, tiff;  // and our own reader gets them back
  ASSERT_TRUE(LoadImageFile(dir.File("p.jpg"), &jpg) && LoadImageFile(dir.File("p.tif"), &tiff));
  EXPECT_TRUE(jpg.GetProperty(kPropertyDateTimeOriginal) && *jpg.GetProperty(kPropertyDateTimeOriginal) == when);
  EXPECT_TRUE(tiff.GetProperty(kPropertyDateTimeOriginal) && *tiff.GetProperty(kPropertyDateTimeOriginal) == when);
  EXPECT_TRUE(SamePixels(TestPicture(), tiff));  // the rewritten directory still points at the pixels
}

TEST(GfxCodec, HandMadeBmpVariantsDecode) {
  // 1-bit palette (black, red), bottom-up, 3 x 2: the first stored row (1 0 1) is the bottom one.
  CBitmap one = Decode(Bytes(BmpHeader(3, 2, 1, 0, 2, 8) + Le({{0, 4}, {0x00FF0000, 4}}) +
                             std::string("\xA0\0\0\0\x40\0\0\0", 8)));
  EXPECT_EQ(one.GetPixel(0, 1), 0xFFFF0000u);
  EXPECT_EQ(one.GetPixel(1, 1), 0xFF000000u);
  EXPECT_EQ(one.GetPixel(1, 0), 0xFFFF0000u);
  // 8-bit RLE: a run, an absolute run, end of line, end of picture.
  CBitmap rle = Decode(Bytes(BmpHeader(6, 2, 8, 1, 3, 12) + Le({{0xFF, 4}, {0xFF00, 4}, {0xFF0000, 4}}) +
                             std::string("\x03\x01\x00\x03\x02\x00\x01\x00\x00\x00\x06\x02\x00\x01", 14)));
  EXPECT_EQ(rle.GetPixel(0, 1), 0xFF00FF00u);
  EXPECT_EQ(rle.GetPixel(3, 1), 0xFFFF0000u);
  EXPECT_EQ(rle.GetPixel(4, 1), 0xFF0000FFu);
  EXPECT_EQ(rle.GetPixel(0, 0), 0xFFFF0000u);
  // 16-bit 5-6-5 masks, top-down.
  CBitmap masks = Decode(Bytes(BmpHeader(2, -1, 16, 3, 0, 12) +
                               Le({{0xF800, 4}, {0x07E0, 4}, {0x001F, 4}, {0xF800, 2}, {0x07E0, 2}})));
  EXPECT_EQ(masks.GetPixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(masks.GetPixel(1, 0), 0xFF00FF00u);
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
  CBitmap b;
  std::string error;
  EXPECT_FALSE(DecodeImage(Bytes(BmpHeader(30000, 30000, 24, 0, 0, 0) + std::string(64, '\0')), &b, &error));
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
