// The main frame's snapshot mosaic command.
#include "earth/ui/ge_mosaic_command.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/geodesy.h"
#include "core/settings.h"
#include "earth/ge_mosaic_job.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/ui_host.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_view_commands.h"
#include "view/dlg_area_setting.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

// The section the confirmed corners are kept under, as the other mosaic entries keep them.
constexpr char kCornerSection[] = "exp";

// Runs the mosaic dialog modally with the main frame hidden meanwhile (the dialog holds the earth
// page and may cover the screen).
void RunMosaicDialog(CDlgGEMosaic& dialog) {
  CMainFrame* frame = GetMainFrame();
  if (frame && frame->IsWindow()) frame->ShowWindow(SW_HIDE);
  dialog.DoModal();
  if (frame && frame->IsWindow()) {
    frame->ShowWindow(SW_SHOW);
    frame->SetFocus();
  }
}

// The export file dialog and the mosaic over the two corners; false when the file dialog was
// cancelled.
bool ExportImage(CPDView& view, const float top_left[2], const float bottom_right[2]) {
  CFileDialogExport file("jpg", GetProfileString("recent", "export", "kovra"), &view);
  const double default_km = ZoomToAltitude(static_cast<float>(view.GetZoom() + 3)) / 1000.0;
  file.altitude_km = GetProfileDouble("region", "export_alt", default_km);
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
  RunMosaicDialog(dialog);
  return true;
}

std::vector<AppCommand> Commands() {
  AppCommand mosaic;
  mosaic.id = ID_GE_MOSAIC;
  mosaic.menu = "工具";
  mosaic.text = kGeMosaicCommandText;
  mosaic.prompt = "用地球页面逐幅截图,拼接框选范围的大图\n地球图片拼接";
  mosaic.order = 34;
  mosaic.handler = [] {
    CPDView* view = ShownMapView();
    if (!view) view = SwitchToMapView();
    RunGeMosaicCommand(view);
  };
  std::vector<AppCommand> commands;
  commands.push_back(std::move(mosaic));
  return commands;
}

}  // namespace

bool GeMosaicViewArea(CPDView& view, float top_left[2], float bottom_right[2]) {
  const RECT band = view.Tracker().NormalizedRect();
  if (band.right - band.left >= CPDView::kMinBand && band.bottom - band.top >= CPDView::kMinBand) {
    const LngLat tl = view.Engine().ScreenToLngLat(band.left, band.top);
    const LngLat br = view.Engine().ScreenToLngLat(band.right, band.bottom);
    top_left[0] = static_cast<float>(tl.lng), top_left[1] = static_cast<float>(tl.lat);
    bottom_right[0] = static_cast<float>(br.lng), bottom_right[1] = static_cast<float>(br.lat);
    return true;
  }
  const CRegionShape* region = view.FreeRegion();
  if (!region || !region->IsClosed() || region->Points().size() < 3) return false;
  float west = region->Points().front().lng, east = west;
  float north = region->Points().front().lat, south = north;
  for (const ShapePoint& p : region->Points()) {
    west = std::min(west, p.lng), east = std::max(east, p.lng);
    south = std::min(south, p.lat), north = std::max(north, p.lat);
  }
  if (!(east > west) || !(north > south)) return false;
  top_left[0] = west, top_left[1] = north;
  bottom_right[0] = east, bottom_right[1] = south;
  return true;
}

bool RunGeMosaicCommand(CPDView* view) {
  if (!view) return false;
  // A stopped job waits in the data folder: the mosaic dialog resumes from it whenever it
  // exists, so a new area is only taken once the person let it go.
  const std::string resume = AppOptions().data_dir + kGeResumeFile;
  std::error_code ec;
  if (std::filesystem::exists(resume, ec)) {
    const int answer = ShowMessageBox(kGeResumeQuestion, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) {
      CDlgGEMosaic dialog;
      RunMosaicDialog(dialog);
      return true;
    }
    std::filesystem::remove(resume, ec);
  }

  CDlgAreaSetting area(0, view, view);
  float top_left[2], bottom_right[2];
  if (GeMosaicViewArea(*view, top_left, bottom_right))
    area.SetCorners(top_left[0], top_left[1], bottom_right[0], bottom_right[1]);
  if (area.DoModal() != IDOK) return false;
  ProgramSettings().SetPointF(std::string(kCornerSection) + "lt", {area.m_lt[0], area.m_lt[1]});
  ProgramSettings().SetPointF(std::string(kCornerSection) + "br", {area.m_rb[0], area.m_rb[1]});
  return ExportImage(*view, area.m_lt, area.m_rb);
}

void RegisterGeMosaicCommand(CKovraHomeExApp& app) { RegisterCommandStep(app, "earth mosaic", Commands()); }

}  // namespace velmora
