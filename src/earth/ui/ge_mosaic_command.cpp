// The earth application's snapshot mosaic set-up: questions, area, export file and the dialog.
#include "earth/ui/ge_mosaic_command.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/settings.h"
#include "earth/ge_mosaic_job.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/dlg_mosaic_preview.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/ui_host.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "view/dlg_area_setting.h"

namespace velmora {
namespace {

// The section the confirmed corners are kept under, as the other mosaic entries keep them.
constexpr char kCornerSection[] = "exp";

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace

void RunGeMosaicDialog(CDlgGEMosaic& dialog) {
  CMainFrame* frame = GetMainFrame();
  if (frame && frame->IsWindow()) frame->ShowWindow(SW_HIDE);
  dialog.DoModal();
  if (frame && frame->IsWindow()) {
    frame->ShowWindow(SW_SHOW);
    frame->SetFocus();
  }
}

bool GeExportImage(CWnd* owner, const float top_left[2], const float bottom_right[2], double default_km,
                   const GeExportPreset* preset, const std::function<void()>& after) {
  CFileDialogExport file("jpg", preset ? preset->path : GetProfileString("recent", "export", "kovra"), owner);
  if (preset) {
    file.altitude_km = preset->altitude_m / 1000.0;
    file.delay_ms = preset->delay_ms;
    file.full_screen = preset->full_screen;
    file.geographic = preset->coordinates;
  } else {
    file.altitude_km = GetProfileDouble("region", "export_alt", default_km);
  }
  if (file.DoModal() != IDOK || file.GetPathName().empty()) return false;
  WriteProfileDouble("region", "export_alt", file.altitude_km);
  WriteProfileString("recent", "export", file.GetPathName());

  CDlgGEMosaic dialog;
  dialog.job.output_path = file.GetPathName();
  dialog.job.full_screen = file.full_screen ? 1 : 0;
  dialog.job.coordinates = file.geographic ? 1 : 0;
  dialog.job.delay_ms = static_cast<uint32_t>(std::max(0, file.delay_ms));
  dialog.job.left = top_left[0];
  dialog.job.top = top_left[1];
  dialog.job.right = bottom_right[0];
  dialog.job.bottom = bottom_right[1];
  dialog.job.altitude = static_cast<float>(file.altitude_km * 1000.0);
  RunGeMosaicDialog(dialog);
  if (after) after();
  return true;
}

bool RunGeMosaicCommand(IChildView* view, CWnd* owner, double default_km, const std::function<void()>& after) {
  const std::string data = AppOptions().data_dir;
  // A stopped job waits in the data folder: the mosaic dialog resumes from it whenever it
  // exists, so a new area is only taken once the person let it go.
  if (Exists(data + kGeResumeFile)) {
    const int answer = ShowMessageBox(kGeResumeQuestion, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) {
      CDlgGEMosaic dialog;
      RunGeMosaicDialog(dialog);
      if (after) after();
      return true;
    }
    std::error_code ec;
    std::filesystem::remove(data + kGeResumeFile, ec);
  } else if (Exists(data + kGeListFile)) {
    const int answer = ShowMessageBox(kGeNewJobQuestion, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDNO) {
      CDlgMosaicPreview preview("ge", owner);
      preview.DoModal();
      if (after) after();
      return false;
    }
  }

  CDlgAreaSetting area(0, view, owner);
  const PointF lt = ProgramSettings().GetPointF(std::string(kCornerSection) + "lt", {area.m_lt[0], area.m_lt[1]});
  const PointF rb = ProgramSettings().GetPointF(std::string(kCornerSection) + "br", {area.m_rb[0], area.m_rb[1]});
  area.SetCorners(lt.x, lt.y, rb.x, rb.y);
  if (area.DoModal() != IDOK) return false;
  ProgramSettings().SetPointF(std::string(kCornerSection) + "lt", {area.m_lt[0], area.m_lt[1]});
  ProgramSettings().SetPointF(std::string(kCornerSection) + "br", {area.m_rb[0], area.m_rb[1]});
  return GeExportImage(owner, area.m_lt, area.m_rb, default_km, nullptr, after);
}

}  // namespace velmora
