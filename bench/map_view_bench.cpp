// 2D map view speed, each beside its floor in the same run:
//   FrameFromStore  one 1920 x 1080 frame of the tile engine from 40 stored JPEG tiles: a fresh
//                   tile cache, the camera set, the tiles read from the store and decoded by the
//                   load thread, composed by "LoadMapImage", painted into the window picture.
//   BareDecode      the same 40 JPEG files decoded with libjpeg-turbo alone into BGRA buffers
//                   (the floor: nothing can show the tiles faster than decoding them).
//   PanRedraw       a redraw while panning from tiles already decoded: a mouse step and a paint
//                   of the 1920 x 1080 window, at an integer zoom (whole-pixel copy) and a
//                   fractional one (scaled), with the whole-pixel fast path and with cairo alone.
// Goals: FrameFromStore within 1.3 x BareDecode; PanRedraw under 4 ms.
//
// Own flags, given before Google Benchmark's:
//   --dir=FOLDER    where the store goes (default: a new folder in the temporary folder)
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "platform/gfx/image_codec.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"
#include "view/tile_engine.h"

namespace velmora {
namespace {

constexpr int kSource = 60;
constexpr int kZoom = 12;
constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kCols = 8, kRows = 5;  // 1920 x 1080 starting on a tile corner: 8 x 5 = 40 tiles
constexpr int kTx0 = 3370, kTy0 = 1550;

struct Config {
  std::string dir;
} g;

std::vector<std::vector<uint8_t>> g_jpegs;  // the 40 tiles as stored

// CPU time of every thread of the process, in milliseconds: on a busy machine the wall time of
// a pipeline of threads says more about the scheduler than about the work.
double ProcessCpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// A tile that compresses like imagery: smooth shapes, edges and some noise.
CBitmap PhotoTile(int n) {
  CBitmap b;
  b.Create(256, 256);
  std::mt19937 rnd(static_cast<uint32_t>(n) * 7919u);
  std::uniform_int_distribution<int> noise(-12, 12);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      double v = 128 + 60 * std::sin((x + n * 13) * 0.05) * std::cos((y - n * 7) * 0.04);
      int r = std::clamp(int(v) + noise(rnd) + ((x / 32 + y / 32 + n) % 2) * 30, 0, 255);
      int gch = std::clamp(int(v * 0.8) + noise(rnd) + 20, 0, 255);
      int bch = std::clamp(int(255 - v) + noise(rnd), 0, 255);
      b.Row(y)[x] = MakeArgb(255, uint8_t(r), uint8_t(gch), uint8_t(bch));
    }
  }
  return b;
}

bool BuildFixtures() {
  TileManagerOptions o;
  o.data_dir = g.dir + "tiles/";
  o.download_threads = 0;
  o.offline = true;
  o.use_download_list = false;
  CTileManager tiles(o);
  CTileStore* store = tiles.OpenStore(kSource);
  if (!store) return false;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      std::vector<uint8_t> bytes;
      EncodeOptions eo;
      eo.jpeg_quality = 85;
      if (!EncodeImage(PhotoTile(r * kCols + c), ImageType::kJpeg, &bytes, eo)) return false;
      store->Write(MakeTileKey(kTx0 + c, kTy0 + r, TileKeyValue(kSource, kZoom)), bytes.data(), bytes.size(), false);
      g_jpegs.push_back(std::move(bytes));
    }
  }
  tiles.Stop();
  return true;
}

// The camera whose window starts exactly on the top-left corner of the stored block.
LngLat BlockCentre() {
  return PixelToLngLat(kTx0 * 256.0 + kWidth / 2.0, kTy0 * 256.0 + kHeight / 2.0, 1, kZoom);
}

std::unique_ptr<CTileManager> NewManager() {
  TileManagerOptions o;
  o.data_dir = g.dir + "tiles/";
  o.download_threads = 1;  // offline: tiles beyond the stored block end as DS_OFFLINE at once
  o.offline = true;
  o.use_download_list = false;
  auto m = std::make_unique<CTileManager>(o);
  m->Start();
  // The store is open in a running program; its opening (index read, data file checked) is not
  // part of a frame.
  m->OpenStore(kSource);
  return m;
}

void BareDecode(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> out(g_jpegs.size(), std::vector<uint8_t>(256 * 256 * 4));
  double cpu0 = ProcessCpuMs();
  for (auto _ : state) {
    for (size_t i = 0; i < g_jpegs.size(); ++i) {
      jpeg_decompress_struct cinfo;
      jpeg_error_mgr err;
      cinfo.err = jpeg_std_error(&err);
      jpeg_create_decompress(&cinfo);
      jpeg_mem_src(&cinfo, g_jpegs[i].data(), static_cast<unsigned long>(g_jpegs[i].size()));
      jpeg_read_header(&cinfo, TRUE);
      cinfo.out_color_space = JCS_EXT_BGRA;
      jpeg_start_decompress(&cinfo);
      while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out[i].data() + size_t(cinfo.output_scanline) * 256 * 4;
        jpeg_read_scanlines(&cinfo, &row, 1);
      }
      jpeg_finish_decompress(&cinfo);
      jpeg_destroy_decompress(&cinfo);
    }
    benchmark::DoNotOptimize(out[0].data());
  }
  state.counters["cpu_ms"] = (ProcessCpuMs() - cpu0) / double(state.iterations());
  state.SetItemsProcessed(state.iterations());
}

void FrameFromStore(benchmark::State& state) {
  LngLat centre = BlockCentre();
  CBitmap canvas;
  canvas.Create(kWidth, kHeight);
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CTileManager> tiles = NewManager();  // nothing decoded yet
    TileEngineOptions o;
    o.tiles = tiles.get();
    o.margin = 0;  // the frame needs exactly the 40 tiles
    auto engine = std::make_unique<CTileEngine>(o);
    engine->SetLayers({MapLayer{kSource}});
    engine->SetWindowSize(kWidth, kHeight);
    engine->Start();
    double cpu0 = ProcessCpuMs();
    state.ResumeTiming();
    engine->SetCamera(centre.lng, centre.lat, kZoom);
    if (!engine->WaitForIdle(60000) || engine->CountTiles().loaded != kCols * kRows) {
      state.SkipWithError("the frame did not complete from the store");
      break;
    }
    engine->Paint(canvas);
    state.PauseTiming();
    cpu += ProcessCpuMs() - cpu0;
    engine.reset();
    tiles->Stop();
    tiles.reset();
    state.ResumeTiming();
  }
  state.counters["cpu_ms"] = cpu / double(state.iterations());
  state.SetItemsProcessed(state.iterations());
}

// The program's decoder (platform/gfx) on the same bytes, on the calling thread.
void ProgramDecode(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& j : g_jpegs) {
      CBitmap b;
      DecodeImage(j.data(), j.size(), &b);
      benchmark::DoNotOptimize(b.Pixels());
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// The tile manager's share of a frame: the 40 tiles asked for, read and decoded by the load
// thread, without the engine.
void ManagerLoad(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CTileManager> tiles = NewManager();
    std::vector<std::shared_ptr<CTile>> held;
    state.ResumeTiming();
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < kCols; ++c) held.push_back(tiles->GetTile(MakeTileKey(kTx0 + c, kTy0 + r, TileKeyValue(kSource, kZoom))));
    for (auto& t : held) tiles->WaitForState(*t, 60000);
    state.PauseTiming();
    held.clear();
    tiles->Stop();
    tiles.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
}

// Args: fractional zoom (0/1), fast path (0/1).
void PanRedraw(benchmark::State& state) {
  const bool fractional = state.range(0) != 0, fast = state.range(1) != 0;
  std::unique_ptr<CTileManager> tiles = NewManager();
  TileEngineOptions o;
  o.tiles = tiles.get();
  o.fast_blit = fast;
  CTileEngine engine(o);
  engine.SetLayers({MapLayer{kSource}});
  engine.SetWindowSize(kWidth, kHeight);
  LngLat centre = BlockCentre();
  engine.SetCamera(centre.lng, centre.lat, fractional ? kZoom + 0.4 : kZoom);
  engine.Start();
  if (!engine.WaitForIdle(60000)) state.SkipWithError("the view did not settle");
  CBitmap canvas;
  canvas.Create(kWidth, kHeight);
  engine.Paint(canvas);
  int step = 0;
  for (auto _ : state) {
    // A mouse step back and forth, as a drag delivers them; the image's margin covers it.
    engine.PanBy((step & 1) ? -7 : 7, (step & 1) ? -3 : 3);
    ++step;
    engine.Paint(canvas);
    benchmark::DoNotOptimize(canvas.Pixels());
  }
  state.SetItemsProcessed(state.iterations());
  engine.Stop();
  tiles->Stop();
}

// The rates of RateReporter and the "cpu_ms" counters of the runs.
class CpuReporter : public bench::RateReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("cpu_ms");
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && it != run.counters.end())
        cpu_[run.benchmark_name()] = it->second.value;
    }
    RateReporter::ReportRuns(runs);
  }
  double Cpu(const std::string& prefix) const {
    for (const auto& [name, v] : cpu_)
      if (name.rfind(prefix, 0) == 0) return v;
    return 0;
  }

 private:
  std::map<std::string, double> cpu_;
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  using namespace velmora::bench;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (ParseFlag(argv[i], "--dir", &v))
      g.dir = v;
    else
      rest.push_back(argv[i]);
  }
  int rest_count = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_count, rest.data());
  KeepFreedTileMemory();  // as the program does
  g.dir = bench::MakeBenchFolder(g.dir, "map-view-bench");
  if (g.dir.empty()) return 1;
  SetLogToStderr(false);

  int code = 0;
  if (!LayerManager().IsLoaded() || !BuildFixtures()) {
    std::fprintf(stderr, "fixture could not be built\n");
    code = 1;
  } else {
    size_t bytes = 0;
    for (const auto& j : g_jpegs) bytes += j.size();
    std::printf("fixture: %zu JPEG tiles, %zu bytes on average\n", g_jpegs.size(), bytes / g_jpegs.size());
    benchmark::RegisterBenchmark("BareDecode", BareDecode)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ProgramDecode", ProgramDecode)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ManagerLoad", ManagerLoad)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("FrameFromStore", FrameFromStore)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PanRedraw", PanRedraw)
        ->ArgNames({"fractional", "fast"})
        ->Args({0, 1})
        ->Args({0, 0})
        ->Args({1, 1})
        ->Args({1, 0})
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    CpuReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ms = [&](const std::string& name) {
      double rate = reporter.Rate(name);
      return rate > 0 ? 1000.0 / rate : 0.0;
    };
    double frame = ms("FrameFromStore"), bare = ms("BareDecode");
    std::printf("\n");
    if (frame > 0 && bare > 0)
      std::printf("frame from the store / bare libjpeg-turbo decode: %.2f (goal <= 1.3)\n", frame / bare);
    double frame_cpu = reporter.Cpu("FrameFromStore"), bare_cpu = reporter.Cpu("BareDecode");
    if (frame_cpu > 0 && bare_cpu > 0)
      std::printf("the same in CPU time of all threads: %.2f (%.1f ms / %.1f ms)\n", frame_cpu / bare_cpu, frame_cpu,
                  bare_cpu);
    for (const char* name : {"PanRedraw/fractional:0/fast:1", "PanRedraw/fractional:0/fast:0",
                             "PanRedraw/fractional:1/fast:1", "PanRedraw/fractional:1/fast:0"}) {
      double t = ms(name);
      if (t > 0) std::printf("%-34s %.2f ms (goal < 4 ms)\n", name, t);
    }
    double plain = ms("PanRedraw/fractional:0/fast:0"), fast = ms("PanRedraw/fractional:0/fast:1");
    if (plain > 0 && fast > 0) std::printf("whole-pixel copies instead of cairo, whole zoom: %.2f x\n", plain / fast);
    plain = ms("PanRedraw/fractional:1/fast:0"), fast = ms("PanRedraw/fractional:1/fast:1");
    if (plain > 0 && fast > 0)
      std::printf("picture filtered once per zoom instead of per paint, fractional zoom: %.2f x\n", plain / fast);
  }
  std::error_code ec;
  std::filesystem::remove_all(g.dir, ec);
  benchmark::Shutdown();
  return code;
}
