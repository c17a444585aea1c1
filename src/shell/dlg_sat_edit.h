// CDlgSatEdit: the satellite edit dialog (template 282, "卫星参数"). It edits one element record:
// the epoch shows as "%d-%d-%d %d:%d:%d" (UTC, from TleEpochToDate), the element set as its
// text (name line and the two element lines), the display colour in a colour box and the icon in
// a picture box. OK reads the text again with CSatOrbit::ParseTle; text that does not read is
// refused and the dialog stays open. The colour, the icon and the shown flag stay the record's
// (ParseTle would draw new ones), and text left as it was shown changes no number.
#pragma once
#include <string>

#include "shell/color_static.h"
#include "shell/dialog_ex.h"
#include "shell/picture_pick_static.h"
#include "terrain/sat_orbit.h"

namespace velmora {

class CDlgSatEdit : public CDialogEx {
 public:
  static constexpr int kTemplateId = 282;
  enum : int { kIdEpoch = 1290, kIdElements = 1291, kIdColor = 1292, kIdIcon = 1293 };
  static constexpr const char* kBadElements = "轨道根数格式不正确,请输入名称行和两行轨道根数。";

  // Edits `record` in place when the dialog ends with OK.
  explicit CDlgSatEdit(SatElements* record, CWnd* parent = nullptr);

  // The epoch as the dialog shows it.
  static std::string FormatEpoch(double epoch);
  // The record as element text: the name line and the two element lines in their columns,
  // with check digits (the fields the record does not hold, derivatives and the international
  // designator, are written as zeros and blanks).
  static std::string FormatElementText(const SatElements& record);

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void ShowEpochOfText();

  SatElements* record_;
  std::string shown_text_;
  CColorStatic color_;
  CPicturePickStatic icon_;
};

}  // namespace velmora
