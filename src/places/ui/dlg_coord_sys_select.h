// CDlgCoordSysSelect: "坐标系选择" (template 291), the default coordinate system of exports that
// write projected coordinates, with "转换前提醒" to be asked before each such export; and
// GetCoordinateSystemIndex, which those exports call.
#pragma once
#include "shell/dialog_ex.h"
#include "shell/menu_combo_box.h"

namespace velmora {

class CDlgCoordSysSelect : public CDialogEx {
 public:
  static constexpr int kIdSystem = 1320;
  static constexpr int kIdRemind = 1319;

  explicit CDlgCoordSysSelect(CWnd* parent = nullptr);
  CMenuComboBox& SystemCombo() { return combo_; }
  void OnOK() override;

 protected:
  bool OnInitDialog() override;

 private:
  CMenuComboBox combo_;
};

// The coordinate system an export writes: with "转换前提醒" on, the choice is shown first and -1
// comes back unless the user confirms it; otherwise (or after OK) the stored choice (0 when none
// or not in the table). A caller that gets -1 writes nothing.
[[nodiscard]] int GetCoordinateSystemIndex(CWnd* parent = nullptr);

enum class ExportCoordStatus {
  kCancelled,  // the user cancelled the choice: write nothing
  kConverted,  // every point is in the chosen system
  kFailed,     // PROJ refused the system or some points (*failed_points says how many)
};
// For exports: asks GetCoordinateSystemIndex and converts `count` longitude/latitude pairs (x, y)
// in place into that system with the export slot (2). *index receives the system (-1 when
// cancelled). Points are left as they were when the status is not kConverted, except those
// PROJ converted beside points it could not (which are HUGE_VAL).
[[nodiscard]] ExportCoordStatus ConvertPointsForExport(double* xy, int count, int* index, int* failed_points = nullptr,
                                                       CWnd* parent = nullptr);

}  // namespace velmora
