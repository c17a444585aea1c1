// The 3D tile view at 1920 x 1080 on the machine's OpenGL (Mesa's software rasteriser headless):
// the time from switching to the view (window made, camera handed over from a 2D view) to the
// first frame with every tile in sight drawn with its picture, from a warm tile store (tiles on
// disk, read and decoded by the tile manager) and with the tiles already in the manager's memory
// (as after the 2D map showed them), looking down and tilted 45 degrees; and frames per second
// while the camera orbits the point (with the process's processor time per frame).
// Beside them, in the same run, the 2D map view's engine on the same store and camera: the time to
// every tile in view painted, and its frames while panning. Goals: every tile in sight within 1 s of the switch; 30 frames a second or
// more while orbiting.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "bench_support.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/temp_dir.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/3d_tile_view.h"
#include "tiles/tile_manager.h"
#include "view/tile_engine.h"

namespace velmora {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kSource = 0;
constexpr int kZoom = 12;
constexpr double kLng = 116.4, kLat = 39.9, kLevel = 12.5;
constexpr int kReach = 20;  // tiles stored this many columns and rows about the centre

struct Fixture {
  std::unique_ptr<test::TempDir> dir;
  std::unique_ptr<ScopedAppOptions> options;
  std::unique_ptr<CElevationStore> elevation;
  std::vector<TileKey> keys;  // the tiles in sight of the camera
};
Fixture g;

double Terrain(double lon, double lat) { return 200 + 300 * std::sin(lon * 7) * std::cos(lat * 5) + 20 * (lat - 35); }

// A tile picture with some detail (so that it costs what a map tile costs to decode).
std::vector<uint8_t> TilePicture(int x, int y) {
  CBitmap b;
  b.Create(256, 256, 0xFFF2EFE9u);
  {
    CGraphics gr(b);
    Pen road{0xFFE08040u, 5.0f};
    for (int i = 0; i < 6; ++i) {
      gr.DrawLine(road, 0, float(i * 47 + x % 13), 256, float(i * 41 + y % 17));
      gr.DrawLine(Pen{0xFF90B0E0u, 2.0f}, float(i * 43), 0, float(i * 37 + 9), 256);
    }
    gr.FillEllipse(0xFF80C080u, GfxRect{float(x % 100), float(y % 100), 90, 70});
  }
  std::vector<uint8_t> png;
  EncodeImage(b, ImageType::kPng, &png);
  return png;
}

std::unique_ptr<CTileManager> NewManager() {
  TileManagerOptions o;
  o.data_dir = g.dir->File("tiles/");
  o.download_threads = 1;
  o.offline = true;
  o.use_download_list = false;
  auto m = std::make_unique<CTileManager>(o);
  m->Start();
  return m;
}

bool BuildFixture() {
  g.dir = std::make_unique<test::TempDir>();
  g.options = std::make_unique<ScopedAppOptions>([](CAppOptions& o) {
    o.dem_source_mode = kDemSourceSrtm;
    o.data_dir = g.dir->path();
  });
  if (!g_D3DContext.CreateD3DDevice(1)) return false;
  if (WriteHeightFile3s(g.dir->File("heights/"), 60, 5, Terrain).empty()) return false;
  g.elevation = std::make_unique<CElevationStore>(nullptr, g.dir->File("heights/"));
  TileManagerOptions o;
  o.data_dir = g.dir->File("tiles/");
  o.download_threads = 0;
  o.offline = true;
  o.use_download_list = false;
  CTileManager writer(o);
  CTileStore* store = writer.OpenStore(kSource);
  if (!store) return false;
  const int cx = static_cast<int>(MercatorLngToX(kLng, kZoom) / 256), cy = static_cast<int>(MercatorLatToY(kLat, kZoom) / 256);
  for (int x = cx - kReach; x <= cx + kReach; ++x)
    for (int y = cy - kReach; y <= cy + kReach; ++y) {
      const std::vector<uint8_t> png = TilePicture(x, y);
      if (store->Write(MakeTileKey(x, y, TileKeyValue(kSource, kZoom)), png.data(), png.size(), false) !=
          TileWriteResult::kWritten)
        return false;
    }
  TileViewCamera c;
  c.lng = kLng, c.lat = kLat, c.level = kLevel;
  g.keys = ChooseTilesInSight(c, kWidth, kHeight, kKindMercator, kSource, kTilePoolCap);
  return !g.keys.empty();
}

// The 2D view the camera comes from.
class MapCamera : public CWnd, public IChildView {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  void GetCamera(double* lng, double* lat, double* level) const override { *lng = kLng, *lat = kLat, *level = kLevel; }
};

std::unique_ptr<C3DTileView> SwitchTo3D(CTileManager& tiles, float yaw = 0) {
  auto view = std::make_unique<C3DTileView>();
  view->SetSources(&tiles, g.elevation.get());
  view->SetLayers({MapLayer{kSource, kKindMercator}});
  view->CreateView(0, nullptr);
  view->SendMessage(WM_SIZE, 0, MAKELPARAM(kWidth, kHeight));
  view->SetTilt(yaw, 0);
  MapCamera map;
  view->UpdateSatellites(&map);
  return view;
}

// Paints until a frame shows every tile in sight with its picture; the frames it took.
int PaintUntilLoaded(C3DTileView& view, CBitmap& canvas) {
  for (int frames = 1; frames < 100000; ++frames) {
    const CTileMeshPool::Stats s = view.Pool().GetStats();
    view.OnPaint(canvas);
    if (s.visible > 0 && s.textured == s.visible && view.LastDrawnTiles() == s.visible) return frames;
  }
  return 0;
}


void Switch_WarmStore(benchmark::State& state) {
  const float yaw = static_cast<float>(state.range(0));
  CBitmap canvas;
  canvas.Create(kWidth, kHeight);
  int frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CTileManager> tiles = NewManager();  // nothing in memory: read from the store
    state.ResumeTiming();
    std::unique_ptr<C3DTileView> view = SwitchTo3D(*tiles, yaw);
    frames = PaintUntilLoaded(*view, canvas);
    if (!frames) state.SkipWithError("the view never finished loading");
    state.PauseTiming();
    state.counters["tiles"] = static_cast<double>(view->Pool().GetStats().visible);
    view.reset();
    tiles->Stop();
    state.ResumeTiming();
  }
  state.counters["frames"] = frames;
}

void Switch_TilesInMemory(benchmark::State& state) {
  std::unique_ptr<CTileManager> tiles = NewManager();
  for (TileKey k : g.keys) tiles->GetTile(k);
  for (TileKey k : g.keys) tiles->WaitForState(k, 20000);
  CBitmap canvas;
  canvas.Create(kWidth, kHeight);
  int frames = 0;
  for (auto _ : state) {
    std::unique_ptr<C3DTileView> view = SwitchTo3D(*tiles);
    frames = PaintUntilLoaded(*view, canvas);
    if (!frames) state.SkipWithError("the view never finished loading");
    state.PauseTiming();
    view.reset();
    state.ResumeTiming();
  }
  state.counters["frames"] = frames;
  tiles->Stop();
}

void Orbit(benchmark::State& state) {
  std::unique_ptr<CTileManager> tiles = NewManager();
  std::unique_ptr<C3DTileView> view = SwitchTo3D(*tiles);
  CBitmap canvas;
  canvas.Create(kWidth, kHeight);
  // A first lap loads the tiles the orbit sees; the timed laps draw them.
  double angle = 0;
  auto step = [&] {
    angle += 3.0;
    const double a = angle * 3.14159265358979323846 / 180;
    view->SetTilt(static_cast<float>(8 * std::cos(a)), static_cast<float>(8 * std::sin(a)));
    view->OnPaint(canvas);
  };
  for (int i = 0; i < 120; ++i) step();
  // The processor time of the whole process per frame (every thread, the rasteriser's included):
  // what a frame costs whatever else the machine runs.
  auto cpu_ms = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
  };
  const double cpu_before = cpu_ms();
  for (auto _ : state) step();
  state.counters["cpu_ms_per_frame"] = (cpu_ms() - cpu_before) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.counters["tiles"] = static_cast<double>(view->Pool().GetStats().visible);
  view.reset();
  tiles->Stop();
}

// The 2D map view's engine on the same store and camera: the switch (a new manager, the camera
// set, every tile in view loaded and the frame painted) and its frames while panning.
void Switch2D_WarmStore(benchmark::State& state) {
  CBitmap canvas;
  canvas.Create(kWidth, kHeight);
  int tiles_drawn = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CTileManager> tiles = NewManager();
    TileEngineOptions o;
    o.tiles = tiles.get();
    auto engine = std::make_unique<CTileEngine>(o);
    engine->SetLayers({MapLayer{kSource, kKindMercator}});
    engine->SetWindowSize(kWidth, kHeight);
    engine->Start();
    state.ResumeTiming();
    engine->SetCamera(kLng, kLat, kLevel);
    if (!engine->WaitForIdle(60000)) state.SkipWithError("the 2D view did not settle");
    engine->Paint(canvas);
    state.PauseTiming();
    tiles_drawn = engine->CountTiles().loaded;
    engine->Stop();
    engine.reset();
    tiles->Stop();
    state.ResumeTiming();
  }
  state.counters["tiles"] = tiles_drawn;
}

void Pan2D(benchmark::State& state) {
  std::unique_ptr<CTileManager> tiles = NewManager();
  TileEngineOptions o;
  o.tiles = tiles.get();
  CTileEngine engine(o);
  engine.SetLayers({MapLayer{kSource, kKindMercator}});
  engine.SetWindowSize(kWidth, kHeight);
  engine.SetCamera(kLng, kLat, kLevel);
  engine.Start();
  if (!engine.WaitForIdle(60000)) state.SkipWithError("the 2D view did not settle");
  CBitmap canvas;
  canvas.Create(kWidth, kHeight);
  int step = 0;
  for (auto _ : state) {
    engine.PanBy((step & 1) ? -7 : 7, (step & 1) ? -3 : 3);
    ++step;
    engine.Paint(canvas);
    benchmark::DoNotOptimize(canvas.Pixels());
  }
  state.SetItemsProcessed(state.iterations());
  engine.Stop();
  tiles->Stop();
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  benchmark::Initialize(&argc, argv);
  SetLogToStderr(false);
  UiDispatcher().AttachToCurrentThread();
  if (!BuildFixture()) {
    std::fprintf(stderr, "no 3D device or fixture: %s\n", Direct3DLastError().c_str());
    return 1;
  }
  std::printf("%s; %zu tiles in sight at level %.1f\n", g_pD3DDevice->Description().c_str(), g.keys.size(), kLevel);
  // From above, and tilted 45 degrees (the view reaches farther: many more tiles in sight).
  benchmark::RegisterBenchmark("SwitchTo3D/allTilesDrawn/warmStore/yaw", Switch_WarmStore)
      ->Arg(0)->Arg(45)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
  benchmark::RegisterBenchmark("SwitchTo3D/allTilesDrawn/tilesInMemory", Switch_TilesInMemory)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
  benchmark::RegisterBenchmark("Orbit1080p/frames", Orbit)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
  benchmark::RegisterBenchmark("Switch2D/allTilesDrawn/warmStore", Switch2D_WarmStore)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
  benchmark::RegisterBenchmark("Pan2D1080p/frames", Pan2D)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
  bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double fps = reporter.Rate("Orbit1080p/frames");
  std::printf("\norbiting at 1920x1080: %.1f frames/s (goal >= 30); the 2D view panning: %.1f frames/s\n", fps,
              reporter.Rate("Pan2D1080p/frames"));
  std::printf("switch to the 3D tile view: see SwitchTo3D rows (goal: every tile in sight within 1000 ms)\n");
  benchmark::Shutdown();
  return 0;
}
