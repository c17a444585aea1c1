// CAddressDownload: fetches, for a region and a range of zoom levels, every "tile" of every
// enabled geocoder source through the tile manager, so that the geocoders' answers about the
// region lie in their stores. A geocoder tile is the source's request about the tile's centre.
//
// Per level the region is rasterised for each enabled geocoder (the layer manager's list order)
// and the tiles are taken column by column (x outer, y inner), one tile per source in turn. The
// progress picture has an s × s cell per tile of the first source's range, s = ceil(√sources);
// source k paints pixel (k / s, k % s) of its cell: blue for a tile already stored (no request),
// green for a tile that loaded, red for one that failed. The done and failed counters run on
// across the levels.
//
// Requests of source 8 are spaced: the next one is asked only when the previous one has ended
// and kSource8SpacingMs have passed since it was seen to end. At most `download_threads` tiles
// are pending at once; the task polls their states every 10 ms until each is final, so that the
// finished text is shown only once nothing is under way (or a stop came). Pending tiles are held
// as the manager's shared pointers; on a stop the ones still pending are discarded from the
// cache, so that nobody fetches them later for nothing.
//
// Threads: Run runs on the task's worker; it calls the sink from that thread only.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "core/work_thread.h"
#include "exchange/region_raster.h"
#include "platform/gfx/bitmap.h"

namespace velmora {

class CTileManager;
class CLayerManager;

inline constexpr Argb kAddrTileStored = 0xFF0000FFu;  // blue
inline constexpr Argb kAddrTileLoaded = 0xFF00FF00u;  // green
inline constexpr Argb kAddrTileFailed = 0xFFFF0000u;  // red

// Where the task shows its progress (the task panel).
class IAddressDownloadSink {
 public:
  virtual ~IAddressDownloadSink() = default;
  // A new transparent picture of width × height units with a frame round it.
  virtual bool ResetProgress(int64_t width, int64_t height) = 0;
  virtual void SetProgress(int64_t x, int64_t y, Argb colour) = 0;
  // The status text and the counters it shows.
  virtual void SetStatus(const std::string& text, int done, int failed) = 0;
  // Writes the progress picture as PNG to `path` (atomically).
  virtual bool SaveProgressPng(const std::string& path, std::string* error) = 0;
};

struct AddressDownloadOptions {
  int download_threads = 5;  // pending tiles at most (at least 1)
  unsigned source8_spacing_ms = 100;
  unsigned poll_ms = 10;
  std::string data_dir;  // folder of the resume files ("" -> the options' data folder)
};

class CAddressDownload {
 public:
  static constexpr int kSpacedSource = 8;

  CAddressDownload(CTileManager& tiles, const CLayerManager& layers, IAddressDownloadSink& sink,
                   AddressDownloadOptions options = {});

  // Downloads levels first..last (none when first > last) for the projection kind. Stops early
  // when `worker` is asked to quit. Writes or removes the resume files (SaveState) and shows
  // "下载完毕.[done-failed]". True when it ran to its end.
  bool Run(std::span<const LngLatF> region, int first, int last, int kind, CWorkThread& worker);

  int Done() const { return done_; }
  int Failed() const { return failed_; }

  // Cell side for n sources: ceil(√n) (1 for 0 or 1 source, 2 for 2 to 4, ...).
  static int CellSide(int sources);
  // The resume files: "<data folder>addr.hdt" and "<data folder>addr.hbm".
  std::string StatePath(const char* extension) const;
  // After a stop: an empty "addr.hdt" and the picture as PNG in "addr.hbm"; after a full run
  // both are deleted. False when a file could not be written (logged).
  bool SaveState(bool stopped);

 private:
  bool Level(int level, int kind, std::span<const LngLatF> region, CWorkThread& worker);

  CTileManager& tiles_;
  const CLayerManager& layers_;
  IAddressDownloadSink& sink_;
  AddressDownloadOptions options_;
  int done_ = 0;
  int failed_ = 0;
};

}  // namespace velmora
