// CDlgCoordBatchFix: "坐标批量纠正" (template 307). Shows the points being corrected through the
// web conversion service (序号, 坐标; the state as the row's image), starts and stops 1 to 100
// workers, loads points from a coordinate file, and hands the corrected points back.
#pragma once
#include <string>
#include <vector>

#include "core/settings.h"
#include "places/coord_batch_fix.h"
#include "shell/dialog_ex.h"
#include "shell/list_ctrl_ex.h"

namespace velmora {

class CDlgCoordBatchFix : public CDialogEx {
 public:
  static constexpr int kIdList = 1380;
  static constexpr int kIdThreads = 1381;
  static constexpr int kIdStart = 1039;
  static constexpr int kIdLoad = 1024;
  static constexpr UINT_PTR kRefreshTimer = 1;

  explicit CDlgCoordBatchFix(CWnd* parent = nullptr);
  ~CDlgCoordBatchFix() override;

  // One waiting record per point; ignored while workers run.
  void SetPoints(const std::vector<PointF>& points);
  // Copies the records' coordinates into *points (resized to the list). With `ask`, nothing is
  // copied unless every point is done and the user answers yes to "是否替换原坐标?". True when
  // copied.
  bool GetResult(std::vector<PointF>* points, bool ask);
  // The file the points came from ("加载..."), "" when the caller handed them in.
  const std::string& LoadedPath() const { return loaded_path_; }
  CCoordBatchFixer& Fixer() { return fixer_; }

  void OnCancel() override;

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  void OnStartStop();
  void OnLoad();
  void OnFinished();
  void StopWorkers();
  void RefreshList();
  std::string ItemText(int item, int sub_item) const;

  CCoordBatchFixer fixer_;
  CListCtrlEx list_;
  std::string loaded_path_;
};

}  // namespace velmora
