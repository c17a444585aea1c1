// CDlgDatumParams: "坐标系设置" (template 292), the UTM zone of one conversion slot. "计算" puts the
// UTM zone of the given longitude into the zone box and shows its 3° or 6° Gauss-Krüger band
// beside it for information; OK stores the UTM zone (1-60) under "utm84_<slot>".
#pragma once
#include "shell/dialog_ex.h"

namespace velmora {

class CDlgDatumParams : public CDialogEx {
 public:
  static constexpr int kIdZone = 1323;
  static constexpr int kIdFalseEasting = 1336;
  static constexpr int kIdMeridian = 1324;
  static constexpr int kIdBandKind = 1368;  // 0 "3度带", 1 "6度带"
  static constexpr int kIdLongitude = 1331;
  static constexpr int kIdCompute = 3;
  static constexpr int kIdBandInfo = 1369;

  CDlgDatumParams(int system_index, int slot, CWnd* parent = nullptr);

  int SystemIndex() const { return system_; }
  int Slot() const { return slot_; }
  int Zone() const { return zone_; }
  void OnOK() override;

 protected:
  bool OnInitDialog() override;

 private:
  void OnCompute();
  bool TakeLongitude();

  int system_;
  int slot_;
  int zone_ = 0;
  double meridian_ = 0;
  int band_kind_ = 0;
  double longitude_ = 120.0;
};

// Makes the system combos' right click open this dialog (CMenuComboBox); idempotent.
void InstallDatumParamsOpener();

}  // namespace velmora
