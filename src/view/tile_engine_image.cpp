// The tile engine's composer: the plan of the map image for a camera, the tiles it asks the tile
// manager for, and the cells drawn from loaded tiles, stand-in ancestors and placeholders.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "core/log.h"
#include "platform/gfx/graphics.h"
#include "tiles/map_source.h"
#include "tiles/tile.h"
#include "tiles/tile_manager.h"
#include "view/tile_engine.h"
#include "view/tile_engine_internal.h"

namespace velmora {
namespace {

// How a tile's state is drawn.
enum class Look { kLoaded, kPending, kFailed, kMissing };

Look LookOf(int64_t state) {
  if (IsLoadedState(state)) return Look::kLoaded;
  switch (state) {
    case DS_NOT_EXIST: return Look::kMissing;
    case DS_FAILED:
    case DS_LIMIT:
    case DS_OFFLINE: return Look::kFailed;
    default: return Look::kPending;  // waiting, loading, fetching, or between two attempts
  }
}

int LayerLevelFor(const MapSourceDef& source, double zoom) {
  int z = static_cast<int>(std::floor(zoom + 1e-9));
  return std::clamp(z, source.min_zoom, std::min(source.max_zoom, kMaxKeyZoom));
}

uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h;
}

int64_t WrapColumn(int64_t x, int64_t columns) { return ((x % columns) + columns) % columns; }

// Levels searched upwards for a cached picture to stand in for a missing tile.
constexpr int kStandInLevels = 8;

}  // namespace

namespace map_image {

void CopyBlock(CBitmap& dst, int dx, int dy, const CBitmap& src, int sx, int sy, int w, int h) {
  if (dx < 0) sx -= dx, w += dx, dx = 0;
  if (dy < 0) sy -= dy, h += dy, dy = 0;
  if (sx < 0) dx -= sx, w += sx, sx = 0;
  if (sy < 0) dy -= sy, h += sy, sy = 0;
  w = std::min({w, dst.Width() - dx, src.Width() - sx});
  h = std::min({h, dst.Height() - dy, src.Height() - sy});
  if (w <= 0 || h <= 0) return;
  for (int r = 0; r < h; ++r)
    std::memcpy(dst.Row(dy + r) + dx, src.Row(sy + r) + sx, size_t(w) * sizeof(Argb));
}

bool CopyOpaqueTile(CBitmap& dst, int dx, int dy, const CBitmap& tile) {
  const int w = tile.Width(), h = tile.Height();
  if (dx < 0 || dy < 0 || dx + w > dst.Width() || dy + h > dst.Height()) return false;
  Argb all = 0xFFFFFFFFu;
  for (int r = 0; r < h; ++r) {
    const Argb* from = tile.Row(r);
    Argb* to = dst.Row(dy + r) + dx;
    for (int i = 0; i < w; ++i) {
      to[i] = from[i];
      all &= from[i];
    }
  }
  return (all >> 24) == 0xFF;
}

void FillBlock(CBitmap& dst, int x, int y, int w, int h, Argb straight) {
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  w = std::min(w, dst.Width() - x);
  h = std::min(h, dst.Height() - y);
  if (w <= 0 || h <= 0) return;
  Argb v = Premultiply(straight);
  for (int r = 0; r < h; ++r) std::fill_n(dst.Row(y + r) + x, w, v);
}

}  // namespace map_image

CTileEngine::Snapshot CTileEngine::TakeSnapshot() const {
  Snapshot s;
  {
    std::lock_guard lock(wake_mutex_);
    s.request = request_;
  }
  std::lock_guard lock(mutex_);
  s.cam = camera_;
  for (const Layer& l : layers_)
    if (l.layer.visible && l.source) s.layers.push_back(l);
  s.kind = s.layers.empty() ? 1 : s.layers.front().layer.kind;
  s.layers_version = layers_version_;
  return s;
}

CTileEngine::Plan CTileEngine::PlanImage(const Snapshot& snap) const {
  Plan plan;
  const Camera& cam = snap.cam;
  if (snap.layers.empty() || cam.width <= 0 || cam.height <= 0) return plan;
  const MapSourceDef& base = *snap.layers.front().source;
  const KindTransforms& t = TransformsOfKind(snap.kind);
  plan.kind = snap.kind;
  plan.layers_version = snap.layers_version;
  const double margin = options_.margin;
  int z = LayerLevelFor(base, cam.zoom);
  for (;;) {
    // A window too large for the pixel budget is served from a coarser level.
    double s = std::exp2(cam.zoom - z);
    double cols = std::ceil((cam.width / s + 2 * margin) / kTileSize) + 1;
    int64_t world_cols, world_rows;
    KindTileCount(snap.kind, z, &world_cols, &world_rows);
    double rows = std::min<double>(double(world_rows), std::ceil((cam.height / s + 2 * margin) / kTileSize) + 1);
    if (cols * rows * kTileSize * kTileSize <= double(options_.max_image_pixels) || z == 0) break;
    --z;
  }
  plan.z = z;
  plan.scale = std::exp2(cam.zoom - z);
  KindTileCount(snap.kind, z, &plan.world_cols, &plan.world_rows);
  const double world_w = plan.WorldWidth();
  const double world_h = double(plan.world_rows) * kTileSize;
  double cx = std::fmod(t.lng_to_x(cam.lng, z), world_w);
  if (cx < 0) cx += world_w;
  double cy = std::clamp(t.lat_to_y(cam.lat, z), 0.0, world_h);
  double hw = cam.width / (2 * plan.scale) + margin, hh = cam.height / (2 * plan.scale) + margin;
  plan.tx0 = static_cast<int64_t>(std::floor((cx - hw) / kTileSize));
  int64_t tx1 = static_cast<int64_t>(std::floor((cx + hw) / kTileSize));
  plan.ty0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor((cy - hh) / kTileSize)));
  int64_t ty1 = std::min<int64_t>(plan.world_rows - 1, static_cast<int64_t>(std::floor((cy + hh) / kTileSize)));
  plan.cols = static_cast<int>(tx1 - plan.tx0 + 1);
  plan.rows = static_cast<int>(std::max<int64_t>(0, ty1 - plan.ty0 + 1));
  plan.empty = plan.cols <= 0 || plan.rows <= 0;
  return plan;
}

bool CTileEngine::Covers(const Plan& have, const Plan& want, double cx, double cy, double hw, double hh) {
  if (have.empty || have.kind != want.kind || have.z != want.z ||
      have.layers_version != want.layers_version)
    return false;
  const double world_w = have.WorldWidth();
  const double world_h = double(have.world_rows) * kTileSize;
  double x0 = double(have.tx0) * kTileSize, x1 = x0 + double(have.cols) * kTileSize;
  double k = std::round((cx - (x0 + x1) / 2) / world_w);
  x0 += k * world_w, x1 += k * world_w;
  double y0 = double(have.ty0) * kTileSize, y1 = y0 + double(have.rows) * kTileSize;
  return cx - hw >= x0 && cx + hw <= x1 && std::max(0.0, cy - hh) >= y0 && std::min(world_h, cy + hh) <= y1;
}

std::vector<CTileEngine::Cell> CTileEngine::PlanCells(const Snapshot& snap, const Plan& plan) const {
  std::vector<Cell> cells(size_t(plan.cols) * size_t(plan.rows));
  const Layer& base = snap.layers.front();
  const int v = TileKeyValue(base.source->id, plan.z);
  for (int r = 0; r < plan.rows; ++r) {
    for (int c = 0; c < plan.cols; ++c) {
      Cell& cell = cells[size_t(r) * plan.cols + c];
      cell.column = static_cast<int>(WrapColumn(plan.tx0 + c, plan.world_cols));
      cell.row = static_cast<int>(plan.ty0 + r);
      cell.z = plan.z;
      cell.source = base.source->id;
      cell.opacity = base.layer.opacity;
      cell.key = MakeTileKey(cell.column, cell.row, v);
    }
  }
  // Overlays: each layer's own tiles (its own kind and level) placed over the image through
  // longitude and latitude, and listed with every cell they touch.
  const KindTransforms& bt = TransformsOfKind(plan.kind);
  const double world_w = plan.WorldWidth();
  const double west = double(plan.tx0) * kTileSize / world_w * 360.0 - 180.0;
  const double east = double(plan.tx0 + plan.cols) * kTileSize / world_w * 360.0 - 180.0;
  const double north = bt.y_to_lat(double(plan.ty0) * kTileSize, plan.z);
  const double south = bt.y_to_lat(double(plan.ty0 + plan.rows) * kTileSize, plan.z);
  for (size_t li = 1; li < snap.layers.size(); ++li) {
    const Layer& layer = snap.layers[li];
    const MapSourceDef& d = *layer.source;
    int zo = LayerLevelFor(d, snap.cam.zoom);
    if (zo > snap.cam.zoom + 1 || layer.layer.opacity <= 0) continue;  // tiles too small to be worth it
    const KindTransforms& ot = TransformsOfKind(d.kind);
    int64_t ocols, orows;
    KindTileCount(d.kind, zo, &ocols, &orows);
    const double ow = WorldPixels(zo);
    int64_t x0 = static_cast<int64_t>(std::floor(ot.lng_to_x(west, zo) / kTileSize));
    int64_t x1 = static_cast<int64_t>(std::floor((ot.lng_to_x(east, zo) - 1e-9) / kTileSize));
    int64_t y0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(ot.lat_to_y(north, zo) / kTileSize)));
    int64_t y1 = std::min<int64_t>(orows - 1, static_cast<int64_t>(std::floor(ot.lat_to_y(south, zo) / kTileSize)));
    if (x1 < x0 || y1 < y0 || double(x1 - x0 + 1) * double(y1 - y0 + 1) > 4.0 * double(cells.size()) + 64) continue;
    const int ov = TileKeyValue(d.id, zo);
    for (int64_t oy = y0; oy <= y1; ++oy) {
      double lat0 = ot.y_to_lat(double(oy) * kTileSize, zo), lat1 = ot.y_to_lat(double(oy + 1) * kTileSize, zo);
      double py0 = bt.lat_to_y(lat0, plan.z) - double(plan.ty0) * kTileSize;
      double py1 = bt.lat_to_y(lat1, plan.z) - double(plan.ty0) * kTileSize;
      for (int64_t ox = x0; ox <= x1; ++ox) {
        OverlayPiece piece;
        piece.key = MakeTileKey(static_cast<int>(WrapColumn(ox, ocols)), static_cast<int>(oy), ov);
        piece.x = double(ox) * kTileSize / ow * world_w - double(plan.tx0) * kTileSize;
        piece.width = kTileSize / ow * world_w;
        piece.y = py0;
        piece.height = py1 - py0;
        piece.opacity = layer.layer.opacity;
        int c0 = std::max(0, static_cast<int>(std::floor(piece.x / kTileSize)));
        int c1 = std::min(plan.cols - 1, static_cast<int>(std::floor((piece.x + piece.width - 1e-6) / kTileSize)));
        int r0 = std::max(0, static_cast<int>(std::floor(piece.y / kTileSize)));
        int r1 = std::min(plan.rows - 1, static_cast<int>(std::floor((piece.y + piece.height - 1e-6) / kTileSize)));
        for (int r = r0; r <= r1; ++r)
          for (int c = c0; c <= c1; ++c) cells[size_t(r) * plan.cols + c].overlays.push_back(piece);
      }
    }
  }
  return cells;
}

void CTileEngine::UpdateHeld(const std::vector<Cell>& cells) {
  std::unordered_set<TileKey> needed;
  needed.reserve(cells.size() * 2);
  for (const Cell& c : cells) {
    needed.insert(c.key);
    for (const OverlayPiece& o : c.overlays) needed.insert(o.key);
  }
  // Tiles already held are not asked again: a failed tile stays failed on screen instead of
  // being fetched again on every rebuild. Asking again happens when it comes back into view.
  for (TileKey key : needed) {
    if (held_.count(key)) continue;
    std::shared_ptr<CTile> tile = tiles_.GetTile(key);
    tiles_.MarkInView(tile.get());
    held_[key].tile = std::move(tile);
  }
  for (auto it = held_.begin(); it != held_.end();) {
    if (needed.count(it->first)) {
      ++it;
      continue;
    }
    tiles_.MarkLeftView(it->second.tile.get());
    it = held_.erase(it);
  }
}

void CTileEngine::ReleaseHeld() {
  for (auto& [key, held] : held_) tiles_.MarkLeftView(held.tile.get());
  held_.clear();
}

std::shared_ptr<CTile> CTileEngine::FindStandIn(const Cell& cell, int* levels_up) {
  for (int up = 1; up <= kStandInLevels && up <= cell.z; ++up) {
    TileKey key = MakeTileKey(cell.column >> up, cell.row >> up, TileKeyValue(cell.source, cell.z - up));
    auto memo = ancestors_.find(key);
    if (memo == ancestors_.end()) memo = ancestors_.emplace(key, tiles_.FindTile(key)).first;
    const std::shared_ptr<CTile>& tile = memo->second;
    if (tile && tile->LoadedImage()) {
      *levels_up = up;
      return tile;
    }
  }
  return nullptr;
}

uint64_t CTileEngine::CellSignature(const Cell& cell) {
  uint64_t h = 0x5A17ull;
  auto it = held_.find(cell.key);
  const CTile* tile = it == held_.end() ? nullptr : it->second.tile.get();
  int64_t state = tile ? tile->GetState() : int64_t(DS_NOT_EXIST);
  Look look = LookOf(state);
  if (look == Look::kLoaded && tile->LoadedImage()) {
    h = Mix(h, 1);
    h = Mix(h, tile->Serial());
  } else {
    int up = 0;
    std::shared_ptr<CTile> stand_in = look == Look::kPending ? FindStandIn(cell, &up) : nullptr;
    if (stand_in) {
      h = Mix(h, 2);
      h = Mix(h, stand_in->Serial());
      h = Mix(h, uint64_t(up));
    } else {
      h = Mix(h, 3);
    }
    h = Mix(h, uint64_t(look));
  }
  for (const OverlayPiece& o : cell.overlays) {
    auto ot = held_.find(o.key);
    const CTile* overlay = ot == held_.end() ? nullptr : ot->second.tile.get();
    h = Mix(h, overlay && overlay->LoadedImage() ? overlay->Serial() : 0);
  }
  return h;
}

void CTileEngine::DrawCell(CBitmap& image, CGraphics& g, const Plan& plan, const Cell& cell, int cx, int cy) {
  (void)plan;
  const bool fast = options_.fast_blit;
  const GfxRect rect{float(cx), float(cy), float(kTileSize), float(kTileSize)};
  auto fill = [&](Argb color) {
    if (fast) {
      map_image::FillBlock(image, cx, cy, kTileSize, kTileSize, color);
    } else {
      g.SetCompositing(Compositing::kSourceCopy);
      g.FillRectangle(color, rect);
      g.SetCompositing(Compositing::kSourceOver);
    }
  };
  auto it = held_.find(cell.key);
  CTile* tile = it == held_.end() ? nullptr : it->second.tile.get();
  int64_t state = tile ? tile->GetState() : int64_t(DS_NOT_EXIST);
  Look look = LookOf(state);
  const CBitmap* picture = look == Look::kLoaded && tile ? tile->LoadedImage() : nullptr;
  if (picture) {
    bool whole = picture->Width() == kTileSize && picture->Height() == kTileSize;
    Held& held = it->second;
    bool copied = false;
    if (fast && whole && cell.opacity >= 1.0f && held.opaque != 0) {
      // One pass copies the tile and learns whether it is opaque; a tile with transparent
      // pixels is drawn again below, over the background.
      copied = map_image::CopyOpaqueTile(image, cx, cy, *picture);
      held.opaque = copied ? 1 : 0;
    }
    if (!copied) {
      fill(kMapBackground);
      g.DrawImage(*picture, rect, GfxRect{0, 0, float(picture->Width()), float(picture->Height())}, nullptr,
                  cell.opacity);
    }
  } else {
    int up = 0;
    std::shared_ptr<CTile> stand_in = look == Look::kPending ? FindStandIn(cell, &up) : nullptr;
    const CBitmap* coarse = stand_in ? stand_in->LoadedImage() : nullptr;
    if (coarse) {
      // The part of the ancestor over this cell, enlarged.
      float part = float(coarse->Width()) / float(1 << up);
      float part_h = float(coarse->Height()) / float(1 << up);
      int mask = (1 << up) - 1;
      fill(kMapBackground);
      g.DrawImage(*coarse, rect, GfxRect{part * float(cell.column & mask), part_h * float(cell.row & mask), part, part_h},
                  nullptr, cell.opacity);
    } else if (look == Look::kFailed) {
      fill(kTileFailed);
      // A cross in the middle: the tile failed and is not asked again while it stays in view.
      float m = float(kTileSize) / 2, d = 20;
      Pen pen{kTileFailedMark, 3.0f};
      g.DrawLine(pen, float(cx) + m - d, float(cy) + m - d, float(cx) + m + d, float(cy) + m + d);
      g.DrawLine(pen, float(cx) + m - d, float(cy) + m + d, float(cx) + m + d, float(cy) + m - d);
    } else if (look == Look::kMissing) {
      fill(kTileMissing);
    } else {
      fill(kTilePending);
      if (fast) {
        map_image::FillBlock(image, cx, cy, kTileSize, 1, kTilePendingGrid);
        map_image::FillBlock(image, cx, cy, 1, kTileSize, kTilePendingGrid);
      } else {
        g.SetCompositing(Compositing::kSourceCopy);
        g.FillRectangle(kTilePendingGrid, GfxRect{float(cx), float(cy), float(kTileSize), 1});
        g.FillRectangle(kTilePendingGrid, GfxRect{float(cx), float(cy), 1, float(kTileSize)});
        g.SetCompositing(Compositing::kSourceOver);
      }
    }
  }
  if (cell.overlays.empty()) return;
  g.Save();
  g.SetClip(rect);
  for (const OverlayPiece& o : cell.overlays) {
    auto ot = held_.find(o.key);
    const CBitmap* pic = ot == held_.end() ? nullptr : ot->second.tile->LoadedImage();
    if (!pic) continue;
    g.DrawImage(*pic, GfxRect{float(o.x), float(o.y), float(o.width), float(o.height)},
                GfxRect{0, 0, float(pic->Width()), float(pic->Height())}, nullptr, o.opacity);
  }
  g.Restore();
}

bool CTileEngine::FitsBudget(int width, int height, double scale) const {
  return double(width) * scale * double(height) * scale <= double(options_.max_image_pixels);
}

void CTileEngine::RenderDisplay(const CBitmap& level, CBitmap& display, double scale, const GfxRect* clip) {
  CGraphics g(display);
  if (clip) g.SetClip(*clip);
  // The level picture is opaque: copying the filtered pixels gives what blending would.
  g.SetCompositing(Compositing::kSourceCopy);
  g.DrawImage(level, GfxRect{0, 0, float(level.Width() * scale), float(level.Height() * scale)});
  g.Flush();
}

bool CTileEngine::RebuildMapImage() {
  std::lock_guard rebuild(rebuild_mutex_);
  {
    std::lock_guard lock(wake_mutex_);
    building_ = true;
  }
  ancestors_.clear();
  Snapshot snap = TakeSnapshot();
  Plan want = PlanImage(snap);
  bool changed = false;
  if (want.empty) {
    ReleaseHeld();
    std::unique_ptr<MapImage> gone;
    {
      std::lock_guard lock(image_mutex_);
      gone = std::move(image_);
    }
    changed = gone != nullptr;
  } else {
    const KindTransforms& t = TransformsOfKind(want.kind);
    const double world_w = want.WorldWidth();
    double cx = std::fmod(t.lng_to_x(snap.cam.lng, want.z), world_w);
    if (cx < 0) cx += world_w;
    double cy = t.lat_to_y(snap.cam.lat, want.z);
    double hw = snap.cam.width / (2 * want.scale), hh = snap.cam.height / (2 * want.scale);
    // The camera's scale over the level picture (the plan of a reused image keeps its own).
    const double scale = want.scale;
    const bool whole = std::fabs(scale - 1.0) < 1e-9;
    bool reuse = false;
    {
      std::lock_guard lock(image_mutex_);
      if (image_ && Covers(image_->plan, want, cx, cy, hw, hh)) {
        want = image_->plan;
        reuse = true;
      }
    }
    std::vector<Cell> cells = PlanCells(snap, want);
    UpdateHeld(cells);
    std::vector<uint64_t> signatures(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) signatures[i] = CellSignature(cells[i]);
    const int width = want.cols * kTileSize, height = want.rows * kTileSize;
    auto cell_x = [&](size_t i) { return int(i % size_t(want.cols)) * kTileSize; };
    auto cell_y = [&](size_t i) { return int(i / size_t(want.cols)) * kTileSize; };
    if (!reuse) {
      auto next = std::make_unique<MapImage>();
      next->plan = want;
      // The picture the previous image left behind saves an allocation (and its page faults)
      // when a pan moved past the margin at the same level and size.
      if (spare_.Width() == width && spare_.Height() == height) {
        next->pixels = std::move(spare_);
      } else {
        spare_.Reset();
        if (!next->pixels.Create(width, height)) AppLog("map view: no memory for a %d x %d map image", width, height);
      }
      if (!next->pixels.IsEmpty()) {
        CGraphics g(next->pixels);
        for (size_t i = 0; i < cells.size(); ++i) DrawCell(next->pixels, g, want, cells[i], cell_x(i), cell_y(i));
        g.Flush();
        next->signatures = std::move(signatures);
        if (!whole && FitsBudget(width, height, scale) && next->display.Create(int(width * scale), int(height * scale))) {
          RenderDisplay(next->pixels, next->display, scale, nullptr);
          next->display_scale = scale;
        }
        {
          std::lock_guard lock(image_mutex_);
          image_.swap(next);
        }
        if (next) spare_ = std::move(next->pixels);
        changed = true;
      }
    } else {
      // Only the composer replaces image_, so it stays put while cells are redrawn; each cell is
      // drawn under the image lock so that Paint never sees half a tile.
      MapImage* image = image_.get();
      CGraphics g(image->pixels);
      std::vector<size_t> redrawn;
      for (size_t i = 0; i < cells.size(); ++i) {
        if (image->signatures[i] == signatures[i]) continue;
        std::lock_guard lock(image_mutex_);
        DrawCell(image->pixels, g, want, cells[i], cell_x(i), cell_y(i));
        g.Flush();
        image->signatures[i] = signatures[i];
        redrawn.push_back(i);
        changed = true;
      }
      if (whole) {
        if (!image->display.IsEmpty()) {
          std::lock_guard lock(image_mutex_);
          image->display.Reset();
          changed = true;
        }
      } else if (image->display.IsEmpty() || image->display_scale != scale) {
        // A new zoom at the same level: the whole display picture again, swapped in at once.
        CBitmap display;
        if (FitsBudget(width, height, scale) && display.Create(int(width * scale), int(height * scale))) {
          RenderDisplay(image->pixels, display, scale, nullptr);
          std::lock_guard lock(image_mutex_);
          image->display = std::move(display);
          image->display_scale = scale;
          changed = true;
        }
      } else {
        // New tiles: only their part of the display picture (and the pixel the filter reads
        // beyond each side).
        for (size_t i : redrawn) {
          GfxRect clip{float(std::floor((cell_x(i) - 1) * scale)), float(std::floor((cell_y(i) - 1) * scale)),
                       float(std::ceil((kTileSize + 2) * scale) + 1), float(std::ceil((kTileSize + 2) * scale) + 1)};
          std::lock_guard lock(image_mutex_);
          RenderDisplay(image->pixels, image->display, scale, &clip);
        }
      }
    }
  }
  TileCounts counts;
  for (auto& [key, held] : held_) {
    switch (LookOf(held.tile->GetState())) {
      case Look::kLoaded: ++counts.loaded; break;
      case Look::kPending: ++counts.pending; break;
      case Look::kFailed: ++counts.failed; break;
      case Look::kMissing: ++counts.missing; break;
    }
  }
  std::function<void()> sink;
  {
    std::lock_guard lock(wake_mutex_);
    building_ = false;
    built_ = snap.request;
    pending_ = counts.pending > 0;
    counts_ = counts;
    sink = redraw_sink_;
  }
  idle_cv_.notify_all();
  if (changed) {
    image_generation_.fetch_add(1);
    if (sink) sink();
  }
  return counts.pending == 0;
}

}  // namespace velmora
