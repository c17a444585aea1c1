// The 3D Studio terrain writer.
#include "terrain/3ds_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/geodesy.h"
#include "core/log.h"
#include "core/projection.h"
#include "platform/fs.h"
#include "terrain/elevation_store.h"
#include "terrain/terrain_grid.h"

namespace velmora {
namespace {

// Chunk ids of the format.
enum : uint16_t {
  kMain = 0x4D4D,
  kVersion = 0x0002,
  kEditor = 0x3D3D,
  kMasterScale = 0x0100,
  kAmbientLight = 0x2100,
  kColor24 = 0x0011,
  kPercentInt = 0x0030,
  kMaterial = 0xAFFF,
  kMatName = 0xA000,
  kMatAmbient = 0xA010,
  kMatDiffuse = 0xA020,
  kMatSpecular = 0xA030,
  kMatShininess = 0xA040,
  kMatShinStrength = 0xA041,
  kMatTransparency = 0xA050,
  kMatTransFalloff = 0xA052,
  kMatReflectBlur = 0xA053,
  kMatShading = 0xA100,
  kMatSelfIllum = 0xA084,
  kTextureMap = 0xA200,
  kMapName = 0xA300,
  kMapUScale = 0xA354,
  kMapVScale = 0xA356,
  kMapUOffset = 0xA358,
  kMapVOffset = 0xA35A,
  kMapTiling = 0xA351,
  kNamedObject = 0x4000,
  kTriMesh = 0x4100,
  kVertexList = 0x4110,
  kMeshMatrix = 0x4160,
  kTexCoords = 0x4140,
  kFaceList = 0x4120,
  kFaceMaterial = 0x4130,
};

constexpr uint64_t kHeader = 6;
constexpr uint64_t kNameBytes = sizeof(k3dsMaterialName);  // with its NUL

// Little-endian chunks in a growing buffer; Begin leaves the length open and End patches it.
class ChunkBuffer {
 public:
  explicit ChunkBuffer(std::vector<uint8_t>* bytes) : b_(*bytes) {}
  size_t Begin(uint16_t id) {
    const size_t at = b_.size();
    U16(id);
    U32(0);
    return at;
  }
  void End(size_t at) {
    const uint32_t length = static_cast<uint32_t>(b_.size() - at);
    for (int i = 0; i < 4; ++i) b_[at + 2 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  void U16(uint16_t v) {
    b_.push_back(static_cast<uint8_t>(v));
    b_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void F32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    U32(v);
  }
  void Text(const std::string& s) {
    b_.insert(b_.end(), s.begin(), s.end());
    b_.push_back(0);
  }
  void Color(uint16_t id, uint32_t rgb) {
    const size_t at = Begin(id);
    const size_t sub = Begin(kColor24);
    b_.push_back(static_cast<uint8_t>(rgb >> 16));
    b_.push_back(static_cast<uint8_t>(rgb >> 8));
    b_.push_back(static_cast<uint8_t>(rgb));
    End(sub);
    End(at);
  }
  void Percent(uint16_t id, uint16_t value) {
    const size_t at = Begin(id);
    const size_t sub = Begin(kPercentInt);
    U16(value);
    End(sub);
    End(at);
  }
  void Short(uint16_t id, uint16_t value) {
    const size_t at = Begin(id);
    U16(value);
    End(at);
  }
  void Float(uint16_t id, float value) {
    const size_t at = Begin(id);
    F32(value);
    End(at);
  }
  size_t Size() const { return b_.size(); }

 private:
  std::vector<uint8_t>& b_;
};

std::string ObjectName(int block) {
  char name[32];
  std::snprintf(name, sizeof(name), "vmobj%d", block);
  return name;
}

// The bytes of one object of `width` vertex columns and `rows` rows.
uint64_t ObjectBytes(int width, int rows, int block) {
  const uint64_t n = uint64_t(width) * uint64_t(rows);
  const uint64_t m = 2ull * uint64_t(width - 1) * uint64_t(rows - 1);
  const uint64_t vertices = kHeader + 2 + n * 12;
  const uint64_t matrix = kHeader + 48;
  const uint64_t uv = kHeader + 2 + n * 8;
  const uint64_t group = kHeader + kNameBytes + 2 + m * 2;
  const uint64_t faces = kHeader + 2 + m * 8 + group;
  return kHeader + ObjectName(block).size() + 1 + kHeader + vertices + matrix + uv + faces;
}

}  // namespace

bool PlanThreeDsGrid(double west, double north, double east, double south, int samples, bool one_second,
                     ThreeDsGrid* grid, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  ThreeDsGrid g;
  if (!std::isfinite(west) || !std::isfinite(north) || !std::isfinite(east) || !std::isfinite(south))
    return fail("导出区域无效");
  if (!(east > west) || !(north > south)) return fail("导出区域无效: 西边应小于东边, 南边应小于北边");
  if (samples < 1) return fail("采样数应为正整数");
  g.west = west;
  g.north = north;
  g.east = east;
  g.south = south;
  g.lon_step = (east - west) / samples;
  g.lat_step = (north - south) / samples;
  g.resolution = one_second ? 30 : 90;
  if (!one_second) {
    g.lon_step = std::max(g.lon_step, kMinTerrainStep);
    g.lat_step = std::max(g.lat_step, kMinTerrainStep);
  }
  g.columns = GridStepCount(east - west, g.lon_step);
  g.rows = GridStepCount(north - south, g.lat_step);
  if (g.columns < 1 || g.rows < 2) return fail("导出区域太小: 至少需要两行采样");
  int k = std::min(g.columns, k3dsBlockVertices / (g.rows - 1));
  // The format counts an object's vertices and faces in 16 bits.
  auto fits = [&](int64_t kk) {
    return (kk + 1) * int64_t(g.rows) <= k3dsMaxCount && 2 * kk * int64_t(g.rows - 1) <= k3dsMaxCount;
  };
  while (k > 1 && !fits(k)) --k;
  if (k < 1) k = 1;
  if (!fits(k)) return fail("导出区域的行数太多, 请减少采样数");
  g.block = k;
  *grid = g;
  return true;
}

std::string TextureNameFor(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name + ".jpg";
  return name.substr(0, dot + 1) + "jpg";
}

C3dsWriter::C3dsWriter(CElevationStore* elevation) : elevation_(elevation) {}

C3dsWriter::~C3dsWriter() = default;

bool C3dsWriter::Plan(double west, double north, double east, double south) {
  error_.clear();
  grid_ = ThreeDsGrid{};
  const int samples = ProgramSettings().GetInt(kDemSampleKey, kDefault3dsSamples);
  const bool one_second = AppOptions().dem_source_mode == kDemSourceAstgtm;
  return PlanThreeDsGrid(west, north, east, south, samples, one_second, &grid_, &error_);
}

bool C3dsWriter::Write(const std::string& path, double west, double north, double east, double south) {
  CProfileStore& settings = ProgramSettings();
  const IntPair factor = settings.GetIntPair(kDemFactorKey, kDefaultDemFactor);
  const bool flat = settings.GetInt(kExp3dsPlainKey, 0) != 0;
  if (!Plan(west, north, east, south)) {
    AppLog("3ds export %s: %s", path.c_str(), error_.c_str());
    return false;
  }
  if (path.empty()) {
    error_ = kNotWritable;
    return false;
  }
  std::vector<uint8_t> bytes;
  bool built = false;
  try {
    built = Build(flat, factor, TextureNameFor(path), &bytes);
  } catch (const std::bad_alloc&) {
    error_ = "内存不足, 无法生成模型";
  }
  if (!built) {
    AppLog("3ds export %s: %s", path.c_str(), error_.c_str());
    return false;
  }
  std::string why;
  if (!WriteFileAtomic(path, bytes, &why)) {
    error_ = std::string(kNotWritable) + ": " + path;
    AppLog("3ds export: %s", why.c_str());
    return false;
  }
  return true;
}

bool C3dsWriter::Build(bool flat, IntPair factor, const std::string& texture, std::vector<uint8_t>* out) {
  const ThreeDsGrid& g = grid_;
  std::vector<uint8_t>& bytes = *out;
  ChunkBuffer b(&bytes);
  const size_t main = b.Begin(kMain);
  const size_t version = b.Begin(kVersion);
  b.U32(3);
  b.End(version);
  const size_t editor = b.Begin(kEditor);
  b.Float(kMasterScale, 1.0f);
  b.Color(kAmbientLight, 0x000000);
  const size_t material = b.Begin(kMaterial);
  {
    const size_t name = b.Begin(kMatName);
    b.Text(k3dsMaterialName);
    b.End(name);
  }
  b.Color(kMatAmbient, 0x969696);
  b.Color(kMatDiffuse, 0x969696);
  b.Color(kMatSpecular, 0xE5E5E5);
  b.Percent(kMatShininess, 10);
  b.Percent(kMatShinStrength, 0);
  b.Percent(kMatTransparency, 0);
  b.Percent(kMatTransFalloff, 0);
  b.Percent(kMatReflectBlur, 0);
  b.Short(kMatShading, 3);
  b.Percent(kMatSelfIllum, 0);
  const size_t map = b.Begin(kTextureMap);
  {
    const size_t percent = b.Begin(kPercentInt);
    b.U16(100);
    b.End(percent);
    const size_t name = b.Begin(kMapName);
    b.Text(texture);
    b.End(name);
    b.Float(kMapUScale, 1.0f);
    b.Float(kMapVScale, 1.0f);
    b.Float(kMapUOffset, 0.0f);
    b.Float(kMapVOffset, 0.0f);
    b.Short(kMapTiling, 0);
  }
  b.End(map);
  b.End(material);

  // The whole size first: the lengths are 32-bit.
  uint64_t total = b.Size();
  for (int s = 0; s < g.columns; s += g.block) {
    const int e = std::min(s + g.block, g.columns);
    total += ObjectBytes(e - s + 1, g.rows, s / g.block);
  }
  if (total > 0xFFFFFFFFull) {
    error_ = "模型超过4GB, 请缩小区域或减少采样数";
    return false;
  }
  bytes.reserve(static_cast<size_t>(total));

  CElevationStore& store = elevation_ ? *elevation_ : ElevationStore();
  const double a = factor.a, bh = factor.b;
  const double width = g.east - g.west, height = g.north - g.south;
  const double all_rows = double(g.BlockCount()) * g.rows;
  int rows_done = 0;
  for (int s = 0; s < g.columns; s += g.block) {
    const int e = std::min(s + g.block, g.columns);
    const int w = e - s + 1;
    const int n = w * g.rows;
    const int m = 2 * (w - 1) * (g.rows - 1);
    const size_t object = b.Begin(kNamedObject);
    b.Text(ObjectName(s / g.block));
    const size_t mesh = b.Begin(kTriMesh);
    const size_t list = b.Begin(kVertexList);
    b.U16(static_cast<uint16_t>(n));
    for (int r = 0; r < g.rows; ++r) {
      if (cancel_ && cancel_->load()) {
        error_ = kCancelled;
        return false;
      }
      const double lat = g.north - r * g.lat_step;
      for (int c = s; c <= e; ++c) {
        const double lon = g.west + c * g.lon_step;
        float pos[2] = {static_cast<float>(lon), static_cast<float>(lat)};
        float h = 0;
        store.GetElevation(pos, &h, g.resolution);
        if (h == kNoElevation || !std::isfinite(h)) h = 0;
        const double lift_km = (a * h + bh) * 0.001;
        float x, y, z;
        if (flat) {
          MercPoint p;
          if (!ProjectLonLatToMerc(lon, lat, &p)) {
            error_ = "平面模型的区域不能到达两极";
            return false;
          }
          x = static_cast<float>(p.x * 0.001);
          y = static_cast<float>(p.y * 0.001);
          z = static_cast<float>(lift_km);
        } else {
          LngLatToXYZ(static_cast<float>(lon), static_cast<float>(lat), static_cast<float>(lift_km), &x, &y, &z);
        }
        b.F32(x);
        b.F32(y);
        b.F32(z);
      }
      ++rows_done;
      if (progress_) progress_(static_cast<float>(rows_done / all_rows));
    }
    b.End(list);
    const size_t matrix = b.Begin(kMeshMatrix);
    static constexpr float kIdentity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (float f : kIdentity) b.F32(f);
    b.End(matrix);
    const size_t uv = b.Begin(kTexCoords);
    b.U16(static_cast<uint16_t>(n));
    for (int r = 0; r < g.rows; ++r) {
      const double lat = g.north - r * g.lat_step;
      // 3DS measures v from the picture's bottom row: the north edge is v = 1.
      const float v = static_cast<float>((lat - g.south) / height);
      for (int c = s; c <= e; ++c) {
        const double lon = g.west + c * g.lon_step;
        b.F32(static_cast<float>((lon - g.west) / width));
        b.F32(v);
      }
    }
    b.End(uv);
    const size_t faces = b.Begin(kFaceList);
    b.U16(static_cast<uint16_t>(m));
    for (int r = 0; r + 1 < g.rows; ++r)
      for (int c = 0; c + 1 < w; ++c) {
        const int i = w * r + c, below = w * (r + 1) + c;
        b.U16(static_cast<uint16_t>(i));
        b.U16(static_cast<uint16_t>(below));
        b.U16(static_cast<uint16_t>(i + 1));
        b.U16(0);
        b.U16(static_cast<uint16_t>(i + 1));
        b.U16(static_cast<uint16_t>(below));
        b.U16(static_cast<uint16_t>(below + 1));
        b.U16(0);
      }
    const size_t group = b.Begin(kFaceMaterial);
    b.Text(k3dsMaterialName);
    b.U16(static_cast<uint16_t>(m));
    for (int f = 0; f < m; ++f) b.U16(static_cast<uint16_t>(f));
    b.End(group);
    b.End(faces);
    b.End(mesh);
    b.End(object);
  }
  b.End(editor);
  b.End(main);
  return true;
}

}  // namespace velmora
