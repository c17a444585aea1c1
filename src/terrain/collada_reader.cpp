// The COLLADA reader: XML by pugixml, geometry, materials and the scene's nodes by our own code.
#include "terrain/collada_reader.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/fs.h"

namespace velmora {
namespace {

// A 4 x 4 transform, row-major, acting on column vectors (p' = M p), as COLLADA writes them.
using Mat4 = std::array<double, 16>;

constexpr Mat4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
constexpr double kPi = 3.14159265358979323846;
// Scene nodes visited at most (instance_node may name a node many times over).
constexpr size_t kMaxNodeVisits = size_t(1) << 20;

Mat4 Multiply(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[i * 4 + k] * b[k * 4 + j];
      r[i * 4 + j] = s;
    }
  return r;
}

double Det3(const Mat4& m) {
  return m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) +
         m[2] * (m[4] * m[9] - m[5] * m[8]);
}

// The matrix that carries normals: the cofactors of the upper 3 x 3 (the inverse transposed,
// scaled by the determinant; normals are normalised afterwards anyway).
std::array<double, 9> NormalMatrix(const Mat4& m) {
  return {m[5] * m[10] - m[6] * m[9], m[6] * m[8] - m[4] * m[10], m[4] * m[9] - m[5] * m[8],
          m[2] * m[9] - m[1] * m[10], m[0] * m[10] - m[2] * m[8], m[1] * m[8] - m[0] * m[9],
          m[1] * m[6] - m[2] * m[5], m[2] * m[4] - m[0] * m[6], m[0] * m[5] - m[1] * m[4]};
}

class Reader {
 public:
  Reader(const ColladaLimits& limits, std::string* error) : limits_(limits), error_(error) {}

  bool Read(std::string_view bytes, ColladaModel* out);

 private:
  struct Source {
    std::vector<double> values;  // the accessor's items, three numbers each
    size_t count = 0;
  };
  struct Corner {
    uint32_t position;
    int64_t normal;  // -1: none
  };
  struct Primitive {
    std::string material;  // the symbol bound by the instance
    std::vector<Corner> corners;  // three per triangle, counter-clockwise
  };
  struct Geometry {
    const Source* positions = nullptr;
    std::vector<const Source*> normal_sources;  // per primitive
    std::vector<Primitive> primitives;
  };

  bool Fail(const std::string& why) {
    if (error_ && error_->empty()) *error_ = why;
    return false;
  }
  static std::string Id(const std::string& url) { return !url.empty() && url[0] == '#' ? url.substr(1) : url; }

  bool ParseNumbers(const char* text, size_t expected, std::vector<double>* out, const char* what);
  bool ParseIndices(const char* text, std::vector<uint32_t>* out, const char* what);
  const Source* SourceById(const std::string& id);
  const Geometry* GeometryById(const std::string& id);
  bool CompilePrimitive(const pugi::xml_node& prim, const std::string& geometry_id, Geometry* g);
  int MaterialIndex(const std::string& material_id);
  bool ReadEffect(const pugi::xml_node& effect, ColladaMaterial* m);
  bool Node(const pugi::xml_node& node, const Mat4& parent, int depth);
  bool Instance(const std::string& geometry_id, const pugi::xml_node& binding, const Mat4& m);
  bool NodeTransform(const pugi::xml_node& node, Mat4* local);

  const ColladaLimits& limits_;
  std::string* error_;
  size_t values_ = 0;
  size_t instances_ = 0;
  size_t visits_ = 0;
  std::map<std::string, pugi::xml_node> sources_xml_, geometries_xml_, materials_xml_, effects_xml_, nodes_xml_;
  std::map<std::string, std::unique_ptr<Source>> sources_;
  std::map<std::string, std::unique_ptr<Geometry>> geometries_;
  std::map<std::string, int> material_index_;
  ColladaModel model_;
  std::vector<bool> has_normal_;
};

bool Reader::ParseNumbers(const char* text, size_t expected, std::vector<double>* out, const char* what) {
  out->clear();
  if (expected > limits_.max_values - std::min(values_, limits_.max_values))
    return Fail(std::string("too many numbers in ") + what);
  out->reserve(expected);
  const char* p = text;
  const char* end = text + std::strlen(text);
  while (out->size() < expected) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    if (p == end) return Fail(std::string(what) + " holds fewer numbers than its count");
    double v = 0;
    const auto [next, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || !std::isfinite(v)) return Fail(std::string(what) + " holds something that is not a number");
    out->push_back(v);
    p = next;
  }
  values_ += out->size();
  return true;
}

bool Reader::ParseIndices(const char* text, std::vector<uint32_t>* out, const char* what) {
  out->clear();
  const char* p = text;
  const char* end = text + std::strlen(text);
  for (;;) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    if (p == end) break;
    if (values_ + out->size() >= limits_.max_values) return Fail(std::string("too many indices in ") + what);
    uint32_t v = 0;
    const auto [next, ec] = std::from_chars(p, end, v);
    if (ec != std::errc()) return Fail(std::string(what) + " holds something that is not an index");
    out->push_back(v);
    p = next;
  }
  values_ += out->size();
  return true;
}

const Reader::Source* Reader::SourceById(const std::string& id) {
  if (auto it = sources_.find(id); it != sources_.end()) return it->second.get();
  auto xml = sources_xml_.find(id);
  if (xml == sources_xml_.end()) {
    Fail("source '" + id + "' is missing");
    return nullptr;
  }
  const pugi::xml_node accessor = xml->second.child("technique_common").child("accessor");
  const pugi::xml_node array = xml->second.child("float_array");
  if (!accessor || !array) {
    Fail("source '" + id + "' has no float array with an accessor");
    return nullptr;
  }
  const unsigned long long array_count = array.attribute("count").as_ullong(0);
  const unsigned long long count = accessor.attribute("count").as_ullong(0);
  const unsigned long long stride = accessor.attribute("stride").as_ullong(1);
  const unsigned long long offset = accessor.attribute("offset").as_ullong(0);
  if (array_count > limits_.max_values) {
    Fail("source '" + id + "' is too large");
    return nullptr;
  }
  // Items of three numbers (x, y, z) that lie inside the array.
  if (stride < 3 || stride > array_count || offset > array_count ||
      (count > 0 && (count - 1 > (array_count - offset) / stride || (count - 1) * stride + 3 > array_count - offset))) {
    Fail("source '" + id + "': its accessor reaches past its array");
    return nullptr;
  }
  std::vector<double> numbers;
  if (!ParseNumbers(array.child_value(), static_cast<size_t>(array_count), &numbers, "a float array")) return nullptr;
  auto source = std::make_unique<Source>();
  source->count = static_cast<size_t>(count);
  source->values.resize(source->count * 3);
  for (size_t i = 0; i < source->count; ++i)
    for (int k = 0; k < 3; ++k) source->values[i * 3 + k] = numbers[offset + i * stride + k];
  return (sources_[id] = std::move(source)).get();
}

bool Reader::CompilePrimitive(const pugi::xml_node& prim, const std::string& geometry_id, Geometry* g) {
  const std::string kind = prim.name();
  const std::string where = "geometry '" + geometry_id + "'";
  int64_t vertex_offset = -1, normal_offset = -1;
  const Source* normals = nullptr;
  const Source* positions = nullptr;
  unsigned long long stride = 0;
  for (pugi::xml_node input : prim.children("input")) {
    const unsigned long long offset = input.attribute("offset").as_ullong(0);
    if (offset > 64) return Fail(where + ": input offset out of range");
    stride = std::max(stride, offset + 1);
    const std::string semantic = input.attribute("semantic").as_string();
    if (semantic == "VERTEX") {
      vertex_offset = static_cast<int64_t>(offset);
      // <vertices>: the positions, and sometimes the normals, of the mesh.
      const pugi::xml_node vertices = prim.parent().find_child_by_attribute("vertices", "id",
                                                                           Id(input.attribute("source").as_string()).c_str());
      if (!vertices) return Fail(where + ": its vertices are missing");
      for (pugi::xml_node v : vertices.children("input")) {
        const std::string s = v.attribute("semantic").as_string();
        if (s == "POSITION" && !(positions = SourceById(Id(v.attribute("source").as_string())))) return false;
        if (s == "NORMAL" && normal_offset < 0) {
          if (!(normals = SourceById(Id(v.attribute("source").as_string())))) return false;
          normal_offset = -2;  // normals follow the position index
        }
      }
    } else if (semantic == "NORMAL") {
      normals = SourceById(Id(input.attribute("source").as_string()));
      if (!normals) return false;
      normal_offset = static_cast<int64_t>(offset);
    }
  }
  if (vertex_offset < 0 || !positions) return Fail(where + ": a primitive has no vertex positions");
  if (g->positions && g->positions != positions) return Fail(where + ": primitives use different positions");
  g->positions = positions;
  if (normal_offset == -2 && normals && normals->count < positions->count)
    return Fail(where + ": fewer normals than positions");

  // Polygons as lists of corners.
  std::vector<std::vector<uint32_t>> polygons_p;  // <polygons>: one <p> per polygon
  std::vector<uint32_t> p, vcount;
  if (kind == "polygons") {
    for (pugi::xml_node pn : prim.children("p")) {
      polygons_p.emplace_back();
      if (!ParseIndices(pn.child_value(), &polygons_p.back(), "a polygon")) return false;
    }
  } else {
    if (!ParseIndices(prim.child("p").child_value(), &p, "a primitive's index list")) return false;
  }
  const unsigned long long count = prim.attribute("count").as_ullong(0);
  if (kind == "polylist") {
    if (!ParseIndices(prim.child("vcount").child_value(), &vcount, "a polygon count list")) return false;
    if (vcount.size() < count) return Fail(where + ": fewer polygon sizes than polygons");
  }

  Primitive out;
  out.material = prim.attribute("material").as_string();
  const Source* normals_used = normals;
  auto corner = [&](const uint32_t* c, Corner* result) {
    const uint32_t pos = c[vertex_offset];
    if (pos >= positions->count) return Fail(where + ": position index out of range");
    int64_t normal = -1;
    if (normals_used) {
      normal = normal_offset == -2 ? int64_t(pos) : int64_t(c[normal_offset]);
      if (uint64_t(normal) >= normals_used->count) return Fail(where + ": normal index out of range");
    }
    *result = Corner{pos, normal};
    return true;
  };
  // One polygon of `n` corners starting at `c` (stride numbers each) as a fan of triangles.
  auto polygon = [&](const uint32_t* c, size_t n) {
    if (n < 3) return true;  // lines and points are not drawn
    Corner first, prev, cur;
    if (!corner(c, &first) || !corner(c + stride, &prev)) return false;
    for (size_t i = 2; i < n; ++i) {
      if (!corner(c + i * stride, &cur)) return false;
      if (model_.indices.size() / 3 + out.corners.size() / 3 >= limits_.max_triangles)
        return Fail("the model has too many triangles");
      out.corners.push_back(first);
      out.corners.push_back(prev);
      out.corners.push_back(cur);
      prev = cur;
    }
    return true;
  };

  if (kind == "triangles") {
    if (count > p.size() / 3 / stride) return Fail(where + ": index list shorter than its triangles");
    for (size_t t = 0; t < count; ++t)
      if (!polygon(p.data() + t * 3 * stride, 3)) return false;
  } else if (kind == "polylist") {
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
      const uint64_t n = vcount[i];
      if (n > (p.size() - at) / stride) return Fail(where + ": index list shorter than its polygons");
      if (!polygon(p.data() + at, static_cast<size_t>(n))) return false;
      at += static_cast<size_t>(n * stride);
    }
  } else {  // polygons
    for (const std::vector<uint32_t>& poly : polygons_p) {
      if (!polygon(poly.data(), poly.size() / stride)) return false;
    }
  }
  g->normal_sources.push_back(normals_used);
  g->primitives.push_back(std::move(out));
  return true;
}

const Reader::Geometry* Reader::GeometryById(const std::string& id) {
  if (auto it = geometries_.find(id); it != geometries_.end()) return it->second.get();
  auto xml = geometries_xml_.find(id);
  if (xml == geometries_xml_.end()) {
    Fail("geometry '" + id + "' is missing");
    return nullptr;
  }
  auto g = std::make_unique<Geometry>();
  for (pugi::xml_node child : xml->second.child("mesh").children()) {
    const std::string name = child.name();
    if (name == "triangles" || name == "polylist" || name == "polygons") {
      if (!CompilePrimitive(child, id, g.get())) return nullptr;
    }
  }
  return (geometries_[id] = std::move(g)).get();
}

bool Reader::ReadEffect(const pugi::xml_node& effect, ColladaMaterial* m) {
  pugi::xml_node technique = effect.child("profile_COMMON").child("technique");
  pugi::xml_node shading;
  for (const char* model : {"phong", "blinn", "lambert", "constant"})
    if ((shading = technique.child(model))) break;
  if (!shading) return true;  // defaults
  auto colour = [&](const char* name, float* rgba) -> bool {
    pugi::xml_node n = shading.child(name);
    if (!n) return true;
    if (n.child("texture")) {  // a picture stands as white
      rgba[0] = rgba[1] = rgba[2] = rgba[3] = 1.0f;
      return true;
    }
    pugi::xml_node c = n.child("color");
    if (!c) return true;
    std::vector<double> v;
    if (!ParseNumbers(c.child_value(), 4, &v, "a colour")) return false;
    for (int i = 0; i < 4; ++i) rgba[i] = static_cast<float>(v[size_t(i)]);
    return true;
  };
  if (!colour("emission", m->emissive) || !colour("ambient", m->ambient) || !colour("diffuse", m->diffuse) ||
      !colour("specular", m->specular))
    return false;
  if (pugi::xml_node s = shading.child("shininess").child("float")) {
    std::vector<double> v;
    if (!ParseNumbers(s.child_value(), 1, &v, "a shininess")) return false;
    m->power = static_cast<float>(v[0]);
  }
  return true;
}

int Reader::MaterialIndex(const std::string& material_id) {
  if (auto it = material_index_.find(material_id); it != material_index_.end()) return it->second;
  ColladaMaterial m;
  m.name = material_id;
  if (auto mat = materials_xml_.find(material_id); mat != materials_xml_.end()) {
    m.name = mat->second.attribute("name").as_string(material_id.c_str());
    const std::string effect_id = Id(mat->second.child("instance_effect").attribute("url").as_string());
    if (auto effect = effects_xml_.find(effect_id); effect != effects_xml_.end()) {
      if (!ReadEffect(effect->second, &m)) return -1;
    }
  }
  const int index = static_cast<int>(model_.materials.size());
  model_.materials.push_back(std::move(m));
  material_index_[material_id] = index;
  return index;
}

bool Reader::Instance(const std::string& geometry_id, const pugi::xml_node& binding, const Mat4& m) {
  if (++instances_ > limits_.max_instances) return Fail("the scene has too many geometry instances");
  const Geometry* g = GeometryById(geometry_id);
  if (!g) return false;
  if (!g->positions) return true;  // a geometry without triangles
  const std::array<double, 9> nm = NormalMatrix(m);
  const bool mirrored = Det3(m) < 0;
  std::unordered_map<uint64_t, uint32_t> vertex_of;  // (position, normal) -> vertex, per instance
  for (size_t pi = 0; pi < g->primitives.size(); ++pi) {
    const Primitive& prim = g->primitives[pi];
    const Source* normals = g->normal_sources[pi];
    // The material bound to the primitive's symbol; the symbol itself names the material when the
    // instance binds nothing (the scene-less case).
    std::string material = prim.material;
    for (pugi::xml_node im : binding.child("bind_material").child("technique_common").children("instance_material"))
      if (prim.material == im.attribute("symbol").as_string()) material = Id(im.attribute("target").as_string());
    const int mi = MaterialIndex(material);
    if (mi < 0) return false;
    for (size_t c = 0; c < prim.corners.size(); c += 3) {
      uint32_t tri[3];
      for (int k = 0; k < 3; ++k) {
        const Corner& corner = prim.corners[c + size_t(k)];
        const uint64_t key = uint64_t(corner.position) * (uint64_t(normals ? normals->count : 0) + 1) +
                             uint64_t(corner.normal + 1);
        auto [it, added] = vertex_of.try_emplace(key, 0);
        if (added) {
          if (model_.VertexCount() >= limits_.max_vertices) return Fail("the model has too many vertices");
          const double* p = &g->positions->values[size_t(corner.position) * 3];
          for (int r = 0; r < 3; ++r) {
            const float v =
                static_cast<float>(m[r * 4] * p[0] + m[r * 4 + 1] * p[1] + m[r * 4 + 2] * p[2] + m[r * 4 + 3]);
            // A number (or a transform) beyond what the views can draw.
            if (!std::isfinite(v)) return Fail("geometry '" + geometry_id + "': a position is out of range");
            model_.positions.push_back(v);
          }
          double n[3] = {0, 0, 0};
          if (corner.normal >= 0) {
            const double* s = &normals->values[size_t(corner.normal) * 3];
            for (int r = 0; r < 3; ++r) n[r] = nm[r * 3] * s[0] + nm[r * 3 + 1] * s[1] + nm[r * 3 + 2] * s[2];
          }
          const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
          const bool usable = len > 1e-12 && std::isfinite(len);
          for (int r = 0; r < 3; ++r) model_.normals.push_back(usable ? static_cast<float>(n[r] / len) : 0.0f);
          has_normal_.push_back(usable);
          it->second = static_cast<uint32_t>(model_.VertexCount() - 1);
        }
        tri[k] = it->second;
      }
      if (mirrored) std::swap(tri[1], tri[2]);
      model_.indices.insert(model_.indices.end(), tri, tri + 3);
      model_.face_material.push_back(static_cast<uint32_t>(mi));
    }
  }
  return true;
}

bool Reader::NodeTransform(const pugi::xml_node& node, Mat4* local) {
  *local = kIdentity;
  for (pugi::xml_node t : node.children()) {
    const std::string name = t.name();
    Mat4 m = kIdentity;
    std::vector<double> v;
    if (name == "matrix") {
      if (!ParseNumbers(t.child_value(), 16, &v, "a node matrix")) return false;
      std::copy(v.begin(), v.end(), m.begin());
    } else if (name == "translate") {
      if (!ParseNumbers(t.child_value(), 3, &v, "a translation")) return false;
      m[3] = v[0], m[7] = v[1], m[11] = v[2];
    } else if (name == "scale") {
      if (!ParseNumbers(t.child_value(), 3, &v, "a scale")) return false;
      m[0] = v[0], m[5] = v[1], m[10] = v[2];
    } else if (name == "rotate") {
      if (!ParseNumbers(t.child_value(), 4, &v, "a rotation")) return false;
      double x = v[0], y = v[1], z = v[2];
      const double len = std::sqrt(x * x + y * y + z * z);
      if (len < 1e-12) continue;
      x /= len, y /= len, z /= len;
      const double a = v[3] * kPi / 180.0, c = std::cos(a), s = std::sin(a), C = 1 - c;
      m = {x * x * C + c,     x * y * C - z * s, x * z * C + y * s, 0, y * x * C + z * s, y * y * C + c,
           y * z * C - x * s, 0,                 z * x * C - y * s, z * y * C + x * s, z * z * C + c, 0,
           0,                 0,                 0,                 1};
    } else {
      continue;
    }
    *local = Multiply(*local, m);
  }
  return true;
}

bool Reader::Node(const pugi::xml_node& node, const Mat4& parent, int depth) {
  if (depth > limits_.max_depth) return Fail("scene nodes nest too deeply");
  // Nodes that instance other nodes several times could multiply without end.
  if (++visits_ > kMaxNodeVisits) return Fail("the scene has too many nodes");
  Mat4 local;
  if (!NodeTransform(node, &local)) return false;
  const Mat4 m = Multiply(parent, local);
  for (pugi::xml_node child : node.children()) {
    const std::string name = child.name();
    if (name == "instance_geometry") {
      if (!Instance(Id(child.attribute("url").as_string()), child, m)) return false;
    } else if (name == "instance_node") {
      auto it = nodes_xml_.find(Id(child.attribute("url").as_string()));
      if (it == nodes_xml_.end()) return Fail("node '" + Id(child.attribute("url").as_string()) + "' is missing");
      if (!Node(it->second, m, depth + 1)) return false;
    } else if (name == "node") {
      if (!Node(child, m, depth + 1)) return false;
    }
  }
  return true;
}

bool Reader::Read(std::string_view bytes, ColladaModel* out) {
  if (bytes.size() > kMaxColladaFileBytes) return Fail("the COLLADA file is too large");
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
  if (!parsed)
    return Fail(std::string("not a COLLADA file: ") + parsed.description() + " at byte " + std::to_string(parsed.offset));
  const pugi::xml_node root = doc.child("COLLADA");
  if (!root) return Fail("not a COLLADA file: no COLLADA element");

  auto index = [&](const char* library, const char* element, std::map<std::string, pugi::xml_node>* map) {
    for (pugi::xml_node lib : root.children(library))
      for (pugi::xml_node e : lib.children(element))
        if (const char* id = e.attribute("id").as_string(); *id) map->emplace(id, e);
  };
  index("library_geometries", "geometry", &geometries_xml_);
  index("library_materials", "material", &materials_xml_);
  index("library_effects", "effect", &effects_xml_);
  index("library_nodes", "node", &nodes_xml_);
  for (const auto& [id, geometry] : geometries_xml_)
    for (pugi::xml_node s : geometry.child("mesh").children("source"))
      if (const char* sid = s.attribute("id").as_string(); *sid) sources_xml_.emplace(sid, s);

  // The scene named by <scene>, else the first one; without a scene every geometry once.
  pugi::xml_node scene;
  const std::string scene_id = Id(root.child("scene").child("instance_visual_scene").attribute("url").as_string());
  for (pugi::xml_node lib : root.children("library_visual_scenes"))
    for (pugi::xml_node s : lib.children("visual_scene"))
      if (!scene || (!scene_id.empty() && scene_id == s.attribute("id").as_string())) scene = s;
  if (scene) {
    for (pugi::xml_node node : scene.children("node"))
      if (!Node(node, kIdentity, 1)) return false;
  } else {
    for (const auto& [id, geometry] : geometries_xml_)
      if (!Instance(id, pugi::xml_node(), kIdentity)) return false;
  }

  // The right-handed frame of the file to the left-handed, y-up frame of the views: each of these
  // is a reflection, which keeps how a face winds on screen; the triangles are turned round, so
  // the file's counter-clockwise front faces are clockwise ones, the views' front faces.
  const std::string up = root.child("asset").child_value("up_axis");
  auto convert = [&](std::vector<float>& xyz) {
    for (size_t i = 0; i + 2 < xyz.size(); i += 3) {
      const float x = xyz[i], y = xyz[i + 1], z = xyz[i + 2];
      if (up == "Z_UP")
        xyz[i] = x, xyz[i + 1] = z, xyz[i + 2] = y;
      else if (up == "X_UP")
        xyz[i] = -y, xyz[i + 1] = x, xyz[i + 2] = -z;
      else
        xyz[i + 2] = -z;
    }
  };
  convert(model_.positions);
  convert(model_.normals);
  for (size_t t = 0; t + 2 < model_.indices.size(); t += 3) std::swap(model_.indices[t + 1], model_.indices[t + 2]);

  // Vertices without a normal of their own get the mean of their faces' normals.
  std::vector<double> sum(model_.positions.size(), 0.0);
  bool missing = false;
  for (bool has : has_normal_) missing = missing || !has;
  if (missing) {
    const std::vector<float>& p = model_.positions;
    for (size_t t = 0; t < model_.indices.size(); t += 3) {
      const uint32_t a = model_.indices[t], b = model_.indices[t + 1], c = model_.indices[t + 2];
      const double u[3] = {p[b * 3] - p[a * 3], p[b * 3 + 1] - p[a * 3 + 1], p[b * 3 + 2] - p[a * 3 + 2]};
      const double v[3] = {p[c * 3] - p[a * 3], p[c * 3 + 1] - p[a * 3 + 1], p[c * 3 + 2] - p[a * 3 + 2]};
      const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
      for (uint32_t vi : {a, b, c})
        for (int k = 0; k < 3; ++k) sum[size_t(vi) * 3 + size_t(k)] += n[k];
    }
    for (size_t v = 0; v < has_normal_.size(); ++v) {
      if (has_normal_[v]) continue;
      const double* n = &sum[v * 3];
      const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      for (int k = 0; k < 3; ++k)
        model_.normals[v * 3 + size_t(k)] = len > 1e-12 && std::isfinite(len) ? static_cast<float>(n[k] / len) : 0.0f;
    }
  }
  *out = std::move(model_);
  return true;
}

}  // namespace

bool ReadCollada(std::string_view bytes, ColladaModel* out, std::string* error, const ColladaLimits& limits) {
  std::string why;
  if (!out) return false;
  *out = ColladaModel();
  Reader reader(limits, &why);
  if (reader.Read(bytes, out)) return true;
  *out = ColladaModel();
  if (error) *error = why.empty() ? "the COLLADA file cannot be read" : why;
  return false;
}

bool ReadColladaFile(const std::string& path, ColladaModel* out, std::string* error, const ColladaLimits& limits) {
  if (out) *out = ColladaModel();
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    if (error) *error = "the COLLADA file cannot be opened: " + path;
    return false;
  }
  if (size > kMaxColladaFileBytes) {
    if (error) *error = "the COLLADA file is too large: " + path;
    return false;
  }
  std::string read_error;
  const std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path, &read_error);
  if (!bytes) {
    if (error) *error = "the COLLADA file cannot be read: " + read_error;
    return false;
  }
  return ReadCollada(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), out, error,
                     limits);
}

}  // namespace velmora
