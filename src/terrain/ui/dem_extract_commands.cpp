// The elevation fetch command and the program's extraction dialog.
#include "terrain/ui/dem_extract_commands.h"

#include <algorithm>
#include <memory>

#include "core/settings.h"
#include "platform/ui/ui_host.h"
#include "shell/command_table.h"
#include "shell/dlg_worker_base.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/map_view_commands.h"
#include "shell/screen_dem_extract.h"
#include "terrain/dem_files.h"
#include "terrain/ui/dlg_dem_extract.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

std::unique_ptr<CDlgDemExtract>& Dialog() {
  static std::unique_ptr<CDlgDemExtract> dialog;
  return dialog;
}

// A region dialog (a screen-mode one is replaced).
CDlgDemExtract& RegionDialog() {
  std::unique_ptr<CDlgDemExtract>& dialog = Dialog();
  if (!dialog || dialog->Panel().Data().mode != kDemModeRegion) {
    if (dialog && dialog->IsWindow()) dialog->OnCancel();
    dialog = std::make_unique<CDlgDemExtract>();
  }
  return *dialog;
}

std::vector<AppCommand> Commands() {
  AppCommand fetch;
  fetch.id = CPDView::ID_DEM_FETCH;
  fetch.menu = "工具";
  fetch.text = "高程提取(&E)...";
  fetch.prompt = "提取框选范围或自由区域内的高程,生成并导出等高线\n高程提取";
  fetch.order = 32;
  fetch.handler = [] {
    if (CPDView* view = ShownMapView()) OnDemFetch(view);
  };
  fetch.update = [](CCmdUI& ui) { ui.Enable(ShownMapView() != nullptr); };
  std::vector<AppCommand> commands;
  commands.push_back(std::move(fetch));
  return commands;
}

}  // namespace

CDlgDemExtract* DemExtractDialog() { return Dialog().get(); }

void CloseDemExtractDialog() {
  std::unique_ptr<CDlgDemExtract>& dialog = Dialog();
  if (dialog && dialog->IsWindow()) dialog->OnCancel();
  dialog.reset();
}

bool OnDemFetch(CPDView* view) {
  if (!view) return false;
  if (DemCacheExists() && ShowMessageBox(kDemCacheQuestion, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    CDlgDemExtract& dialog = RegionDialog();
    if (!dialog.Panel().IsExtracting()) return dialog.LoadDemCache();
    ShowModelessDialog(&dialog);
    return true;
  }
  const double distance = std::max(1.0, GetProfileDouble(CDlgDemExtract::kSection, "sample_distance",
                                                          kDemDefaultSampleDistance));
  std::vector<LngLatF> polygon;
  if (CRegionShape* region = view->FreeRegion(); region && region->IsClosed() && region->PointCount() >= 3) {
    for (const ShapePoint& p : region->Points()) polygon.push_back({p.lng, p.lat});
  } else {
    const RECT band = view->Tracker().NormalizedRect();
    if (band.right - band.left >= CPDView::kMinBand && band.bottom - band.top >= CPDView::kMinBand) {
      const LngLat tl = view->Engine().ScreenToLngLat(band.left, band.top);
      const LngLat br = view->Engine().ScreenToLngLat(band.right, band.bottom);
      polygon = {{static_cast<float>(tl.lng), static_cast<float>(tl.lat)},
                 {static_cast<float>(br.lng), static_cast<float>(br.lat)}};
    }
  }
  if (polygon.empty()) {
    ShowMessageBox(kDemNoRegion, MB_OK | MB_ICONINFORMATION);
    return false;
  }
  CDlgDemExtract& dialog = RegionDialog();
  if (dialog.Panel().IsExtracting()) {
    ShowModelessDialog(&dialog);
    return true;
  }
  const bool ok = polygon.size() == 2 ? dialog.SetPoints(polygon[0], polygon[1], distance)
                                      : dialog.SetDemData(polygon, distance);
  ShowModelessDialog(&dialog);
  dialog.RefreshButtons();
  return ok;
}

CDlgDemExtract* OpenDemExtractForScreen(std::span<const LngLatF> pixels, IScreenTerrainSource* source) {
  std::unique_ptr<CDlgDemExtract>& dialog = Dialog();
  if (dialog && dialog->IsWindow()) dialog->OnCancel();
  dialog = std::make_unique<CDlgDemExtract>(pixels, source);
  ShowModelessDialog(dialog.get());
  return dialog.get();
}

void CloseDemExtractFor(IScreenTerrainSource* source) {
  CDlgDemExtract* dialog = DemExtractDialog();
  if (source && dialog && dialog->Panel().ScreenSource() == source) CloseDemExtractDialog();
}

void RegisterDemExtractCommands(CKovraHomeExApp& app) {
  RegisterCommandStep(app, "elevation extraction", Commands(), [] {
    SetScreenDemExtractHandler({});
    CloseDemExtractDialog();
  });
  SetScreenDemExtractHandler(
      [](std::span<const LngLatF> pixels, IScreenTerrainSource* source) {
        return OpenDemExtractForScreen(pixels, source) != nullptr;
      },
      CloseDemExtractFor);
}

}  // namespace velmora
