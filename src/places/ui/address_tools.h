// The address tools as the running program offers them. RegisterAddressTools adds
//   the side-bar panel "地址库" (CAddressPane), made with the main frame;
//   the command "工具/地址数据下载..." (ID_ADDRESS_DOWNLOAD): it arms the 2D view's box tool for
//   one box (CPDView::SetBoxHandler); the box drawn, CDlgAddressLevels asks for the first and
//   last level (both the view's current integer zoom at first), then the modeless task dialog
//   CDlgAddressDownload downloads the box's geocoder tiles.
#pragma once
#include <string>

#include "exchange/region_raster.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CDlgAddressDownload;
class CKovraHomeExApp;
class CTileManager;
class CPDView;

inline constexpr UINT ID_ADDRESS_DOWNLOAD = 0x8E40;

// The level range of an address download: two edits, each a whole level 0-22.
class CDlgAddressLevels : public CDialogEx {
 public:
  static constexpr int kTemplateId = 0x7F31;
  static constexpr int kIdFirst = 1001;
  static constexpr int kIdLast = 1002;
  static constexpr const char* kBadLevel = "请输入0到22之间的级别";

  CDlgAddressLevels(int first, int last, CWnd* parent = nullptr);
  int first = 0;
  int last = 0;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
};

// Arms the view's box tool for one address download (`tiles` null: the program's tile manager).
void ArmAddressDownload(CPDView& view, CTileManager* tiles = nullptr);
// The dialog of the last address download started, or null.
CDlgAddressDownload* CurrentAddressDownload();
// Stops and destroys that dialog (the program's shut-down).
void CloseAddressDownload();

void RegisterAddressTools(CKovraHomeExApp& app);

}  // namespace velmora
