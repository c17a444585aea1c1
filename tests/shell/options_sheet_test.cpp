// The options sheet headless: each page built from its template with its controls by id, texts,
// selections and enabled states; a person's clicks and typing; OK and Apply storing into the
// options object, the options file and the profile, Cancel storing nothing, refused values
// keeping the sheet open; the "工具/选项" command of the main frame. And the satellite edit
// dialog: the epoch text, the element text written and read again, refused text.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>

#include "core/page_options.h"
#include "core/settings.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/command_table.h"
#include "shell/dlg_sat_edit.h"
#include "shell/main_frame.h"
#include "shell/options_sheet.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class OptionsSheetTest : public test::HeadlessUiTest {
 protected:
  static PageOptions Known() {
    PageOptions o;
    o.dem.contour_color_mode = 1;
    o.dem.interval_count = 4;
    o.dem.line_color = 0xFF102030u;
    o.dem.interval_color = 0xFF405060u;
    o.dem.label_color = 0xFF708090u;
    o.dem.labels_on = false;
    o.dem.label_interval = 10;
    o.dem.labels_whole_multiples = true;
    o.dem.contour_method = 0;
    o.dem.dxf_label_scale = 2.5;
    o.earth.draw_region_frame = true;
    o.earth.close_earth_on_exit = false;
    o.exports.write_log = false;
    return o;
  }
  template <class T>
  static T* Item(CWnd& w, int id) {
    T* item = w.GetDlgItemAs<T>(id);
    EXPECT_NE(item, nullptr) << "control " << id;
    return item;
  }
  static bool Enabled(CWnd& w, int id) { return w.GetDlgItem(id) && w.GetDlgItem(id)->IsWindowEnabled(); }

};

TEST_F(OptionsSheetTest, ElevationPageShowsTheOptionsAndStoresThemOnOk) {
  ScopedAppOptions mode([](CAppOptions& o) { o.dem_source_mode = 2; });
  ScopedPageOptions page(Known());
  COptionsSheet sheet;
  host.AnswerDialog(CPropertySheet::kTemplateId, [&](CDialog& d) {
    auto& s = static_cast<COptionsSheet&>(d);
    EXPECT_EQ(s.GetWindowText(), "选项");
    ASSERT_EQ(s.GetPageCount(), 3);
    EXPECT_EQ(s.GetPage(0)->GetTitle(), "高程");
    EXPECT_EQ(s.GetPage(1)->GetTitle(), "谷歌地球");
    EXPECT_EQ(s.GetPage(2)->GetTitle(), "拼图");
    EXPECT_EQ(s.GetActiveIndex(), 0);
    CPgOptDem& dem = s.DemPage();
    EXPECT_EQ(dem.TemplateId(), 264);

    auto* source = Item<CComboBox>(dem, CPgOptDem::kIdSourceMode);
    ASSERT_EQ(source->GetCount(), 6);
    const char* modes[] = {"无", "SRTM", "ASTGTM", "Google", "SRTM+Google", "Google+SRTM"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(source->GetLBText(i), modes[i]);
    EXPECT_EQ(source->GetCurSel(), 2);
    auto* color_mode = Item<CComboBox>(dem, CPgOptDem::kIdColorMode);
    ASSERT_EQ(color_mode->GetCount(), 4);
    EXPECT_EQ(color_mode->GetCurSel(), 1);
    auto* method = Item<CComboBox>(dem, CPgOptDem::kIdMethod);
    ASSERT_EQ(method->GetCount(), 2);
    EXPECT_EQ(method->GetCurSel(), 0);
    EXPECT_EQ(dem.GetDlgItemText(CPgOptDem::kIdIntervalCount), "4");
    EXPECT_EQ(dem.GetDlgItemText(CPgOptDem::kIdLabelInterval), "10");
    EXPECT_EQ(dem.GetDlgItemText(CPgOptDem::kIdDxfLabelScale), "2.5");
    EXPECT_EQ(Item<CColorStatic>(dem, CPgOptDem::kIdLineColor)->GetColor(), 0xFF102030u);
    EXPECT_EQ(Item<CColorStatic>(dem, CPgOptDem::kIdIntervalColor)->GetColor(), 0xFF405060u);
    EXPECT_EQ(Item<CColorStatic>(dem, CPgOptDem::kIdLabelColor)->GetColor(), 0xFF708090u);
    EXPECT_EQ(dem.IsDlgButtonChecked(CPgOptDem::kIdLabelsOn), BST_UNCHECKED);
    EXPECT_EQ(dem.IsDlgButtonChecked(CPgOptDem::kIdLabelWhole), BST_CHECKED);
    EXPECT_EQ(dem.GetDlgItemText(CPgOptDem::kIdLabelsOn), "显示标注");
    EXPECT_EQ(dem.GetDlgItemText(CPgOptDem::kIdLabelWhole), "整倍数标注");

    // Mode 1 uses the interval colour and count; labels off greys their fields.
    EXPECT_TRUE(Enabled(dem, CPgOptDem::kIdIntervalCount));
    EXPECT_TRUE(Enabled(dem, CPgOptDem::kIdIntervalColor));
    EXPECT_TRUE(Enabled(dem, CPgOptDem::kIdLineColor));
    EXPECT_FALSE(Enabled(dem, CPgOptDem::kIdLabelInterval));
    EXPECT_FALSE(Enabled(dem, CPgOptDem::kIdLabelColor));
    EXPECT_FALSE(Enabled(dem, CPgOptDem::kIdLabelWhole));
    EXPECT_FALSE(s.IsApplyEnabled());

    // A person's changes.
    source->Select(1);
    EXPECT_TRUE(s.IsApplyEnabled());
    color_mode->Select(2);  // the seven-colour cycle needs no colours of ours
    EXPECT_FALSE(Enabled(dem, CPgOptDem::kIdIntervalCount));
    EXPECT_FALSE(Enabled(dem, CPgOptDem::kIdIntervalColor));
    EXPECT_FALSE(Enabled(dem, CPgOptDem::kIdLineColor));
    color_mode->Select(0);
    EXPECT_TRUE(Enabled(dem, CPgOptDem::kIdLineColor));
    EXPECT_FALSE(Enabled(dem, CPgOptDem::kIdIntervalColor));
    Item<CButton>(dem, CPgOptDem::kIdLabelsOn)->Click();
    EXPECT_TRUE(Enabled(dem, CPgOptDem::kIdLabelInterval));
    EXPECT_TRUE(Enabled(dem, CPgOptDem::kIdLabelColor));
    Item<CEdit>(dem, CPgOptDem::kIdLabelInterval)->Type("25");
    Item<CEdit>(dem, CPgOptDem::kIdDxfLabelScale)->Type("0.75");
    method->Select(1);
    host.AnswerColor(0xFFAA0000u);
    Item<CColorStatic>(dem, CPgOptDem::kIdLabelColor)->PickColor();
    Item<CButton>(s, IDOK)->Click();
    EXPECT_TRUE(s.HasEnded());
  });
  ASSERT_EQ(sheet.DoModal(), IDOK);

  EXPECT_EQ(AppOptions().dem_source_mode, 1);
  DemPageOptions dem = GetPageOptions().dem;
  EXPECT_EQ(dem.contour_color_mode, 0);
  EXPECT_EQ(dem.interval_count, 4);
  EXPECT_TRUE(dem.labels_on);
  EXPECT_EQ(dem.label_interval, 25);
  EXPECT_EQ(dem.dxf_label_scale, 0.75);
  EXPECT_EQ(dem.contour_method, 1);
  EXPECT_EQ(dem.label_color, 0xFFAA0000u);
  EXPECT_EQ(dem.line_color, 0xFF102030u);

  // Written: the options file holds the source mode, the profile the contour settings.
  CAppOptions file;
  ASSERT_TRUE(file.Load(OptionsFilePath()));
  EXPECT_EQ(file.dem_source_mode, 1);
  EXPECT_EQ(GetProfileInt("dem", "label_interval", 0), 25);
  EXPECT_EQ(GetProfileInt("dem", "contour_method", 0), 1);
  EXPECT_EQ(GetProfileString("dem", "label_color", ""), std::to_string(0xFFAA0000u));
  PageOptions now = GetPageOptions();
  ReloadPageOptions();
  EXPECT_EQ(GetPageOptions(), now);
}

TEST_F(OptionsSheetTest, RefusedValuesKeepTheSheetOpenAndCancelStoresNothing) {
  ScopedAppOptions mode([](CAppOptions& o) { o.dem_source_mode = 3; });
  ScopedPageOptions page(Known());
  const PageOptions before = GetPageOptions();
  {
    COptionsSheet sheet;
    host.AnswerDialog(CPropertySheet::kTemplateId, [&](CDialog& d) {
      auto& s = static_cast<COptionsSheet&>(d);
      CPgOptDem& dem = s.DemPage();
      Item<CComboBox>(dem, CPgOptDem::kIdSourceMode)->Select(5);
      for (const char* bad : {"0", "101", "4.5", "五", ""}) {
        Item<CEdit>(dem, CPgOptDem::kIdIntervalCount)->Type(bad);
        Item<CButton>(s, IDOK)->Click();
        EXPECT_FALSE(s.HasEnded()) << bad;
        EXPECT_EQ(host.LastMessage(), CPgOptDem::kBadIntervalCount);
        EXPECT_TRUE(dem.GetDlgItem(CPgOptDem::kIdIntervalCount)->HasFocus());
        // The other tab cannot be reached either.
        EXPECT_FALSE(s.SetActivePage(1));
      }
      Item<CEdit>(dem, CPgOptDem::kIdIntervalCount)->Type("100");
      Item<CEdit>(dem, CPgOptDem::kIdDxfLabelScale)->Type("-1");
      Item<CButton>(s, ID_APPLY_NOW)->Click();
      EXPECT_EQ(host.LastMessage(), CPgOptDem::kBadLabelScale);
      EXPECT_EQ(AppOptions().dem_source_mode, 3);  // nothing applied
      Item<CButton>(s, IDCANCEL)->Click();
    });
    EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  }
  EXPECT_EQ(AppOptions().dem_source_mode, 3);
  EXPECT_EQ(GetPageOptions(), before);

  // Apply stores and keeps the sheet open; a second Apply without changes is greyed.
  {
    COptionsSheet sheet;
    host.AnswerDialog(CPropertySheet::kTemplateId, [&](CDialog& d) {
      auto& s = static_cast<COptionsSheet&>(d);
      CPgOptDem& dem = s.DemPage();
      Item<CEdit>(dem, CPgOptDem::kIdIntervalCount)->Type("7");
      EXPECT_TRUE(s.IsApplyEnabled());
      Item<CButton>(s, ID_APPLY_NOW)->Click();
      EXPECT_FALSE(s.HasEnded());
      EXPECT_FALSE(s.IsApplyEnabled());
      EXPECT_EQ(GetPageOptions().dem.interval_count, 7);
      Item<CButton>(s, IDCANCEL)->Click();
    });
    EXPECT_EQ(sheet.DoModal(), IDCANCEL);
    EXPECT_EQ(GetPageOptions().dem.interval_count, 7);  // applied before the cancel
  }
}

TEST_F(OptionsSheetTest, GoogleEarthAndExportPagesStoreTheirSwitches) {
  ScopedPageOptions page(Known());
  COptionsSheet sheet(nullptr, COptionsSheet::kPageGoogleEarth);
  host.AnswerDialog(CPropertySheet::kTemplateId, [&](CDialog& d) {
    auto& s = static_cast<COptionsSheet&>(d);
    EXPECT_EQ(s.GetActiveIndex(), 1);
    EXPECT_FALSE(s.DemPage().IsWindow());  // never shown: takes no part
    CPgOptGoogleEarth& earth = s.GoogleEarthPage();
    EXPECT_EQ(earth.TemplateId(), 241);
    EXPECT_EQ(earth.GetDlgItemText(CPgOptGoogleEarth::kIdRegionFrame), "绘制框选框");
    EXPECT_EQ(earth.GetDlgItemText(CPgOptGoogleEarth::kIdCloseEarth), "退出时,同时关闭Google Earth");
    EXPECT_EQ(earth.IsDlgButtonChecked(CPgOptGoogleEarth::kIdRegionFrame), BST_CHECKED);
    EXPECT_EQ(earth.IsDlgButtonChecked(CPgOptGoogleEarth::kIdCloseEarth), BST_UNCHECKED);
    Item<CButton>(earth, CPgOptGoogleEarth::kIdRegionFrame)->Click();
    Item<CButton>(earth, CPgOptGoogleEarth::kIdCloseEarth)->Click();
    ASSERT_TRUE(s.SetActivePage(2));
    CPgOptExport& exports = s.ExportPage();
    EXPECT_EQ(exports.TemplateId(), 240);
    EXPECT_EQ(exports.GetDlgItemText(CPgOptExport::kIdWriteLog), "记录日志");
    EXPECT_EQ(exports.IsDlgButtonChecked(CPgOptExport::kIdWriteLog), BST_UNCHECKED);
    Item<CButton>(exports, CPgOptExport::kIdWriteLog)->Click();
    Item<CButton>(s, IDOK)->Click();
  });
  ASSERT_EQ(sheet.DoModal(), IDOK);
  PageOptions now = GetPageOptions();
  EXPECT_FALSE(now.earth.draw_region_frame);
  EXPECT_TRUE(now.earth.close_earth_on_exit);
  EXPECT_TRUE(now.exports.write_log);
  EXPECT_EQ(now.dem, Known().dem);
  EXPECT_EQ(GetProfileInt("option", "ge_region_frame", 1), 0);
  EXPECT_EQ(GetProfileInt("option", "ge_close_on_exit", 0), 1);
  EXPECT_EQ(GetProfileInt("option", "export_log", 0), 1);
}

TEST_F(OptionsSheetTest, ProfileValuesOutOfRangeReadAsDefaults) {
  ScopedPageOptions page(Known());
  WriteProfileInt("dem", "contour_color_mode", 9);
  WriteProfileInt("dem", "interval_count", 0);
  WriteProfileString("dem", "line_color", "-5");
  WriteProfileString("dem", "dxf_label_scale", "nan");
  WriteProfileInt("dem", "label_interval", 12);
  ReloadPageOptions();
  DemPageOptions dem = GetPageOptions().dem;
  const DemPageOptions def;
  EXPECT_EQ(dem.contour_color_mode, def.contour_color_mode);
  EXPECT_EQ(dem.interval_count, def.interval_count);
  EXPECT_EQ(dem.line_color, def.line_color);
  EXPECT_EQ(dem.dxf_label_scale, def.dxf_label_scale);
  EXPECT_EQ(dem.label_interval, 12);
}

TEST_F(OptionsSheetTest, MainFrameOffersTheSheetAsToolsOptions) {
  CMainFrame frame;
  ASSERT_TRUE(frame.CreateFrame("Velmora"));
  std::optional<AppCommand> command = AppCommands().Find(ID_TOOLS_OPTIONS);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->menu, "工具");
  EXPECT_EQ(command->text, "选项(&O)...");
  EXPECT_EQ(command->ToolTip(), "选项");
  CCmdUI ui(ID_TOOLS_OPTIONS);
  frame.QueryCommandUI(ui);
  EXPECT_TRUE(ui.IsEnabled());

  host.AnswerDialog(CPropertySheet::kTemplateId, [](CDialog& d) { d.GetDlgItemAs<CButton>(IDCANCEL)->Click(); });
  EXPECT_TRUE(frame.RouteCommand(ID_TOOLS_OPTIONS));
  ASSERT_EQ(host.Records().size(), 1u);
  EXPECT_EQ(host.Records()[0].kind, CHeadlessUiHost::Record::Kind::kDialog);
  EXPECT_EQ(host.Records()[0].text, "选项");
  frame.CloseFrame();
  EXPECT_FALSE(AppCommands().Contains(ID_TOOLS_OPTIONS));
}

// ---- satellite edit dialog ----

constexpr const char* kIss =
    "ISS (ZARYA)\r\n"
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\r\n"
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\r\n";

SatElements Iss() {
  CSatOrbit orbit;
  EXPECT_EQ(orbit.ParseTle(kIss), 1);
  SatElements e = orbit.Elements();
  e.color = 0xFF1E5AB4u;
  e.icon_path = "/nowhere/sat2.png";
  e.shown = 0;
  return e;
}

TEST_F(OptionsSheetTest, SatelliteEditShowsTheEpochAndTheElementText) {
  EXPECT_EQ(CDlgSatEdit::FormatEpoch(8264.51782528), "2008-9-20 12:25:40");
  const SatElements iss = Iss();
  std::string text = CDlgSatEdit::FormatElementText(iss);
  // Name line and two full element lines with valid check digits, read back to the same values.
  size_t first = text.find("\r\n"), second = text.find("\r\n", first + 2);
  ASSERT_NE(second, std::string::npos);
  std::string line1 = text.substr(first + 2, second - first - 2), line2 = text.substr(second + 2);
  EXPECT_EQ(text.substr(0, first), "ISS (ZARYA)");
  ASSERT_EQ(line1.size(), 69u);
  ASSERT_EQ(line2.size(), 69u);
  EXPECT_EQ(line1.substr(18, 14), "08264.51782528");
  EXPECT_EQ(line1.substr(53, 8), "-11606-4");
  EXPECT_EQ(line2.substr(8, 8), " 51.6416");
  EXPECT_EQ(line2.substr(26, 7), "0006703");
  EXPECT_EQ(line2.substr(52, 11), "15.72125391");
  for (const std::string& line : {line1, line2}) {
    int sum = 0;
    for (size_t i = 0; i + 1 < line.size(); ++i) sum += isdigit(static_cast<unsigned char>(line[i])) ? line[i] - '0' : line[i] == '-';
    EXPECT_EQ(line.back(), '0' + sum % 10) << line;
  }
  CSatOrbit again;
  ASSERT_EQ(again.ParseTle(text), 1);
  const SatElements& e = again.Elements();
  EXPECT_EQ(e.satellite_number, iss.satellite_number);
  EXPECT_DOUBLE_EQ(e.epoch, iss.epoch);
  EXPECT_NEAR(e.inclination, iss.inclination, 1e-9);
  EXPECT_NEAR(e.right_ascension, iss.right_ascension, 1e-9);
  EXPECT_NEAR(e.eccentricity, iss.eccentricity, 1e-12);
  EXPECT_NEAR(e.mean_motion, iss.mean_motion, 1e-12);
  EXPECT_NEAR(e.bstar, iss.bstar, 1e-12);

  // Drag terms of every size round through the field.
  for (double bstar : {0.0, 1.0e-9, 2.5e-5, -3.1416e-3, 0.099999999}) {
    SatElements b = iss;
    b.bstar = bstar;
    CSatOrbit o;
    ASSERT_EQ(o.ParseTle(CDlgSatEdit::FormatElementText(b)), 1) << bstar;
    EXPECT_NEAR(o.Elements().bstar, bstar, std::fabs(bstar) * 1e-4 + 1e-14) << bstar;
  }
}

TEST_F(OptionsSheetTest, SatelliteEditReadsTheTextAgainOnOk) {
  // Unchanged text: the record comes back exactly, colour and icon the dialog's.
  SatElements record = Iss();
  const SatElements original = record;
  {
    CDlgSatEdit dlg(&record);
    host.AnswerDialog(CDlgSatEdit::kTemplateId, [&](CDialog& d) {
      EXPECT_EQ(d.GetWindowText(), "卫星参数");
      EXPECT_EQ(d.GetDlgItemText(CDlgSatEdit::kIdEpoch), "2008-9-20 12:25:40");
      EXPECT_EQ(d.GetDlgItemAs<CColorStatic>(CDlgSatEdit::kIdColor)->GetColor(), 0xFF1E5AB4u);
      EXPECT_EQ(d.GetDlgItemAs<CPicturePickStatic>(CDlgSatEdit::kIdIcon)->GetPicturePath(), "/nowhere/sat2.png");
      host.AnswerColor(0xFF00C800u);
      d.GetDlgItemAs<CColorStatic>(CDlgSatEdit::kIdColor)->PickColor();
      d.GetDlgItemAs<CButton>(IDOK)->Click();
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
  }
  EXPECT_EQ(record.mean_motion, original.mean_motion);
  EXPECT_EQ(record.epoch_julian, original.epoch_julian);
  EXPECT_EQ(record.color, 0xFF00C800u);
  EXPECT_EQ(record.icon_path, original.icon_path);

  // Edited text: read again; the epoch shown follows the text as it is typed.
  {
    CDlgSatEdit dlg(&record);
    host.AnswerDialog(CDlgSatEdit::kTemplateId, [&](CDialog& d) {
      std::string text = d.GetDlgItemText(CDlgSatEdit::kIdElements);
      text.replace(0, text.find("\r\n"), "国际空间站");
      size_t epoch = text.find("08264.51782528");
      ASSERT_NE(epoch, std::string::npos);
      text.replace(epoch, 14, "09001.25000000");
      d.GetDlgItemAs<CEdit>(CDlgSatEdit::kIdElements)->Type(text);
      EXPECT_EQ(d.GetDlgItemText(CDlgSatEdit::kIdEpoch), "2009-1-1 6:0:0");
      d.GetDlgItemAs<CButton>(IDOK)->Click();
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
  }
  EXPECT_EQ(record.name, "国际空间站");
  EXPECT_DOUBLE_EQ(record.epoch, 9001.25);
  EXPECT_DOUBLE_EQ(record.epoch_julian, TleEpochToJulian(9001.25));
  EXPECT_EQ(record.color, 0xFF00C800u);            // not ParseTle's random colour
  EXPECT_EQ(record.icon_path, "/nowhere/sat2.png");  // nor its random icon
  EXPECT_EQ(record.shown, 0u);

  // Text that does not read: said, the dialog stays; Cancel then changes nothing.
  const SatElements kept = record;
  {
    CDlgSatEdit dlg(&record);
    host.AnswerDialog(CDlgSatEdit::kTemplateId, [&](CDialog& d) {
      d.GetDlgItemAs<CEdit>(CDlgSatEdit::kIdElements)->Type("ISS\r\n1 25544U short line\r\n");
      d.GetDlgItemAs<CButton>(IDOK)->Click();
      EXPECT_FALSE(static_cast<CDialog&>(d).HasEnded());
      EXPECT_EQ(host.LastMessage(), CDlgSatEdit::kBadElements);
      d.GetDlgItemAs<CButton>(IDCANCEL)->Click();
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  }
  EXPECT_EQ(record.name, kept.name);
  EXPECT_EQ(record.epoch, kept.epoch);
}

}  // namespace
}  // namespace velmora
