// Fuzz entry point of the COLLADA reader (3D models): any bytes must read or fail cleanly, and a
// model that reads must be whole: every triangle names vertices and a material the model has,
// every position is finite and every normal of unit length or zero.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "terrain/collada_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  ColladaLimits limits;
  limits.max_vertices = 1 << 16;
  limits.max_triangles = 1 << 17;
  limits.max_values = 1 << 20;
  limits.max_instances = 1 << 10;
  ColladaModel model;
  std::string error;
  if (!ReadCollada(std::string_view(reinterpret_cast<const char*>(data), size), &model, &error, limits)) {
    if (error.empty() || model.VertexCount() != 0 || !model.indices.empty()) __builtin_trap();
    return 0;
  }
  if (model.positions.size() != model.normals.size() || model.positions.size() % 3 != 0) __builtin_trap();
  if (model.indices.size() % 3 != 0 || model.face_material.size() != model.TriangleCount()) __builtin_trap();
  if (model.VertexCount() > limits.max_vertices || model.TriangleCount() > limits.max_triangles) __builtin_trap();
  for (uint32_t i : model.indices)
    if (i >= model.VertexCount()) __builtin_trap();
  for (uint32_t m : model.face_material)
    if (m >= model.materials.size()) __builtin_trap();
  for (float v : model.positions)
    if (!std::isfinite(v)) __builtin_trap();
  for (size_t i = 0; i + 2 < model.normals.size(); i += 3) {
    const double n = std::sqrt(double(model.normals[i]) * model.normals[i] + double(model.normals[i + 1]) * model.normals[i + 1] +
                               double(model.normals[i + 2]) * model.normals[i + 2]);
    if (!(n == 0 || std::fabs(n - 1) < 1e-3)) __builtin_trap();
  }
  return 0;
}
