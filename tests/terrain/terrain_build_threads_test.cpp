// The terrain model's worker: builds started one after another while the last is computing
// (each cancelling the one before) leave exactly the last grid, and the rows shared out among
// threads give the same vertices as rows computed one by one.
#include <gtest/gtest.h>

#include <cstring>

#include "core/settings.h"
#include "support/isolated_folders.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/terrain_model.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

double Slope(double lon, double lat) { return 100 + 30 * (lon - 115) - 20 * (lat - 35); }

TEST(TerrainBuildThreads, RestartedBuildsLeaveTheLastGridAndSharedRowsMatchSingleRows) {
  ScopedAppOptions options([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
  ASSERT_NE(WriteHeightFile3s(kFolders.File("heights/"), 60, 5, Slope), "");
  CElevationStore elevation(nullptr, kFolders.File("heights/"));
  const float tl[2] = {116.0f, 39.0f}, br[2] = {118.0f, 37.0f};
  MapCamera camera;
  camera.width = 400;
  camera.height = 300;
  camera.zoom = 9.5;

  CTerrainModel model;
  model.SetSources(&elevation, nullptr);
  for (int samples : {300, 200, 120, 80, 150}) {
    ProgramSettings().SetInt(kDemSampleKey, samples);
    ASSERT_TRUE(model.Build(camera, tl, br));
  }
  ASSERT_TRUE(model.WaitBuild(kInfinite));
  ASSERT_TRUE(model.CommitBuild());
  EXPECT_EQ(model.Rows(), 150);
  EXPECT_EQ(model.Columns(), 200);
  ProgramSettings().Remove(kDemSampleKey);

  // The same grid by rows on several threads (128 rows) and row by row: the same bytes.
  TerrainGrid grid;
  ASSERT_TRUE(PlanTerrainGrid(camera, tl, br, 128, &grid));
  std::vector<TerrainVertex> shared, single;
  std::atomic<float> progress{0};
  ASSERT_TRUE(ComputeTerrainVertices(grid, IntPair{2, 5}, elevation, &shared, nullptr, &progress));
  EXPECT_FLOAT_EQ(progress.load(), 1.0f);
  single.resize(shared.size());
  for (int r = 0; r < grid.rows; ++r) {
    TerrainGrid one = grid;
    one.rows = 1;
    one.north = grid.north - r * grid.step;
    std::vector<TerrainVertex> row;
    ASSERT_TRUE(ComputeTerrainVertices(one, IntPair{2, 5}, elevation, &row));
    std::memcpy(&single[size_t(r) * size_t(grid.columns)], row.data(), row.size() * sizeof(TerrainVertex));
  }
  ASSERT_EQ(std::memcmp(shared.data(), single.data(), shared.size() * sizeof(TerrainVertex)), 0);
}

}  // namespace
}  // namespace velmora
