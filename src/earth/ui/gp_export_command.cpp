// The plug-in view's snapshot export commands.
#include "earth/ui/gp_export_command.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "core/log.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "earth/ui/dlg_mosaic_preview.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "shell/dlg_progress.h"
#include "view/dlg_area_setting.h"

namespace velmora {

// ---- the dialog host (worker thread) --------------------------------------------------------

bool GpExportDialogHost::WaitDialogReady(Event& quit, unsigned timeout_ms) {
  // A call queued now runs once the dialog's modal loop pumps, that is once its window is up.
  auto up = std::make_shared<Event>(true, false);
  UiDispatcher().PostCall([up] { up->Set(); });
  const uint64_t end = TickCount64() + timeout_ms;
  while (!up->Wait(1)) {
    if (quit.IsSet() || TickCount64() >= end) return false;
  }
  return true;
}

void GpExportDialogHost::PlaceDialog(const std::string& title) {
  CDlgProgress* dialog = &dialog_;
  CWnd* render = render_window_;
  UiDispatcher().PostCall([dialog, render, title] {
    if (!dialog->IsWindow()) return;
    dialog->SetWindowText(title);
    if (render && render->IsWindow()) {
      // Beside the render window's right edge, at its top, keeping the dialog's size.
      const RECT r = render->GetWindowRect(), d = dialog->GetWindowRect();
      dialog->MoveWindow(RECT{r.right + 4, r.top, r.right + 4 + d.Width(), r.top + d.Height()});
    }
  });
}

void GpExportDialogHost::Trace(const std::string& line) { dialog_.AddLine("%s", line.c_str()); }

void GpExportDialogHost::Progress(int done, int total) {
  dialog_.SetProgress(total > 0 ? std::clamp(float(done) / float(total), 0.f, 1.f) : 0.f);
}

void GpExportDialogHost::Message(const std::string& text) {
  UiDispatcher().SendCall([text] { ShowMessageBox(text, MB_OK); });
}

bool GpExportDialogHost::AskBmp() {
  int answer = IDNO;
  UiDispatcher().SendCall([&answer] { answer = ShowMessageBox(kGpBmpQuestion, MB_YESNO | MB_ICONQUESTION); });
  return answer == IDYES;
}

void GpExportDialogHost::OpenFolder(const std::string& folder) {
  UiDispatcher().PostCall([folder] { GetUiHost().OpenDocument(folder); });
}

void GpExportDialogHost::Close() { dialog_.Close(); }

// ---- the commands (user-interface thread) ----------------------------------------------------

bool OnGpExport(const GpExportContext& context, const float* top_left, const float* bottom_right,
                GpExportResult* result) {
  if (!context.plugin) return false;
  // 1-3. The output path and the export settings.
  CFileDialogExport file("jpg", GetProfileString("recent", "export", "kovra"), context.parent);
  double center[3] = {0, 0, 0};
  const double default_km =
      context.get_center && context.get_center(center) && center[2] > 0 ? center[2] * 0.0008 : 1.0;
  file.altitude_km = GetProfileDouble("region", "export_alt", default_km);
  if (file.DoModal() != IDOK || file.GetPathName().empty()) return false;
  WriteProfileDouble("region", "export_alt", file.altitude_km);
  WriteProfileString("recent", "export", file.GetPathName());

  GpExportParams params;
  params.data_folder = AppOptions().data_dir;
  params.output_path = file.GetPathName();
  params.delay_ms = static_cast<uint32_t>(std::max(0, file.delay_ms));
  params.full_screen = file.full_screen;
  params.coordinates = file.geographic;
  params.write_log = GetPageOptions().exports.write_log;
  params.altitude = file.altitude_km * 1000.0;
  params.jpeg_quality = AppOptions().jpeg_quality;
  if (top_left && bottom_right) {
    params.has_rectangle = true;
    params.left = top_left[0];
    params.top = top_left[1];
    params.right = bottom_right[0];
    params.bottom = bottom_right[1];
  }
  if (context.adjust) context.adjust(params);

  // 4. The overlay away, the worker started, the progress dialog until the worker closes it.
  if (context.hide_overlay) context.hide_overlay();
  CDlgProgress dialog(params.output_path, context.parent);
  GpExportDialogHost host(dialog, context.render_window);
  GpExportResult done;
  IGpExportPlugin* plugin = context.plugin;
  if (!dialog.StartThread("ThreadExport", [&dialog, &host, &done, plugin, params] {
        done = RunGpExport(params, *plugin, host, dialog.Thread().QuitRequest());
      })) {
    AppLog("export: the worker cannot start");
    return true;
  }
  dialog.DoModal();
  dialog.Thread().Stop(kInfinite);
  // 5. The window model keeps no always-on-top state, so there is none to take away here.
  if (result) *result = done;
  return true;
}

void OnGpMosaic(const GpExportContext& context) {
  const std::string data = AppOptions().data_dir;
  std::error_code ec;
  if (std::filesystem::exists(data + kGpResumeFile, ec)) {
    const int answer = ShowMessageBox(kGpResumeQuestion, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return;
    if (answer == IDYES) {
      OnGpExport(context, nullptr, nullptr);
      return;
    }
    std::filesystem::remove(data + kGpResumeFile, ec);
  } else if (std::filesystem::exists(data + kGpListFile, ec)) {
    const int answer = ShowMessageBox(kGpNewJobQuestion, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return;
    if (answer == IDNO) {
      CDlgMosaicPreview preview(kGpShotPrefix, context.parent);
      preview.DoModal();
      return;
    }
  }
  // A new job: the area dialog with the corners last kept.
  CDlgAreaSetting area(0, context.view, context.parent);
  const std::string section = kGpCornerSection;
  const PointF lt = ProgramSettings().GetPointF(section + "lt", {area.m_lt[0], area.m_lt[1]});
  const PointF br = ProgramSettings().GetPointF(section + "br", {area.m_rb[0], area.m_rb[1]});
  area.SetCorners(lt.x, lt.y, br.x, br.y);
  if (area.DoModal() != IDOK) return;
  ProgramSettings().SetPointF(section + "lt", {area.m_lt[0], area.m_lt[1]});
  ProgramSettings().SetPointF(section + "br", {area.m_rb[0], area.m_rb[1]});
  OnGpExport(context, area.m_lt, area.m_rb);
}

}  // namespace velmora
