// The plug-in snapshot export against a scripted earth view: its files byte for byte with every
// truncation refused, the sample grid and the world file; whole jobs joined into a picture that
// GDAL georeferences where the view drew it, stopped and resumed to the same picture, refused
// for disk space, ended by stalls, failed moves and lost view-change events; and the terrain
// models read back by assimp.
#include <gtest/gtest.h>

#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gdal_priv.h>

#include <cmath>
#include <filesystem>

#include "core/archive.h"
#include "core/format.h"
#include "core/projection.h"
#include "earth/gp_export_model.h"
#include "gp_export_stand_in.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::DirectPlugin;
using test::RecordingHost;
using test::ScriptedView;

constexpr int kCaptureW = 1024 - 88, kCaptureH = 768 - 163;

std::vector<uint8_t> Bytes(const std::string& path) { return *ReadFileBytes(path); }
void Truncate(const std::string& path, size_t size) {
  std::vector<uint8_t> b = Bytes(path);
  b.resize(size);
  ASSERT_TRUE(WriteFileAtomic(path, b));
}

GpExportState SampleState() {
  GpExportState s;
  s.column = 3;
  s.row = 1;
  s.delay_ms = 250;
  s.left = 116.25f;
  s.top = 40.5f;
  s.right = 117.75f;
  s.bottom = 39.25f;
  s.flags = kGpFlagCoordinates;
  s.lng_step = 0.05f;
  s.mercator_step = 38000.f;
  s.altitude = 5000.25;
  return s;
}

TEST(GpExportFiles, ResumeFileRoundTripsAndRefusesEveryBrokenForm) {
  test::TempDir dir;
  const std::string path = dir.File("gp.exp");
  ASSERT_TRUE(WriteGpResumeFile(path, SampleState()));
  ASSERT_EQ(Bytes(path).size(), 48u);  // 3 x 4, 2 x 8, 4, 8, 8
  GpExportState read;
  ASSERT_TRUE(ReadGpResumeFile(path, &read));
  EXPECT_EQ(read.column, 3);
  EXPECT_EQ(read.row, 1);
  EXPECT_EQ(read.delay_ms, 250u);
  EXPECT_EQ(read.right, 117.75f);
  EXPECT_EQ(read.mercator_step, 38000.f);
  EXPECT_EQ(read.altitude, 5000.25);
  const std::vector<uint8_t> whole = Bytes(path);
  for (size_t size = 0; size < whole.size(); ++size) {
    ASSERT_TRUE(WriteFileAtomic(path, whole.data(), size));
    std::string error;
    EXPECT_FALSE(ReadGpResumeFile(path, &read, &error)) << size;
    EXPECT_FALSE(error.empty());
  }
  std::vector<uint8_t> longer = whole;
  longer.push_back(0);
  ASSERT_TRUE(WriteFileAtomic(path, longer));
  EXPECT_FALSE(ReadGpResumeFile(path, &read));
  // Values that would steer the job wrong.
  for (auto spoil : std::vector<std::function<void(GpExportState&)>>{
           [](GpExportState& s) { s.column = -1; }, [](GpExportState& s) { s.row = 100000; },
           [](GpExportState& s) { s.lng_step = 0; }, [](GpExportState& s) { s.mercator_step = NAN; },
           [](GpExportState& s) { s.altitude = -5; }, [](GpExportState& s) { s.bottom = s.top; }}) {
    GpExportState bad = SampleState();
    spoil(bad);
    ASSERT_TRUE(WriteGpResumeFile(path, bad));
    EXPECT_FALSE(ReadGpResumeFile(path, &read));
  }
}

TEST(GpExportFiles, ShotRecordsAndElevationSamplesHoldExactlyTheirCounts) {
  test::TempDir dir;
  GpShotRecord record{5000, 116.5f, 39.5f, 116.5, 39.5, 116.6, 39.45};
  const std::string dat = dir.File("gp_0_0.dat");
  ASSERT_TRUE(WriteGpShotRecord(dat, record));
  EXPECT_EQ(Bytes(dat).size(), 48u);  // one double, two floats, four doubles
  GpShotRecord read;
  ASSERT_TRUE(ReadGpShotRecord(dat, &read));
  EXPECT_EQ(read.right, 116.6);
  EXPECT_EQ(read.target_lat, 39.5f);
  Truncate(dat, 47);
  EXPECT_FALSE(ReadGpShotRecord(dat, &read));

  // The sample grid of a 936 x 605 capture: 18 x 12 steps of 52 and 50 pixels, the last sample
  // on the capture's right edge.
  const std::optional<GpDemGrid> grid = GpDemGridFor(kCaptureW, kCaptureH);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->SamplesPerRow(), 19);
  EXPECT_EQ(grid->SampleRows(), 13);
  EXPECT_EQ(grid->PixelX(18), 5 + kCaptureW);
  EXPECT_EQ(grid->PixelY(12), 670);
  EXPECT_FALSE(GpDemGridFor(49, 600));
  EXPECT_FALSE(GpDemGridFor(600, 49));
  EXPECT_FALSE(GpDemGridFor(0, 0));

  GpDemTile tile;
  tile.grid = *grid;
  tile.left = 116.5f;
  tile.top = 39.5f;
  tile.right = 116.6f;
  tile.bottom = 39.45f;
  for (size_t k = 0; k < grid->SampleCount(); ++k) tile.altitudes.push_back(float(k));
  const std::string dem = dir.File("gp_0_0.dem");
  ASSERT_TRUE(WriteDemTile(dem, tile));
  EXPECT_EQ(Bytes(dem).size(), (4 + 19 * 13) * 4u);
  GpDemTile back;
  ASSERT_TRUE(LoadDemTile(dem, *grid, &back));
  EXPECT_EQ(back.At(12, 18), float(19 * 13 - 1));
  EXPECT_EQ(back.At(1, 0), 19.f);
  // A file of another grid (one float short, one more) is refused, not read into the mesh.
  const std::vector<uint8_t> whole = Bytes(dem);
  Truncate(dem, whole.size() - 4);
  std::string error;
  EXPECT_FALSE(LoadDemTile(dem, *grid, &back, &error));
  EXPECT_FALSE(error.empty());
  std::vector<uint8_t> longer = whole;
  longer.insert(longer.end(), 4, 0);
  ASSERT_TRUE(WriteFileAtomic(dem, longer));
  EXPECT_FALSE(LoadDemTile(dem, *grid, &back));
  ASSERT_TRUE(WriteFileAtomic(dem, whole));
  EXPECT_FALSE(LoadDemTile(dem, *GpDemGridFor(kCaptureW, kCaptureH + 50), &back));
  tile.altitudes.pop_back();
  EXPECT_FALSE(WriteDemTile(dem, tile));
}

TEST(GpExportFiles, GridCountsAndWorldFile) {
  GpExportState s;
  s.left = 116.0f;
  s.top = 39.0f;
  s.lng_step = 0.1f;
  s.mercator_step = 20000.f;
  const double bottom1 = MercatorYToLat(MercatorLatToY(39.0, 20) + 20000.0, 20);
  // Exactly one capture (as single floats) is one shot; a little more is two.
  s.right = s.left + s.lng_step;
  s.bottom = static_cast<float>(bottom1);
  std::optional<GeGrid> grid = GpGridSize(s, 0.5 / 936);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->columns, 1);
  EXPECT_EQ(grid->rows, 1);
  s.right = s.left + s.lng_step * 1.01f;
  grid = GpGridSize(s, 0.5 / 936);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->columns, 2);
  // Across 180 degrees: 179.95 to -179.95 is 0.1 degrees, one column.
  s.left = 179.95f;
  s.right = -179.95f;
  grid = GpGridSize(s, 0.5 / 936);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->columns, 1);
  s.right = s.left;
  EXPECT_FALSE(GpGridSize(s, 0));

  // The world file: Mercator metres of the corners over the picture's size, line 4 negative,
  // the origin at the centre of the top-left pixel.
  double v[6];
  ASSERT_TRUE(MosaicWorldFileValues(116.0, 40.0, 117.0, 39.0, 1000, 500, v));
  double x0 = 116.0, y0 = 40.0, x1 = 117.0, y1 = 39.0;
  LonLatToMercator(&x0, &y0);
  LonLatToMercator(&x1, &y1);
  EXPECT_NEAR(v[0], (x1 - x0) / 1000, 1e-9);
  EXPECT_NEAR(v[3], -(y0 - y1) / 500, 1e-9);
  EXPECT_NEAR(v[4], x0 + v[0] / 2, 1e-6);
  EXPECT_NEAR(v[5], y0 + v[3] / 2, 1e-6);
  EXPECT_FALSE(MosaicWorldFileValues(116.0, 40.0, 117.0, 39.0, 0, 500, v));
  EXPECT_FALSE(MosaicWorldFileValues(116.0, 39.0, 117.0, 40.0, 10, 10, v));
  EXPECT_EQ(GpOutputBase("/a.b/c.jpg"), "/a.b/c");
  EXPECT_EQ(GpOutputBase("/a.b/c"), "/a.b/c");
  EXPECT_EQ(GpOutputExtension("/a/c.XA"), "xa");
}

// ---- whole jobs ----------------------------------------------------------------------------

class GpExportJob : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string data = dir.File("data/");
  std::string out = dir.File("out/");
  ScriptedView view;
  DirectPlugin plugin{view};
  RecordingHost host;
  Event quit{true, false};

  void SetUp() override {
    fs::create_directories(data);
    fs::create_directories(out);
  }
  // A rectangle of `columns` x `rows` captures (fractions allowed) from (116.0, 39.05).
  GpExportParams Params(double columns, double rows, const std::string& name = "mosaic.png") {
    GpExportParams p;
    p.data_folder = data;
    p.output_path = out + name;
    p.delay_ms = 0;
    p.coordinates = true;
    p.has_rectangle = true;
    p.left = 116.0f;
    p.top = 39.05f;
    const double s = view.scale / test::PixelsPerDegree();
    p.right = static_cast<float>(116.0 + columns * kCaptureW * s);
    p.bottom = static_cast<float>(MercatorYToLat(MercatorLatToY(39.05, 20) + rows * kCaptureH * view.scale, 20));
    p.altitude = 5000;
    p.view_change_timeout_ms = 200;
    p.stall_timeout_ms = 2000;
    p.model_pause_ms = 0;
    return p;
  }
  GpExportResult Run(const GpExportParams& p) {
    quit.Reset();
    return RunGpExport(p, plugin, host, quit);
  }
  bool Exists(const std::string& path) { return fs::exists(path); }
};

// Checks the joined picture against the view's pattern at the places its world file (read by
// GDAL, with the projection of the side files) puts each pixel.
void ExpectGeoreferencedPattern(const std::string& path, int width, int height) {
  GDALAllRegister();
  GDALDataset* ds = static_cast<GDALDataset*>(GDALOpen(path.c_str(), GA_ReadOnly));
  ASSERT_NE(ds, nullptr);
  EXPECT_EQ(ds->GetRasterXSize(), width);
  EXPECT_EQ(ds->GetRasterYSize(), height);
  double gt[6];
  ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
  const OGRSpatialReference* srs = ds->GetSpatialRef();
  ASSERT_NE(srs, nullptr);
  EXPECT_NE(std::string(srs->GetName() ? srs->GetName() : "").find("Mercator"), std::string::npos);
  GDALClose(ds);
  CBitmap picture;
  ASSERT_TRUE(LoadImageFile(path, &picture));
  const double metres_per_degree = 2 * kHalfMetresPerDegree;
  int checked = 0, wrong = 0;
  for (int y = 0; y < height; y += 7)
    for (int x = 0; x < width; x += 7) {
      // GDAL's transform maps pixel corners; the pattern is sampled at pixel centres.
      const double mx = gt[0] + (x + 0.5) * gt[1], my = gt[3] + (y + 0.5) * gt[5];
      const double lng = mx / metres_per_degree;
      const double lat = std::atan(std::sinh(my / 6378137.0)) * 180.0 / M_PI;
      const double wy = MercatorLatToY(lat, 20);
      if (!test::InsideCell(lng, wy, 1.5)) continue;
      ++checked;
      if (picture.GetPixel(x, y) != test::PatternAt(lng, wy) && ++wrong < 5)
        ADD_FAILURE() << "pixel " << x << "," << y << " " << std::hex << picture.GetPixel(x, y);
    }
  EXPECT_GT(checked, width * height / 49 / 2);
  EXPECT_EQ(wrong, 0);
}

TEST_F(GpExportJob, TwoByTwoJoinsWhereTheWorldFilePutsItWithTerrainOffForTheShots) {
  view.centre_lng = 100;  // the user's camera, far away
  const GpExportResult r = Run(Params(1.5, 1.6, "mosaic.tif"));
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.columns, 2);
  EXPECT_EQ(r.rows, 2);
  EXPECT_EQ(view.captures, 4);
  EXPECT_EQ(r.written_path, out + "mosaic.tif");
  ExpectGeoreferencedPattern(out + "mosaic.tif", 2 * kCaptureW, 2 * kCaptureH);
  EXPECT_TRUE(Exists(out + "mosaic.tfw"));
  EXPECT_TRUE(Exists(out + "mosaic.prj"));
  // The job list for the preview; no resume file.
  GeMosaicList list;
  ASSERT_TRUE(ReadGeListFile(data + kGpListFile, &list));
  EXPECT_EQ(list.columns, 2u);
  EXPECT_EQ(list.rows, 2u);
  EXPECT_FALSE(Exists(data + kGpResumeFile));
  // Terrain off for every shot and on again; the user's camera back.
  EXPECT_EQ(view.terrain_at_capture, std::vector<bool>(4, false));
  EXPECT_TRUE(view.terrain);
  EXPECT_EQ(view.centre_lng, 100);
  for (const char* line : {"EnableTerrain FALSE", "PushCamera", "image size: 936,605", "image counts: 2,2 = 4",
                           "make single: 2,2", "EnableTerrain TRUE"})
    EXPECT_TRUE(host.Traced(line)) << line;
  EXPECT_TRUE(host.Said(kGpDone));
  EXPECT_EQ(host.opened, std::vector<std::string>{out.substr(0, out.size() - 1)});
  EXPECT_EQ(host.closed, 1);
  EXPECT_EQ(host.title, out + "mosaic.tif");
  EXPECT_EQ(host.progress, std::make_pair(4, 4));
}

TEST_F(GpExportJob, OneCaptureWideIsOneShotALittleWiderTwoColumns) {
  GpExportResult r = Run(Params(1.0, 1.0));
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.columns, 1);
  EXPECT_EQ(r.rows, 1);
  r = Run(Params(1.02, 1.0));
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.columns, 2);
  EXPECT_EQ(r.rows, 1);
}

TEST_F(GpExportJob, CancelInTheStreamingWaitStopsAtThatPollAndResumesToTheSamePicture) {
  // The reference: the whole job in one run.
  ASSERT_TRUE(Run(Params(1.5, 1.5, "whole.png")).finished);
  CBitmap whole;
  ASSERT_TRUE(LoadImageFile(out + "whole.png", &whole));
  host.messages.clear();

  // Cancel while the plug-in loads for the second shot.
  int polls_after_quit = -1;
  view.on_poll = [&](int) {
    if (quit.IsSet()) {
      if (view.pops == 0) ++polls_after_quit;
    } else if (view.captures == 1 && view.moves == 2) {
      quit.Set();
      polls_after_quit = 0;
    }
  };
  view.captures = view.moves = view.pops = 0;
  GpExportResult r = Run(Params(1.5, 1.5, "part.png"));
  EXPECT_FALSE(r.finished);
  EXPECT_TRUE(r.interrupted);
  EXPECT_EQ(polls_after_quit, 0);  // the wait ended at the poll that saw the request
  EXPECT_EQ(view.captures, 1);
  EXPECT_TRUE(Exists(data + kGpResumeFile));
  EXPECT_FALSE(Exists(data + kGpListFile));
  EXPECT_FALSE(Exists(out + "part.png"));
  EXPECT_FALSE(host.Said(kGpDone));
  EXPECT_TRUE(view.terrain);  // back on after a stop too

  // Resume: no rectangle; the job continues from the resume file and joins the same picture.
  view.on_poll = nullptr;
  GpExportParams resume = Params(0, 0, "part.png");
  resume.has_rectangle = false;
  r = Run(resume);
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(view.captures, 4);  // 1 before, 3 now
  EXPECT_EQ(r.shots_taken, 3);
  EXPECT_FALSE(Exists(data + kGpResumeFile));
  CBitmap part;
  ASSERT_TRUE(LoadImageFile(out + "part.png", &part));
  ASSERT_EQ(part.Width(), whole.Width());
  ASSERT_EQ(part.Height(), whole.Height());
  int differ = 0;
  for (int y = 0; y < part.Height(); ++y)
    differ += std::memcmp(part.Row(y), whole.Row(y), part.Stride()) != 0;
  EXPECT_EQ(differ, 0);
}

TEST_F(GpExportJob, DiskSpaceOneByteShortTakesNoShot) {
  const uint64_t needed = GeDiskNeeded(kCaptureW, kCaptureH, 4);  // with the 100 MiB reserve
  GpExportParams p = Params(1.5, 1.5);
  p.free_space = [needed](const std::string&) { return std::optional<uint64_t>(needed - 1); };
  GpExportResult r = Run(p);
  EXPECT_FALSE(r.finished);
  EXPECT_EQ(view.captures, 0);
  const unsigned long long mb = (needed - 104857600ull) >> 20;
  EXPECT_TRUE(host.Said(FormatC(kGpDiskFull, mb)));
  EXPECT_TRUE(host.Traced(FormatC("Needed Diskspace: %lluM", mb)));
  fs::remove(data + kGpResumeFile);
  p.free_space = [needed](const std::string&) { return std::optional<uint64_t>(needed); };
  EXPECT_TRUE(Run(p).finished);
  EXPECT_EQ(view.captures, 4);
}

TEST_F(GpExportJob, LostViewChangeEventsTimeOutAndStallsStopResumably) {
  // A move that raises no event: every wait ends by its time-out and the job still finishes.
  view.raise_view_change = false;
  GpExportParams p = Params(1.5, 1.0);
  p.view_change_timeout_ms = 5;
  EXPECT_TRUE(Run(p).finished);
  EXPECT_GE(plugin.view_change_timeouts, 3);

  // A page that never finishes loading: the stall time-out stops the job with a message.
  view.raise_view_change = true;
  view.load_polls = -1;
  p.stall_timeout_ms = 30;
  GpExportResult r = Run(p);
  EXPECT_FALSE(r.finished);
  EXPECT_TRUE(r.interrupted);
  EXPECT_TRUE(host.Said(kGpStalled));
  EXPECT_TRUE(Exists(data + kGpResumeFile));
}

TEST_F(GpExportJob, FailedMoveStopsBeforeAnyRecordAndBrokenResumeFilesAreDropped) {
  view.fail_move = true;
  GpExportResult r = Run(Params(1.5, 1.5));
  EXPECT_TRUE(r.interrupted);
  EXPECT_FALSE(Exists(data + "gp_0_0.dat"));
  EXPECT_EQ(view.captures, 0);
  EXPECT_TRUE(Exists(data + kGpResumeFile));
  // A broken resume file is reported, removed and never used.
  view.fail_move = false;
  Truncate(data + kGpResumeFile, 20);
  GpExportParams resume = Params(0, 0);
  resume.has_rectangle = false;
  r = Run(resume);
  EXPECT_FALSE(r.finished);
  EXPECT_FALSE(Exists(data + kGpResumeFile));
  EXPECT_EQ(view.captures, 0);
  EXPECT_TRUE(host.Said(kGpNoRectangle));
  // A capture of no pixels is refused; one under 50 pixels refuses the models only.
  view.width = 88;
  EXPECT_FALSE(Run(Params(1, 1)).finished);
  EXPECT_TRUE(host.Said(kGpCaptureTooSmall));
  view.width = 88 + 49;
  EXPECT_FALSE(Run(Params(1, 1, "m.x")).finished);
  EXPECT_TRUE(host.Said(kGpModelCaptureTooSmall));
  EXPECT_FALSE(Exists(out + "m_0_0.x"));
}

// ---- models --------------------------------------------------------------------------------

struct AssimpScene {
  // .x files are left-handed; assimp turns them right-handed (z negated) unless asked not to.
  explicit AssimpScene(const std::string& path) : scene(aiImportFile(path.c_str(), aiProcess_MakeLeftHanded)) {}
  ~AssimpScene() {
    if (scene) aiReleaseImport(scene);
  }
  const aiScene* scene;
};

// Distinct vertex positions of a mesh (the reader may repeat a vertex per face).
size_t DistinctVertices(const aiMesh* mesh, std::vector<aiVector3D>* out) {
  std::vector<aiVector3D> all(mesh->mVertices, mesh->mVertices + mesh->mNumVertices);
  std::sort(all.begin(), all.end(), [](const aiVector3D& a, const aiVector3D& b) {
    return a.x != b.x ? a.x < b.x : a.y != b.y ? a.y < b.y : a.z < b.z;
  });
  all.erase(std::unique(all.begin(), all.end()), all.end());
  if (out) *out = all;
  return all.size();
}

TEST_F(GpExportJob, ModelsFromSamplesAndFromTheLiveViewReadBackWithTheHill) {
  view.hill.lng = 116.0 + 0.6 * kCaptureW * view.S();
  view.hill.lat = 39.03;
  GpExportResult r = Run(Params(1.5, 1.0, "hill.x"));
  ASSERT_TRUE(r.finished) << (host.messages.empty() ? "" : host.messages.back());
  EXPECT_EQ(r.columns, 2);
  // Terrain on while sampling, off while shooting.
  EXPECT_EQ(view.terrain_at_capture, std::vector<bool>(2, false));
  EXPECT_TRUE(host.Traced("Make models: 1,0"));
  EXPECT_TRUE(host.Traced("----------1,0------------"));
  const GpDemGrid grid = *GpDemGridFor(kCaptureW, kCaptureH);
  double highest = 0;
  for (int column = 0; column < 2; ++column) {
    const std::string x = out + FormatC("hill_%d_0.x", column);
    AssimpScene read(x);
    ASSERT_NE(read.scene, nullptr) << aiGetErrorString();
    ASSERT_EQ(read.scene->mNumMeshes, 1u);
    const aiMesh* mesh = read.scene->mMeshes[0];
    // (columns + 2) x (rows + 2) vertices; the seam row and column repeat edge positions.
    EXPECT_EQ(mesh->mNumFaces, 2u * (grid.columns + 1) * (grid.rows + 1));
    std::vector<aiVector3D> points;
    EXPECT_EQ(DistinctVertices(mesh, &points), size_t(grid.columns + 1) * (grid.rows + 1));
    for (const aiVector3D& p : points) {
      const double radius = std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z);
      const double lat = std::asin(p.y / radius) * 180 / M_PI, lng = std::atan2(p.z, p.x) * 180 / M_PI;
      const double height_m = (radius - 6378.137) * 1000;
      highest = std::max(highest, height_m);
      EXPECT_NEAR(height_m, view.hill.At(lng, lat), 8.0) << lng << "," << lat;  // float kilometres
    }
    CBitmap texture;
    ASSERT_TRUE(LoadImageFile(out + FormatC("hill_%d_0.jpg", column), &texture));
    EXPECT_EQ(texture.Width(), kCaptureW);
    EXPECT_EQ(texture.Height(), kCaptureH);
  }
  EXPECT_GT(highest, 3900);  // the hill's top lies in the first model
  EXPECT_TRUE(Exists(data + "gp_1_0.dem"));
  // No temporary folder left beside the models.
  for (const auto& e : fs::directory_iterator(out)) EXPECT_NE(e.path().filename().string()[0], '.');

  // "xa": 11 x 11 hit tests of the live view per shot.
  r = Run(Params(1.0, 1.0, "live.xa"));
  ASSERT_TRUE(r.finished);
  AssimpScene live(out + "live_0_0.x");
  ASSERT_NE(live.scene, nullptr) << aiGetErrorString();
  EXPECT_EQ(DistinctVertices(live.scene->mMeshes[0], nullptr), 121u);
  EXPECT_TRUE(view.terrain);
}

TEST(GpExportModel, SeamsTakeTheNeighboursEdgeHeights) {
  GpDemTile own, left, upper;
  for (GpDemTile* t : {&own, &left, &upper}) {
    t->grid = *GpDemGridFor(100, 100);  // 2 x 2 steps, 3 x 3 samples
    t->left = 116.0f;
    t->right = 116.1f;
    t->top = 39.1f;
    t->bottom = 39.0f;
  }
  left.left = 115.9f;  // west of the shot
  left.right = 116.0f;
  upper.top = 39.2f;   // north of it
  upper.bottom = 39.1f;
  own.altitudes = {10, 11, 12, 13, 14, 15, 16, 17, 18};
  left.altitudes = {0, 0, 100, 0, 0, 101, 0, 0, 102};    // last column 100..102
  upper.altitudes = {0, 0, 0, 0, 0, 0, 200, 201, 202};  // last row 200..202
  auto height = [](const MeshVertex& v) {
    return (std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z) - 6378.137) * 1000;
  };
  std::vector<MeshVertex> v = GpDemModelVertices(own, &left, &upper);
  ASSERT_EQ(v.size(), 16u);  // 4 x 4
  EXPECT_NEAR(height(v[0]), 200, 2);       // corner from the upper neighbour
  EXPECT_NEAR(height(v[1]), 200, 2);       // top seam
  EXPECT_NEAR(height(v[3]), 202, 2);
  EXPECT_NEAR(height(v[4]), 100, 2);       // left seam
  EXPECT_NEAR(height(v[12]), 102, 2);
  EXPECT_NEAR(height(v[5]), 10, 2);        // own samples
  EXPECT_NEAR(height(v[15]), 18, 2);
  auto lng = [](const MeshVertex& p) { return std::atan2(p.z, p.x) * 180 / M_PI; };
  EXPECT_NEAR(lng(v[4]), lng(v[5]), 1e-5);  // the seam lies on the shot's edge
  EXPECT_NEAR(lng(v[4]), 116.0, 1e-4);
  EXPECT_NEAR(lng(v[7]), 116.1, 1e-4);
  auto lat = [](const MeshVertex& p) {
    return std::asin(p.y / std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z)) * 180 / M_PI;
  };
  EXPECT_NEAR(lat(v[1]), 39.1, 1e-4);  // the upper neighbour's last row
  EXPECT_NEAR(lat(v[5]), 39.1, 1e-4);
  EXPECT_FLOAT_EQ(v[15].u, 1.f);
  EXPECT_FLOAT_EQ(v[15].v, 1.f);
  // Without neighbours the seams repeat the shot's own edge.
  v = GpDemModelVertices(own, nullptr, nullptr);
  EXPECT_NEAR(height(v[0]), 10, 2);
  EXPECT_NEAR(height(v[4]), 10, 2);
  EXPECT_NEAR(height(v[3]), 12, 2);
}

}  // namespace
}  // namespace velmora
