// CDlgDemExtract: "高程提取" (template 255, modeless), the elevation extraction dialog around the
// elevation grid panel. The user samples elevations over a region (or, from an earth view, over
// a set of screen points), imports and exports the points, makes contour lines with the built-in
// tracer or the gridding stand-in, lists them by level and point count, exports them as KML or
// DXF and adds them to the map.
//
// Threads: user-interface thread only; the sampling runs on the panel's worker, which the dialog
// starts and stops (the panel tells it the run ended with message 0x404).
#pragma once
#include <span>
#include <string>
#include <vector>

#include "shell/dlg_worker_base.h"
#include "shell/list_ctrl_ex.h"
#include "terrain/dem_files.h"
#include "terrain/ui/dem_grid_ctrl.h"

namespace velmora {

class IChildView;

class CDlgDemExtract : public CDlgWorkerBase {
 public:
  static constexpr int IDD = 255;
  static constexpr int kHelpContext = 10071;
  static constexpr int kIdPanel = 1510;
  static constexpr int kIdList = 1401;
  static constexpr int kIdAddToCache = 1101;
  static constexpr int kIdSampleDistance = 1351;
  static constexpr int kIdIntervalType = 1204;
  static constexpr int kIdInterval = 1311;
  static constexpr int kIdIntervalSpin = 1210;
  static constexpr int kIdCount = 1223;
  static constexpr UINT kCmdExtract = 1021;
  static constexpr UINT kCmdExport = 1020;
  static constexpr UINT kCmdContour = 1221;
  static constexpr UINT kCmdImport = 1022;
  static constexpr UINT kCmdCoordList = 1023;
  static constexpr UINT kCmdExportAll = 32717;
  static constexpr UINT kCmdExportSelected = 32718;
  static constexpr UINT kCmdAddSelected = 32719;
  static constexpr UINT kCmdAddAll = 32720;

  static constexpr const char* kSection = "contour";
  static constexpr const char* kNoContours = "所提取高程无法生成等高线,请确认数据准确性.";
  // The import filter's third entry: such files are not read (their coordinate system is not
  // known to the file).
  static constexpr const char* kCassNotRead = "不支持读取cass坐标文件(*.dat),请另存为txt或csv格式后导入";
  static constexpr const char* kExportFilter =
      "Text Files (*.txt)|*.txt|csv Files (*.csv)|*.csv|Excel Files (*.xls)|*.xls|Surfer Grid Files (*.grd)|*.grd||";
  static constexpr const char* kImportFilter =
      "Text Files (*.txt)|*.txt|csv Files (*.csv)|*.csv|cass Files (*.dat)|*.dat||";
  static constexpr const char* kContourFilter = "KML Files (*.kml)|*.kml|AutoCAD Files (*.dxf)|*.dxf||";
  static constexpr const char* kContourKml = "contour.kml";

  explicit CDlgDemExtract(CWnd* parent = nullptr);
  // Screen mode: the render-window pixels of an earth view, sampled at 20 pixels.
  CDlgDemExtract(std::span<const LngLatF> screen_points, IScreenTerrainSource* source, CWnd* parent = nullptr);
  ~CDlgDemExtract() override;

  // ---- data handed in ----
  bool SetPoints(LngLatF first, LngLatF second, double sample_distance);
  bool SetDemData(std::span<const LngLatF> polygon, double sample_distance);
  // Shows the dialog and loads the extraction cache.
  bool LoadDemCache(const std::string& path = DemCachePath());

  // ---- commands ----
  void OnExtract();
  void OnExtractFinished();
  void OnExportPoints();
  void OnImportPoints();
  bool OnMakeContours();
  void OnSampleDistanceChanged();
  void OnExportContours(bool all);
  void OnAddToMap(bool all);
  void OnCoordList();
  void OnListMenu();
  // The contour DXF: the coordinate system asked, the target opened, the lines (for "all" in a
  // projected system made again from the projected points) and, with labels on, the labelled
  // file of this panel's latest stand-in run merged. False when cancelled or failed (told).
  bool ExportContourDxf(const std::string& path, bool all);
  // Adds lines to `view` (null: the application's current view) by its kind.
  void AddContoursToView(IChildView* view, bool all);

  void OnCancel() override;
  CWorkThread* GetWorker() override { return &panel_.Worker(); }

  CDemGridCtrl& Panel() { return panel_; }
  CListCtrlEx& List() { return list_; }
  void RefreshButtons();

 protected:
  bool OnInitDialog() override;

 private:
  void Init();
  std::vector<const DemDrawRecord*> Rows(bool all) const;
  void FillList();
  int IntervalType() const;
  double IntervalValue() const;
  void SaveContourOptions();

  CDemGridCtrl panel_;
  CListCtrlEx list_;
  CComboBox interval_type_;
  bool screen_mode_ = false;
  int sample_distance_ = 20;
  bool add_to_cache_ = false;
  float interval_ = 20.0f;
  int interval_type_value_ = -1;  // -1 before the first exchange
};

}  // namespace velmora
