// The 3D device on OpenGL through EGL without a display (Mesa's software rasteriser in CI):
// frames read back and compared with the pixels they must hold (a cleared frame, a textured quad
// in the device's orientation, a lit sphere against the lighting equation, 16- and 32-bit
// indices, culling, fill modes, text), the matrix helpers against hand-computed values, refused
// sizes, and a device loss with its reset.
#include "platform/r3d/device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/r3d/d3dx_font.h"
#include "platform/r3d/d3dx_math.h"
#include "platform/r3d/d3dx_mesh.h"
#include "platform/r3d/d3dx_texture.h"
#include "support/render_artefacts.h"

namespace velmora {
namespace {

constexpr float kPi = 3.14159265358979323846f;

struct TexVertex {
  float x, y, z, u, v;
};
struct ColorVertex {
  float x, y, z;
  D3DCOLOR color;
};

int Channel(Argb c, int shift) { return int((c >> shift) & 0xFF); }
// Largest difference of the colour channels.
int ColorDistance(Argb a, Argb b) {
  int d = 0;
  for (int s : {0, 8, 16}) d = std::max(d, std::abs(Channel(a, s) - Channel(b, s)));
  return d;
}
std::string Hex(Argb c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", c);
  return buf;
}
#define EXPECT_COLOR_NEAR(got, want, tol) \
  EXPECT_LE(ColorDistance((got), (want)), (tol)) << "got " << Hex(got) << " want " << Hex(want)

class R3dTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d_, nullptr) << Direct3DLastError();
    D3DPRESENT_PARAMETERS pp = DeviceParams();
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, 1, 0x46, &pp, &device_), D3D_OK);
  }
  static void TearDownTestSuite() {
    if (device_) device_->Release();
    if (d3d_) d3d_->Release();
    device_ = nullptr;
    d3d_ = nullptr;
  }
  static D3DPRESENT_PARAMETERS DeviceParams() {
    D3DPRESENT_PARAMETERS pp;
    pp.BackBufferWidth = 400;
    pp.BackBufferHeight = 300;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.Windowed = 1;
    pp.EnableAutoDepthStencil = 1;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    return pp;
  }
  void SetUp() override {
    ASSERT_NE(device_, nullptr);
    // Every test starts from the states of a new device.
    D3DPRESENT_PARAMETERS pp = DeviceParams();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
  }

  // One frame of a window: its swap chain and depth surface as the targets, a scene begun.
  struct Frame {
    R3dWindow window = 0;
    IDirect3DSwapChain9* swap = nullptr;
    IDirect3DSurface9* back = nullptr;
    IDirect3DSurface9* depth = nullptr;
  };
  static Frame Begin(R3dWindow window, uint32_t width, uint32_t height) {
    Frame f;
    f.window = window;
    D3DPRESENT_PARAMETERS pp;
    pp.BackBufferWidth = width;
    pp.BackBufferHeight = height;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.hDeviceWindow = window;
    pp.Windowed = 1;
    EXPECT_EQ(device_->CreateAdditionalSwapChain(&pp, &f.swap), D3D_OK);
    EXPECT_EQ(f.swap->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &f.back), D3D_OK);
    EXPECT_EQ(device_->CreateDepthStencilSurface(width, height, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, 1, &f.depth),
              D3D_OK);
    device_->SetRenderTarget(0, f.back);
    device_->SetDepthStencilSurface(f.depth);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    return f;
  }
  static HRESULT End(Frame& f, CBitmap* picture, const char* artefact = nullptr) {
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    const HRESULT hr = f.swap->Present(nullptr, nullptr, 0, nullptr, 0);
    f.depth->Release();
    f.back->Release();
    f.swap->Release();
    if (SUCCEEDED(hr) && picture) {
      EXPECT_TRUE(device_->CopyPresentedFrame(f.window, picture));
      if (artefact) test::SaveTestArtefact(*picture, "r3d", artefact);
    }
    return hr;
  }
  static void Identity() {
    D3DXMATRIX id;
    D3DXMatrixIdentity(&id);
    device_->SetTransform(D3DTS_WORLD, &id);
    device_->SetTransform(D3DTS_VIEW, &id);
    device_->SetTransform(D3DTS_PROJECTION, &id);
  }
  // A w x h texture of four quadrants: red, green (top right), blue (bottom left), white.
  static IDirect3DTexture9* Quadrants(uint32_t w, uint32_t h, D3DFORMAT format = D3DFMT_X8R8G8B8) {
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(D3DXCreateTexture(device_, w, h, 1, 0, format, D3DPOOL_MANAGED, &t), D3D_OK);
    D3DLOCKED_RECT r;
    EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), D3D_OK);
    for (uint32_t y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(r.pBits) + y * r.Pitch);
      for (uint32_t x = 0; x < w; ++x)
        row[x] = y < h / 2 ? (x < w / 2 ? 0xFFFF0000u : 0xFF00FF00u) : (x < w / 2 ? 0xFF0000FFu : 0xFFFFFFFFu);
    }
    EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    return t;
  }
  static void DrawFullQuad(IDirect3DTexture9* texture) {
    const TexVertex quad[4] = {{-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}, {-1, -1, 0.5f, 0, 1}, {1, -1, 0.5f, 1, 1}};
    device_->SetTexture(0, texture);
    device_->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TexVertex)), D3D_OK);
  }

  static IDirect3D9* d3d_;
  static IDirect3DDevice9* device_;
};
IDirect3D9* R3dTest::d3d_ = nullptr;
IDirect3DDevice9* R3dTest::device_ = nullptr;

TEST_F(R3dTest, ClearedFrameFillsTheViewportOnly) {
  Frame f = Begin(7, 64, 48);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF336699u, 1.0f, 0), D3D_OK);
  // A viewport in the lower right and a rectangle narrow the next clear to their overlap.
  D3DVIEWPORT9 vp{32, 24, 32, 24, 0, 1};
  device_->SetViewport(&vp);
  const R3dRect rect{0, 0, 40, 30};
  EXPECT_EQ(device_->Clear(1, &rect, D3DCLEAR_TARGET, 0x00FF8000u, 1.0f, 0), D3D_OK);
  CBitmap frame;
  ASSERT_EQ(End(f, &frame, "cleared"), D3D_OK);
  ASSERT_EQ(frame.Width(), 64);
  ASSERT_EQ(frame.Height(), 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool inner = x >= 32 && x < 40 && y >= 24 && y < 30;
      // The X8 target keeps alpha at 255 whatever the clear colour's alpha.
      ASSERT_EQ(frame.GetPixel(x, y), inner ? 0xFFFF8000u : 0xFF336699u) << x << "," << y;
    }
  // Another window's frame is kept apart.
  CBitmap none;
  EXPECT_FALSE(device_->CopyPresentedFrame(8, &none));
}

TEST_F(R3dTest, TexturedQuadKeepsTheTexturesOrientation) {
  IDirect3DTexture9* texture = Quadrants(64, 64);
  Frame f = Begin(7, 80, 60);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
  Identity();
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  DrawFullQuad(texture);
  CBitmap frame;
  ASSERT_EQ(End(f, &frame, "textured_quad"), D3D_OK);
  // Point sampling: each quadrant of the frame holds its texel colour exactly, the first texture
  // row at the top.
  EXPECT_EQ(frame.GetPixel(10, 10), 0xFFFF0000u);
  EXPECT_EQ(frame.GetPixel(70, 10), 0xFF00FF00u);
  EXPECT_EQ(frame.GetPixel(10, 50), 0xFF0000FFu);
  EXPECT_EQ(frame.GetPixel(70, 50), 0xFFFFFFFFu);
  EXPECT_EQ(frame.GetPixel(39, 29), 0xFFFF0000u);
  EXPECT_EQ(frame.GetPixel(40, 30), 0xFFFFFFFFu);

  // Modulated by a grey vertex colour, with bilinear filtering in the middle of each quadrant.
  Frame g = Begin(7, 80, 60);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
  device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  struct V {
    float x, y, z;
    D3DCOLOR c;
    float u, v;
  };
  const V quad[4] = {{-1, 1, 0.5f, 0xFF808080u, 0, 0},
                     {1, 1, 0.5f, 0xFF808080u, 1, 0},
                     {-1, -1, 0.5f, 0xFF808080u, 0, 1},
                     {1, -1, 0.5f, 0xFF808080u, 1, 1}};
  device_->SetTexture(0, texture);
  device_->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)), D3D_OK);
  ASSERT_EQ(End(g, &frame, "modulated_quad"), D3D_OK);
  EXPECT_COLOR_NEAR(frame.GetPixel(20, 15), 0xFF800000u, 2);
  EXPECT_COLOR_NEAR(frame.GetPixel(60, 45), 0xFF808080u, 2);
  texture->Release();
}

TEST_F(R3dTest, LitSphereFollowsTheLightingEquation) {
  constexpr int kSize = 96;
  ID3DXMesh* sphere = nullptr;
  ASSERT_EQ(D3DXCreateSphere(device_, 1.0f, 64, 32, &sphere), D3D_OK);
  EXPECT_EQ(sphere->GetNumVertices(), 64u * 31 + 2);
  EXPECT_EQ(sphere->GetNumFaces(), 2u * 64 * 31);
  Frame f = Begin(9, kSize, kSize);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000040u, 1.0f, 0);
  const D3DXVECTOR3 eye(0, 0, -3), at(0, 0, 0), up(0, 1, 0);
  D3DXMATRIX view, proj, world;
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  D3DXMatrixPerspectiveFovLH(&proj, kPi / 4, 1.0f, 0.1f, 10.0f);
  D3DXMatrixIdentity(&world);
  device_->SetTransform(D3DTS_WORLD, &world);
  device_->SetTransform(D3DTS_VIEW, &view);
  device_->SetTransform(D3DTS_PROJECTION, &proj);
  D3DMATERIAL9 material;
  material.Diffuse = {1, 1, 1, 1};
  material.Ambient = {1, 1, 1, 1};
  device_->SetMaterial(&material);
  device_->SetRenderState(D3DRS_LIGHTING, 1);
  device_->SetRenderState(D3DRS_AMBIENT, 0xFF202020u);
  D3DLIGHT9 light;
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {0.6f, 0.6f, 0.6f, 1};
  // From the upper left behind the eye toward the sphere.
  D3DXVECTOR3 dir(1, -1, 1);
  D3DXVec3Normalize(&dir, &dir);
  light.Direction = dir;
  device_->SetLight(0, &light);
  device_->LightEnable(0, 1);
  device_->SetTexture(0, nullptr);
  ASSERT_EQ(sphere->DrawSubset(0), D3D_OK);
  CBitmap frame;
  ASSERT_EQ(End(f, &frame, "lit_sphere"), D3D_OK);

  // Every pixel whose ray clearly hits the sphere has ambient + diffuse of the normal there;
  // every pixel clearly beside it keeps the clear colour.
  const float ys = 1.0f / std::tan(kPi / 8);
  int checked = 0;
  for (int py = 2; py < kSize; py += 5)
    for (int px = 2; px < kSize; px += 5) {
      const float nx = (2.0f * (px + 0.5f) / kSize - 1) / ys, ny = (1 - 2.0f * (py + 0.5f) / kSize) / ys;
      // Ray (0, 0, -3) + t (nx, ny, 1) against the unit sphere.
      const float a = nx * nx + ny * ny + 1, b = -6, c = 8;
      const float disc = b * b - 4 * a * c;
      const float edge = disc / (b * b);
      if (edge < 0.05f && edge > -0.05f) continue;  // near the outline
      const Argb got = frame.GetPixel(px, py);
      if (disc < 0) {
        EXPECT_EQ(got, 0xFF000040u) << px << "," << py;
        continue;
      }
      const float t = (-b - std::sqrt(disc)) / (2 * a);
      const D3DXVECTOR3 n(t * nx, t * ny, -3 + t);
      const float lambert = std::max(0.0f, -(n.x * dir.x + n.y * dir.y + n.z * dir.z));
      const int want = std::min(255, int(std::lround((32.0f / 255 + 0.6f * lambert) * 255)));
      EXPECT_LE(std::abs(Channel(got, 16) - want), 8) << px << "," << py << " got " << Hex(got) << " want " << want;
      EXPECT_EQ(Channel(got, 16), Channel(got, 0)) << px << "," << py;
      ++checked;
    }
  EXPECT_GT(checked, 100);
  sphere->Release();
}

TEST_F(R3dTest, IndexedDrawsWith16And32BitIndicesAndCulling) {
  const ColorVertex v[8] = {
      // left half, red; right half, green (clockwise on screen: front faces)
      {-1, 1, 0.5f, 0xFFFF0000u}, {0, 1, 0.5f, 0xFFFF0000u}, {-1, -1, 0.5f, 0xFFFF0000u}, {0, -1, 0.5f, 0xFFFF0000u},
      {0, 1, 0.5f, 0xFF00FF00u},  {1, 1, 0.5f, 0xFF00FF00u}, {0, -1, 0.5f, 0xFF00FF00u}, {1, -1, 0.5f, 0xFF00FF00u},
  };
  IDirect3DVertexBuffer9* vb = nullptr;
  ASSERT_EQ(device_->CreateVertexBuffer(sizeof v, 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED, &vb), D3D_OK);
  void* data = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
  std::memcpy(data, v, sizeof v);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  // The same quad twice: 16-bit indices for the left half, 32-bit ones (through the base vertex)
  // for the right half.
  const uint16_t i16[6] = {0, 1, 2, 2, 1, 3};
  const uint32_t i32[6] = {0, 1, 2, 2, 1, 3};
  IDirect3DIndexBuffer9* ib16 = nullptr;
  IDirect3DIndexBuffer9* ib32 = nullptr;
  ASSERT_EQ(device_->CreateIndexBuffer(sizeof i16, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib16), D3D_OK);
  ASSERT_EQ(device_->CreateIndexBuffer(sizeof i32, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib32), D3D_OK);
  ASSERT_EQ(ib16->Lock(0, 0, &data, 0), D3D_OK);
  std::memcpy(data, i16, sizeof i16);
  ib16->Unlock();
  ASSERT_EQ(ib32->Lock(0, 0, &data, 0), D3D_OK);
  std::memcpy(data, i32, sizeof i32);
  ib32->Unlock();

  Frame f = Begin(7, 40, 20);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
  Identity();
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  device_->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
  device_->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  device_->SetIndices(ib16);
  EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
  device_->SetIndices(ib32);
  EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2), D3D_OK);
  // Indices past the buffer's end are refused, not read.
  EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 3, 2), D3DERR_INVALIDCALL);
  CBitmap frame;
  ASSERT_EQ(End(f, &frame, "indexed"), D3D_OK);
  EXPECT_EQ(frame.GetPixel(5, 10), 0xFFFF0000u);
  EXPECT_EQ(frame.GetPixel(35, 10), 0xFF00FF00u);

  // Counter-clockwise triangles are culled by default and drawn with culling off; wireframe
  // draws the outline only.
  const uint16_t reversed[6] = {0, 2, 1, 2, 3, 1};
  ASSERT_EQ(ib16->Lock(0, 0, &data, 0), D3D_OK);
  std::memcpy(data, reversed, sizeof reversed);
  ib16->Unlock();
  Frame g = Begin(7, 40, 20);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
  device_->SetIndices(ib16);
  device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2);
  device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
  device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2);
  ASSERT_EQ(End(g, &frame, "culled_wireframe"), D3D_OK);
  EXPECT_EQ(frame.GetPixel(5, 10), 0xFF000000u);
  EXPECT_EQ(frame.GetPixel(27, 5), 0xFF000000u);  // inside a wireframe triangle
  int edge = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 20; x < 40; ++x) edge += frame.GetPixel(x, y) == 0xFF00FF00u ? 1 : 0;
  EXPECT_GT(edge, 15);  // the outlines are drawn
  EXPECT_LT(edge, 150);  // and only they

  vb->Release();
  ib16->Release();
  ib32->Release();
}

TEST_F(R3dTest, TextIsDrawnInsideItsRectangle) {
  ID3DXFont* font = nullptr;
  ASSERT_EQ(D3DXCreateFontA(device_, -12, 0, 100, 1, 0, 1, 0, 0, 0, "Arial", &font), D3D_OK);
  R3dRect measure{0, 0, 0, 0};
  EXPECT_EQ(font->DrawTextA(nullptr, "Velmora\n地图", -1, &measure, DT_CALCRECT, 0xFFFFFFFFu), 2 * font->LineHeight());
  EXPECT_GT(measure.right, 30);
  EXPECT_EQ(measure.bottom, 2 * font->LineHeight());

  Frame f = Begin(7, 120, 60);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
  R3dRect rect{4, 4, 4 + 20 * 9, 4 + 40};
  EXPECT_EQ(font->DrawTextA(nullptr, "Velmora\n地图", -1, &rect, DT_EXPANDTABS, 0xFFFF00FFu), 2 * font->LineHeight());
  // A rectangle too narrow for its text clips it.
  R3dRect narrow{4, 44, 14, 60};
  font->DrawTextA(nullptr, "WWWWWW", -1, &narrow, DT_EXPANDTABS, 0xFFFFFF00u);
  CBitmap frame;
  ASSERT_EQ(End(f, &frame, "text"), D3D_OK);
  int magenta = 0, outside = 0, yellow_beyond = 0, yellow = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 120; ++x) {
      const Argb p = frame.GetPixel(x, y);
      const bool is_magenta = Channel(p, 16) > 64 && Channel(p, 0) > 64 && Channel(p, 8) < 32;
      const bool is_yellow = Channel(p, 16) > 64 && Channel(p, 8) > 64 && Channel(p, 0) < 32;
      if (is_magenta) ++magenta;
      if (is_magenta && (y >= 44 || x < 3)) ++outside;
      if (is_yellow) ++yellow;
      if (is_yellow && x >= 14) ++yellow_beyond;
    }
  EXPECT_GT(magenta, 60);
  EXPECT_EQ(outside, 0);
  EXPECT_GT(yellow, 5);
  EXPECT_EQ(yellow_beyond, 0);
  font->Release();
}

TEST_F(R3dTest, RefusesSizesItCannotHold) {
  IDirect3DTexture9* t = nullptr;
  EXPECT_EQ(device_->CreateTexture(0, 0, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(256, 0, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(1u << 20, 1u << 20, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(256, 256, 10, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t), D3DERR_INVALIDCALL);
  EXPECT_EQ(t, nullptr);
  IDirect3DVertexBuffer9* vb = nullptr;
  EXPECT_EQ(device_->CreateVertexBuffer(0, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb), D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateVertexBuffer(0xFFFFFFFFu, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb), D3DERR_OUTOFVIDEOMEMORY);
  IDirect3DIndexBuffer9* ib = nullptr;
  EXPECT_EQ(device_->CreateIndexBuffer(1, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3DERR_INVALIDCALL);
  IDirect3DSurface9* s = nullptr;
  EXPECT_EQ(device_->CreateDepthStencilSurface(0, 0, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, 1, &s), D3DERR_INVALIDCALL);
  ID3DXMesh* mesh = nullptr;
  // 16-bit indices reach 65,535 vertices; more need the 32-bit option.
  EXPECT_EQ(D3DXCreateMeshFVF(10, 70000, D3DXMESH_MANAGED, 0x102, device_, &mesh), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateMeshFVF(0, 4, D3DXMESH_MANAGED, 0x102, device_, &mesh), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateMeshFVF(2, 4, D3DXMESH_MANAGED, 0x004, device_, &mesh), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateMeshFVF(0x7FFFFFFF, 100, D3DXMESH_MANAGED | D3DXMESH_32BIT, 0x102, device_, &mesh),
            D3DERR_INVALIDCALL);
  ASSERT_EQ(D3DXCreateMeshFVF(10, 70000, D3DXMESH_MANAGED | D3DXMESH_32BIT, 0x102, device_, &mesh), D3D_OK);
  EXPECT_EQ(mesh->GetNumBytesPerVertex(), 20u);
  mesh->Release();
  // A texture locked twice by one thread is refused the second time, and a lock outside the
  // level fails.
  ASSERT_EQ(device_->CreateTexture(16, 16, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  D3DLOCKED_RECT r;
  ASSERT_EQ(t->LockRect(0, &r, nullptr, 0), D3D_OK);
  EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->UnlockRect(0), D3D_OK);
  const R3dRect outside{8, 8, 17, 9};
  EXPECT_EQ(t->LockRect(0, &r, &outside, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);
  t->Release();
}

TEST_F(R3dTest, PicturesFillTexturesWithStraightColours) {
  // Rows of opaque pixels are copied whole; rows with translucent ones take straight colours:
  // every texel must be what the pixel-by-pixel conversion gives.
  CBitmap picture;
  ASSERT_TRUE(picture.Create(64, 8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint8_t a = (y % 2 == 0) ? 255 : uint8_t(x * 4);
      picture.SetPixel(x, y, MakeArgb(a, uint8_t(x * 3), uint8_t(y * 30), 200));
    }
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device_->CreateTexture(64, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
  ASSERT_EQ(FillTextureFromBitmap(texture, picture), D3D_OK);
  D3DLOCKED_RECT r;
  ASSERT_EQ(texture->LockRect(0, &r, nullptr, D3DLOCK_READONLY), D3D_OK);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint32_t got = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(r.pBits) + y * r.Pitch)[x];
      const Argb p = picture.Row(y)[x];
      ASSERT_EQ(got, ArgbA(p) == 255 ? p : Unpremultiply(p)) << x << "," << y;
    }
  texture->UnlockRect(0);
  texture->Release();

  // An X8 texture is opaque whatever its words' alpha: blended over blue it stays red.
  ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
  ASSERT_EQ(FillTextureColor(texture, 0x00FF0000u), D3D_OK);
  Frame f = Begin(7, 8, 8);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FFu, 1.0f, 0);
  Identity();
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  device_->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  DrawFullQuad(texture);
  CBitmap frame;
  ASSERT_EQ(End(f, &frame), D3D_OK);
  EXPECT_EQ(frame.GetPixel(4, 4), 0xFFFF0000u);
  texture->Release();
}

TEST_F(R3dTest, LostDeviceIsResetWithItsTexturesIntact) {
  IDirect3DTexture9* texture = Quadrants(8, 8);
  Frame f = Begin(7, 16, 16);
  Identity();
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  DrawFullQuad(texture);
  CBitmap frame;
  ASSERT_EQ(End(f, &frame), D3D_OK);
  EXPECT_EQ(frame.GetPixel(0, 0), 0xFFFF0000u);

  device_->NotifyDeviceLost();
  EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
  Frame g = Begin(7, 16, 16);
  EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00u, 1.0f, 0), D3D_OK);
  EXPECT_EQ(End(g, nullptr), D3DERR_DEVICELOST);
  D3DPRESENT_PARAMETERS pp = DeviceParams();
  EXPECT_EQ(device_->Reset(&pp), D3DERR_DEVICELOST);

  device_->NotifyDeviceRestorable();
  EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  ASSERT_EQ(device_->Reset(&pp), D3D_OK);
  EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
  // The new context has the texture again, uploaded from memory.
  Frame h = Begin(7, 16, 16);
  Identity();
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  DrawFullQuad(texture);
  ASSERT_EQ(End(h, &frame), D3D_OK);
  EXPECT_EQ(frame.GetPixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(frame.GetPixel(15, 15), 0xFFFFFFFFu);
  texture->Release();
}

TEST_F(R3dTest, PickingFindsTheNearestFace) {
  ID3DXMesh* sphere = nullptr;
  ASSERT_EQ(D3DXCreateSphere(device_, 2.0f, 32, 16, &sphere), D3D_OK);
  const D3DXVECTOR3 origin(0.1f, 0.2f, -10), dir(0, 0, 1);
  int hit = 0;
  uint32_t face = 0;
  float u = 0, v = 0, dist = 0;
  uint32_t count = 0;
  ASSERT_EQ(D3DXIntersect(sphere, &origin, &dir, &hit, &face, &u, &v, &dist, nullptr, &count), D3D_OK);
  EXPECT_EQ(hit, 1);
  EXPECT_EQ(count, 2u);  // in and out
  EXPECT_NEAR(dist, 10 - std::sqrt(4 - 0.05f), 0.05f);
  const D3DXVECTOR3 away(0, 0, -1);
  ASSERT_EQ(D3DXIntersect(sphere, &origin, &away, &hit, &face, &u, &v, &dist), D3D_OK);
  EXPECT_EQ(hit, 0);
  sphere->Release();
}

TEST(D3dxMath, MatricesMatchTheirDefinitions) {
  const D3DXVECTOR3 eye(1, 2, 3), at(1, 2, 10), up(0, 1, 0);
  D3DXMATRIX view;
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  // Looking down +z from (1, 2, 3): a pure translation.
  D3DXMATRIX expected;
  D3DXMatrixTranslation(&expected, -1, -2, -3);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(view(i, j), expected(i, j), 1e-6) << i << j;

  D3DXMATRIX proj;
  D3DXMatrixPerspectiveFovLH(&proj, kPi / 2, 2.0f, 1.0f, 101.0f);
  EXPECT_NEAR(proj(0, 0), 0.5f, 1e-6);
  EXPECT_NEAR(proj(1, 1), 1.0f, 1e-6);
  EXPECT_NEAR(proj(2, 2), 101.0f / 100.0f, 1e-6);
  EXPECT_EQ(proj(2, 3), 1.0f);
  EXPECT_NEAR(proj(3, 2), -101.0f / 100.0f, 1e-6);
  // The near plane maps to depth 0 and the far one to 1.
  D3DXVECTOR3 p(0, 0, 1), q;
  D3DXVec3TransformCoord(&q, &p, &proj);
  EXPECT_NEAR(q.z, 0.0f, 1e-6);
  p = D3DXVECTOR3(0, 0, 101);
  D3DXVec3TransformCoord(&q, &p, &proj);
  EXPECT_NEAR(q.z, 1.0f, 1e-6);

  // Yaw, pitch, roll = roll about z, then pitch about x, then yaw about y.
  D3DXMATRIX ypr, rz, rx, ry;
  D3DXMatrixRotationYawPitchRoll(&ypr, 0.3f, 0.2f, 0.1f);
  D3DXMatrixRotationZ(&rz, 0.1f);
  D3DXMatrixRotationX(&rx, 0.2f);
  D3DXMatrixRotationY(&ry, 0.3f);
  const D3DXMATRIX product = rz * rx * ry;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(ypr(i, j), product(i, j), 1e-6);
  // Left-handed: a quarter turn about y takes +z to +x.
  D3DXMatrixRotationY(&ry, kPi / 2);
  p = D3DXVECTOR3(0, 0, 1);
  D3DXVec3TransformCoord(&q, &p, &ry);
  EXPECT_NEAR(q.x, 1.0f, 1e-6);
  EXPECT_NEAR(q.z, 0.0f, 1e-6);

  // The quaternion product applies q1 first; its matrix equals the product of the matrices.
  const float h = std::sin(0.25f), c = std::cos(0.25f);
  const D3DXQUATERNION qx{h, 0, 0, c}, qy{0, h, 0, c};
  D3DXQUATERNION qq;
  D3DXQuaternionMultiply(&qq, &qx, &qy);
  D3DXMATRIX mq, mx, my;
  D3DXMatrixRotationQuaternion(&mq, &qq);
  D3DXMatrixRotationQuaternion(&mx, &qx);
  D3DXMatrixRotationQuaternion(&my, &qy);
  D3DXMatrixRotationX(&rx, 0.5f);
  const D3DXMATRIX xy = mx * my;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      EXPECT_NEAR(mq(i, j), xy(i, j), 1e-6);
      EXPECT_NEAR(mx(i, j), rx(i, j), 1e-6);
    }

  // The inverse of a camera matrix in kilometres.
  D3DXMATRIX inv, back;
  const D3DXVECTOR3 far_eye(6400, 100, -300), origin(0, 0, 0);
  D3DXMatrixLookAtLH(&view, &far_eye, &origin, &up);
  ASSERT_NE(D3DXMatrixInverse(&inv, nullptr, &view), nullptr);
  back = view * inv;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(back(i, j), i == j ? 1.0f : 0.0f, 1e-3);
  D3DXMATRIX singular{};
  EXPECT_EQ(D3DXMatrixInverse(&inv, nullptr, &singular), nullptr);
}

}  // namespace
}  // namespace velmora
