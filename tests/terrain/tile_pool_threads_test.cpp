// The 3D tile view's mesh pool under threads: frames render and the tiles in sight change while
// the loader "LoadTiles" builds meshes and textures, and the loader is stopped and started again
// between frames. At the end every tile in sight is built and lies where its key says (no mesh
// ever got another tile's vertices), and the pool never grew beyond its cap.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "support/isolated_folders.h"
#include "terrain/d3d_context.h"
#include "terrain/d3d_scene.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/tile_mesh_pool.h"
#include "terrain/tile_view_camera.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
constexpr int kSource = 0;
constexpr size_t kCap = 48;

double Terrain(double lon, double lat) { return 300 + 40 * (lon - 115) + 25 * (lat - 35); }

class PoolScene : public CD3DScene {
 public:
  explicit PoolScene(CTileMeshPool* pool) : pool_(pool) {}
  void SetupCamera() override {
    const TileViewFrame f = BuildTileViewFrame(camera, aspect_);
    view_ = f.view;
    projection_ = f.projection;
  }
  void DrawScene() override {
    g_pD3DDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    g_pD3DDevice->SetRenderState(D3DRS_LIGHTING, 0);
    drawn = pool_->Draw(nullptr);
  }
  TileViewCamera camera;
  size_t drawn = 0;

 private:
  CTileMeshPool* pool_;
};

TEST(TileMeshPoolThreads, LoaderStartsAndStopsWhileFramesRender) {
  ScopedAppOptions options([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
  const std::string heights = kFolders.File("heights/");
  ASSERT_NE(WriteHeightFile3s(heights, 60, 5, Terrain), "");
  CElevationStore elevation(nullptr, heights);

  // Two places, each with its tiles stored as pictures.
  TileViewCamera a, b;
  a.lng = 116.4, a.lat = 39.9, a.level = 9.5;
  b.lng = 117.3, b.lat = 36.2, b.level = 11.2, b.yaw = 20;
  const std::vector<TileKey> keys_a = ChooseTilesInSight(a, 320, 240, kKindMercator, kSource, kCap);
  const std::vector<TileKey> keys_b = ChooseTilesInSight(b, 320, 240, kKindMercator, kSource, kCap);
  ASSERT_GT(keys_a.size(), 4u);
  ASSERT_GT(keys_b.size(), 4u);
  test::TempDir data;
  TileManagerOptions tm;
  tm.data_dir = data.path();
  tm.download_threads = 1;
  tm.offline = true;
  tm.use_download_list = false;
  CTileManager tiles(tm);
  CTileStore* store = tiles.OpenStore(kSource);
  ASSERT_NE(store, nullptr);
  for (const auto* keys : {&keys_a, &keys_b})
    for (TileKey k : *keys) {
      CBitmap picture;
      ASSERT_TRUE(picture.Create(256, 256, 0xFF000000u | static_cast<Argb>(k & 0xFFFFFF)));
      std::vector<uint8_t> png;
      ASSERT_TRUE(EncodeImage(picture, ImageType::kPng, &png));
      ASSERT_EQ(store->Write(k, png.data(), png.size(), false), TileWriteResult::kWritten);
    }
  ASSERT_TRUE(tiles.Start());

  CTileMeshPool pool(kCap);
  pool.SetSources(&tiles, &elevation);
  std::atomic<int> progress{0};
  auto on_progress = [&] { progress.fetch_add(1, std::memory_order_relaxed); };
  ASSERT_TRUE(pool.StartLoader(on_progress));
  PoolScene scene(&pool);
  scene.Resize(320, 240);
  for (int round = 0; round < 10; ++round) {
    scene.camera = round % 2 ? b : a;
    pool.Update(round % 2 ? keys_b : keys_a, kKindMercator);
    for (int frame = 0; frame < 3; ++frame) ASSERT_EQ(scene.Render(41), D3D_OK);
    if (round % 3 == 2) {
      ASSERT_TRUE(pool.StopLoader(kInfinite));
      EXPECT_FALSE(pool.LoaderRunning());
      ASSERT_EQ(scene.Render(41), D3D_OK);  // a frame with the loader stopped
      ASSERT_TRUE(pool.StartLoader(on_progress));
    }
    EXPECT_LE(pool.GetStats().pool, kCap);
  }
  // The last place loads completely while frames go on.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  CTileMeshPool::Stats stats;
  for (;;) {
    stats = pool.GetStats();  // before the frame: the frame draws at least that much
    ASSERT_EQ(scene.Render(41), D3D_OK);
    if (stats.textured == stats.visible) break;
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << stats.built << "/" << stats.textured << " of " << stats.visible;
  }
  EXPECT_EQ(stats.visible, keys_b.size());
  EXPECT_EQ(scene.drawn, keys_b.size());
  EXPECT_GT(progress.load(), 0);
  EXPECT_TRUE(pool.StopLoader(3000));

  // Every mesh lies over its own tile.
  size_t checked = 0;
  pool.ForEachBuilt([&](C3DMesh& mesh) {
    const TileKeyParts p = SplitTileKey(mesh.Key());
    const double west = MercatorXToLng(256.0 * p.x, p.zoom), east = MercatorXToLng(256.0 * (p.x + 1), p.zoom);
    const double north = MercatorYToLat(256.0 * p.y, p.zoom), south = MercatorYToLat(256.0 * (p.y + 1), p.zoom);
    const D3DXVECTOR3 c = mesh.Centre();
    float lng, lat;
    XYZToLngLat(c.x, c.y, c.z, &lng, &lat);
    EXPECT_GT(lng, west);
    EXPECT_LT(lng, east);
    EXPECT_GT(lat, south);
    EXPECT_LT(lat, north);
    ++checked;
  });
  EXPECT_EQ(checked, keys_b.size());
  pool.Release();
  tiles.Stop();
}

TEST(TileMeshPoolThreads, TheListInSightIsCutToTheCap) {
  ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
  test::TempDir data;
  TileManagerOptions tm;
  tm.data_dir = data.path();
  tm.download_threads = 0;
  tm.offline = true;
  tm.use_download_list = false;
  CTileManager tiles(tm);
  CTileMeshPool pool(16);
  pool.SetSources(&tiles, nullptr);
  for (int round = 0; round < 5; ++round) {
    std::vector<TileKey> keys;
    for (int i = 0; i < 40; ++i) keys.push_back(MakeTileKey(100 * round + i, 7, TileKeyValue(kSource, 12)));
    pool.Update(keys, kKindMercator);
    // The nearest (first) keys, in their order; the pool reuses its meshes for new places.
    EXPECT_EQ(pool.VisibleKeys(), std::vector<TileKey>(keys.begin(), keys.begin() + 16));
    EXPECT_EQ(pool.GetStats().pool, 16u);
  }
}

}  // namespace
}  // namespace velmora
