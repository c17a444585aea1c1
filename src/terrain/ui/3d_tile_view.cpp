// The 3D tile view: camera handling, input, the scene, the hand-over to and from the 2D map, and
// the model export.
#include "terrain/ui/3d_tile_view.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "platform/r3d/d3dx_texture.h"
#include "platform/ui/file_dialog.h"
#include "shapes/polyline_shape.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/map_status_bar.h"
#include "terrain/d3d_context.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

constexpr UINT_PTR kLoaderTimer = 1;
constexpr int kGlobeSlices = 240;
constexpr int kGlobeStacks = 120;
constexpr D3DCOLOR kOverlayColor = 0xFFFFFF00u;

// Local time as the C library's "%c" writes it in the C locale, whatever locale is set.
std::string LocalTimeText() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return FormatC("%s %s %2d %02d:%02d:%02d %d", kDays[t.tm_wday % 7], kMonths[t.tm_mon % 12], t.tm_mday, t.tm_hour,
                 t.tm_min, t.tm_sec, t.tm_year + 1900);
}

IDirect3DTexture9* SolidTexture(D3DCOLOR color) {
  IDirect3DTexture9* texture = nullptr;
  if (!g_pD3DDevice || FAILED(D3DXCreateTexture(g_pD3DDevice, 4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture)))
    return nullptr;
  FillTextureColor(texture, color);
  return texture;
}

}  // namespace

C3DTileView::C3DTileView() {
  MapMessage(WM_SHOWWINDOW, [this](WPARAM w, LPARAM) -> LRESULT {
    OnShowWindow(w != 0);
    return 0;
  });
  MapTimer(kLoaderTimer, [this] {
    // One loader step on the user-interface thread (under the tile lock, as the loader's).
    if (pool_.LoadStep()) Invalidate();
  });
  MapCommand(ID_3D_EXPORT_MODEL, [this] { OnExportModel(); });
  MapCommand(ID_3D_REFRESH, [this] { UpdateVisibleTiles(); });
}

C3DTileView::~C3DTileView() {
  DestroyWindow();
  pool_.Release();
  if (pending_) pending_->Release();
  if (bare_globe_) bare_globe_->Release();
}

void C3DTileView::SetSources(CTileManager* tiles, CElevationStore* elevation) {
  tiles_ = tiles;
  elevation_ = elevation;
  pool_.SetSources(tiles, elevation);
}

void C3DTileView::SetLayers(std::vector<MapLayer> layers) {
  layers_ = std::move(layers);
  layers_set_ = true;
}

void C3DTileView::PickLayer() {
  if (!layers_set_) {
    layers_.clear();
    if (IMapViewState* map = CurrentMapView()) layers_ = map->CopyLayerList();
  }
  if (!layers_.empty()) {
    layer_ = layers_.front();
    return;
  }
  // No map view to copy: the catalogue's first map source.
  for (const MapSourceDef& source : LayerManager().Sources()) {
    if (source.IsGeocoder()) continue;
    layer_.source_id = source.id;
    layer_.kind = source.kind;
    return;
  }
}

int C3DTileView::OnCreate() {
  CRenderWnd::OnCreate();
  double yaw = GetProfileDouble(k3DTileViewSection, "yaw", 0.0);
  double pitch = GetProfileDouble(k3DTileViewSection, "pitch", 0.0);
  camera_.yaw = std::isfinite(yaw) ? static_cast<float>(std::fmod(yaw, 360.0)) : 0.0f;
  camera_.pitch = std::isfinite(pitch) ? static_cast<float>(std::fmod(pitch, 360.0)) : 0.0f;
  if (g_pD3DDevice) {
    globe_.Create(kGlobeSlices, kGlobeStacks);
    pending_ = SolidTexture(kPendingTileColor);
    bare_globe_ = SolidTexture(kBareGlobeColor);
  }
  PickLayer();
  pool_.StartLoader([this] { Invalidate(); });
  return 0;
}

void C3DTileView::OnDestroy() {
  pool_.StopLoader(3000);
  pool_.ClearVisible();
  lines_.clear();
  map_lines_.clear();
  WriteProfileDouble(k3DTileViewSection, "yaw", camera_.yaw);
  WriteProfileDouble(k3DTileViewSection, "pitch", camera_.pitch);
  CRenderWnd::OnDestroy();
}

void C3DTileView::GetCamera(double* lng, double* lat, double* level) const {
  if (lng) *lng = camera_.lng;
  if (lat) *lat = camera_.lat;
  if (level) *level = camera_.level;
}

void C3DTileView::SetCamera(double lng, double lat, double level, bool) {
  if (lng == camera_.lng && lat == camera_.lat && level == camera_.level) {
    Invalidate();
    return;
  }
  ClampTileViewCamera(layer_.kind, &lng, &lat, &level);
  camera_.lng = lng;
  camera_.lat = lat;
  camera_.level = level;
  MapStatusBar().SetViewCenter(static_cast<float>(lng), static_cast<float>(lat), static_cast<float>(level));
  UpdateVisibleTiles();
  Invalidate();
}

void C3DTileView::SetTilt(float yaw, float pitch) {
  camera_.yaw = std::isfinite(yaw) ? yaw : 0.0f;
  camera_.pitch = std::isfinite(pitch) ? pitch : 0.0f;
  UpdateVisibleTiles();
  Invalidate();
}

void C3DTileView::FollowView(IChildView* source) {
  if (!source || source == this) return;
  if (const auto* map = dynamic_cast<const CPDView*>(source)) {
    map_lines_.clear();
    map->CopyPolylinesTo3D([this](const CPolylineShape& shape) {
      auto line = std::make_unique<C3DLine>(shape);
      if (line->Buffer()) map_lines_.push_back(std::move(line));
    });
  }
  double lng = 0, lat = 0, level = 0;
  source->GetCamera(&lng, &lat, &level);
  SetCamera(lng, lat, level, true);
  Invalidate();
}

int C3DTileView::LoadShapes(std::vector<CMapShape*>& shapes, bool centre) {
  C3DLine* last = nullptr;
  for (size_t i = 0; i < shapes.size(); ++i) {
    std::unique_ptr<CMapShape> shape(shapes[i]);  // the list's shapes are this view's to delete
    last = nullptr;
    if (!shape || shape->GetType() != kShapePolyline) continue;
    auto line = std::make_unique<C3DLine>(static_cast<const CPolylineShape&>(*shape));
    if (!line->Buffer()) continue;
    last = line.get();
    lines_.push_back(std::move(line));
  }
  shapes.clear();
  if (centre && last) CentreOn(*last);
  Invalidate();
  return 1;
}

void C3DTileView::CentreOn(const C3DLine& line) {
  const D3DXVECTOR3 c = line.Centre();
  float lng = 0, lat = 0;
  XYZToLngLat(c.x, c.y, c.z, &lng, &lat);
  SetCamera(lng, lat, camera_.level, true);
}

void C3DTileView::OnShowWindow(bool shown) {
  if (shown || camera_.level < kTileViewMinLevel) return;
  // Left for another view: the 2D map takes this camera, so that going back shows the same place.
  CKovraHomeExApp* app = GetApp();
  IChildView* map = app ? app->FindView(kViewMap2D) : nullptr;
  if (map && map != this) map->SetCamera(camera_.lng, camera_.lat, camera_.level, false);
}

void C3DTileView::ClearObjects() {
  lines_.clear();
  map_lines_.clear();
  Invalidate();
}

void C3DTileView::UpdateClearObjects(CCmdUI& cmd) { cmd.Enable(LineCount() > 0); }

size_t C3DTileView::AddPolylines(const std::vector<PolylinePoints>& lines, bool centre) {
  size_t made = 0;
  C3DLine* last = nullptr;
  for (const PolylinePoints& points : lines) {
    auto line = std::make_unique<C3DLine>(points);
    if (!line->Buffer()) continue;
    last = line.get();
    lines_.push_back(std::move(line));
    ++made;
  }
  if (centre && last) CentreOn(*last);
  Invalidate();
  return made;
}

void C3DTileView::UpdateVisibleTiles() {
  const D3DVIEWPORT9& vp = Viewport();
  if (vp.Width == 0 || vp.Height == 0) return;
  if (!(camera_.level > kTileViewGlobeLevel)) {
    pool_.ClearVisible();
    return;
  }
  const std::vector<TileKey> keys = ChooseTilesInSight(camera_, static_cast<int>(vp.Width), static_cast<int>(vp.Height),
                                                       layer_.kind, layer_.source_id, pool_.Cap());
  pool_.Update(keys, layer_.kind);
}

void C3DTileView::ScreenToRay(int x, int y, D3DXVECTOR3* origin, D3DXVECTOR3* direction) {
  const TileViewFrame frame = BuildTileViewFrame(camera_, Aspect());
  TileViewScreenToRay(frame, x, y, static_cast<int>(Viewport().Width), static_cast<int>(Viewport().Height), origin,
                      direction);
}

bool C3DTileView::PickEarth(int x, int y, double* lng, double* lat) {
  const TileViewFrame frame = BuildTileViewFrame(camera_, Aspect());
  return TileViewPickEarth(frame, x, y, static_cast<int>(Viewport().Width), static_cast<int>(Viewport().Height), lng,
                           lat);
}

void C3DTileView::SetupCamera() {
  const TileViewFrame frame = BuildTileViewFrame(camera_, Aspect());
  view_ = frame.view;
  projection_ = frame.projection;
}

void C3DTileView::DrawScene() {
  IDirect3DDevice9* d = g_pD3DDevice;
  if (!d) return;
  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  d->SetRenderState(D3DRS_LIGHTING, 0);
  d->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFFu);
  d->SetRenderState(D3DRS_FILLMODE, static_cast<uint32_t>(g_D3DContext.FillMode()));
  // Tile pictures and the globe have one level: sampling them without a level choice is the same
  // picture at less cost per pixel (a software rasteriser pays for every pixel).
  d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
  const CTileMeshPool::Stats stats = pool_.GetStats();
  last_drawn_ = stats.visible ? pool_.Draw(pending_) : 0;
  if (stats.visible == 0 && globe_.Mesh()) {
    if (globe_.Texture()) {
      globe_.Draw();
    } else {
      d->SetTexture(0, bare_globe_);
      globe_.Mesh()->DrawSubset(0);
    }
  }
  for (const auto& line : map_lines_) line->Draw();
  for (const auto& line : lines_) line->Draw();
  d->SetTransform(D3DTS_WORLD, &world_);
  d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  DrawText3D(FormatC("center: %f, %f, %f", camera_.lng, camera_.lat, camera_.level).c_str(), 0, 0, kOverlayColor);
  DrawText3D(FormatC("yaw: %f, pitch: %f", double(camera_.yaw), double(camera_.pitch)).c_str(), 0, 20, kOverlayColor);
  DrawText3D(FormatC("tiles: %d, %d", static_cast<int>(stats.visible), static_cast<int>(stats.pool)).c_str(), 0, 40,
             kOverlayColor);
  DrawText3D("+", static_cast<int>(Viewport().Width / 2), static_cast<int>(Viewport().Height / 2), kOverlayColor);
}

void C3DTileView::OnSize(int width, int height) {
  CRenderWnd::OnSize(width, height);
  if (camera_.level != 0) UpdateVisibleTiles();
}

void C3DTileView::OnMouseWheel(int delta, int x, int y) {
  double level = (std::trunc(10.0 * camera_.level) + (delta >= 1 ? 1 : -1)) * 0.1;
  if (level < kTileViewMinLevel) level = kTileViewMinLevel;
  if (std::trunc(level) > 23) level = 23.9;
  SetCamera(camera_.lng, camera_.lat, level, true);
  CRenderWnd::OnMouseWheel(delta, x, y);
}

void C3DTileView::OnMouseMove(UINT flags, int x, int y) {
  if (GetFocusWindow() != this) SetFocus();
  double lng = 0, lat = 0;
  if (PickEarth(x, y, &lng, &lat))
    MapStatusBar().SetCursorPos(static_cast<float>(lng), static_cast<float>(lat), 0.0f);
  if ((flags & MK_LBUTTON) && !(x == last_x_ && y == last_y_) && HasCapture()) {
    // The point under the cursor follows the mouse.
    double last_lng = 0, last_lat = 0;
    if (PickEarth(last_x_, last_y_, &last_lng, &last_lat) && PickEarth(x, y, &lng, &lat)) {
      double d_lng = last_lng - lng;
      if (d_lng > 180) d_lng -= 360;
      if (d_lng < -180) d_lng += 360;
      SetCamera(camera_.lng + d_lng, camera_.lat + (last_lat - lat), camera_.level, false);
    }
  }
  CRenderWnd::OnMouseMove(flags, x, y);
}

void C3DTileView::OnKeyDown(UINT key) {
  CRenderWnd::OnKeyDown(key);  // modifiers noted, repaint (the arcball is not this view's camera)
  if (key != VK_LEFT && key != VK_RIGHT && key != VK_UP && key != VK_DOWN) return;
  const double step = (key == VK_LEFT || key == VK_UP) ? -1.0 : 1.0;
  const bool horizontal = key == VK_LEFT || key == VK_RIGHT;
  double lng = camera_.lng, lat = camera_.lat, level = camera_.level;
  float yaw = camera_.yaw, pitch = camera_.pitch;
  if (CtrlDown()) {
    if (horizontal) lng += step; else yaw += static_cast<float>(step);
  } else if (ShiftDown()) {
    if (horizontal) lat += step; else pitch += static_cast<float>(step);
  } else {
    if (horizontal) level += step; else camera_.roll += static_cast<float>(step);
  }
  if (yaw != camera_.yaw || pitch != camera_.pitch) {
    // A new tilt changes what is in sight, though the point looked at stays.
    camera_.yaw = yaw;
    camera_.pitch = pitch;
    UpdateVisibleTiles();
  }
  SetCamera(lng, lat, level, true);
}

void C3DTileView::OnLButtonDown(UINT flags, int x, int y) {
  last_x_ = x;
  last_y_ = y;
  CRenderWnd::OnLButtonDown(flags, x, y);
}

void C3DTileView::OnLButtonUp(UINT flags, int x, int y) {
  last_x_ = x;
  last_y_ = y;
  CRenderWnd::OnLButtonUp(flags, x, y);
}

void C3DTileView::OnMButtonDown(UINT flags, int x, int y) {
  SetTilt(0.0f, 0.0f);
  CRenderWnd::OnMButtonDown(flags, x, y);
}

void C3DTileView::OnExportModel() {
  if (pool_.GetStats().built == 0) return;
  CFileDialog dialog(false, "obj", "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                     "Wavefront OBJ file (*.obj)|*.obj|x files(*.x)|*.x||", this);
  if (dialog.DoModal() != IDOK) return;
  const std::string ext = GetFileExtLower(dialog.GetPathName());
  bool ok = true;
  if (ext == "x")
    ok = ExportX();
  else
    ok = ExportObj(dialog.GetPathName());
  if (!ok) MessageBox("三维模型导出失败", kAppTitle, MB_OK | MB_ICONERROR);
}

bool C3DTileView::ExportObj(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (const size_t dot = name.find_last_of('.'); dot != std::string::npos) name.resize(dot);
  if (name.empty()) return false;
  const std::string when = LocalTimeText();
  std::string obj = "#\n#  Wavefront OBJ file\n#  Velmora制作 " + when + "\n#  Velmora 3D tile view\n#\n";
  std::string mtl = "#\n#  Wavefront material file\n#  Velmora制作 " + when + "\n#  Velmora 3D tile view\n#\n";
  obj += "mtllib " + name + ".mtl\n";
  // Kilometres in the earth-centred frame; z is turned over for OBJ's right-handed frame, which
  // also turns the clockwise front faces into OBJ's counter-clockwise ones.
  size_t base = 1, tiles = 0;
  bool pictures_ok = true;
  pool_.ForEachBuilt([&](C3DMesh& mesh) {
    ID3DXMesh* m = mesh.Mesh();
    void* vdata = nullptr;
    void* idata = nullptr;
    if (FAILED(m->LockVertexBuffer(D3DLOCK_READONLY, &vdata))) return;
    if (FAILED(m->LockIndexBuffer(D3DLOCK_READONLY, &idata))) {
      m->UnlockVertexBuffer();
      return;
    }
    const TileKeyParts parts = SplitTileKey(mesh.Key());
    const std::string material = FormatC("tile_%d_%d_%d", parts.zoom, parts.x, parts.y);
    obj += "o " + material + "\nusemtl " + material + "\n";
    const auto* v = static_cast<const MeshVertex*>(vdata);
    for (uint32_t i = 0; i < m->GetNumVertices(); ++i)
      obj += FormatC("v %.6f %.6f %.6f\n", double(v[i].x), double(v[i].y), -double(v[i].z));
    for (uint32_t i = 0; i < m->GetNumVertices(); ++i)
      obj += FormatC("vt %.6f %.6f\n", double(v[i].u), 1.0 - double(v[i].v));
    for (uint32_t f = 0; f < m->GetNumFaces(); ++f) {
      uint32_t t[3];
      for (int k = 0; k < 3; ++k)
        t[k] = m->Uses32BitIndices() ? static_cast<const uint32_t*>(idata)[f * 3 + k]
                                     : static_cast<const uint16_t*>(idata)[f * 3 + k];
      obj += FormatC("f %zu/%zu %zu/%zu %zu/%zu\n", base + t[0], base + t[0], base + t[1], base + t[1], base + t[2],
                     base + t[2]);
    }
    base += m->GetNumVertices();
    m->UnlockIndexBuffer();
    m->UnlockVertexBuffer();
    const std::string picture = name + "_" + material + ".jpg";
    mtl += "newmtl " + material + "\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nmap_Kd " + picture + "\n";
    CBitmap bitmap;
    if (!mesh.Texture() || FAILED(TextureToBitmap(mesh.Texture(), &bitmap)) ||
        !SaveImageFile(bitmap, folder + picture, ImageType::kJpeg))
      pictures_ok = false;
    ++tiles;
  });
  if (tiles == 0) return false;
  std::string error;
  if (!WriteFileAtomic(folder + name + ".mtl", mtl.data(), mtl.size(), &error) ||
      !WriteFileAtomic(path, obj.data(), obj.size(), &error)) {
    AppLog("3D tile view: the model cannot be written: %s", error.c_str());
    return false;
  }
  if (!pictures_ok) AppLog("3D tile view: some tile pictures of %s could not be written", path.c_str());
  return true;
}

bool C3DTileView::ExportX() {
  bool ok = true;
  size_t tiles = 0;
  pool_.ForEachBuilt([&](C3DMesh& mesh) {
    ok = mesh.SaveX(nullptr) && ok;
    ++tiles;
  });
  return ok && tiles > 0;
}

}  // namespace velmora
