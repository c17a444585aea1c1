// KML files: hostile names (markup, quotes, ampersands, control characters, broken UTF-8,
// Chinese) come back unchanged through GDAL's KML readers and ogrinfo; each handle is closed
// once; a file is replaced only when its document is complete; files that cannot be created are
// refused at open.
#include "exchange/kml_file.h"

#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <string>

#include "exchange/exchange_test_util.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

// Every feature name of every layer the driver reads from the file, in order.
std::vector<std::string> NamesThroughOgr(const std::string& path, const char* driver) {
  GDALAllRegister();
  const char* drivers[] = {driver, nullptr};
  GDALDataset* ds = static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, drivers, nullptr, nullptr));
  EXPECT_NE(ds, nullptr) << driver;
  std::vector<std::string> names;
  if (!ds) return names;
  for (OGRLayer* layer : ds->GetLayers()) {
    for (auto& feature : *layer) names.push_back(feature->GetFieldAsString("Name"));
  }
  GDALClose(ds);
  return names;
}

TEST(KmlFileTest, HostileNamesSurviveEveryReader) {
  test::TempDir dir;
  const std::string path = dir.File("region_bound.kml");
  const std::string hostile = "A<B & \"C\" 'D' ></Document>]]>\x01\x1f\xff等高线 100m";
  const std::string cleaned = "A<B & \"C\" 'D' ></Document>]]>\xEF\xBF\xBD等高线 100m";
  FILE* f = OpenKmlFile(path, "Doc <&> 名称");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "<Placemark><name>%s</name><Point><coordinates>120.5,36.25,0</coordinates></Point></Placemark>\n",
               KmlEscape(hostile).c_str());
  std::fprintf(f, "<Placemark><name>%s</name><LineString><coordinates>120,36,0 121,37,0</coordinates></LineString>"
               "</Placemark>\n", KmlEscape("R&D \"line\"").c_str());
  // Nothing reaches the disk before the document is complete.
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_TRUE(CloseKmlFile(f));

  const std::string text = test::ReadTestFile(path);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
  EXPECT_NE(text.find("<name>Doc &lt;&amp;&gt; 名称</name>"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 18), "</Document></kml>\n");

  for (const char* driver : {"KML", "LIBKML"}) {
    std::vector<std::string> names = NamesThroughOgr(path, driver);
    ASSERT_EQ(names.size(), 2u) << driver;
    EXPECT_EQ(names[0], cleaned) << driver;
    EXPECT_EQ(names[1], "R&D \"line\"") << driver;
  }
  // The command-line reader people use agrees, without a parse error.
  test::CommandResult info = test::RunCommand("ogrinfo -ro -al " + test::Quote(path));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("ERROR"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("等高线 100m"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("POINT Z (120.5 36.25 0)"), std::string::npos) << info.output;
}

TEST(KmlFileTest, EachHandleIsClosedOnceAndTheOldFileStaysUntilTheEnd) {
  test::TempDir dir;
  const std::string path = dir.File("c.kml");
  test::WriteTestFile(path, "old contents");
  FILE* f = OpenKmlFile(path);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(test::ReadTestFile(path), "old contents");
  ASSERT_TRUE(CloseKmlFile(f));
  EXPECT_NE(test::ReadTestFile(path).find("<name>c</name>"), std::string::npos);  // named after the file
  // The second close of the same handle, and a handle that is not a KML file, are refused.
  EXPECT_FALSE(CloseKmlFile(f));
  EXPECT_FALSE(CloseKmlFile(nullptr));
  FILE* other = std::tmpfile();
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(CloseKmlFile(other));
  EXPECT_EQ(std::fputs("still open", other), 1);  // untouched by the refused close
  std::fclose(other);

  // A document whose file cannot be written at the end is reported, the folder left in place.
  const std::string blocked = dir.File("blocked.kml");
  FILE* g = OpenKmlFile(blocked);
  ASSERT_NE(g, nullptr);
  std::filesystem::create_directory(blocked);
  std::string error;
  EXPECT_FALSE(CloseKmlFile(g, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(blocked));
  EXPECT_FALSE(CloseKmlFile(g));
}

TEST(KmlFileTest, FilesThatCannotBeCreatedAreRefusedAtOpen) {
  test::TempDir dir;
  std::string error;
  EXPECT_EQ(OpenKmlFile(dir.File("missing/folder/s.kml"), {}, &error), nullptr);
  EXPECT_NE(error.find("folder"), std::string::npos);
  EXPECT_EQ(OpenKmlFile(dir.path(), {}, &error), nullptr);
  EXPECT_EQ(OpenKmlFile("", {}, &error), nullptr);
}

TEST(KmlFileTest, ColoursAndEscapes) {
  EXPECT_EQ(KmlColor(0xFF112233u), "ff332211");
  EXPECT_EQ(KmlColor(0x80FF0000u), "800000ff");
  EXPECT_EQ(KmlEscape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
  // Overlong forms, surrogates and cut sequences are not passed on.
  EXPECT_EQ(KmlEscape("\xC0\xAF|\xED\xA0\x80|\xE7\xAD"), "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(KmlEscape("tab\tline\nkeep\x7f"), "tab\tline\nkeep\x7f");
}

}  // namespace
}  // namespace velmora
