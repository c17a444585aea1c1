// The address data download: levels, round robin over the geocoders, tile states read back into
// the progress picture, and the resume files.
#include "places/address_download.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/sync.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

// The tiles of one source at one level, in column order, taken one at a time.
class ColumnCursor {
 public:
  explicit ColumnCursor(RegionTiles tiles) : tiles_(std::move(tiles)), x_(tiles_.x0), y_(tiles_.y0) {}
  // The next tile of the region; false when every tile was taken.
  bool Next(int* x, int* y) {
    while (x_ <= tiles_.x1 && tiles_.y1 >= tiles_.y0) {
      const int cx = x_, cy = y_;
      if (++y_ > tiles_.y1) {
        y_ = tiles_.y0;
        ++x_;
      }
      if (!tiles_.has_outline || tiles_.Contains(cx, cy)) {
        *x = cx;
        *y = cy;
        return true;
      }
    }
    return false;
  }

 private:
  RegionTiles tiles_;
  int x_, y_;
};

struct SourceQueue {
  int id = 0;
  int index = 0;  // k: the pixel of the cell it paints
  ColumnCursor cursor;
  bool empty = false;
};

struct Pending {
  std::shared_ptr<CTile> tile;
  int source = 0;
  int index = 0;
  int x = 0, y = 0;
};

}  // namespace

CAddressDownload::CAddressDownload(CTileManager& tiles, const CLayerManager& layers, IAddressDownloadSink& sink,
                                   AddressDownloadOptions options)
    : tiles_(tiles), layers_(layers), sink_(sink), options_(std::move(options)) {
  options_.download_threads = std::max(1, options_.download_threads);
  options_.poll_ms = std::max(1u, options_.poll_ms);
}

int CAddressDownload::CellSide(int sources) {
  int s = 1;
  while (s * s < sources) ++s;
  return s;
}

std::string CAddressDownload::StatePath(const char* extension) const {
  const std::string folder = options_.data_dir.empty() ? AppOptions().data_dir : options_.data_dir;
  return folder + "addr." + extension;
}

bool CAddressDownload::SaveState(bool stopped) {
  const std::string hdt = StatePath("hdt"), hbm = StatePath("hbm");
  if (!stopped) {
    std::error_code ec;
    std::filesystem::remove(hdt, ec);
    std::filesystem::remove(hbm, ec);
    return true;
  }
  std::string error;
  bool ok = WriteFileAtomic(hdt, nullptr, 0, &error);
  if (!ok) AppLog("address download: %s: %s", hdt.c_str(), error.c_str());
  if (!sink_.SaveProgressPng(hbm, &error)) {
    AppLog("address download: %s: %s", hbm.c_str(), error.c_str());
    ok = false;
  }
  return ok;
}

bool CAddressDownload::Run(std::span<const LngLatF> region, int first, int last, int kind, CWorkThread& worker) {
  for (int level = first; level <= last && !worker.QuitRequested(); ++level) {
    if (!Level(level, kind, region, worker)) break;
  }
  const bool stopped = worker.QuitRequested();
  SaveState(stopped);
  sink_.SetStatus(FormatC("下载完毕.[%d-%d]", done_, failed_), done_, failed_);
  return !stopped;
}

bool CAddressDownload::Level(int level, int kind, std::span<const LngLatF> region, CWorkThread& worker) {
  std::vector<SourceQueue> queues;
  int x0 = 0, y0 = 0, across = 0, down = 0;
  for (const MapSourceDef* source : layers_.EnabledGeocoders()) {
    RegionTiles tiles;
    std::string error;
    if (!RasterizeRegionTiles(kind, level, region, &tiles, &error)) {
      AppLog("address download: level %d: %s", level, error.c_str());
      continue;
    }
    if (tiles.IsEmpty()) continue;  // a source whose region yields no tiles contributes nothing
    if (queues.empty()) {  // the first source's range sizes the picture
      x0 = tiles.x0;
      y0 = tiles.y0;
      across = tiles.Width();
      down = tiles.Height();
    }
    queues.push_back(SourceQueue{source->id, static_cast<int>(queues.size()), ColumnCursor(std::move(tiles))});
  }
  if (queues.empty()) return true;
  const int s = CellSide(static_cast<int>(queues.size()));
  sink_.ResetProgress(int64_t(across) * s, int64_t(down) * s);
  auto paint = [&](int index, int x, int y, Argb colour) {
    sink_.SetProgress(int64_t(x - x0) * s + index / s, int64_t(y - y0) * s + index % s, colour);
  };
  auto report = [&] { sink_.SetStatus(FormatC("正在下载%d级数据...[%d-%d]", level, done_, failed_), done_, failed_); };

  std::vector<Pending> pending;
  std::shared_ptr<CTile> spaced;     // the last tile of source 8 asked for, until it ended
  uint64_t spaced_ended = 0;         // when it was seen to end
  bool spaced_asked = false;

  // Looks at every pending tile; the final ones are painted and counted.
  auto poll = [&] {
    bool changed = false;
    const uint64_t now = TickCount64();
    for (size_t i = 0; i < pending.size();) {
      Pending& p = pending[i];
      const int64_t state = p.tile->GetState();
      if (IsPendingState(state)) {
        ++i;
        continue;
      }
      if (state == DS_LOADED || IsStampedState(state)) {
        paint(p.index, p.x, p.y, kAddrTileLoaded);
        ++done_;
        if (state == DS_LOADED) tiles_.DiscardTile(p.tile.get());
      } else {
        paint(p.index, p.x, p.y, kAddrTileFailed);
        ++failed_;
      }
      if (p.tile == spaced) {
        spaced.reset();
        spaced_ended = now;
      }
      changed = true;
      pending[i] = std::move(pending.back());
      pending.pop_back();
    }
    if (changed) report();
  };
  // Source 8 may ask again once its previous request ended and the spacing has passed since.
  auto spaced_ready = [&] {
    if (spaced) return false;
    return !spaced_asked || TickCount64() - spaced_ended >= options_.source8_spacing_ms;
  };

  report();
  for (;;) {
    if (worker.QuitRequested()) break;
    bool any_left = false, took = false;
    for (SourceQueue& q : queues) {
      if (q.empty) continue;
      if (worker.QuitRequested()) break;
      if (q.id == kSpacedSource && !spaced_ready()) {
        any_left = true;
        continue;  // its turn passes; the other sources go on meanwhile
      }
      int x = 0, y = 0;
      if (!q.cursor.Next(&x, &y)) {
        q.empty = true;
        continue;
      }
      any_left = true;
      took = true;
      const TileKey key = MakeTileKey(x, y, TileKeyValue(q.id, level));
      if (tiles_.IsTileStored(key)) {
        paint(q.index, x, y, kAddrTileStored);
        ++done_;
        report();
      } else {
        Pending p{tiles_.GetTile(key), q.id, q.index, x, y};
        if (q.id == kSpacedSource) {
          spaced = p.tile;
          spaced_asked = true;
        }
        pending.push_back(std::move(p));
      }
      poll();
      while (pending.size() >= static_cast<size_t>(options_.download_threads) && !worker.WaitQuit(options_.poll_ms))
        poll();
    }
    if (!any_left) break;
    if (!took && worker.WaitQuit(options_.poll_ms)) break;  // only source 8 waits for its turn
    poll();
  }
  // Every tile asked for is looked at until it is final, unless a stop comes.
  while (!pending.empty() && !worker.WaitQuit(options_.poll_ms)) poll();
  if (worker.QuitRequested()) {
    for (const Pending& p : pending) tiles_.DiscardTile(p.tile.get());
    return false;
  }
  return true;
}

}  // namespace velmora
