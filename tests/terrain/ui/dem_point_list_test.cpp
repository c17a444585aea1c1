// The elevation fetch dialog's point list without a worker: its menus with and without a
// selection, an import that fails (the rows stay), the import flag greying the point inputs, and
// exports by extension read back (text and CSV by our readers, the spreadsheet by GDAL's XLSX
// driver), the text export imported again.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include "core/settings.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"
#include "terrain/dem_files.h"
#include "terrain/ui/dlg_dem_fetch.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class DemPointListTest : public test::HeadlessUiTest {
 protected:
  void SetUp() override {
    HeadlessUiTest::SetUp();
    ASSERT_TRUE(dialog.Create());
  }
  void TearDown() override {
    dialog.DestroyWindow();
    HeadlessUiTest::TearDown();
  }
  CDemPointList& List() { return dialog.List(); }

  test::TempDir dir;
  CDlgDemFetch dialog;
};

TEST_F(DemPointListTest, MenusImportFailuresAndExportsReadBack) {
  // Nothing selected: only "导入".
  List().OnContextMenu(0, 0);
  EXPECT_EQ(host.Records().back().text, "导入");
  for (int i = 0; i < 3; ++i) List().AddPoint(116.0f + i, 40.0f, 100.5f + i, kDemRowFetched);
  List().ClickItem(1);
  List().OnContextMenu(0, 0);
  EXPECT_EQ(host.Records().back().text, "删除|清空|导入|导出");

  // An unreadable file keeps the rows and says so.
  host.AnswerMenu(CDemPointList::kCmdImport);
  host.AnswerFile({dir.File("missing.txt")});
  List().OnContextMenu(0, 0);
  EXPECT_EQ(List().Rows().size(), 3u);
  EXPECT_NE(host.LastMessage().find(kCannotOpenFile), std::string::npos);

  // Exports by extension, read back.
  for (const char* name : {"out.txt", "out.csv", "out.xls"}) {
    host.AnswerMenu(CDemPointList::kCmdExport);
    host.AnswerFile({dir.File(name)});
    List().OnContextMenu(0, 0);
  }
  std::vector<Point3D> text, csv;
  ASSERT_TRUE(ImportText(dir.File("out.txt"), &text));
  ASSERT_TRUE(ImportCsv(dir.File("out.csv"), &csv));
  ASSERT_EQ(text.size(), 3u);
  EXPECT_EQ(text, csv);
  EXPECT_NEAR(text[2].z, 102.5, 1e-9);
  EXPECT_EQ(GetProfileString("recent", "demexport", ""), dir.File("out.xls"));
  GDALAllRegister();
  const char* drivers[] = {"XLSX", nullptr};
  GDALDataset* ds = static_cast<GDALDataset*>(
      GDALOpenEx(dir.File("out.xlsx").c_str(), GDAL_OF_VECTOR, drivers, nullptr, nullptr));
  ASSERT_NE(ds, nullptr);
  OGRLayer* layer = ds->GetLayer(0);
  EXPECT_EQ(layer->GetFeatureCount(), 3);
  GDALClose(ds);

  // The text export imported again replaces the rows (state 0) and greys the point inputs;
  // deleting every row gives them back.
  ASSERT_TRUE(List().ImportFile(dir.File("out.txt")));
  ASSERT_EQ(List().Rows().size(), 3u);
  EXPECT_EQ(List().Rows()[0].state, kDemRowImported);
  EXPECT_FALSE(dialog.GetDlgItem(CDlgDemFetch::kIdFirstLat)->IsWindowEnabled());
  List().DeleteRows({0, 1});
  EXPECT_TRUE(List().IsImported());
  List().DeleteRows({0});
  EXPECT_FALSE(List().IsImported());
  EXPECT_TRUE(dialog.GetDlgItem(CDlgDemFetch::kIdFirstLat)->IsWindowEnabled());
}

}  // namespace
}  // namespace velmora
