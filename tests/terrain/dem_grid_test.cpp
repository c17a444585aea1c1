// The elevation grid panel's data without a window: grid and point-list sampling over real
// height files (3- and 1-arc-second) and through the test HTTP server standing in for the web
// elevation service (quota, no reply), screen sampling of a view whose pixels map linearly onto a
// box, the point extraction against a brute-force count on a concave polygon, the pens of the
// four colour modes, the north-up pixel mapping and contours that meet a hole in the data.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/settings.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/dem_grid.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"
#include "terrain/height_file_writer.h"
#include "terrain/height_to_color.h"
#include "tiles/screen_terrain_source.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

const test::TempDir& kFolders = test::IsolatedFolders();

constexpr int kRows = 200;  // rows written of each height file, from its north edge

// Whole metres that differ from node to node, so that a swapped row or column shows.
double Plane(double lon, double lat) { return std::round((lat - 39.8) * 5000 + (lon - 116.0) * 700); }

class DemGridTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new test::TempDir();
    HeightGridLayout l3 = HeightLayout3s(60, 5);  // 115-120 E, 35-40 N
    l3.height = kRows;
    ASSERT_TRUE(WriteHeightSamples(folder_->File(CHeightFile::FileName(CHeightFile3s::TileNumber(60, 5), kHeightFileSmh)),
                                   BuildHeightGrid(l3, Plane)));
    HeightGridLayout l1 = HeightLayout1s(116, 39);
    l1.height = kRows;
    ASSERT_TRUE(WriteHeightSamples(folder_->File(CHeightFile::FileName(CHeightFile1s::TileNumber(116, 39), kHeightFileAmh)),
                                   BuildHeightGrid(l1, Plane)));
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  // A run on this thread, recording the dots.
  DemRunResult RunHere(CDemGrid& grid, DemVariant variant, CElevationStore* store, IScreenTerrainSource* screen = nullptr) {
    DemRunContext context;
    context.picture_width = 64;
    context.picture_height = 48;
    context.dot = [this](int x, int y, Argb c) { dots[{x, y}] = c; };
    context.wait_quit = [this](unsigned) {
      ++waits;
      return quit_after >= 0 && waits > quit_after;
    };
    context.store = store;
    context.screen = screen;
    grid.BeginRun(variant);
    return grid.Run(variant, context);
  }

  static test::TempDir* folder_;
  std::map<std::pair<int, int>, Argb> dots;
  int quit_after = -1;  // stop at this many waits (-1: never)
  int waits = 0;
};
test::TempDir* DemGridTest::folder_ = nullptr;

TEST_F(DemGridTest, RegionGridNodesAreTheStoresHeightsAtTheStepPositionsForBothFileKinds) {
  for (int mode : {kDemSourceSrtm, kDemSourceAstgtm}) {
    SCOPED_TRACE(mode);
    ScopedAppOptions options([mode](CAppOptions& o) { o.dem_source_mode = mode; });
    test::TempDir cache_dir;
    CElevCacheDb cache(cache_dir.path());
    CElevationStore store(&cache, folder_->path());
    CElevationStore reference(&cache, folder_->path());
    CDemGrid grid;
    ASSERT_TRUE(grid.SetPoints({116.01f, 39.99f}, {116.042f, 39.96f}, 90.7));
    EXPECT_EQ(grid.sample_distance, 90);
    dots.clear();
    const DemRunResult result = RunHere(grid, DemVariant::kRegionGrid, &store);
    ASSERT_TRUE(result.error.empty()) << result.error;
    EXPECT_FALSE(result.stopped);
    EXPECT_TRUE(grid.ready.load());

    const float step = 90.0f * 8.983153e-6f;
    const int nx = static_cast<int>(std::trunc((static_cast<double>(116.042f) - 116.01f) / step)) + 1;
    const int ny = static_cast<int>(std::trunc((static_cast<double>(39.99f) - 39.96f) / step)) + 1;
    ASSERT_EQ(grid.tracer.nx(), nx);
    ASSERT_EQ(grid.tracer.ny(), ny);
    ASSERT_EQ(grid.points.size(), static_cast<size_t>(nx * ny));
    double zmin = 1e300, zmax = -1e300;
    for (int r = 0; r < ny; ++r) {
      for (int c = 0; c < nx; ++c) {
        float pos[2] = {static_cast<float>(116.01f + c * static_cast<double>(step)),
                        static_cast<float>(39.96f + r * static_cast<double>(step))};
        float h = 0;
        ASSERT_EQ(reference.GetElevation(pos, &h, 90), kElevFound);
        ASSERT_EQ(grid.tracer.Value(r, c), h) << r << "," << c;
        // The file sample lies at most one sample spacing south-west of the node.
        EXPECT_NEAR(h, Plane(116.01 + c * step, 39.96 + r * step), 12.0);
        zmin = std::min<double>(zmin, h);
        zmax = std::max<double>(zmax, h);
      }
    }
    EXPECT_EQ(grid.tracer.z_range.min, zmin);
    EXPECT_EQ(grid.tracer.z_range.max, zmax);
    // x and y ranges are the node extent.
    EXPECT_DOUBLE_EQ(grid.tracer.x_range.min, 116.01f);
    EXPECT_NEAR(grid.tracer.x_range.max, 116.01f + (nx - 1) * static_cast<double>(step), 1e-9);
    EXPECT_NEAR(grid.tracer.y_range.max, 39.96f + (ny - 1) * static_cast<double>(step), 1e-9);
    // Height files give blue dots; the south-west node is drawn at the bottom left.
    EXPECT_EQ(dots.at({0, static_cast<int>(48 * (ny - 1) / ny)}), kDemDotFile);
    EXPECT_EQ(dots.at({0, 0}), kDemDotFile);
  }
}

TEST_F(DemGridTest, ABoxNarrowerThanAStepHasOneColumnAndAStopKeepsWhatWasSampled) {
  ScopedAppOptions options([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  CElevationStore store(nullptr, folder_->path());
  CDemGrid grid;
  ASSERT_TRUE(grid.SetPoints({116.02f, 39.99f}, {116.0201f, 39.97f}, 100));
  ASSERT_EQ(RunHere(grid, DemVariant::kRegionGrid, &store).error, "");
  EXPECT_EQ(grid.tracer.nx(), 1);
  EXPECT_GT(grid.tracer.ny(), 10);
  EXPECT_EQ(grid.BuiltInSampleCount(), grid.tracer.ny());

  // A stop after 5 polls: five points stay, nodes not reached hold no data.
  ASSERT_TRUE(grid.SetPoints({116.0f, 39.99f}, {116.01f, 39.98f}, 100));
  quit_after = 5;
  waits = 0;
  const DemRunResult stopped = RunHere(grid, DemVariant::kRegionGrid, &store);
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(grid.points.size(), 5u);
  EXPECT_FALSE(std::isnan(grid.tracer.Value(0, 4)));
  EXPECT_TRUE(std::isnan(grid.tracer.Value(0, 5)));
  EXPECT_TRUE(std::isnan(grid.tracer.Value(grid.tracer.ny() - 1, grid.tracer.nx() - 1)));

  // Sample distances below 1 are refused before they divide anything.
  EXPECT_FALSE(grid.SetPoints({116.0f, 39.99f}, {116.01f, 39.98f}, 0.5));
  EXPECT_FALSE(grid.SetDemData(std::vector<LngLatF>{{116, 39}}, 0));
  EXPECT_EQ(grid.sample_distance, 100);
}

TEST_F(DemGridTest, FailedAndRefusedWebSamplesAreNoDataAndTheRestKeepTheirHeights) {
  test::HttpTestServer server;
  // Replies by the order of the requests (the grid asks row by row from the south-west): nodes 0
  // and 1 answer 500 m, 2 and 3 are refused for quota, 4 gets a server error, 5 answers 502 m;
  // later requests are refused for quota.
  std::atomic<int> asked{0};
  server.RoutePrefix("/maps/api/elevation/json", [&asked](const HttpRequestRecord& request) {
    const size_t at = request.query.find("locations=");
    const size_t comma = request.query.find(',', at);
    const size_t amp = request.query.find('&', comma);
    const double lat = *ParseDouble(request.query.substr(at + 10, comma - at - 10));
    const double lng = *ParseDouble(request.query.substr(comma + 1, amp - comma - 1));
    const int n = asked++;
    if (n == 4) return HttpReply::ServerError();
    if (n != 0 && n != 1 && n != 5) return HttpReply::Status(429, "OVER_QUERY_LIMIT");
    return HttpReply::Ok(FormatC("{\"results\":[{\"elevation\":%d.0,\"location\":{\"lat\":%.8f,\"lng\":%.8f}}],"
                                 "\"status\":\"OK\"}",
                                 n == 5 ? 502 : 500, lat, lng),
                         "application/json");
  });
  WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  ScopedAppOptions options([](CAppOptions& o) { o.dem_source_mode = kDemSourceGoogle; });
  test::TempDir cache_dir;
  CElevCacheDb cache(cache_dir.path());
  CElevationStore store(&cache);
  CDemGrid grid;
  const float step = 1000 * 8.983153e-6f;
  ASSERT_TRUE(grid.SetPoints({116.0f, 39.9f}, {116.0f + 1.5f * step, 39.9f + 2.5f * step}, 1000));
  ASSERT_EQ(RunHere(grid, DemVariant::kRegionGrid, &store).error, "");
  ASSERT_EQ(grid.tracer.nx(), 2);
  ASSERT_EQ(grid.tracer.ny(), 3);
  EXPECT_EQ(grid.tracer.Value(0, 0), 500);
  EXPECT_EQ(grid.tracer.Value(0, 1), 500);
  EXPECT_TRUE(std::isnan(grid.tracer.Value(1, 0)));
  EXPECT_TRUE(std::isnan(grid.tracer.Value(1, 1)));
  EXPECT_TRUE(std::isnan(grid.tracer.Value(2, 0)));
  EXPECT_EQ(grid.tracer.Value(2, 1), 502);
  EXPECT_EQ(grid.points.size(), 3u);
  EXPECT_EQ(grid.tracer.z_range.min, 500);
  EXPECT_EQ(grid.tracer.z_range.max, 502);
  // Rows go up the picture: row 0 at the bottom, row 2 at the top.
  EXPECT_EQ(dots.at({0, 32}), kDemDotWeb);
  EXPECT_EQ(dots.at({0, 16}), kDemDotQuota);
  EXPECT_EQ(dots.at({32, 16}), kDemDotQuota);
  EXPECT_EQ(dots.at({0, 0}), kDemDotFailed);
  EXPECT_EQ(dots.at({32, 0}), kDemDotWeb);
  // Each failure waited once on the quit request.
  EXPECT_EQ(waits, 6 + 3);

  // The point list over the same positions: failures add no point.
  // The first and last positions are nodes the cache now holds; the middle one is refused.
  grid.positions = {{116.0f, 39.9f}, {116.0f, 39.9f + step}, {116.0f + step, 39.9f + 2 * step}};
  waits = 0;
  ASSERT_EQ(RunHere(grid, DemVariant::kRegionPoints, &store).error, "");
  ASSERT_EQ(grid.points.size(), 2u);
  EXPECT_EQ(grid.points[1].z, 502);
  EXPECT_NEAR(grid.points[1].y, 39.9 + 2 * step, 1e-5);
  EXPECT_EQ(grid.tracer.x_range.min, 116.0f);
  EXPECT_EQ(grid.tracer.z_range.max, 502);
}

// Pixels map linearly onto 116-117 E, 40-39 N over 1000 x 1000 pixels; outside a circle of radius
// 450 about the centre there is no globe.
class LinearScreen : public IScreenTerrainSource {
 public:
  bool GetClientSize(int* w, int* h) override {
    *w = *h = 1000;
    return true;
  }
  bool ScreenToTerrain(double x, double y, double* lng, double* lat, double* alt) override {
    if (std::hypot(x - 500, y - 500) > 450) return false;
    *lng = 116 + x / 1000;
    *lat = 40 - y / 1000;
    *alt = Plane(*lng, *lat);
    return true;
  }
  bool PrepareTerrain(Event*) override {
    ++prepared;
    return true;
  }
  void FinishTerrain() override { ++finished; }
  bool OpenKmlFile(const std::string&) override { return false; }
  int prepared = 0, finished = 0;
};

TEST_F(DemGridTest, ScreenGridSamplesTheViewsPixelsAndOffGlobePixelsAreNoData) {
  LinearScreen screen;
  CDemGrid grid;
  const std::vector<LngLatF> pixels = {{20, 20}, {980, 20}, {980, 980}, {20, 980}};
  ASSERT_TRUE(grid.SetScreenPoints(pixels, 40));
  EXPECT_EQ(grid.mode, kDemModeScreen);
  EXPECT_EQ(grid.BuiltInSampleCount(), 25 * 25);
  ASSERT_EQ(RunHere(grid, DemVariant::kScreenGrid, nullptr, &screen).error, "");
  EXPECT_EQ(screen.prepared, 1);
  EXPECT_EQ(screen.finished, 1);
  EXPECT_TRUE(grid.ready.load());
  ASSERT_EQ(grid.tracer.nx(), 25);
  ASSERT_EQ(grid.tracer.ny(), 25);
  size_t valid = 0;
  for (int r = 0; r < 25; ++r) {
    for (int c = 0; c < 25; ++c) {
      const double x = 20 + 40.0 * c, y = 980 - 40.0 * r;  // row 0 at the bottom of the box
      const bool on_globe = std::hypot(x - 500, y - 500) <= 450;
      if (!on_globe) {
        EXPECT_TRUE(std::isnan(grid.tracer.Value(r, c)));
        continue;
      }
      ++valid;
      EXPECT_EQ(grid.tracer.Value(r, c), static_cast<float>(Plane(116 + x / 1000, 40 - y / 1000)));
    }
  }
  EXPECT_EQ(grid.points.size(), valid);
  // A stopped screen run leaves the ready flag clear.
  quit_after = 3;
  waits = 0;
  EXPECT_TRUE(RunHere(grid, DemVariant::kScreenGrid, nullptr, &screen).stopped);
  EXPECT_FALSE(grid.ready.load());
  EXPECT_EQ(screen.finished, 2);
}

TEST_F(DemGridTest, ScreenPointListKeepsVertexSamplesByIndex) {
  LinearScreen screen;
  CDemGrid grid;
  // The second vertex lies off the globe.
  ASSERT_TRUE(grid.SetScreenPoints(std::vector<LngLatF>{{300, 300}, {2, 2}, {700, 400}, {500, 700}}, 50));
  ASSERT_EQ(grid.ExtractDemPoints(nullptr), DemExtractStatus::kOk);
  ASSERT_EQ(RunHere(grid, DemVariant::kScreenPoints, nullptr, &screen).error, "");
  ASSERT_EQ(grid.vertex_terrain.size(), 4u);
  EXPECT_TRUE(std::isnan(grid.vertex_terrain[1].x));
  EXPECT_NEAR(grid.vertex_terrain[2].x, 116.7, 1e-9);
  EXPECT_NEAR(grid.vertex_terrain[2].y, 39.6, 1e-9);
  LinearScreen probe;
  size_t on_globe = 0;
  for (const LngLatF& p : grid.positions) {
    double lng, lat, alt;
    on_globe += probe.ScreenToTerrain(p.lng, p.lat, &lng, &lat, &alt);
  }
  EXPECT_LT(on_globe, grid.positions.size());
  EXPECT_EQ(grid.points.size(), on_globe);
}

// Crossing-number test of a simple polygon, written apart from the rasteriser's.
bool Inside(const std::vector<PixelPoint>& poly, double x, double y) {
  bool in = false;
  for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
    if ((poly[i].y > y) != (poly[j].y > y) &&
        x < (poly[j].x - poly[i].x) * (y - poly[i].y) / (poly[j].y - poly[i].y) + poly[i].x)
      in = !in;
  }
  return in;
}

TEST_F(DemGridTest, ExtractionOnAConcavePolygonMatchesABruteForceCountInBothModes) {
  // A "C" shape, open to the east.
  const std::vector<LngLatF> region = {{116.00f, 40.00f}, {116.06f, 40.00f}, {116.06f, 39.99f}, {116.02f, 39.99f},
                                       {116.02f, 39.97f}, {116.06f, 39.97f}, {116.06f, 39.96f}, {116.00f, 39.96f}};
  CDemGrid grid;
  ASSERT_TRUE(grid.SetDemData(region, 100));
  ASSERT_EQ(grid.ExtractDemPoints(nullptr), DemExtractStatus::kOk);
  std::vector<PixelPoint> tile_poly;
  for (const LngLatF& p : region) {
    const PixelPoint px = LngLatToPixel(p.lng, p.lat, 1, 20);
    tile_poly.push_back({px.x / 256, px.y / 256});
  }
  const double step = 100 * 8.983152841195214e-6;
  std::vector<std::pair<float, float>> expected;
  for (const LngLatF& p : region) expected.push_back({p.lng, p.lat});
  for (int i = 0; 116.0 + i * step < 116.06f; ++i) {
    for (int j = 0; 40.0f - j * step > 39.96f; ++j) {
      const double x = 116.0f + i * step, y = 40.0f - j * step;
      const PixelPoint px = LngLatToPixel(x, y, 1, 20);
      const double tx = std::floor(px.x / 256), ty = std::floor(px.y / 256);
      if (Inside(tile_poly, tx + 0.5, ty + 0.5)) expected.push_back({static_cast<float>(x), static_cast<float>(y)});
    }
  }
  ASSERT_EQ(grid.positions.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(grid.positions[k].lng, expected[k].first) << k;
    EXPECT_EQ(grid.positions[k].lat, expected[k].second) << k;
  }
  // None in the notch.
  for (const LngLatF& p : grid.positions) EXPECT_FALSE(p.lng > 116.021f && p.lat < 39.989f && p.lat > 39.971f);

  // Screen mode: the pixel polygon itself.
  std::vector<LngLatF> pixels;
  for (const LngLatF& p : region) pixels.push_back({(p.lng - 116.0f) * 10000, (40.0f - p.lat) * 10000});
  ASSERT_TRUE(grid.SetScreenPoints(pixels, 7));
  ASSERT_EQ(grid.ExtractDemPoints(nullptr), DemExtractStatus::kOk);
  std::vector<PixelPoint> pixel_poly;
  for (const LngLatF& p : pixels) pixel_poly.push_back({p.lng, p.lat});
  size_t inside = 0;
  const DemBox b = DemBoxOf(pixels);
  for (int i = 0; b.west + 7.0 * i < b.east; ++i)
    for (int j = 0; b.north - 7.0 * j > b.south; ++j) inside += Inside(pixel_poly, b.west + 7.0 * i, b.north - 7.0 * j);
  EXPECT_EQ(grid.positions.size(), pixels.size() + inside);
}

TEST_F(DemGridTest, DecliningTheMillionQuestionChangesNothingAndTheExtractionKeepsThePoints) {
  CDemGrid grid;
  ASSERT_TRUE(grid.SetDemData(std::vector<LngLatF>{{100, 30}, {101, 30}, {101, 31}, {100, 31}}, 50));
  grid.positions = {{1, 2}};
  grid.points = {{1, 2, 3}};
  grid.ready = true;
  int asked = 0;
  EXPECT_EQ(grid.ExtractDemPoints([&] {
    ++asked;
    return false;
  }),
            DemExtractStatus::kDeclined);
  EXPECT_EQ(asked, 1);
  ASSERT_EQ(grid.positions.size(), 1u);
  EXPECT_EQ(grid.positions[0].lng, 1);

  // A small region is not asked about; the points and the ready flag stay as they were.
  ASSERT_TRUE(grid.SetPoints({100, 30}, {100.01f, 30.01f}, 50));
  ASSERT_EQ(grid.ExtractDemPoints([&] {
    ++asked;
    return false;
  }),
            DemExtractStatus::kOk);
  EXPECT_EQ(asked, 1);
  EXPECT_GT(grid.positions.size(), 400u);
  EXPECT_EQ(grid.points.size(), 1u);
  EXPECT_TRUE(grid.ready.load());
}

// A line set of levels 100 (one line), 200 (none), 300 (one), 400 (one).
void FillSet(CContourLineSet& set) {
  for (float level : {100.0f, 200.0f, 300.0f, 400.0f}) {
    CContourLineList* list = set.Add();
    if (level == 200.0f) continue;
    ContourLine* line = list->AddLine(level);
    line->points = {{0, 0}, {10, 5}};
  }
}

TEST(DemDisplay, FourColourModesGivePensAndEmptyLevelsDoNotSkipColours) {
  CContourLineSet set;
  FillSet(set);
  std::vector<Argb> pens;
  std::vector<int> level_pens;
  DemPageOptions o;
  o.line_color = 0xFF112233u;
  o.interval_color = 0xFF445566u;
  o.contour_color_mode = 0;
  DemContourPens(set, o, &pens, &level_pens);
  EXPECT_EQ(pens, (std::vector<Argb>{0xFF112233u}));
  EXPECT_EQ(level_pens, (std::vector<int>{0, 0, 0, 0}));
  o.contour_color_mode = 1;
  o.interval_count = 3;
  DemContourPens(set, o, &pens, &level_pens);
  EXPECT_EQ(pens, (std::vector<Argb>{0xFF112233u, 0xFF445566u}));
  EXPECT_EQ(level_pens, (std::vector<int>{1, 0, 0, 1}));
  o.contour_color_mode = 2;
  DemContourPens(set, o, &pens, &level_pens);
  EXPECT_EQ(pens, (std::vector<Argb>{0xFFFF0000u, 0xFFFF7A00u, 0xFFFFFF00u}));
  EXPECT_EQ(level_pens, (std::vector<int>{0, -1, 1, 2}));
  o.contour_color_mode = 3;
  DemContourPens(set, o, &pens, &level_pens);
  ASSERT_EQ(pens.size(), 3u);
  const RgbColor c = HeightToColor(300);
  EXPECT_EQ(pens[1], MakeArgb(255, c.r, c.g, c.b));
  EXPECT_EQ(level_pens, (std::vector<int>{0, -1, 1, 2}));
}

TEST(DemDisplay, LinesMapToPixelsNorthUp) {
  CContourLineSet set;
  ContourLine* line = set.Add()->AddLine(5);
  line->points = {{10, 20}, {30, 60}, {20, 40}};
  set.Add()->AddLine(6)->points = {{15, 30}};  // one point: not drawn
  std::vector<Argb> pens;
  std::vector<DemDrawRecord> records;
  BuildDemDrawRecords(set, {10, 30}, {20, 60}, 200, 100, DemPageOptions{}, &pens, &records);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].line, line);
  ASSERT_EQ(records[0].points.size(), 3u);
  EXPECT_FLOAT_EQ(records[0].points[0].x, 0);
  EXPECT_FLOAT_EQ(records[0].points[0].y, 100);  // south at the bottom
  EXPECT_FLOAT_EQ(records[0].points[1].x, 200);
  EXPECT_FLOAT_EQ(records[0].points[1].y, 0);
  EXPECT_FLOAT_EQ(records[0].points[2].y, 50);
  // A range of no width does not divide by zero.
  BuildDemDrawRecords(set, {10, 10}, {20, 20}, 200, 100, DemPageOptions{}, &pens, &records);
  EXPECT_FLOAT_EQ(records[0].points[1].x, 100);
}

TEST(DemContours, ALineRunningIntoNoDataEndsThereAndIsKept) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  // A cone (110 m at the centre of a 21 x 21 grid, 10 m down per unit) with a hole of no data
  // east of the peak. Levels 20-100 are rings of radius 9, 7, 5, 3 and 1; those of radius 5 and
  // 3 cross the hole and must come out as one open line each, ending beside the hole.
  CContourTracer tracer;
  ASSERT_TRUE(tracer.AllocGrid(21, 21));
  for (int r = 0; r < 21; ++r)
    for (int c = 0; c < 21; ++c) tracer.Value(r, c) = static_cast<float>(110 - 10 * std::hypot(r - 10.0, c - 10.0));
  for (int r = 8; r <= 12; ++r)
    for (int c = 13; c <= 15; ++c) tracer.Value(r, c) = kNaN;
  tracer.x_range = {0, 20};
  tracer.y_range = {0, 20};
  tracer.z_range = {20, 110};
  ASSERT_EQ(tracer.TraceContourLevels(20), ContourStatus::kOk);
  const CContourLineSet& set = tracer.LineSet();
  ASSERT_EQ(set.GetSize(), 5u);
  for (size_t i = 0; i < set.GetSize(); ++i) {
    const double level = 20.0 + 20.0 * i;
    const double radius = (110 - level) / 10;
    const bool through_hole = radius > 2 && radius < 6;
    SCOPED_TRACE(level);
    ASSERT_EQ(set[i].GetCount(), 1u);
    const ContourLine& line = set[i][0];
    EXPECT_EQ(line.level, level);
    for (const ContourPoint& p : line.points) {
      EXPECT_NEAR(std::hypot(p.x - 10.0, p.y - 10.0), radius, 0.3);
      EXPECT_FALSE(p.x > 13.001 && p.x < 14.999 && p.y > 8.001 && p.y < 11.999) << p.x << "," << p.y;
    }
    const bool closed = line.points.front() == line.points.back();
    EXPECT_EQ(closed, !through_hole);
    if (through_hole) {
      for (const ContourPoint& end : {line.points.front(), line.points.back()}) {
        EXPECT_GE(end.x, 12.0);
        EXPECT_LE(end.x, 16.0);
        EXPECT_GE(end.y, 7.0);
        EXPECT_LE(end.y, 13.0);
      }
    }
  }
}

}  // namespace
}  // namespace velmora
