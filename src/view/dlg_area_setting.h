// CDlgAreaSetting: the area dialog "区域设定" (template 249) in which a person confirms or edits
// a rectangle's top-left and bottom-right longitude/latitude before a download, a mosaic or an
// elevation job. Modal; after IDOK the corners are read, normalised (west < east, north > south).
#pragma once
#include "platform/ui/dialog.h"

namespace velmora {

class IChildView;

class CDlgAreaSetting : public CDialog {
 public:
  static constexpr int IDD = 249;
  static constexpr int IDC_LEFT_LNG = 1001;
  static constexpr int IDC_TOP_LAT = 1002;
  static constexpr int IDC_RIGHT_LNG = 1003;
  static constexpr int IDC_BOTTOM_LAT = 1004;
  // Shown when a corner is not a number or lies off the world, or the area is empty.
  static constexpr const char* kBadCorners = "请输入正确的经纬度范围!";

  // `mode` tells the job the area is for (kept for the caller); `view` presets the corners from
  // the 2D map view's bounds when it is the 2D view and no corners are set.
  CDlgAreaSetting(int mode, IChildView* view, CWnd* parent);

  void SetCorners(float left_lng, float top_lat, float right_lng, float bottom_lat);
  int Mode() const { return mode_; }
  // The corners after IDOK (before it: the preset).
  float m_lt[2] = {120.0f, 36.48f};
  float m_rb[2] = {120.8f, 36.04f};

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  int mode_;
  IChildView* view_;
  bool preset_ = false;
};

}  // namespace velmora
