// CDlgCoordFormat: "坐标格式转换工具", the format converter (template 305): decimal degrees,
// degrees-minutes-seconds with the user's marks and hemisphere words, and the packed "D.FFMM"
// form, for pasted text and for files. Its settings live in the program settings under "CCF...".
#pragma once
#include "places/coord_format.h"
#include "places/ui/dlg_coord_import.h"

namespace velmora {

class CDlgCoordFormat : public CDlgCoordImport {
 public:
  static constexpr int kIdSourceFormat = 1313;
  static constexpr int kIdTargetFormat = 1315;
  static constexpr int kIdSourceLatFirst = 1370;
  static constexpr int kIdTargetLatFirst = 1371;
  static constexpr int kIdTargetSeparator = 1325;
  static constexpr int kIdSourceDegree = 1323, kIdSourceMinute = 1324, kIdSourceSecond = 1328;
  static constexpr int kIdTargetDegree = 1326, kIdTargetMinute = 1327, kIdTargetSecond = 1329;
  // West, east, south, north.
  static constexpr int kIdSourceHemisphere[4] = {1331, 1330, 1333, 1332};
  static constexpr int kIdTargetHemisphere[4] = {1335, 1334, 1337, 1336};
  static constexpr const char* kDefaultInput = "120°23′45.56″, 36°12′34.56″";

  explicit CDlgCoordFormat(CWnd* parent = nullptr);

  // The settings as the dialog holds them (after TakeFields).
  const CoordFormatSettings& Settings() const { return settings_; }

  void Convert() override;

 protected:
  bool OnInitDialog() override;
  bool TakeFields() override;
  void ShowFields() override;

 private:
  void LoadSettings();
  void SaveSettings();

  CoordFormatSettings settings_;
};

}  // namespace velmora
