// ID3DXFont: screen text on the 3D device. Glyphs are drawn once with platform/gfx (cairo,
// through fontconfig; text the face lacks comes from the CJK font) into an atlas texture, then
// each string is drawn as textured quads between BeginScene and EndScene. Text is UTF-8.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/gfx/font.h"
#include "platform/r3d/device.h"

namespace velmora {

class ID3DXFont : public R3dUnknown {
 public:
  // Draws `count` bytes of the text (-1: up to its end) in the rectangle, clipped to it unless
  // DT_NOCLIP, aligned by DT_CENTER / DT_RIGHT (and DT_VCENTER / DT_BOTTOM with DT_SINGLELINE);
  // DT_EXPANDTABS puts tab stops every eight average characters; DT_CALCRECT only measures,
  // setting the rectangle's right and bottom. Returns the height of the text, 0 on failure.
  // `sprite` is not used.
  int DrawTextA(void* sprite, const char* text, int count, R3dRect* rect, uint32_t format, D3DCOLOR color);
  // Nothing to do: the atlas uploads itself again after a reset.
  HRESULT OnLostDevice() { return D3D_OK; }
  HRESULT OnResetDevice() { return D3D_OK; }
  // The height of one line in pixels.
  int LineHeight() const { return line_height_; }
  const CFont& Font() const { return font_; }

 private:
  friend HRESULT D3DXCreateFontA(IDirect3DDevice9* device, int height, uint32_t width, uint32_t weight,
                                 uint32_t mip_levels, int italic, uint32_t charset, uint32_t precision,
                                 uint32_t quality, uint32_t pitch_and_family, const char* face, ID3DXFont** font);
  ID3DXFont(IDirect3DDevice9* device, IDirect3DTexture9* atlas, const CFont& font);
  ~ID3DXFont() override;

  struct Glyph {
    int x = 0, y = 0, w = 0, h = 0;  // cell in the atlas
    int advance = 0;
  };
  // The glyph of a code point, drawn into the atlas on first use; null when the atlas is full
  // even after it was emptied.
  const Glyph* GlyphOf(uint32_t code_point);
  bool Rasterize(uint32_t code_point, Glyph* glyph);
  void FillAtlasTransparent();

  IDirect3DDevice9* device_;
  IDirect3DTexture9* atlas_;
  CFont font_;
  int line_height_ = 0;
  int ascent_ = 0;
  int tab_width_ = 0;
  std::unordered_map<uint32_t, Glyph> glyphs_;
  int shelf_x_ = 0, shelf_y_ = 0, shelf_h_ = 0;
};

// A font of `height` pixels: negative for the character height (the em size), positive for the
// cell height. Weights of 600 and above are bold. The face goes through fontconfig (a Windows
// face name maps to an installed font). D3DERR_INVALIDCALL for a height of 0 or above 512.
HRESULT D3DXCreateFontA(IDirect3DDevice9* device, int height, uint32_t width, uint32_t weight, uint32_t mip_levels,
                        int italic, uint32_t charset, uint32_t precision, uint32_t quality, uint32_t pitch_and_family,
                        const char* face, ID3DXFont** font);

}  // namespace velmora
