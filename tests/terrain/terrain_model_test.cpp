// The terrain model over synthetic height files on the headless device: step counts that do not
// lose a step to rounding, the grid of a map window (500 rows and 666 columns for 800 x 600 at
// 500 samples; 3-arc-second steps for a small area; refusals), vertices lifted by the height
// formula from the store's heights (points without data at b metres), the whole earth closed
// and reaching the poles with texture coordinates that cover the world picture, the picture's
// top-left on the north-west vertex, rebuild rules, and the .x model read back by assimp with its
// positions, unit outward normals, colours and the JPEG picture beside it.
#include "terrain/terrain_model.h"

#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "support/isolated_folders.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/height_to_color.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
constexpr float kKm = 1.0f;
constexpr float kMetre = 0.001f * kKm;
constexpr int kTileZoom = 8;

double Terrain(double lon, double lat) { return 200 + 50 * (lon - 115) + 30 * (lat - 35); }

Argb TileColor(int x, int y) { return 0xFF000000u | (Argb((x * 53 + 11) & 0xFF) << 16) | (Argb((y * 97 + 3) & 0xFF) << 8) | 0x40u; }

// The device, one 3-arc-second tile of heights over 115..120 E, 35..40 N, and a store of tiles at
// zoom 8 over the same area, each in a colour of its own.
class TerrainEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    options_ = std::make_unique<ScopedAppOptions>([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
    ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
    ASSERT_NE(WriteHeightFile3s(kFolders.File("heights/"), 60, 5, Terrain), "");
    elevation_ = std::make_unique<CElevationStore>(nullptr, kFolders.File("heights/"));
    TileManagerOptions tm;
    tm.data_dir = kFolders.File("tiles/");
    tm.download_threads = 0;
    tm.offline = true;
    tm.use_download_list = false;
    tiles_ = std::make_unique<CTileManager>(tm);
    CTileStore* store = tiles_->OpenStore(0);
    ASSERT_NE(store, nullptr);
    for (int x = TileX(114); x <= TileX(121); ++x)
      for (int y = TileY(41); y <= TileY(34); ++y) {
        CBitmap picture;
        ASSERT_TRUE(picture.Create(256, 256, TileColor(x, y)));
        std::vector<uint8_t> png;
        ASSERT_TRUE(EncodeImage(picture, ImageType::kPng, &png));
        ASSERT_EQ(store->Write(MakeTileKey(x, y, TileKeyValue(0, kTileZoom)), png.data(), png.size(), false),
                  TileWriteResult::kWritten);
      }
    ASSERT_TRUE(tiles_->Start());
  }
  void TearDown() override {
    tiles_->Stop();
    tiles_.reset();
    elevation_.reset();
    options_.reset();
  }
  static int TileX(double lng) { return static_cast<int>(MercatorLngToX(lng, kTileZoom) / 256); }
  static int TileY(double lat) { return static_cast<int>(MercatorLatToY(lat, kTileZoom) / 256); }
  static CElevationStore& Elevation() { return *elevation_; }
  static CTileManager& Tiles() { return *tiles_; }

 private:
  std::unique_ptr<ScopedAppOptions> options_;
  static inline std::unique_ptr<CElevationStore> elevation_;
  static inline std::unique_ptr<CTileManager> tiles_;
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new TerrainEnvironment);

// Settings of one test, put back at its end.
class TerrainTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* key : {kDemSampleKey, kDemFactorKey, kTerrainTextureKey}) ProgramSettings().Remove(key);
  }
  void Attach(CTerrainModel& model) {
    model.SetSources(&TerrainEnvironment::Elevation(), &TerrainEnvironment::Tiles());
    model.SetLayers({MapLayer{0, kKindMercator}});
  }
};

MapCamera Camera(int width, int height, double zoom, int kind = kKindMercator) {
  MapCamera c;
  c.width = width;
  c.height = height;
  c.zoom = zoom;
  c.kind = kind;
  c.lng = 117.5;
  c.lat = 37.5;
  return c;
}

D3DXVECTOR3 Xyz(double lng, double lat, double km) {
  D3DXVECTOR3 p;
  LngLatToXYZ(float(lng), float(lat), float(km), &p.x, &p.y, &p.z);
  return p;
}

float Distance(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

TEST(TerrainGridCount, NoStepIsLostToRounding) {
  // span / (span / N) gives N for every span, though the division rounds below N for some.
  int rounded_below = 0;
  for (int i = 1; i <= 4000; ++i) {
    const double span = i * 0.0137;
    for (int n : {3, 7, 99, 500, 666, 1199, 4096}) {
      rounded_below += span / (span / n) < n ? 1 : 0;
      ASSERT_EQ(GridStepCount(span, span / n), n) << span << " / " << n;
    }
  }
  EXPECT_GT(rounded_below, 0);  // the sweep does meet the rounding it guards against
  // One degree at the 3-arc-second minimum (a single float's 3") is 1200 steps, not 1199.
  EXPECT_EQ(GridStepCount(1.0, kMinTerrainStep), 1200);
  // Real fractions still truncate.
  EXPECT_EQ(GridStepCount(10.0, 3.0), 3);
  EXPECT_EQ(GridStepCount(1.0 - 1e-4, 0.1), 9);
  EXPECT_EQ(GridStepCount(0, 1), 0);
  EXPECT_EQ(GridStepCount(1, 0), 0);
  EXPECT_EQ(GridStepCount(std::nan(""), 1), 0);
}

TEST(TerrainGridPlan, WindowsAreasAndRefusals) {
  // 800 x 600: wider than tall, so the latitude span is cut into 500 steps.
  const float tl[2] = {116.0f, 39.0f}, br[2] = {118.6666f, 37.0f};
  TerrainGrid g;
  std::string error;
  ASSERT_TRUE(PlanTerrainGrid(Camera(800, 600, 9.5), tl, br, 500, &g, &error)) << error;
  EXPECT_FALSE(g.whole_earth);
  EXPECT_EQ(g.rows, 500);
  EXPECT_EQ(g.columns, 666);
  EXPECT_NEAR(g.step, 2.0 / 500, 1e-9);
  EXPECT_EQ(g.zoom, 9);
  EXPECT_EQ(g.resolution, static_cast<int>(40075016.68557849 / (256 << 9)));
  EXPECT_NEAR(g.north, 38.0 + 250 * g.step, 1e-6);
  EXPECT_NEAR(g.west, (116.0 + 118.6666f) / 2 - 333 * g.step, 1e-5);
  // Taller than wide: the longitude span is cut.
  ASSERT_TRUE(PlanTerrainGrid(Camera(300, 900, 9.5), tl, br, 100, &g, &error));
  EXPECT_EQ(g.columns, 100);
  EXPECT_EQ(g.rows, 300);
  // A small area: the step stops at 3 arc seconds and there are fewer points.
  const float stl[2] = {117.0f, 37.05f}, sbr[2] = {117.1f, 37.0f};
  ASSERT_TRUE(PlanTerrainGrid(Camera(800, 400, 15), stl, sbr, 500, &g, &error));
  EXPECT_DOUBLE_EQ(g.step, kMinTerrainStep);
  EXPECT_EQ(g.rows, GridStepCount(std::fabs(double(stl[1]) - sbr[1]), kMinTerrainStep));
  EXPECT_LT(g.rows, 500);
  EXPECT_EQ(g.columns, 2 * g.rows);
  // Refusals, each with a reason.
  EXPECT_FALSE(PlanTerrainGrid(Camera(0, 600, 9.5), tl, br, 500, &g, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(PlanTerrainGrid(Camera(800, 600, 9.5), tl, br, 0, &g, &error));
  EXPECT_FALSE(PlanTerrainGrid(Camera(800, 600, 9.5), tl, br, -5, &g, &error));
  EXPECT_FALSE(PlanTerrainGrid(Camera(800, 600, 9.5), tl, br, 5000, &g, &error));
  EXPECT_FALSE(PlanTerrainGrid(Camera(100000, 100, 9.5), tl, br, 4096, &g, &error));  // beyond the device
  EXPECT_NE(error.find("过大"), std::string::npos);
  const float nan_tl[2] = {std::nanf(""), 39.0f};
  EXPECT_FALSE(PlanTerrainGrid(Camera(800, 600, 9.5), nan_tl, br, 500, &g, &error));
}

TEST(TerrainGridPlan, WholeEarthIsClosedAndItsPictureCoversTheWorld) {
  const float any[2] = {0, 0};
  for (int kind : {int(kKindMercator), int(kKindEquirect)}) {
    TerrainGrid g;
    ASSERT_TRUE(PlanTerrainGrid(Camera(800, 600, 2.7, kind), any, any, 500, &g));
    ASSERT_TRUE(g.whole_earth);
    EXPECT_EQ(g.zoom, 2);
    EXPECT_EQ(g.columns, 87);
    EXPECT_EQ(g.rows, 44);
    std::vector<TerrainVertex> v;
    ASSERT_TRUE(ComputeTerrainVertices(g, IntPair{1, 0}, TerrainEnvironment::Elevation(), &v));
    ASSERT_EQ(v.size(), 87u * 44u);
    for (int r = 0; r < 44; ++r) {
      const TerrainVertex& west = v[size_t(r) * 87], &east = v[size_t(r) * 87 + 86];
      EXPECT_LT(Distance({west.x, west.y, west.z}, {east.x, east.y, east.z}), 1 * kMetre) << "row " << r;
    }
    EXPECT_LT(Distance({v[0].x, v[0].y, v[0].z}, Xyz(0, 90, 0)), 1 * kMetre);
    EXPECT_LT(Distance({v.back().x, v.back().y, v.back().z}, Xyz(0, -90, 0)), 1 * kMetre);
    // The picture is the whole world: u and v run from 0 to 1 (also over the half-height world
    // of the equirectangular kind).
    EXPECT_FLOAT_EQ(v[0].u, 0.0f);
    EXPECT_FLOAT_EQ(v[0].v, 0.0f);
    EXPECT_FLOAT_EQ(v[86].u, 1.0f);
    EXPECT_FLOAT_EQ(v.back().v, 1.0f) << "kind " << kind;
    EXPECT_NEAR(v[size_t(22) * 87 + 43].v, 0.5f, 0.06f) << "kind " << kind;  // near the equator
  }
}

TEST(TerrainGridVertices, HeightsAreLiftedByTheFormulaAndMissingOnesSitAtB) {
  const float tl[2] = {116.0f, 39.0f}, br[2] = {118.0f, 37.0f};
  TerrainGrid g;
  ASSERT_TRUE(PlanTerrainGrid(Camera(300, 200, 11.2), tl, br, 40, &g));
  std::vector<TerrainVertex> v;
  ASSERT_TRUE(ComputeTerrainVertices(g, IntPair{3, -100}, TerrainEnvironment::Elevation(), &v));
  for (int r = 0; r < g.rows; r += 7)
    for (int c = 0; c < g.columns; c += 5) {
      const double lon = g.west + c * g.step, lat = g.north - r * g.step;
      float pos[2] = {float(lon), float(lat)}, h = 0;
      CElevationStore reader(nullptr, kFolders.File("heights/"));
      reader.GetElevation(pos, &h, g.resolution);
      ASSERT_NEAR(h, Terrain(lon, lat), 2.0);
      const TerrainVertex& t = v[size_t(r) * size_t(g.columns) + size_t(c)];
      // The shared sines and cosines of rows and columns give LngLatToXYZ's floats exactly.
      const D3DXVECTOR3 p = Xyz(lon, lat, (3.0 * h - 100) * 0.001);
      EXPECT_EQ(t.x, p.x);
      EXPECT_EQ(t.y, p.y);
      EXPECT_EQ(t.z, p.z);
      const RgbColor rgb = HeightToColor(h);
      EXPECT_EQ(t.color, 0xFF000000u | (uint32_t(rgb.r) << 16) | (uint32_t(rgb.g) << 8) | rgb.b);
    }
  // No height file over the Atlantic: -9999 counts as 0, so every point lies at b metres.
  const float sea_tl[2] = {-30.0f, 11.0f}, sea_br[2] = {-29.0f, 10.0f};
  ASSERT_TRUE(PlanTerrainGrid(Camera(100, 100, 11), sea_tl, sea_br, 10, &g));
  ASSERT_TRUE(ComputeTerrainVertices(g, IntPair{3, 250}, TerrainEnvironment::Elevation(), &v));
  for (const TerrainVertex& t : v)
    EXPECT_NEAR(std::sqrt(t.x * t.x + t.y * t.y + t.z * t.z), kEarthRadiusKm + 0.25, 1 * kMetre);
  // A cancelled computation stops between rows.
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(ComputeTerrainVertices(g, IntPair{1, 0}, TerrainEnvironment::Elevation(), &v, &cancel));
}

TEST(TerrainGridVertices, TheNorthWestVertexSamplesThePicturesTopLeft) {
  // Pixel y grows south in every kind, the ellipsoidal Mercator kind too, and the picture is
  // north-up: v grows from 0 at the north row.
  const float tl[2] = {116.0f, 39.0f}, br[2] = {118.0f, 37.0f};
  for (int kind : {int(kKindMercator), int(kKindEllipsoidalMercator), int(kKindEquirect)}) {
    TerrainGrid g;
    ASSERT_TRUE(PlanTerrainGrid(Camera(200, 200, 10, kind), tl, br, 20, &g));
    std::vector<TerrainVertex> v;
    ASSERT_TRUE(ComputeTerrainVertices(g, IntPair{1, 0}, TerrainEnvironment::Elevation(), &v));
    EXPECT_FLOAT_EQ(v[0].u, 0.0f) << kind;
    EXPECT_FLOAT_EQ(v[0].v, 0.0f) << kind;
    // The picture spans columns x rows steps; the last vertex is one step short of its far corner.
    const TerrainVertex& last = v.back();
    EXPECT_NEAR(last.u, (g.columns - 1.0) / g.columns, 1e-3) << kind;
    EXPECT_NEAR(last.v, (g.rows - 1.0) / g.rows, 0.01) << kind;
  }
}

TEST_F(TerrainTest, BuildsOnAWorkerAndCommitsTheBuffers) {
  CTerrainModel model;
  Attach(model);
  ProgramSettings().SetInt(kDemSampleKey, 50);
  ProgramSettings().SetIntPair(kDemFactorKey, IntPair{2, 10});
  const float tl[2] = {116.0f, 39.0f}, br[2] = {118.6666f, 37.0f};
  ASSERT_TRUE(model.BuildAndWait(Camera(800, 600, 9.5), tl, br)) << model.LastError();
  EXPECT_EQ(model.Rows(), 50);
  EXPECT_EQ(model.Columns(), 66);
  EXPECT_FLOAT_EQ(model.Progress(), 1.0f);
  ASSERT_NE(model.IndexBuffer(), nullptr);
  D3DVERTEXBUFFER_DESC vb;
  D3DINDEXBUFFER_DESC ib;
  ASSERT_EQ(model.VertexBuffer()->GetDesc(&vb), D3D_OK);
  ASSERT_EQ(model.IndexBuffer()->GetDesc(&ib), D3D_OK);
  EXPECT_EQ(vb.Size, 50u * 66u * 16u);
  EXPECT_EQ(ib.Size, 49u * 66u * 2u * 4u);
  EXPECT_FALSE(model.Textured());
  EXPECT_NEAR(model.CentreLng(), 117.3333f, 1e-3);
  // The bounds: the centre of the box lies under the middle of the area, at the earth's radius.
  const D3DXVECTOR3 centre = model.Centre();
  EXPECT_NEAR(D3DXVec3Length(&centre), kEarthRadiusKm, 30);
  EXPECT_GT(model.BoundingSize(), 200.0f);

  // A second build started before the first ends replaces it: only the last one's grid lands.
  ProgramSettings().SetInt(kDemSampleKey, 400);
  ASSERT_TRUE(model.Build(Camera(800, 600, 9.5), tl, br));
  ProgramSettings().SetInt(kDemSampleKey, 30);
  ASSERT_TRUE(model.Build(Camera(800, 600, 9.5), tl, br));
  EXPECT_FALSE(model.HasGeometry());  // released at the start of a build
  ASSERT_TRUE(model.WaitBuild(kInfinite));
  ASSERT_TRUE(model.CommitBuild());
  EXPECT_EQ(model.Rows(), 30);
  EXPECT_FALSE(model.CommitBuild());  // nothing more to commit

  // Whole earth: kept at the same integer zoom, rebuilt at another, and rebuilt after a regional
  // build even at the zoom it had.
  ASSERT_TRUE(model.BuildAndWait(Camera(800, 600, 2.2), tl, br));
  EXPECT_EQ(model.Columns(), 87);
  EXPECT_TRUE(model.Build(Camera(800, 600, 2.9), tl, br));
  EXPECT_FALSE(model.IsBuilding());
  EXPECT_TRUE(model.HasGeometry());
  ASSERT_TRUE(model.BuildAndWait(Camera(800, 600, 9.5), tl, br));
  EXPECT_EQ(model.Rows(), 30);
  ASSERT_TRUE(model.BuildAndWait(Camera(800, 600, 2.2), tl, br));
  EXPECT_EQ(model.Columns(), 87);

  // A refused grid leaves the model empty, with the reason.
  ProgramSettings().SetInt(kDemSampleKey, 0);
  EXPECT_FALSE(model.Build(Camera(800, 600, 9.5), tl, br));
  EXPECT_FALSE(model.HasGeometry());
  EXPECT_FALSE(model.LastError().empty());
  EXPECT_FALSE(model.SaveX(kFolders.File("none.x")));
}

// The .x model through assimp, which gives each face corner a vertex of its own until identical
// ones are joined again (one material, one normal per vertex: nothing stays split), and turns
// the left-handed frame of the file over unless told to keep it.
const aiMesh* ReadX(const std::string& path, const aiScene** scene) {
  *scene = aiImportFile(path.c_str(), aiProcess_JoinIdenticalVertices | aiProcess_MakeLeftHanded);
  if (!*scene) {
    ADD_FAILURE() << aiGetErrorString();
    return nullptr;
  }
  EXPECT_EQ((*scene)->mNumMeshes, 1u);
  return (*scene)->mNumMeshes ? (*scene)->mMeshes[0] : nullptr;
}

TEST_F(TerrainTest, SavedModelsReadBackWithTheirGridNormalsColoursAndPicture) {
  CTerrainModel model;
  Attach(model);
  ProgramSettings().SetInt(kDemSampleKey, 24);
  ProgramSettings().SetIntPair(kDemFactorKey, IntPair{20, 0});  // steep enough for normals to lean
  const float tl[2] = {116.0f, 39.0f}, br[2] = {118.0f, 37.0f};
  ASSERT_TRUE(model.BuildAndWait(Camera(400, 300, 8.4), tl, br));
  const TerrainGrid g = model.Grid();
  const std::string path = kFolders.File("out/colour.x");
  std::filesystem::create_directories(kFolders.File("out"));
  ASSERT_TRUE(model.SaveX(path)) << model.LastError();
  const aiScene* scene = nullptr;
  const aiMesh* mesh = ReadX(path, &scene);
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(mesh->mNumVertices, unsigned(g.columns * g.rows));
  EXPECT_EQ(mesh->mNumFaces, unsigned((g.columns - 1) * (g.rows - 1) * 2));
  ASSERT_TRUE(mesh->HasNormals());
  ASSERT_TRUE(mesh->HasVertexColors(0));
  EXPECT_FALSE(mesh->HasTextureCoords(0));
  // Assimp orders the vertices its own way: each one is found on the grid by its direction.
  std::vector<int> seen(size_t(g.columns * g.rows), 0);
  for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
    const aiVector3D p = mesh->mVertices[i], n = mesh->mNormals[i];
    float lng = 0, lat = 0;
    XYZToLngLat(p.x, p.y, p.z, &lng, &lat);
    const double fc = (lng - g.west) / g.step, fr = (g.north - lat) / g.step;
    const int c = int(std::lround(fc)), r = int(std::lround(fr));
    ASSERT_NEAR(fc, c, 1e-3) << i;
    ASSERT_NEAR(fr, r, 1e-3) << i;
    ASSERT_TRUE(c >= 0 && c < g.columns && r >= 0 && r < g.rows) << i;
    ++seen[size_t(r * g.columns + c)];
    const double vlon = g.west + c * g.step, vlat = g.north - r * g.step;
    float pos[2] = {float(vlon), float(vlat)}, h = 0;
    TerrainEnvironment::Elevation().GetElevation(pos, &h, g.resolution);
    EXPECT_LT(Distance({p.x, p.y, p.z}, Xyz(vlon, vlat, 20 * h * 0.001)), 2 * kMetre) << i;
    EXPECT_NEAR(n.Length(), 1.0f, 1e-4f) << i;
    EXPECT_GT(n * p / p.Length(), 0.9f) << i;  // outward, leaning with the slope
    EXPECT_LT(n * p / p.Length(), 0.99999f) << i;
    const RgbColor rgb = HeightToColor(h);
    EXPECT_NEAR(mesh->mColors[0][i].r, rgb.r / 255.0f, 1e-3f);
    EXPECT_NEAR(mesh->mColors[0][i].g, rgb.g / 255.0f, 1e-3f);
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), g.columns * g.rows);  // each grid point once
  aiString texture;
  EXPECT_NE(aiGetMaterialTexture(scene->mMaterials[mesh->mMaterialIndex], aiTextureType_DIFFUSE, 0, &texture),
            aiReturn_SUCCESS);
  aiReleaseImport(scene);
  EXPECT_FALSE(std::filesystem::exists(kFolders.File("out/colour.jpg")));

  // Draped with the map: texture coordinates, and the picture beside the model under its name.
  ProgramSettings().SetBool(kTerrainTextureKey, true);
  ASSERT_TRUE(model.BuildAndWait(Camera(400, 300, 8.4), tl, br));
  ASSERT_TRUE(model.Textured());
  ASSERT_NE(model.Texture(), nullptr);
  const std::string draped = kFolders.File("out/draped.x");
  ASSERT_TRUE(model.SaveX(draped)) << model.LastError();
  mesh = ReadX(draped, &scene);
  ASSERT_NE(mesh, nullptr);
  ASSERT_TRUE(mesh->HasTextureCoords(0));
  EXPECT_NEAR(mesh->mTextureCoords[0][0].x, 0.0f, 1e-6f);
  ASSERT_EQ(aiGetMaterialTexture(scene->mMaterials[mesh->mMaterialIndex], aiTextureType_DIFFUSE, 0, &texture),
            aiReturn_SUCCESS);
  EXPECT_STREQ(texture.C_Str(), "draped.jpg");
  aiReleaseImport(scene);
  CBitmap picture;
  ASSERT_TRUE(LoadImageFile(kFolders.File("out/draped.jpg"), &picture));
  EXPECT_EQ(picture.Width(), 256);
  EXPECT_EQ(picture.Height(), 256);
  // Its top-left is the tile at the grid's north-west corner.
  const Argb expected = TileColor(TerrainEnvironment::TileX(g.west), TerrainEnvironment::TileY(g.north));
  const Argb got = picture.GetPixel(2, 2);
  for (int shift : {16, 8, 0}) EXPECT_NEAR(int((got >> shift) & 0xFF), int((expected >> shift) & 0xFF), 12) << shift;

  // A model path that cannot be written: failure with a reason, never success.
  EXPECT_FALSE(model.SaveX(kFolders.File("out/colour.x/inside.x")));  // a file where a folder should be
  EXPECT_FALSE(model.LastError().empty());
}

}  // namespace
}  // namespace velmora
