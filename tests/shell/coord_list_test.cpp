// The point list: virtual rows in both coordinate formats, the owner's vector changing under it,
// its own right-click menu, and the three exports read back (the text and CSV files as GBK, the
// spreadsheet with our reader and with GDAL's XLSX driver), and a place that cannot be written.
#include "shell/coord_list.h"

#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <filesystem>

#include "core/format.h"
#include "exchange/excel_auto.h"
#include "platform/text.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/dialog_ex.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();
constexpr int kIdList = 1262;

class CListDialog : public CDialogEx {
 public:
  CListDialog() : CDialogEx(DialogTemplate{272, "坐标", 260, 160, {{ControlKind::kListView, kIdList, "", 0, 0, 260, 160, 0}}}) {
    BindControl(kIdList, list);
  }
  CCoordList list;
};

class CoordListTest : public test::HeadlessUiTest {
 protected:
  std::vector<Point3D> points = {{120.5, 36.25, 12.0}, {-73.985656, 40.748433, 443.2}, {0, -0.5, -392.25}};
};

TEST_F(CoordListTest, ShowsTheOwnersPointsAsVirtualRows) {
  ScopedAppOptions decimal([](CAppOptions& o) { o.coord_format = 0; });
  CListDialog dlg;
  dlg.list.SetPoints(&points);
  ASSERT_TRUE(dlg.Create());
  CCoordList& list = dlg.list;
  ASSERT_EQ(list.GetColumnCount(), 4);
  EXPECT_EQ(list.GetColumnHeading(0), "序号");
  EXPECT_EQ(list.GetColumnHeading(1), "经度");
  EXPECT_EQ(list.GetColumnHeading(2), "纬度");
  EXPECT_EQ(list.GetColumnHeading(3), "海拔");
  EXPECT_TRUE(list.IsVirtual());
  EXPECT_TRUE(list.GetExtendedStyle() & LVS_EX_FULLROWSELECT);
  ASSERT_EQ(list.GetItemCount(), 3);
  EXPECT_EQ(list.GetItemText(0, 0), "1");
  EXPECT_EQ(list.GetItemText(0, 1), "120.500000");
  EXPECT_EQ(list.GetItemText(1, 2), "40.748433");
  EXPECT_EQ(list.GetItemText(2, 3), "-392.25");
  EXPECT_EQ(list.GetItemText(3, 1), "");  // past the end

  {
    ScopedAppOptions dms([](CAppOptions& o) { o.coord_format = 1; });
    EXPECT_EQ(list.GetItemText(0, 1), "120°30′00.0000");
    EXPECT_EQ(list.GetItemText(2, 2), "-0°30′00.0000");
  }
  // The owner's vector grows; Refresh shows it; null empties the list.
  points.push_back({10, 20, 30});
  list.Refresh();
  EXPECT_EQ(list.GetItemCount(), 4);
  EXPECT_EQ(list.GetItemText(3, 0), "4");
  list.SetPoints(nullptr);
  EXPECT_EQ(list.GetItemCount(), 0);
  dlg.DestroyWindow();
}

TEST_F(CoordListTest, ExportsReadBackInEveryFormat) {
  ScopedAppOptions decimal([](CAppOptions& o) { o.coord_format = 0; });
  test::TempDir dir;
  CListDialog dlg;
  dlg.list.SetPoints(&points);
  ASSERT_TRUE(dlg.Create());

  // Text: GBK with the header the elevation tools read.
  std::string written;
  ASSERT_TRUE(dlg.list.ExportFile(dir.File("points.txt"), &written));
  EXPECT_EQ(written, dir.File("points.txt"));
  std::string bytes = test::ReadTestFile(dir.File("points.txt"));
  EXPECT_EQ(bytes, Utf8ToAnsi(";经度        \t纬度        \t高度\n"
                              "120.500000\t36.250000\t12.000\n"
                              "-73.985656\t40.748433\t443.200\n"
                              "0.000000\t-0.500000\t-392.250\n"));
  EXPECT_NE(bytes.find("\xBE\xAD\xB6\xC8"), std::string::npos);  // "经度" in GBK

  // CSV: no header.
  ASSERT_TRUE(dlg.list.ExportFile(dir.File("points.csv")));
  EXPECT_EQ(test::ReadTestFile(dir.File("points.csv")),
            "120.500000,36.250000,12.000\n-73.985656,40.748433,443.200\n0.000000,-0.500000,-392.250\n");

  // A spreadsheet asked for as .xls is written as .xlsx; numbers stay numbers.
  ASSERT_TRUE(dlg.list.ExportFile(dir.File("points.xls"), &written));
  EXPECT_EQ(written, dir.File("points.xlsx"));
  CExcelAuto book;
  ASSERT_TRUE(book.Open(written)) << book.LastError();
  ASSERT_EQ(book.GetRowCount(), 4);
  ASSERT_EQ(book.GetColumnCount(), 4);
  EXPECT_EQ(book.GetData(0, 0), "序号");
  EXPECT_EQ(book.GetData(0, 3), "海拔");
  EXPECT_EQ(book.GetData(1, 1), "120.5");
  EXPECT_EQ(book.GetData(2, 1), "-73.985656");
  EXPECT_EQ(book.GetData(3, 3), "-392.25");

  GDALAllRegister();
  const char* drivers[] = {"XLSX", nullptr};
  const char* options[] = {"HEADERS=FORCE", "FIELD_TYPES=AUTO", nullptr};
  auto* ds = static_cast<GDALDataset*>(GDALOpenEx(written.c_str(), GDAL_OF_VECTOR, drivers, options, nullptr));
  ASSERT_NE(ds, nullptr);
  OGRLayer* layer = ds->GetLayer(0);
  ASSERT_NE(layer, nullptr);
  ASSERT_EQ(layer->GetLayerDefn()->GetFieldCount(), 4);
  EXPECT_STREQ(layer->GetLayerDefn()->GetFieldDefn(1)->GetNameRef(), "经度");
  EXPECT_EQ(layer->GetLayerDefn()->GetFieldDefn(2)->GetType(), OFTReal);
  size_t i = 0;
  for (auto& f : *layer) {
    ASSERT_LT(i, points.size());
    EXPECT_EQ(f->GetFieldAsInteger(0), static_cast<int>(i + 1));
    EXPECT_DOUBLE_EQ(f->GetFieldAsDouble(1), points[i].x);
    EXPECT_DOUBLE_EQ(f->GetFieldAsDouble(2), points[i].y);
    EXPECT_DOUBLE_EQ(f->GetFieldAsDouble(3), points[i].z);
    ++i;
  }
  EXPECT_EQ(i, points.size());
  GDALClose(ds);

  // Degrees-minutes-seconds texts in every format.
  ScopedAppOptions dms([](CAppOptions& o) { o.coord_format = 1; });
  ASSERT_TRUE(dlg.list.ExportFile(dir.File("dms.csv")));
  EXPECT_EQ(AnsiToUtf8(test::ReadTestFile(dir.File("dms.csv"))).rfind("120°30′00.0000,36°15′00.0000,12.000\n", 0), 0u);
  ASSERT_TRUE(dlg.list.ExportFile(dir.File("dms.xlsx")));
  CExcelAuto dms_book;
  ASSERT_TRUE(dms_book.Open(dir.File("dms.xlsx")));
  EXPECT_EQ(dms_book.GetData(1, 1), "120°30′00.0000");
  dlg.DestroyWindow();
}

TEST_F(CoordListTest, RightClickMenuExportsThroughTheSaveDialog) {
  ScopedAppOptions decimal([](CAppOptions& o) { o.coord_format = 0; });
  test::TempDir dir;
  CListDialog dlg;
  dlg.list.SetPoints(&points);
  ASSERT_TRUE(dlg.Create());

  // The list's own menu, whatever the dialog maps; the CSV filter gives a name without an
  // extension its type.
  host.AnswerMenu(CCoordList::kIdExport);
  host.AnswerFile({dir.File("chosen")}, 2);
  dlg.list.RightClickItem(1);
  std::vector<CHeadlessUiHost::Record> records = host.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "导出...");
  EXPECT_TRUE(std::filesystem::exists(dir.File("chosen.csv")));

  // A place that cannot be written (its folder is a file): "无法创建文件".
  test::WriteTestFile(dir.File("plain_file"), "a file, not a folder");
  host.AnswerFile({dir.File("plain_file/points.txt")}, 1);
  dlg.list.OnExport();
  EXPECT_EQ(host.LastMessage(), "无法创建文件");
  EXPECT_EQ(test::ReadTestFile(dir.File("plain_file")), "a file, not a folder");

  // An empty list offers the item greyed: choosing it does nothing.
  std::vector<Point3D> none;
  dlg.list.SetPoints(&none);
  host.ClearRecords();
  host.AnswerMenu(CCoordList::kIdExport);
  dlg.list.ShowContextMenu({});
  ASSERT_EQ(host.Records().size(), 1u);  // the menu, no save dialog
  EXPECT_EQ(host.Records()[0].kind, CHeadlessUiHost::Record::Kind::kMenu);
  dlg.DestroyWindow();
}

}  // namespace
}  // namespace velmora
