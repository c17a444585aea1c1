// The elevation tools' commands and the program's download and fetch dialogs.
#include "terrain/ui/dem_tools.h"

#include <algorithm>
#include <memory>

#include "exchange/ui/dlg_region_set.h"
#include "shell/command_table.h"
#include "shell/dlg_worker_base.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/map_view_commands.h"
#include "terrain/ui/dem_download_panel.h"
#include "terrain/ui/dlg_dem_by_line.h"
#include "terrain/ui/dlg_dem_fetch.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

// The program's dialogs (user-interface thread only).
std::unique_ptr<CDlgDemDownload>& DownloadDialog() {
  static std::unique_ptr<CDlgDemDownload> dialog;
  return dialog;
}
std::unique_ptr<CDlgDemFetch>& FetchDialog() {
  static std::unique_ptr<CDlgDemFetch> dialog;
  return dialog;
}

std::vector<AppCommand> Commands() {
  AppCommand download;
  download.id = ID_DEM_DOWNLOAD;
  download.menu = kDemToolsMenu;
  download.text = "高程数据下载...";
  download.prompt = "任选区域或框选区域,按采样间距把区域内各点的高程下载到高程缓存\n高程数据下载";
  download.order = 10;
  download.handler = [] {
    if (CPDView* view = SwitchToMapView()) OnDemDownload(*view);
  };

  AppCommand fetch;
  fetch.id = ID_DEM_FETCH_DIALOG;
  fetch.menu = kDemToolsMenu;
  fetch.text = "获取高程...";
  fetch.prompt = "获取一个点、一条线上的采样点或导入的点的高程\n获取高程";
  fetch.order = 20;
  fetch.handler = [] {
    if (CPDView* view = SwitchToMapView()) OnDemFetch(*view);
  };

  AppCommand by_line;
  by_line.id = ID_DEM_BY_LINE;
  by_line.menu = kDemToolsMenu;
  by_line.text = "沿线采样设置...";
  by_line.prompt = "沿线采样坐标与高程的设置\n沿线采样设置";
  by_line.order = 30;
  by_line.handler = [] {
    CDlgDemByLine dialog;
    dialog.DoModal();
  };
  return {std::move(download), std::move(fetch), std::move(by_line)};
}

}  // namespace

void OnDemDownload(CPDView& view) {
  CRegionShape* free_region = view.FreeRegion();
  if (free_region && free_region->IsClosed() && free_region->Points().size() >= 3) {
    std::vector<LngLatF> region;
    for (const ShapePoint& p : free_region->Points()) region.push_back({p.lng, p.lat});
    StartDemDownload(region, &view);
    return;
  }
  view.SetTool(CPDView::Tool::kBox);
  CPDView* armed = &view;
  view.SetBoxHandler([armed](const float top_left[2], const float bottom_right[2]) {
    // Copied out first: resetting the handler destroys this closure. One box per command.
    CPDView* target = armed;
    const std::vector<LngLatF> region = {{top_left[0], top_left[1]}, {bottom_right[0], bottom_right[1]}};
    target->SetBoxHandler({});
    target->SetTool(CPDView::Tool::kPan);
    StartDemDownload(region, target);
  });
}

void StartDemDownload(const std::vector<LngLatF>& region, CPDView* owner) {
  if (region.empty()) return;
  auto& dialog = DownloadDialog();
  if (dialog && dialog->Panel().IsRunning()) {
    ShowModelessDialog(dialog.get());  // one download at a time
    return;
  }
  CDlgRegionSet distance(owner);
  LngLatF tl = region[0], br = region[0];
  for (const LngLatF& p : region) {
    tl.lng = std::min(tl.lng, p.lng), tl.lat = std::max(tl.lat, p.lat);
    br.lng = std::max(br.lng, p.lng), br.lat = std::min(br.lat, p.lat);
  }
  distance.top_left = tl;
  distance.bottom_right = br;
  if (distance.DoModal() != IDOK) return;
  if (!dialog) dialog = std::make_unique<CDlgDemDownload>();
  ShowModelessDialog(dialog.get());
  dialog->Panel().StartDownload(region, distance.Distance());
}

void OnDemFetch(CPDView& view) {
  double lng = 0, lat = 0, level = 0;
  view.GetCamera(&lng, &lat, &level);
  auto& dialog = FetchDialog();
  if (!dialog) dialog = std::make_unique<CDlgDemFetch>();
  if (!dialog->IsWindow()) {
    dialog->SetPoints(static_cast<float>(lng - 0.1), static_cast<float>(lat), static_cast<float>(lng + 0.1),
                      static_cast<float>(lat));
  }
  ShowModelessDialog(dialog.get());
}

CDlgDemDownload* CurrentDemDownload() { return DownloadDialog().get(); }
CDlgDemFetch* CurrentDemFetch() { return FetchDialog().get(); }

void CloseDemTools() {
  DownloadDialog().reset();
  FetchDialog().reset();
}

void RegisterDemTools(CKovraHomeExApp& app) { RegisterCommandStep(app, "elevation tools", Commands(), CloseDemTools); }

}  // namespace velmora
