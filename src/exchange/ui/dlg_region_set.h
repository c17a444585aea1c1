// CDlgRegionSet: the region dialog of elevation sampling (dialog 250). It shows the region's
// corners and asks the sample distance in metres, kept as "dem_distance" in the profile section
// "region".
#pragma once
#include "exchange/ui/dlg_region_base.h"

namespace velmora {

class CDlgRegionSet : public CDlgRegionBase {
 public:
  static constexpr int kTemplateId = 250;
  static constexpr int kIdDistance = 1054;
  static constexpr int kDefaultDistance = 90;  // metres: the spacing of 3-second height data
  static constexpr int kMaxDistance = 1000000;
  static constexpr const char* kBadDistance = "采样间距必须是1到1000000之间的整数(米)";

  explicit CDlgRegionSet(CWnd* parent = nullptr);

  // The sample distance: the stored one until OK, then the one entered.
  int Distance() const { return distance_; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  int distance_;
};

}  // namespace velmora
