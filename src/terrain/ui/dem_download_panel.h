// CDemDownloadPanel: the task panel of the elevation download (the walk of terrain/dem_download.h
// on the panel's worker "DemDownload", one progress pixel per point), and CDlgDemDownload, the
// modeless task dialog "高程数据下载" that holds it and exports the cached heights of its region.
//
// Threads: StartDownload, the export and the dialog are for the user-interface thread; the walk
// paints the picture and sets the status and the count under the panel's lock.
#pragma once
#include <string>
#include <vector>

#include "core/settings.h"
#include "exchange/ui/task_static.h"
#include "shell/dlg_worker_base.h"
#include "terrain/dem_download.h"

namespace velmora {

// Shown instead of starting when no elevation service is configured.
inline constexpr const char* kNoElevationService = "未设置高程服务的地址";

class CDemDownloadPanel : public CTaskStatic, public IDemDownloadSink {
 public:
  static constexpr const char* kThreadName = "DemDownload";
  // Shown when the region encloses nothing to walk.
  static constexpr const char* kEmptyRegion = "区域为空,无法下载高程";

  CDemDownloadPanel();
  ~CDemDownloadPanel() override;

  // Keeps the distance and a copy of the region, sets the counters to 0 and starts the walk.
  // False, after telling the user, when no service is configured or the region is empty; false
  // also while a walk runs.
  bool StartDownload(const std::vector<LngLatF>& region, int sample_distance);
  int SampleDistance() const { return distance_; }
  // The walk's delays and cache (tests shorten the pauses and use their own cache).
  DemDownloadOptions& Options() { return options_; }
  DemDownloadResult LastResult() const;

  // ---- IDemDownloadSink (the walk) ----
  bool ResetProgress(int64_t columns, int64_t rows) override;
  void SetProgress(int64_t column, int64_t row, Argb colour) override;
  void SetStatus(const std::string& text, int done_count) override;

 private:
  void Run();

  int distance_ = 90;
  DemWalkPlan plan_;
  DemDownloadOptions options_;
  DemDownloadResult result_;  // guarded by Mutex()
};

class CDlgDemDownload : public CDlgWorkerBase {
 public:
  static constexpr int kTemplateId = 223;
  static constexpr int kIdPanel = 1511;
  static constexpr UINT kCmdExport = 57603;
  static constexpr const char* kCaption = "高程数据下载";
  static constexpr const char* kExportText = "导出高程...";
  static constexpr const char* kIconName = "google_earth.ico";

  explicit CDlgDemDownload(CWnd* parent = nullptr);
  ~CDlgDemDownload() override;

  CWorkThread* GetWorker() override { return &panel_.Worker(); }
  CDemDownloadPanel& Panel() { return panel_; }

  // The context menu at a screen point: "导出高程...", greyed while the walk runs.
  void OnContextMenu(int x, int y);
  // The cached heights inside the panel's region (the cache's box query, then the same inside
  // test as the walk).
  std::vector<Point3D> RegionHeights();
  // RegionHeights written with the point writers to a file the user chooses.
  void OnExport();

 protected:
  bool OnInitDialog() override;

 private:
  CDemDownloadPanel panel_;
};

}  // namespace velmora
