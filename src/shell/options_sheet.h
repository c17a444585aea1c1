// The options sheet "选项": the elevation page (CPgOptDem, "高程"), the Google Earth page
// (template 241, "谷歌地球": "绘制框选框", "退出时,同时关闭Google Earth") and the export page
// (template 240, "拼图": "记录日志"). Values are published when the sheet's OK or Apply stores
// them (page_options.h, and the options object for the elevation source mode), so workers that
// read them see the change at their next read. The main frame offers the sheet as "工具/选项".
#pragma once
#include "platform/ui/property_sheet.h"
#include "shell/pg_opt_dem.h"

namespace velmora {

class CPgOptGoogleEarth : public CPropertyPage {
 public:
  static constexpr int kTemplateId = 241;
  static constexpr int kIdRegionFrame = 1140, kIdCloseEarth = 1141;
  CPgOptGoogleEarth();
  bool OnApply() override;

 protected:
  bool OnInitDialog() override;
};

class CPgOptExport : public CPropertyPage {
 public:
  static constexpr int kTemplateId = 240;
  static constexpr int kIdWriteLog = 1142;
  CPgOptExport();
  bool OnApply() override;

 protected:
  bool OnInitDialog() override;
};

class COptionsSheet : public CPropertySheet {
 public:
  enum Page { kPageDem = 0, kPageGoogleEarth = 1, kPageExport = 2 };
  explicit COptionsSheet(CWnd* parent = nullptr, int select_page = kPageDem);

  CPgOptDem& DemPage() { return dem_; }
  CPgOptGoogleEarth& GoogleEarthPage() { return earth_; }
  CPgOptExport& ExportPage() { return export_; }

 private:
  CPgOptDem dem_;
  CPgOptGoogleEarth earth_;
  CPgOptExport export_;
};

// Runs the options sheet modally; IDOK when it was closed with OK.
INT_PTR ShowOptionsSheet(CWnd* parent = nullptr, int select_page = COptionsSheet::kPageDem);

// The "工具/选项" command of the main frame (ID_TOOLS_OPTIONS): registered and removed with the
// frame's own commands.
void RegisterOptionsCommand();
void UnregisterOptionsCommand();

}  // namespace velmora
