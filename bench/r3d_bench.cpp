// 3D device speed on the machine's OpenGL (Mesa's software rasteriser headless): frames of a
// 1920 x 1080 scene of 200 textured tile meshes (the 3D tile view's load) drawn through the
// device layer, beside the same scene drawn with plain OpenGL calls (vertex and index buffers,
// the same textures, the same readback of the frame) on a context of its own; and the time to
// build and upload one tile mesh both ways. Prints the ratios; the goal is 1.2 or better.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "platform/r3d/d3dx_texture.h"
#include "support/temp_dir.h"
#include "terrain/3d_mesh.h"
#include "terrain/d3d_context.h"
#include "terrain/d3d_scene.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kColumns = 20, kRows = 10;  // 200 tiles of zoom 11 over 115.5..119 E
constexpr int kZoom = 11;
constexpr int kSource = 0;
constexpr float kPi = 3.14159265358979323846f;

struct Fixture {
  std::unique_ptr<test::TempDir> dir;
  std::unique_ptr<ScopedAppOptions> options;
  std::unique_ptr<CElevationStore> elevation;
  std::unique_ptr<CTileManager> tiles;
  std::vector<TileKey> keys;
  std::vector<std::unique_ptr<C3DMesh>> meshes;
  D3DXVECTOR3 eye, target;
};
Fixture g;

TileKey KeyOf(int i) {
  const int x0 = static_cast<int>(MercatorLngToX(115.5, kZoom) / 256);
  const int y0 = static_cast<int>(MercatorLatToY(38.0, kZoom) / 256);
  return MakeTileKey(x0 + i % kColumns, y0 + i / kColumns, kSource * kZoomsPerSource + kZoom);
}

// A map-like picture that differs from tile to tile.
std::vector<uint8_t> TilePicture(int i) {
  CBitmap b;
  b.Create(256, 256, MakeArgb(255, uint8_t(80 + (i * 37) % 160), uint8_t(120 + (i * 53) % 120), uint8_t(90 + (i * 29) % 150)));
  CGraphics gr(b);
  for (int k = 0; k < 256; k += 32) {
    gr.DrawLine(Pen{0xFFFFFFFFu, 2}, float(k), 0, float(k), 256);
    gr.DrawLine(Pen{0xFF404040u, 1}, 0, float(k), 256, float(k));
  }
  gr.FillEllipse(0xFFE0A030u, GfxRect{60, 60, 100, 70});
  gr.Flush();
  std::vector<uint8_t> bytes;
  EncodeImage(b, ImageType::kPng, &bytes);
  return bytes;
}

bool BuildFixture() {
  g.dir = std::make_unique<test::TempDir>();
  g.options = std::make_unique<ScopedAppOptions>([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  if (!g_D3DContext.CreateD3DDevice(1)) return false;
  const std::string heights = g.dir->File("heights/");
  if (WriteHeightFile3s(heights, 60, 5, NamedHeightFunction("hills")).empty()) return false;
  g.elevation = std::make_unique<CElevationStore>(nullptr, heights);
  TileManagerOptions o;
  o.data_dir = g.dir->File("tiles/");
  o.download_threads = 1;
  o.offline = true;
  o.use_download_list = false;
  g.tiles = std::make_unique<CTileManager>(o);
  CTileStore* store = g.tiles->OpenStore(kSource);
  if (!store) return false;
  for (int i = 0; i < kColumns * kRows; ++i) {
    g.keys.push_back(KeyOf(i));
    const std::vector<uint8_t> png = TilePicture(i);
    store->Write(g.keys.back(), png.data(), png.size(), false);
  }
  if (!g.tiles->Start()) return false;
  for (TileKey key : g.keys) {
    auto mesh = std::make_unique<C3DMesh>(TileKeyLow(key), TileKeyHigh(key));
    mesh->SetSources(g.tiles.get(), g.elevation.get());
    mesh->BuildTileMesh(kKindMercator);
    mesh->UploadTileTexture();
    if (!IsLoadedState(g.tiles->WaitForState(key, 20000))) return false;
    mesh->UploadTileTexture();
    if (!(mesh->BuildState() & kMeshTextureFilled)) return false;
    g.meshes.push_back(std::move(mesh));
  }
  // Above the block's middle, far enough for all of it to be in sight.
  float x, y, z;
  LngLatToXYZ(117.25f, 37.3f, 0, &x, &y, &z);
  g.target = D3DXVECTOR3(x, y, z);
  D3DXVECTOR3 dir;
  D3DXVec3Normalize(&dir, &g.target);
  g.eye = g.target + dir * 240.0f;
  return true;
}

void Camera(float aspect, D3DXMATRIX* view, D3DXMATRIX* proj) {
  const D3DXVECTOR3 up(0, 1, 0);
  D3DXMatrixLookAtLH(view, &g.eye, &g.target, &up);
  D3DXMatrixPerspectiveFovLH(proj, kPi / 4, aspect, 1.0f, 12756.0f);
}

// ---- through the device layer -------------------------------------------------------------
class TilesScene : public CD3DScene {
 public:
  explicit TilesScene(std::vector<C3DMesh*> meshes) : meshes_(std::move(meshes)) {}
  void SetupCamera() override { Camera(aspect_, &view_, &projection_); }
  void DrawScene() override {
    IDirect3DDevice9* d = g_pD3DDevice;
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    d->SetRenderState(D3DRS_LIGHTING, 0);
    d->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFFu);
    d->SetRenderState(D3DRS_FILLMODE, static_cast<uint32_t>(g_D3DContext.FillMode()));
    for (C3DMesh* m : meshes_) m->Draw();
  }

 private:
  std::vector<C3DMesh*> meshes_;
};

std::vector<C3DMesh*> AllMeshes() {
  std::vector<C3DMesh*> out;
  for (auto& m : g.meshes) out.push_back(m.get());
  return out;
}

void Frames_Ours(benchmark::State& state) {
  TilesScene scene(AllMeshes());
  scene.Resize(kWidth, kHeight);
  scene.Render(100);  // first frame uploads everything
  for (auto _ : state) {
    if (scene.Render(100) != D3D_OK) state.SkipWithError("frame failed");
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- plain OpenGL -------------------------------------------------------------------------
struct PlainGl {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  GLuint fbo = 0, color = 0, depth = 0;
  std::vector<GLuint> vbo, ibo, tex;
  GLsizei index_count = 0;
  std::vector<uint32_t> pixels;

  bool Open() {
    auto get = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    display = get ? get(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr) : EGL_NO_DISPLAY;
    EGLint major, minor;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) return false;
    eglBindAPI(EGL_OPENGL_API);
    const EGLint attribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_OPENGL_PROFILE_MASK,
                              EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attribs);
    return context != EGL_NO_CONTEXT && Current();
  }
  bool Current() { return eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE; }
  void Release() { eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }

  // The same vertices, indices and pictures as the device's meshes, in GL objects of our own.
  void Upload() {
    glGenFramebuffers(1, &fbo);
    glGenRenderbuffers(1, &color);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, kWidth, kHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    for (auto& m : g.meshes) {
      ID3DXMesh* mesh = m->Mesh();
      void* data = nullptr;
      GLuint b[2];
      glGenBuffers(2, b);
      mesh->LockVertexBuffer(D3DLOCK_READONLY, &data);
      glBindBuffer(GL_ARRAY_BUFFER, b[0]);
      glBufferData(GL_ARRAY_BUFFER, mesh->GetNumVertices() * sizeof(MeshVertex), data, GL_STATIC_DRAW);
      mesh->UnlockVertexBuffer();
      mesh->LockIndexBuffer(D3DLOCK_READONLY, &data);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b[1]);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, mesh->GetNumFaces() * 6, data, GL_STATIC_DRAW);
      mesh->UnlockIndexBuffer();
      index_count = static_cast<GLsizei>(mesh->GetNumFaces() * 3);
      vbo.push_back(b[0]);
      ibo.push_back(b[1]);
      CBitmap picture;
      TextureToBitmap(m->Texture(), &picture);
      GLuint t;
      glGenTextures(1, &t);
      glBindTexture(GL_TEXTURE_2D, t);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 256, 256, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, picture.Pixels());
      tex.push_back(t);
    }
    pixels.resize(size_t(kWidth) * kHeight);
  }

  // One frame: the scene's matrices (row-vector, y flipped and depth remapped for GL as the
  // device does), every mesh, the readback.
  void Frame() {
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glViewport(0, 0, kWidth, kHeight);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glDisable(GL_LIGHTING);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    D3DXMATRIX view, proj, fix;
    Camera(float(kWidth) / kHeight, &view, &proj);
    D3DXMatrixIdentity(&fix);
    fix(1, 1) = -1;
    fix(2, 2) = 2;
    fix(3, 2) = -1;
    const D3DXMATRIX p = proj * fix;
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(p.Data());
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(view.Data());
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    for (size_t i = 0; i < vbo.size(); ++i) {
      glBindTexture(GL_TEXTURE_2D, tex[i]);
      glBindBuffer(GL_ARRAY_BUFFER, vbo[i]);
      glVertexPointer(3, GL_FLOAT, sizeof(MeshVertex), nullptr);
      glTexCoordPointer(2, GL_FLOAT, sizeof(MeshVertex), reinterpret_cast<const void*>(12));
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo[i]);
      glDrawElements(GL_TRIANGLES, index_count, GL_UNSIGNED_SHORT, nullptr);
    }
    glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
  }
};
PlainGl plain;

void Frames_PlainGl(benchmark::State& state) {
  plain.Current();
  plain.Frame();
  for (auto _ : state) plain.Frame();
  plain.Release();
  state.SetItemsProcessed(state.iterations());
}

// ---- one tile mesh built and uploaded -------------------------------------------------------
void TileMesh_Ours(benchmark::State& state) {
  C3DMesh mesh(TileKeyLow(g.keys[0]), TileKeyHigh(g.keys[0]));
  mesh.SetSources(g.tiles.get(), g.elevation.get());
  TilesScene scene({&mesh});
  scene.Resize(64, 64);
  size_t i = 0;
  for (auto _ : state) {
    const TileKey key = g.keys[++i % g.keys.size()];
    mesh.SetTileKey(TileKeyLow(key), TileKeyHigh(key));
    mesh.BuildTileMesh(kKindMercator);
    mesh.UploadTileTexture();
    scene.Render(101);  // the upload to GL happens when the frame binds the mesh
  }
  state.SetItemsProcessed(state.iterations());
}

void TileMesh_PlainGl(benchmark::State& state) {
  plain.Current();
  GLuint b[3], fbo, rb[2];
  glGenBuffers(2, b);
  glGenTextures(1, &b[2]);
  glGenFramebuffers(1, &fbo);
  glGenRenderbuffers(2, rb);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[0]);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 64, 64);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[1]);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, 64, 64);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[0]);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, rb[1]);
  const int n = 16;
  std::vector<uint16_t> indices;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      const int w = n + 1;
      indices.insert(indices.end(), {uint16_t(w * r + c + 1), uint16_t(w * (r + 1) + c), uint16_t(w * r + c),
                                     uint16_t(w * (r + 1) + c + 1), uint16_t(w * (r + 1) + c), uint16_t(w * r + c + 1)});
    }
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b[1]);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * 2, indices.data(), GL_STATIC_DRAW);
  glBindTexture(GL_TEXTURE_2D, b[2]);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 256, 256, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  std::vector<MeshVertex> vertices((n + 1) * (n + 1));
  std::vector<uint32_t> texels(256 * 256), readback(64 * 64);
  const IntPair factor = ProgramSettings().GetIntPair("REG_DEM_FACTOR", IntPair{1, 0});
  size_t i = 0;
  for (auto _ : state) {
    const TileKey key = g.keys[++i % g.keys.size()];
    // The same vertices as the tile mesh builds.
    const TileKeyParts parts = SplitTileKey(key);
    const double lon0 = MercatorXToLng(256.0 * parts.x, kZoom), lat0 = MercatorYToLat(256.0 * parts.y, kZoom);
    const double lon1 = MercatorXToLng(256.0 * (parts.x + 1) + 16, kZoom),
                 lat1 = MercatorYToLat(256.0 * (parts.y + 1) + 16, kZoom);
    const double d_lon = (lon1 - lon0) / (n + 1), d_lat = (lat0 - lat1) / (n + 1);
    const int resolution = static_cast<int>(40075016.68557849 / (256.0 * (1 << kZoom)));
    size_t at = 0;
    for (int r = 0; r <= n; ++r)
      for (int c = 0; c <= n; ++c) {
        float pos[2] = {float(lon0 + c * d_lon), float(lat0 - r * d_lat)};
        const float lon = pos[0], lat = pos[1];
        float h = kNoElevation;
        g.elevation->GetElevation(pos, &h, resolution);
        if (h == kNoElevation) h = 0;
        MeshVertex& v = vertices[at++];
        LngLatToXYZ(lon, lat, float((factor.a * h + factor.b) * 0.001), &v.x, &v.y, &v.z);
        v.u = float(c) / n;
        v.v = float(r) / n;
      }
    const CBitmap* picture = g.tiles->GetTile(key)->LoadedImage();
    std::memcpy(texels.data(), picture->Pixels(), texels.size() * 4);
    glBindBuffer(GL_ARRAY_BUFFER, b[0]);
    glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(MeshVertex), vertices.data(), GL_STATIC_DRAW);
    glBindTexture(GL_TEXTURE_2D, b[2]);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 256, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels.data());
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glViewport(0, 0, 64, 64);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(MeshVertex), nullptr);
    glTexCoordPointer(2, GL_FLOAT, sizeof(MeshVertex), reinterpret_cast<const void*>(12));
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b[1]);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_SHORT, nullptr);
    glReadPixels(0, 0, 64, 64, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, readback.data());
  }
  glDeleteBuffers(2, b);
  glDeleteTextures(1, &b[2]);
  glDeleteFramebuffers(1, &fbo);
  glDeleteRenderbuffers(2, rb);
  plain.Release();
  state.SetItemsProcessed(state.iterations());
}

// Both ways draw the same picture: pixels that differ by more than a rounding step.
void CompareFrames() {
  TilesScene scene(AllMeshes());
  scene.Resize(kWidth, kHeight);
  scene.Render(100);
  CBitmap ours;
  g_pD3DDevice->CopyPresentedFrame(100, &ours);
  plain.Current();
  plain.Frame();
  plain.Release();
  size_t differ = 0, covered = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t a = ours.Row(y)[x], b = plain.pixels[size_t(y) * kWidth + x];
      covered += (a & 0xFFFFFF) != 0 ? 1 : 0;
      for (int s : {0, 8, 16})
        if (std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)) > 2) {
          ++differ;
          break;
        }
    }
  std::printf("frame: %.1f%% of the pixels show tiles; %zu pixels differ between the two ways\n",
              100.0 * covered / (double(kWidth) * kHeight), differ);
}


}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  // Repetitions of the two ways run interleaved, so that a busy machine slows both alike.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  SetLogToStderr(false);
  if (!BuildFixture() || !plain.Open()) {
    std::fprintf(stderr, "no OpenGL context or fixture: %s\n", Direct3DLastError().c_str());
    return 1;
  }
  plain.Upload();
  plain.Release();
  std::printf("%s\n", g_pD3DDevice->Description().c_str());
  CompareFrames();
  constexpr int kRepetitions = 6;
  benchmark::RegisterBenchmark("Frames1080p/200tiles/device", Frames_Ours)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions)->MinTime(0.5);
  benchmark::RegisterBenchmark("Frames1080p/200tiles/plainGL", Frames_PlainGl)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions)->MinTime(0.5);
  benchmark::RegisterBenchmark("TileMeshBuildUpload/device", TileMesh_Ours)
      ->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(kRepetitions)->MinTime(0.3);
  benchmark::RegisterBenchmark("TileMeshBuildUpload/plainGL", TileMesh_PlainGl)
      ->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(kRepetitions)->MinTime(0.3);
  bench::BestRateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* what, const char* ours, const char* theirs) {
    const double a = reporter.Rate(ours), b = reporter.Rate(theirs);
    if (a > 0 && b > 0)
      std::printf("%-36s device %9.1f/s  plain GL %9.1f/s  plain/device %.2f (best of %d; goal <= 1.2)\n",
                  what, a, b, b / a, kRepetitions);
  };
  std::printf("\n");
  ratio("frames, 1920x1080, 200 tile meshes", "Frames1080p/200tiles/device", "Frames1080p/200tiles/plainGL");
  ratio("one tile mesh built and uploaded", "TileMeshBuildUpload/device", "TileMeshBuildUpload/plainGL");
  g.meshes.clear();
  g.tiles->Stop();
  benchmark::Shutdown();
  return 0;
}
