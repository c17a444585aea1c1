// Texture helpers of the 3D code: textures by size, from picture files, and between textures and
// pictures (CBitmap) in both directions.
#pragma once
#include <cstdint>
#include <string>

#include "platform/gfx/bitmap.h"
#include "platform/r3d/device.h"

namespace velmora {

// As many levels as the size allows (levels and sizes).
inline constexpr uint32_t D3DX_DEFAULT = 0xFFFFFFFFu;

// IDirect3DDevice9::CreateTexture, with D3DX_DEFAULT (or 0) levels for the whole chain.
HRESULT D3DXCreateTexture(IDirect3DDevice9* device, uint32_t width, uint32_t height, uint32_t levels,
                          uint32_t usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture);
// A texture of the picture's size (D3DFMT_A8R8G8B8, whole mip chain) from a JPEG, PNG, BMP, GIF
// or TIFF file. D3DERR_NOTAVAILABLE when the file cannot be read or decoded.
HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* path, IDirect3DTexture9** texture);

// Level 0 of the texture from a picture: copied as it is when the sizes agree (straight colours,
// rows by their own pitches), else scaled to the texture's size first.
HRESULT FillTextureFromBitmap(IDirect3DTexture9* texture, const CBitmap& picture);
// Level 0 of the texture filled with one straight ARGB colour.
HRESULT FillTextureColor(IDirect3DTexture9* texture, D3DCOLOR color);
// Level 0 of the texture as a picture (opaque when the format has no alpha).
HRESULT TextureToBitmap(IDirect3DTexture9* texture, CBitmap* picture);

}  // namespace velmora
