// The region task panel.
#include "exchange/ui/task_static.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"
#include "platform/gfx/graphics.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/dlg_worker_base.h"

namespace velmora {
namespace {

constexpr UINT kMsgTaskEnded = WM_USER + 0x71;  // the worker's procedure returned

}  // namespace

CTaskStatic::CTaskStatic() {
  MapTimer(kTimerElapsed, [this] { OnElapsedTimer(); });
  MapMessage(kMsgTaskEnded, [this](WPARAM, LPARAM) {
    Finish();
    return LRESULT{0};
  });
}

CTaskStatic::~CTaskStatic() {
  if (worker_.IsRunning()) StopWorkerPumping(worker_);
  worker_.OnExit();
  DestroyWindow();
}

void CTaskStatic::OnDestroy() {
  if (worker_.IsRunning()) StopWorkerPumping(worker_);
  if (timing_) KillTimer(kTimerElapsed);
  timing_ = false;
}

std::string CTaskStatic::FormatElapsed(uint64_t ms) {
  return FormatC("%d:%d:%d.%d", static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                 static_cast<int>(ms / 1000 % 60), static_cast<int>(ms / 100 % 10));
}

bool CTaskStatic::StartTask(const std::string& name, std::function<void()> procedure) {
  if (worker_.IsRunning()) return false;
  worker_.OnExit();  // joins a previous run
  {
    std::lock_guard lock(mutex_);
    start_tick_ = TickCount64();
    elapsed_ = FormatElapsed(0);
  }
  const HWND hwnd = GetSafeHwnd();
  bool started = worker_.Start(name, [procedure = std::move(procedure), hwnd] {
    procedure();
    // The panel may be gone by now: the message is then dropped.
    if (hwnd) UiDispatcher().PostMessage(hwnd, kMsgTaskEnded, 0, 0);
  });
  if (!started) return false;
  if (IsWindow() && worker_.IsRunning()) timing_ = SetTimer(kTimerElapsed, kTimerPeriodMs);
  if (!worker_.IsRunning()) Finish();
  return true;
}

bool CTaskStatic::StartTask(const std::string& name, CWorkThread::LegacyProcedure procedure, void* parameter) {
  return StartTask(name, [procedure, parameter] { procedure(parameter); });
}

bool CTaskStatic::StopTask(unsigned ms) {
  bool ended = StopWorkerPumping(worker_, ms);
  if (ended && IsWindow()) Finish();
  return ended;
}

void CTaskStatic::TaskEnded() {
  if (UiDispatcher().IsUiThread()) {
    Finish();
  } else if (HWND hwnd = GetSafeHwnd()) {
    UiDispatcher().PostMessage(hwnd, kMsgTaskEnded, 0, 0);
  }
}

void CTaskStatic::Finish() {
  {
    std::lock_guard lock(mutex_);
    if (start_tick_) elapsed_ = FormatElapsed(TickCount64() - start_tick_);
  }
  if (timing_) KillTimer(kTimerElapsed);
  timing_ = false;
  Invalidate();
}

void CTaskStatic::OnElapsedTimer() {
  if (!worker_.IsRunning()) {  // ended without the panel hearing of it yet
    Finish();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    elapsed_ = FormatElapsed(TickCount64() - start_tick_);
  }
  Invalidate();
}

std::string CTaskStatic::ElapsedText() const {
  std::lock_guard lock(mutex_);
  return elapsed_;
}

void CTaskStatic::SetRegion(std::vector<LngLatF> region) {
  std::lock_guard lock(mutex_);
  region_ = std::move(region);
}

std::vector<LngLatF> CTaskStatic::Region() const {
  std::lock_guard lock(mutex_);
  return region_;
}

bool CTaskStatic::RasterizeRegionTiles(int kind, int zoom, RegionTiles* out, std::string* error,
                                       const RegionRasterOptions& options) const {
  std::vector<LngLatF> region = Region();
  return velmora::RasterizeRegionTiles(kind, zoom, std::span<const LngLatF>(region), out, error, options);
}

void CTaskStatic::SnapshotLayers() {
  IMapViewState* view = CurrentMapView();
  std::vector<MapLayer> layers = view ? view->CopyLayerList() : std::vector<MapLayer>{};
  std::lock_guard lock(mutex_);
  layers_ = std::move(layers);
}

void CTaskStatic::FreeLayers() {
  std::lock_guard lock(mutex_);
  layers_.clear();
  layers_.shrink_to_fit();
}

std::vector<MapLayer> CTaskStatic::Layers() const {
  std::lock_guard lock(mutex_);
  return layers_;
}

bool CTaskStatic::ResetProgress(int64_t width, int64_t height, Argb frame) {
  std::lock_guard lock(mutex_);
  progress_.Reset();
  units_w_ = units_h_ = 0;
  scale_ = 1;
  if (width < 1 || height < 1) return false;
  // A task of more units than a picture should hold is shown with square blocks of units.
  int64_t scale = 1;
  while ((width + scale - 1) / scale > kMaxProgressSide || (height + scale - 1) / scale > kMaxProgressSide ||
         ((width + scale - 1) / scale) * ((height + scale - 1) / scale) > kMaxProgressPixels)
    scale *= 2;
  const int w = static_cast<int>((width + scale - 1) / scale) + 2;
  const int h = static_cast<int>((height + scale - 1) / scale) + 2;
  if (!progress_.Create(w, h, 0)) return false;
  for (int x = 0; x < w; ++x) progress_.SetPixel(x, 0, frame), progress_.SetPixel(x, h - 1, frame);
  for (int y = 0; y < h; ++y) progress_.SetPixel(0, y, frame), progress_.SetPixel(w - 1, y, frame);
  units_w_ = width;
  units_h_ = height;
  scale_ = static_cast<int>(scale);
  return true;
}

void CTaskStatic::SetProgress(int64_t x, int64_t y, Argb color) {
  std::lock_guard lock(mutex_);
  if (x < 0 || y < 0 || x >= units_w_ || y >= units_h_) return;
  progress_.SetPixel(static_cast<int>(x / scale_) + 1, static_cast<int>(y / scale_) + 1, color);
}

Argb CTaskStatic::ProgressAt(int64_t x, int64_t y) const {
  std::lock_guard lock(mutex_);
  if (x < 0 || y < 0 || x >= units_w_ || y >= units_h_) return 0;
  return progress_.GetPixel(static_cast<int>(x / scale_) + 1, static_cast<int>(y / scale_) + 1);
}

int64_t CTaskStatic::ProgressWidth() const {
  std::lock_guard lock(mutex_);
  return units_w_;
}

int64_t CTaskStatic::ProgressHeight() const {
  std::lock_guard lock(mutex_);
  return units_h_;
}

int CTaskStatic::ProgressScale() const {
  std::lock_guard lock(mutex_);
  return scale_;
}

void CTaskStatic::SetStatus(std::string text) {
  {
    std::lock_guard lock(mutex_);
    status_ = std::move(text);
  }
  Invalidate();
}

std::string CTaskStatic::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

bool CTaskStatic::OnPaint(CBitmap& canvas) {
  CGraphics g(canvas);
  if (!g.IsValid()) return false;
  g.Clear(0xFFF0F0F0u);
  const CFont font;
  const float line = font.PixelSize() + 5;
  std::lock_guard lock(mutex_);
  const float text_top = static_cast<float>(canvas.Height()) - 2 * line - 2;
  // The picture, as large as fits above the text, each pixel a sharp block.
  if (!progress_.IsEmpty() && text_top > 4 && canvas.Width() > 4) {
    const float room_w = static_cast<float>(canvas.Width()) - 4, room_h = text_top - 4;
    const float s = std::min(room_w / progress_.Width(), room_h / progress_.Height());
    const float w = progress_.Width() * s, h = progress_.Height() * s;
    g.SetInterpolation(Interpolation::kNearest);
    g.DrawImage(progress_, GfxRect{(room_w - w) / 2 + 2, (room_h - h) / 2 + 2, w, h});
  }
  g.DrawString(status_, font, 0xFF000000u, 4, std::max(0.0f, text_top));
  g.DrawString(elapsed_, font, 0xFF000000u, 4, std::max(0.0f, text_top + line));
  g.Flush();
  return true;
}

}  // namespace velmora
