// The 3D Studio terrain export over synthetic height files: grid counts (blocks of 327 columns for
// 101 rows, blocks lowered where the format's 16-bit counts would wrap, 1200 columns for 1° at
// 3″, refused areas), the texture name, every chunk walked by a reader of our own (lengths that
// count their header and children, the file's size in the main chunk, names with their NUL, the
// six texture map sub-chunks), positions on the sphere against LngLatToXYZ and flat ones against
// PROJ's Mercator, and the file read back by assimp (objects, faces, the material's map, the
// north-west vertex at (u, v) = (0, 1)); an unwritable path reported with nothing left behind.
#include "terrain/3ds_writer.h"

#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <proj.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "support/isolated_folders.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/terrain_grid.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

double Terrain(double lon, double lat) { return 200 + 500 * (lon - 115) + 300 * (lat - 35); }

// ---- a chunk reader of our own ----------------------------------------------------------------

struct Object {
  std::string name;
  std::vector<float> xyz, uv;
  std::vector<uint16_t> faces;  // a, b, c per face
  std::string group_material;
  std::vector<uint16_t> group;
};

struct Model {
  std::string material, map_name;
  std::vector<uint16_t> map_children;
  std::vector<Object> objects;
  std::vector<std::string> errors;
};

class ChunkReader {
 public:
  explicit ChunkReader(const std::vector<uint8_t>& bytes) : b_(bytes) {}

  Model Read() {
    if (b_.size() < 6 || U16(0) != 0x4D4D) {
      model_.errors.push_back("no main chunk");
      return model_;
    }
    if (U32(2) != b_.size()) model_.errors.push_back("main length is not the file size");
    Walk(0, b_.size(), 0);
    return model_;
  }

 private:
  uint16_t U16(size_t at) const { return uint16_t(b_[at] | (b_[at + 1] << 8)); }
  uint32_t U32(size_t at) const { return uint32_t(U16(at)) | (uint32_t(U16(at + 2)) << 16); }
  float F32(size_t at) const {
    uint32_t v = U32(at);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
  }
  // A NUL-terminated name starting at `at` within `end`; npos when it has no NUL.
  size_t NameEnd(size_t at, size_t end) const {
    for (size_t i = at; i < end; ++i)
      if (b_[i] == 0) return i + 1;
    return std::string::npos;
  }
  void Fail(const std::string& what, uint16_t id) {
    char text[16];
    std::snprintf(text, sizeof text, " 0x%04X", id);
    model_.errors.push_back(what + text);
  }
  void Children(size_t at, size_t end, uint16_t parent) {
    while (at < end) {
      if (end - at < 6) return Fail("truncated header in", parent);
      const uint32_t length = U32(at + 2);
      if (length < 6 || length > end - at) return Fail("length out of its parent in", parent);
      Walk(at, at + length, parent);
      at += length;
    }
  }
  void Fixed(size_t at, size_t end, size_t size) {
    if (end - at != size) Fail("wrong size of", U16(at));
  }
  void Walk(size_t at, size_t end, uint16_t parent) {
    const uint16_t id = U16(at);
    const size_t data = at + 6;
    if (parent == 0xA200) model_.map_children.push_back(id);
    switch (id) {
      case 0x4D4D: case 0x3D3D: case 0xAFFF: case 0x4100: case 0xA200:
        Children(data, end, id);
        break;
      case 0x2100: case 0xA010: case 0xA020: case 0xA030:
        Fixed(at, end, 15);
        if (end - at == 15 && U16(data) != 0x0011) Fail("colour without 0x0011 in", id);
        break;
      case 0xA040: case 0xA041: case 0xA050: case 0xA052: case 0xA053: case 0xA084:
        Fixed(at, end, 14);
        if (end - at == 14 && U16(data) != 0x0030) Fail("percentage without 0x0030 in", id);
        break;
      case 0x0030: case 0xA100: case 0xA351:
        Fixed(at, end, 8);
        break;
      case 0x0002: case 0x0100: case 0xA354: case 0xA356: case 0xA358: case 0xA35A:
        Fixed(at, end, 10);
        break;
      case 0xA000:
        if (NameEnd(data, end) != end) Fail("name not ending its chunk", id);
        model_.material = reinterpret_cast<const char*>(&b_[data]);
        break;
      case 0xA300:
        if (NameEnd(data, end) != end) Fail("name not ending its chunk", id);
        model_.map_name = reinterpret_cast<const char*>(&b_[data]);
        break;
      case 0x4000: {
        const size_t name_end = NameEnd(data, end);
        if (name_end == std::string::npos) return Fail("object without name", id);
        model_.objects.emplace_back();
        model_.objects.back().name = reinterpret_cast<const char*>(&b_[data]);
        Children(name_end, end, id);
        break;
      }
      case 0x4110: case 0x4140: {
        const size_t per = id == 0x4110 ? 12 : 8;
        const size_t n = U16(data);
        if (end - at != 8 + n * per) return Fail("count disagrees with length in", id);
        auto& out = id == 0x4110 ? model_.objects.back().xyz : model_.objects.back().uv;
        for (size_t i = 0; i < n * per / 4; ++i) out.push_back(F32(data + 2 + 4 * i));
        break;
      }
      case 0x4160:
        Fixed(at, end, 54);
        break;
      case 0x4120: {
        const size_t m = U16(data);
        if (end - data < 2 + 8 * m) return Fail("faces beyond the chunk", id);
        for (size_t f = 0; f < m; ++f) {
          for (int k = 0; k < 3; ++k) model_.objects.back().faces.push_back(U16(data + 2 + 8 * f + 2 * k));
          if (U16(data + 2 + 8 * f + 6) != 0) Fail("face flags not 0 in", id);
        }
        Children(data + 2 + 8 * m, end, id);
        break;
      }
      case 0x4130: {
        const size_t name_end = NameEnd(data, end);
        if (name_end == std::string::npos || end - name_end < 2) return Fail("bad group", id);
        Object& o = model_.objects.back();
        o.group_material = reinterpret_cast<const char*>(&b_[data]);
        const size_t m = U16(name_end);
        if (end - name_end != 2 + 2 * m) return Fail("group count disagrees with length", id);
        for (size_t f = 0; f < m; ++f) o.group.push_back(U16(name_end + 2 + 2 * f));
        break;
      }
      default:
        Fail("unexpected chunk", id);
    }
  }

  const std::vector<uint8_t>& b_;
  Model model_;
};

Model ReadModel(const std::string& path) {
  auto bytes = ReadFileBytes(path);
  if (!bytes) return Model{{}, {}, {}, {}, {"cannot read " + path}};
  return ChunkReader(*bytes).Read();
}

// ---- the environment: heights of 115..120 E, 35..40 N in the 3-arc-second files --------------

class ThreeDsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(WriteHeightFile3s(kFolders.File("heights/"), 60, 5, Terrain), "");
    store_ = new CElevationStore(nullptr, kFolders.File("heights/"));
  }
  static void TearDownTestSuite() {
    delete store_;
    store_ = nullptr;
  }
  void SetUp() override {
    options_ = std::make_unique<ScopedAppOptions>([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
    ProgramSettings().SetInt(kDemSampleKey, 300);
    ProgramSettings().SetIntPair(kDemFactorKey, IntPair{2, 100});
    ProgramSettings().SetInt(kExp3dsPlainKey, 0);
  }
  std::string Out(const std::string& name) const { return kFolders.File(name); }
  float Height(double lon, double lat) const {
    float pos[2] = {float(lon), float(lat)};
    float h = 0;
    store_->GetElevation(pos, &h, 90);
    return h == kNoElevation ? 0.0f : h;
  }

  static CElevationStore* store_;
  std::unique_ptr<ScopedAppOptions> options_;
};
CElevationStore* ThreeDsTest::store_ = nullptr;

// ---- grid counts --------------------------------------------------------------------------------

TEST(ThreeDsGrid, BlocksStayWithinTheFormatsCounts) {
  struct Case {
    double west, north, east, south;
    int samples;
    bool one_second;
    int columns, rows, block;
  } cases[] = {
      // 101 rows: 32768 div 100 = 327 columns per object.
      {115, 35 + 101 * kMinTerrainStep, 116, 35, 1500, false, 1200, 101, 327},
      // 1° x 1° with 257 samples on the 1-second files: 32768 div 256 = 128 would make 65,536 faces.
      {115, 36, 116, 35, 257, true, 257, 257, 127},
      // 1° x 0.1076° at 3″: 129 rows, where 256 columns would make 65,536 faces.
      {115, 35.1076, 116, 35, 1500, false, 1200, 129, 255},
      // Two rows across 30°: 32,768 columns would make 65,538 vertices.
      {90, 35.0017, 120, 35, 40000, false, 36000, 2, 32766},
      // 1500 samples across 1° at the 3″ minimum: 1200 columns, not 1199 through rounding.
      {115, 36, 116, 35, 1500, false, 1200, 1200, 27},
  };
  for (const Case& c : cases) {
    ThreeDsGrid g;
    std::string error;
    ASSERT_TRUE(PlanThreeDsGrid(c.west, c.north, c.east, c.south, c.samples, c.one_second, &g, &error)) << error;
    EXPECT_EQ(g.columns, c.columns) << c.samples;
    EXPECT_EQ(g.rows, c.rows) << c.samples;
    EXPECT_EQ(g.block, c.block) << c.samples;
    EXPECT_LE((g.block + 1) * g.rows, 65535);
    EXPECT_LE(2 * g.block * (g.rows - 1), 65535);
  }
}

TEST(ThreeDsGrid, AreasWithoutAGridAreRefused) {
  ThreeDsGrid g;
  std::string error;
  EXPECT_FALSE(PlanThreeDsGrid(115, 35.0001, 116, 35, 1500, false, &g, &error));  // one row
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(PlanThreeDsGrid(116, 36, 115, 35, 100, false, &g, &error));  // swapped east-west
  EXPECT_FALSE(PlanThreeDsGrid(115, 35, 116, 36, 100, false, &g, &error));  // swapped north-south
  EXPECT_FALSE(PlanThreeDsGrid(115, 36, 115, 35, 100, false, &g, &error));  // no width
  EXPECT_FALSE(PlanThreeDsGrid(NAN, 36, 116, 35, 100, false, &g, &error));
  EXPECT_FALSE(PlanThreeDsGrid(115, 36, 116, 35, 0, false, &g, &error));
  // More rows than one column of an object can hold.
  EXPECT_FALSE(PlanThreeDsGrid(0, 40, 1, 0, 40000, true, &g, &error));
}

TEST(ThreeDsGrid, TextureNameReplacesTheExtension) {
  EXPECT_EQ(TextureNameFor("/tmp/out/terrain.3ds"), "terrain.jpg");
  EXPECT_EQ(TextureNameFor("/tmp/a.b/model"), "model.jpg");
  EXPECT_EQ(TextureNameFor("x.tar.3ds"), "x.tar.jpg");
  EXPECT_EQ(TextureNameFor("/tmp/m.3D"), "m.jpg");
  EXPECT_EQ(TextureNameFor("C:\\maps\\hill.3ds"), "hill.jpg");
}

// ---- the file --------------------------------------------------------------------------------

TEST_F(ThreeDsTest, SphereModelChunksPositionsAndAssimp) {
  const std::string path = Out("sphere/hills.3ds");
  C3dsWriter writer(store_);
  std::vector<float> progress;
  writer.SetProgress([&](float p) { progress.push_back(p); });
  const double west = 115.5, north = 36.5, east = 116.0, south = 36.0;
  ASSERT_TRUE(writer.Write(path, west, north, east, south)) << writer.LastError();
  const ThreeDsGrid& g = writer.Grid();
  ASSERT_EQ(g.columns, 300);
  ASSERT_EQ(g.rows, 300);
  ASSERT_EQ(g.block, 109);  // 32768 div 299
  ASSERT_FALSE(progress.empty());
  EXPECT_FLOAT_EQ(progress.back(), 1.0f);

  const Model model = ReadModel(path);
  ASSERT_TRUE(model.errors.empty()) << model.errors.front();
  EXPECT_EQ(model.material, "vmramaterial");
  EXPECT_EQ(model.map_name, "hills.jpg");
  EXPECT_EQ(model.map_children,
            (std::vector<uint16_t>{0x0030, 0xA300, 0xA354, 0xA356, 0xA358, 0xA35A, 0xA351}));
  ASSERT_EQ(model.objects.size(), 3u);  // 109 + 109 + 82 columns
  const int widths[] = {110, 110, 83};
  int first_column = 0;
  for (size_t i = 0; i < model.objects.size(); ++i) {
    const Object& o = model.objects[i];
    const int w = widths[i];
    EXPECT_EQ(o.name, "vmobj" + std::to_string(i));
    ASSERT_EQ(o.xyz.size(), size_t(3 * w * g.rows));
    ASSERT_EQ(o.uv.size(), size_t(2 * w * g.rows));
    const size_t m = size_t(2 * (w - 1) * (g.rows - 1));
    ASSERT_EQ(o.faces.size(), 3 * m);
    EXPECT_EQ(o.group_material, "vmramaterial");
    ASSERT_EQ(o.group.size(), m);
    EXPECT_EQ(o.group.back(), m - 1);
    for (uint16_t index : o.faces) ASSERT_LT(index, w * g.rows);
    // Positions and texture coordinates of a few vertices: corners and an inner one.
    for (auto [r, c] : {std::pair{0, 0}, {0, w - 1}, {g.rows - 1, 0}, {g.rows - 1, w - 1}, {150, 40}}) {
      const double lon = west + (first_column + c) * g.lon_step, lat = north - r * g.lat_step;
      const size_t v = size_t(r * w + c);
      float x, y, z;
      const float h = Height(lon, lat);
      EXPECT_GT(h, 200.0f);
      LngLatToXYZ(float(lon), float(lat), float((2.0 * h + 100) * 0.001), &x, &y, &z);
      EXPECT_NEAR(o.xyz[3 * v], x, 1e-3) << i << " " << r << " " << c;
      EXPECT_NEAR(o.xyz[3 * v + 1], y, 1e-3);
      EXPECT_NEAR(o.xyz[3 * v + 2], z, 1e-3);
      EXPECT_NEAR(o.uv[2 * v], (lon - west) / (east - west), 1e-5);
      EXPECT_NEAR(o.uv[2 * v + 1], (lat - south) / (north - south), 1e-5);
    }
    // The first face runs down the west column of its block and back along the top row.
    EXPECT_EQ(o.faces[0], 0);
    EXPECT_EQ(o.faces[1], w);
    EXPECT_EQ(o.faces[2], 1);
    first_column += w - 1;
  }
  EXPECT_EQ(first_column, g.columns);

  const aiScene* scene = aiImportFile(path.c_str(), 0);
  ASSERT_NE(scene, nullptr) << aiGetErrorString();
  ASSERT_EQ(scene->mNumMeshes, 3u);
  size_t faces = 0;
  for (unsigned i = 0; i < scene->mNumMeshes; ++i) faces += scene->mMeshes[i]->mNumFaces;
  EXPECT_EQ(faces, size_t(2 * 299 * 300));
  bool found_map = false;
  for (unsigned i = 0; i < scene->mNumMaterials; ++i) {
    aiString file;
    if (aiGetMaterialTexture(scene->mMaterials[i], aiTextureType_DIFFUSE, 0, &file) == aiReturn_SUCCESS)
      found_map = found_map || std::string(file.C_Str()) == "hills.jpg";
  }
  EXPECT_TRUE(found_map);
  // The north-west vertex, as assimp reads it: u = 0, v = 1 (its origin is the lower left).
  float nx, ny, nz;
  LngLatToXYZ(float(west), float(north), float((2.0 * Height(west, north) + 100) * 0.001), &nx, &ny, &nz);
  bool found_corner = false;
  for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
    const aiMesh* mesh = scene->mMeshes[i];
    ASSERT_TRUE(mesh->HasTextureCoords(0));
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
      const aiVector3D& p = mesh->mVertices[v];
      if (std::fabs(p.x - nx) < 1e-3 && std::fabs(p.y - ny) < 1e-3 && std::fabs(p.z - nz) < 1e-3) {
        found_corner = true;
        EXPECT_NEAR(mesh->mTextureCoords[0][v].x, 0.0, 1e-5);
        EXPECT_NEAR(mesh->mTextureCoords[0][v].y, 1.0, 1e-5);
      }
    }
  }
  EXPECT_TRUE(found_corner);
  aiReleaseImport(scene);
}

TEST_F(ThreeDsTest, FlatModelUsesMercatorKilometres) {
  ProgramSettings().SetInt(kExp3dsPlainKey, 1);
  ProgramSettings().SetInt(kDemSampleKey, 40);
  const std::string path = Out("flat/plain.3ds");
  C3dsWriter writer(store_);
  const double west = 116.2, north = 37.4, east = 116.6, south = 37.0;
  ASSERT_TRUE(writer.Write(path, west, north, east, south)) << writer.LastError();
  const Model model = ReadModel(path);
  ASSERT_TRUE(model.errors.empty()) << model.errors.front();
  ASSERT_EQ(model.objects.size(), 1u);
  const Object& o = model.objects[0];
  const ThreeDsGrid& g = writer.Grid();
  const int w = g.columns + 1;
  ASSERT_EQ(o.xyz.size(), size_t(3 * w * g.rows));

  PJ_CONTEXT* ctx = proj_context_create();
  PJ* merc = proj_create(ctx, "+proj=merc +datum=WGS84");
  ASSERT_NE(merc, nullptr);
  for (int r = 0; r < g.rows; r += 13)
    for (int c = 0; c < w; c += 7) {
      const double lon = west + c * g.lon_step, lat = north - r * g.lat_step;
      const PJ_COORD p = proj_trans(merc, PJ_FWD, proj_coord(proj_torad(lon), proj_torad(lat), 0, 0));
      const size_t v = size_t(r * w + c);
      EXPECT_NEAR(o.xyz[3 * v], p.xy.x / 1000, 1e-3);
      EXPECT_NEAR(o.xyz[3 * v + 1], p.xy.y / 1000, 1e-3);
      EXPECT_NEAR(o.xyz[3 * v + 2], (2.0 * Height(lon, lat) + 100) / 1000, 1e-4);
    }
  proj_destroy(merc);
  proj_context_destroy(ctx);
}

TEST_F(ThreeDsTest, WideBlocksOfTwoRowsKeepTheirCountsInSixteenBits) {
  ProgramSettings().SetInt(kDemSampleKey, 40000);
  const std::string path = Out("wide/strip.3ds");
  C3dsWriter writer(store_);
  ASSERT_TRUE(writer.Write(path, 90, 35.0017, 120, 35)) << writer.LastError();
  const Model model = ReadModel(path);
  ASSERT_TRUE(model.errors.empty()) << model.errors.front();
  ASSERT_EQ(model.objects.size(), 2u);
  EXPECT_EQ(model.objects[0].xyz.size(), size_t(3 * 32767 * 2));
  EXPECT_EQ(model.objects[1].xyz.size(), size_t(3 * (36000 - 32766 + 1) * 2));
  const aiScene* scene = aiImportFile(path.c_str(), 0);
  ASSERT_NE(scene, nullptr) << aiGetErrorString();
  EXPECT_EQ(scene->mNumMeshes, 2u);
  EXPECT_EQ(scene->mMeshes[0]->mNumFaces + scene->mMeshes[1]->mNumFaces, 2u * 36000);
  aiReleaseImport(scene);
}

TEST_F(ThreeDsTest, RefusedAndUnwritableExportsLeaveNoFile) {
  namespace fs = std::filesystem;
  C3dsWriter writer(store_);
  // One row: refused before anything is written.
  const std::string thin = Out("refused/thin.3ds");
  EXPECT_FALSE(writer.Write(thin, 115, 35.0001, 116, 35));
  EXPECT_FALSE(writer.LastError().empty());
  EXPECT_FALSE(fs::exists(thin));
  // A folder that cannot be made (a file stands in its place).
  ASSERT_TRUE(WriteFileAtomic(Out("blocker"), std::vector<uint8_t>{1}));
  const std::string blocked = Out("blocker/model.3ds");
  EXPECT_FALSE(writer.Write(blocked, 115.5, 36.5, 116.0, 36.0));
  EXPECT_NE(writer.LastError().find(C3dsWriter::kNotWritable), std::string::npos);
  EXPECT_FALSE(fs::exists(blocked));
  // Cancelled: an older file at the path stays as it was, and no temporary file is left.
  const std::string kept = Out("cancel/model.3ds");
  ASSERT_TRUE(WriteFileAtomic(kept, std::vector<uint8_t>{7, 7}));
  std::atomic<bool> cancel{false};
  writer.SetCancel(&cancel);
  writer.SetProgress([&](float p) {
    if (p > 0.2f) cancel = true;
  });
  EXPECT_FALSE(writer.Write(kept, 115.5, 36.5, 116.0, 36.0));
  EXPECT_EQ(writer.LastError(), C3dsWriter::kCancelled);
  EXPECT_EQ(fs::file_size(kept), 2u);
  EXPECT_EQ(std::distance(fs::directory_iterator(Out("cancel")), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace velmora
