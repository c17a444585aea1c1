// The region dialogs, the export file dialog and the DXF target question, driven headless: the
// corners kept per section with their defaults, the sample distance and its profile key, the
// export rectangle preset from the map view, the four fields of the export file dialog, and the
// exact texts a person is asked.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "exchange/ui/dlg_export_region_set.h"
#include "exchange/ui/dlg_region_set.h"
#include "exchange/ui/dxf_export_ui.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"
#include "tiles/map_view_state.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class RegionDialogsTest : public test::HeadlessUiTest {
 protected:
  static void Type(CDialog& d, int id, const std::string& text) { d.GetDlgItemAs<CEdit>(id)->Type(text); }
  static void Click(CDialog& d, int id) { d.GetDlgItemAs<CButton>(id)->Click(); }
};

TEST_F(RegionDialogsTest, CornersAreKeptPerSectionWithTheirDefaults) {
  CDlgRegionSet dlg;
  dlg.LoadCorners("never_saved");
  EXPECT_EQ(dlg.top_left.lng, 120.0f);
  EXPECT_EQ(dlg.top_left.lat, 36.48f);
  EXPECT_EQ(dlg.bottom_right.lng, 120.8f);
  EXPECT_EQ(dlg.bottom_right.lat, 36.04f);
  dlg.top_left = {116.25f, 40.5f};
  dlg.bottom_right = {117.0f, 39.75f};
  dlg.SaveCorners("exp");
  // The keys are the section name followed by "lt" and "br".
  EXPECT_EQ(ProgramSettings().GetPointF("explt", {}), (PointF{116.25f, 40.5f}));
  EXPECT_EQ(ProgramSettings().GetPointF("expbr", {}), (PointF{117.0f, 39.75f}));
  CDlgExportRegionSet other({0, 0}, {1, -1});
  other.LoadCorners("exp");
  EXPECT_EQ(other.top_left.lat, 40.5f);
  EXPECT_EQ(other.bottom_right.lng, 117.0f);
}

TEST_F(RegionDialogsTest, SampleDistanceIsCheckedAndStored) {
  WriteProfileInt("region", "dem_distance", 30);
  CDlgRegionSet dlg;
  EXPECT_EQ(dlg.Distance(), 30);
  host.AnswerDialog(CDlgRegionSet::kTemplateId, [&](CDialog& d) {
    EXPECT_EQ(d.Template().caption, "区域设定");
    EXPECT_EQ(d.GetDlgItemText(CDlgRegionSet::kIdDistance), "30");
    EXPECT_EQ(d.GetDlgItemText(CDlgRegionBase::kIdNorth), "36.48");
    for (const char* bad : {"abc", "0", "-5", "1000001", "12.5"}) {
      Type(d, CDlgRegionSet::kIdDistance, bad);
      Click(d, IDOK);
      EXPECT_FALSE(d.HasEnded()) << bad;
    }
    Type(d, CDlgRegionSet::kIdDistance, "90");
    Type(d, CDlgRegionBase::kIdNorth, "36°30′0″");  // degrees, minutes, seconds are read too
    Click(d, IDOK);
  });
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.Distance(), 90);
  EXPECT_EQ(dlg.top_left.lat, 36.5f);
  EXPECT_EQ(GetProfileInt("region", "dem_distance", 0), 90);
  std::vector<std::string> messages = host.MessageTexts();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0], CDlgRegionSet::kBadDistance);

  // Cancel keeps the stored distance.
  CDlgRegionSet cancelled;
  host.AnswerDialog(CDlgRegionSet::kTemplateId, [&](CDialog& d) {
    Type(d, CDlgRegionSet::kIdDistance, "5");
    Click(d, IDCANCEL);
  });
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  EXPECT_EQ(GetProfileInt("region", "dem_distance", 0), 90);
}

class BoundsView : public IMapViewState {
 public:
  MapCamera GetCamera() const override { return {}; }
  void GetViewBounds(float lt[2], float br[2]) const override {
    lt[0] = 119.5f, lt[1] = 36.75f, br[0] = 121.25f, br[1] = 35.5f;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }
};

TEST_F(RegionDialogsTest, ExportRegionStartsFromTheViewAndRefusesAnEmptyBox) {
  BoundsView view;
  SetCurrentMapView(&view);
  CDlgExportRegionSet dlg;
  SetCurrentMapView(nullptr);
  host.AnswerDialog(CDlgExportRegionSet::kTemplateId, [&](CDialog& d) {
    EXPECT_EQ(d.Template().caption, "导出区域设定");
    EXPECT_EQ(d.GetDlgItemText(CDlgRegionBase::kIdWest), "119.5");
    EXPECT_EQ(d.GetDlgItemText(CDlgRegionBase::kIdSouth), "35.5");
    Type(d, CDlgRegionBase::kIdEast, "119");  // east of west no more
    Click(d, IDOK);
    EXPECT_FALSE(d.HasEnded());
    Type(d, CDlgRegionBase::kIdEast, "x");
    Click(d, IDOK);
    EXPECT_FALSE(d.HasEnded());
    Type(d, CDlgRegionBase::kIdEast, "120.125");
    Click(d, IDOK);
  });
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.bottom_right.lng, 120.125f);
  EXPECT_EQ(dlg.top_left.lat, 36.75f);
  EXPECT_EQ(host.MessageTexts(), (std::vector<std::string>{"请输入正确的经纬度范围", "请输入正确的经纬度范围"}));
}

TEST_F(RegionDialogsTest, ExportFileDialogFieldsAreReadAfterOk) {
  CFileDialogExport dlg("jpg", "kovra");
  dlg.altitude_km = 12.5;
  host.AnswerFile({"/tmp/mosaic.png"}, 4, [](CFileDialog& d) {
    EXPECT_EQ(d.Filter(), CFileDialogExport::kFilter);
    EXPECT_EQ(d.GetDlgItemText(CFileDialogExport::kIdAltitude), "12.5");
    EXPECT_EQ(d.GetDlgItemText(CFileDialogExport::kIdDelay), "1000");
    d.GetDlgItemAs<CEdit>(CFileDialogExport::kIdAltitude)->Type("3.25");
    d.GetDlgItemAs<CEdit>(CFileDialogExport::kIdDelay)->Type("2500");
    d.GetDlgItemAs<CButton>(CFileDialogExport::kIdFullScreen)->Click();
    d.GetDlgItemAs<CButton>(CFileDialogExport::kIdGeographic)->Click();
  });
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.GetPathName(), "/tmp/mosaic.png");
  EXPECT_EQ(dlg.altitude_km, 3.25);
  EXPECT_EQ(dlg.delay_ms, 2500);
  EXPECT_TRUE(dlg.full_screen);
  EXPECT_FALSE(dlg.geographic);
  // The extra template carries the four fields with their labels.
  auto t = FindDialogTemplate(CFileDialogExport::kTemplateId);
  ASSERT_NE(t, nullptr);
  std::vector<std::string> texts;
  for (const ControlTemplate& c : t->controls)
    if (!c.text.empty()) texts.push_back(c.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"视角高度(km)", "延迟时间(ms)", "全屏拼接", "地理"}));
  // Text that is no number leaves a field as it was.
  CFileDialogExport again;
  again.delay_ms = 700;
  host.AnswerFile({"/tmp/x.jpg"}, 1, [](CFileDialog& d) {
    d.GetDlgItemAs<CEdit>(CFileDialogExport::kIdDelay)->Type("soon");
  });
  ASSERT_EQ(again.DoModal(), IDOK);
  EXPECT_EQ(again.delay_ms, 700);
}

TEST_F(RegionDialogsTest, DxfTargetQuestionAndRefusalReachThePerson) {
  test::TempDir dir;
  const std::string path = dir.File("c.dxf");
  test::WriteTestFile(path, "not a drawing");
  CDxfExport dxf;
  host.AnswerMessageBox(IDYES);
  EXPECT_FALSE(OpenDxfTarget(dxf, path));
  std::vector<CHeadlessUiHost::Record> records = host.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "指定DXF文件已存在，是：添加，否：覆盖");
  EXPECT_EQ(records[0].type & MB_TYPEMASK, static_cast<UINT>(MB_YESNOCANCEL));
  EXPECT_EQ(records[1].text.rfind("无法读取DXF文件,不能添加:\n", 0), 0u) << records[1].text;
  EXPECT_EQ(test::ReadTestFile(path), "not a drawing");
  // No: overwrite. Cancel: nothing, and no second message.
  host.ClearRecords();
  host.AnswerMessageBox(IDNO);
  EXPECT_TRUE(OpenDxfTarget(dxf, path));
  EXPECT_FALSE(dxf.IsAdding());
  host.AnswerMessageBox(IDCANCEL);
  EXPECT_FALSE(OpenDxfTarget(dxf, path));
  EXPECT_EQ(host.Records().size(), 2u);
}

}  // namespace
}  // namespace velmora
