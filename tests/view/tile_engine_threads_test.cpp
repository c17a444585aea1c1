// The tile engine under concurrency: its composer thread rebuilding while the user-interface
// thread pans, zooms, resizes and paints, tiles arriving from the store and the test web
// server, and other threads reading the view's camera, bounds, layers and shapes the way place
// search and region tasks do. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "core/settings.h"
#include "support/map_test_util.h"
#include "shapes/mark_shape.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"
#include "view/tile_engine.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

TEST(TileEngineThreads, ComposerPainterAndReadersRunTogether) {
  ASSERT_TRUE(LayerManager().IsLoaded());
  test::TempDir folder;
  // Source 60 from the store, source 0 (an overlay) from the web server, a little slowly.
  std::vector<uint8_t> overlay = test::EncodedTile(test::GradientTile(7), ImageType::kPng);
  test::HttpTestServer web;
  web.RoutePrefix("/o/", [&](const test::HttpRequestRecord&) {
    return test::HttpReply::Delayed(2, test::HttpReply::Ok(std::string(overlay.begin(), overlay.end()), "image/png"));
  });
  WriteProfileString(kUrlTemplatesSection, "0", web.BaseUrl() + "/o/{z}/{x}/{y}");
  // Base tiles beyond the stored block: the stand-in server has none (no test reaches the
  // real tile servers).
  WriteProfileString(kUrlTemplatesSection, "60", web.BaseUrl() + "/none/{z}/{x}/{y}");
  auto tiles = test::MakeTileManager(folder.path(), 3, false);
  PixelPoint p = LngLatToPixel(10, 50, 1, 8);
  test::StoreGradientTiles(*tiles, 60, 8, int(p.x / 256) - 4, int(p.x / 256) + 4, int(p.y / 256) - 4,
                           int(p.y / 256) + 4, 256);
  TileEngineOptions o;
  o.tiles = tiles.get();
  CTileEngine engine(o);
  std::atomic<int> redraws{0};
  engine.SetRedrawSink([&] { ++redraws; });
  MapLayer overlay_layer{0};
  overlay_layer.opacity = 0.5f;
  engine.SetLayers({MapLayer{60}, overlay_layer});
  engine.SetWindowSize(500, 400);
  engine.SetCamera(10, 50, 8);
  ASSERT_TRUE(engine.Start());
  SetCurrentMapView(&engine);

  std::atomic<bool> stop{false};
  std::atomic<uint64_t> reads{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        IMapViewState* view = CurrentMapView();
        if (!view) continue;
        MapCamera c = view->GetCamera();
        float tl[2], br[2];
        view->GetViewBounds(tl, br);
        std::vector<MapLayer> layers = view->CopyLayerList();
        std::vector<CMapShape*> shapes;
        engine.GetShapesByType(kAllShapeTypes, shapes);
        EXPECT_TRUE(std::isfinite(c.lng) && std::isfinite(tl[0]) && std::isfinite(br[1]));
        EXPECT_EQ(layers.size(), 2u);
        reads.fetch_add(1);
      }
    });
  }

  // The user-interface thread: pans, zooms, resizes, adds objects and paints.
  CBitmap canvas;
  canvas.Create(500, 400);
  for (int i = 0; i < 150; ++i) {
    switch (i % 5) {
      case 0: engine.PanBy(37, -11); break;
      case 1: engine.ZoomAt(8 + (i % 7) * 0.25, 120, 80); break;
      case 2: engine.PanBy(-300, 170); break;
      case 3: engine.SetWindowSize(500 - (i % 3) * 40, 400 - (i % 2) * 30); break;
      case 4: {
        auto mark = std::make_unique<CMarkShape>();
        mark->AddPoint(10.0f + float(i) * 0.001f, 50.0f);
        engine.Objects().Add(std::move(mark), false);
        break;
      }
    }
    engine.Paint(canvas);
  }
  engine.SetWindowSize(500, 400);
  engine.SetCamera(10, 50, 8);
  EXPECT_TRUE(engine.WaitForIdle(30000));
  engine.Paint(canvas);
  stop.store(true);
  for (std::thread& t : readers) t.join();
  SetCurrentMapView(nullptr);
  engine.Stop();
  tiles->Stop();
  WriteProfileString(kUrlTemplatesSection, "0", "");
  WriteProfileString(kUrlTemplatesSection, "60", "");
  EXPECT_GT(redraws.load(), 0);
  EXPECT_GT(reads.load(), 0u);
  EXPECT_EQ(engine.Objects().Count(), 30u);
  EXPECT_GT(web.RequestCount(), 0u);
}

}  // namespace
}  // namespace velmora
