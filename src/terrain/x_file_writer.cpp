// The .x writer (text form).
#include "terrain/x_file_writer.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "platform/fs.h"

namespace velmora {
namespace {

void Number(std::string& out, float v) { out += FormatFixed(v, 6); }

std::string Quoted(const char* text) {
  std::string out = "\"";
  for (const char* p = text; *p; ++p) {
    if (*p == '"' || *p == '\\') out += '\\';
    out += *p;
  }
  return out + "\"";
}

// Text, a count, more text.
void Count(std::string& out, const char* before, uint64_t n, const char* after) {
  out += before;
  out += std::to_string(n);
  out += after;
}

// "3;a,b,c;" and the list's separator.
void Face(std::string& out, const char* indent, const uint32_t* i, bool last) {
  out += indent;
  out += "3;";
  out += std::to_string(i[0]);
  out += ',';
  out += std::to_string(i[1]);
  out += ',';
  out += std::to_string(i[2]);
  out += last ? ";;\n" : ";,\n";
}

void Color(std::string& out, const D3DCOLORVALUE& c, bool alpha) {
  out += "   ";
  Number(out, c.r);
  out += ';';
  Number(out, c.g);
  out += ';';
  Number(out, c.b);
  out += ';';
  if (alpha) {
    Number(out, c.a);
    out += ';';
  }
  out += ";\n";
}

}  // namespace

HRESULT D3DXSaveMeshToX(const char* path, ID3DXMesh* mesh, const uint32_t*, const D3DXMATERIAL* materials, const void*,
                        uint32_t material_count, uint32_t) {
  if (!path || !*path || !mesh) return D3DERR_INVALIDCALL;
  const uint32_t fvf = mesh->GetFVF();
  if ((fvf & D3DFVF_XYZ) == 0) return D3DERR_INVALIDCALL;
  const uint32_t nv = mesh->GetNumVertices(), nf = mesh->GetNumFaces(), stride = mesh->GetNumBytesPerVertex();
  const bool normals = (fvf & D3DFVF_NORMAL) != 0;
  const bool texcoords = (fvf & D3DFVF_TEXCOUNT_MASK) != 0;
  // Where the normal and the first texture coordinates lie in a vertex.
  const size_t normal_at = 12;
  size_t tex_at = 12 + (normals ? 12 : 0) + ((fvf & 0x020) ? 4 : 0) + ((fvf & D3DFVF_DIFFUSE) ? 4 : 0) +
                  ((fvf & 0x080) ? 4 : 0);

  // Copies of the buffers, so that no lock is held while the text is made.
  std::vector<uint8_t> vertices(size_t(nv) * stride);
  std::vector<uint32_t> indices(size_t(nf) * 3);
  std::vector<uint32_t> attributes(nf, 0);
  void* data = nullptr;
  if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) return D3DERR_INVALIDCALL;
  std::memcpy(vertices.data(), data, vertices.size());
  mesh->UnlockVertexBuffer();
  if (FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data))) return D3DERR_INVALIDCALL;
  for (size_t i = 0; i < indices.size(); ++i)
    indices[i] = mesh->Uses32BitIndices() ? static_cast<const uint32_t*>(data)[i] : static_cast<const uint16_t*>(data)[i];
  mesh->UnlockIndexBuffer();
  uint32_t* attribute_data = nullptr;
  if (SUCCEEDED(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attribute_data))) {
    std::memcpy(attributes.data(), attribute_data, attributes.size() * 4);
    mesh->UnlockAttributeBuffer();
  }
  auto field = [&](uint32_t vertex, size_t offset, int i) {
    float f;
    std::memcpy(&f, vertices.data() + size_t(vertex) * stride + offset + 4 * size_t(i), 4);
    return f;
  };

  std::string out;
  Count(out, "xof 0303txt 0032\n\nMesh {\n ", nv, ";\n");
  for (uint32_t v = 0; v < nv; ++v) {
    out += ' ';
    for (int i = 0; i < 3; ++i) {
      Number(out, field(v, 0, i));
      out += ';';
    }
    out += v + 1 < nv ? ",\n" : ";\n";
  }
  Count(out, " ", nf, ";\n");
  for (uint32_t f = 0; f < nf; ++f) Face(out, " ", &indices[3 * size_t(f)], f + 1 == nf);
  if (normals) {
    Count(out, "\n MeshNormals {\n  ", nv, ";\n");
    for (uint32_t v = 0; v < nv; ++v) {
      out += "  ";
      for (int i = 0; i < 3; ++i) {
        Number(out, field(v, normal_at, i));
        out += ';';
      }
      out += v + 1 < nv ? ",\n" : ";\n";
    }
    Count(out, "  ", nf, ";\n");
    for (uint32_t f = 0; f < nf; ++f) Face(out, "  ", &indices[3 * size_t(f)], f + 1 == nf);
    out += " }\n";
  }
  if (fvf & D3DFVF_DIFFUSE) {
    // Each vertex's colour, so that a model without a texture keeps the colours it is drawn with.
    const size_t color_at = 12 + (normals ? 12 : 0) + ((fvf & 0x020) ? 4 : 0);
    Count(out, "\n MeshVertexColors {\n  ", nv, ";\n");
    for (uint32_t v = 0; v < nv; ++v) {
      uint32_t argb = 0;
      std::memcpy(&argb, vertices.data() + size_t(v) * stride + color_at, 4);
      const D3DCOLORVALUE c{((argb >> 16) & 0xFF) / 255.0f, ((argb >> 8) & 0xFF) / 255.0f, (argb & 0xFF) / 255.0f,
                            (argb >> 24) / 255.0f};
      Count(out, "  ", v, ";");
      Number(out, c.r);
      out += ';';
      Number(out, c.g);
      out += ';';
      Number(out, c.b);
      out += ';';
      Number(out, c.a);
      out += v + 1 < nv ? ";;,\n" : ";;;\n";
    }
    out += " }\n";
  }
  if (texcoords) {
    Count(out, "\n MeshTextureCoords {\n  ", nv, ";\n");
    for (uint32_t v = 0; v < nv; ++v) {
      out += "  ";
      Number(out, field(v, tex_at, 0));
      out += ';';
      Number(out, field(v, tex_at, 1));
      out += v + 1 < nv ? ";,\n" : ";;\n";
    }
    out += " }\n";
  }
  if (materials && material_count > 0) {
    Count(out, "\n MeshMaterialList {\n  ", material_count, ";\n");
    Count(out, "  ", nf, ";\n");
    for (uint32_t f = 0; f < nf; ++f) {
      const uint32_t a = attributes[f] < material_count ? attributes[f] : 0;
      Count(out, "  ", a, f + 1 < nf ? ",\n" : ";\n");
    }
    for (uint32_t m = 0; m < material_count; ++m) {
      const D3DMATERIAL9& mat = materials[m].MatD3D;
      out += "\n  Material {\n";
      Color(out, mat.Diffuse, true);
      out += "   ";
      Number(out, mat.Power);
      out += ";\n";
      Color(out, mat.Specular, false);
      Color(out, mat.Emissive, false);
      if (materials[m].pTextureFilename && *materials[m].pTextureFilename)
        out += "\n   TextureFilename {\n    " + Quoted(materials[m].pTextureFilename) + ";\n   }\n";
      out += "  }\n";
    }
    out += " }\n";
  }
  out += "}\n";
  std::string error;
  if (!WriteFileAtomic(path, out.data(), out.size(), &error)) {
    AppLog("3D: %s cannot be written: %s", path, error.c_str());
    return E_FAIL;
  }
  return D3D_OK;
}

}  // namespace velmora
