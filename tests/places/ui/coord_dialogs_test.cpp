// The coordinate tools' dialogs built headless from their templates and driven by id: the format
// converter (text, files, import and save-as), the system converter with the zone dialog behind
// a right click, the export system choice, the point list, and the commands the shell offers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/projection.h"
#include "core/settings.h"
#include "places/coord_sys_convert.h"
#include "places/ui/coord_dialog_templates.h"
#include "places/ui/coord_tool_commands.h"
#include "places/ui/dlg_coord_format.h"
#include "places/ui/dlg_coord_list.h"
#include "places/ui/dlg_coord_sys_convert.h"
#include "places/ui/dlg_coord_sys_select.h"
#include "places/ui/dlg_datum_params.h"
#include "platform/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/command_table.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class CoordDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    // Each test starts from the defaults of the keys these dialogs keep.
    for (const char* key : {"CCFI", "CCFS", "CCFD", "CCFLF1", "CCFLF2", "CCFS1", "CCFS2", "CCFSD2", "CCFG20",
                            "CCFG21", "CCFT20", "CCFT21", "CrdFmtCvtFile", "CoordCvtSrc", "CoordCvtDst",
                            "CoordCvtSplit", "CoordCvtFile", "CoordinateDefault", "CoordinateIdx", "utm84_0",
                            "utm84_1", "utm84_2"})
      ProgramSettings().Remove(key);
  }
  void TearDown() override { SetUiHost(nullptr); }

  static CEdit* Edit(CDialog& d, int id) { return d.GetDlgItemAs<CEdit>(id); }
  static CComboBox* Combo(CDialog& d, int id) { return d.GetDlgItemAs<CComboBox>(id); }
  static void Click(CDialog& d, int id) { d.GetDlgItemAs<CButton>(id)->Click(); }

  CHeadlessUiHost host;
  test::TempDir dir;
};

TEST_F(CoordDialogsTest, TemplatesHoldTheControlsByIdWithCaptions) {
  RegisterCoordDialogTemplates();
  struct Expect {
    int id;
    const char* caption;
    std::vector<int> controls;
  };
  const Expect expected[] = {
      {305, "坐标格式转换工具", {1313, 1315, 1317, 1318, 1322, 1323, 1324, 1328, 1370, 1325, 1326, 1327, 1329, 1371,
                                 1330, 1331, 1332, 1333, 1334, 1335, 1336, 1337, 1379, 1303, 1314, 1316}},
      {290, "坐标系转换工具", {1313, 1315, 1317, 1318, 1322, 1379, 1303, 1314, 1316, 1321}},
      {291, "坐标系选择", {1320, 1319, IDOK, IDCANCEL}},
      {292, "坐标系设置", {1323, 1336, 1324, 1368, 1331, 3, IDOK, IDCANCEL}},
      {272, "坐标", {1262}},
      {307, "坐标批量纠正", {1380, 1381, 1039, 1024, IDCANCEL}},
  };
  for (const Expect& e : expected) {
    auto t = FindDialogTemplate(e.id);
    ASSERT_TRUE(t) << e.id;
    EXPECT_EQ(t->caption, e.caption);
    EXPECT_GT(t->cx, 0);
    for (int id : e.controls) {
      const ControlTemplate* c = t->FindControl(id);
      ASSERT_TRUE(c) << e.id << ": " << id;
      EXPECT_LE(c->x + c->cx, t->cx) << e.id << ": " << id;  // inside the dialog
      EXPECT_LE(c->y + c->cy, t->cy) << e.id << ": " << id;
    }
  }
  EXPECT_EQ(FindDialogTemplate(305)->FindControl(1314)->text, "转换 ==>>");
  EXPECT_EQ(FindDialogTemplate(305)->FindControl(1316)->text, "文件转换...");
  EXPECT_EQ(FindDialogTemplate(291)->FindControl(1319)->text, "转换前提醒");
}

TEST_F(CoordDialogsTest, FormatConverterConvertsTypedTextAndKeepsItsSettings) {
  CDlgCoordFormat dlg;
  host.AnswerDialog(kCoordFormatTemplateId, [&](CDialog& d) {
    EXPECT_EQ(Edit(d, 1317)->GetWindowText(), "120°23′45.56″, 36°12′34.56″");
    EXPECT_EQ(Combo(d, 1313)->GetCount(), 3);
    EXPECT_EQ(Combo(d, 1313)->GetCurSel(), kNotationDms);
    EXPECT_EQ(Combo(d, 1315)->GetLBText(1), "度分秒");
    EXPECT_EQ(Edit(d, 1335)->GetWindowText(), "西经");
    Click(d, 1314);
    EXPECT_EQ(Edit(d, 1318)->GetWindowText(), "120.39598888888889,36.2096\r\n");

    // Degrees in, DMS out, without hemisphere words: the sign carries the side.
    Combo(d, 1313)->Select(kNotationDegrees);
    Combo(d, 1315)->Select(kNotationDms);
    for (int id : {1334, 1335, 1336, 1337}) Edit(d, id)->Type("");
    Edit(d, 1317)->Type("-0.5,36.5\r\n\r\noops\r\n10.99999999999,-1e-12");
    Click(d, 1314);
    EXPECT_EQ(Edit(d, 1318)->GetWindowText(),
              "-0°30′0″,36°30′0″\r\n# 第3行缺少分隔符: oops\r\n11°0′0″,0°0′0″\r\n");
    EXPECT_EQ(host.LastMessage(), "1行无法转换: 第3行(缺少分隔符)\n结果中这些行以\"#\"开头。");

    // A skip count out of range is refused before anything is converted.
    Edit(d, 1379)->Type("-1");
    Click(d, 1314);
    EXPECT_EQ(host.LastMessage(), "请输入一个介于 0 和 100 之间的整数。");
    Click(d, IDCANCEL);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(ProgramSettings().GetInt("CCFS", -1), kNotationDegrees);
  EXPECT_EQ(ProgramSettings().GetInt("CCFD", -1), kNotationDms);
  EXPECT_EQ(ProgramSettings().GetString("CCFG20", "?"), "");
  EXPECT_EQ(ProgramSettings().GetString("CCFI", ""), "-0.5,36.5\r\n\r\noops\r\n10.99999999999,-1e-12");

  // The next dialog starts from what was kept, with the skip count back at 0.
  CDlgCoordFormat again;
  EXPECT_EQ(again.Settings().target_format, kNotationDms);
  EXPECT_EQ(again.Settings().skip_columns, 0);
  EXPECT_EQ(again.InputText(), "-0.5,36.5\r\n\r\noops\r\n10.99999999999,-1e-12");
}

TEST_F(CoordDialogsTest, FormatConverterFileConversionImportAndSaveAs) {
  const std::string in = dir.File("points.txt"), out = dir.File("converted.txt");
  test::WriteTestFile(in, Utf8ToAnsi(std::string_view("121°30′0″,31°15′0″\r\nbad\r\n")));
  CDlgCoordFormat dlg;
  host.AnswerDialog(kCoordFormatTemplateId, [&](CDialog& d) {
    host.AnswerFile({in});
    host.AnswerFile({out});
    Click(d, 1316);
    EXPECT_EQ(Edit(d, 1317)->GetWindowText(), "121°30′0″,31°15′0″\r\nbad\r\n");  // shown as read (GBK)
    EXPECT_EQ(AnsiToUtf8(test::ReadTestFile(out)), "121.5,31.25\r\n# 第2行缺少分隔符: bad\r\n");
    EXPECT_EQ(host.LastMessage(), "1行无法转换: 第2行(缺少分隔符)\n结果中这些行以\"#\"开头。");

    // A file that cannot be read is said so; the boxes stay as they were.
    host.AnswerFile({dir.File("missing.txt")});
    Click(d, 1316);
    EXPECT_EQ(host.LastMessage(), "无法读取文件");
    EXPECT_EQ(Edit(d, 1317)->GetWindowText(), "121°30′0″,31°15′0″\r\nbad\r\n");

    // "导入" from the input box's menu; a spreadsheet goes through the installed reader, its
    // cells joined by the separator.
    auto* input = d.GetDlgItemAs<CMenuEdit>(1317);
    ASSERT_TRUE(input);
    test::WriteTestFile(dir.File("a.xls"), "not read as text");
    CDlgCoordImport::SetSheetReader([](const std::string&) {
      return std::optional<std::vector<std::vector<std::string>>>({{"a", "b", "c"}, {"120", "36"}});
    });
    Edit(d, 1322)->Type(";");
    host.AnswerMenu(CDlgCoordImport::kCmdImport);
    host.AnswerFile({dir.File("a.xls")});
    input->RightClick();
    EXPECT_EQ(input->GetWindowText(), "a;b;c\r\n120;36");
    CDlgCoordImport::SetSheetReader({});

    // "另存为" writes the output box as GBK; a file that cannot be created is said so.
    auto* output = d.GetDlgItemAs<CMenuEdit>(1318);
    host.AnswerMenu(CDlgCoordImport::kCmdSaveAs);
    host.AnswerFile({dir.File("out.kcd")});
    output->RightClick();
    EXPECT_EQ(AnsiToUtf8(test::ReadTestFile(dir.File("out.kcd"))), "121.5,31.25\r\n# 第2行缺少分隔符: bad\r\n");
    test::WriteTestFile(dir.File("blocker"), "x");
    host.AnswerMenu(CDlgCoordImport::kCmdSaveAs);
    host.AnswerFile({dir.File("blocker/out.kcd")});
    output->RightClick();
    EXPECT_EQ(host.LastMessage(), "无法创建文件");
    Click(d, IDCANCEL);
  });
  dlg.DoModal();
  EXPECT_EQ(ProgramSettings().GetString("CrdFmtCvtFile", ""), dir.File("missing.txt"));
  std::vector<std::string> opened;
  for (const auto& r : host.Records())
    if (r.kind == CHeadlessUiHost::Record::Kind::kOpenDocument) opened.push_back(r.text);
  EXPECT_EQ(opened, std::vector<std::string>{out});
}

TEST_F(CoordDialogsTest, SystemConverterWithTheZoneDialogBehindARightClick) {
  CDlgCoordSysConvert dlg;
  host.AnswerDialog(kCoordSysConvertTemplateId, [&](CDialog& d) {
    EXPECT_EQ(Edit(d, 1317)->GetWindowText(), "120,36,123\r\n121,37,234");
    EXPECT_EQ(Combo(d, 1313)->GetLBText(2), "UTM - WGS84");
    EXPECT_EQ(Combo(d, 1315)->GetCurSel(), kCoordMercator);
    Combo(d, 1315)->Select(kCoordUtm);
    Click(d, 1314);
    // Numbers as FormatNumber14 prints them; the heights as typed.
    const std::string utm = Edit(d, 1318)->GetWindowText();
    EXPECT_EQ(utm.substr(0, 11), "229578.6299") << utm;
    EXPECT_NE(utm.find(",3988111.9623"), std::string::npos) << utm;
    EXPECT_NE(utm.find(",123\r\n322037.8102"), std::string::npos) << utm;
    EXPECT_NE(utm.find(",4096742.0593"), std::string::npos) << utm;
    EXPECT_EQ(utm.substr(utm.size() - 6), ",234\r\n") << utm;

    // Right click on the UTM target: the zone dialog of slot 1. "计算" shows the UTM zone of the
    // longitude in the zone box (what OK stores) and the Gauss-Krüger band beside it.
    host.AnswerDialog(kDatumParamsTemplateId, [&](CDialog& z) {
      EXPECT_EQ(z.GetDlgItemText(1323), "51");
      EXPECT_FALSE(z.GetDlgItem(1324)->IsWindowEnabled());
      EXPECT_FALSE(z.GetDlgItem(1336)->IsWindowEnabled());
      Edit(z, 1331)->Type("117.5");
      Combo(z, 1368)->Select(1);
      Click(z, 3);
      EXPECT_EQ(z.GetDlgItemText(1323), "50");
      EXPECT_EQ(z.GetDlgItemText(1324), "117");
      EXPECT_EQ(z.GetDlgItemText(1369), "6度带: 第20带, 中央子午线117°");
      Click(z, IDOK);
    });
    d.GetDlgItemAs<CMenuComboBox>(1315)->RightClick();
    EXPECT_EQ(UtmZoneOfSlot(kSlotConverterTarget), 50);
    Click(d, 1314);
    EXPECT_EQ(Edit(d, 1318)->GetWindowText().substr(0, 10), "770421.370");  // zone 50 now

    // No dialog for a system without settings.
    size_t records = host.Records().size();
    Combo(d, 1313)->Select(kCoordMercator);
    d.GetDlgItemAs<CMenuComboBox>(1313)->RightClick();
    EXPECT_EQ(host.Records().size(), records);

    // A zone out of range is refused with a message, not converted with PROJ's refusal.
    Combo(d, 1313)->Select(kCoordLonLat);
    ProgramSettings().SetInt("utm84_1", 61);
    Click(d, 1314);
    EXPECT_EQ(Edit(d, 1318)->GetWindowText(), "");
    EXPECT_EQ(host.LastMessage(), "目标坐标系的UTM带号61无效,带号必须在1到60之间");

    // Same system: said so.
    Combo(d, 1315)->Select(kCoordLonLat);
    Click(d, 1314);
    EXPECT_EQ(host.LastMessage(), "源坐标系与目标坐标系相同");

    // "缺省设置" opens the export system choice.
    host.AnswerDialog(kCoordSysSelectTemplateId, [](CDialog& s) { s.GetDlgItemAs<CButton>(IDCANCEL)->Click(); });
    Click(d, 1321);
    EXPECT_EQ(host.Records().back().caption, std::to_string(kCoordSysSelectTemplateId));
    Click(d, IDCANCEL);
  });
  dlg.DoModal();
  EXPECT_EQ(ProgramSettings().GetInt("CoordCvtDst", -1), kCoordLonLat);
  EXPECT_EQ(ProgramSettings().GetString("CoordCvtSplit", "?"), ",");
}

TEST_F(CoordDialogsTest, ZoneDialogRefusesZonesOutsideTheRange) {
  CDlgDatumParams dlg(kCoordUtm, kSlotExport);
  host.AnswerDialog(kDatumParamsTemplateId, [&](CDialog& z) {
    Edit(z, 1331)->Type("121.4");
    Click(z, 3);  // 3° band by default
    EXPECT_EQ(z.GetDlgItemText(1369), "3度带: 第40带, 中央子午线120°");
    EXPECT_EQ(z.GetDlgItemText(1323), "51");
    // Western longitudes: negative bands, the meridian next to the longitude; the zone box
    // keeps the UTM zone that OK stores.
    Edit(z, 1331)->Type("-121.4");
    Click(z, 3);
    EXPECT_EQ(z.GetDlgItemText(1369), "3度带: 第-40带, 中央子午线-120°");
    EXPECT_EQ(z.GetDlgItemText(1323), "10");
    Combo(z, 1368)->Select(1);
    Edit(z, 1331)->Type("-119");
    Click(z, 3);
    EXPECT_EQ(z.GetDlgItemText(1369), "6度带: 第-19带, 中央子午线-117°");
    Combo(z, 1368)->Select(0);
    Edit(z, 1331)->Type("121.4");
    Edit(z, 1323)->Type("61");
    Click(z, IDOK);
    EXPECT_EQ(host.LastMessage(), "UTM带号必须在1到60之间");
    EXPECT_FALSE(z.HasEnded());
    Edit(z, 1331)->Type("181");
    Click(z, 3);
    EXPECT_EQ(host.LastMessage(), "请输入一个介于 -180 和 180 之间的数。");
    Edit(z, 1331)->Type("-180");
    Edit(z, 1323)->Type("1");
    Click(z, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(UtmZoneOfSlot(kSlotExport), 1);
}

TEST_F(CoordDialogsTest, ExportSystemChoiceAndCancelledIndex) {
  ProgramSettings().SetInt("CoordinateIdx", kCoordMercator);
  EXPECT_EQ(GetCoordinateSystemIndex(), kCoordMercator);  // no reminder: nothing shown
  EXPECT_TRUE(host.Records().empty());

  ProgramSettings().SetBool("CoordinateDefault", true);
  host.AnswerDialog(kCoordSysSelectTemplateId, [](CDialog& s) { s.GetDlgItemAs<CButton>(IDCANCEL)->Click(); });
  double xy[4] = {120, 36, 121, 37};
  int index = 99;
  EXPECT_EQ(ConvertPointsForExport(xy, 2, &index), ExportCoordStatus::kCancelled);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(xy[0], 120);  // nothing converted

  host.AnswerDialog(kCoordSysSelectTemplateId, [](CDialog& s) {
    EXPECT_EQ(s.IsDlgButtonChecked(1319), BST_CHECKED);
    EXPECT_EQ(s.GetDlgItemAs<CComboBox>(1320)->GetCurSel(), kCoordMercator);
    s.GetDlgItemAs<CComboBox>(1320)->Select(kCoordUtm);
    s.GetDlgItemAs<CButton>(1319)->Click();  // no reminder from now on
    s.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  EXPECT_EQ(ConvertPointsForExport(xy, 2, &index), ExportCoordStatus::kConverted);
  EXPECT_EQ(index, kCoordUtm);
  EXPECT_NEAR(xy[0], 229578.630, 1e-3);
  EXPECT_FALSE(ProgramSettings().GetBool("CoordinateDefault", true));
  EXPECT_EQ(GetCoordinateSystemIndex(), kCoordUtm);
  ProgramSettings().SetInt("utm84_2", 0);
  EXPECT_EQ(ConvertPointsForExport(xy, 2, &index), ExportCoordStatus::kFailed);
  ProgramSettings().SetInt("CoordinateIdx", 7);  // not in the table
  EXPECT_EQ(GetCoordinateSystemIndex(), kCoordLonLat);
}

TEST_F(CoordDialogsTest, PointListShowsTheCallersPointsExportsThemAndFitsItsWindow) {
  ScopedAppOptions decimal([](CAppOptions& o) { o.coord_format = 0; });
  std::vector<Point3D> points = {{120.5, 36.25, 12.0}, {-0.5, -33.8688, 1234.567}};
  test::TempDir dir;
  CDlgCoordList dlg;
  dlg.SetPoints(&points);
  host.AnswerDialog(kCoordListTemplateId, [&](CDialog& d) {
    auto* list = d.GetDlgItemAs<CCoordList>(1262);
    ASSERT_TRUE(list);  // the shell's point list
    EXPECT_EQ(list->GetColumnCount(), 4);
    EXPECT_EQ(list->GetColumnHeading(3), "海拔");
    EXPECT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(list->GetItemText(1, 0), "2");
    EXPECT_EQ(list->GetItemText(1, 2), "-33.868800");
    EXPECT_EQ(list->GetItemText(1, 3), "1234.57");
    {
      ScopedAppOptions dms([](CAppOptions& o) { o.coord_format = 1; });
      EXPECT_EQ(list->GetItemText(1, 2), "-33°52′07.6800");
    }
    // Its right click exports the caller's points.
    host.AnswerMenu(CCoordList::kIdExport);
    host.AnswerFile({dir.File("points.csv")}, 2);
    list->RightClickItem(0);
    EXPECT_EQ(AnsiToUtf8(test::ReadTestFile(dir.File("points.csv"))),
              "120.500000,36.250000,12.000\n-0.500000,-33.868800,1234.567\n");
    d.SendMessage(WM_SIZE, 0, MAKELPARAM(640, 480));
    EXPECT_EQ(list->GetWindowRect(), (RECT{0, 0, 640, 480}));
  });
  dlg.DoModal();
}

TEST_F(CoordDialogsTest, CommandsOfTheShell) {
  std::vector<CoordToolCommand> commands = CoordToolCommands();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].id, 32946u);
  EXPECT_STREQ(commands[0].menu_path, "工具/坐标格式转换");
  EXPECT_STREQ(commands[0].prompt, "单点或批量坐标格式转换\n坐标格式转换");
  EXPECT_EQ(commands[1].id, ID_COORD_SYSTEM_CONVERT);
  EXPECT_EQ(commands[2].id, ID_COORD_BATCH_FIX);

  RegisterCoordToolCommands();
  for (const CoordToolCommand& c : commands) {
    std::optional<AppCommand> entry = AppCommands().Find(c.id);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->menu, "工具");
  }
  EXPECT_EQ(AppCommands().Find(ID_COORD_FORMAT_CONVERT)->text, "坐标格式转换...");
  for (int id : {kCoordFormatTemplateId, kCoordSysConvertTemplateId, kCoordBatchFixTemplateId})
    host.AnswerDialog(id, [](CDialog& d) { d.GetDlgItemAs<CButton>(IDCANCEL)->Click(); });
  for (const CoordToolCommand& c : commands) EXPECT_TRUE(AppCommands().Execute(c.id));
  std::vector<std::string> opened;
  for (const auto& r : host.Records())
    if (r.kind == CHeadlessUiHost::Record::Kind::kDialog) opened.push_back(r.caption);
  EXPECT_EQ(opened, (std::vector<std::string>{"305", "290", "307"}));
  EXPECT_EQ(host.PendingAnswers(), 0u);
  for (const CoordToolCommand& c : commands) AppCommands().Unregister(c.id);
}

}  // namespace
}  // namespace velmora
