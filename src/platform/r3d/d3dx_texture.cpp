// Texture helpers: creation, picture files, and copies between textures and pictures.
#include "platform/r3d/d3dx_texture.h"

#include <cstring>

#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"

namespace velmora {

HRESULT D3DXCreateTexture(IDirect3DDevice9* device, uint32_t width, uint32_t height, uint32_t levels,
                          uint32_t usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture) {
  if (!device || !texture) return D3DERR_INVALIDCALL;
  return device->CreateTexture(width, height, levels == D3DX_DEFAULT ? 0 : levels, usage, format, pool, texture);
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* path, IDirect3DTexture9** texture) {
  if (!device || !path || !texture) return D3DERR_INVALIDCALL;
  *texture = nullptr;
  CBitmap picture;
  if (!LoadImageFile(path, &picture) || picture.IsEmpty()) return D3DERR_NOTAVAILABLE;
  IDirect3DTexture9* created = nullptr;
  const HRESULT hr = device->CreateTexture(static_cast<uint32_t>(picture.Width()), static_cast<uint32_t>(picture.Height()),
                                           0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &created);
  if (FAILED(hr)) return hr;
  const HRESULT fill = FillTextureFromBitmap(created, picture);
  if (FAILED(fill)) {
    created->Release();
    return fill;
  }
  *texture = created;
  return D3D_OK;
}

HRESULT FillTextureFromBitmap(IDirect3DTexture9* texture, const CBitmap& picture) {
  if (!texture || picture.IsEmpty()) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc;
  texture->GetLevelDesc(0, &desc);
  const CBitmap* source = &picture;
  CBitmap scaled;
  if (picture.Width() != static_cast<int>(desc.Width) || picture.Height() != static_cast<int>(desc.Height)) {
    if (!scaled.Create(static_cast<int>(desc.Width), static_cast<int>(desc.Height))) return E_OUTOFMEMORY;
    CGraphics g(scaled);
    g.SetCompositing(Compositing::kSourceCopy);
    g.DrawImage(picture, GfxRect{0, 0, float(desc.Width), float(desc.Height)});
    g.Flush();
    source = &scaled;
  }
  D3DLOCKED_RECT locked;
  const HRESULT hr = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
  if (FAILED(hr)) return hr;
  for (uint32_t y = 0; y < desc.Height; ++y) {
    const Argb* src = source->Row(static_cast<int>(y));
    auto* dst = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch));
    // Opaque rows (all of a map tile's) are the same premultiplied or not: copied whole. Rows
    // with translucent pixels take their straight colours.
    std::memcpy(dst, src, size_t(desc.Width) * 4);
    uint32_t all = 0xFFFFFFFFu;
    for (uint32_t x = 0; x < desc.Width; ++x) all &= src[x];
    if (ArgbA(all) != 0xFF)
      for (uint32_t x = 0; x < desc.Width; ++x)
        if (ArgbA(src[x]) != 0xFF) dst[x] = Unpremultiply(src[x]);
  }
  return texture->UnlockRect(0);
}

HRESULT FillTextureColor(IDirect3DTexture9* texture, D3DCOLOR color) {
  if (!texture) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc;
  texture->GetLevelDesc(0, &desc);
  D3DLOCKED_RECT locked;
  const HRESULT hr = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
  if (FAILED(hr)) return hr;
  for (uint32_t y = 0; y < desc.Height; ++y) {
    auto* dst = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch));
    for (uint32_t x = 0; x < desc.Width; ++x) dst[x] = color;
  }
  return texture->UnlockRect(0);
}

HRESULT TextureToBitmap(IDirect3DTexture9* texture, CBitmap* picture) {
  if (!texture || !picture) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc;
  texture->GetLevelDesc(0, &desc);
  if (!picture->Create(static_cast<int>(desc.Width), static_cast<int>(desc.Height))) return E_OUTOFMEMORY;
  D3DLOCKED_RECT locked;
  const HRESULT hr = texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY);
  if (FAILED(hr)) return hr;
  const bool opaque = desc.Format == D3DFMT_X8R8G8B8;
  for (uint32_t y = 0; y < desc.Height; ++y) {
    const auto* src =
        reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch));
    Argb* dst = picture->Row(static_cast<int>(y));
    for (uint32_t x = 0; x < desc.Width; ++x) dst[x] = opaque ? (src[x] | 0xFF000000u) : Premultiply(src[x]);
  }
  return texture->UnlockRect(0);
}

}  // namespace velmora
