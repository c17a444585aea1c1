// The elevation grid panel's files read back by other readers: the Surfer grid by GDAL's GSAG
// driver (size, origin, values, blanks), contour KML by GDAL's KML and LIBKML drivers, contour DXF
// by ezdxf's auditor and by ogrinfo (elevations, colours, UTM coordinates against PROJ through
// GDAL), spreadsheets by GDAL's XLSX driver; point text and CSV written and read back in both
// coordinate formats, as GBK bytes and under a German locale; the extraction cache written, read
// and refused when damaged.
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>

#include "core/archive.h"
#include "core/format.h"
#include "core/projection.h"
#include "exchange/exchange_test_util.h"
#include "platform/text.h"
#include "shapes/text_shape.h"
#include "support/isolated_folders.h"
#include "terrain/dem_files.h"

namespace velmora {
namespace {

using test::Quote;
using test::RunCommand;

const test::TempDir& kFolders = test::IsolatedFolders();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Switches LC_ALL to German (a decimal comma) for one scope when the machine has it.
class GermanLocale {
 public:
  GermanLocale() : old_(std::setlocale(LC_ALL, nullptr)) { active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr; }
  ~GermanLocale() { std::setlocale(LC_ALL, old_.c_str()); }
  bool active() const { return active_; }

 private:
  std::string old_;
  bool active_ = false;
};

std::vector<Point3D> SomePoints() {
  return {{116.391234, 39.907654, 43.5}, {-73.985656, 40.748433, -12.25}, {0.000001, -0.5, 8848.862}};
}

TEST(DemFiles, PointTextAndCsvRoundTripInBothFormatsAsGbkUnderAGermanLocale) {
  test::TempDir dir;
  GermanLocale german;
  const std::vector<Point3D> points = SomePoints();
  for (int format : {0, 1}) {
    SCOPED_TRACE(format);
    const std::string txt = dir.File(FormatC("p%d.txt", format)), csv = dir.File(FormatC("p%d.csv", format));
    ASSERT_TRUE(ExportText(txt, points, format));
    ASSERT_TRUE(WriteCsvPoints(csv, points, format));
    const std::string bytes = test::ReadTestFile(txt);
    // The header in GBK bytes, then the lines.
    ASSERT_EQ(bytes.substr(0, Utf8ToAnsi(kDemTextHeader).size()), Utf8ToAnsi(kDemTextHeader));
    if (format == 0) {
      EXPECT_NE(bytes.find("116.391234\t39.907654\t43.500\n"), std::string::npos) << bytes;
      EXPECT_NE(test::ReadTestFile(csv).find("-73.985656,40.748433,-12.250\n"), std::string::npos);
    } else {
      EXPECT_NE(AnsiToUtf8(bytes).find(FormatDms(116.391234) + "\t" + FormatDms(39.907654) + "\t43.500\n"),
                std::string::npos);
    }
    for (const std::string& path : {txt, csv}) {
      std::vector<Point3D> read;
      ASSERT_TRUE(path == txt ? ImportText(path, &read) : ImportCsv(path, &read));
      ASSERT_EQ(read.size(), points.size());
      const double tolerance = format == 0 ? 1e-6 : 0.0001 / 3600 + 1e-12;
      for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_NEAR(read[i].x, points[i].x, tolerance);
        EXPECT_NEAR(read[i].y, points[i].y, tolerance);
        EXPECT_NEAR(read[i].z, points[i].z, 0.0005);
      }
    }
  }
  // Another format value writes the header only.
  EXPECT_EQ(FormatPointsText(points, 7), kDemTextHeader);
  if (german.active()) {  // the locale was in force: printf would have written a comma
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    EXPECT_STREQ(probe, "0,5");
  }
}

TEST(DemFiles, ImportSkipsBadLinesAndAFileThatCannotBeOpenedChangesNothing) {
  test::TempDir dir;
  const std::string path = dir.File("in.txt");
  std::string text = Utf8ToAnsi(std::string(kDemTextHeader) +
                                // DMS longitude, decimal latitude and elevation
                                "116°23′28.4424″\t39.5\t100\n" +
                                "  121.5 ,, 31.25\t\t 7.5  \r\n" +
                                "\n; a comment 1 2 3\n"
                                "nan\t30\t5\n"
                                "200\t30\t5\n"
                                "120\t95\t5\n"
                                "120\t30\n"
                                "120\tabc\t5\n" +
                                std::string(kDemMaxLineBytes + 10, ' ') + "120 30 5\n" + "-1.5\t-2.5\t-3");
  test::WriteTestFile(path, text);
  std::vector<Point3D> read;
  ASSERT_TRUE(ImportText(path, &read));
  ASSERT_EQ(read.size(), 3u);
  EXPECT_NEAR(read[0].x, 116 + 23 / 60.0 + 28.4424 / 3600, 1e-9);
  EXPECT_EQ(read[0].y, 39.5);
  EXPECT_EQ(read[1].x, 121.5);
  EXPECT_EQ(read[1].y, 31.25);
  EXPECT_EQ(read[1].z, 7.5);
  EXPECT_EQ(read[2].z, -3);

  std::vector<Point3D> kept = {{1, 2, 3}};
  std::string error;
  EXPECT_FALSE(ImportText(dir.File("missing.txt"), &kept, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ImportCsv(dir.path(), &kept));
  ASSERT_EQ(kept.size(), 1u);

  // CSV: commas only, blanks are not separators.
  test::WriteTestFile(path, "1,2,3\n1 2 3\n4,5,6,extra\n");
  ASSERT_TRUE(ImportCsv(path, &read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].x, 4);
}

// A 3 x 2 grid (x 10-30, y 40-45) with one blank node.
void SmallGrid(CContourTracer& t) {
  ASSERT_TRUE(t.AllocGrid(2, 3));
  t.Value(0, 0) = 1.5f;
  t.Value(0, 1) = 2.25f;
  t.Value(0, 2) = 3;
  t.Value(1, 0) = 100;
  t.Value(1, 1) = kNaN;
  t.Value(1, 2) = 1234567;
  t.x_range = {10, 30};
  t.y_range = {40, 45};
  t.z_range = {1.5, 1234567};
}

TEST(DemFiles, SurferGridReadsBackThroughGdal) {
  GermanLocale german;
  CContourTracer t;
  SmallGrid(t);
  EXPECT_EQ(FormatSurferGrid(t),
            "DSAA\n3 2\n10.000000 30.000000\n40.000000 45.000000\n1.500000 1234567.000000\n"
            "\n1.5 2.25 3 \n100 1.70141e+38 1.23457e+06 ");
  test::TempDir dir;
  const std::string path = dir.File("g.grd");
  ASSERT_TRUE(ExportSurferGrid(path, t));
  GDALAllRegister();
  GDALDataset* ds = static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_RASTER, nullptr, nullptr, nullptr));
  ASSERT_NE(ds, nullptr);
  EXPECT_STREQ(ds->GetDriver()->GetDescription(), "GSAG");
  EXPECT_EQ(ds->GetRasterXSize(), 3);
  EXPECT_EQ(ds->GetRasterYSize(), 2);
  double gt[6];
  ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
  EXPECT_DOUBLE_EQ(gt[1], 10);  // node spacing
  EXPECT_DOUBLE_EQ(gt[5], -5);
  EXPECT_DOUBLE_EQ(gt[0], 5);   // half a cell west of the first node
  EXPECT_DOUBLE_EQ(gt[3], 47.5);
  GDALRasterBand* band = ds->GetRasterBand(1);
  int has_nodata = 0;
  const double nodata = band->GetNoDataValue(&has_nodata);
  EXPECT_TRUE(has_nodata);
  EXPECT_NEAR(nodata, kSurferBlankValue, 1e33);
  double v[6];
  ASSERT_EQ(band->RasterIO(GF_Read, 0, 0, 3, 2, v, 3, 2, GDT_Float64, 0, 0, nullptr), CE_None);
  // GDAL's first row is the north one: our row 1.
  EXPECT_EQ(v[0], 100);
  EXPECT_EQ(v[1], nodata);
  EXPECT_NEAR(v[2], 1234570, 0.5);
  EXPECT_EQ(v[3], 1.5);
  EXPECT_EQ(v[4], 2.25);
  GDALClose(ds);

  // A 1 x 1 grid has one value; no grid is refused and leaves the old file.
  CContourTracer one;
  ASSERT_TRUE(one.AllocGrid(1, 1));
  one.Value(0, 0) = 7;
  EXPECT_EQ(FormatSurferGrid(one).substr(FormatSurferGrid(one).rfind('\n')), "\n7 ");
  CContourTracer none;
  std::string error;
  EXPECT_FALSE(ExportSurferGrid(path, none, &error));
  EXPECT_NE(test::ReadTestFile(path).find("1.70141e+38"), std::string::npos);
}

TEST(DemFiles, BlankingFilesOfRegionsAndScreenVertices) {
  test::TempDir dir;
  CDemGrid grid;
  ASSERT_TRUE(grid.SetPoints({116.5f, 40.25f}, {116.0f, 39.75f}, 100));
  ASSERT_TRUE(WriteBlnFile(dir.File("a.bln"), grid, 0));
  EXPECT_EQ(test::ReadTestFile(dir.File("a.bln")),
            "5\t0\n116.000000\t40.250000\n116.500000\t40.250000\n116.500000\t39.750000\n116.000000\t39.750000\n"
            "116.000000\t40.250000\n");
  ASSERT_TRUE(grid.SetScreenPoints(std::vector<LngLatF>{{1, 1}, {50, 1}, {50, 50}}, 10));
  grid.vertex_terrain = {{116, 40, 1}, {116.5, 40, 2}, {kNaN, kNaN, kNaN}};
  std::string error;
  EXPECT_FALSE(WriteBlnFile(dir.File("b.bln"), grid, 0, &error));
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.bln")));
  grid.vertex_terrain[2] = {116.25, 39.5, 3};
  ASSERT_TRUE(WriteBlnFile(dir.File("b.bln"), grid, 1));
  EXPECT_EQ(AnsiToUtf8(test::ReadTestFile(dir.File("b.bln"))),
            "3\t0\n" + FormatDms(116) + "\t" + FormatDms(40) + "\n" + FormatDms(116.5) + "\t" + FormatDms(40) + "\n" +
                FormatDms(116.25) + "\t" + FormatDms(39.5) + "\n");
}

TEST(DemFiles, ExtractionCacheRoundTripAndDamageIsRefused) {
  test::TempDir dir;
  const std::string path = dir.File(kDemCacheFileName);
  CDemGrid grid;
  ASSERT_TRUE(grid.SetDemData(std::vector<LngLatF>{{116, 40}, {117, 40}, {117, 39}}, 250));
  grid.points = SomePoints();
  grid.RecomputeRanges();
  ASSERT_TRUE(SaveDemCache(grid, path));
  EXPECT_TRUE(DemCacheExists(path));
  const std::string bytes = test::ReadTestFile(path);
  EXPECT_EQ(bytes.size(), 4 + 3 * 24 + 4 + 3 * 8 + 4 + 6 * 8u);

  CDemGrid loaded;
  ASSERT_TRUE(LoadDemCache(&loaded, path));
  EXPECT_EQ(loaded.points, grid.points);
  ASSERT_EQ(loaded.polygon.size(), 3u);
  EXPECT_EQ(loaded.polygon[1].lng, 117);
  EXPECT_EQ(loaded.sample_distance, 250);
  EXPECT_EQ(loaded.tracer.z_range.max, 8848.862);
  EXPECT_EQ(loaded.tracer.x_range.min, -73.985656);
  EXPECT_TRUE(loaded.ready.load());

  // Damage: a point count beyond the bytes, a NaN, a cut file. Each is refused and changes nothing.
  std::string big = bytes;
  big[3] = '\x10';
  std::string nan = bytes;
  const double not_a_number = std::numeric_limits<double>::quiet_NaN();
  std::memcpy(&nan[4 + 8], &not_a_number, 8);
  for (const std::string& damaged : {big, nan, bytes.substr(0, bytes.size() - 1), bytes.substr(0, 2)}) {
    test::WriteTestFile(path, damaged);
    CDemGrid target;
    target.points = {{1, 2, 3}};
    std::string error;
    EXPECT_FALSE(LoadDemCache(&target, path, &error));
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(target.points.size(), 1u);
    EXPECT_FALSE(target.ready.load());
  }

  // An empty set deletes the file.
  CDemGrid empty;
  ASSERT_TRUE(SaveDemCache(empty, path));
  EXPECT_FALSE(DemCacheExists(path));
  EXPECT_FALSE(LoadDemCache(&empty, path));
  EXPECT_EQ(DemCachePath(), AppOptions().data_dir + "dem_exp.hdt");
}

TEST(DemFiles, SpreadsheetReadsBackThroughGdalsXlsxDriver) {
  test::TempDir dir;
  std::string written;
  const std::vector<Point3D> points = SomePoints();
  ASSERT_TRUE(ExportExcel(dir.File("p.xls"), points, 0, &written));
  EXPECT_EQ(written, dir.File("p.xlsx"));
  ASSERT_TRUE(ExportExcel(dir.File("q.xlsx"), points, 1, &written));
  GDALAllRegister();
  const char* drivers[] = {"XLSX", nullptr};
  const char* options[] = {"HEADERS=FORCE", "FIELD_TYPES=AUTO", nullptr};
  for (const std::string& name : {std::string("p.xlsx"), std::string("q.xlsx")}) {
    SCOPED_TRACE(name);
    GDALDataset* ds = static_cast<GDALDataset*>(
        GDALOpenEx(dir.File(name).c_str(), GDAL_OF_VECTOR, drivers, options, nullptr));
    ASSERT_NE(ds, nullptr);
    OGRLayer* layer = ds->GetLayer(0);
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    ASSERT_EQ(defn->GetFieldCount(), 4);
    EXPECT_STREQ(defn->GetFieldDefn(0)->GetNameRef(), "序号");
    EXPECT_STREQ(defn->GetFieldDefn(1)->GetNameRef(), "经度");
    EXPECT_STREQ(defn->GetFieldDefn(2)->GetNameRef(), "纬度");
    EXPECT_STREQ(defn->GetFieldDefn(3)->GetNameRef(), "海拔");
    EXPECT_EQ(layer->GetFeatureCount(), 3);
    layer->ResetReading();
    int i = 0;
    while (OGRFeature* f = layer->GetNextFeature()) {
      EXPECT_EQ(f->GetFieldAsInteger(0), i + 1);
      if (name == "p.xlsx") {
        EXPECT_EQ(f->GetFieldAsDouble(1), points[i].x);
        EXPECT_EQ(f->GetFieldAsDouble(3), points[i].z);
      } else {
        EXPECT_EQ(std::string(f->GetFieldAsString(2)), FormatDms(points[i].y));
        // The "%.3f" text is a plain number, which the workbook keeps as a number.
        EXPECT_EQ(f->GetFieldAsDouble(3), points[i].z);
      }
      OGRFeature::DestroyFeature(f);
      ++i;
    }
    GDALClose(ds);
  }
}

// Two levels of lines in degrees: 100 m (two lines, one closed) and 150 m.
struct Contours {
  CContourLineSet set;
  std::vector<DemDrawRecord> records;
  std::vector<const DemDrawRecord*> rows;
  std::vector<Argb> pens = {0xFF8C5A28u, 0xFFC80000u};
  Contours() {
    CContourLineList* a = set.Add();
    a->AddLine(100)->points = {{121.1f, 31.1f}, {121.2f, 31.15f}, {121.3f, 31.1f}};
    a->AddLine(100)->points = {{121.5f, 31.5f}, {121.6f, 31.5f}, {121.6f, 31.6f}, {121.5f, 31.5f}};
    set.Add()->AddLine(150)->points = {{121.2f, 31.3f}, {121.25f, 31.35f}};
    for (size_t i = 0; i < set.GetSize(); ++i)
      for (const auto& line : set[i]) records.push_back({{}, static_cast<int>(i), line.get()});
    for (const DemDrawRecord& r : records) rows.push_back(&r);
  }
};

TEST(DemFiles, ContourKmlReadsBackThroughBothGdalKmlDrivers) {
  test::TempDir dir;
  Contours c;
  std::vector<DemLabel> labels = {{121.2, 31.2, 5, 6, 30, "100"}, {121.3, 31.3, 7, 8, 0, "150"}};
  const std::string lines = dir.File("lines.kml"), points = dir.File("points.kml");
  {
    GermanLocale german;
    ASSERT_TRUE(ExportContoursKml(lines, c.rows, c.pens, true, true, labels, 0xFF102030u));
    ASSERT_TRUE(ExportContoursKml(points, c.rows, c.pens, false, false, labels, 0xFF102030u));
  }
  const std::string text = test::ReadTestFile(lines);
  // Ids stay unique within a level; colours in KML's order.
  EXPECT_NE(text.find("<Placemark id=\"line_100.000000_0\">"), std::string::npos);
  EXPECT_NE(text.find("<Placemark id=\"line_100.000000_1\">"), std::string::npos);
  EXPECT_NE(text.find("<color>ff285a8c</color>"), std::string::npos);
  EXPECT_NE(text.find("<styleUrl>#stylemap_line1</styleUrl>"), std::string::npos);
  EXPECT_NE(text.find("121.099998,31.100000,0 121.199997,31.150000,0"), std::string::npos);

  GDALAllRegister();
  for (const char* driver : {"KML", "LIBKML"}) {
    SCOPED_TRACE(driver);
    const char* drivers[] = {driver, nullptr};
    for (const std::string& path : {lines, points}) {
      GDALDataset* ds = static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, drivers, nullptr, nullptr));
      ASSERT_NE(ds, nullptr) << path;
      int line_strings = 0, point_features = 0;
      std::multiset<int> line_sizes;
      for (int l = 0; l < ds->GetLayerCount(); ++l) {
        OGRLayer* layer = ds->GetLayer(l);
        layer->ResetReading();
        while (OGRFeature* f = layer->GetNextFeature()) {
          const OGRGeometry* g = f->GetGeometryRef();
          if (g && wkbFlatten(g->getGeometryType()) == wkbLineString) {
            ++line_strings;
            line_sizes.insert(g->toLineString()->getNumPoints());
          } else if (g && wkbFlatten(g->getGeometryType()) == wkbPoint) {
            ++point_features;
          }
          OGRFeature::DestroyFeature(f);
        }
      }
      if (path == lines) {
        EXPECT_EQ(line_strings, 3);
        EXPECT_EQ(line_sizes, (std::multiset<int>{2, 3, 4}));
        EXPECT_EQ(point_features, 3 + 2);  // one label per line, then the two labels
      } else {
        EXPECT_EQ(line_strings, 0);
        EXPECT_EQ(point_features, 3 + 4 + 2);
      }
      GDALClose(ds);
    }
  }
}

TEST(DemFiles, ContourLabelsBecomeNamedTextShapes) {
  const std::vector<DemLabel> labels = {{121.2, 31.2, 5, 6, 30, "100"}, {121.3, 31.3, 7, 8, 0, "150"}};
  const auto shapes = AddContourLabels(labels, 0xFF102030u);
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_EQ(shapes[1]->Name(), "autocontour_lable_1");
  EXPECT_EQ(shapes[0]->Text(), "100");
  EXPECT_EQ(shapes[0]->rotation, 30);
  EXPECT_TRUE(shapes[0]->bold && shapes[0]->halo);
  EXPECT_EQ(shapes[0]->style.color, 0xFF102030u);
}

constexpr const char* kEzdxfDump = R"PY(
import sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
print("ERRORS", len(auditor.errors))
for e in doc.modelspace():
  if e.dxftype() == "LWPOLYLINE":
    tc = ("%06x" % e.dxf.true_color) if e.dxf.hasattr("true_color") else "-"
    print("LINE", repr(e.dxf.elevation), tc, " ".join("%r,%r" % (p[0], p[1]) for p in e.get_points("xy")))
)PY";

TEST(DemFiles, ContourDxfReadsBackThroughEzdxfAndOgrWithUtmCoordinatesFromProj) {
  if (!test::HaveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  test::TempDir dir;
  Contours c;
  const std::string geo = dir.File("geo.dxf"), utm = dir.File("utm.dxf");
  auto never = [](const std::string&) { return CDxfExport::Answer::kCancel; };
  ASSERT_TRUE(WriteContourDxf(geo, never, c.rows, c.pens, kCoordLonLat));
  ASSERT_TRUE(WriteContourDxf(utm, never, c.rows, c.pens, kCoordUtm));
  // An existing target with "cancel": nothing written.
  std::string error;
  EXPECT_FALSE(WriteContourDxf(geo, never, c.rows, c.pens, kCoordLonLat, &error));

  test::WriteTestFile(dir.File("dump.py"), kEzdxfDump);
  for (const std::string& path : {geo, utm}) {
    const test::CommandResult r = RunCommand(test::SystemPython() + " " + Quote(dir.File("dump.py")) + " " + Quote(path));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("ERRORS 0"), std::string::npos) << r.output;
    std::vector<std::string> lines;
    size_t at = 0;
    while ((at = r.output.find("LINE ", at)) != std::string::npos) {
      lines.push_back(r.output.substr(at, r.output.find('\n', at) - at));
      at += 5;
    }
    ASSERT_EQ(lines.size(), 3u) << r.output;
    EXPECT_EQ(lines[0].substr(0, 18), "LINE 100.0 8c5a28 ");
    EXPECT_EQ(lines[2].substr(0, 18), "LINE 150.0 c80000 ");
    if (path == geo) {
      EXPECT_NE(lines[0].find("121.0999984741211,31.100000381469727"), std::string::npos) << lines[0];
    }
  }

  // The UTM coordinates equal PROJ's (through GDAL's own transformation) for zone 51 north.
  OGRSpatialReference wgs84, zone51;
  wgs84.importFromEPSG(4326);
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  zone51.importFromEPSG(32651);
  zone51.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  OGRCoordinateTransformation* ct = OGRCreateCoordinateTransformation(&wgs84, &zone51);
  ASSERT_NE(ct, nullptr);
  double x = static_cast<double>(121.2f), y = static_cast<double>(31.3f);
  ASSERT_TRUE(ct->Transform(1, &x, &y));
  OCTDestroyCoordinateTransformation(ct);
  const test::CommandResult info = RunCommand("ogrinfo -ro -al " + Quote(utm));
  ASSERT_EQ(info.status, 0) << info.output;
  const size_t line = info.output.find("LINESTRING Z (" + FormatC("%.0f", std::floor(x)));
  ASSERT_NE(line, std::string::npos) << info.output;
  double ox = 0, oy = 0, oz = 0;
  ASSERT_EQ(std::sscanf(info.output.c_str() + line, "LINESTRING Z (%lf %lf %lf", &ox, &oy, &oz), 3);
  EXPECT_NEAR(ox, x, 0.01);
  EXPECT_NEAR(oy, y, 0.01);
  EXPECT_EQ(oz, 150);
}

TEST(DemFiles, ProjectedPointsReplaceTheTargetsPointsAndRanges) {
  CDemGrid target;
  target.polygon = {{1, 2}};
  const std::vector<Point3D> points = {{121.2, 31.3, 5}, {121.4, 31.5, 9}};
  ASSERT_TRUE(ProjectPointsInto(points, kCoordUtm, &target));
  EXPECT_TRUE(target.polygon.empty());
  ASSERT_EQ(target.points.size(), 2u);
  EXPECT_GT(target.points[0].x, 100000);
  EXPECT_EQ(target.points[1].z, 9);
  EXPECT_EQ(target.tracer.z_range.min, 5);
  EXPECT_EQ(target.tracer.x_range.min, target.points[0].x);
  // A point that cannot be converted leaves the target as it was.
  const std::vector<Point3D> bad = {{121.2, 31.3, 5}, {std::nan(""), 31.3, 5}};
  EXPECT_FALSE(ProjectPointsInto(bad, kCoordUtm, &target));
  EXPECT_EQ(target.points.size(), 2u);
}

}  // namespace
}  // namespace velmora
