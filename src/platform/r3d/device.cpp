// The 3D device on OpenGL's compatibility profile: device states kept as set, brought to GL
// (fixed-function lighting, texture combiners, client arrays from buffer objects) before each
// draw, for the categories that changed.
#include "platform/r3d/device.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>

#include "platform/r3d/egl_context.h"
#include "platform/r3d/gl_api.h"
#include "platform/r3d/r3d_core.h"

namespace velmora {
namespace {

std::mutex g_error_mutex;
std::string& LastError() {
  static std::string error;
  return error;
}

// What changed since the last draw.
enum DirtyBits : uint32_t {
  kDirtyTarget = 1u << 0,
  kDirtyViewport = 1u << 1,
  kDirtyRaster = 1u << 2,
  kDirtyTransform = 1u << 3,
  kDirtyLighting = 1u << 4,
  kDirtyTextureStage = 1u << 5,
  kDirtyVertex = 1u << 6,
  kDirtyTextureBind = 1u << 7,
  kDirtyAll = 0xFFFFFFFFu,
};

GLenum CompareFunc(uint32_t f) {
  switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
  }
}

GLenum BlendFactor(uint32_t b) {
  switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    default: return GL_ONE;
  }
}

GLenum AddressMode(uint32_t a) {
  switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    default: return GL_REPEAT;
  }
}

GLenum PrimitiveMode(D3DPRIMITIVETYPE type) {
  switch (type) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
  }
}

// Vertices (or indices) that `count` primitives of a type take; 0 for an unknown type.
uint64_t VerticesFor(D3DPRIMITIVETYPE type, uint32_t count) {
  switch (type) {
    case D3DPT_POINTLIST: return count;
    case D3DPT_LINELIST: return 2ull * count;
    case D3DPT_LINESTRIP: return count + 1ull;
    case D3DPT_TRIANGLELIST: return 3ull * count;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return count + 2ull;
    default: return 0;
  }
}

void ColorToFloats(D3DCOLOR c, float out[4]) {
  out[0] = float((c >> 16) & 0xFF) / 255.0f;
  out[1] = float((c >> 8) & 0xFF) / 255.0f;
  out[2] = float(c & 0xFF) / 255.0f;
  out[3] = float((c >> 24) & 0xFF) / 255.0f;
}

void ColorValue(const D3DCOLORVALUE& c, float out[4]) {
  out[0] = c.r;
  out[1] = c.g;
  out[2] = c.b;
  out[3] = c.a;
}

// Device depth 0..1 and y downwards to GL's clip space: (x, y, z, w) -> (x, -y, 2z - w, w).
D3DXMATRIX GlClipFix() {
  D3DXMATRIX f;
  D3DXMatrixIdentity(&f);
  f(1, 1) = -1.0f;
  f(2, 2) = 2.0f;
  f(3, 2) = -1.0f;
  return f;
}

struct VertexLayout {
  uint32_t size = 0;
  int normal = -1, diffuse = -1, tex0 = -1;
};

VertexLayout LayoutOf(uint32_t fvf) {
  VertexLayout l;
  constexpr uint32_t kPsize = 0x020, kSpecular = 0x080;
  const uint32_t known = D3DFVF_XYZ | D3DFVF_NORMAL | kPsize | D3DFVF_DIFFUSE | kSpecular | D3DFVF_TEXCOUNT_MASK;
  if ((fvf & 0x00E) != D3DFVF_XYZ || (fvf & ~known) != 0) return l;
  uint32_t at = 12;
  if (fvf & D3DFVF_NORMAL) l.normal = int(at), at += 12;
  if (fvf & kPsize) at += 4;
  if (fvf & D3DFVF_DIFFUSE) l.diffuse = int(at), at += 4;
  if (fvf & kSpecular) at += 4;
  const uint32_t tex = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (tex > 8) return l;
  if (tex > 0) l.tex0 = int(at);
  at += 8 * tex;
  l.size = at;
  return l;
}

}  // namespace

std::string Direct3DLastError() {
  std::lock_guard<std::mutex> lock(g_error_mutex);
  return LastError();
}

// ---- adapter ----------------------------------------------------------------------------------
IDirect3D9* Direct3DCreate9(uint32_t sdk_version) {
  if (sdk_version != D3D_SDK_VERSION) {
    std::lock_guard<std::mutex> lock(g_error_mutex);
    LastError() = "unsupported SDK version";
    return nullptr;
  }
  std::string error;
  std::unique_ptr<EglContext> egl = EglContext::Create(&error);
  if (!egl) {
    std::lock_guard<std::mutex> lock(g_error_mutex);
    LastError() = error;
    return nullptr;
  }
  return new IDirect3D9(std::make_shared<R3dCore>(std::move(egl)));
}

IDirect3D9::IDirect3D9(std::shared_ptr<R3dCore> core) : core_(std::move(core)) {
  description_ = core_->Description();
  caps_.DeviceType = D3DDEVTYPE_HAL;
  caps_.MaxTextureWidth = core_->max_texture_size;
  caps_.MaxTextureHeight = core_->max_texture_size;
  caps_.MaxActiveLights = std::min<uint32_t>(core_->max_lights, kMaxActiveLights);
  caps_.MaxSimultaneousTextures = 1;
  caps_.MaxPrimitiveCount = 0x7FFFFFFF;
  caps_.MaxVertexIndex = 0xFFFFFFFF;
  caps_.MaxPointSize = core_->max_point_size;
}

IDirect3D9::~IDirect3D9() = default;

const std::string& IDirect3D9::Description() const { return description_; }

HRESULT IDirect3D9::GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) const {
  if (adapter != D3DADAPTER_DEFAULT || !mode) return D3DERR_INVALIDCALL;
  mode->Width = 1920;
  mode->Height = 1080;
  mode->RefreshRate = 60;
  mode->Format = D3DFMT_X8R8G8B8;
  return D3D_OK;
}

HRESULT IDirect3D9::GetDeviceCaps(uint32_t adapter, D3DDEVTYPE type, D3DCAPS9* caps) const {
  if (adapter != D3DADAPTER_DEFAULT || !caps || (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF))
    return D3DERR_INVALIDCALL;
  *caps = caps_;
  caps->DeviceType = type;
  return D3D_OK;
}

HRESULT IDirect3D9::CreateDevice(uint32_t adapter, D3DDEVTYPE type, R3dWindow, uint32_t, D3DPRESENT_PARAMETERS* params,
                                 IDirect3DDevice9** device) {
  if (!device) return D3DERR_INVALIDCALL;
  *device = nullptr;
  if (adapter != D3DADAPTER_DEFAULT || !params || (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF))
    return D3DERR_INVALIDCALL;
  std::shared_ptr<R3dCore> core;
  if (!core_taken_) {
    core = core_;
    core_taken_ = true;
  } else {
    // A second device gets a context of its own.
    std::string error;
    std::unique_ptr<EglContext> egl = EglContext::Create(&error);
    if (!egl) {
      std::lock_guard<std::mutex> lock(g_error_mutex);
      LastError() = error;
      return D3DERR_NOTAVAILABLE;
    }
    core = std::make_shared<R3dCore>(std::move(egl));
  }
  auto* created = new IDirect3DDevice9(core, *params, caps_);
  const HRESULT hr = created->MakeOwnTargets();
  if (FAILED(hr)) {
    created->Release();
    return hr;
  }
  *device = created;
  return D3D_OK;
}

// ---- device state -----------------------------------------------------------------------------
struct LightSlot {
  D3DLIGHT9 light;
  bool enabled = false;
};

struct IDirect3DDevice9::State {
  uint32_t rs[kRenderStateCount] = {};
  uint32_t tss[kTextureStageCount][kTextureStageStateCount] = {};
  uint32_t samp[kTextureStageCount][kSamplerStateCount] = {};
  D3DXMATRIX world, view, proj;
  D3DVIEWPORT9 viewport;
  R3dRect scissor;
  D3DMATERIAL9 material;
  std::map<uint32_t, LightSlot> lights;
  IDirect3DTexture9* textures[kTextureStageCount] = {};
  IDirect3DVertexBuffer9* stream = nullptr;
  uint32_t stream_offset = 0;
  uint32_t stream_stride = 0;
  uint32_t fvf = 0;
  IDirect3DIndexBuffer9* indices = nullptr;
  IDirect3DSurface9* target = nullptr;
  IDirect3DSurface9* depth = nullptr;

  void AddRefAll() const {
    for (auto* t : textures)
      if (t) t->AddRef();
    if (stream) stream->AddRef();
    if (indices) indices->AddRef();
    if (target) target->AddRef();
    if (depth) depth->AddRef();
  }
  void ReleaseAll() {
    for (auto*& t : textures)
      if (t) t->Release(), t = nullptr;
    if (stream) stream->Release(), stream = nullptr;
    if (indices) indices->Release(), indices = nullptr;
    if (target) target->Release(), target = nullptr;
    if (depth) depth->Release(), depth = nullptr;
  }
};

struct IDirect3DDevice9::StateBlock {
  State state;
  ~StateBlock() { state.ReleaseAll(); }
};

// What GL holds now (the GL objects of the device and the values last applied).
struct IDirect3DDevice9::Applied {
  uint32_t dirty = kDirtyAll;
  uint64_t generation = 0;
  GLuint fbo = 0;
  GLuint sampler = 0;
  GLuint stream_vbo = 0;
  GLuint attached_color = 0;
  GLuint attached_depth = 0;
  bool target_x8 = true;
  bool has_depth = false;
  GLuint vertex_vbo = 0;        // the buffer the vertex arrays point into
  uint32_t vertex_offset = 0;   // and where
  uint32_t vertex_stride = 0;
  uint32_t vertex_fvf = 0;
  bool texture_on = false;
};

IDirect3DDevice9::IDirect3DDevice9(std::shared_ptr<R3dCore> core, const D3DPRESENT_PARAMETERS& params,
                                   const D3DCAPS9& caps)
    : core_(std::move(core)),
      params_(params),
      caps_(caps),
      state_(std::make_unique<State>()),
      applied_(std::make_unique<Applied>()) {
  SetDefaults();
}

IDirect3DDevice9::~IDirect3DDevice9() {
  state_->ReleaseAll();
  if (own_back_) own_back_->Release();
  if (own_depth_) own_depth_->Release();
  ReleaseGl();
}

void IDirect3DDevice9::ReleaseGl() {
  const uint64_t g = applied_->generation;
  core_->QueueDelete(GlObjectKind::kFramebuffer, applied_->fbo, g);
  core_->QueueDelete(GlObjectKind::kSampler, applied_->sampler, g);
  core_->QueueDelete(GlObjectKind::kBuffer, applied_->stream_vbo, g);
  *applied_ = Applied();
}

void IDirect3DDevice9::SetDefaults() {
  State& s = *state_;
  for (uint32_t& v : s.rs) v = 0;
  s.rs[D3DRS_ZENABLE] = params_.EnableAutoDepthStencil ? 1 : 0;
  s.rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  s.rs[D3DRS_SHADEMODE] = 2;  // Gouraud
  s.rs[D3DRS_ZWRITEENABLE] = 1;
  s.rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  s.rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  s.rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  s.rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  s.rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  s.rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
  s.rs[D3DRS_LIGHTING] = 1;
  s.rs[D3DRS_COLORVERTEX] = 1;
  s.rs[D3DRS_LOCALVIEWER] = 1;
  s.rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  s.rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  s.rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  s.rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  s.rs[D3DRS_POINTSIZE] = FloatToStateValue(1.0f);
  s.rs[D3DRS_POINTSIZE_MIN] = FloatToStateValue(1.0f);
  s.rs[D3DRS_POINTSIZE_MAX] = FloatToStateValue(caps_.MaxPointSize);
  s.rs[D3DRS_POINTSCALE_A] = FloatToStateValue(1.0f);
  for (uint32_t stage = 0; stage < kTextureStageCount; ++stage) {
    uint32_t* t = s.tss[stage];
    for (uint32_t i = 0; i < kTextureStageStateCount; ++i) t[i] = 0;
    t[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = stage;
    uint32_t* p = s.samp[stage];
    for (uint32_t i = 0; i < kSamplerStateCount; ++i) p[i] = 0;
    p[D3DSAMP_ADDRESSU] = p[D3DSAMP_ADDRESSV] = p[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    p[D3DSAMP_MAGFILTER] = p[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    p[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
  }
  D3DXMatrixIdentity(&s.world);
  D3DXMatrixIdentity(&s.view);
  D3DXMatrixIdentity(&s.proj);
  s.material = D3DMATERIAL9();
  s.lights.clear();
  s.fvf = 0;
  s.stream_offset = s.stream_stride = 0;
  s.viewport = D3DVIEWPORT9{0, 0, std::max(1u, params_.BackBufferWidth), std::max(1u, params_.BackBufferHeight), 0, 1};
  s.scissor = R3dRect{0, 0, static_cast<int>(s.viewport.Width), static_cast<int>(s.viewport.Height)};
  applied_->dirty = kDirtyAll;
}

HRESULT IDirect3DDevice9::MakeOwnTargets() {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (own_back_) own_back_->Release(), own_back_ = nullptr;
  if (own_depth_) own_depth_->Release(), own_depth_ = nullptr;
  const uint32_t w = std::max(1u, params_.BackBufferWidth), h = std::max(1u, params_.BackBufferHeight);
  if (w > core_->max_renderbuffer_size || h > core_->max_renderbuffer_size) return D3DERR_INVALIDCALL;
  own_back_ = new IDirect3DSurface9(core_, core_->TakeSurface(w, h, D3DFMT_X8R8G8B8));
  if (params_.EnableAutoDepthStencil) {
    if (params_.AutoDepthStencilFormat != D3DFMT_D16) return D3DERR_INVALIDCALL;
    own_depth_ = new IDirect3DSurface9(core_, core_->TakeSurface(w, h, D3DFMT_D16));
  }
  SetRenderTarget(0, own_back_);
  SetDepthStencilSurface(own_depth_);
  return D3D_OK;
}

HRESULT IDirect3DDevice9::TestCooperativeLevel() {
  switch (core_->Lost()) {
    case LostState::kLost: return D3DERR_DEVICELOST;
    case LostState::kNotReset: return D3DERR_DEVICENOTRESET;
    default: return D3D_OK;
  }
}

HRESULT IDirect3DDevice9::Reset(D3DPRESENT_PARAMETERS* params) {
  if (!params) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (scene_depth_) return D3DERR_INVALIDCALL;
  const LostState lost = core_->Lost();
  if (lost == LostState::kLost) return D3DERR_DEVICELOST;
  state_->ReleaseAll();
  if (lost == LostState::kNotReset) {
    // Every GL object dies with the old context; resources upload themselves into the new one.
    *applied_ = Applied();
    std::string error;
    if (!core_->RecreateContext(&error)) {
      std::lock_guard<std::mutex> error_lock(g_error_mutex);
      LastError() = error;
      return D3DERR_NOTAVAILABLE;
    }
  }
  params_ = *params;
  SetDefaults();
  const HRESULT hr = MakeOwnTargets();
  if (FAILED(hr)) return hr;
  core_->SetLost(LostState::kOk);
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetDeviceCaps(D3DCAPS9* caps) const {
  if (!caps) return D3DERR_INVALIDCALL;
  *caps = caps_;
  return D3D_OK;
}

const std::string& IDirect3DDevice9::Description() const { return core_->Description(); }

void IDirect3DDevice9::NotifyDeviceLost() { core_->SetLost(LostState::kLost); }

void IDirect3DDevice9::NotifyDeviceRestorable() {
  if (core_->Lost() == LostState::kLost) core_->SetLost(LostState::kNotReset);
}

bool IDirect3DDevice9::CopyPresentedFrame(R3dWindow window, CBitmap* out) const {
  return out && core_->CopyFrame(window, out);
}

bool IDirect3DDevice9::CopyPresentedFrameInto(R3dWindow window, CBitmap* out) const {
  return out && core_->CopyFrameInto(window, out);
}

void IDirect3DDevice9::SetFrameSink(std::function<void(R3dWindow)> sink) { core_->SetFrameSink(std::move(sink)); }

void IDirect3DDevice9::ForgetWindow(R3dWindow window) { core_->ForgetFrame(window); }

uint32_t IDirect3DDevice9::VertexSize(uint32_t fvf) { return LayoutOf(fvf).size; }

// ---- resources --------------------------------------------------------------------------------
HRESULT IDirect3DDevice9::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t, D3DFORMAT format,
                                        D3DPOOL pool, IDirect3DTexture9** texture, void*) {
  if (!texture) return D3DERR_INVALIDCALL;
  *texture = nullptr;
  if (width == 0 || height == 0 || width > caps_.MaxTextureWidth || height > caps_.MaxTextureHeight)
    return D3DERR_INVALIDCALL;
  if (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8) return D3DERR_INVALIDCALL;
  if (uint64_t(width) * height * 4 > kMaxResourceBytes) return D3DERR_OUTOFVIDEOMEMORY;
  uint32_t full = 1;
  for (uint32_t side = std::max(width, height); side > 1; side >>= 1) ++full;
  if (levels == 0) levels = full;
  if (levels > full) return D3DERR_INVALIDCALL;
  try {
    *texture = new IDirect3DTexture9(core_, width, height, levels, format, pool);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

HRESULT IDirect3DDevice9::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, D3DPOOL pool,
                                             IDirect3DVertexBuffer9** buffer, void*) {
  if (!buffer) return D3DERR_INVALIDCALL;
  *buffer = nullptr;
  if (length == 0) return D3DERR_INVALIDCALL;
  if (length > kMaxResourceBytes) return D3DERR_OUTOFVIDEOMEMORY;
  try {
    *buffer = new IDirect3DVertexBuffer9(core_, std::vector<uint8_t>(length, 0), usage, fvf, pool);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

HRESULT IDirect3DDevice9::CreateIndexBuffer(uint32_t length, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DIndexBuffer9** buffer, void*) {
  if (!buffer) return D3DERR_INVALIDCALL;
  *buffer = nullptr;
  const uint32_t unit = format == D3DFMT_INDEX16 ? 2 : format == D3DFMT_INDEX32 ? 4 : 0;
  if (unit == 0 || length < unit) return D3DERR_INVALIDCALL;
  if (length > kMaxResourceBytes) return D3DERR_OUTOFVIDEOMEMORY;
  try {
    *buffer = new IDirect3DIndexBuffer9(core_, std::vector<uint8_t>(length, 0), usage, format, pool);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

HRESULT IDirect3DDevice9::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* params, IDirect3DSwapChain9** swap_chain) {
  if (!swap_chain) return D3DERR_INVALIDCALL;
  *swap_chain = nullptr;
  if (!params) return D3DERR_INVALIDCALL;
  D3DPRESENT_PARAMETERS p = *params;
  // A window of no size still gets a frame (of one pixel).
  p.BackBufferWidth = std::max(1u, p.BackBufferWidth);
  p.BackBufferHeight = std::max(1u, p.BackBufferHeight);
  if (p.BackBufferWidth > core_->max_renderbuffer_size || p.BackBufferHeight > core_->max_renderbuffer_size)
    return D3DERR_INVALIDCALL;
  if (p.BackBufferFormat != D3DFMT_X8R8G8B8 && p.BackBufferFormat != D3DFMT_A8R8G8B8 &&
      p.BackBufferFormat != D3DFMT_UNKNOWN)
    return D3DERR_INVALIDCALL;
  p.BackBufferFormat = D3DFMT_X8R8G8B8;
  *params = p;
  auto* back = new IDirect3DSurface9(core_, core_->TakeSurface(p.BackBufferWidth, p.BackBufferHeight, D3DFMT_X8R8G8B8));
  *swap_chain = new IDirect3DSwapChain9(core_, p, back);
  return D3D_OK;
}

HRESULT IDirect3DDevice9::CreateDepthStencilSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                                    D3DMULTISAMPLE_TYPE multisample, uint32_t, int,
                                                    IDirect3DSurface9** surface, void*) {
  if (!surface) return D3DERR_INVALIDCALL;
  *surface = nullptr;
  if (width == 0 || height == 0 || width > core_->max_renderbuffer_size || height > core_->max_renderbuffer_size ||
      format != D3DFMT_D16 || multisample != D3DMULTISAMPLE_NONE)
    return D3DERR_INVALIDCALL;
  *surface = new IDirect3DSurface9(core_, core_->TakeSurface(width, height, D3DFMT_D16));
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetBackBuffer(uint32_t swap_chain, uint32_t index, D3DBACKBUFFER_TYPE type,
                                        IDirect3DSurface9** out) {
  if (!out || swap_chain != 0 || index != 0 || type != D3DBACKBUFFER_TYPE_MONO || !own_back_)
    return D3DERR_INVALIDCALL;
  own_back_->AddRef();
  *out = own_back_;
  return D3D_OK;
}

// ---- targets, viewport, states ----------------------------------------------------------------
HRESULT IDirect3DDevice9::SetRenderTarget(uint32_t index, IDirect3DSurface9* surface) {
  if (index != 0 || !surface) return D3DERR_INVALIDCALL;
  D3DSURFACE_DESC desc;
  surface->GetDesc(&desc);
  if (desc.Format == D3DFMT_D16) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  surface->AddRef();
  if (state_->target) state_->target->Release();
  state_->target = surface;
  state_->viewport = D3DVIEWPORT9{0, 0, desc.Width, desc.Height, 0, 1};
  state_->scissor = R3dRect{0, 0, static_cast<int>(desc.Width), static_cast<int>(desc.Height)};
  applied_->dirty |= kDirtyTarget | kDirtyViewport | kDirtyRaster;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetRenderTarget(uint32_t index, IDirect3DSurface9** surface) {
  if (index != 0 || !surface) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  *surface = state_->target;
  if (!*surface) return D3DERR_NOTAVAILABLE;
  (*surface)->AddRef();
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetDepthStencilSurface(IDirect3DSurface9* surface) {
  if (surface) {
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    if (desc.Format != D3DFMT_D16) return D3DERR_INVALIDCALL;
  }
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (surface) surface->AddRef();
  if (state_->depth) state_->depth->Release();
  state_->depth = surface;
  applied_->dirty |= kDirtyTarget | kDirtyRaster;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetViewport(const D3DVIEWPORT9* viewport) {
  if (!viewport) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  state_->viewport = *viewport;
  applied_->dirty |= kDirtyViewport | kDirtyRaster;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetViewport(D3DVIEWPORT9* viewport) const {
  if (!viewport) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  *viewport = state_->viewport;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetScissorRect(const R3dRect* rect) {
  if (!rect) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  state_->scissor = *rect;
  applied_->dirty |= kDirtyRaster;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetRenderState(D3DRENDERSTATETYPE type, uint32_t value) {
  if (type >= kRenderStateCount) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (state_->rs[type] == value) return D3D_OK;
  state_->rs[type] = value;
  switch (type) {
    case D3DRS_LIGHTING:
    case D3DRS_AMBIENT:
    case D3DRS_SPECULARENABLE:
    case D3DRS_COLORVERTEX:
    case D3DRS_LOCALVIEWER:
    case D3DRS_NORMALIZENORMALS:
    case D3DRS_DIFFUSEMATERIALSOURCE:
    case D3DRS_SPECULARMATERIALSOURCE:
    case D3DRS_AMBIENTMATERIALSOURCE:
    case D3DRS_EMISSIVEMATERIALSOURCE:
      applied_->dirty |= kDirtyLighting;
      break;
    case D3DRS_TEXTUREFACTOR:
      applied_->dirty |= kDirtyTextureStage;
      break;
    default:
      applied_->dirty |= kDirtyRaster;
      break;
  }
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetRenderState(D3DRENDERSTATETYPE type, uint32_t* value) const {
  if (type >= kRenderStateCount || !value) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  *value = state_->rs[type];
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t value) {
  if (stage >= kTextureStageCount || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  state_->tss[stage][type] = value;
  if (stage == 0) applied_->dirty |= kDirtyTextureStage;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t* value) const {
  if (stage >= kTextureStageCount || type >= kTextureStageStateCount || !value) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  *value = state_->tss[stage][type];
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t value) {
  if (sampler >= kTextureStageCount || type >= kSamplerStateCount) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  state_->samp[sampler][type] = value;
  if (sampler == 0) applied_->dirty |= kDirtyTextureStage;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t* value) const {
  if (sampler >= kTextureStageCount || type >= kSamplerStateCount || !value) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  *value = state_->samp[sampler][type];
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DXMATRIX* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  switch (type) {
    case D3DTS_WORLD: state_->world = *matrix; break;
    case D3DTS_VIEW: state_->view = *matrix; break;
    case D3DTS_PROJECTION: state_->proj = *matrix; break;
    default: return D3DERR_INVALIDCALL;
  }
  applied_->dirty |= kDirtyTransform;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetTransform(D3DTRANSFORMSTATETYPE type, D3DXMATRIX* matrix) const {
  if (!matrix) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  switch (type) {
    case D3DTS_WORLD: *matrix = state_->world; break;
    case D3DTS_VIEW: *matrix = state_->view; break;
    case D3DTS_PROJECTION: *matrix = state_->proj; break;
    default: return D3DERR_INVALIDCALL;
  }
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetMaterial(const D3DMATERIAL9* material) {
  if (!material) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  state_->material = *material;
  applied_->dirty |= kDirtyLighting;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetMaterial(D3DMATERIAL9* material) const {
  if (!material) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  *material = state_->material;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetLight(uint32_t index, const D3DLIGHT9* light) {
  if (!light || light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  state_->lights[index].light = *light;
  applied_->dirty |= kDirtyLighting;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetLight(uint32_t index, D3DLIGHT9* light) const {
  if (!light) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  auto it = state_->lights.find(index);
  if (it == state_->lights.end()) return D3DERR_INVALIDCALL;
  *light = it->second.light;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::LightEnable(uint32_t index, int enable) {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  auto it = state_->lights.find(index);
  if (it == state_->lights.end()) {
    // A light enabled before it was set is a white directional light along +z.
    LightSlot slot;
    slot.light.Type = D3DLIGHT_DIRECTIONAL;
    slot.light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
    slot.light.Direction = D3DVECTOR{0, 0, 1};
    it = state_->lights.emplace(index, slot).first;
  }
  if (enable) {
    size_t on = 0;
    for (const auto& [i, l] : state_->lights) on += (l.enabled && i != index) ? 1 : 0;
    if (on >= caps_.MaxActiveLights) return D3DERR_INVALIDCALL;
  }
  it->second.enabled = enable != 0;
  applied_->dirty |= kDirtyLighting;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetLightEnable(uint32_t index, int* enable) const {
  if (!enable) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  auto it = state_->lights.find(index);
  if (it == state_->lights.end()) return D3DERR_INVALIDCALL;
  *enable = it->second.enabled ? 1 : 0;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetTexture(uint32_t stage, IDirect3DTexture9* texture) {
  if (stage >= kTextureStageCount) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (state_->textures[stage] == texture) return D3D_OK;
  if (texture) texture->AddRef();
  if (state_->textures[stage]) state_->textures[stage]->Release();
  state_->textures[stage] = texture;
  if (stage == 0) applied_->dirty |= kDirtyTextureBind;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetStreamSource(uint32_t stream, IDirect3DVertexBuffer9* buffer, uint32_t offset,
                                          uint32_t stride) {
  if (stream != 0) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (buffer) buffer->AddRef();
  if (state_->stream) state_->stream->Release();
  state_->stream = buffer;
  state_->stream_offset = offset;
  state_->stream_stride = stride;
  applied_->dirty |= kDirtyVertex;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetFVF(uint32_t fvf) {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (state_->fvf == fvf) return D3D_OK;
  state_->fvf = fvf;
  applied_->dirty |= kDirtyVertex | kDirtyLighting;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::GetFVF(uint32_t* fvf) const {
  if (!fvf) return D3DERR_INVALIDCALL;
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  *fvf = state_->fvf;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::SetIndices(IDirect3DIndexBuffer9* indices) {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (indices) indices->AddRef();
  if (state_->indices) state_->indices->Release();
  state_->indices = indices;
  return D3D_OK;
}

void IDirect3DDevice9::StateBlockDeleter::operator()(StateBlock* block) const { delete block; }

IDirect3DDevice9::StateBlockPtr IDirect3DDevice9::CaptureState() const {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  StateBlockPtr block(new StateBlock);
  block->state = *state_;
  block->state.AddRefAll();
  return block;
}

void IDirect3DDevice9::ApplyState(const StateBlock& block) {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  block.state.AddRefAll();
  state_->ReleaseAll();
  *state_ = block.state;
  applied_->dirty = kDirtyAll;
}

// ---- GL application ---------------------------------------------------------------------------
bool IDirect3DDevice9::PrepareTarget() {
  Applied& a = *applied_;
  const State& s = *state_;
  if (a.generation != core_->Generation()) {
    *applied_ = Applied();
    a.generation = core_->Generation();
  }
  if (!s.target) return false;
  if (a.fbo == 0) {
    glGenFramebuffers(1, &a.fbo);
    glGenSamplers(1, &a.sampler);
    glGenBuffers(1, &a.stream_vbo);
    a.dirty = kDirtyAll;
  }
  if (a.dirty & kDirtyTarget) {
    glBindFramebuffer(GL_FRAMEBUFFER, a.fbo);
    SurfaceStorage& color = s.target->Storage();
    core_->EnsureSurface(color);
    if (color.name != a.attached_color) {
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.name);
      a.attached_color = color.name;
    }
    GLuint depth = 0;
    if (s.depth) {
      core_->EnsureSurface(s.depth->Storage());
      depth = s.depth->Storage().name;
    }
    if (depth != a.attached_depth) {
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
      a.attached_depth = depth;
    }
    a.has_depth = depth != 0;
    a.target_x8 = color.format != D3DFMT_A8R8G8B8;
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
    a.dirty &= ~kDirtyTarget;
  } else {
    glBindFramebuffer(GL_FRAMEBUFFER, a.fbo);
  }
  if (a.dirty & kDirtyViewport) {
    const D3DVIEWPORT9& v = s.viewport;
    glViewport(static_cast<GLint>(v.X), static_cast<GLint>(v.Y), static_cast<GLsizei>(v.Width),
               static_cast<GLsizei>(v.Height));
    glDepthRange(v.MinZ, v.MaxZ);
    a.dirty &= ~kDirtyViewport;
  }
  return true;
}

void IDirect3DDevice9::ApplyRaster() {
  const uint32_t* rs = state_->rs;
  const Applied& a = *applied_;
  switch (rs[D3DRS_FILLMODE]) {
    case D3DFILL_POINT: glPolygonMode(GL_FRONT_AND_BACK, GL_POINT); break;
    case D3DFILL_WIREFRAME: glPolygonMode(GL_FRONT_AND_BACK, GL_LINE); break;
    default: glPolygonMode(GL_FRONT_AND_BACK, GL_FILL); break;
  }
  // With y flipped, the device's clockwise triangles are GL's counter-clockwise ones.
  glFrontFace(GL_CCW);
  switch (rs[D3DRS_CULLMODE]) {
    case D3DCULL_NONE: glDisable(GL_CULL_FACE); break;
    case D3DCULL_CW:
      glEnable(GL_CULL_FACE);
      glCullFace(GL_FRONT);
      break;
    default:
      glEnable(GL_CULL_FACE);
      glCullFace(GL_BACK);
      break;
  }
  if (rs[D3DRS_ZENABLE] && a.has_depth) {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(CompareFunc(rs[D3DRS_ZFUNC]));
  } else {
    glDisable(GL_DEPTH_TEST);
  }
  glDepthMask(rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
  if (rs[D3DRS_ALPHATESTENABLE]) {
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(CompareFunc(rs[D3DRS_ALPHAFUNC]), float(rs[D3DRS_ALPHAREF] & 0xFF) / 255.0f);
  } else {
    glDisable(GL_ALPHA_TEST);
  }
  if (rs[D3DRS_ALPHABLENDENABLE]) {
    glEnable(GL_BLEND);
    glBlendFunc(BlendFactor(rs[D3DRS_SRCBLEND]), BlendFactor(rs[D3DRS_DESTBLEND]));
  } else {
    glDisable(GL_BLEND);
  }
  if (rs[D3DRS_SCISSORTESTENABLE]) {
    const R3dRect& r = state_->scissor;
    glEnable(GL_SCISSOR_TEST);
    glScissor(r.left, r.top, std::max(0, r.Width()), std::max(0, r.Height()));
  } else {
    glDisable(GL_SCISSOR_TEST);
  }
  glDisable(GL_FOG);
  glShadeModel(rs[D3DRS_SHADEMODE] == 1 ? GL_FLAT : GL_SMOOTH);
  glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
  // Points: in pixels; with scaling on, the size is relative to the viewport's height and falls
  // off with the distance as the three factors say.
  float size = StateValueToFloat(rs[D3DRS_POINTSIZE]);
  if (rs[D3DRS_POINTSCALEENABLE]) {
    // size · height / sqrt(A + B·d + C·d²), with the size folded into the factors: the size
    // alone (a sprite of hundreds of kilometres seen from far) may pass the largest point GL
    // draws, which only the result must not.
    const float scaled = size * float(state_->viewport.Height);
    const float k = scaled > 0 ? 1.0f / (scaled * scaled) : 1.0f;
    const GLfloat att[3] = {StateValueToFloat(rs[D3DRS_POINTSCALE_A]) * k, StateValueToFloat(rs[D3DRS_POINTSCALE_B]) * k,
                            StateValueToFloat(rs[D3DRS_POINTSCALE_C]) * k};
    glPointParameterfv(GL_POINT_DISTANCE_ATTENUATION, att);
    size = 1.0f;
  } else {
    const GLfloat att[3] = {1, 0, 0};
    glPointParameterfv(GL_POINT_DISTANCE_ATTENUATION, att);
  }
  glPointSize(std::clamp(size, 1.0f, caps_.MaxPointSize));
  glPointParameterf(GL_POINT_SIZE_MIN, StateValueToFloat(rs[D3DRS_POINTSIZE_MIN]));
  glPointParameterf(GL_POINT_SIZE_MAX, std::min(StateValueToFloat(rs[D3DRS_POINTSIZE_MAX]), caps_.MaxPointSize));
  glActiveTexture(GL_TEXTURE0);
  if (rs[D3DRS_POINTSPRITEENABLE]) {
    glEnable(GL_POINT_SPRITE);
    glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, GL_TRUE);
  } else {
    glDisable(GL_POINT_SPRITE);
    glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, GL_FALSE);
  }
  // An X8 target keeps alpha at 1.
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, a.target_x8 ? GL_FALSE : GL_TRUE);
}

void IDirect3DDevice9::ApplyTransformsAndLights() {
  const State& s = *state_;
  const uint32_t* rs = s.rs;
  static const D3DXMATRIX fix = GlClipFix();
  const D3DXMATRIX proj = s.proj * fix;
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(proj.Data());
  glMatrixMode(GL_MODELVIEW);
  if (rs[D3DRS_LIGHTING]) {
    glEnable(GL_LIGHTING);
    // Light positions and directions are in world space: GL takes them through the modelview
    // matrix in force when they are given, so that is the view matrix here.
    glLoadMatrixf(s.view.Data());
    GLenum gl_light = GL_LIGHT0;
    for (const auto& [index, slot] : s.lights) {
      if (!slot.enabled || gl_light >= GL_LIGHT0 + std::min<uint32_t>(core_->max_lights, kMaxActiveLights)) continue;
      const D3DLIGHT9& l = slot.light;
      float c[4];
      ColorValue(l.Ambient, c);
      glLightfv(gl_light, GL_AMBIENT, c);
      ColorValue(l.Diffuse, c);
      glLightfv(gl_light, GL_DIFFUSE, c);
      ColorValue(l.Specular, c);
      glLightfv(gl_light, GL_SPECULAR, c);
      if (l.Type == D3DLIGHT_DIRECTIONAL) {
        const GLfloat p[4] = {-l.Direction.x, -l.Direction.y, -l.Direction.z, 0.0f};
        glLightfv(gl_light, GL_POSITION, p);
        glLightf(gl_light, GL_SPOT_CUTOFF, 180.0f);
        glLightf(gl_light, GL_CONSTANT_ATTENUATION, 1.0f);
        glLightf(gl_light, GL_LINEAR_ATTENUATION, 0.0f);
        glLightf(gl_light, GL_QUADRATIC_ATTENUATION, 0.0f);
      } else {
        const GLfloat p[4] = {l.Position.x, l.Position.y, l.Position.z, 1.0f};
        glLightfv(gl_light, GL_POSITION, p);
        const bool any = l.Attenuation0 != 0 || l.Attenuation1 != 0 || l.Attenuation2 != 0;
        glLightf(gl_light, GL_CONSTANT_ATTENUATION, any ? l.Attenuation0 : 1.0f);
        glLightf(gl_light, GL_LINEAR_ATTENUATION, l.Attenuation1);
        glLightf(gl_light, GL_QUADRATIC_ATTENUATION, l.Attenuation2);
        if (l.Type == D3DLIGHT_SPOT) {
          const GLfloat d[3] = {l.Direction.x, l.Direction.y, l.Direction.z};
          glLightfv(gl_light, GL_SPOT_DIRECTION, d);
          glLightf(gl_light, GL_SPOT_CUTOFF, std::clamp(l.Phi * 0.5f * 57.29578f, 0.0f, 90.0f));
          glLightf(gl_light, GL_SPOT_EXPONENT, std::clamp(l.Falloff, 0.0f, 128.0f));
        } else {
          glLightf(gl_light, GL_SPOT_CUTOFF, 180.0f);
        }
      }
      glEnable(gl_light);
      ++gl_light;
    }
    for (; gl_light < GL_LIGHT0 + kMaxActiveLights; ++gl_light) glDisable(gl_light);
    float ambient[4];
    ColorToFloats(rs[D3DRS_AMBIENT], ambient);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, rs[D3DRS_LOCALVIEWER] ? GL_TRUE : GL_FALSE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL,
                  rs[D3DRS_SPECULARENABLE] ? GL_SEPARATE_SPECULAR_COLOR : GL_SINGLE_COLOR);
    if (rs[D3DRS_NORMALIZENORMALS])
      glEnable(GL_NORMALIZE);
    else
      glDisable(GL_NORMALIZE);
    float m[4];
    ColorValue(s.material.Ambient, m);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m);
    ColorValue(s.material.Diffuse, m);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m);
    if (rs[D3DRS_SPECULARENABLE]) {
      ColorValue(s.material.Specular, m);
    } else {
      m[0] = m[1] = m[2] = 0;
      m[3] = 1;
    }
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m);
    ColorValue(s.material.Emissive, m);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, m);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::clamp(s.material.Power, 0.0f, 128.0f));
    // Vertex colours stand in for material colours as the material sources say.
    const bool vertex_color = (s.fvf & D3DFVF_DIFFUSE) && rs[D3DRS_COLORVERTEX];
    const bool diffuse = vertex_color && rs[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1;
    const bool ambient_src = vertex_color && rs[D3DRS_AMBIENTMATERIALSOURCE] == D3DMCS_COLOR1;
    const bool emissive = vertex_color && rs[D3DRS_EMISSIVEMATERIALSOURCE] == D3DMCS_COLOR1;
    if (diffuse || ambient_src || emissive) {
      glColorMaterial(GL_FRONT_AND_BACK, diffuse && ambient_src ? GL_AMBIENT_AND_DIFFUSE
                                         : diffuse              ? GL_DIFFUSE
                                         : ambient_src          ? GL_AMBIENT
                                                                : GL_EMISSION);
      glEnable(GL_COLOR_MATERIAL);
    } else {
      glDisable(GL_COLOR_MATERIAL);
    }
  } else {
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
  }
  const D3DXMATRIX model_view = s.world * s.view;
  glLoadMatrixf(model_view.Data());
}

void IDirect3DDevice9::ApplyTextureStage(bool full) {
  const State& s = *state_;
  Applied& a = *applied_;
  const uint32_t* t = s.tss[0];
  IDirect3DTexture9* texture = s.textures[0];
  glActiveTexture(GL_TEXTURE0);
  if (!texture || t[D3DTSS_COLOROP] == D3DTOP_DISABLE) {
    if (a.texture_on) glDisable(GL_TEXTURE_2D);
    a.texture_on = false;
    return;
  }
  texture->BindGl(*core_);
  if (!a.texture_on) glEnable(GL_TEXTURE_2D);
  a.texture_on = true;
  if (!full) return;
  auto source = [](uint32_t arg) -> GLint {
    switch (arg & 0x7) {
      case D3DTA_TEXTURE: return GL_TEXTURE;
      case D3DTA_TFACTOR: return GL_CONSTANT;
      default: return GL_PRIMARY_COLOR;  // diffuse, and the current colour of the first stage
    }
  };
  auto combine = [&](uint32_t op, uint32_t arg1, uint32_t arg2, GLenum mode_name, GLenum src0, GLenum src1,
                     GLenum scale_name) {
    GLint mode = GL_MODULATE, s0 = source(arg1), s1 = source(arg2);
    GLfloat scale = 1.0f;
    switch (op) {
      case D3DTOP_SELECTARG1: mode = GL_REPLACE; break;
      case D3DTOP_SELECTARG2:
        mode = GL_REPLACE;
        s0 = s1;
        break;
      case D3DTOP_MODULATE2X: scale = 2.0f; break;
      case D3DTOP_MODULATE4X: scale = 4.0f; break;
      case D3DTOP_ADD: mode = GL_ADD; break;
      case D3DTOP_DISABLE:
        mode = GL_REPLACE;
        s0 = GL_PRIMARY_COLOR;
        break;
      default: break;
    }
    glTexEnvi(GL_TEXTURE_ENV, mode_name, mode);
    glTexEnvi(GL_TEXTURE_ENV, src0, s0);
    glTexEnvi(GL_TEXTURE_ENV, src1, s1);
    glTexEnvf(GL_TEXTURE_ENV, scale_name, scale);
  };
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
  combine(t[D3DTSS_COLOROP], t[D3DTSS_COLORARG1], t[D3DTSS_COLORARG2], GL_COMBINE_RGB, GL_SRC0_RGB, GL_SRC1_RGB,
          GL_RGB_SCALE);
  combine(t[D3DTSS_ALPHAOP], t[D3DTSS_ALPHAARG1], t[D3DTSS_ALPHAARG2], GL_COMBINE_ALPHA, GL_SRC0_ALPHA,
          GL_SRC1_ALPHA, GL_ALPHA_SCALE);
  glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_RGB, GL_SRC_COLOR);
  glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND1_RGB, GL_SRC_COLOR);
  glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_ALPHA, GL_SRC_ALPHA);
  glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND1_ALPHA, GL_SRC_ALPHA);
  float factor[4];
  ColorToFloats(s.rs[D3DRS_TEXTUREFACTOR], factor);
  glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, factor);

  const uint32_t* p = s.samp[0];
  const bool mag_linear = p[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR;
  const bool min_linear = p[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
  GLint min_filter = min_linear ? GL_LINEAR : GL_NEAREST;
  if (p[D3DSAMP_MIPFILTER] == D3DTEXF_POINT)
    min_filter = min_linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  else if (p[D3DSAMP_MIPFILTER] >= D3DTEXF_LINEAR)
    min_filter = min_linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
  glSamplerParameteri(a.sampler, GL_TEXTURE_MAG_FILTER, mag_linear ? GL_LINEAR : GL_NEAREST);
  glSamplerParameteri(a.sampler, GL_TEXTURE_MIN_FILTER, min_filter);
  glSamplerParameteri(a.sampler, GL_TEXTURE_WRAP_S, static_cast<GLint>(AddressMode(p[D3DSAMP_ADDRESSU])));
  glSamplerParameteri(a.sampler, GL_TEXTURE_WRAP_T, static_cast<GLint>(AddressMode(p[D3DSAMP_ADDRESSV])));
  glBindSampler(0, a.sampler);
}

bool IDirect3DDevice9::ApplyVertexArrays(const uint8_t* client_base) {
  const State& s = *state_;
  Applied& a = *applied_;
  const VertexLayout layout = LayoutOf(s.fvf);
  if (layout.size == 0) return false;
  GLuint vbo = 0;
  uint32_t offset = 0, stride = 0;
  if (client_base) {
    vbo = a.stream_vbo;
    stride = s.stream_stride;
  } else {
    if (!s.stream) return false;
    vbo = s.stream->BindGl(*core_, GL_ARRAY_BUFFER);
    if (vbo == 0) return false;
    offset = s.stream_offset;
    stride = s.stream_stride ? s.stream_stride : layout.size;
  }
  if (!(a.dirty & kDirtyVertex) && !client_base && vbo == a.vertex_vbo && offset == a.vertex_offset &&
      stride == a.vertex_stride && s.fvf == a.vertex_fvf)
    return true;
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  auto at = [&](int field) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(offset) + field); };
  // Which arrays are on, and the current normal and colour that stand in for missing ones, change
  // only with the vertex format (setting a current value makes GL look at its vertex state again).
  const bool new_format = s.fvf != a.vertex_fvf || a.vertex_vbo == 0;
  if (new_format) {
    glEnableClientState(GL_VERTEX_ARRAY);
    if (layout.normal >= 0) {
      glEnableClientState(GL_NORMAL_ARRAY);
    } else {
      glDisableClientState(GL_NORMAL_ARRAY);
      glNormal3f(0, 0, 0);  // no normal: lights add nothing but their ambient part
    }
    if (layout.diffuse >= 0) {
      glEnableClientState(GL_COLOR_ARRAY);
    } else {
      glDisableClientState(GL_COLOR_ARRAY);
      glColor4f(1, 1, 1, 1);  // no colour: white
    }
    glClientActiveTexture(GL_TEXTURE0);
    if (layout.tex0 >= 0)
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    else
      glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  glVertexPointer(3, GL_FLOAT, static_cast<GLsizei>(stride), at(0));
  if (layout.normal >= 0) glNormalPointer(GL_FLOAT, static_cast<GLsizei>(stride), at(layout.normal));
  if (layout.diffuse >= 0) glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(stride), at(layout.diffuse));
  if (layout.tex0 >= 0) glTexCoordPointer(2, GL_FLOAT, static_cast<GLsizei>(stride), at(layout.tex0));
  a.vertex_vbo = vbo;
  a.vertex_offset = offset;
  a.vertex_stride = stride;
  a.vertex_fvf = s.fvf;
  a.dirty &= ~kDirtyVertex;
  if (client_base) a.dirty |= kDirtyVertex;  // the stream buffer is refilled by every such draw
  return true;
}

bool IDirect3DDevice9::PrepareDraw(bool) {
  if (!PrepareTarget()) return false;
  Applied& a = *applied_;
  if (a.dirty & kDirtyRaster) {
    ApplyRaster();
    a.dirty &= ~kDirtyRaster;
  }
  if (a.dirty & (kDirtyTransform | kDirtyLighting)) {
    ApplyTransformsAndLights();
    a.dirty &= ~(kDirtyTransform | kDirtyLighting);
  }
  if (a.dirty & (kDirtyTextureStage | kDirtyTextureBind)) {
    // A texture of the stage is enabled only while it is bound, so the first texture after a
    // stretch without one sets the combiner up as well.
    ApplyTextureStage((a.dirty & kDirtyTextureStage) != 0 || !a.texture_on);
    a.dirty &= ~(kDirtyTextureStage | kDirtyTextureBind);
  } else if (a.texture_on) {
    state_->textures[0]->BindGl(*core_);  // uploads a texture filled since the last draw
  }
  return true;
}

// ---- drawing ----------------------------------------------------------------------------------
HRESULT IDirect3DDevice9::BeginScene() {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (scene_depth_) return D3DERR_INVALIDCALL;
  if (!core_->Enter()) return D3DERR_DRIVERINTERNALERROR;
  scene_depth_ = 1;
  return D3D_OK;
}

HRESULT IDirect3DDevice9::EndScene() {
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (!scene_depth_) return D3DERR_INVALIDCALL;
  scene_depth_ = 0;
  core_->Leave();
  return D3D_OK;
}

HRESULT IDirect3DDevice9::Clear(uint32_t count, const R3dRect* rects, uint32_t flags, D3DCOLOR color, float z,
                                uint32_t) {
  if (count > 0 && !rects) return D3DERR_INVALIDCALL;
  if (core_->Lost() != LostState::kOk) return D3D_OK;
  GlScope scope(*core_);
  if (!scope.ok()) return D3DERR_DRIVERINTERNALERROR;
  if (!PrepareTarget()) return D3DERR_INVALIDCALL;
  GLbitfield mask = 0;
  if (flags & D3DCLEAR_TARGET) {
    float c[4];
    ColorToFloats(color, c);
    if (applied_->target_x8) c[3] = 1.0f;
    glClearColor(c[0], c[1], c[2], c[3]);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if ((flags & D3DCLEAR_ZBUFFER) && applied_->has_depth) {
    glClearDepth(std::clamp(z, 0.0f, 1.0f));
    glDepthMask(GL_TRUE);
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  if (mask) {
    const D3DVIEWPORT9& v = state_->viewport;
    const R3dRect whole{static_cast<int>(v.X), static_cast<int>(v.Y), static_cast<int>(v.X + v.Width),
                        static_cast<int>(v.Y + v.Height)};
    // A clear of the whole target goes without the scissor: the rasteriser then clears in bulk.
    const SurfaceStorage& target = state_->target->Storage();
    const bool whole_target = count == 0 && v.X == 0 && v.Y == 0 && v.Width >= target.width && v.Height >= target.height;
    if (whole_target)
      glDisable(GL_SCISSOR_TEST);
    else
      glEnable(GL_SCISSOR_TEST);
    const uint32_t n = count > 0 ? count : 1;
    for (uint32_t i = 0; i < n; ++i) {
      R3dRect r = whole;
      if (count > 0) {
        r.left = std::max(r.left, rects[i].left);
        r.top = std::max(r.top, rects[i].top);
        r.right = std::min(r.right, rects[i].right);
        r.bottom = std::min(r.bottom, rects[i].bottom);
      }
      if (r.right <= r.left || r.bottom <= r.top) continue;
      glScissor(r.left, r.top, r.Width(), r.Height());
      glClear(mask);
    }
    applied_->dirty |= kDirtyRaster;  // scissor and masks are the states' again at the next draw
  }
  return D3D_OK;
}

HRESULT IDirect3DDevice9::DrawPrimitive(D3DPRIMITIVETYPE type, uint32_t start_vertex, uint32_t primitive_count) {
  const uint64_t vertices = VerticesFor(type, primitive_count);
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (!scene_depth_ || vertices == 0) return D3DERR_INVALIDCALL;
  const State& s = *state_;
  const uint32_t stride = s.stream_stride ? s.stream_stride : VertexSize(s.fvf);
  if (!s.stream || stride == 0 ||
      uint64_t(s.stream_offset) + (uint64_t(start_vertex) + vertices) * stride > s.stream->Size())
    return D3DERR_INVALIDCALL;
  if (core_->Lost() != LostState::kOk) return D3D_OK;
  if (!PrepareDraw(false) || !ApplyVertexArrays(nullptr)) return D3DERR_INVALIDCALL;
  glDrawArrays(PrimitiveMode(type), static_cast<GLint>(start_vertex), static_cast<GLsizei>(vertices));
  return D3D_OK;
}

HRESULT IDirect3DDevice9::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, int base_vertex, uint32_t, uint32_t,
                                               uint32_t start_index, uint32_t primitive_count) {
  const uint64_t count = VerticesFor(type, primitive_count);
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (!scene_depth_ || count == 0 || !state_->indices || !state_->stream) return D3DERR_INVALIDCALL;
  const uint32_t unit = state_->indices->Format() == D3DFMT_INDEX32 ? 4 : 2;
  if ((uint64_t(start_index) + count) * unit > state_->indices->Size()) return D3DERR_INVALIDCALL;
  if (core_->Lost() != LostState::kOk) return D3D_OK;
  if (!PrepareDraw(true) || !ApplyVertexArrays(nullptr)) return D3DERR_INVALIDCALL;
  if (state_->indices->BindGl(*core_, GL_ELEMENT_ARRAY_BUFFER) == 0) return D3DERR_INVALIDCALL;
  glDrawElementsBaseVertex(PrimitiveMode(type), static_cast<GLsizei>(count),
                           unit == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                           reinterpret_cast<const void*>(static_cast<uintptr_t>(start_index) * unit), base_vertex);
  return D3D_OK;
}

HRESULT IDirect3DDevice9::DrawPrimitiveUP(D3DPRIMITIVETYPE type, uint32_t primitive_count, const void* vertices,
                                          uint32_t stride) {
  const uint64_t count = VerticesFor(type, primitive_count);
  std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
  if (!scene_depth_ || count == 0 || !vertices || stride == 0 || count * stride > kMaxResourceBytes)
    return D3DERR_INVALIDCALL;
  SetStreamSource(0, nullptr, 0, stride);
  if (core_->Lost() != LostState::kOk) return D3D_OK;
  if (!PrepareDraw(false)) return D3DERR_INVALIDCALL;
  glBindBuffer(GL_ARRAY_BUFFER, applied_->stream_vbo);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count * stride), vertices, GL_STREAM_DRAW);
  if (!ApplyVertexArrays(static_cast<const uint8_t*>(vertices))) return D3DERR_INVALIDCALL;
  glDrawArrays(PrimitiveMode(type), 0, static_cast<GLsizei>(count));
  state_->stream_stride = 0;
  return D3D_OK;
}

}  // namespace velmora
