// CTaskStatic: the base of the region task panels (address download, elevation download,
// elevation sampling). It holds the task's region, a worker thread, a progress picture in task
// units (tiles, sample points) with a frame round it, a status text, done and failed counters
// and a snapshot of the map's layers; timer 1 shows the time since the start as "%d:%d:%d.%d"
// while the task runs. The panel paints itself (picture, status, time). Destroying the panel
// stops its worker.
//
// Threads: the worker changes the picture, the status and the counters; the user-interface
// thread paints them. Both go through the panel's lock (Mutex(), recursive, so a worker may hold
// it across several changes).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "exchange/region_raster.h"
#include "platform/gfx/bitmap.h"
#include "platform/ui/controls.h"
#include "tiles/map_view_state.h"

namespace velmora {

class CTaskStatic : public CStatic {
 public:
  static constexpr UINT_PTR kTimerElapsed = 1;
  static constexpr unsigned kTimerPeriodMs = 100;
  // Largest progress picture; a task of more units is shown at a reduced scale (each pixel
  // stands for a square block of units).
  static constexpr int kMaxProgressSide = 4096;
  static constexpr int64_t kMaxProgressPixels = int64_t(1) << 22;

  CTaskStatic();
  // Stops a worker that still runs (serving the UI queue meanwhile) and destroys the window. A
  // derived panel whose procedure uses the derived object's members stops the task in its own
  // destructor (StopTask), before those members are gone.
  ~CTaskStatic() override;

  // ---- the task ----
  // Starts the worker `name` on `procedure`, sets timer 1 to 100 ms and notes the start. The
  // procedure calls Worker().SignalReady() once it has taken what it needs (StartTask waits for
  // that, or for the procedure's end). When it returns, timer 1 stops and the panel repaints.
  // False when a task is running or the thread cannot be started.
  bool StartTask(const std::string& name, std::function<void()> procedure);
  bool StartTask(const std::string& name, CWorkThread::LegacyProcedure procedure, void* parameter);
  // Stops the worker: from the user-interface thread while serving its queue (the worker may be
  // waiting in a SendMessage to it). True when it ended within `ms`.
  bool StopTask(unsigned ms = kInfinite);
  bool IsRunning() const { return worker_.IsRunning(); }
  CWorkThread& Worker() { return worker_; }
  // Stops timer 1 with the final time and repaints. Any thread; the worker's end does it too.
  void TaskEnded();
  // The time since the start, "%d:%d:%d.%d" (hours, minutes, seconds, tenths), as shown.
  std::string ElapsedText() const;
  static std::string FormatElapsed(uint64_t ms);

  // ---- region ----
  void SetRegion(std::vector<LngLatF> region);
  std::vector<LngLatF> Region() const;
  // The region's tiles for a projection kind at a zoom (the domain rasteriser on the panel's
  // region): the tile range, the outline in tile units and the runs of tiles.
  bool RasterizeRegionTiles(int kind, int zoom, RegionTiles* out, std::string* error = nullptr,
                            const RegionRasterOptions& options = {}) const;

  // ---- map layers ----
  // Copies the current map view's layer list (empty without a view); FreeLayers drops it.
  void SnapshotLayers();
  void FreeLayers();
  std::vector<MapLayer> Layers() const;

  // ---- progress ----
  std::recursive_mutex& Mutex() const { return mutex_; }
  // A new progress picture of width x height units, transparent, with a one-pixel frame of
  // `frame` round it (outside the units). False for a size below 1 or memory that cannot be had.
  bool ResetProgress(int64_t width, int64_t height, Argb frame = 0xFFFFFFFFu);
  // Paints unit (x, y); units outside the picture are ignored.
  void SetProgress(int64_t x, int64_t y, Argb color);
  int64_t ProgressWidth() const;   // in units
  int64_t ProgressHeight() const;
  int ProgressScale() const;       // units per pixel side
  Argb ProgressAt(int64_t x, int64_t y) const;  // straight colour of a unit's pixel
  void SetStatus(std::string text);
  std::string Status() const;
  std::atomic<int> done{0};
  std::atomic<int> failed{0};

  // Picture, status and time, scaled to the canvas.
  bool OnPaint(CBitmap& canvas) override;

 protected:
  void OnDestroy() override;

 private:
  void OnElapsedTimer();
  void Finish();

  mutable std::recursive_mutex mutex_;
  CWorkThread worker_;
  std::vector<LngLatF> region_;
  std::vector<MapLayer> layers_;
  CBitmap progress_;
  int64_t units_w_ = 0, units_h_ = 0;
  int scale_ = 1;
  std::string status_;
  std::string elapsed_ = "0:0:0.0";
  uint64_t start_tick_ = 0;
  bool timing_ = false;
};

}  // namespace velmora
