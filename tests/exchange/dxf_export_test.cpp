// DXF output: new drawings and drawings added to, read back by our reader, by ezdxf (with its
// auditor and a check of every handle) and by GDAL's ogrinfo; polylines with levels and
// colours, texts in Chinese; the merge of another drawing clipped to a rectangle; a drawing that
// cannot be read is never written; damaged and hostile input fails cleanly.
#include "exchange/dxf_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/exchange_test_util.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::Quote;
using test::RunCommand;
using Answer = CDxfExport::Answer;

// Reads a drawing with ezdxf and prints what it holds, one line per model-space entity, after
// the auditor's verdict and a check of the handles (unique, below the handle seed).
constexpr const char* kEzdxfDump = R"PY(
import sys, ezdxf
from ezdxf.lldxf.tagger import ascii_tags_loader
for path in sys.argv[1:]:
  print("FILE", path)
  doc = ezdxf.readfile(path)
  auditor = doc.audit()
  print("VERSION", doc.dxfversion)
  print("ERRORS", len(auditor.errors))
  for e in auditor.errors: print("ERROR", e.message)
  handles = []
  section, after_section = None, False
  with open(path, encoding=doc.encoding, errors="replace") as f:
      for tag in ascii_tags_loader(f):
          if after_section: section, after_section = tag.value, False
          elif tag.code == 0 and tag.value == "SECTION": after_section = True
          elif tag.code in (5, 105) and section != "HEADER" and tag.value: handles.append(int(tag.value, 16))
  seed = int(doc.header.get("$HANDSEED", "0"), 16)
  print("HANDLES", "unique" if len(handles) == len(set(handles)) else "DUPLICATE", "below-seed" if max(handles or [0]) < seed else "ABOVE-SEED")
  def colour(e):
      return "%d/%s" % (e.dxf.color, ("%06x" % e.dxf.true_color) if e.dxf.hasattr("true_color") else "-")
  for e in doc.modelspace():
      t = e.dxftype()
      if t == "LWPOLYLINE":
          pts = " ".join("%r,%r" % (p[0], p[1]) for p in e.get_points("xy"))
          print("LWPOLYLINE", e.dxf.layer, repr(e.dxf.elevation), colour(e), int(e.closed), pts)
      elif t == "POLYLINE":
          pts = " ".join("%r,%r,%r" % tuple(v.dxf.location) for v in e.vertices)
          print("POLYLINE", e.dxf.layer, "3d" if e.is_3d_polyline else "2d", colour(e), int(e.is_closed), pts)
      elif t == "TEXT":
          print("TEXT", e.dxf.layer, colour(e), repr(e.dxf.insert[0]), repr(e.dxf.insert[1]), repr(e.dxf.height), e.dxf.text)
      else:
          print(t)
)PY";

// Writes drawings with ezdxf: for each (path, release) the same few lines of Python fill `doc`
// and `msp`.
constexpr const char* kEzdxfMake = R"PY(
import sys, ezdxf
code = open(sys.argv[1]).read()
for path, version in zip(sys.argv[2::2], sys.argv[3::2]):
  doc = ezdxf.new(version)
  if doc.dxfversion < "AC1021": doc.encoding = "gbk"
  msp = doc.modelspace()
  exec(code)
  doc.saveas(path)
)PY";

class DxfExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveEzdxf()) GTEST_SKIP() << "python3-ezdxf is not installed";
    test::WriteTestFile(dir_.File("dump.py"), kEzdxfDump);
    test::WriteTestFile(dir_.File("make.py"), kEzdxfMake);
  }
  // ezdxf's view of each file, one line per entity; the test fails when ezdxf finds errors.
  std::vector<std::vector<std::string>> Ezdxf(const std::vector<std::string>& paths) {
    std::string command = test::SystemPython() + " " + Quote(dir_.File("dump.py"));
    for (const std::string& p : paths) command.append(" ").append(Quote(p));
    test::CommandResult r = RunCommand(command);
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<std::vector<std::string>> files;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("FILE ", 0) == 0) files.emplace_back();
      else if (!files.empty()) files.back().push_back(line);
    }
    EXPECT_EQ(files.size(), paths.size()) << r.output;
    files.resize(paths.size());
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(Matching(files[i], "ERRORS"), std::vector<std::string>{"ERRORS 0"}) << paths[i] << "\n" << r.output;
      EXPECT_EQ(Matching(files[i], "HANDLES"), std::vector<std::string>{"HANDLES unique below-seed"}) << paths[i];
    }
    return files;
  }
  std::vector<std::string> Ezdxf(const std::string& path) { return Ezdxf(std::vector<std::string>{path})[0]; }
  // Drawings of the given releases at the given paths, filled by the same Python lines.
  void MakeWithEzdxf(const std::vector<std::pair<std::string, std::string>>& files, const std::string& code) {
    test::WriteTestFile(dir_.File("content.py"), code);
    std::string command = test::SystemPython() + " " + Quote(dir_.File("make.py")) + " " + Quote(dir_.File("content.py"));
    for (const auto& [path, version] : files) command.append(" ").append(Quote(path)).append(" ").append(version);
    test::CommandResult r = RunCommand(command);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  static std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  static Answer Add(const std::string&) { return Answer::kAdd; }
  test::TempDir dir_;
};

TEST_F(DxfExportTest, NewDrawingWithLevelsColoursAndChineseTextOpensInEveryReader) {
  const std::string path = dir_.File("contour.dxf");
  CDxfExport dxf;
  ASSERT_TRUE(dxf.OpenTarget(path, nullptr));  // no question for a new file
  EXPECT_FALSE(dxf.IsAdding());
  const std::vector<DxfPoint> line = {{120.125, 36.5}, {120.25, 36.375}, {120.5, 36.0000001}};
  dxf.AddPolyline(100, line, 0xFFFF0000u);
  dxf.SetLayer("等高线 <计曲线>", 0xFF00FF00u);
  const float ring[] = {0.5f, 0.5f, 2.5f, 0.5f, 2.5f, 3.25f, 0.5f, 3.25f};
  dxf.AddPolyline(-20.5, ring, 4, 0xFF3C8D2Fu, true);
  dxf.AddText(120.2, 36.4, 0.01, "等高线 100m & <A>", 0xFF123456u, 30);
  ASSERT_TRUE(dxf.SaveFile()) << dxf.LastError();

  // Our reader.
  DxfDrawing back;
  std::string error;
  ASSERT_TRUE(ReadDxfFile(path, &back, &error)) << error;
  EXPECT_EQ(back.version, "AC1018");
  EXPECT_EQ(back.codepage, "ANSI_936");
  ASSERT_EQ(back.polylines.size(), 2u);
  EXPECT_EQ(back.polylines[0].elevation, 100);
  EXPECT_EQ(back.polylines[0].aci, 1);
  EXPECT_EQ(back.polylines[0].true_color, 0xFF0000u);
  ASSERT_EQ(back.polylines[0].points.size(), 3u);
  EXPECT_EQ(back.polylines[0].points[2].y, 36.0000001);  // numbers read back to the last bit
  EXPECT_EQ(back.polylines[1].layer, "等高线 _计曲线_");
  EXPECT_TRUE(back.polylines[1].closed);
  EXPECT_EQ(back.polylines[1].elevation, -20.5);
  EXPECT_EQ(back.polylines[1].true_color, 0x3C8D2Fu);
  ASSERT_EQ(back.texts.size(), 1u);
  EXPECT_EQ(back.texts[0].text, "等高线 100m & <A>");
  EXPECT_EQ(back.texts[0].rotation, 30);

  // ezdxf: no audit errors, unique handles, the same values.
  std::vector<std::string> ez = Ezdxf(path);
  EXPECT_EQ(Matching(ez, "VERSION"), std::vector<std::string>{"VERSION AC1018"});
  std::vector<std::string> polylines = Matching(ez, "LWPOLYLINE");
  ASSERT_EQ(polylines.size(), 2u);
  EXPECT_EQ(polylines[0], "LWPOLYLINE 0 100.0 1/ff0000 0 120.125,36.5 120.25,36.375 120.5,36.0000001");
  EXPECT_EQ(polylines[1], "LWPOLYLINE 等高线 _计曲线_ -20.5 " + std::to_string(NearestAci(0x3C8D2F)) +
                              "/3c8d2f 1 0.5,0.5 2.5,0.5 2.5,3.25 0.5,3.25");
  std::vector<std::string> texts = Matching(ez, "TEXT");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("120.2 36.4 0.01"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("等高线 100m & <A>"), std::string::npos) << texts[0];

  // GDAL: the level as z, the text, no error.
  test::CommandResult info = RunCommand("ogrinfo -ro -al " + Quote(path));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("ERROR"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Feature Count: 3"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("LINESTRING Z (120.125 36.5 100,"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("-20.5"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Text (String) = 等高线 100m & <A>"), std::string::npos) << info.output;
}

TEST_F(DxfExportTest, AddingKeepsEveryByteOfTheDrawingAndItsHandles) {
  const std::vector<std::string> versions = {"R2000", "R2010", "R12"};
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> paths;
  for (const std::string& v : versions) {
    paths.push_back(dir_.File("drawing-" + v + ".dxf"));
    files.emplace_back(paths.back(), v);
  }
  MakeWithEzdxf(files,
                "doc.layers.add('河流', color=5)\n"
                "msp.add_circle((10, 10), 3, dxfattribs={'layer': '河流'})\n"
                "msp.add_lwpolyline([(0, 0), (5, 5)]) if doc.dxfversion > 'AC1009' else msp.add_polyline2d([(0, 0), (5, 5)])\n"
                "msp.add_text('原有', dxfattribs={'insert': (1, 2), 'height': 1})\n"
                "msp.add_point((3, 4))\n");
  std::vector<std::string> before;
  for (const std::string& p : paths) before.push_back(test::ReadTestFile(p));
  std::vector<std::vector<std::string>> original = Ezdxf(paths);

  for (const std::string& path : paths) {
    CDxfExport dxf;
    std::vector<std::string> asked;
    ASSERT_TRUE(dxf.OpenTarget(path, [&](const std::string& q) { return asked.push_back(q), Answer::kAdd; }));
    EXPECT_EQ(asked, std::vector<std::string>{"指定DXF文件已存在，是：添加，否：覆盖"});
    EXPECT_TRUE(dxf.IsAdding());
    dxf.SetLayer("CONTOUR", 0xFFFF00FFu);
    const std::vector<DxfPoint> line = {{1, 1}, {2, 3}, {4, 1}};
    dxf.AddPolyline(250, line, 0xFF0000FFu);
    dxf.AddText(2, 2, 0.5, "新增 250", 0xFF00FF00u);
    ASSERT_TRUE(dxf.SaveFile()) << dxf.LastError();
  }
  std::vector<std::vector<std::string>> added = Ezdxf(paths);

  auto entities = [](const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
      if (l.rfind("LWPOLYLINE", 0) == 0 || l.rfind("POLYLINE", 0) == 0 || l.rfind("TEXT", 0) == 0 || l == "CIRCLE" ||
          l == "POINT")
        out.push_back(l);
    return out;
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(versions[i]);
    // Every entity that was there is still there, in order, followed by ours.
    std::vector<std::string> old_entities = entities(original[i]), new_entities = entities(added[i]);
    ASSERT_EQ(new_entities.size(), old_entities.size() + 2);
    EXPECT_TRUE(std::equal(old_entities.begin(), old_entities.end(), new_entities.begin()));
    const bool r12 = versions[i] == "R12";
    EXPECT_EQ(new_entities[new_entities.size() - 2],
              r12 ? "POLYLINE CONTOUR 2d 5/- 0 1.0,1.0,250.0 2.0,3.0,250.0 4.0,1.0,250.0"
                  : std::string("LWPOLYLINE CONTOUR 250.0 5/") + (versions[i] == "R2000" ? "-" : "0000ff") +
                        " 0 1.0,1.0 2.0,3.0 4.0,1.0");
    EXPECT_NE(new_entities.back().find("新增 250"), std::string::npos) << new_entities.back();
    // The layer was added with its colour; the bytes after the end of the entities are the
    // file's own, and so is the start of the file.
    DxfDrawing back;
    ASSERT_TRUE(ReadDxfFile(paths[i], &back));
    bool found = false;
    for (const DxfLayer& l : back.layers) found = found || (l.name == "CONTOUR" && l.aci == 6);
    EXPECT_TRUE(found);
    const std::string after = test::ReadTestFile(paths[i]);
    const size_t objects = before[i].find("OBJECTS");
    const size_t tail = before[i].size() - before[i].rfind("ENDSEC", objects);
    EXPECT_EQ(after.substr(after.size() - tail), before[i].substr(before[i].size() - tail));
    EXPECT_EQ(after.substr(0, 40), before[i].substr(0, 40));
  }
}

TEST_F(DxfExportTest, AFileThatCannotBeReadIsNeverWrittenByAdd) {
  const std::string path = dir_.File("damaged.dxf");
  const std::string damaged = "  0\nSECTION\n  2\nENTITIES\n  0\nLINE\n 10\n1.0\n 20\nnot a number\n  0\nENDSEC\n  0\nEOF\n";
  for (const std::string& bytes : {damaged, std::string("AutoCAD Binary DXF\r\n\x1a\0rest", 26),
                                   std::string("hello, not a drawing\n"), std::string()}) {
    test::WriteTestFile(path, bytes);
    CDxfExport dxf;
    EXPECT_FALSE(dxf.OpenTarget(path, &DxfExportTest::Add));
    EXPECT_FALSE(dxf.LastError().empty());
    dxf.AddPolyline(1, std::vector<DxfPoint>{{0, 0}, {1, 1}}, 0xFF000000u);
    EXPECT_FALSE(dxf.SaveFile());
    EXPECT_EQ(test::ReadTestFile(path), bytes);
  }
  // Cancel leaves it alone too; overwrite replaces it with a new drawing.
  CDxfExport cancelled;
  EXPECT_FALSE(cancelled.OpenTarget(path, [](const std::string&) { return Answer::kCancel; }));
  CDxfExport overwrite;
  ASSERT_TRUE(overwrite.OpenTarget(path, [](const std::string&) { return Answer::kOverwrite; }));
  overwrite.AddPolyline(7, std::vector<DxfPoint>{{0, 0}, {1, 1}}, 0xFF000000u);
  ASSERT_TRUE(overwrite.SaveFile());
  EXPECT_EQ(Matching(Ezdxf(path), "LWPOLYLINE").size(), 1u);
}

TEST_F(DxfExportTest, ContoursOfAnotherDrawingAreMergedClippedToTheRange) {
  // A labelled contour drawing as a contouring program writes it: 2D polylines at their level,
  // a 3D one, texts inside and outside the range, a layer with its own colour.
  const std::string source = dir_.File("out_all.dxf");
  MakeWithEzdxf({{source, "R12"}},
                "doc.layers.add('Contours', color=3)\n"
                "p = msp.add_polyline2d([(-5, 5), (5, 5), (15, 5)], dxfattribs={'layer': 'Contours'})\n"
                "p.dxf.elevation = (0, 0, 120)\n"
                "msp.add_polyline2d([(2, 2), (8, 2), (8, 8), (2, 8)], close=True, dxfattribs={'layer': 'Contours', 'color': 1})\n"
                "msp.add_polyline3d([(0, 0, 1), (20, 10, 3)])\n"
                "msp.add_text('120', dxfattribs={'insert': (5, 5), 'height': 0.5, 'layer': 'Labels'})\n"
                "msp.add_text('130', dxfattribs={'insert': (50, 5), 'height': 0.5, 'layer': 'Labels'})\n");
  const std::string path = dir_.File("merged.dxf");
  CDxfExport dxf;
  ASSERT_TRUE(dxf.OpenTarget(path, nullptr));
  size_t merged = 0;
  ASSERT_TRUE(dxf.AddContours(source, 0, 10, 0, 10, &merged)) << dxf.LastError();
  EXPECT_EQ(merged, 4u);  // the cut line, the ring, the 3D line's part, one text
  ASSERT_TRUE(dxf.SaveFile());

  std::vector<std::string> ez = Ezdxf(path);
  std::vector<std::string> lw = Matching(ez, "LWPOLYLINE");
  ASSERT_EQ(lw.size(), 2u);
  EXPECT_EQ(lw[0], "LWPOLYLINE Contours 120.0 256/- 0 0.0,5.0 5.0,5.0 10.0,5.0");
  EXPECT_EQ(lw[1], "LWPOLYLINE Contours 0 1/- 1 2.0,2.0 8.0,2.0 8.0,8.0 2.0,8.0");
  std::vector<std::string> p3 = Matching(ez, "POLYLINE");
  ASSERT_EQ(p3.size(), 1u);
  EXPECT_EQ(p3[0], "POLYLINE 0 3d 256/- 0 0.0,0.0,1.0 10.0,5.0,2.0");
  std::vector<std::string> texts = Matching(ez, "TEXT");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("TEXT Labels 256/- 5.0 5.0 0.5 120"), std::string::npos) << texts[0];
  // The source's layer colour came along.
  DxfDrawing back;
  ASSERT_TRUE(ReadDxfFile(path, &back));
  std::map<std::string, int> layers;
  for (const DxfLayer& l : back.layers) layers[l.name] = l.aci;
  EXPECT_EQ(layers["Contours"], 3);

  // An unreadable source merges nothing.
  test::WriteTestFile(dir_.File("bad.dxf"), "  0\nSECTION\n  2\nENTITIES\n  0\nTEXT\n 10\n");
  CDxfExport other;
  ASSERT_TRUE(other.OpenTarget(dir_.File("other.dxf"), nullptr));
  EXPECT_FALSE(other.AddContours(dir_.File("bad.dxf"), 0, 1, 0, 1, &merged));
  EXPECT_EQ(merged, 0u);
  EXPECT_TRUE(other.Content().polylines.empty());
}

TEST(DxfClipTest, ClosedRingsJoinAcrossTheirStartAndOpenLinesSplit) {
  DxfPolyline ring;
  ring.closed = true;
  // A square whose first vertex lies inside; its right side sticks out of the rectangle.
  ring.points = {{1, 1, 0}, {1, 3, 0}, {5, 3, 0}, {5, 1, 0}};
  std::vector<DxfPolyline> parts = ClipPolyline(ring, 0, 4, 0, 4);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_FALSE(parts[0].closed);
  ASSERT_EQ(parts[0].points.size(), 4u);
  EXPECT_EQ(parts[0].points.front().x, 4);
  EXPECT_EQ(parts[0].points.front().y, 1);
  EXPECT_EQ(parts[0].points.back().x, 4);
  EXPECT_EQ(parts[0].points.back().y, 3);
  // A line that leaves and comes back is two parts.
  DxfPolyline zigzag;
  zigzag.points = {{1, 1, 0}, {6, 2, 0}, {1, 3, 0}};
  EXPECT_EQ(ClipPolyline(zigzag, 0, 4, 0, 4).size(), 2u);
  // Outside entirely: nothing.
  DxfPolyline away;
  away.points = {{10, 10, 0}, {11, 12, 0}};
  EXPECT_TRUE(ClipPolyline(away, 0, 4, 0, 4).empty());
}

TEST(DxfReaderTest, DamagedAndHostileInputFailsWithTheLine) {
  DxfDrawing d;
  std::string error;
  // A section that never ends, a group code that is not a number, a value cut off.
  EXPECT_FALSE(ReadDxf("  0\nSECTION\n  2\nENTITIES\n  0\nLINE\n", &d, &error));
  EXPECT_FALSE(ReadDxf("  0\nSECTION\n  2\nHEADER\nabc\n1\n  0\nENDSEC\n", &d, &error));
  EXPECT_NE(error.find("line 5"), std::string::npos) << error;
  EXPECT_FALSE(ReadDxf("  0\nSECTION\n  2\n", &d, &error));
  EXPECT_FALSE(ReadDxf("  0\nSECTION\n  2\nENTITIES\n  0\nSECTION\n  2\nENTITIES\n  0\nENDSEC\n", &d, &error));
  // A line longer than the limit.
  DxfReadLimits limits;
  limits.max_line_bytes = 64;
  EXPECT_FALSE(ReadDxf("  0\nSECTION\n  2\nENTITIES\n  0\nTEXT\n  1\n" + std::string(100, 'x') + "\n  0\nENDSEC\n", &d,
                       &error, limits));
  // A vertex count written in the file is not believed: a polyline of two points with a count of
  // two billion reads as two points.
  ASSERT_TRUE(ReadDxf("  0\nSECTION\n  2\nENTITIES\n  0\nLWPOLYLINE\n 90\n2000000000\n 10\n1\n 20\n2\n 10\n3\n 20\n4\n"
                      "  0\nENDSEC\n  0\nEOF\n",
                      &d, &error))
      << error;
  ASSERT_EQ(d.polylines.size(), 1u);
  EXPECT_EQ(d.polylines[0].points.size(), 2u);
  // Too many vertices in all.
  limits = {};
  limits.max_points = 3;
  EXPECT_FALSE(ReadDxf("  0\nSECTION\n  2\nENTITIES\n  0\nLWPOLYLINE\n 10\n1\n 20\n2\n 10\n3\n 20\n4\n  0\nLINE\n"
                       "  0\nENDSEC\n",
                       &d, &error, limits));
  // GBK texts of an older drawing with a Chinese code page, and escapes.
  ASSERT_TRUE(ReadDxf("  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  9\n$DWGCODEPAGE\n  3\nANSI_936\n  0\nENDSEC\n"
                      "  0\nSECTION\n  2\nENTITIES\n  0\nTEXT\n 10\n0\n 20\n0\n 40\n1\n  1\n\xB5\xC8\xB8\xDF\\U+7EBF\n  0\nENDSEC\n"
                      "  0\nEOF\n",
                      &d, &error))
      << error;
  ASSERT_EQ(d.texts.size(), 1u);
  EXPECT_EQ(d.texts[0].text, "等高线");
}

}  // namespace
}  // namespace velmora
