// Imaging from several threads at once: the shared text renderer, the font cache's first use, the
// codecs and the program icon (the server's client threads draw placeholder tiles concurrently).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/gdip_text_renderer.h"
#include "core/imaging.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);  // where the icon ships

TEST(ImagingThreads, ConcurrentTextCodecsAndStamps) {
  const char* faces[] = {"黑体", "Microsoft Sans Serif", "DejaVu Sans", "宋体"};
  std::atomic<int> failures{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 20; ++i) {
        CBitmap tile;
        tile.Create(256, 256, 0xFFFFFFFF);
        {
          CGraphics g(tile);
          SharedTextRenderer().SelectColor(t % 2 ? 0xFFFF0000 : 0xFF0000FF);
          SharedTextRenderer().DrawTextF(g, 100, 100, "%d/%d 缺失", t, i);
          g.DrawString("地图 map", CFont(faces[(t + i) % 4], 14, uint32_t(i % 4)), 0xFF000000, 10, 10);
          if (!StampLogo(g, 1, 1)) failures++;
        }
        std::vector<uint8_t> bytes;
        if (!EncodeImageByMime(tile, i % 2 ? "image/png" : "image/jpeg", &bytes)) failures++;
        CBitmap back;
        if (!DecodeImage(bytes, &back) || back.Width() != 256) failures++;
      }
    });
  }
  go = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace velmora
