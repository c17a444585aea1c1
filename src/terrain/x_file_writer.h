// DirectX .x files of meshes, in the format's text form: the vertices, the triangles, normals,
// vertex colours and texture coordinates when the mesh has them, and a material list with one material per
// face attribute. Readers of .x files take the text and binary forms alike, so the binary and
// compressed forms asked for are written as text too.
#pragma once
#include <cstdint>

#include "platform/r3d/d3dx_mesh.h"

namespace velmora {

inline constexpr uint32_t D3DXF_FILEFORMAT_BINARY = 0;
inline constexpr uint32_t D3DXF_FILEFORMAT_TEXT = 1;
inline constexpr uint32_t D3DXF_FILEFORMAT_COMPRESSED = 2;

// Writes the mesh to `path` (a temporary file renamed over it). Face attributes beyond the
// materials count as material 0; with no material the mesh has no material list. Adjacency and
// effects are not used. E_FAIL when the file cannot be written, D3DERR_INVALIDCALL for a missing
// mesh or path or a vertex format without positions.
HRESULT D3DXSaveMeshToX(const char* path, ID3DXMesh* mesh, const uint32_t* adjacency,
                        const D3DXMATERIAL* materials, const void* effects, uint32_t material_count,
                        uint32_t format);

}  // namespace velmora
