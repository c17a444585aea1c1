// CDlgCoordSysConvert: "坐标系转换工具" (template 290): lines of "x,y,z" text converted from one
// system of the coordinate-system table into another through PROJ, with the converter's UTM
// zones in slots 0 (source) and 1 (target) that a right click on a system combo sets.
#pragma once
#include "places/ui/dlg_coord_import.h"
#include "shell/menu_combo_box.h"

namespace velmora {

class CDlgCoordSysConvert : public CDlgCoordImport {
 public:
  static constexpr int kIdSource = 1313;
  static constexpr int kIdTarget = 1315;
  static constexpr int kIdDefaults = 1321;
  static constexpr const char* kDefaultInput = "120,36,123\r\n121,37,234";

  explicit CDlgCoordSysConvert(CWnd* parent = nullptr);

  int SourceIndex() const { return source_; }
  int TargetIndex() const { return target_; }
  CMenuComboBox& SourceCombo() { return source_combo_; }
  CMenuComboBox& TargetCombo() { return target_combo_; }

  void Convert() override;

 protected:
  bool OnInitDialog() override;
  bool TakeFields() override;
  void ShowFields() override;

 private:
  CMenuComboBox source_combo_;
  CMenuComboBox target_combo_;
  int source_ = 0;
  int target_ = 1;
  int skip_columns_ = 0;
};

}  // namespace velmora
