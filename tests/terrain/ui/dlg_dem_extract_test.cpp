// The elevation extraction dialog on the headless host: a run started and stopped (texts and
// controls back on the finish message), counts and rows, the "no contours" message, an import
// contoured by the stand-in, the point, KML and DXF exports (the projected "All" export checked
// against cs2cs and ezdxf, a stale labelled file never merged), contours added to the 2D view,
// and the 2D view's fetch command with the cache question answered both ways, followed by a
// built-in contour run on the cached points.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "core/format.h"
#include "core/projection.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "exchange/dxf_reader.h"
#include "exchange/exchange_test_util.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/draw_item_db.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "terrain/dem_files.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/dem_extract_commands.h"
#include "terrain/ui/dlg_dem_extract.h"
#include "shell/file_dialog_ex.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using D = CDlgDemExtract;
const test::TempDir& kFolders = test::IsolatedFolders();
constexpr unsigned kWait = 30000;

double HillAt(double lon, double lat) {
  return 400 + 300 * std::exp(-(std::pow((lon - 116.05) * 40, 2) + std::pow((lat - 39.95) * 40, 2)));
}

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    UpdateAppOptions([](CAppOptions& o) {
      o.program_dir = kFolders.File("program/");
      o.work_dir = kFolders.File("work/");
      o.dem_source_mode = kDemSourceSrtm;
    });
    std::filesystem::create_directories(AppOptions().work_dir);
    HeightGridLayout layout = HeightLayout3s(60, 5);
    layout.height = 150;
    ASSERT_TRUE(WriteHeightSamples(
        AppOptions().program_dir + "data/" + CHeightFile::FileName(CHeightFile3s::TileNumber(60, 5), kHeightFileSmh),
        BuildHeightGrid(layout, HillAt)));
  }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

class DlgDemExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    std::filesystem::remove(DemCachePath());
    for (const auto& e : std::filesystem::directory_iterator(AppOptions().work_dir)) std::filesystem::remove(e.path());
  }
  void TearDown() override { SetUiHost(nullptr); }

  static PageOptions Method(int method, bool labels = true) {
    PageOptions o = GetPageOptions();
    o.dem.contour_method = method;
    o.dem.labels_on = labels;
    o.dem.label_interval = 2;
    return o;
  }
  // Runs an extraction of the box to its end.
  void Extract(D& dialog) {
    finished = false;
    dialog.SendMessage(WM_COMMAND, D::kCmdExtract, 0);
    ASSERT_TRUE(UiDispatcher().PumpUntil(
        [&] { return !dialog.Panel().IsExtracting() && dialog.GetDlgItemText(D::kCmdExtract) == "提取"; }, kWait));
  }
  bool Enabled(D& dialog, int id) { return dialog.GetDlgItem(id)->IsWindowEnabled(); }

  CHeadlessUiHost host;
  bool finished = false;
};

TEST_F(DlgDemExtractTest, ARunStartsAndStopsThenItsContoursAreListed) {
  ScopedPageOptions options(Method(0));
  D dialog;
  ASSERT_TRUE(dialog.SetPoints({116.03f, 39.97f}, {116.07f, 39.93f}, 100));
  ShowModelessDialog(&dialog);
  ASSERT_TRUE(dialog.IsWindow());
  EXPECT_EQ(dialog.GetWindowText(), "SRTM");
  EXPECT_EQ(dialog.GetDlgItemText(D::kIdCount), FormatC("(米≈%d点)", static_cast<int>(dialog.Panel().Data().BuiltInSampleCount())));
  EXPECT_FALSE(Enabled(dialog, D::kCmdContour));  // no points yet
  EXPECT_FALSE(Enabled(dialog, D::kCmdImport));   // built-in method

  // Started: only the button and the statics stay enabled; stopped at once, the controls come back.
  dialog.SendMessage(WM_COMMAND, D::kCmdExtract, 0);
  EXPECT_EQ(dialog.GetDlgItemText(D::kCmdExtract), "停止");
  EXPECT_FALSE(Enabled(dialog, D::kIdSampleDistance));
  EXPECT_FALSE(Enabled(dialog, D::kIdList));
  dialog.SendMessage(WM_COMMAND, D::kCmdExtract, 0);
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return dialog.GetDlgItemText(D::kCmdExtract) == "提取"; }, kWait));
  EXPECT_TRUE(Enabled(dialog, D::kIdSampleDistance));

  Extract(dialog);
  const CDemGrid& data = dialog.Panel().Data();
  ASSERT_EQ(static_cast<int64_t>(data.points.size()), data.BuiltInSampleCount());
  EXPECT_TRUE(Enabled(dialog, D::kCmdContour));
  dialog.SetDlgItemText(D::kIdInterval, "50");
  ASSERT_TRUE(dialog.OnMakeContours());
  const auto& records = dialog.Panel().DrawRecords();
  ASSERT_FALSE(records.empty());
  ASSERT_EQ(dialog.List().GetItemCount(), static_cast<int>(records.size()));
  EXPECT_EQ(dialog.List().GetItemText(0, 0), FormatC("%g", static_cast<double>(records[0].line->level)));
  EXPECT_EQ(dialog.List().GetItemText(0, 1), FormatC("%d", static_cast<int>(records[0].line->points.size())));
  EXPECT_TRUE(DemCacheExists());
  EXPECT_EQ(GetProfileDouble(D::kSection, "contour_distance", 0), 50.0);

  // A number of intervals of 0 gives no interval.
  host.ClearRecords();
  dialog.SendMessage(WM_COMMAND, MAKEWPARAM(D::kIdIntervalType, 0), 0);
  static_cast<CComboBox*>(dialog.GetDlgItem(D::kIdIntervalType))->SetCurSel(1);
  dialog.SetDlgItemText(D::kIdInterval, "0");
  EXPECT_FALSE(dialog.OnMakeContours());
  EXPECT_EQ(host.LastMessage(), D::kNoContours);
  EXPECT_EQ(dialog.List().GetItemCount(), 0);

  // Imported points replace the grid: no later run may trace the old one, and no drawing record
  // may point at its freed lines.
  ASSERT_TRUE(ExportText(kFolders.File("few.txt"), std::vector<Point3D>{{116.0, 39.9, 1}, {116.1, 39.9, 2}}, 0));
  ASSERT_TRUE(dialog.Panel().ImportText(kFolders.File("few.txt"), true));
  EXPECT_EQ(dialog.Panel().Data().tracer.nx(), 0);
  EXPECT_TRUE(dialog.Panel().DrawRecords().empty());
  dialog.OnCancel();
}

// A lattice of the hill as a point file (imports take longitude, latitude, elevation).
std::string WriteLattice(const std::string& path, double x0, double y0, int n, double step,
                         double (*f)(double, double)) {
  std::vector<Point3D> points;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) points.push_back({x0 + c * step, y0 + r * step, f(x0 + c * step, y0 + r * step)});
  EXPECT_TRUE(ExportText(path, points, 0));
  return path;
}

double PlaneInLongitude(double lon, double) { return 101 + (lon - 123.0) * 3000; }

TEST_F(DlgDemExtractTest, ImportContourAndExportByTheStandIn) {
  ScopedPageOptions options(Method(1));
  D dialog;
  ShowModelessDialog(&dialog);
  EXPECT_TRUE(Enabled(dialog, D::kCmdImport));
  const std::string input = WriteLattice(kFolders.File("hill.txt"), 116.02, 39.92, 40, 0.0015, &HillAt);
  host.AnswerFile({input});
  host.AnswerDialog(272, [](CDialog& d) { d.EndDialog(IDOK); });  // the coordinate list
  dialog.SendMessage(WM_COMMAND, D::kCmdImport, 0);
  ASSERT_EQ(dialog.Panel().Data().points.size(), 1600u);
  ASSERT_TRUE(Enabled(dialog, D::kCmdContour));
  dialog.SetDlgItemText(D::kIdInterval, "25");
  ASSERT_TRUE(dialog.OnMakeContours()) << host.LastMessage();
  ASSERT_GT(dialog.List().GetItemCount(), 5);
  ASSERT_FALSE(dialog.Panel().Labels().empty());
  EXPECT_EQ(dialog.Panel().LabelledFile(), AppOptions().work_dir + "out_all.dxf");

  // A cass file is refused with a message.
  test::WriteTestFile(kFolders.File("points.dat"), "1,,116.0,39.9,10\n");
  host.ClearRecords();
  host.AnswerFile({kFolders.File("points.dat")});
  dialog.SendMessage(WM_COMMAND, D::kCmdImport, 0);
  EXPECT_EQ(host.LastMessage(), D::kCassNotRead);
  EXPECT_EQ(dialog.Panel().Data().points.size(), 1600u);

  // Points as text, opened after saving.
  host.AnswerFile({kFolders.File("out/points.txt")}, 0,
                  [](CFileDialog& d) { d.CheckDlgButton(CFileDialogEx::kIdAutoOpen, BST_CHECKED); });
  std::filesystem::create_directories(kFolders.File("out"));
  dialog.SendMessage(WM_COMMAND, D::kCmdExport, 0);
  std::vector<Point3D> back;
  ASSERT_TRUE(ImportText(kFolders.File("out/points.txt"), &back));
  EXPECT_EQ(back.size(), 1600u);
  EXPECT_EQ(GetProfileString("recent", "demexport", ""), kFolders.File("out/"));
  bool opened = false;
  for (const auto& r : host.Records())
    opened |= r.kind == CHeadlessUiHost::Record::Kind::kOpenDocument && r.text == kFolders.File("out/points.txt");
  EXPECT_TRUE(opened);

  // All contours as KML lines, with the labels.
  host.AnswerFile({kFolders.File("out/contours.kml")});
  dialog.SendMessage(WM_COMMAND, D::kCmdExportAll, 0);
  const std::string kml = test::ReadTestFile(kFolders.File("out/contours.kml"));
  size_t lines = 0;
  for (size_t at = kml.find("<LineString>"); at != std::string::npos; at = kml.find("<LineString>", at + 1)) ++lines;
  EXPECT_EQ(lines, static_cast<size_t>(dialog.List().GetItemCount()));
  size_t placemarks = 0;
  for (size_t at = kml.find("<Placemark"); at != std::string::npos; at = kml.find("<Placemark", at + 1)) ++placemarks;
  // A line and its level's placemark per row, then the labels.
  EXPECT_EQ(placemarks, 2 * lines + dialog.Panel().Labels().size());

  // All contours as DXF in longitude/latitude: every line once, the labels merged inside the ranges.
  host.AnswerFile({kFolders.File("out/contours.dxf")});
  dialog.SendMessage(WM_COMMAND, D::kCmdExportAll, 0);
  DxfDrawing drawing;
  std::string error;
  ASSERT_TRUE(ReadDxfFile(kFolders.File("out/contours.dxf"), &drawing, &error)) << error;
  EXPECT_EQ(drawing.polylines.size(), static_cast<size_t>(dialog.List().GetItemCount()));
  ASSERT_FALSE(drawing.texts.empty());
  const CContourTracer& t = dialog.Panel().Data().tracer;
  for (const DxfText& text : drawing.texts) {
    EXPECT_GE(text.x, t.x_range.min);
    EXPECT_LE(text.x, t.x_range.max);
  }
  dialog.OnCancel();
}

TEST_F(DlgDemExtractTest, ProjectedAllExportInUtm51AgreesWithCs2csAndNeverMergesAStaleFile) {
  ScopedPageOptions options(Method(0));
  ProgramSettings().SetInt("CoordinateIdx", kCoordUtm);
  D dialog;
  ShowModelessDialog(&dialog);
  // A plane rising with longitude near 123 E (zone 51), imported, contoured by the built-in tracer.
  {
    ScopedPageOptions surfer(Method(1));
    host.AnswerFile({WriteLattice(kFolders.File("plane.txt"), 123.0, 31.2, 30, 0.001, &PlaneInLongitude)});
    host.AnswerDialog(272, [](CDialog& d) { d.EndDialog(IDOK); });
    dialog.SendMessage(WM_COMMAND, D::kCmdImport, 0);
  }
  ASSERT_EQ(dialog.Panel().Data().points.size(), 900u);
  // An older run's labelled file lies in the work folder: a built-in run wrote none.
  test::WriteTestFile(AppOptions().work_dir + "out_proj.dxf", "0\nSECTION\n2\nENTITIES\n0\nTEXT\n10\n1\n20\n1\n1\nstale\n0\nENDSEC\n0\nEOF\n");
  dialog.SetDlgItemText(D::kIdInterval, "10");
  ASSERT_TRUE(dialog.OnMakeContours()) << host.LastMessage();
  EXPECT_TRUE(dialog.Panel().LabelledFile().empty());

  const std::string path = kFolders.File("utm.dxf");
  ASSERT_TRUE(dialog.ExportContourDxf(path, true)) << host.LastMessage();
  DxfDrawing drawing;
  ASSERT_TRUE(ReadDxfFile(path, &drawing));
  ASSERT_GT(drawing.polylines.size(), 5u);
  // The labels come from this export's own projected run, never the stale file.
  for (const DxfText& text : drawing.texts) EXPECT_NE(text.text, "stale");
  EXPECT_FALSE(drawing.texts.empty());
  // Every vertex back to longitude/latitude through cs2cs: on its level's meridian.
  std::ostringstream in;
  std::vector<double> levels;
  for (const DxfPolyline& pl : drawing.polylines)
    for (const DxfVertex& v : pl.points) {
      in << FormatC("%.4f %.4f\n", v.x, v.y);
      levels.push_back(pl.elevation);
    }
  test::WriteTestFile(kFolders.File("utm.txt"), in.str());
  const auto run = test::RunCommand("cs2cs -f %.9f +proj=utm +zone=51 +datum=WGS84 +to +proj=longlat +datum=WGS84 " +
                                    test::Quote(kFolders.File("utm.txt")));
  ASSERT_EQ(run.status, 0) << run.output;
  std::istringstream out(run.output);
  double lon = 0, lat = 0, h = 0;
  size_t i = 0;
  while (out >> lon >> lat >> h) {
    ASSERT_LT(i, levels.size());
    // Linear gridding of a plane across 100 m cells of a near-linear projection: within 1 m.
    EXPECT_NEAR(lon, 123.0 + (levels[i] - 101) / 3000, 1e-5) << i;
    ++i;
  }
  EXPECT_EQ(i, levels.size());
  if (test::HaveEzdxf()) {
    const auto audit = test::RunCommand(test::SystemPython() +
                                        " -c 'import sys, ezdxf; d = ezdxf.readfile(sys.argv[1]); "
                                        "print(\"ERRORS\", len(d.audit().errors))' " + test::Quote(path));
    EXPECT_NE(audit.output.find("ERRORS 0"), std::string::npos) << audit.output;
  }
  ProgramSettings().SetInt("CoordinateIdx", 0);
  dialog.OnCancel();
}

class MapViewFixture : public DlgDemExtractTest {
 protected:
  void SetUp() override {
    DlgDemExtractTest::SetUp();
    tiles = test::MakeTileManager(folder.path() + "tiles/");
    ASSERT_TRUE(db.Open(folder.File("drawitem.kdb")));
    TileEngineOptions o;
    o.tiles = tiles.get();
    view = std::make_unique<CPDView>(MapViewSinks{}, o, &db);
    ASSERT_TRUE(view->CreateView(WS_VISIBLE, nullptr));
    view->SendMessage(WM_SIZE, 0, MAKELPARAM(640, 480));
    view->SetCamera(116.05, 39.95, 12, false);
  }
  void TearDown() override {
    view.reset();
    tiles->Stop();
    DlgDemExtractTest::TearDown();
  }
  test::TempDir folder;
  std::unique_ptr<CTileManager> tiles;
  CDrawItemDB db;
  std::unique_ptr<CPDView> view;
};

TEST_F(MapViewFixture, ContoursGoToTheMapAndTheFetchAsksForTheCache) {
  ScopedPageOptions options(Method(0));
  // No cache, no region: the command says so.
  EXPECT_FALSE(OnDemFetch(view.get()));
  EXPECT_EQ(host.LastMessage(), kDemNoRegion);
  // A closed free region opens the dialog on it.
  view->SetTool(CPDView::Tool::kRegion);
  for (auto [x, y] : {std::pair{200, 150}, {440, 150}, {440, 330}}) {
    view->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    view->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
  view->SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(440, 330));
  ASSERT_TRUE(OnDemFetch(view.get()));
  D* dialog = DemExtractDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->Panel().Data().polygon.size(), 4u);
  Extract(*dialog);
  dialog->SetDlgItemText(D::kIdInterval, "40");
  ASSERT_TRUE(dialog->OnMakeContours());
  const size_t rows = dialog->Panel().DrawRecords().size();
  ASSERT_GT(rows, 0u);

  dialog->AddContoursToView(view.get(), true);
  std::vector<const CPolylineShape*> lines;
  EXPECT_EQ(view->CopyPolylinesTo3D([&](const CPolylineShape& s) { lines.push_back(&s); }), rows);
  const DemDrawRecord& first = dialog->Panel().DrawRecords()[0];
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0]->Name(), FormatC("auto_contour_%g", static_cast<double>(first.line->level)));
  EXPECT_FLOAT_EQ(lines[0]->min_zoom, 11.0f);
  EXPECT_FLOAT_EQ(lines[0]->max_zoom, 13.0f);
  EXPECT_EQ(lines[0]->line_color, dialog->Panel().Pens()[first.pen]);
  ASSERT_EQ(lines[0]->PointCount(), first.line->points.size());
  EXPECT_EQ(lines[0]->Points()[0], (ShapePoint{first.line->points[0].x, first.line->points[0].y}));

  // The cache: "No" takes the region again, "Yes" the last extraction, contoured by the
  // built-in tracer on its lattice.
  const size_t points = dialog->Panel().Data().points.size();
  ASSERT_TRUE(DemCacheExists());
  dialog->OnCancel();
  EXPECT_TRUE(dialog->Panel().Data().points.empty());
  host.AnswerMessageBox(IDNO);
  ASSERT_TRUE(OnDemFetch(view.get()));
  EXPECT_EQ(host.MessageTexts().back(), kDemCacheQuestion);
  EXPECT_TRUE(DemExtractDialog()->Panel().Data().points.empty());
  host.AnswerMessageBox(IDYES);
  ASSERT_TRUE(OnDemFetch(view.get()));
  dialog = DemExtractDialog();
  ASSERT_EQ(dialog->Panel().Data().points.size(), points);
  EXPECT_TRUE(dialog->Panel().IsReady());
  EXPECT_EQ(dialog->Panel().Data().tracer.nx(), 0);  // the cache holds points, not the grid
  dialog->SetDlgItemText(D::kIdInterval, "40");
  ASSERT_TRUE(dialog->OnMakeContours()) << host.LastMessage();
  EXPECT_EQ(dialog->Panel().DrawRecords().size(), rows);
  CloseDemExtractDialog();
}

}  // namespace
}  // namespace velmora
