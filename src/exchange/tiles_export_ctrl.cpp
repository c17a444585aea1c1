// Composition of tile pictures: per layer, the tile column and row under each picture pixel's
// centre are computed once; the tiles are then fetched in batches and their pixels laid in.
#include "exchange/tiles_export_ctrl.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>

#include "core/format.h"
#include "core/geodesy.h"
#include "platform/gfx/image_codec.h"
#include "platform/sync.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

// For each picture column (or row) the tile and the pixel inside it under the pixel's centre;
// tile -1 where the centre lies off the world.
struct Axis {
  std::vector<int64_t> tile;
  std::vector<int> offset;
  int64_t first = 0, last = -1;  // tiles met, inclusive
};

Axis MakeAxis(double from, double to, int count, double scale, int64_t tiles) {
  Axis a;
  a.tile.resize(static_cast<size_t>(count));
  a.offset.resize(static_cast<size_t>(count));
  a.first = INT64_MAX;
  a.last = -1;
  const double step = (to - from) / count;
  for (int i = 0; i < count; ++i) {
    double p = std::floor((from + (i + 0.5) * step) * scale);
    int64_t pixel = static_cast<int64_t>(std::clamp(p, -1.0, static_cast<double>(tiles) * kTileSize));
    int64_t t = pixel >= 0 && pixel < tiles * kTileSize ? pixel / kTileSize : -1;
    a.tile[static_cast<size_t>(i)] = t;
    a.offset[static_cast<size_t>(i)] = t < 0 ? 0 : static_cast<int>(pixel - t * kTileSize);
    if (t >= 0) a.first = std::min(a.first, t), a.last = std::max(a.last, t);
  }
  if (a.last < 0) a.first = 0;
  return a;
}

// Picture pixels [begin, end) of each tile along an axis (the tiles grow with the index).
std::map<int64_t, std::pair<int, int>> Ranges(const Axis& a) {
  std::map<int64_t, std::pair<int, int>> r;
  for (int i = 0; i < static_cast<int>(a.tile.size()); ++i) {
    int64_t t = a.tile[static_cast<size_t>(i)];
    if (t < 0) continue;
    auto [it, fresh] = r.try_emplace(t, i, i + 1);
    if (!fresh) it->second.second = i + 1;
  }
  return r;
}

inline Argb Blend(Argb dst, Argb src, unsigned alpha) {
  if (alpha == 255 && (src >> 24) == 255) return src;
  auto ch = [](Argb c, int shift) { return (c >> shift) & 0xFFu; };
  unsigned s[4], d[4];
  for (int k = 0; k < 4; ++k) {
    s[k] = (ch(src, k * 8) * alpha + 127) / 255;
    d[k] = ch(dst, k * 8);
  }
  const unsigned inv = 255 - s[3];
  Argb out = 0;
  for (int k = 0; k < 4; ++k) out |= std::min(255u, s[k] + (d[k] * inv + 127) / 255) << (k * 8);
  return out;
}

uint64_t AvailableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kb = 0;
  std::string unit;
  while (meminfo >> key >> kb >> unit)
    if (key == "MemAvailable:") return kb * 1024;
  return uint64_t(1) << 30;
}

std::vector<MapLayer> CurrentLayers() {
  IMapViewState* view = CurrentMapView();
  return view ? view->CopyLayerList() : std::vector<MapLayer>{};
}

}  // namespace

CTilesExportCtrl::CTilesExportCtrl(CTileManager& manager, ComposeOptions options)
    : CTilesExportCtrl(manager, CurrentLayers(), options) {}

CTilesExportCtrl::CTilesExportCtrl(CTileManager& manager, std::vector<MapLayer> layers, ComposeOptions options)
    : manager_(manager), layers_(std::move(layers)), options_(options) {
  options_.batch = std::max<size_t>(options_.batch, 1);
}

std::string CTilesExportCtrl::TooLargeMessage(int64_t width, int64_t height) {
  return FormatC("拼接图像过大: %lld x %lld 像素, 超出可用内存", static_cast<long long>(width),
                 static_cast<long long>(height));
}

uint64_t CTilesExportCtrl::MemoryBudget() const {
  if (options_.max_bytes) return options_.max_bytes;
  return std::min<uint64_t>(AvailableMemory() / 2, uint64_t(2) << 30);
}

bool CTilesExportCtrl::CheckSize(int64_t width, int64_t height) {
  if (width < 1 || height < 1) {
    error_ = "empty picture";
    return false;
  }
  if (width > CBitmap::kMaxSide || height > CBitmap::kMaxSide ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 > MemoryBudget()) {
    error_ = TooLargeMessage(width, height);
    return false;
  }
  return true;
}

std::unique_ptr<CBitmap> CTilesExportCtrl::ComposeAreaImage(double lt_lng, double lt_lat, double br_lng,
                                                            double br_lat, int width, int height) {
  error_.clear();
  missing_ = 0;
  if (!std::isfinite(lt_lng) || !std::isfinite(lt_lat) || !std::isfinite(br_lng) || !std::isfinite(br_lat)) {
    error_ = "area is not finite";
    return nullptr;
  }
  if (!CheckSize(width, height)) return nullptr;
  if (lt_lng > br_lng) std::swap(lt_lng, br_lng);
  if (lt_lat < br_lat) std::swap(lt_lat, br_lat);
  const MapLayer* base = nullptr;
  for (const MapLayer& l : layers_)
    if (l.visible) {
      base = &l;
      break;
    }
  if (!base) {
    error_ = "the map shows no layer";
    return nullptr;
  }
  const KindTransforms& t = TransformsOfKind(base->kind);
  const double ax0 = t.lng_to_x(lt_lng, 0), ax1 = t.lng_to_x(br_lng, 0);
  const double ay0 = t.lat_to_y(lt_lat, 0), ay1 = t.lat_to_y(br_lat, 0);
  if (!(ax1 > ax0) || !(ay1 > ay0)) {
    error_ = "empty area";
    return nullptr;
  }
  // The first zoom at which the area holds at least the picture's pixels both ways.
  const double need = std::max(width / (ax1 - ax0), height / (ay1 - ay0));
  const int zoom = std::clamp(static_cast<int>(std::ceil(std::log2(need) - 1e-9)), 0, kMaxKeyZoom);
  const double scale = std::ldexp(1.0, zoom);
  auto out = std::make_unique<CBitmap>();
  if (!out->Create(width, height, options_.background)) {
    error_ = TooLargeMessage(width, height);
    return nullptr;
  }
  if (!Compose(ax0 * scale, ay0 * scale, ax1 * scale, ay1 * scale, zoom, out.get())) return nullptr;
  return out;
}

std::unique_ptr<CBitmap> CTilesExportCtrl::ComposeTile(int zoom) {
  error_.clear();
  missing_ = 0;
  if (zoom < 0 || zoom > kMaxKeyZoom) {
    error_ = FormatC("zoom %d out of range", zoom);
    return nullptr;
  }
  const MapLayer* base = nullptr;
  for (const MapLayer& l : layers_)
    if (l.visible) {
      base = &l;
      break;
    }
  if (!base) {
    error_ = "the map shows no layer";
    return nullptr;
  }
  const PixelPoint world = KindWorldPixels(base->kind, zoom);
  const int64_t w = static_cast<int64_t>(world.x), h = static_cast<int64_t>(world.y);
  if (!CheckSize(w, h)) return nullptr;
  auto out = std::make_unique<CBitmap>();
  if (!out->Create(static_cast<int>(w), static_cast<int>(h), options_.background)) {
    error_ = TooLargeMessage(w, h);
    return nullptr;
  }
  if (!Compose(0, 0, world.x, world.y, zoom, out.get())) return nullptr;
  return out;
}

bool CTilesExportCtrl::Compose(double x0, double y0, double x1, double y1, int zoom, CBitmap* out) {
  zoom_ = zoom;
  const uint64_t deadline = TickCount64() + options_.wait_ms;
  const KindTransforms* base_kind = nullptr;
  for (const MapLayer& layer : layers_) {
    if (!layer.visible) continue;
    const MapSourceDef* source = LayerManager().FindSourceStrict(layer.source_id);
    if (!source || source->IsGeocoder()) continue;
    const KindTransforms& kind = TransformsOfKind(source->kind);
    if (!base_kind) base_kind = &kind;
    if (&kind != base_kind) continue;  // another projection: its pixels would not line up
    const int lz = std::clamp(zoom, std::max(0, source->min_zoom), std::min(kMaxKeyZoom, source->max_zoom));
    int64_t columns = 0, rows = 0;
    KindTileCount(source->kind, lz, &columns, &rows);
    const double scale = std::ldexp(1.0, lz - zoom);
    const Axis ax = MakeAxis(x0, x1, out->Width(), scale, columns);
    const Axis ay = MakeAxis(y0, y1, out->Height(), scale, rows);
    if (ax.last < 0 || ay.last < 0) continue;
    const auto xr = Ranges(ax), yr = Ranges(ay);
    const unsigned alpha = static_cast<unsigned>(std::lround(std::clamp(layer.opacity, 0.0f, 1.0f) * 255));
    const int v = TileKeyValue(source->id, lz);

    std::vector<std::pair<int64_t, int64_t>> tiles;
    for (const auto& [ty, rows_range] : yr)
      for (const auto& [tx, columns_range] : xr) tiles.emplace_back(tx, ty);
    for (size_t start = 0; start < tiles.size(); start += options_.batch) {
      const size_t end = std::min(tiles.size(), start + options_.batch);
      // Each tile's picture: in memory, from the store, or through the manager.
      std::vector<std::shared_ptr<CTile>> held(end - start);
      std::vector<CBitmap> decoded(end - start);
      std::vector<const CBitmap*> image(end - start, nullptr);
      std::vector<uint8_t> bytes;
      for (size_t i = start; i < end; ++i) {
        const TileKey key = MakeTileKey(static_cast<int>(tiles[i].first), static_cast<int>(tiles[i].second), v);
        size_t k = i - start;
        if (auto tile = manager_.FindTile(key); tile && tile->LoadedImage()) {
          held[k] = tile;
          image[k] = tile->LoadedImage();
        } else if (manager_.ReadTileBytes(key, bytes) && DecodeImage(bytes, &decoded[k]) && !decoded[k].IsEmpty()) {
          image[k] = &decoded[k];
        } else if (manager_.IsRunning()) {
          held[k] = manager_.GetTile(key);
        }
      }
      for (size_t k = 0; k < held.size(); ++k) {
        if (image[k] || !held[k]) continue;
        const uint64_t now = TickCount64();
        manager_.WaitForState(*held[k], now < deadline ? static_cast<unsigned>(deadline - now) : 0);
        image[k] = held[k]->LoadedImage();
      }
      for (size_t i = start; i < end; ++i) {
        const CBitmap* img = image[i - start];
        if (!img) {
          ++missing_;
          continue;
        }
        const auto [u0, u1] = xr.at(tiles[i].first);
        const auto [v0, v1] = yr.at(tiles[i].second);
        // Tiles of another size than 256 pixels are sampled at the same place of their area.
        const bool plain = img->Width() == kTileSize && img->Height() == kTileSize;
        for (int row = v0; row < v1; ++row) {
          int sy = ay.offset[static_cast<size_t>(row)];
          if (!plain) sy = std::min(img->Height() - 1, sy * img->Height() / kTileSize);
          const Argb* src = img->Row(sy);
          Argb* dst = out->Row(row);
          for (int col = u0; col < u1; ++col) {
            int sx = ax.offset[static_cast<size_t>(col)];
            if (!plain) sx = std::min(img->Width() - 1, sx * img->Width() / kTileSize);
            dst[col] = Blend(dst[col], src[sx], alpha);
          }
        }
      }
    }
  }
  if (!base_kind) {
    error_ = "the map shows no layer of a known source";
    return false;
  }
  return true;
}

}  // namespace velmora
