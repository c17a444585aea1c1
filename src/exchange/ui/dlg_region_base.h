// CDlgRegionBase: the base of the region dialogs. It holds the two corners of a rectangle (top
// left and bottom right, float longitude/latitude), shows them in four edits, reads them back on
// OK, and keeps them in the program settings under "<section>lt" and "<section>br".
#pragma once
#include <string>

#include "exchange/region_raster.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CDlgRegionBase : public CDialogEx {
 public:
  static constexpr int kIdWest = 1050, kIdNorth = 1051, kIdEast = 1052, kIdSouth = 1053;
  static constexpr LngLatF kDefaultTopLeft{120.0f, 36.48f};
  static constexpr LngLatF kDefaultBottomRight{120.8f, 36.04f};
  // The message when the corners cannot be read or enclose nothing.
  static constexpr const char* kBadCorners = "请输入正确的经纬度范围";

  using CDialogEx::CDialogEx;

  // Adds the four labelled corner edits to a dialog template, from dialog unit y on (two rows).
  static void AddCornerControlsFor(DialogTemplate& t, int y);

  // The corners stored under `section` + "lt" and `section` + "br" (program settings, float
  // points), else the defaults (120.0, 36.48) and (120.8, 36.04).
  void LoadCorners(const std::string& section);
  void SaveCorners(const std::string& section) const;

  LngLatF top_left = kDefaultTopLeft;
  LngLatF bottom_right = kDefaultBottomRight;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  // Reads and checks the four edits (decimal degrees or degrees-minutes-seconds): both corners
  // in range and the rectangle not empty. Shows kBadCorners and returns false otherwise.
  bool ReadCorners();
  void ShowCorners();
};

// A coordinate for an edit: at most six decimals, trailing zeros dropped.
std::string FormatCorner(float degrees);

}  // namespace velmora
