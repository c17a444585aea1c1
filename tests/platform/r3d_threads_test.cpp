// The 3D device with resources made, refilled and released on loader threads while the rendering
// thread draws them (no GL call happens on a loader thread): every frame is drawn from whatever
// the loaders have published, and the last frame shows every texture's last contents.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/r3d/d3dx_mesh.h"
#include "platform/r3d/d3dx_texture.h"
#include "platform/r3d/device.h"

namespace velmora {
namespace {

constexpr int kLoaders = 4;
constexpr int kPerLoader = 16;
constexpr int kCells = kLoaders * kPerLoader;  // an 8 x 8 grid of cells
constexpr int kCell = 8;                       // pixels a side
constexpr int kRounds = 6;
constexpr int kFrame = 8 * kCell;

struct Published {
  IDirect3DTexture9* texture = nullptr;
  ID3DXMesh* quad = nullptr;
};

D3DCOLOR ColorOf(int cell, int round) {
  return 0xFF000000u | (uint32_t(cell * 4) << 16) | (uint32_t(round * 40) << 8) | uint32_t(255 - cell * 3);
}

// A quad covering cell `cell` of the frame, in clip coordinates, as a mesh.
ID3DXMesh* MakeQuad(IDirect3DDevice9* device, int cell) {
  ID3DXMesh* mesh = nullptr;
  EXPECT_EQ(D3DXCreateMeshFVF(2, 4, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_TEX1, device, &mesh), D3D_OK);
  const float x0 = -1 + 2.0f * (cell % 8) / 8, y0 = 1 - 2.0f * (cell / 8) / 8, s = 2.0f / 8;
  const float v[4][5] = {{x0, y0, 0.5f, 0, 0}, {x0 + s, y0, 0.5f, 1, 0}, {x0, y0 - s, 0.5f, 0, 1}, {x0 + s, y0 - s, 0.5f, 1, 1}};
  const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  void* data = nullptr;
  EXPECT_EQ(mesh->LockVertexBuffer(0, &data), D3D_OK);
  std::memcpy(data, v, sizeof v);
  mesh->UnlockVertexBuffer();
  EXPECT_EQ(mesh->LockIndexBuffer(0, &data), D3D_OK);
  std::memcpy(data, idx, sizeof idx);
  mesh->UnlockIndexBuffer();
  return mesh;
}

TEST(R3dThreads, LoadersFeedTheRenderingThread) {
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr) << Direct3DLastError();
  D3DPRESENT_PARAMETERS pp;
  pp.BackBufferWidth = 64;
  pp.BackBufferHeight = 64;
  pp.EnableAutoDepthStencil = 1;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, 1, 0x46, &pp, &device), D3D_OK);

  std::mutex mutex;
  std::vector<Published> cells(kCells);
  std::atomic<int> finished{0};
  // Each round of the loaders starts after one more frame, so that frames fall between them.
  std::mutex frame_mutex;
  std::condition_variable frame_drawn;
  int frames = 0;
  std::vector<std::thread> loaders;
  for (int l = 0; l < kLoaders; ++l) {
    loaders.emplace_back([&, l] {
      for (int round = 0; round < kRounds; ++round) {
        {
          std::unique_lock<std::mutex> lock(frame_mutex);
          frame_drawn.wait(lock, [&] { return frames >= round; });
        }
        for (int i = 0; i < kPerLoader; ++i) {
          const int cell = l * kPerLoader + i;
          // Round 0 makes the texture and the quad; later rounds refill the texture in place (odd
          // rounds) or replace it with a new one, releasing the old one here.
          IDirect3DTexture9* fresh = nullptr;
          Published old;
          {
            std::lock_guard<std::mutex> lock(mutex);
            old = cells[cell];
          }
          if (round % 2 == 0) {
            EXPECT_EQ(device->CreateTexture(16, 16, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &fresh), D3D_OK);
            EXPECT_EQ(FillTextureColor(fresh, ColorOf(cell, round)), D3D_OK);
          } else {
            EXPECT_EQ(FillTextureColor(old.texture, ColorOf(cell, round)), D3D_OK);
          }
          ID3DXMesh* quad = old.quad ? nullptr : MakeQuad(device, cell);
          IDirect3DTexture9* released = nullptr;
          {
            std::lock_guard<std::mutex> lock(mutex);
            if (fresh) {
              released = cells[cell].texture;
              cells[cell].texture = fresh;
            }
            if (quad) cells[cell].quad = quad;
          }
          if (released) released->Release();
        }
      }
      finished.fetch_add(1);
    });
  }

  // Frames while the loaders work, and one more after they are done.
  IDirect3DSwapChain9* swap = nullptr;
  IDirect3DSurface9* back = nullptr;
  D3DPRESENT_PARAMETERS frame_params;
  frame_params.BackBufferWidth = kFrame;
  frame_params.BackBufferHeight = kFrame;
  frame_params.hDeviceWindow = 3;
  bool last = false;
  while (!last) {
    last = finished.load() == kLoaders;
    ASSERT_EQ(device->CreateAdditionalSwapChain(&frame_params, &swap), D3D_OK);
    swap->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back);
    device->SetRenderTarget(0, back);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device->SetRenderState(D3DRS_LIGHTING, 0);
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (const Published& p : cells) {
        if (!p.quad) continue;
        device->SetTexture(0, p.texture);
        EXPECT_EQ(p.quad->DrawSubset(0), D3D_OK);
      }
    }
    device->SetTexture(0, nullptr);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(swap->Present(nullptr, nullptr, 0, nullptr, 0), D3D_OK);
    back->Release();
    swap->Release();
    {
      std::lock_guard<std::mutex> lock(frame_mutex);
      ++frames;
    }
    frame_drawn.notify_all();
  }
  for (auto& t : loaders) t.join();
  EXPECT_GE(frames, kRounds);

  CBitmap frame;
  ASSERT_TRUE(device->CopyPresentedFrame(3, &frame));
  for (int cell = 0; cell < kCells; ++cell) {
    const int x = (cell % 8) * kCell + kCell / 2, y = (cell / 8) * kCell + kCell / 2;
    EXPECT_EQ(frame.GetPixel(x, y), ColorOf(cell, kRounds - 1)) << "cell " << cell;
  }
  // Released on other threads as well: the last references go from a thread without GL.
  std::thread([&] {
    for (Published& p : cells) {
      p.texture->Release();
      p.quad->Release();
    }
  }).join();
  device->Release();
  d3d->Release();
}

}  // namespace
}  // namespace velmora
