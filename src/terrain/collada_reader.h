// The COLLADA reader of 3D models: triangles with their normals and materials, from the subset of
// COLLADA 1.4/1.5 that model exporters write for static models:
//   - geometries: <mesh> with <source>/<float_array>/<accessor>, <vertices>, and <triangles>,
//     <polylist> or <polygons> (polygons become fans) with VERTEX/POSITION and NORMAL inputs;
//   - materials and effects: the common profile's <constant>, <lambert>, <phong> or <blinn>
//     colours (emission, ambient, diffuse, specular) and shininess; a texture stands as white;
//   - the visual scene: nested <node>s with <matrix>, <translate>, <rotate> and <scale>,
//     <instance_geometry> with its material binding and <instance_node>; without a scene every
//     geometry is taken once, untransformed;
//   - <asset>'s up axis: the model comes out in the left-handed, y-up frame of the 3D views.
// Skins, animations, lights, cameras and images are not read.
//
// The file comes from outside: counts, strides, offsets and indices are checked against the data
// they refer to, the output is bounded, and node nesting is limited, so a truncated or hostile
// file gives a clear error and no model.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct ColladaMaterial {
  std::string name;
  float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
  float ambient[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  float specular[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  float emissive[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  float power = 0.0f;
};

// The model as one indexed triangle list.
struct ColladaModel {
  std::vector<float> positions;        // x, y, z per vertex
  std::vector<float> normals;          // x, y, z per vertex (unit length)
  std::vector<uint32_t> indices;       // three per triangle, front faces clockwise (as the views draw)
  std::vector<uint32_t> face_material; // material index per triangle
  std::vector<ColladaMaterial> materials;
  size_t VertexCount() const { return positions.size() / 3; }
  size_t TriangleCount() const { return indices.size() / 3; }
};

struct ColladaLimits {
  size_t max_vertices = size_t(1) << 22;   // vertices of the model
  size_t max_triangles = size_t(1) << 23;  // triangles of the model
  size_t max_values = size_t(1) << 26;     // numbers in all arrays of the file
  int max_depth = 64;                      // node nesting (instance_node included)
  size_t max_instances = 1u << 16;         // geometry instances in the scene
};

// Largest COLLADA file read.
inline constexpr size_t kMaxColladaFileBytes = size_t(256) << 20;

// Reads a COLLADA document. False, with the reason in *error, for a document that is not COLLADA
// or breaks its own references; *out is then empty. A document without any geometry reads as an
// empty model.
bool ReadCollada(std::string_view bytes, ColladaModel* out, std::string* error = nullptr,
                 const ColladaLimits& limits = {});
bool ReadColladaFile(const std::string& path, ColladaModel* out, std::string* error = nullptr,
                     const ColladaLimits& limits = {});

}  // namespace velmora
