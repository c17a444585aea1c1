// CMappedImageFile: tiles placed into a BMP through the mapping and read back, the BMP size limit,
// and a 30000 x 30000 picture written band by band without holding it in memory.
#include "core/mapped_image_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::TempDir;

// Peak resident memory of this process in KiB.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

CBitmap Tile(int w, int h, Argb color) {
  CBitmap b;
  b.Create(w, h, color);
  return b;
}

TEST(MappedImageFile, TilesLandInPlaceAndTheFileIsABmp) {
  TempDir dir;
  std::string path = dir.File("mosaic.bmp");
  CMappedImageFile file;
  std::string error;
  ASSERT_TRUE(file.Create(path, 301, 203, &error)) << error;
  // Columns outer, rows inner, as a mosaic is joined; the last ones hang over the edges.
  const Argb colors[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
  int k = 0;
  for (int c = 0; c < 2; ++c)
    for (int r = 0; r < 2; ++r) ASSERT_TRUE(file.WriteRows(Tile(160, 110, colors[k++]), c * 160, r * 110));
  CBitmap odd = Tile(10, 10, 0xFF123456);
  odd.SetPixel(5, 5, 0x80000000);  // half-transparent black on white: mid grey
  ASSERT_TRUE(file.WriteRows(odd, -5, -5));
  ASSERT_TRUE(file.WriteRows(odd, 1000, 1000));  // wholly outside: nothing
  ASSERT_TRUE(file.Close(&error)) << error;
  EXPECT_FALSE(file.WriteRows(odd, 0, 0));

  EXPECT_EQ(std::filesystem::file_size(path), CMappedImageFile::FileSizeFor(301, 203));
  CBitmap back;
  ASSERT_TRUE(LoadImageFile(path, &back, &error)) << error;
  ASSERT_EQ(back.Width(), 301);
  ASSERT_EQ(back.Height(), 203);
  EXPECT_NEAR(ArgbG(back.GetPixel(0, 0)), 127, 1);  // laid on white, not on what was there
  EXPECT_EQ(back.GetPixel(4, 4), 0xFF123456u);  // the part of the odd tile inside the picture
  EXPECT_EQ(back.GetPixel(5, 5), 0xFFFF0000u);
  EXPECT_EQ(back.GetPixel(159, 109), 0xFFFF0000u);
  EXPECT_EQ(back.GetPixel(10, 150), 0xFF00FF00u);
  EXPECT_EQ(back.GetPixel(200, 50), 0xFF0000FFu);
  EXPECT_EQ(back.GetPixel(300, 202), 0xFFFFFF00u);
}

TEST(MappedImageFile, SizesBeyondTheBmpLimitAreRefused) {
  TempDir dir;
  CMappedImageFile file;
  std::string error;
  EXPECT_FALSE(file.Create(dir.File("huge.bmp"), 40000, 40000, &error));
  EXPECT_NE(error.find("4 GiB"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir.File("huge.bmp")));
  EXPECT_FALSE(file.Create(dir.File("neg.bmp"), 10, -3, &error));
  EXPECT_FALSE(file.Create(dir.File("no/such/folder/x.bmp"), 10, 10, &error));
  // 64-bit sizes: just under the limit is fine on paper, one row more is not.
  const int64_t w = 37836, row = (w * 3 + 3) & ~3;
  const int64_t h = int64_t((CMappedImageFile::kMaxFileSize - 54) / uint64_t(row));
  EXPECT_LE(CMappedImageFile::FileSizeFor(w, h), CMappedImageFile::kMaxFileSize);
  EXPECT_GT(CMappedImageFile::FileSizeFor(w, h + 1), CMappedImageFile::kMaxFileSize);
  EXPECT_GT(CMappedImageFile::FileSizeFor(1000000, 1000000), uint64_t(1) << 40);
}

TEST(MappedImageFile, ThirtyThousandSquareWrittenBandByBand) {
  TempDir dir;
  const int side = 30000, band = 128;
  std::string path = dir.File("big.bmp");
  // The picture needs 2.7 GB of disk; a machine without that room cannot run this case.
  std::optional<uint64_t> free_bytes = FreeDiskSpace(dir.path());
  if (free_bytes && *free_bytes < (uint64_t(3) << 30))
    GTEST_SKIP() << "needs 3 GiB free in " << dir.path() << ", has " << (*free_bytes >> 20) << " MiB";
  long before = PeakResidentKiB();
  CMappedImageFile file;
  std::string error;
  ASSERT_TRUE(file.Create(path, side, side, &error)) << error;
  CBitmap strip = Tile(side, band, 0xFF204060);
  for (int y = 0, n = 0; y < side; y += band, ++n) {
    for (int r = 0; r < band; ++r) strip.SetPixel(0, r, MakeArgb(255, uint8_t(n), uint8_t(r), 0x99));
    ASSERT_TRUE(file.WriteRows(strip, 0, y));
  }
  ASSERT_TRUE(file.Close(&error)) << error;
  long growth = PeakResidentKiB() - before;
  // The picture is 2.7 GB; the process never held more than a few strips of it.
  EXPECT_LT(growth, 400 * 1024) << "peak resident growth " << growth << " KiB";

  uint64_t row_bytes = (uint64_t(side) * 3 + 3) & ~uint64_t(3);
  EXPECT_EQ(std::filesystem::file_size(path), 54 + row_bytes * side);
  int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int32_t wh[2];
  ASSERT_EQ(::pread(fd, wh, 8, 18), 8);
  EXPECT_EQ(wh[0], side);
  EXPECT_EQ(wh[1], side);
  for (int y : {0, 1, 127, 128, 15000, side - 1}) {
    uint8_t px[6];
    uint64_t at = 54 + uint64_t(side - 1 - y) * row_bytes;  // bottom-up rows
    ASSERT_EQ(::pread(fd, px, 3, off_t(at)), 3);
    ASSERT_EQ(::pread(fd, px + 3, 3, off_t(at + uint64_t(side - 1) * 3)), 3);
    EXPECT_EQ(px[2], uint8_t(y / band)) << "row " << y;  // red = band number
    EXPECT_EQ(px[1], uint8_t(y % band)) << "row " << y;  // green = row in band
    EXPECT_EQ(px[3], 0x60);
    EXPECT_EQ(px[5], 0x20);
  }
  ::close(fd);
}

}  // namespace
}  // namespace velmora
