// The elevation grid panel: runs, contour display, painting and the file commands.
#include "terrain/ui/dem_grid_ctrl.h"

#include <algorithm>

#include "core/format.h"
#include "core/log.h"
#include "core/page_options.h"
#include "places/ui/dlg_coord_list.h"
#include "platform/gfx/font.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/text_shape.h"
#include "terrain/dem_files.h"

namespace velmora {
namespace {

constexpr UINT kMsgRunEnded = WM_USER + 0x73;  // the worker's run returned (wparam 1: stopped)
constexpr Argb kWhite = 0xFFFFFFFFu;

}  // namespace

CDemGridCtrl::CDemGridCtrl() {
  MapMessage(kMsgRunEnded, [this](WPARAM stopped, LPARAM) {
    std::string error;
    bool out_of_memory = false;
    {
      std::lock_guard lock(Mutex());
      error = std::move(worker_error_);
      worker_error_.clear();
      out_of_memory = worker_out_of_memory_;
    }
    RunEnded(stopped != 0, out_of_memory, std::move(error));
    return LRESULT{0};
  });
}

CDemGridCtrl::~CDemGridCtrl() {
  // The worker's procedure uses this object's members: it ends before they are gone.
  if (IsRunning()) StopTask();
}

int CDemGridCtrl::OnCreate() {
  ResetPicture();
  return CTaskStatic::OnCreate();
}

void CDemGridCtrl::PreSubclassWindow() {
  CTaskStatic::PreSubclassWindow();
  ResetPicture();
}

void CDemGridCtrl::ClientSize(int* width, int* height) const {
  const RECT r = GetWindowRect();
  *width = r.right - r.left;
  *height = r.bottom - r.top;
  if (!IsWindow() || *width < 1 || *height < 1) {
    *width = kDefaultWidth;
    *height = kDefaultHeight;
  }
}

void CDemGridCtrl::ResetPicture() {
  int w = 0, h = 0;
  ClientSize(&w, &h);
  std::lock_guard lock(Mutex());
  if (picture_.Width() != w || picture_.Height() != h) {
    picture_.Reset();
    picture_.Create(w, h, kWhite);
  } else {
    picture_.Clear(kWhite);
  }
}

// ---- the region ---------------------------------------------------------------------------

bool CDemGridCtrl::SetPoints(LngLatF first, LngLatF second, double sample_distance) {
  if (running_ || !data_.SetPoints(first, second, sample_distance)) return false;
  SetRegion(data_.polygon);
  screen_ = nullptr;
  records_.clear();
  labels_.clear();
  Invalidate();
  return true;
}

bool CDemGridCtrl::SetDemData(std::span<const LngLatF> polygon, double sample_distance) {
  if (running_ || !data_.SetDemData(polygon, sample_distance)) return false;
  SetRegion(data_.polygon);
  screen_ = nullptr;
  records_.clear();
  labels_.clear();
  Invalidate();
  return true;
}

bool CDemGridCtrl::LoadScreenPoints(std::span<const LngLatF> pixels, double sample_distance,
                                    IScreenTerrainSource* source) {
  if (running_ || !data_.SetScreenPoints(pixels, sample_distance)) return false;
  SetRegion(data_.polygon);
  screen_ = source;
  return true;
}

void CDemGridCtrl::Clear() {
  if (running_) return;
  data_.Clear();
  records_.clear();
  labels_.clear();
  ResetPicture();
  Invalidate();
}

// ---- counts and runs ------------------------------------------------------------------------

int64_t CDemGridCtrl::SampleCount() {
  if (GetPageOptions().dem.contour_method == 0) return data_.BuiltInSampleCount();
  // The count only builds the positions: the points and the ready flag change when a run starts.
  const DemExtractStatus status = ExtractDemPoints();
  if (status != DemExtractStatus::kOk) return status == DemExtractStatus::kDeclined ? -1 : 0;
  return static_cast<int64_t>(data_.positions.size());
}

DemExtractStatus CDemGridCtrl::ExtractDemPoints() {
  if (running_) return DemExtractStatus::kFailed;
  std::string error;
  const DemExtractStatus status = data_.ExtractDemPoints(
      [this] { return MessageBox(kMillionQuestion, kAppTitle, MB_YESNO | MB_ICONQUESTION) == IDYES; }, &error);
  if (status == DemExtractStatus::kTooMany) {
    AppLog("elevation extraction: %s", error.c_str());
    MessageBox(kOutOfMemory, kAppTitle, MB_OK | MB_ICONERROR);
  }
  return status;
}

bool CDemGridCtrl::OnSetDemData() {
  if (running_) return false;
  // A worker that has reported its end may still be returning: it is joined first.
  if (IsRunning()) StopTask();
  const DemVariant variant = ChooseDemVariant(data_.mode, GetPageOptions().dem.contour_method);
  if ((variant == DemVariant::kRegionPoints || variant == DemVariant::kScreenPoints) && data_.positions.empty() &&
      ExtractDemPoints() != DemExtractStatus::kOk)
    return false;
  // Everything the painting reads besides the picture is reset here, before the worker exists.
  data_.BeginRun(variant);
  records_.clear();
  labels_.clear();
  pens_.clear();
  run_error_.clear();
  run_stopped_ = false;
  ResetPicture();

  DemRunContext context;
  {
    std::lock_guard lock(Mutex());
    context.picture_width = std::max(1, picture_.Width());
    context.picture_height = std::max(1, picture_.Height());
  }
  context.dot = [this](int x, int y, Argb color) {
    std::lock_guard lock(Mutex());
    if (x >= 0 && y >= 0 && x < picture_.Width() && y < picture_.Height()) picture_.SetPixel(x, y, color);
  };
  context.wait_quit = [this](unsigned ms) { return Worker().WaitQuit(ms); };
  context.stop = &Worker().QuitRequest();
  context.screen = screen_;
  const HWND self = GetSafeHwnd();
  const HWND parent = GetParent() ? GetParent()->GetSafeHwnd() : HWND{};
  const bool region = variant == DemVariant::kRegionGrid || variant == DemVariant::kRegionPoints;
  running_ = StartTask(kThreadName, [this, variant, context, self, parent, region] {
    Worker().SignalReady();
    DemRunResult result = data_.Run(variant, context);
    {
      std::lock_guard lock(Mutex());
      worker_error_ = result.error;
      worker_out_of_memory_ = result.out_of_memory;
    }
    Invalidate();
    if (self) UiDispatcher().PostMessage(self, kMsgRunEnded, result.stopped ? 1 : 0, 0);
    if (parent) UiDispatcher().PostMessage(parent, kMsgExtractFinished, result.stopped ? 1 : 0, 0);
    if (region) AppLog("OnSetDemData finished.");
  });
  return running_;
}

void CDemGridCtrl::RunEnded(bool stopped, bool out_of_memory, std::string error) {
  running_ = false;
  run_stopped_ = stopped;
  run_error_ = std::move(error);
  if (!run_error_.empty()) AppLog("elevation extraction: %s", run_error_.c_str());
  if (out_of_memory) MessageBox(kOutOfMemory, kAppTitle, MB_OK | MB_ICONERROR);
  Invalidate();
}

// ---- contours -------------------------------------------------------------------------------

ContourStatus CDemGridCtrl::ComputeContours(int type, double value) {
  if (running_ || data_.tracer.nx() < 2 || data_.tracer.ny() < 2) return ContourStatus::kBadInterval;
  const double interval = data_.tracer.ComputeContourInterval(type, value);
  if (!(interval > 0)) return ContourStatus::kBadInterval;
  const ContourStatus status = data_.tracer.TraceContourLevels(interval);
  if (status != ContourStatus::kOk) return status;
  data_.interval = static_cast<float>(interval);
  labelled_file_.clear();
  labels_.clear();
  BuildContourDisplay();
  // The next extraction may start from this one.
  SaveDemCache();
  return status;
}

void CDemGridCtrl::BuildContourDisplay() {
  int w = 0, h = 0;
  ClientSize(&w, &h);
  BuildDemDrawRecords(data_.tracer.LineSet(), data_.tracer.x_range, data_.tracer.y_range, w, h, GetPageOptions().dem,
                      &pens_, &records_);
  Invalidate();
}

bool CDemGridCtrl::ContourWithSurfer(bool projected) {
  if (running_) return false;
  GridContourJob job;
  job.work_dir = AppOptions().work_dir;
  job.projected = projected;
  job.spacing = GridSpacingOf(data_, projected);
  job.options = GetPageOptions().dem;
  ClientSize(&job.width, &job.height);
  // Whatever this run writes, an older labelled file is not this panel's any more.
  labelled_file_.clear();
  const GridContourResult result =
      ContourWithServer(data_, job, server_factory_, &data_.tracer.LineSet(), &labels_);
  if (!result.ok) {
    AppLog("gridding and contouring: %s", result.error.c_str());
    MessageBox(std::string(kServerMissing) + result.error, kAppTitle, MB_OK | MB_ICONERROR);
    return false;
  }
  labelled_file_ = result.labelled_file;
  BuildContourDisplay();
  return true;
}

bool CDemGridCtrl::EnsureGrid() {
  if (running_) return false;
  if (data_.tracer.nx() >= 2 && data_.tracer.ny() >= 2) return true;
  if (data_.points.empty()) return false;
  if (PutPointsOnLattice(&data_)) return true;
  GridContourJob job;
  job.work_dir = AppOptions().work_dir;
  job.spacing = GridSpacingOf(data_, false);
  std::string error;
  if (GridWithServer(&data_, job, server_factory_, &error)) return true;
  AppLog("gridding: %s", error.c_str());
  MessageBox(std::string(kServerMissing) + error, kAppTitle, MB_OK | MB_ICONERROR);
  return false;
}

void CDemGridCtrl::DropGrid() {
  // New points without a grid: the old grid and its lines (which the drawing records point at)
  // go, so that no later contour run traces an earlier extraction; the ranges stay the points'.
  const ContourRange x = data_.tracer.x_range, y = data_.tracer.y_range, z = data_.tracer.z_range;
  data_.tracer.Reset();
  data_.tracer.x_range = x;
  data_.tracer.y_range = y;
  data_.tracer.z_range = z;
  records_.clear();
  labels_.clear();
  pens_.clear();
  labelled_file_.clear();
  Invalidate();
}

// ---- files ------------------------------------------------------------------------------------

bool CDemGridCtrl::Told(bool ok, const char* message, const std::string& path, const std::string& error) {
  if (ok) return true;
  AppLog("elevation file %s: %s", path.c_str(), error.c_str());
  MessageBox(message, kAppTitle, MB_OK | MB_ICONERROR);
  return false;
}

bool CDemGridCtrl::ExportText(const std::string& path) {
  std::string error;
  return Told(velmora::ExportText(path, data_.points, AppOptions().coord_format, &error), kCannotCreate, path, error);
}

bool CDemGridCtrl::WriteCsvPoints(const std::string& path) {
  std::string error;
  return Told(velmora::WriteCsvPoints(path, data_.points, AppOptions().coord_format, &error), kCannotCreate, path,
              error);
}

bool CDemGridCtrl::ExportExcel(const std::string& path) {
  std::string error;
  return Told(velmora::ExportExcel(path, data_.points, AppOptions().coord_format, nullptr, &error), kCannotCreate,
              path, error);
}

void CDemGridCtrl::TakePoints(std::vector<Point3D> points) {
  DropGrid();
  data_.points = std::move(points);
  if (data_.mode == kDemModeRegion) {
    data_.positions.clear();
    for (const Point3D& p : data_.points) data_.positions.push_back({static_cast<float>(p.x), static_cast<float>(p.y)});
  }
}

bool CDemGridCtrl::ImportText(const std::string& path, bool quiet) {
  if (running_) return false;
  std::vector<Point3D> points;
  std::string error;
  if (!Told(velmora::ImportText(path, &points, &error), kCannotOpen, path, error)) return false;
  TakePoints(std::move(points));
  if (!quiet && !data_.points.empty()) {
    CDlgCoordList dialog(this);
    dialog.SetPoints(&data_.points);
    dialog.DoModal();
  }
  data_.RecomputeRanges();
  Invalidate();
  return true;
}

bool CDemGridCtrl::ImportCsv(const std::string& path) {
  if (running_) return false;
  std::vector<Point3D> points;
  std::string error;
  if (!Told(velmora::ImportCsv(path, &points, &error), kCannotOpen, path, error)) return false;
  TakePoints(std::move(points));
  data_.RecomputeRanges();
  Invalidate();
  return true;
}

bool CDemGridCtrl::ExportSurferGrid(const std::string& path) {
  std::string error;
  return Told(velmora::ExportSurferGrid(path, data_.tracer, &error), kCannotCreate, path, error);
}

bool CDemGridCtrl::WriteBlnFile(const std::string& path) {
  std::string error;
  return Told(velmora::WriteBlnFile(path, data_, AppOptions().coord_format, &error), kCannotCreate, path, error);
}

bool CDemGridCtrl::SaveDemCache(const std::string& path) {
  std::string error;
  const bool ok = velmora::SaveDemCache(data_, path, &error);
  if (!ok) AppLog("elevation cache %s: %s", path.c_str(), error.c_str());
  return ok;
}

bool CDemGridCtrl::LoadDemCache(const std::string& path) {
  if (running_) return false;
  std::string error;
  const bool ok = velmora::LoadDemCache(&data_, path, &error);
  if (ok) DropGrid();
  if (!ok) AppLog("elevation cache %s: %s", path.c_str(), error.c_str());
  Invalidate();
  return ok;
}

bool CDemGridCtrl::SaveDemCache() { return SaveDemCache(DemCachePath()); }
bool CDemGridCtrl::LoadDemCache() { return LoadDemCache(DemCachePath()); }
bool CDemGridCtrl::DemCacheExists() { return velmora::DemCacheExists(); }

std::vector<std::unique_ptr<CTextShape>> CDemGridCtrl::AddContourLabels() const {
  return velmora::AddContourLabels(labels_, GetPageOptions().dem.label_color);
}

// ---- painting -------------------------------------------------------------------------------

bool CDemGridCtrl::OnPaint(CBitmap& canvas) {
  CBitmap frame;
  if (!frame.Create(canvas.Width(), canvas.Height(), kWhite)) return false;
  {
    CGraphics g(frame);
    if (!g.IsValid()) return false;
    {
      std::lock_guard lock(Mutex());
      if (!picture_.IsEmpty()) {
        g.SetInterpolation(Interpolation::kNearest);
        g.DrawImage(picture_, GfxRect{0, 0, static_cast<float>(frame.Width()), static_cast<float>(frame.Height())});
      }
    }
    // The drawing lists change only on this thread, and stay empty while a run goes on.
    if (!running_) {
      g.SetAntialias(false);
      for (const DemDrawRecord& record : records_) {
        if (record.pen < 0 || static_cast<size_t>(record.pen) >= pens_.size()) continue;
        g.DrawLines(Pen{pens_[record.pen], 1.0f}, record.points.data(), record.points.size());
      }
      g.SetAntialias(true);
      const CTextStyle style;
      const CFont label_font(style.face, CFont::PointsToPixels(style.size) / 1.5f);
      const Argb label_color = GetPageOptions().dem.label_color;
      for (const DemLabel& label : labels_) g.DrawString(label.text, label_font, label_color, label.px, label.py);
    }
    g.DrawString(FormatC("提取点数:%d", DemSampleCounter().load()), CFont(), 0xFF000000u, 0, 0);
    g.Flush();
  }
  CGraphics out(canvas);
  if (!out.IsValid()) return false;
  out.SetCompositing(Compositing::kSourceCopy);
  out.DrawImage(frame, 0, 0);
  out.Flush();
  return true;
}

}  // namespace velmora
