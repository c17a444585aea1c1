// The snapshot mosaic of the earth application: the dialog, its whole job and its retake.
#include "earth/ui/dlg_ge_mosaic.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "core/format.h"
#include "core/imaging.h"
#include "core/log.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "earth/mosaic_assemble.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/earth_page.h"
#include "earth/ui/google_earth_app.h"
#include "platform/fs.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "shell/dialog_ex.h"

namespace velmora {

namespace {

constexpr UINT kWmSysCommand = 0x0112;
constexpr WPARAM kScScreenSave = 0xF140;
constexpr WPARAM kScMonitorPower = 0xF170;
constexpr UINT kWmPlacePage = WM_USER + 60;  // the page moves in once the dialog is shown

std::atomic<int> g_screen_width{1920};
std::atomic<int> g_screen_height{1080};

const DialogTemplate& GeTemplate() {
  static const DialogTemplate t = [] {
    DialogTemplate d;
    d.id = kGeMosaicDialogId;
    d.caption = kGeMosaicCaption;
    d.cx = 400;
    d.cy = 300;
    // The holder of the render window: a plain window, which the front end shows as a container.
    d.controls = {{ControlKind::kCustom, kGeMosaicRenderHolder, "", 0, 0, 400, 300, 0}};
    RegisterDialogTemplate(d);
    return d;
  }();
  return t;
}


std::string ExtensionOf(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string e = path.substr(dot + 1);
  for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return e;
}

}  // namespace

void GeMosaicDialogSize(int screen_width, int screen_height, bool full_screen, int* width, int* height) {
  if (full_screen) {
    *width = screen_width;
    *height = screen_height;
    return;
  }
  *width = static_cast<int>(screen_width * static_cast<double>(0.72f));
  *height = static_cast<int>(screen_height * static_cast<double>(0.7f));
}

void SetGeMosaicScreenSize(int width, int height) {
  g_screen_width = width;
  g_screen_height = height;
}

CDlgGEMosaic::CDlgGEMosaic(CWnd* parent) : CDialog(GeTemplate(), parent) {}

CDlgGEMosaic::~CDlgGEMosaic() {
  worker_.QuitRequest().Set();
}

bool CDlgGEMosaic::OnInitDialog() {
  SetWindowIconFromImage(this, "export.png");
  folder_ = AppOptions().data_dir;
  job.next_lng = job.left;
  job.next_lat = job.top;
  job.column = job.row = 0;
  const std::string resume = folder_ + kGeResumeFile;
  std::error_code ec;
  if (std::filesystem::exists(resume, ec)) {
    std::string error;
    GeMosaicJob stored;
    if (ReadGeResumeFile(resume, &stored, &error)) {
      job = stored;
      resumed_ = true;
    }
    else
      AppLog("mosaic: the resume file is broken and removed: %s", error.c_str());
    std::filesystem::remove(resume, ec);
  }
  // The host sizes a new dialog from its template; the sizes here are pixels, set once shown.
  UiDispatcher().PostMessage(GetSafeHwnd(), kWmPlacePage, 0, 0);
  return true;
}

void CDlgGEMosaic::OnCancel() {
  cancelled_ = true;
  worker_.QuitRequest().Set();
}

LRESULT CDlgGEMosaic::WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kWmPlacePage) {
    int w = 0, h = 0;
    GeMosaicDialogSize(g_screen_width, g_screen_height, job.full_screen != 0, &w, &h);
    const int x = std::max(0, (g_screen_width - w) / 2), y = std::max(0, (g_screen_height - h) / 2);
    MoveWindow(RECT{x, y, x + w, y + h});
    CWnd* holder = GetDlgItem(kGeMosaicRenderHolder);
    if (holder) holder->MoveWindow(RECT{0, 0, w, h});
    EarthApplication(true);
    if (CEarthPage* page = EarthApplicationPage(); page && holder) {
      page_home_ = page->SetParent(holder);
      page->MoveWindow(RECT{0, 0, w, h});
      page->EnableWindow(false);
    }
    const bool retake = retake_column >= 0 && retake_row >= 0;
    worker_.Start("GEAppExport", [this, retake] {
      if (retake)
        RunRetake();
      else
        RunWholeJob();
      UiDispatcher().PostMessage(GetSafeHwnd(), WM_WORKER_ENDED, 0, 0);
    });
    // Starting the worker clears its quit request: a Cancel before the page was placed stops the
    // job as soon as it begins.
    if (cancelled_) worker_.QuitRequest().Set();
    return 0;
  }
  if (msg == WM_WORKER_ENDED) {
    OnDone();
    return 0;
  }
  if (msg == kWmSysCommand && ((wparam & 0xFFF0) == kScScreenSave || (wparam & 0xFFF0) == kScMonitorPower)) return 0;
  return CDialog::WindowProc(msg, wparam, lparam);
}

void CDlgGEMosaic::OnDone() {
  worker_.Stop(kInfinite);  // it posted its end as its last step
  if (CEarthPage* page = EarthApplicationPage(); page && page_home_) {
    page->SetParent(page_home_);
    RECT home = page_home_->GetWindowRect();
    page->MoveWindow(RECT{0, 0, home.Width(), home.Height()});
    page->EnableWindow(true);
  }
  EndDialog(IDOK);
  if (finished_) {
    ShowMessageBox(kGeMosaicDone, MB_OK);
    const size_t slash = written_path_.rfind('/');
    GetUiHost().OpenDocument(slash == std::string::npos ? std::string(".") : written_path_.substr(0, slash));
  }
}

// ---- the whole job (worker) -------------------------------------------------------------------

namespace {

// Waits until the page reports the render window at its new size.
void WaitForSize(CGoogleEarthApp& app, Event& stop, int width, int height) {
  for (int i = 0; i < 500 && !stop.IsSet(); ++i) {
    int w = 0, h = 0;
    if (app.GetClientSize(&w, &h) && w == width && h == height) return;
    stop.Wait(10);
  }
}

}  // namespace

void CDlgGEMosaic::RunWholeJob() {
  worker_.SignalReady();
  Event& stop = worker_.QuitRequest();
  std::unique_ptr<CGoogleEarthApp> app;
  FILE* log = nullptr;
  int max_columns = 0;
  int col = static_cast<int>(job.column), row = static_cast<int>(job.row);
  double lng = job.next_lng, lat = job.next_lat;
  try {
    app = std::make_unique<CGoogleEarthApp>(EarthApplicationPage() ? EarthApplicationPage()->GetSafeHwnd() : 0, &stop);
    // A page that cannot start would only fail every call: say so and stop (resumable) at once.
    if (!app->Started() && !stop.IsSet()) {
      ShowMessageBox(kGeMosaicNoEarth, MB_OK);
      stop.Set();
    }
    int dw = 0, dh = 0;
    GeMosaicDialogSize(g_screen_width, g_screen_height, job.full_screen != 0, &dw, &dh);
    WaitForSize(*app, stop, dw, dh);
    if (GetPageOptions().exports.write_log) {
      const std::time_t now = std::time(nullptr);
      if (FILE* project = std::fopen(GeProjectFilePath(job.output_path, now).c_str(), "w+")) {
        const std::string text = GeProjectFileText(job);
        std::fwrite(text.data(), 1, text.size(), project);
        std::fclose(project);
      }
      log = std::fopen(GeProjectFilePath(job.output_path, now, ".txt").c_str(), "w+");
      if (log) std::fputs(GeJobLogHeader(job).c_str(), log);
    }
    app->SaveCamera();
    std::optional<GeRect> rect = GeJobRect(job);
    if (!rect) {
      AppLog("mosaic: the rectangle is empty");
      stop.Set();
    }
    if (!stop.IsSet() && !app->StepCamera(job.next_lng, job.next_lat, job.altitude, true)) stop.Set();
    int w = 0, h = 0;
    if (!stop.IsSet()) {
      double l, t, r, b;
      app->GetCaptureBounds(&l, &t, &r, &b);
      std::optional<GeGrid> grid = GeGridSize(*rect, l, t, r, b);
      if (!grid || !app->GetClientSize(&w, &h)) {
        AppLog("mosaic: the capture has no extent");
        stop.Set();
      } else {
        shots_ = grid->columns * grid->rows;
        shots_done_ = grid->columns * row + col;
        const uint64_t needed = GeDiskNeeded(w - 88, h - 163, shots_);
        EnsureFolder(folder_);
        const std::optional<uint64_t> free = FreeDiskSpace(folder_);
        if (!free) AppLog("mosaic: the free space of %s is unknown", folder_.c_str());
        if (free && *free < needed) {
          ShowMessageBox(FormatC(kGeMosaicDiskFull, static_cast<int>(needed >> 20)), MB_OK);
          stop.Set();
        }
      }
    }
    // A new job's shots replace the last job's: none of those may join this picture.
    if (!resumed_) {
      std::error_code list_error;
      for (const auto& entry : std::filesystem::directory_iterator(folder_, list_error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ge_", 0) == 0 && name.size() > 7 &&
            (name.compare(name.size() - 4, 4, ".tmp") == 0 || name.compare(name.size() - 4, 4, ".dat") == 0)) {
          std::error_code remove_error;
          std::filesystem::remove(entry.path(), remove_error);
        }
      }
    }
    // A resumed job: the rows taken before the stop count for the list's columns too.
    for (int r = 0; r < row; ++r) {
      int c = 0;
      std::error_code exists_error;
      while (std::filesystem::exists(GeShotRecordPath(folder_, c, r), exists_error)) ++c;
      max_columns = std::max(max_columns, c);
    }
    // Longitudes run east from the rectangle's left edge, past 180 degrees when it crosses it.
    if (rect && lng < rect->left - 1e-9) lng += 360.0;
    while (!stop.IsSet() && rect && lat > rect->bottom) {
      double row_bottom = lat;
      // A row resumed after some of its shots: the next row starts under the last shot taken,
      // whose record holds its bottom edge (else the row would be taken again).
      if (col > 0) {
        double previous[6];
        std::string error;
        if (ReadGeShotRecord(GeShotRecordPath(folder_, col - 1, row), previous, &error)) {
          row_bottom = previous[5];
          max_columns = std::max(max_columns, col);
        } else {
          AppLog("mosaic: %s", error.c_str());
        }
      }
      while (!stop.IsSet() && lng < rect->right) {
        if (!app->MoveLT(WrapLongitude(lng), lat, log)) break;
        if (stop.Wait(1)) break;
        double record[6] = {WrapLongitude(lng), lat, 0, 0, 0, 0};
        app->GetCaptureBounds(&record[2], &record[3], &record[4], &record[5]);
        std::string error;
        WriteGeShotRecord(GeShotRecordPath(folder_, col, row), record, &error);
        std::unique_ptr<CBitmap> shot = app->CaptureRender();
        if (!shot) break;
        if (!SaveImageFile(*shot, MosaicShotPath(folder_, kGeShotPrefix, col, row), ImageType::kBmp, {}, &error)) {
          AppLog("mosaic: %s", error.c_str());
          ShowMessageBox(FormatC("error : %d", 7), MB_OK);  // 7: GDI+ Win32Error, a file that cannot be written
          stop.Set();
          break;
        }
        if (log) std::fprintf(log, "\n%d : Snap OK %d,%d", static_cast<int>(TickCount64()), col, row);
        ++shots_done_;
        const double percent = shots_ > 0 ? double(shots_done_) / shots_ * 100 : 0;
        const std::string title = FormatC("Google Earth图片拼接 - ％%.1f", percent);
        UiDispatcher().PostCall([this, title] {
          if (IsWindow()) SetWindowText(title);
        });
        double next = record[4];
        while (next < lng) next += 360.0;  // the corner east of 180 degrees
        row_bottom = record[5];
        lng = next;
        ++col;
        max_columns = std::max(max_columns, col);
      }
      if (stop.IsSet()) break;
      lat = row_bottom;
      ++row;
      col = 0;
      lng = rect->left;
    }
  } catch (const CEarthError& e) {
    // The page failed or went away in the middle: the job ends as a stop, to be resumed.
    AppLog("mosaic: %s", e.what());
    if (e.Code() == kEarthStalled) ShowMessageBox(e.what(), MB_OK);
    stop.Set();
  }
  if (log) std::fclose(log);
  if (app) {
    try {
      app->RestoreCamera();
    } catch (const CEarthError& e) {
      AppLog("mosaic: %s", e.what());
    }
  }
  std::error_code ec;
  if (!stop.IsSet()) {
    columns_ = max_columns;
    rows_ = row;
    GeMosaicList list{static_cast<uint32_t>(columns_), static_cast<uint32_t>(rows_), job.full_screen, job.output_path,
                      job.altitude, job.delay_ms};
    std::string error;
    if (!WriteGeListFile(folder_ + kGeListFile, list, &error)) AppLog("mosaic: %s", error.c_str());
    finished_ = app && Join(*app);
  } else {
    stopped_ = true;
    std::filesystem::remove(folder_ + kGeListFile, ec);
    job.next_lng = static_cast<float>(WrapLongitude(lng));
    job.next_lat = static_cast<float>(lat);
    job.column = static_cast<uint32_t>(col);
    job.row = static_cast<uint32_t>(row);
    std::string error;
    if (!WriteGeResumeFile(folder_ + kGeResumeFile, job, &error)) AppLog("mosaic: %s", error.c_str());
  }
}

bool CDlgGEMosaic::Join(CGoogleEarthApp& app) {
  MosaicAssembleOptions options;
  options.folder = folder_;
  options.jpeg_quality = AppOptions().jpeg_quality;
  options.ask_bmp = [] { return ShowMessageBox(kGeMosaicTooLarge, MB_YESNO) == IDYES; };
  std::string written, error;
  const MosaicResult result = MosaicAssemble(job.output_path, kGeShotPrefix, columns_, rows_, options, &written, &error);
  if (result == MosaicResult::kCreateFailed) ShowMessageBox(kGeMosaicCreateFailed, MB_OK);
  if (result != MosaicResult::kWritten) return false;
  written_path_ = written;
  if (job.coordinates && !WorldFileExt(ExtensionOf(written)).empty()) {
    double first[6], last[6], values[6];
    if (!ReadGeShotRecord(GeShotRecordPath(folder_, 0, 0), first, &error) ||
        !ReadGeShotRecord(GeShotRecordPath(folder_, std::max(columns_ - 1, 0), std::max(rows_ - 1, 0)), last, &error)) {
      AppLog("mosaic: no world file: %s", error.c_str());
    } else if (!GeWorldFileValues(first, app.LngStepPerPixel(), values)) {
      AppLog("mosaic: no world file: the pixel size is unknown");
    } else if (!WriteWorldFile(WorldFilePath(written), values, &error) || !WriteProjSideFiles(written, &error)) {
      AppLog("mosaic: %s", error.c_str());
    }
  }
  return true;
}

// ---- the retake (worker) ----------------------------------------------------------------------

void CDlgGEMosaic::RunRetake() {
  worker_.SignalReady();
  Event& stop = worker_.QuitRequest();
  double record[6];
  std::string error;
  if (!ReadGeShotRecord(GeShotRecordPath(folder_, retake_column, retake_row), record, &error)) {
    AppLog("mosaic: retake: %s", error.c_str());
    return;
  }
  try {
    CGoogleEarthApp app(EarthApplicationPage() ? EarthApplicationPage()->GetSafeHwnd() : 0, &stop);
    int dw = 0, dh = 0;
    GeMosaicDialogSize(g_screen_width, g_screen_height, job.full_screen != 0, &dw, &dh);
    WaitForSize(app, stop, dw, dh);
    app.SaveCamera();
    if (!app.StepCamera(record[0], record[1], job.altitude, true)) return;
    if (!app.MoveLT(record[0], record[1], nullptr)) return;
    if (stop.Wait(job.delay_ms)) return;
    std::unique_ptr<CBitmap> shot = app.CaptureRender();
    app.RestoreCamera();
    if (!shot) return;
    const ImageType type = ImageTypeFromExtension(ExtensionOf(job.output_path));
    if (!SaveImageFile(*shot, MosaicShotPath(folder_, kGeShotPrefix, retake_column, retake_row), type, {}, &error))
      AppLog("mosaic: retake: %s", error.c_str());
  } catch (const CEarthError& e) {
    AppLog("mosaic: retake: %s", e.what());
  }
}

}  // namespace velmora
