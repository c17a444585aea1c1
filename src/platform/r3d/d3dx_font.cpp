// Screen text of the 3D device: a glyph atlas drawn with cairo, strings drawn as quads.
#include "platform/r3d/d3dx_font.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/gfx/graphics.h"

namespace velmora {
namespace {

constexpr uint32_t kAtlasSide = 1024;
constexpr int kPad = 1;  // transparent border around each glyph cell
constexpr uint32_t kReplacement = 0xFFFD;

// Decodes UTF-8; a byte that does not start a valid sequence becomes U+FFFD.
std::vector<uint32_t> DecodeUtf8(const char* text, size_t size) {
  std::vector<uint32_t> out;
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  size_t i = 0;
  while (i < size) {
    const uint8_t b = s[i];
    uint32_t cp = kReplacement;
    size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
    } else {
      len = 0;
    }
    bool ok = len > 0 && i + len <= size;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (!ok || (len > 1 && cp < 0x80) || cp > 0x10FFFF) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::string EncodeUtf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += char(cp);
  } else if (cp < 0x800) {
    s += char(0xC0 | (cp >> 6));
    s += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += char(0xE0 | (cp >> 12));
    s += char(0x80 | ((cp >> 6) & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  } else {
    s += char(0xF0 | (cp >> 18));
    s += char(0x80 | ((cp >> 12) & 0x3F));
    s += char(0x80 | ((cp >> 6) & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  }
  return s;
}

struct TextVertex {
  float x, y, z;
  D3DCOLOR color;
  float u, v;
};
constexpr uint32_t kTextFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

}  // namespace

HRESULT D3DXCreateFontA(IDirect3DDevice9* device, int height, uint32_t, uint32_t weight, uint32_t, int italic,
                        uint32_t, uint32_t, uint32_t, uint32_t, const char* face, ID3DXFont** font) {
  if (!font) return D3DERR_INVALIDCALL;
  *font = nullptr;
  if (!device || height == 0 || height > 512 || height < -512) return D3DERR_INVALIDCALL;
  uint32_t style = 0;
  if (weight >= 600) style |= CFont::kBold;
  if (italic) style |= CFont::kItalic;
  const std::string name = face && *face ? face : "Microsoft Sans Serif";
  float pixels = static_cast<float>(std::abs(height));
  if (height > 0) {
    // A cell height: the em is the part of it that the face's ascent and descent leave.
    const TextExtent cell = MeasureText("Ag", CFont(name, pixels, style));
    if (cell.height > 0) pixels = pixels * pixels / cell.height;
  }
  IDirect3DTexture9* atlas = nullptr;
  const HRESULT hr = device->CreateTexture(kAtlasSide, kAtlasSide, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &atlas);
  if (FAILED(hr)) return hr;
  *font = new ID3DXFont(device, atlas, CFont(name, pixels, style));
  return D3D_OK;
}

ID3DXFont::ID3DXFont(IDirect3DDevice9* device, IDirect3DTexture9* atlas, const CFont& font)
    : device_(device), atlas_(atlas), font_(font) {
  device_->AddRef();
  const TextExtent e = MeasureText("Ag\xE4\xB8\xAD", font_);  // "Ag" and a CJK ideograph
  line_height_ = std::max(1, static_cast<int>(std::ceil(e.height)));
  ascent_ = static_cast<int>(std::lround(e.ascent));
  tab_width_ = std::max(1, static_cast<int>(std::lround(MeasureText("x", font_).width)) * 8);
}

ID3DXFont::~ID3DXFont() {
  atlas_->Release();
  device_->Release();
}

bool ID3DXFont::Rasterize(uint32_t code_point, Glyph* glyph) {
  const std::string text = EncodeUtf8(code_point);
  const TextExtent e = MeasureText(text, font_);
  glyph->advance = static_cast<int>(std::lround(e.width));
  glyph->w = std::max(0, static_cast<int>(std::ceil(e.width))) + 2 * kPad;
  glyph->h = line_height_ + 2 * kPad;
  if (glyph->w > static_cast<int>(kAtlasSide) || glyph->h > static_cast<int>(kAtlasSide)) return false;
  // Next place on the shelves of the atlas.
  if (shelf_x_ + glyph->w > static_cast<int>(kAtlasSide)) {
    shelf_y_ += shelf_h_;
    shelf_x_ = 0;
    shelf_h_ = 0;
  }
  if (shelf_y_ + glyph->h > static_cast<int>(kAtlasSide)) return false;
  glyph->x = shelf_x_;
  glyph->y = shelf_y_;
  shelf_x_ += glyph->w;
  shelf_h_ = std::max(shelf_h_, glyph->h);

  CBitmap cell;
  if (!cell.Create(glyph->w, glyph->h)) return false;
  {
    CGraphics g(cell);
    g.DrawString(text, font_, 0xFFFFFFFFu, float(kPad), float(kPad));
    g.Flush();
  }
  const R3dRect rect{glyph->x, glyph->y, glyph->x + glyph->w, glyph->y + glyph->h};
  D3DLOCKED_RECT locked;
  if (FAILED(atlas_->LockRect(0, &locked, &rect, 0))) return false;
  for (int y = 0; y < glyph->h; ++y) {
    auto* dst = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch));
    const Argb* src = cell.Row(y);
    for (int x = 0; x < glyph->w; ++x) dst[x] = (uint32_t(ArgbA(src[x])) << 24) | 0x00FFFFFFu;
  }
  atlas_->UnlockRect(0);
  return true;
}

const ID3DXFont::Glyph* ID3DXFont::GlyphOf(uint32_t code_point) {
  auto it = glyphs_.find(code_point);
  if (it != glyphs_.end()) return &it->second;
  Glyph glyph;
  if (!Rasterize(code_point, &glyph)) {
    // The atlas is full: start it again. Characters of the current string placed before this
    // one are left out of it; strings drawn before it are not affected (already drawn).
    glyphs_.clear();
    shelf_x_ = shelf_y_ = shelf_h_ = 0;
    FillAtlasTransparent();
    if (!Rasterize(code_point, &glyph)) return nullptr;
  }
  return &glyphs_.emplace(code_point, glyph).first->second;
}

void ID3DXFont::FillAtlasTransparent() {
  D3DLOCKED_RECT locked;
  if (FAILED(atlas_->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD))) return;
  std::memset(locked.pBits, 0, size_t(locked.Pitch) * kAtlasSide);
  atlas_->UnlockRect(0);
}

int ID3DXFont::DrawTextA(void*, const char* text, int count, R3dRect* rect, uint32_t format, D3DCOLOR color) {
  if (!text || !rect) return 0;
  const size_t size = count < 0 ? std::strlen(text) : static_cast<size_t>(count);
  const std::vector<uint32_t> code_points = DecodeUtf8(text, size);

  // Lines and the pen positions of their characters.
  struct Placed {
    uint32_t cp;
    int x;
  };
  std::vector<std::vector<Placed>> lines(1);
  std::vector<int> widths(1, 0);
  const bool single = (format & DT_SINGLELINE) != 0;
  for (uint32_t cp : code_points) {
    if (cp == '\r') continue;
    if (cp == '\n') {
      if (!single) {
        lines.emplace_back();
        widths.push_back(0);
      }
      continue;
    }
    int& x = widths.back();
    if (cp == '\t') {
      if (format & DT_EXPANDTABS) x = (x / tab_width_ + 1) * tab_width_;
      continue;
    }
    const Glyph* g = GlyphOf(cp);
    if (!g) continue;
    lines.back().push_back({cp, x});
    x += g->advance;
  }
  const int total_height = static_cast<int>(lines.size()) * line_height_;
  if (format & DT_CALCRECT) {
    rect->right = rect->left + *std::max_element(widths.begin(), widths.end());
    rect->bottom = rect->top + total_height;
    return total_height;
  }

  int top = rect->top;
  if (single && (format & DT_VCENTER)) top = rect->top + (rect->Height() - line_height_) / 2;
  if (single && (format & DT_BOTTOM)) top = rect->bottom - line_height_;
  std::vector<TextVertex> quads;
  const float inv = 1.0f / float(kAtlasSide);
  for (size_t l = 0; l < lines.size(); ++l) {
    int left = rect->left;
    if (format & DT_CENTER) left = rect->left + (rect->Width() - widths[l]) / 2;
    if (format & DT_RIGHT) left = rect->right - widths[l];
    const int y = top + static_cast<int>(l) * line_height_ - kPad;
    for (const Placed& p : lines[l]) {
      auto it = glyphs_.find(p.cp);
      if (it == glyphs_.end()) continue;
      const Glyph& g = it->second;
      const float x0 = float(left + p.x - kPad), y0 = float(y), x1 = x0 + float(g.w), y1 = y0 + float(g.h);
      const float u0 = float(g.x) * inv, v0 = float(g.y) * inv, u1 = float(g.x + g.w) * inv,
                  v1 = float(g.y + g.h) * inv;
      const TextVertex a{x0, y0, 0, color, u0, v0}, b{x1, y0, 0, color, u1, v0}, c{x0, y1, 0, color, u0, v1},
          d{x1, y1, 0, color, u1, v1};
      quads.insert(quads.end(), {a, b, c, c, b, d});
    }
  }
  if (quads.empty()) return total_height;

  IDirect3DDevice9::StateBlockPtr saved = device_->CaptureState();
  D3DVIEWPORT9 vp;
  device_->GetViewport(&vp);
  const float w = float(std::max(1u, vp.Width)), h = float(std::max(1u, vp.Height));
  D3DXMATRIX identity, pixels;
  D3DXMatrixIdentity(&identity);
  D3DXMatrixIdentity(&pixels);
  pixels(0, 0) = 2.0f / w;
  pixels(1, 1) = -2.0f / h;
  pixels(3, 0) = -1.0f - 2.0f * float(vp.X) / w;
  pixels(3, 1) = 1.0f + 2.0f * float(vp.Y) / h;
  device_->SetTransform(D3DTS_WORLD, &identity);
  device_->SetTransform(D3DTS_VIEW, &identity);
  device_->SetTransform(D3DTS_PROJECTION, &pixels);
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  device_->SetRenderState(D3DRS_ZENABLE, 0);
  device_->SetRenderState(D3DRS_ZWRITEENABLE, 0);
  device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  device_->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
  device_->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device_->SetRenderState(D3DRS_FOGENABLE, 0);
  device_->SetRenderState(D3DRS_POINTSPRITEENABLE, 0);
  const bool clip = (format & DT_NOCLIP) == 0;
  device_->SetRenderState(D3DRS_SCISSORTESTENABLE, clip ? 1 : 0);
  if (clip) {
    R3dRect scissor = *rect;
    scissor.left = std::max<int>(scissor.left, static_cast<int>(vp.X));
    scissor.top = std::max<int>(scissor.top, static_cast<int>(vp.Y));
    scissor.right = std::min<int>(scissor.right, static_cast<int>(vp.X + vp.Width));
    scissor.bottom = std::min<int>(scissor.bottom, static_cast<int>(vp.Y + vp.Height));
    scissor.right = std::max(scissor.right, scissor.left);
    scissor.bottom = std::max(scissor.bottom, scissor.top);
    device_->SetScissorRect(&scissor);
  }
  device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device_->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  device_->SetTexture(0, atlas_);
  device_->SetFVF(kTextFvf);
  const HRESULT hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<uint32_t>(quads.size() / 3),
                                              quads.data(), sizeof(TextVertex));
  device_->ApplyState(*saved);
  return SUCCEEDED(hr) ? total_height : 0;
}

}  // namespace velmora
