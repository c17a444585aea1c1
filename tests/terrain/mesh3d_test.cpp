// Tile meshes, plain grids and the globe on the headless 3D device, with real height files, a
// real tile store behind the tile manager and .x files read back by assimp: vertices against the
// tile's area, the elevation and the height factor; grid sizes by zoom; the antimeridian; the
// texture from the tile's picture (and grey for a tile that cannot be had); a tile drawn north up
// and east right; picking; 16- and 32-bit grids; the globe's whole-degree grid and picture.
#include "terrain/3d_mesh.h"

#include <assimp/cimport.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <memory>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "platform/r3d/d3dx_texture.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "terrain/3d_globe.h"
#include "terrain/d3d_context.h"
#include "terrain/d3d_scene.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
constexpr float kPi = 3.14159265358979323846f;
constexpr int kSource = 0;  // a source of the shipped catalogue, spherical Mercator

double Terrain(double lon, double lat) { return 500 + 20 * (lon - 115) + 30 * (lat - 35); }

TileKey KeyAt(double lon, double lat, int zoom, int source = kSource) {
  const int x = static_cast<int>(MercatorLngToX(lon, zoom) / 256);
  const int y = static_cast<int>(MercatorLatToY(lat, zoom) / 256);
  return MakeTileKey(x, y, source * kZoomsPerSource + zoom);
}

CBitmap Quadrants(int size) {
  CBitmap b;
  EXPECT_TRUE(b.Create(size, size));
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      b.SetPixel(x, y, y < size / 2 ? (x < size / 2 ? 0xFFFF0000u : 0xFF00FF00u) : (x < size / 2 ? 0xFF0000FFu : 0xFFFFFFFFu));
  return b;
}

std::vector<uint8_t> Png(const CBitmap& picture) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(EncodeImage(picture, ImageType::kPng, &bytes));
  return bytes;
}

// The device, the height files (one 3-arc-second tile over 115..120 E, 35..40 N) and the
// elevation source mode that reads them.
class MeshEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    options_ = std::make_unique<ScopedAppOptions>([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
    ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
    ASSERT_NE(WriteHeightFile3s(HeightFolder(), 60, 5, Terrain), "");
  }
  void TearDown() override { options_.reset(); }
  static std::string HeightFolder() { return kFolders.File("heights/"); }

 private:
  std::unique_ptr<ScopedAppOptions> options_;
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new MeshEnvironment);

class MeshTest : public ::testing::Test {
 protected:
  void SetUp() override { ProgramSettings().SetIntPair("REG_DEM_FACTOR", IntPair{2, 100}); }
  void TearDown() override { ProgramSettings().Remove("REG_DEM_FACTOR"); }
  static std::vector<MeshVertex> Vertices(C3DMesh& mesh) {
    std::vector<MeshVertex> out(mesh.Mesh()->GetNumVertices());
    void* data = nullptr;
    EXPECT_EQ(mesh.Mesh()->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    std::memcpy(out.data(), data, out.size() * sizeof(MeshVertex));
    mesh.Mesh()->UnlockVertexBuffer();
    return out;
  }
  static float Radius(const MeshVertex& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

  CElevationStore store_{nullptr, MeshEnvironment::HeightFolder()};
};

TEST_F(MeshTest, TileMeshLiesOnTheElevationOfItsArea) {
  const int zoom = 7;
  const TileKey key = KeyAt(116.5, 37.5, zoom);
  const TileKeyParts parts = SplitTileKey(key);
  C3DMesh mesh(TileKeyLow(key), TileKeyHigh(key));
  mesh.SetSources(nullptr, &store_);
  EXPECT_EQ(mesh.Columns(), 0);
  EXPECT_TRUE(mesh.BuildTileMesh(kKindMercator));
  EXPECT_FALSE(mesh.BuildTileMesh(kKindMercator));
  EXPECT_EQ(mesh.BuildState(), kMeshVerticesBuilt);
  ASSERT_EQ(mesh.Columns(), 16);
  ASSERT_EQ(mesh.Mesh()->GetNumVertices(), 17u * 17);
  EXPECT_EQ(mesh.Mesh()->GetNumFaces(), 2u * 16 * 16);
  EXPECT_EQ(mesh.Mesh()->GetFVF(), 0x102u);
  EXPECT_NE(mesh.Texture(), nullptr);

  // The grid: n + 1 steps of 256 / n pixels span the tile plus one step, so n steps reach its
  // east edge.
  const double lon0 = MercatorXToLng(256.0 * parts.x, zoom), lat0 = MercatorYToLat(256.0 * parts.y, zoom);
  const double lon1 = MercatorXToLng(256.0 * (parts.x + 1) + 16, zoom),
               lat1 = MercatorYToLat(256.0 * (parts.y + 1) + 16, zoom);
  ASSERT_GT(lon0, 115);
  ASSERT_LT(lon1, 120);
  ASSERT_LT(lat0, 40);
  ASSERT_GT(lat1, 35);
  const double d_lon = (lon1 - lon0) / 17, d_lat = (lat0 - lat1) / 17;
  const std::vector<MeshVertex> v = Vertices(mesh);
  D3DXVECTOR3 lo(FLT_MAX, FLT_MAX, FLT_MAX), hi(-FLT_MAX, -FLT_MAX, -FLT_MAX);
  for (int r = 0; r <= 16; ++r)
    for (int c = 0; c <= 16; ++c) {
      const MeshVertex& got = v[r * 17 + c];
      const double lon = lon0 + c * d_lon, lat = lat0 - r * d_lat;
      float pos[2] = {float(lon), float(lat)};
      float h = 0;
      store_.GetElevation(pos, &h, 1222);
      ASSERT_NE(h, kNoElevation);
      float x, y, z;
      LngLatToXYZ(float(lon), float(lat), float((2.0 * h + 100) * 0.001), &x, &y, &z);
      ASSERT_NEAR(got.x, x, 2e-3) << r << "," << c;
      ASSERT_NEAR(got.y, y, 2e-3) << r << "," << c;
      ASSERT_NEAR(got.z, z, 2e-3) << r << "," << c;
      EXPECT_FLOAT_EQ(got.u, c / 16.0f);
      EXPECT_FLOAT_EQ(got.v, r / 16.0f);
      lo = D3DXVECTOR3(std::min(lo.x, got.x), std::min(lo.y, got.y), std::min(lo.z, got.z));
      hi = D3DXVECTOR3(std::max(hi.x, got.x), std::max(hi.y, got.y), std::max(hi.z, got.z));
    }
  // Heights from the file: the terrain's 500..800 m, doubled, plus 100 m.
  EXPECT_GT(Radius(v[0]) - kEarthRadiusKm, 1.0);
  float east_lon, east_lat;
  XYZToLngLat(v[16].x, v[16].y, v[16].z, &east_lon, &east_lat);
  EXPECT_NEAR(east_lon, MercatorXToLng(256.0 * (parts.x + 1), zoom), 1e-4);
  const D3DXVECTOR3 centre = mesh.Centre();
  EXPECT_FLOAT_EQ(centre.x, (lo.x + hi.x) / 2);
  EXPECT_FLOAT_EQ(centre.z, (lo.z + hi.z) / 2);
  const D3DXVECTOR3 diagonal = hi - lo;
  EXPECT_FLOAT_EQ(mesh.BoundingSize(), D3DXVec3Length(&diagonal));
}

TEST_F(MeshTest, GridSizeByZoomAndMissingHeights) {
  // Around (0, 0) no height file exists: every height counts as 0, so the mesh lies at the
  // offset of the height factor, 100 m.
  const int zooms[] = {6, 7, 15, 16, 17, 18};
  const int cells[] = {64, 16, 16, 4, 4, 2};
  for (int i = 0; i < 6; ++i) {
    const TileKey key = KeyAt(0.5, 0.5, zooms[i]);
    C3DMesh mesh(TileKeyLow(key), TileKeyHigh(key));
    mesh.SetSources(nullptr, &store_);
    ASSERT_TRUE(mesh.BuildTileMesh(kKindMercator)) << zooms[i];
    EXPECT_EQ(mesh.Columns(), cells[i]) << zooms[i];
    const uint32_t n = static_cast<uint32_t>(cells[i]);
    EXPECT_EQ(mesh.Mesh()->GetNumVertices(), (n + 1) * (n + 1));
    EXPECT_EQ(mesh.Mesh()->GetNumFaces(), 2 * n * n);
    for (const MeshVertex& v : Vertices(mesh)) ASSERT_NEAR(Radius(v), kEarthRadiusKm + 0.1, 2e-3);
  }

  // A pooled mesh takes another key: the same grid size keeps its D3DX mesh, another size gets
  // a new one; the build starts again either way.
  const TileKey a = KeyAt(0.5, 0.5, 7), b = KeyAt(10.5, 0.5, 8), c = KeyAt(0.5, 0.5, 17);
  C3DMesh mesh(TileKeyLow(a), TileKeyHigh(a));
  mesh.SetSources(nullptr, &store_);
  ASSERT_TRUE(mesh.BuildTileMesh(kKindMercator));
  ID3DXMesh* first = mesh.Mesh();
  mesh.SetTileKey(TileKeyLow(a), TileKeyHigh(a));
  EXPECT_EQ(mesh.BuildState(), kMeshVerticesBuilt);
  mesh.SetTileKey(TileKeyLow(b), TileKeyHigh(b));
  EXPECT_EQ(mesh.BuildState(), 0u);
  EXPECT_TRUE(mesh.BuildTileMesh(kKindMercator));
  EXPECT_EQ(mesh.Mesh(), first);
  mesh.SetTileKey(TileKeyLow(c), TileKeyHigh(c));
  EXPECT_TRUE(mesh.BuildTileMesh(kKindMercator));
  EXPECT_EQ(mesh.Columns(), 4);
  EXPECT_EQ(mesh.Mesh()->GetNumVertices(), 25u);

  // Sizes that 16-bit indices cannot hold, and no size, are refused.
  EXPECT_FALSE(mesh.CreateMesh(255, 255));
  EXPECT_FALSE(mesh.CreateMesh(0, 4));
  EXPECT_TRUE(mesh.CreateMesh(254, 254));
}

TEST_F(MeshTest, TileAtTheAntimeridian) {
  const TileKey key = MakeTileKey(127, 50, kSource * kZoomsPerSource + 7);
  C3DMesh mesh(TileKeyLow(key), TileKeyHigh(key));
  mesh.SetSources(nullptr, &store_);
  ASSERT_TRUE(mesh.BuildTileMesh(kKindMercator));
  const std::vector<MeshVertex> v = Vertices(mesh);
  float lon, lat;
  XYZToLngLat(v[0].x, v[0].y, v[0].z, &lon, &lat);
  EXPECT_NEAR(lon, 177.1875, 1e-3);
  XYZToLngLat(v[1].x, v[1].y, v[1].z, &lon, &lat);
  EXPECT_NEAR(lon, 177.1875 + 2.8125 / 16, 1e-3);  // the span got 360 added
  XYZToLngLat(v[16].x, v[16].y, v[16].z, &lon, &lat);
  EXPECT_NEAR(std::fabs(lon), 180.0, 1e-3);
}

TEST_F(MeshTest, TextureFromTheTilesPicture) {
  TileManagerOptions options;
  test::TempDir dir;
  options.data_dir = dir.path();
  options.download_threads = 1;
  options.offline = true;
  options.use_download_list = false;
  CTileManager tiles(options);
  const TileKey exact = KeyAt(116.5, 37.5, 7), large = KeyAt(117.5, 37.5, 7), broken = KeyAt(118.5, 37.5, 7);
  CTileStore* store = tiles.OpenStore(kSource);
  ASSERT_NE(store, nullptr);
  const CBitmap picture = Quadrants(256);
  const std::vector<uint8_t> png = Png(picture), png512 = Png(Quadrants(512));
  const std::string garbage = "not a picture at all";
  ASSERT_EQ(store->Write(exact, png.data(), png.size(), false), TileWriteResult::kWritten);
  ASSERT_EQ(store->Write(large, png512.data(), png512.size(), false), TileWriteResult::kWritten);
  ASSERT_EQ(store->Write(broken, garbage.data(), garbage.size(), false), TileWriteResult::kWritten);
  ASSERT_TRUE(tiles.Start());

  auto upload_when_final = [&](C3DMesh& mesh) {
    mesh.SetSources(&tiles, &store_);
    EXPECT_TRUE(mesh.BuildTileMesh(kKindMercator));
    bool uploaded = mesh.UploadTileTexture();
    EXPECT_TRUE(CTileManager::IsFinalState(tiles.WaitForState(mesh.Key(), 20000)));
    uploaded = mesh.UploadTileTexture() || uploaded;
    EXPECT_TRUE(uploaded);
    EXPECT_FALSE(mesh.UploadTileTexture());  // nothing more to do
  };

  C3DMesh a(TileKeyLow(exact), TileKeyHigh(exact));
  upload_when_final(a);
  EXPECT_EQ(a.BuildState(), kMeshVerticesBuilt | kMeshTextureFilled);
  CBitmap texture;
  ASSERT_EQ(TextureToBitmap(a.Texture(), &texture), D3D_OK);
  ASSERT_EQ(texture.Width(), 256);
  for (int y = 0; y < 256; y += 5)
    for (int x = 0; x < 256; x += 5) ASSERT_EQ(texture.GetPixel(x, y), picture.GetPixel(x, y)) << x << "," << y;

  // A picture of another size is scaled to the texture.
  C3DMesh b(TileKeyLow(large), TileKeyHigh(large));
  upload_when_final(b);
  ASSERT_EQ(TextureToBitmap(b.Texture(), &texture), D3D_OK);
  EXPECT_EQ(texture.GetPixel(64, 64), 0xFFFF0000u);
  EXPECT_EQ(texture.GetPixel(192, 64), 0xFF00FF00u);
  EXPECT_EQ(texture.GetPixel(64, 192), 0xFF0000FFu);
  EXPECT_EQ(texture.GetPixel(192, 192), 0xFFFFFFFFu);

  // Bytes that are no picture leave the tile without one: grey, and the mesh does not ask again.
  C3DMesh c(TileKeyLow(broken), TileKeyHigh(broken));
  upload_when_final(c);
  EXPECT_EQ(c.BuildState(), kMeshVerticesBuilt | kMeshTexturePlaceholder);
  ASSERT_EQ(TextureToBitmap(c.Texture(), &texture), D3D_OK);
  EXPECT_EQ(texture.GetPixel(100, 100), kMissingTileColor);
  tiles.Stop();
}

// The tile view's way of looking at a tile: from above its centre, north up.
class TileScene : public CD3DScene {
 public:
  explicit TileScene(C3DMesh* mesh) : mesh_(mesh) {}
  void SetupCamera() override {
    D3DXVECTOR3 centre = mesh_->Centre(), dir;
    D3DXVec3Normalize(&dir, &centre);
    eye = dir * (D3DXVec3Length(&centre) + 800.0f);
    const D3DXVECTOR3 up(0, 1, 0);
    D3DXMatrixLookAtLH(&view_, &eye, &centre, &up);
    D3DXMatrixPerspectiveFovLH(&projection_, kPi / 4, aspect_, 1.0f, 12756.0f);
  }
  void DrawScene() override {
    g_pD3DDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    g_pD3DDevice->SetRenderState(D3DRS_LIGHTING, 0);
    g_pD3DDevice->SetRenderState(D3DRS_FILLMODE, static_cast<uint32_t>(g_D3DContext.FillMode()));
    mesh_->Draw();
  }
  D3DXVECTOR3 eye;

 private:
  C3DMesh* mesh_;
};

TEST_F(MeshTest, TileMeshIsDrawnNorthUpAndPicked) {
  const TileKey key = KeyAt(116.5, 37.5, 7);
  C3DMesh mesh(TileKeyLow(key), TileKeyHigh(key));
  mesh.SetSources(nullptr, &store_);
  ASSERT_TRUE(mesh.BuildTileMesh(kKindMercator));
  ASSERT_EQ(FillTextureFromBitmap(mesh.Texture(), Quadrants(256)), D3D_OK);
  TileScene scene(&mesh);
  scene.Resize(128, 128);
  ASSERT_EQ(scene.Render(21), D3D_OK);
  CBitmap frame;
  ASSERT_TRUE(g_pD3DDevice->CopyPresentedFrame(21, &frame));
  test::SaveTestArtefact(frame, "mesh3d", "tile_mesh");
  // North-west red, north-east green, south-west blue, south-east white; the sky around.
  EXPECT_EQ(frame.GetPixel(49, 49), 0xFFFF0000u);
  EXPECT_EQ(frame.GetPixel(79, 49), 0xFF00FF00u);
  EXPECT_EQ(frame.GetPixel(49, 79), 0xFF0000FFu);
  EXPECT_EQ(frame.GetPixel(79, 79), 0xFFFFFFFFu);
  EXPECT_EQ(frame.GetPixel(2, 2), 0xFF000000u);
  EXPECT_EQ(frame.GetPixel(125, 125), 0xFF000000u);

  // In wireframe only the cell edges are drawn.
  g_D3DContext.SetFillMode(kFillModeWireframe);
  ASSERT_EQ(scene.Render(21), D3D_OK);
  g_D3DContext.SetFillMode(kFillModeSolid);
  ASSERT_TRUE(g_pD3DDevice->CopyPresentedFrame(21, &frame));
  test::SaveTestArtefact(frame, "mesh3d", "tile_mesh_wireframe");
  int black = 0;
  for (int y = 48; y < 80; ++y)
    for (int x = 48; x < 80; ++x) black += frame.GetPixel(x, y) == 0xFF000000u ? 1 : 0;
  EXPECT_GT(black, 32 * 32 / 8);
  EXPECT_LT(black, 32 * 32 * 7 / 8);

  // The ray from the eye through the centre hits the tile at its middle.
  const D3DXVECTOR3 centre = mesh.Centre();
  D3DXVECTOR3 dir = centre - scene.eye;
  D3DXVec3Normalize(&dir, &dir);
  float lnglat[2] = {0, 0};
  const float distance = mesh.Pick(scene.eye, dir, lnglat);
  EXPECT_NEAR(distance, 800.0f, 5.0f);
  float clon, clat;
  XYZToLngLat(centre.x, centre.y, centre.z, &clon, &clat);
  EXPECT_NEAR(lnglat[0], clon, 0.01);
  EXPECT_NEAR(lnglat[1], clat, 0.01);
  const D3DXVECTOR3 away = dir * -1.0f;
  EXPECT_EQ(mesh.Pick(scene.eye, away, lnglat), FLT_MAX);
  EXPECT_EQ(lnglat[0], FLT_MAX);
}

TEST_F(MeshTest, PlainGridsTakeWideIndicesWhenNeeded) {
  C3DMesh grid;
  EXPECT_EQ(grid.Columns(), 128);
  ID3DXMesh* m = grid.CreateGridMesh(200, 200);
  ASSERT_NE(m, nullptr);
  EXPECT_FALSE(m->Uses32BitIndices());
  EXPECT_EQ(m->GetNumVertices(), 40000u);
  EXPECT_EQ(m->GetNumFaces(), 2u * 199 * 199);
  m = grid.CreateGridMesh(300, 300);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->Uses32BitIndices());
  EXPECT_EQ(grid.Mesh(), m);
  // Every index names a vertex; the last cell's second triangle ends on the last vertex.
  void* data = nullptr;
  ASSERT_EQ(m->LockIndexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
  const auto* idx = static_cast<const uint32_t*>(data);
  uint32_t top = 0;
  for (uint32_t i = 0; i < m->GetNumFaces() * 3; ++i) top = std::max(top, idx[i]);
  EXPECT_EQ(top, 300u * 300 - 1);
  EXPECT_EQ(idx[3 * (m->GetNumFaces() - 1)], 300u * 300 - 1);
  m->UnlockIndexBuffer();
  EXPECT_EQ(grid.CreateGridMesh(1, 5), nullptr);
  EXPECT_EQ(grid.CreateGridMesh(100000, 100000), nullptr);
}

TEST_F(MeshTest, GlobeOfWholeDegrees) {
  C3DGlobe globe;
  ASSERT_TRUE(globe.Create(240, 120));
  ASSERT_NE(globe.Texture(), nullptr);  // the shipped world picture, 1024 x 512
  D3DSURFACE_DESC shipped;
  globe.Texture()->GetLevelDesc(0, &shipped);
  EXPECT_EQ(shipped.Width, 1024u);
  EXPECT_EQ(shipped.Height, 512u);
  ASSERT_EQ(globe.Mesh()->GetNumVertices(), 241u * 121);
  EXPECT_EQ(globe.Mesh()->GetNumFaces(), 2u * 240 * 120);
  EXPECT_NE(globe.Torus(), nullptr);
  EXPECT_EQ(globe.Key(), 0u);
  const std::vector<MeshVertex> v = Vertices(globe);
  const double expected[] = {-180, -179, -177, -176, -174};
  for (int c = 0; c < 5; ++c) {
    const MeshVertex& p = v[60 * 241 + c];
    float lon, lat;
    XYZToLngLat(p.x, p.y, p.z, &lon, &lat);
    EXPECT_NEAR(lon == 180.0f ? -180.0f : lon, expected[c], 1e-3) << c;
    EXPECT_NEAR(lat, 0, 1e-3);
    EXPECT_FLOAT_EQ(p.u, c / 240.0f);
    EXPECT_FLOAT_EQ(p.v, 0.5f);
  }
  EXPECT_NEAR(globe.BoundingSize(), 2 * std::sqrt(3.0) * kEarthRadiusKm, 1.0);

  // Without a world picture in the program folder the globe is untextured; with one, it wears it.
  test::TempDir program;
  {
    ScopedAppOptions without_picture([&](CAppOptions& o) { o.program_dir = program.path(); });
    ASSERT_TRUE(globe.Create(24, 12));
    EXPECT_EQ(globe.Texture(), nullptr);
  }
  std::filesystem::create_directories(program.File("images"));
  ASSERT_TRUE(SaveImageFile(Quadrants(64), program.File("images/world.jpg")));
  ScopedAppOptions with_picture([&](CAppOptions& o) { o.program_dir = program.path(); });
  ASSERT_TRUE(globe.Create(24, 12));
  ASSERT_NE(globe.Texture(), nullptr);
  D3DSURFACE_DESC desc;
  globe.Texture()->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Width, 64u);
  EXPECT_FALSE(globe.Create(300, 300));  // more vertices than 16-bit indices reach
}

struct AssimpScene {
  explicit AssimpScene(const std::string& path)
      // .x files are left-handed; assimp turns them right-handed (z negated) unless asked not to.
      : scene(aiImportFile(path.c_str(), aiProcess_JoinIdenticalVertices | aiProcess_MakeLeftHanded)) {}
  ~AssimpScene() {
    if (scene) aiReleaseImport(scene);
  }
  const aiScene* scene;
};

void ExpectAssimpBounds(const aiMesh* mesh, const D3DXVECTOR3& lo, const D3DXVECTOR3& hi, float tolerance) {
  aiVector3D a(FLT_MAX, FLT_MAX, FLT_MAX), b(-FLT_MAX, -FLT_MAX, -FLT_MAX);
  for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
    const aiVector3D& p = mesh->mVertices[i];
    a = aiVector3D(std::min(a.x, p.x), std::min(a.y, p.y), std::min(a.z, p.z));
    b = aiVector3D(std::max(b.x, p.x), std::max(b.y, p.y), std::max(b.z, p.z));
  }
  EXPECT_NEAR(a.x, lo.x, tolerance);
  EXPECT_NEAR(a.y, lo.y, tolerance);
  EXPECT_NEAR(a.z, lo.z, tolerance);
  EXPECT_NEAR(b.x, hi.x, tolerance);
  EXPECT_NEAR(b.y, hi.y, tolerance);
  EXPECT_NEAR(b.z, hi.z, tolerance);
}

TEST_F(MeshTest, XFilesLoadInAnotherReader) {
  test::TempDir dir;
  // A plain grid filled by its caller.
  C3DMesh grid;
  ID3DXMesh* m = grid.CreateGridMesh(10, 7);
  ASSERT_NE(m, nullptr);
  void* data = nullptr;
  ASSERT_EQ(m->LockVertexBuffer(0, &data), D3D_OK);
  auto* v = static_cast<MeshVertex*>(data);
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 10; ++c) v[r * 10 + c] = MeshVertex{float(c), float(r), c * r * 0.1f, c / 9.0f, r / 6.0f};
  m->UnlockVertexBuffer();
  ASSERT_TRUE(grid.SaveX(dir.File("grid.x").c_str()));
  {
    AssimpScene read(dir.File("grid.x"));
    ASSERT_NE(read.scene, nullptr) << aiGetErrorString();
    ASSERT_EQ(read.scene->mNumMeshes, 1u);
    const aiMesh* mesh = read.scene->mMeshes[0];
    EXPECT_EQ(mesh->mNumVertices, 70u);
    EXPECT_EQ(mesh->mNumFaces, 2u * 9 * 6);
    EXPECT_TRUE(mesh->HasTextureCoords(0));
    ExpectAssimpBounds(mesh, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(9, 6, 5.4f), 1e-4f);
    // Without a texture of its own the grid names a picture beside the file.
    aiString texture;
    ASSERT_EQ(aiGetMaterialTexture(read.scene->mMaterials[mesh->mMaterialIndex], aiTextureType_DIFFUSE, 0, &texture),
              aiReturn_SUCCESS);
    EXPECT_STREQ(texture.C_Str(), "grid.jpg");
  }

  // A tile mesh, which has its texture.
  const TileKey key = KeyAt(116.5, 37.5, 7);
  C3DMesh tile(TileKeyLow(key), TileKeyHigh(key));
  tile.SetSources(nullptr, &store_);
  ASSERT_TRUE(tile.BuildTileMesh(kKindMercator));
  ASSERT_TRUE(tile.SaveX(dir.File("tile.x").c_str()));
  {
    AssimpScene read(dir.File("tile.x"));
    ASSERT_NE(read.scene, nullptr) << aiGetErrorString();
    const aiMesh* mesh = read.scene->mMeshes[0];
    EXPECT_EQ(mesh->mNumVertices, 17u * 17);
    D3DXVECTOR3 lo(FLT_MAX, FLT_MAX, FLT_MAX), hi(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (const MeshVertex& p : Vertices(tile)) {
      lo = D3DXVECTOR3(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
      hi = D3DXVECTOR3(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
    }
    ExpectAssimpBounds(mesh, lo, hi, 1e-3f);
    aiString texture;
    EXPECT_NE(aiGetMaterialTexture(read.scene->mMaterials[mesh->mMaterialIndex], aiTextureType_DIFFUSE, 0, &texture),
              aiReturn_SUCCESS);
  }

  // Without a path: numbered files in the work folder, the texture beside them.
  ASSERT_TRUE(tile.SaveX(nullptr));
  ASSERT_TRUE(tile.SaveX(nullptr));
  const std::string work = AppOptions().work_dir;
  EXPECT_TRUE(std::filesystem::exists(work + "mesh0.x"));
  EXPECT_TRUE(std::filesystem::exists(work + "mesh1.x"));
  CBitmap beside;
  ASSERT_TRUE(LoadImageFile(work + "mesh0.jpg", &beside));
  EXPECT_EQ(beside.Width(), 256);
  {
    AssimpScene read(work + "mesh1.x");
    ASSERT_NE(read.scene, nullptr) << aiGetErrorString();
    EXPECT_EQ(read.scene->mMeshes[0]->mNumVertices, 17u * 17);
  }
  // No mesh, nothing saved.
  C3DMesh empty(1, 2);
  EXPECT_FALSE(empty.SaveX(dir.File("empty.x").c_str()));
}

}  // namespace
}  // namespace velmora
