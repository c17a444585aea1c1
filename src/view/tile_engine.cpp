// The tile engine's camera, layers, conversions, grids, object layers, overlays and thread.
#include "view/tile_engine.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"
#include "core/log.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"
#include "tiles/tile_manager.h"
#include "view/tile_engine_internal.h"

namespace velmora {
namespace {

std::mutex g_script_mutex;
std::shared_ptr<const ScriptProjection> g_script;

std::shared_ptr<const ScriptProjection> CurrentScript() {
  std::lock_guard lock(g_script_mutex);
  return g_script;
}

double MaxLatOfKind(int kind) {
  if (kind == kKindEquirect) return 90.0;
  if (kind == kKindEllipsoidalMercator) return kEllipsoidalMercatorMaxLat;
  return kMercatorMaxLat;
}

double WrapLng(double lng) {
  if (!std::isfinite(lng)) return 0;
  double r = std::fmod(lng + 180.0, 360.0);
  if (r < 0) r += 360.0;
  if (r >= 360.0) r -= 360.0;
  return r - 180.0;
}

// Tiles of a grid beyond this count are not listed (a layer far below its levels).
constexpr size_t kMaxGridTiles = 1u << 16;

}  // namespace

void SetScriptProjection(ScriptProjection hook) {
  std::lock_guard lock(g_script_mutex);
  g_script = std::make_shared<const ScriptProjection>(std::move(hook));
}

void ClearScriptProjection() {
  std::lock_guard lock(g_script_mutex);
  g_script.reset();
}

CTileEngine::CTileEngine(TileEngineOptions options)
    : options_(options),
      tiles_(options.tiles ? *options.tiles : TileManager()),
      layers_catalogue_(options.layers ? *options.layers : LayerManager()) {
  options_.margin = std::clamp(options_.margin, 0, 1024);
  options_.max_image_pixels = std::max<size_t>(options_.max_image_pixels, size_t(1) << 20);
  {
    std::lock_guard lock(mutex_);
    ApplyLayersLocked({});
    ClampLocked(camera_);
  }
  listener_id_ = tiles_.AddStateListener([this] { MarkDirty(); });
}

CTileEngine::~CTileEngine() {
  Stop();
  tiles_.RemoveStateListener(listener_id_);
  std::lock_guard rebuild(rebuild_mutex_);
  ReleaseHeld();
}

// ---- camera -------------------------------------------------------------------------------------

const CTileEngine::Layer* CTileEngine::BaseLocked() const {
  for (const Layer& l : layers_)
    if (l.layer.visible && l.source) return &l;
  return layers_.empty() ? nullptr : &layers_.front();
}

void CTileEngine::LimitsLocked(double* min_zoom, double* max_zoom) const {
  const Layer* base = BaseLocked();
  int kind = base ? base->layer.kind : 1;
  const KindTransforms& t = TransformsOfKind(kind);
  double lo = t.min_zoom, hi = t.max_zoom;
  if (base && base->source) {
    lo = std::max(lo, double(base->source->min_zoom));
    hi = std::min(hi, base->source->max_zoom + 0.9);
  }
  if (hi < lo) hi = lo;
  *min_zoom = lo;
  *max_zoom = hi;
}

void CTileEngine::ClampLocked(Camera& c) const {
  double lo, hi;
  LimitsLocked(&lo, &hi);
  const Layer* base = BaseLocked();
  double max_lat = MaxLatOfKind(base ? base->layer.kind : 1);
  c.lng = WrapLng(c.lng);
  c.lat = std::isfinite(c.lat) ? std::clamp(c.lat, -max_lat, max_lat) : 0.0;
  c.zoom = std::isfinite(c.zoom) ? std::clamp(c.zoom, lo, hi) : lo;
  c.width = std::clamp(c.width, 0, kMaxWindowSide);
  c.height = std::clamp(c.height, 0, kMaxWindowSide);
}

void CTileEngine::SetCamera(double lng, double lat, double zoom) {
  {
    std::lock_guard lock(mutex_);
    camera_.lng = lng;
    camera_.lat = lat;
    camera_.zoom = zoom;
    ClampLocked(camera_);
  }
  CameraChanged();
}

void CTileEngine::SetWindowSize(int width, int height) {
  {
    std::lock_guard lock(mutex_);
    camera_.width = width;
    camera_.height = height;
    ClampLocked(camera_);
  }
  CameraChanged();
}

MapCamera CTileEngine::GetCamera() const {
  std::lock_guard lock(mutex_);
  const Layer* base = BaseLocked();
  MapCamera c;
  c.lng = camera_.lng;
  c.lat = camera_.lat;
  c.zoom = camera_.zoom;
  c.width = camera_.width;
  c.height = camera_.height;
  c.kind = base ? base->layer.kind : 1;
  return c;
}

void CTileEngine::GetZoomLimits(double* min_zoom, double* max_zoom) const {
  std::lock_guard lock(mutex_);
  LimitsLocked(min_zoom, max_zoom);
}

CMapProjector CTileEngine::ProjectorLocked() const {
  const Layer* base = BaseLocked();
  return CMapProjector(base ? base->layer.kind : 1, camera_.zoom, camera_.lng, camera_.lat, camera_.width,
                       camera_.height);
}

CMapProjector CTileEngine::Projector() const {
  std::lock_guard lock(mutex_);
  return ProjectorLocked();
}

void CTileEngine::PanFrom(double lng, double lat, double dx, double dy) {
  {
    std::lock_guard lock(mutex_);
    if (!std::isfinite(dx)) dx = 0;
    if (!std::isfinite(dy)) dy = 0;
    CMapProjector p(BaseLocked() ? BaseLocked()->layer.kind : 1, camera_.zoom, lng, lat, camera_.width,
                    camera_.height);
    // The point that comes to the centre lies (-dx, -dy) from the old centre.
    LngLat c = p.ToLngLat(camera_.width * 0.5 - dx, camera_.height * 0.5 - dy);
    camera_.lng = c.lng;
    camera_.lat = c.lat;
    ClampLocked(camera_);
  }
  CameraChanged();
}

void CTileEngine::PanBy(double dx, double dy) {
  double lng, lat;
  {
    std::lock_guard lock(mutex_);
    lng = camera_.lng;
    lat = camera_.lat;
  }
  PanFrom(lng, lat, dx, dy);
}

void CTileEngine::ZoomAt(double zoom, double x, double y) {
  {
    std::lock_guard lock(mutex_);
    double lo, hi;
    LimitsLocked(&lo, &hi);
    if (!std::isfinite(zoom)) return;
    double z1 = std::clamp(zoom, lo, hi);
    if (!std::isfinite(x) || !std::isfinite(y)) x = camera_.width * 0.5, y = camera_.height * 0.5;
    CMapProjector p0 = ProjectorLocked();
    // World pixels scale with 2^zoom in every kind: the point under (x, y) keeps its place when
    // the centre moves to its scaled position less the same offset.
    double ox = x - camera_.width * 0.5, oy = y - camera_.height * 0.5;
    double f = std::exp2(z1 - camera_.zoom);
    double cx1 = (p0.CentreX() + ox) * f - ox;
    double cy1 = (p0.CentreY() + oy) * f - oy;
    const KindTransforms& t = TransformsOfKind(p0.Kind());
    double world_h = WorldPixels(z1) * t.height_ratio;
    camera_.lng = t.x_to_lng(cx1, z1);
    camera_.lat = t.y_to_lat(std::clamp(cy1, 0.0, world_h), z1);
    camera_.zoom = z1;
    ClampLocked(camera_);
  }
  CameraChanged();
}

void CTileEngine::FitBounds(const GeoBox& box) {
  if (box.Empty()) return;
  {
    std::lock_guard lock(mutex_);
    const Layer* base = BaseLocked();
    const KindTransforms& t = TransformsOfKind(base ? base->layer.kind : 1);
    double u0 = (box.west + 180.0) / 360.0, u1 = (box.east + 180.0) / 360.0;
    double v0 = t.lat_to_y(box.north, 0) / kTileSize, v1 = t.lat_to_y(box.south, 0) / kTileSize;
    double du = (u1 - u0) * kTileSize, dv = (v1 - v0) * kTileSize;
    if (camera_.width > 0 && camera_.height > 0 && (du > 0 || dv > 0)) {
      double fit_x = du > 0 ? std::log2(camera_.width * 0.9 / du) : 1e9;
      double fit_y = dv > 0 ? std::log2(camera_.height * 0.9 / dv) : 1e9;
      camera_.zoom = std::min(fit_x, fit_y);
    }
    camera_.lng = (u0 + u1) / 2 * 360.0 - 180.0;
    camera_.lat = t.y_to_lat((v0 + v1) / 2 * kTileSize, 0);
    ClampLocked(camera_);
  }
  CameraChanged();
}

LngLat CTileEngine::ScreenToLngLat(double x, double y) const { return Projector().ToLngLat(x, y); }

PixelPoint CTileEngine::LngLatToScreen(double lng, double lat) const { return Projector().ToScreen(lng, lat); }

bool CTileEngine::WindowToLngLat(double x, double y, double* lng, double* lat) const {
  LngLat own = ScreenToLngLat(x, y);
  if (lng) *lng = own.lng;
  if (lat) *lat = own.lat;
  std::shared_ptr<const ScriptProjection> script = CurrentScript();
  MapCamera cam = GetCamera();
  if (!script || !script->handles || !script->pixel_to_coord || !script->handles(cam.kind)) return true;
  double a = 0, b = 0;
  if (!script->pixel_to_coord(cam, x, y, &a, &b) || !std::isfinite(a) || !std::isfinite(b)) return false;
  if (lng) *lng = a;
  if (lat) *lat = b;
  return true;
}

void CTileEngine::GetViewBounds(float top_left[2], float bottom_right[2]) const {
  std::lock_guard lock(mutex_);
  CMapProjector p = ProjectorLocked();
  const double degrees_per_pixel = 360.0 / p.WorldWidth();
  LngLat tl = p.ToLngLat(0, 0);
  LngLat br = p.ToLngLat(camera_.width, camera_.height);
  if (top_left) {
    top_left[0] = float(camera_.lng - camera_.width * 0.5 * degrees_per_pixel);
    top_left[1] = float(tl.lat);
  }
  if (bottom_right) {
    bottom_right[0] = float(camera_.lng + camera_.width * 0.5 * degrees_per_pixel);
    bottom_right[1] = float(br.lat);
  }
}

// ---- layers -------------------------------------------------------------------------------------

void CTileEngine::ApplyLayersLocked(std::vector<Layer> layers) {
  std::vector<Layer> kept;
  for (Layer& l : layers) {
    const MapSourceDef* d = layers_catalogue_.FindSourceStrict(l.layer.source_id);
    if (!d || d->IsGeocoder()) continue;
    l.source = d;
    l.layer.kind = d->kind;
    l.layer.opacity = std::isfinite(l.layer.opacity) ? std::clamp(l.layer.opacity, 0.0f, 1.0f) : 1.0f;
    kept.push_back(l);
  }
  if (kept.empty() && !layers_catalogue_.Sources().empty()) {
    const MapSourceDef& first = layers_catalogue_.Sources().front();
    Layer l;
    l.layer.source_id = first.id;
    l.layer.kind = first.kind;
    l.source = &first;
    kept.push_back(l);
  }
  layers_ = std::move(kept);
  ++layers_version_;
}

void CTileEngine::SetLayers(std::vector<MapLayer> layers) {
  {
    std::lock_guard lock(mutex_);
    std::vector<Layer> list;
    for (const MapLayer& m : layers) list.push_back(Layer{m, nullptr});
    ApplyLayersLocked(std::move(list));
    ClampLocked(camera_);
  }
  CameraChanged();
}

std::vector<MapLayer> CTileEngine::CopyLayerList() const {
  std::lock_guard lock(mutex_);
  std::vector<MapLayer> out;
  for (const Layer& l : layers_) out.push_back(l.layer);
  return out;
}

bool CTileEngine::SetBaseSource(int source_id) {
  const MapSourceDef* d = layers_catalogue_.FindSourceStrict(source_id);
  if (!d || d->IsGeocoder()) return false;
  {
    std::lock_guard lock(mutex_);
    std::vector<Layer> list = layers_;
    if (list.empty()) list.push_back(Layer{});
    list.front().layer.source_id = source_id;
    list.front().layer.visible = true;
    ApplyLayersLocked(std::move(list));
    ClampLocked(camera_);
  }
  CameraChanged();
  return true;
}

int CTileEngine::BaseSourceId() const {
  std::lock_guard lock(mutex_);
  const Layer* base = BaseLocked();
  return base ? base->layer.source_id : -1;
}

std::vector<std::string> CTileEngine::Attributions() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Layer& l : layers_) {
    if (!l.layer.visible || !l.source || l.source->attribution.empty()) continue;
    if (std::find(out.begin(), out.end(), l.source->attribution) == out.end()) out.push_back(l.source->attribution);
  }
  return out;
}

// ---- grids --------------------------------------------------------------------------------------

namespace {

// The integer level of a layer for a zoom: the level below it within the source's levels.
int LayerLevel(const MapSourceDef& source, double zoom) {
  int z = static_cast<int>(std::floor(zoom + 1e-9));
  return std::clamp(z, source.min_zoom, std::min(source.max_zoom, kMaxKeyZoom));
}

// Tiles of a layer covering a longitude range and a latitude range.
struct TileRange {
  int64_t x0 = 0, x1 = -1, y0 = 0, y1 = -1;
};

TileRange RangeFor(int kind, int z, double west, double east, double north, double south) {
  const KindTransforms& t = TransformsOfKind(kind);
  int64_t cols, rows;
  KindTileCount(kind, z, &cols, &rows);
  TileRange r;
  r.x0 = static_cast<int64_t>(std::floor(t.lng_to_x(west, z) / kTileSize));
  r.x1 = static_cast<int64_t>(std::floor(t.lng_to_x(east, z) / kTileSize));
  r.y0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(t.lat_to_y(north, z) / kTileSize)));
  r.y1 = std::min<int64_t>(rows - 1, static_cast<int64_t>(std::floor(t.lat_to_y(south, z) / kTileSize)));
  (void)cols;
  return r;
}

// The grid tile of column `tx` (wrapped east-west onto the `cols` columns) and row `ty` at level
// `z`, keyed with the source's key value `v`; its place in the window is the caller's.
GridTile GridTileAt(int64_t tx, int64_t ty, int64_t cols, int z, int v) {
  GridTile g;
  g.column = static_cast<int>(((tx % cols) + cols) % cols);
  g.row = static_cast<int>(ty);
  g.zoom = z;
  g.key = MakeTileKey(g.column, g.row, v);
  return g;
}

}  // namespace

std::vector<GridTile> CTileEngine::BuildGrid(const MapLayer& layer) const {
  std::vector<GridTile> out;
  const MapSourceDef* d = layers_catalogue_.FindSourceStrict(layer.source_id);
  if (!d || d->IsGeocoder()) return out;
  CMapProjector p = Projector();
  if (p.Width() <= 0 || p.Height() <= 0) return out;
  int z = LayerLevel(*d, p.Zoom());
  // The window's longitudes unwrapped, its latitudes clamped.
  double west = (p.CentreX() - p.Width() * 0.5) / p.WorldWidth() * 360.0 - 180.0;
  double east = (p.CentreX() + p.Width() * 0.5) / p.WorldWidth() * 360.0 - 180.0;
  double north = p.ToLngLat(0, 0).lat, south = p.ToLngLat(0, p.Height()).lat;
  TileRange r = RangeFor(d->kind, z, west, east - 1e-12, north, south);
  if (r.x1 < r.x0 || r.y1 < r.y0) return out;
  if (size_t(r.x1 - r.x0 + 1) * size_t(r.y1 - r.y0 + 1) > kMaxGridTiles) return out;
  const KindTransforms& t = TransformsOfKind(d->kind);
  int64_t cols, rows;
  KindTileCount(d->kind, z, &cols, &rows);
  const int v = TileKeyValue(d->id, z);
  for (int64_t ty = r.y0; ty <= r.y1; ++ty) {
    for (int64_t tx = r.x0; tx <= r.x1; ++tx) {
      GridTile g = GridTileAt(tx, ty, cols, z, v);
      // Corners through longitude/latitude, so that a layer of another kind lands right.
      double lng0 = double(tx) * kTileSize / WorldPixels(z) * 360.0 - 180.0;
      double lng1 = double(tx + 1) * kTileSize / WorldPixels(z) * 360.0 - 180.0;
      double lat0 = t.y_to_lat(double(ty) * kTileSize, z), lat1 = t.y_to_lat(double(ty + 1) * kTileSize, z);
      double u0 = (lng0 + 180) / 360, u1 = (lng1 + 180) / 360, v0, v1, dummy;
      p.Normalise(0, lat0, &dummy, &v0);
      p.Normalise(0, lat1, &dummy, &v1);
      g.x = p.ScreenX(u0, 0);
      g.y = p.ScreenY(v0);
      g.width = p.ScreenX(u1, 0) - g.x;
      g.height = p.ScreenY(v1) - g.y;
      out.push_back(g);
    }
  }
  return out;
}

std::vector<GridTile> CTileEngine::BuildGridKind4(const MapLayer& layer) const {
  std::shared_ptr<const ScriptProjection> script = CurrentScript();
  if (!script || !script->handles || !script->handles(kKindEllipsoidalMercator) || !script->pixel_to_coord ||
      !script->coord_to_pixel)
    return BuildGrid(layer);
  std::vector<GridTile> out;
  const MapSourceDef* d = layers_catalogue_.FindSourceStrict(layer.source_id);
  MapCamera cam = GetCamera();
  if (!d || cam.width <= 0 || cam.height <= 0) return out;
  // The script knows the page's projection: the window's corners come from it, and each tile's
  // corners go back through it.
  double west, north, east, south;
  if (!script->pixel_to_coord(cam, 0, 0, &west, &north) ||
      !script->pixel_to_coord(cam, cam.width, cam.height, &east, &south) || !std::isfinite(west) ||
      !std::isfinite(north) || !std::isfinite(east) || !std::isfinite(south))
    return BuildGrid(layer);
  if (east < west) east += 360;
  int z = LayerLevel(*d, cam.zoom);
  TileRange r = RangeFor(d->kind, z, west, east, north, south);
  if (r.x1 < r.x0 || r.y1 < r.y0 || size_t(r.x1 - r.x0 + 1) * size_t(r.y1 - r.y0 + 1) > kMaxGridTiles) return out;
  const KindTransforms& t = TransformsOfKind(d->kind);
  int64_t cols, rows;
  KindTileCount(d->kind, z, &cols, &rows);
  for (int64_t ty = r.y0; ty <= r.y1; ++ty) {
    for (int64_t tx = r.x0; tx <= r.x1; ++tx) {
      GridTile g = GridTileAt(tx, ty, cols, z, TileKeyValue(d->id, z));
      double lng0 = t.x_to_lng(double(tx) * kTileSize, z), lat0 = t.y_to_lat(double(ty) * kTileSize, z);
      double lng1 = lng0 + 360.0 / double(cols), lat1 = t.y_to_lat(double(ty + 1) * kTileSize, z);
      double x0, y0, x1, y1;
      if (!script->coord_to_pixel(cam, lng0, lat0, &x0, &y0) || !script->coord_to_pixel(cam, lng1, lat1, &x1, &y1))
        continue;
      g.x = x0, g.y = y0, g.width = x1 - x0, g.height = y1 - y0;
      out.push_back(g);
    }
  }
  return out;
}

// ---- objects and overlays -----------------------------------------------------------------------

void CTileEngine::GetShapesByType(int type, std::vector<CMapShape*>& out) const {
  boundaries_.GetShapesByType(type, out);
  tracks_.GetShapesByType(type, out);
  objects_.GetShapesByType(type, out);
}

CMapShape* CTileEngine::HitTestShapes(double x, double y) const {
  CMapProjector p = Projector();
  if (CMapShape* s = objects_.HitTest(p, x, y)) return s;
  if (CMapShape* s = tracks_.HitTest(p, x, y)) return s;
  return boundaries_.HitTest(p, x, y);
}

void CTileEngine::ShowRegion(float lon1, float lat1, float lon2, float lat2) {
  {
    std::lock_guard lock(mutex_);
    if (!(lon1 < kNoRegionLng) || !std::isfinite(lon1) || !std::isfinite(lat1) || !std::isfinite(lon2) ||
        !std::isfinite(lat2)) {
      has_region_ = false;
    } else {
      has_region_ = true;
      region_[0] = std::min(lon1, lon2);
      region_[1] = std::max(lat1, lat2);
      region_[2] = std::max(lon1, lon2);
      region_[3] = std::min(lat1, lat2);
    }
  }
  MarkDirty();
}

bool CTileEngine::GetRegion(float top_left[2], float bottom_right[2]) const {
  std::lock_guard lock(mutex_);
  if (!has_region_) return false;
  if (top_left) top_left[0] = region_[0], top_left[1] = region_[1];
  if (bottom_right) bottom_right[0] = region_[2], bottom_right[1] = region_[3];
  return true;
}

void CTileEngine::SetWeather(std::vector<std::string> lines, std::shared_ptr<const CBitmap> icon) {
  std::lock_guard lock(mutex_);
  weather_lines_ = std::move(lines);
  weather_icon_ = std::move(icon);
}

void CTileEngine::SetWeatherStyle(WeatherStyle style) {
  std::lock_guard lock(mutex_);
  weather_style_ = std::move(style);
}

void CTileEngine::SetOverlayPainter(const std::string& key, OverlayPainter painter) {
  {
    std::lock_guard lock(mutex_);
    if (painter)
      painters_[key] = std::move(painter);
    else
      painters_.erase(key);
  }
  MarkDirty();
}

void CTileEngine::ShowWeather(bool shown) {
  std::lock_guard lock(mutex_);
  weather_shown_ = shown;
}

bool CTileEngine::WeatherShown() const {
  std::lock_guard lock(mutex_);
  return weather_shown_;
}

void CTileEngine::ShowNavigation(bool shown) {
  std::lock_guard lock(mutex_);
  nav_shown_ = shown;
}

void CTileEngine::ShowScaleBar(bool shown) {
  std::lock_guard lock(mutex_);
  scale_shown_ = shown;
}

// ---- the thread ---------------------------------------------------------------------------------

void CTileEngine::MarkDirty() {
  {
    std::lock_guard lock(wake_mutex_);
    dirty_ = true;
  }
  wake_cv_.notify_all();
  idle_cv_.notify_all();
}

void CTileEngine::CameraChanged() {
  {
    std::lock_guard lock(wake_mutex_);
    dirty_ = true;
    ++request_;
  }
  wake_cv_.notify_all();
  idle_cv_.notify_all();
}

void CTileEngine::SetRedrawSink(std::function<void()> sink) {
  std::lock_guard lock(wake_mutex_);
  redraw_sink_ = std::move(sink);
}

bool CTileEngine::Start() {
  std::lock_guard lock(wake_mutex_);
  if (thread_ && thread_->IsRunning()) return false;
  stop_ = false;
  dirty_ = true;
  thread_ = std::make_unique<CWorkThread>();
  CWorkThread* thread = thread_.get();
  return thread->Start("LoadMapImage", [this, thread] {
    thread->SignalReady();
    ThreadProc();
  });
}

void CTileEngine::Stop() {
  std::unique_ptr<CWorkThread> thread;
  {
    std::lock_guard lock(wake_mutex_);
    stop_ = true;
    thread = std::move(thread_);
  }
  wake_cv_.notify_all();
  if (thread) thread->Stop(kInfinite);
  std::lock_guard rebuild(rebuild_mutex_);
  ReleaseHeld();
}

bool CTileEngine::IsRunning() const {
  std::lock_guard lock(wake_mutex_);
  return thread_ && thread_->IsRunning();
}

void CTileEngine::ThreadProc() {
  std::unique_lock lock(wake_mutex_);
  for (;;) {
    wake_cv_.wait(lock, [this] { return stop_ || dirty_; });
    if (stop_) break;
    dirty_ = false;
    lock.unlock();
    RebuildMapImage();
    lock.lock();
  }
}

bool CTileEngine::WaitForIdle(unsigned ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  auto idle = [this] { return !dirty_ && !building_ && !pending_ && built_ == request_; };
  if (IsRunning()) {
    std::unique_lock lock(wake_mutex_);
    return idle_cv_.wait_until(lock, deadline, idle);
  }
  // No thread: rebuild here whenever the camera or a tile's state moved.
  for (;;) {
    {
      std::unique_lock lock(wake_mutex_);
      if (idle()) return true;
      if (!dirty_ && !idle_cv_.wait_until(lock, deadline, [this] { return dirty_; })) return idle();
      dirty_ = false;
    }
    RebuildMapImage();
    if (std::chrono::steady_clock::now() > deadline) {
      std::lock_guard lock(wake_mutex_);
      return idle();
    }
  }
}

TileCounts CTileEngine::CountTiles() const {
  std::lock_guard lock(wake_mutex_);
  return counts_;
}

int CTileEngine::ImageLevel() const {
  std::lock_guard lock(image_mutex_);
  return image_ ? image_->plan.z : -1;
}

uint64_t CTileEngine::ImageGeneration() const { return image_generation_.load(); }

}  // namespace velmora
