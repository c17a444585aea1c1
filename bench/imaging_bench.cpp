// Imaging speed: tile decoding and encoding, composing tiles into a mosaic, Chinese text, and
// writing a mapped BMP.
#include <benchmark/benchmark.h>

#include <cmath>

#include "core/mapped_image_file.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

// A map-like 256 x 256 tile: land colours, roads, labels.
CBitmap MapTile() {
  CBitmap b;
  b.Create(256, 256);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      b.SetPixel(x, y, MakeArgb(255, uint8_t(230 + 20 * std::sin(x / 30.0)), uint8_t(225 + 25 * std::cos(y / 40.0)),
                                uint8_t(210)));
  CGraphics g(b);
  GfxPoint road[] = {{0, 40}, {80, 90}, {160, 70}, {256, 150}};
  g.DrawLines(Pen{0xFFFFFFFF, 6}, road, 4);
  g.DrawLines(Pen{0xFFF0B040, 4}, road, 4);
  g.FillRectangle(0xFF9CC0E8, GfxRect{150, 180, 80, 60});
  g.DrawString("青岛市 市南区", CFont("黑体", 12), 0xFF303030, 20, 120);
  return b;
}

void BM_DecodeJpegTile(benchmark::State& state) {
  std::vector<uint8_t> bytes;
  EncodeImage(MapTile(), ImageType::kJpeg, &bytes);
  CBitmap out;
  for (auto _ : state) {
    DecodeImage(bytes, &out);
    benchmark::DoNotOptimize(out.Pixels());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeJpegTile);

void BM_DecodePngTile(benchmark::State& state) {
  std::vector<uint8_t> bytes;
  EncodeImage(MapTile(), ImageType::kPng, &bytes);
  CBitmap out;
  for (auto _ : state) {
    DecodeImage(bytes, &out);
    benchmark::DoNotOptimize(out.Pixels());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodePngTile);

void BM_EncodeTile(benchmark::State& state) {
  CBitmap tile = MapTile();
  ImageType type = ImageType(state.range(0));
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    EncodeImage(tile, type, &bytes);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetLabel(ImageTypeExtension(type));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeTile)->Arg(int(ImageType::kJpeg))->Arg(int(ImageType::kPng))->Arg(int(ImageType::kBmp));

// 64 tiles drawn into a 2048 x 2048 picture, as a region export joins them.
void BM_ComposeMosaic(benchmark::State& state) {
  CBitmap tile = MapTile();
  CBitmap mosaic;
  mosaic.Create(2048, 2048);
  for (auto _ : state) {
    CGraphics g(mosaic);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) g.DrawImage(tile, float(c * 256), float(r * 256));
    g.Flush();
    benchmark::DoNotOptimize(mosaic.Pixels());
  }
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_ComposeMosaic);

void BM_DrawChineseLabel(benchmark::State& state) {
  CBitmap b;
  b.Create(256, 256, 0xFFFFFFFF);
  CGraphics g(b);
  CFont font("黑体", 16, uint32_t(state.range(0)));
  for (auto _ : state) g.DrawString("硬盘空间不足 地图发布服务", font, 0xFF000000, 10, 100);
  g.Flush();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawChineseLabel)->Arg(0)->Arg(CFont::kHalo);

// 8192 x 8192 (200 MB) BMP written in 256-row bands through the mapping.
void BM_MappedBmpWrite(benchmark::State& state) {
  test::TempDir dir;
  CBitmap band;
  band.Create(8192, 256, 0xFF406080);
  for (auto _ : state) {
    CMappedImageFile file;
    file.Create(dir.File("m.bmp"), 8192, 8192);
    for (int y = 0; y < 8192; y += 256) file.WriteRows(band, 0, y);
    file.Close();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(CMappedImageFile::FileSizeFor(8192, 8192)));
}
BENCHMARK(BM_MappedBmpWrite)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
