// Spreadsheets: a workbook with Chinese text, numbers and empty cells saved as .xlsx and read
// back by our reader, by GDAL's XLSX driver and by ogrinfo; .xls workbooks written by another
// program (xlwt) read; a workbook that cannot be read is never saved over; hostile archives
// (strings out of range, cells off the sheet, oversized members, entity tricks) fail cleanly.
#include "exchange/excel_auto.h"

#include <gtest/gtest.h>
#include <ogrsf_frmts.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/format.h"
#include "exchange/exchange_test_util.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

struct Row {
  std::string number, lng, lat, name;
};

// The rows an address export writes, with what a reader must find in each cell.
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"1", "120.123456789", "36.5", "青岛 <港> & \"码头\""},
      {"2", "-0.5e3", "", "007"},  // an empty latitude; a code with a leading zero stays text
      {"3", "121", "37.25", ""},   // no name
      {"4", "1e-7", "89.999999999999", "line one\nline two"},
  };
  return rows;
}

std::vector<std::string> Expected(const Row& r) {
  auto number = [](const std::string& s) { return s.empty() ? s : FormatCellNumber(*ParseDouble(s)); };
  return {r.number, number(r.lng), number(r.lat), r.name};
}

TEST(ExcelAutoTest, ChineseTextNumbersAndEmptyCellsSurviveEveryReader) {
  test::TempDir dir;
  CExcelAuto xl;
  ASSERT_TRUE(xl.Open());
  const char* header[] = {"序号", "经度", "纬度", "名称"};
  for (int c = 0; c < 4; ++c) ASSERT_TRUE(xl.SetData(0, c, header[c]));
  for (size_t i = 0; i < Rows().size(); ++i) {
    const Row& r = Rows()[i];
    const int row = static_cast<int>(i) + 1;
    xl.SetData(row, 0, r.number);
    xl.SetData(row, 1, r.lng);
    xl.SetData(row, 2, r.lat);
    xl.SetData(row, 3, r.name);
  }
  xl.SetData(2, 4, "\x01 dropped control");
  xl.SetData(2, 4, "");  // emptied again: the used range shrinks back
  EXPECT_EQ(xl.GetColumnCount(), 4);
  std::string saved;
  ASSERT_TRUE(xl.Save(dir.File("addrexport.xls"), &saved)) << xl.LastError();
  EXPECT_EQ(saved, dir.File("addrexport.xlsx"));  // the older format is read, not written
  EXPECT_FALSE(std::filesystem::exists(dir.File("addrexport.xls")));

  // Our reader.
  CExcelAuto back;
  ASSERT_TRUE(back.Open(saved)) << back.LastError();
  EXPECT_EQ(back.GetRowCount(), 5);
  EXPECT_EQ(back.GetColumnCount(), 4);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(back.GetData(0, c), header[c]);
  for (size_t i = 0; i < Rows().size(); ++i) {
    std::vector<std::string> want = Expected(Rows()[i]);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(back.GetData(static_cast<int>(i) + 1, c), want[c]) << i << "," << c;
  }
  EXPECT_EQ(back.GetData(1, 1), "120.123456789");
  EXPECT_EQ(back.GetData(2, 1), "-500");
  EXPECT_EQ(back.GetData(99, 99), "");
  EXPECT_EQ(back.GetData(-1, 0), "");
  const SheetCell* code = back.GetWorkbook().sheets[0].Find(2, 3);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code->kind, SheetCell::Kind::kText);

  // GDAL's XLSX driver, with the first row as field names.
  GDALAllRegister();
  const char* drivers[] = {"XLSX", nullptr};
  const char* options[] = {"HEADERS=FORCE", "FIELD_TYPES=AUTO", nullptr};
  GDALDataset* ds =
      static_cast<GDALDataset*>(GDALOpenEx(saved.c_str(), GDAL_OF_VECTOR, drivers, options, nullptr));
  ASSERT_NE(ds, nullptr);
  OGRLayer* layer = ds->GetLayer(0);
  ASSERT_NE(layer, nullptr);
  OGRFeatureDefn* defn = layer->GetLayerDefn();
  ASSERT_EQ(defn->GetFieldCount(), 4);
  for (int c = 0; c < 4; ++c) EXPECT_STREQ(defn->GetFieldDefn(c)->GetNameRef(), header[c]);
  EXPECT_EQ(defn->GetFieldDefn(1)->GetType(), OFTReal);
  size_t i = 0;
  for (auto& f : *layer) {
    ASSERT_LT(i, Rows().size());
    const Row& r = Rows()[i++];
    EXPECT_EQ(f->GetFieldAsDouble(1), *ParseDouble(r.lng));
    EXPECT_EQ(f->IsFieldSetAndNotNull(2), !r.lat.empty());
    EXPECT_EQ(f->IsFieldSetAndNotNull(3), !r.name.empty());
    if (!r.name.empty()) {
      EXPECT_EQ(std::string(f->GetFieldAsString(3)), r.name);
    }
  }
  EXPECT_EQ(i, Rows().size());
  GDALClose(ds);
  test::CommandResult info = test::RunCommand("ogrinfo -ro -al " + test::Quote(saved));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("ERROR"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("青岛 <港> & \"码头\""), std::string::npos) << info.output;
}

TEST(ExcelAutoTest, ReadsXlsWorkbooksOfOtherPrograms) {
  if (test::RunCommand(test::SystemPython() + " -c 'import xlwt'").status != 0)
    GTEST_SKIP() << "python3-xlwt is not installed";
  test::TempDir dir;
  const std::string path = dir.File("坐标.xls");
  test::WriteTestFile(dir.File("make.py"),
                      "import sys, xlwt\n"
                      "wb = xlwt.Workbook(encoding='utf-8')\n"
                      "ws = wb.add_sheet('点位')\n"
                      "for c, h in enumerate(['序号', '经度', '纬度', '名称']): ws.write(0, c, h)\n"
                      "ws.write(1, 0, 1); ws.write(1, 1, 120.5); ws.write(1, 2, 36.25); ws.write(1, 3, '崂山')\n"
                      "ws.write(2, 0, 2); ws.write(2, 1, -0.125); ws.write(2, 3, 'A&B <c>')\n"
                      "ws.write(4, 5, 'far')\n"
                      "wb.add_sheet('second').write(0, 0, 'x')\n"
                      "wb.save(sys.argv[1])\n");
  test::CommandResult made =
      test::RunCommand(test::SystemPython() + " " + test::Quote(dir.File("make.py")) + " " + test::Quote(path));
  ASSERT_EQ(made.status, 0) << made.output;

  CExcelAuto xl;
  ASSERT_TRUE(xl.Open(path)) << xl.LastError();
  EXPECT_EQ(xl.GetRowCount(), 5);
  EXPECT_EQ(xl.GetColumnCount(), 6);
  EXPECT_EQ(xl.GetData(0, 1), "经度");
  EXPECT_EQ(xl.GetData(1, 0), "1");
  EXPECT_EQ(xl.GetData(1, 1), "120.5");
  EXPECT_EQ(xl.GetData(1, 3), "崂山");
  EXPECT_EQ(xl.GetData(2, 1), "-0.125");
  EXPECT_EQ(xl.GetData(2, 2), "");
  EXPECT_EQ(xl.GetData(2, 3), "A&B <c>");
  EXPECT_EQ(xl.GetData(4, 5), "far");
  ASSERT_EQ(xl.GetWorkbook().sheets.size(), 2u);
  EXPECT_EQ(xl.GetWorkbook().sheets[0].name, "点位");

  // A large workbook: its shared strings run over several records, its stream over many sectors.
  const std::string large = dir.File("large.xls");
  test::WriteTestFile(dir.File("large.py"),
                      "import sys, xlwt\n"
                      "wb = xlwt.Workbook(encoding='utf-8')\n"
                      "ws = wb.add_sheet('many')\n"
                      "for r in range(3000):\n"
                      "    ws.write(r, 0, '点位%d 青岛市崂山区沙子口街道' % r + 'x' * (r % 50))\n"
                      "    ws.write(r, 1, r * 0.25 - 100)\n"
                      "    ws.write(r, 2, r)\n"
                      "wb.save(sys.argv[1])\n");
  made = test::RunCommand(test::SystemPython() + " " + test::Quote(dir.File("large.py")) + " " + test::Quote(large));
  ASSERT_EQ(made.status, 0) << made.output;
  CExcelAuto big;
  ASSERT_TRUE(big.Open(large)) << big.LastError();
  ASSERT_EQ(big.GetRowCount(), 3000);
  for (int r : {0, 1, 777, 2999}) {
    EXPECT_EQ(big.GetData(r, 0), FormatC("点位%d 青岛市崂山区沙子口街道", r) + std::string(r % 50, 'x')) << r;
    EXPECT_EQ(big.GetData(r, 1), FormatCellNumber(r * 0.25 - 100)) << r;
    EXPECT_EQ(big.GetData(r, 2), std::to_string(r)) << r;
  }

  // Saved again, every sheet comes along as .xlsx.
  xl.SetData(1, 4, "新");
  std::string saved;
  ASSERT_TRUE(xl.Save(path, &saved)) << xl.LastError();
  EXPECT_EQ(saved, dir.File("坐标.xlsx"));
  Workbook wb;
  ASSERT_TRUE(ReadSpreadsheetFile(saved, &wb));
  ASSERT_EQ(wb.sheets.size(), 2u);
  EXPECT_EQ(wb.sheets[0].name, "点位");
  EXPECT_EQ(wb.sheets[0].Text(1, 4), "新");
  EXPECT_EQ(wb.sheets[1].Text(0, 0), "x");
}

TEST(ExcelAutoTest, AWorkbookThatCannotBeReadIsNeverSavedOver) {
  test::TempDir dir;
  // A good workbook cut in half, and bytes that are no workbook at all.
  CExcelAuto good;
  ASSERT_TRUE(good.Open());
  good.SetData(0, 0, "keep me");
  ASSERT_TRUE(good.Save(dir.File("good.xlsx")));
  const std::string whole = test::ReadTestFile(dir.File("good.xlsx"));
  for (const std::string& bytes : {whole.substr(0, whole.size() / 2), std::string("not a workbook"),
                                   std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 truncated ole")}) {
    const std::string path = dir.File("damaged.xlsx");
    test::WriteTestFile(path, bytes);
    CExcelAuto xl;
    EXPECT_FALSE(xl.Open(path));
    EXPECT_FALSE(xl.LastError().empty());
    EXPECT_EQ(xl.GetRowCount(), 0);
    xl.SetData(0, 0, "new");
    EXPECT_FALSE(xl.Save(path));
    EXPECT_NE(xl.LastError().find("not written over"), std::string::npos);
    EXPECT_EQ(test::ReadTestFile(path), bytes);
    // Elsewhere it may be saved.
    EXPECT_TRUE(xl.Save(dir.File("elsewhere.xlsx")));
  }
  // A missing file is not unreadable: it is a new workbook to be.
  CExcelAuto fresh;
  EXPECT_FALSE(fresh.Open(dir.File("missing.xlsx")));
  fresh.SetData(0, 0, "1");
  EXPECT_TRUE(fresh.Save(dir.File("missing.xlsx")));
}

// An .xlsx archive of the given members.
std::string MakeArchive(const test::TempDir& dir, const std::vector<std::pair<std::string, std::string>>& members) {
  const std::string path = dir.File("hostile.zip");
  std::filesystem::remove(path);
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  EXPECT_NE(z, nullptr);
  for (const auto& [name, text] : members) {
    zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
    EXPECT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE), 0);
  }
  EXPECT_EQ(zip_close(z), 0);
  return test::ReadTestFile(path);
}

std::string SheetXml(const std::string& cells) {
  return "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
         "<sheetData><row r=\"1\">" + cells + "</row></sheetData></worksheet>";
}

TEST(SpreadsheetReaderTest, HostileArchivesFailCleanly) {
  test::TempDir dir;
  const std::string workbook =
      "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
      "<sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
  const std::string rels =
      "<Relationships><Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/></Relationships>";
  auto read = [&](const std::string& sheet, const std::string& shared, std::string* error,
                  const SpreadsheetLimits& limits = {}) {
    std::vector<std::pair<std::string, std::string>> members = {
        {"xl/workbook.xml", workbook}, {"xl/_rels/workbook.xml.rels", rels}, {"xl/worksheets/sheet1.xml", sheet}};
    if (!shared.empty()) members.push_back({"xl/sharedStrings.xml", shared});
    Workbook wb;
    bool ok = ReadSpreadsheet(MakeArchive(dir, members), &wb, error, limits);
    if (!ok) {
      EXPECT_TRUE(wb.sheets.empty());
    }
    return ok;
  };
  std::string error;
  // The plain case reads: inline strings, OOXML escapes, a shared string.
  ASSERT_TRUE(read(SheetXml("<c r=\"A1\" t=\"inlineStr\"><is><t>a_x000A_b</t></is></c><c r=\"B1\" t=\"s\"><v>0</v></c>"),
                   "<sst><si><r><t>青</t></r><r><t>岛</t></r></si></sst>", &error))
      << error;
  // A shared string past the table, a negative one.
  EXPECT_FALSE(read(SheetXml("<c r=\"A1\" t=\"s\"><v>1</v></c>"), "<sst><si><t>x</t></si></sst>", &error));
  EXPECT_NE(error.find("shared string"), std::string::npos) << error;
  EXPECT_FALSE(read(SheetXml("<c r=\"A1\" t=\"s\"><v>-1</v></c>"), "<sst><si><t>x</t></si></sst>", &error));
  // Cells off the sheet: past column XFD, past row 1048576, nonsense references and numbers.
  EXPECT_FALSE(read(SheetXml("<c r=\"XFE1\"><v>1</v></c>"), "", &error));
  EXPECT_FALSE(read(SheetXml("<c r=\"A1048577\"><v>1</v></c>"), "", &error));
  EXPECT_FALSE(read(SheetXml("<c r=\"1A\"><v>1</v></c>"), "", &error));
  EXPECT_FALSE(read(SheetXml("<c r=\"A1\"><v>12abc</v></c>"), "", &error));
  // An entity declaration is not expanded (no growth, no outside file).
  std::string laughs = "<!DOCTYPE sst [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                       "<sst><si><t>&b;</t></si></sst>";
  Workbook wb;
  (void)read(SheetXml("<c r=\"A1\" t=\"s\"><v>0</v></c>"), laughs, &error);
  // Members and cells beyond the limits.
  SpreadsheetLimits small;
  small.max_member_bytes = 64;
  EXPECT_FALSE(read(SheetXml("<c r=\"A1\"><v>1</v></c>"), "", &error, small));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  small = {};
  small.max_cells = 2;
  EXPECT_FALSE(read(SheetXml("<c><v>1</v></c><c><v>2</v></c><c><v>3</v></c>"), "", &error, small));
  // No workbook part at all.
  EXPECT_FALSE(ReadSpreadsheet(MakeArchive(dir, {{"a.txt", "x"}}), &wb, &error));
}

}  // namespace
}  // namespace velmora
