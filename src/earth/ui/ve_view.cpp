// The web map page view: its page, the calls into the page's script, the number text of the
// shapes, and the tiles the page loads from the local tile store.
#include "earth/ui/ve_view.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <utility>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/scrambled_data.h"
#include "platform/ui/ui_host.h"
#include "shapes/map_shape.h"
#include "tiles/layer_manager.h"
#include "tiles/map_view_state.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora {

namespace {

// "%f" of the value with trailing zeros and then a trailing point removed.
void AppendNumber(std::string& out, double value) {
  std::string text = FormatFixed(value, 6);
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  out += text;
}

bool IsWebMercatorSource(const MapSourceDef* source) {
  return source && !source->IsGeocoder() && source->kind != kKindEllipsoidalMercator &&
         source->kind != kKindEquirect;
}

std::optional<int> ReadPart(std::string_view& rest) {
  if (rest.empty() || rest.front() != '/') return std::nullopt;
  rest.remove_prefix(1);
  size_t end = rest.find('/');
  std::string_view part = rest.substr(0, end);
  rest.remove_prefix(part.size());
  int value = 0;
  auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
  if (part.empty() || ec != std::errc() || ptr != part.data() + part.size()) return std::nullopt;
  return value;
}

const char* ImageMime(const std::string& bytes) {
  auto starts = [&](std::string_view magic) { return bytes.compare(0, magic.size(), magic) == 0; };
  if (starts("\x89PNG")) return "image/png";
  if (starts("\xFF\xD8\xFF")) return "image/jpeg";
  if (starts("GIF8")) return "image/gif";
  if (starts("RIFF") && bytes.size() >= 12 && bytes.compare(8, 4, "WEBP") == 0) return "image/webp";
  if (starts("BM")) return "image/bmp";
  return "application/octet-stream";
}

// The probe the view sends when a document completes: which of the page's functions exist.
constexpr char kProbe[] =
    "[typeof setCenter, typeof setPoints, typeof setSource].join(',')";

}  // namespace

std::string WebMapPointsText(const CMapShape& shape) {
  std::vector<ShapePoint> points;
  shape.GetPoints(points);
  std::string text;
  text.reserve(points.size() * 24);
  for (const ShapePoint& p : points) {
    AppendNumber(text, static_cast<double>(p.lng));
    text += ',';
    AppendNumber(text, static_cast<double>(p.lat));
    text += ' ';
  }
  return text;
}

int WebMapShapeKind(const CMapShape& shape) { return shape.GetType() == kShapePolygon ? 2 : 1; }

int WebMapSourceId() {
  const CLayerManager& layers = LayerManager();
  if (IMapViewState* view = CurrentMapView()) {
    std::vector<MapLayer> list = view->CopyLayerList();
    if (!list.empty() && IsWebMercatorSource(layers.FindSourceStrict(list.front().source_id)))
      return list.front().source_id;
  }
  for (const MapSourceDef& source : layers.Sources())
    if (IsWebMercatorSource(&source)) return source.id;
  return 0;
}

std::optional<PageResource> WebMapTileResource(std::string_view path) {
  std::string_view rest = path;
  std::optional<int> source_id = ReadPart(rest), zoom = ReadPart(rest), x = ReadPart(rest), y = ReadPart(rest);
  if (!source_id || !zoom || !x || !y || !rest.empty()) return std::nullopt;
  if (*zoom < 0 || *zoom > kMaxKeyZoom || IsGeocoderId(*source_id)) return std::nullopt;
  const MapSourceDef* source = LayerManager().FindSourceStrict(*source_id);
  if (!source || source->IsGeocoder() || *zoom < source->min_zoom || *zoom > source->max_zoom) return std::nullopt;
  const int side = 1 << *zoom;
  if (*x < 0 || *x >= side || *y < 0 || *y >= side) return std::nullopt;
  const TileKey key = MakeTileKey(*x, *y, TileKeyValue(*source_id, *zoom));
  CTileManager& tiles = TileManager();
  std::vector<uint8_t> bytes;
  if (!tiles.ReadTileBytes(key, bytes) || bytes.empty()) {
    // Not stored: the tile manager fetches it (when it runs and is online), as for the 2D view.
    if (tiles.IsRunning()) tiles.GetTile(key);
    return std::nullopt;
  }
  PageResource tile;
  tile.bytes.assign(bytes.begin(), bytes.end());
  tile.mime = ImageMime(tile.bytes);
  return tile;
}

// ---- CVEView ----

CVEView::CVEView() {
  SetPageResourceSource(kWebMapTileHost, [](const std::string& path) { return WebMapTileResource(path); });
}

CVEView::~CVEView() {
  alive_.reset();
  if (IsWindow()) DestroyWindow();
}

bool CVEView::LoadPage(uint32_t style, CWnd* parent) {
  if (IsWindow()) return true;
  const RECT rect{0, 0, 500, 500};
  if (!Create(parent, GetViewKind(), GetName(), style | WS_CHILD, rect)) return false;
  // Script errors are left on: this page is seen, and its errors are the user's to see.
  Navigate("about::blank");
  std::optional<std::string> page = LoadScrambledDataFile(kWebMapPageName);
  if (!page) {
    // The view stays empty; ending the whole program for a missing page would lose the user's
    // work in every other view.
    page_missing_ = true;
    AppLog("web map page view: page \"%s\" is missing", kWebMapPageName);
    ShowMessageBox(kWebMapPageMissing, MB_OK | MB_ICONERROR);
    return true;
  }
  if (LoadHtml(*page)) page_pending_ = true;
  return true;
}

void CVEView::OnDestroy() {
  ready_ = has_set_center_ = has_set_points_ = has_set_source_ = false;
  ++generation_;
  CHtmlViewEx::OnDestroy();
}

void CVEView::OnDocumentComplete(const std::string& url) {
  CHtmlViewEx::OnDocumentComplete(url);
  // Every completed document renews what is known of the page's functions.
  ready_ = has_set_center_ = has_set_points_ = has_set_source_ = false;
  const int generation = ++generation_;
  if (!Engine().HasDocument()) return;
  std::weak_ptr<bool> alive = alive_;
  Engine().CallFunctionAsync("eval", {ScriptValue::String(kProbe)},
                             [this, alive, generation](std::optional<ScriptValue> reply) {
    if (alive.expired() || generation != generation_ || !reply || !reply->IsString()) return;
    const std::string& kinds = reply->text;  // "function,function,undefined"
    auto is_function = [&](int index) {
      size_t at = 0;
      for (int i = 0; i < index && at != std::string::npos; ++i) {
        at = kinds.find(',', at);
        if (at != std::string::npos) ++at;
      }
      return at != std::string::npos && kinds.compare(at, 8, "function") == 0;
    };
    has_set_center_ = is_function(0);
    has_set_points_ = is_function(1);
    has_set_source_ = is_function(2);
    // The blank document before "msve" (or a document of the engine's own) defines nothing:
    // the page's own completion is still to come.
    if (page_pending_ && !has_set_center_ && !has_set_points_) return;
    ready_ = true;
    page_pending_ = false;
    SendSource();
    if (!pending_camera_ && !centred_once_) {
      // The first page opens where the 2D map is.
      if (IMapViewState* map = CurrentMapView()) {
        MapCamera c = map->GetCamera();
        ClampViewMercator(c.lng, c.lat, c.zoom);
        pending_camera_ = PendingCamera{c.lng, c.lat, static_cast<int>(std::trunc(c.zoom))};
      }
    }
    centred_once_ = true;
    if (pending_camera_ && has_set_center_) SendCenter(*std::exchange(pending_camera_, std::nullopt));
    if (ready_listener_) ready_listener_();
  });
}

void CVEView::SendSource() {
  if (!has_set_source_) return;
  const int id = WebMapSourceId();
  const MapSourceDef* source = LayerManager().FindSourceStrict(id);
  if (!source) return;
  Engine().CallFunctionAsync("setSource",
                             {ScriptValue::Number(id), ScriptValue::Number(source->min_zoom),
                              ScriptValue::Number(source->max_zoom), ScriptValue::String(source->attribution)},
                             nullptr);
}

void CVEView::SendCenter(const PendingCamera& camera) {
  Engine().CallFunctionAsync("setCenter",
                             {ScriptValue::Number(camera.lng), ScriptValue::Number(camera.lat),
                              ScriptValue::Number(camera.zoom)},
                             nullptr);  // a failed call is not shown, as the page asked for nothing
}

void CVEView::SetCamera(double lng, double lat, double level, bool history) {
  (void)history;
  ClampViewMercator(lng, lat, level);
  if (!std::isfinite(lng) || !std::isfinite(lat)) return;
  const PendingCamera camera{lng, lat, static_cast<int>(std::trunc(level))};
  if (!ready_) {
    // The page is still loading: the latest camera goes out when it is ready.
    if (IsWindow() && !page_missing_) pending_camera_ = camera;
    return;
  }
  if (!has_set_center_) return;
  SendCenter(camera);
}

bool CVEView::SetPoints(const std::vector<const CMapShape*>& shapes, std::function<void(bool)> done) {
  auto calls = std::make_shared<std::vector<std::pair<std::string, int>>>();
  if (ready_ && has_set_points_) {
    for (const CMapShape* shape : shapes) {
      if (!shape) continue;
      std::string text = WebMapPointsText(*shape);
      if (text.empty()) continue;  // a shape without points is skipped
      calls->emplace_back(std::move(text), WebMapShapeKind(*shape));
    }
  }
  if (calls->empty()) {
    if (done) done(false);
    return false;
  }
  SendNextShape(std::move(calls), 0, std::move(done));
  return true;
}

void CVEView::SendNextShape(std::shared_ptr<std::vector<std::pair<std::string, int>>> calls, size_t index,
                            std::function<void(bool)> done) {
  const auto& [text, kind] = (*calls)[index];
  std::weak_ptr<bool> alive = alive_;
  const int generation = generation_;
  Engine().CallFunctionAsync(
      "setPoints", {ScriptValue::String(text), ScriptValue::Number(kind)},
      [this, alive, generation, calls, index, done = std::move(done)](std::optional<ScriptValue> reply) mutable {
        const bool ok = reply.has_value();
        // The rest goes only to the document the list was meant for, and stops at a failure.
        if (!ok || index + 1 >= calls->size() || alive.expired() || generation != generation_) {
          if (done) done(ok && index + 1 >= calls->size());
          return;
        }
        SendNextShape(std::move(calls), index + 1, std::move(done));
      });
}

bool CVEView::ClearPoints(std::function<void(bool)> done) {
  if (!ready_ || !has_set_points_) {
    if (done) done(false);
    return false;
  }
  Engine().CallFunctionAsync("setPoints", {ScriptValue::String("null"), ScriptValue::Number(0)},
                             [done = std::move(done)](std::optional<ScriptValue> reply) {
                               if (done) done(reply.has_value());
                             });
  return true;
}

int CVEView::LoadShapes(std::vector<CMapShape*>& shapes, bool centre) {
  (void)centre;
  std::vector<const CMapShape*> list(shapes.begin(), shapes.end());
  if (!SetPoints(list)) return 0;
  // The page drew its own copies: the view keeps none.
  for (CMapShape* shape : shapes) delete shape;
  shapes.clear();
  return 1;
}

}  // namespace velmora
